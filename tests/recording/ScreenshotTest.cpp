#include <gtest/gtest.h>

#include "RecordingTestSupport.h"
#include "recording/Screenshot.h"

namespace vexil {
namespace {

using test::Bytes;

// An 800 x 600 frame whose every second pixel of every second row (the ones the capture
// takes) comes from `colour`, and whose other pixels are a colour the capture must not see.
std::vector<uint16_t> Frame(uint16_t (*colour)(int x, int y)) {
    std::vector<uint16_t> frame(800 * 600, 0x1234);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x) frame[(2 * y) * 800 + 2 * x] = colour(x, y);
    return frame;
}

// The R5G6B5 pixel whose top four bits per component are those of 0x0RGB.
uint16_t Pixel(int rgb) {
    return static_cast<uint16_t>((rgb >> 8) << 12 | ((rgb >> 4) & 15) << 7 | (rgb & 15) << 1);
}

class ScreenshotTest : public test::RecordingTest {};

// Black is index 0 even where the picture has none; the others follow in the order the
// pixels bring them, with each component c as c * 17.
TEST_F(ScreenshotTest, CountsColoursWithBlackFirst) {
    Screenshot shot;
    shot.Capture(Frame([](int x, int) { return x < 200 ? Pixel(0xF80) : uint16_t(0xFFFF); }).data(), 800);
    EXPECT_EQ(shot.ColourCount(), 3);
    EXPECT_EQ(shot.Indices()[0], 1);
    EXPECT_EQ(shot.Indices()[399], 2);
    EXPECT_EQ(shot.Colours()[399], 0xFFF);
    const uint8_t palette[9] = {0, 0, 0, 255, 136, 0, 255, 255, 255};
    EXPECT_TRUE(std::equal(palette, palette + 9, shot.Palette()));
    EXPECT_EQ(shot.PreviewPixels()[399], 0xFFFF);
}

struct FormatCase {
    const char* name;
    int colours;  // distinct colours in the picture, black among them
    bool gif;     // chosen
    const char* extension;
    uint8_t imageType;  // 0 for GIF
};

class ScreenshotFormatTest : public test::RecordingTest, public ::testing::WithParamInterface<FormatCase> {};

// Up to 256 colours the choice holds; from 257 on it is always a 16-bit TGA.
TEST_P(ScreenshotFormatTest, SavesTheFormatTheColoursAllow) {
    static int colours;
    colours = GetParam().colours;
    Screenshot shot;
    shot.Capture(Frame([](int x, int y) { return Pixel((y * 400 + x) % colours); }).data(), 800);
    ASSERT_EQ(shot.ColourCount(), colours);
    std::string path, error;
    ASSERT_TRUE(shot.Save(dir_.string(), GetParam().gif, &path, &error)) << error;
    EXPECT_EQ(path, Path(std::string("Vexil_000.") + GetParam().extension));
    const Bytes file = test::ReadAll(path);
    ASSERT_GT(file.size(), 18u);
    if (GetParam().imageType == 0)
        EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF87a");
    else
        EXPECT_EQ(file[2], GetParam().imageType);
    EXPECT_EQ(file, shot.Encode(GetParam().gif));
}

INSTANTIATE_TEST_SUITE_P(Colours, ScreenshotFormatTest,
                         ::testing::Values(FormatCase{"GifOf256", 256, true, "gif", 0},
                                           FormatCase{"TgaOf256", 256, false, "tga", 9},
                                           FormatCase{"GifChosenOf257", 257, true, "tga", 2},
                                           FormatCase{"TgaOf257", 257, false, "tga", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// Each save takes the next number; the same capture gives the same file.
TEST_F(ScreenshotTest, SavesUnderNewNumbers) {
    Screenshot shot;
    std::string first, second, error;
    ASSERT_TRUE(shot.Save(dir_.string(), false, &first, &error));
    ASSERT_TRUE(shot.Save(dir_.string(), false, &second, &error));
    EXPECT_EQ(second, Path("Vexil_001.tga"));
    EXPECT_EQ(test::ReadAll(first), test::ReadAll(second));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Vexil_000.tga", "Vexil_001.tga"}));
}

}  // namespace
}  // namespace vexil

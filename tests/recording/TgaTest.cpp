#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "recording/Tga.h"

namespace vexil {
namespace {

TEST(TgaTest, HeaderDescribesAnUncompressedBottomUpPicture) {
    std::vector<uint16_t> pixels(800 * 600, 0);
    const std::vector<uint8_t> file = EncodeTga(pixels.data(), 800, 600, 800);
    ASSERT_EQ(file.size(), 18u + 800 * 600 * 3);
    const uint8_t header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0x03, 0x58, 0x02, 24, 0};
    EXPECT_TRUE(std::equal(header, header + 18, file.begin()));
}

// The first pixel in the file is the bottom-left one, blue first; the channels scale to 8 bits
// (16 of 31 is 131.6, 32 of 63 is 129.5, rounded down) with white at 255.
TEST(TgaTest, RowsRunBottomUpAndPixelsBlueGreenRed) {
    const uint16_t pixels[2 * 3] = {0xF800, 0x07E0, 0x001F,   // top row: red, green, blue
                                    0xFFFF, 0x0000, 0x8410};  // bottom row: white, black, grey
    const std::vector<uint8_t> file = EncodeTga(pixels, 3, 2, 3);
    const std::vector<uint8_t> data(file.begin() + 18, file.end());
    EXPECT_EQ(data, (std::vector<uint8_t>{255, 255, 255, 0, 0, 0, 131, 129, 131,  // bottom row
                                          0, 0, 255, 0, 255, 0, 255, 0, 0}));
}

TEST(TgaTest, PitchSkipsPixelsBeyondTheWidth) {
    const uint16_t pixels[2 * 4] = {0xFFFF, 1, 1, 1, 0, 1, 1, 1};
    const std::vector<uint8_t> file = EncodeTga(pixels, 1, 2, 4);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 18, file.end()),
              (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
}

TEST(TgaTest, WritesTheFileAndReportsAPathItCannotWrite) {
    const std::string path = (std::filesystem::temp_directory_path() / "vexil_tga_test.tga").string();
    const uint16_t pixels[4] = {0xFFFF, 0, 0, 0xFFFF};
    std::string error;
    ASSERT_TRUE(WriteTga(path, pixels, 2, 2, 2, &error)) << error;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, EncodeTga(pixels, 2, 2, 2));
    std::remove(path.c_str());
    EXPECT_FALSE(WriteTga("/nonexistent-folder/shot.tga", pixels, 2, 2, 2, &error));
    EXPECT_NE(error.find("/nonexistent-folder/shot.tga"), std::string::npos);
}

}  // namespace
}  // namespace vexil

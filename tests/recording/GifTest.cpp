#include <gtest/gtest.h>

#include <random>

#include "RecordingTestSupport.h"
#include "recording/Gif.h"

namespace vexil {
namespace {

using test::Bytes;

struct Picture {
    int width = 0, height = 0;
    Bytes palette;  // red, green, blue per entry of the global table
    Bytes pixels;
};

// A GIF decoder as the format's description gives it: the blocks, then LZW with codes of
// growing width read least significant bit first. Fails on anything it does not expect.
::testing::AssertionResult Decode(const Bytes& f, Picture* out) {
    const auto le16 = [&](size_t at) { return f[at] | f[at + 1] << 8; };
    if (f.size() < 13 || std::string(f.begin(), f.begin() + 6) != "GIF87a")
        return ::testing::AssertionFailure() << "no GIF87a header";
    out->width = le16(6), out->height = le16(8);
    if (!(f[10] & 0x80)) return ::testing::AssertionFailure() << "no global colour table";
    const size_t entries = size_t{2} << (f[10] & 7);
    size_t p = 13 + 3 * entries;
    out->palette.assign(f.begin() + 13, f.begin() + p);
    if (f[p] != 0x2C || le16(p + 5) != out->width || le16(p + 7) != out->height || f[p + 9] != 0)
        return ::testing::AssertionFailure() << "unexpected image descriptor";
    p += 10;
    const int minimum = f[p++];
    Bytes data;
    while (p < f.size() && f[p] != 0) {
        data.insert(data.end(), f.begin() + p + 1, f.begin() + p + 1 + f[p]);
        p += 1 + f[p];
    }
    if (p + 2 != f.size() || f[p + 1] != 0x3B) return ::testing::AssertionFailure() << "no trailer";

    const uint32_t clear = 1u << minimum, end = clear + 1;
    std::vector<Bytes> table;
    int width = minimum + 1;
    const auto reset = [&] {
        table.assign(end + 1, {});
        for (uint32_t i = 0; i < clear; ++i) table[i] = {static_cast<uint8_t>(i)};
        width = minimum + 1;
    };
    reset();
    size_t bit = 0;
    int previous = -1;
    for (;;) {
        if (bit + width > 8 * data.size()) return ::testing::AssertionFailure() << "no end code";
        uint32_t code = 0;
        for (int i = 0; i < width; ++i, ++bit) code |= ((data[bit / 8] >> (bit % 8)) & 1u) << i;
        if (code == clear) {
            reset();
            previous = -1;
            continue;
        }
        if (code == end) break;
        Bytes entry;
        if (code < table.size())
            entry = table[code];
        else if (code == table.size() && previous >= 0)
            entry = table[previous], entry.push_back(table[previous][0]);
        else
            return ::testing::AssertionFailure() << "code " << code << " not in the table";
        out->pixels.insert(out->pixels.end(), entry.begin(), entry.end());
        if (previous >= 0 && table.size() < 4096) {
            Bytes added = table[previous];
            added.push_back(entry[0]);
            table.push_back(added);
        }
        previous = static_cast<int>(code);
        if (table.size() == (1u << width) && width < 12) ++width;
    }
    return ::testing::AssertionSuccess();
}

struct Pattern {
    const char* name;
    int width, height;
    int (*pixel)(int x, int y, std::mt19937& random);
};

class GifTest : public ::testing::TestWithParam<Pattern> {};

// Every picture comes back pixel for pixel: long runs (strings up to the table's end), noise
// over all 256 indices (the table fills and is cleared many times), and shapes in between.
TEST_P(GifTest, DecodesToTheSamePixels) {
    const Pattern& pattern = GetParam();
    std::mt19937 random(7);
    Bytes indices;
    for (int y = 0; y < pattern.height; ++y)
        for (int x = 0; x < pattern.width; ++x)
            indices.push_back(static_cast<uint8_t>(pattern.pixel(x, y, random)));
    Bytes palette(3 * 256);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i * 7);
    const Bytes file = EncodeGif(indices.data(), pattern.width, pattern.height, palette.data(), 200);
    Picture picture;
    ASSERT_TRUE(Decode(file, &picture));
    EXPECT_EQ(picture.width, pattern.width);
    EXPECT_EQ(picture.height, pattern.height);
    EXPECT_EQ(picture.pixels, indices);
    EXPECT_TRUE(std::equal(picture.palette.begin(), picture.palette.begin() + 600, palette.begin()));
    EXPECT_TRUE(
        std::all_of(picture.palette.begin() + 600, picture.palette.end(), [](uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, GifTest,
    ::testing::Values(
        Pattern{"OneColour", 400, 300, [](int, int, std::mt19937&) { return 5; }},
        Pattern{"OnePixel", 1, 1, [](int, int, std::mt19937&) { return 255; }},
        Pattern{"Noise", 400, 300, [](int, int, std::mt19937& r) { return int(r() & 255); }},
        Pattern{"FewColourNoise", 400, 300, [](int, int, std::mt19937& r) { return int(r() % 3); }},
        Pattern{"Stripes", 400, 300, [](int x, int y, std::mt19937&) { return (x / 7 + y / 3) % 16; }},
        Pattern{"Gradient", 400, 300, [](int x, int y, std::mt19937&) { return (x * y) & 255; }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

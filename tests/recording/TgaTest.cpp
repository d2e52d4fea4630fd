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

// The run-length packets of a colour-mapped TGA, row by row from the bottom: a raw packet is
// its length - 1 and the indices; a run packet (bit 7) its length - 1 and one index.
struct Packet {
    bool run;
    std::vector<uint8_t> indices;
};
std::vector<std::vector<Packet>> PacketRows(const std::vector<uint8_t>& file, int width, int height,
                                            size_t at) {
    std::vector<std::vector<Packet>> rows(height);
    for (auto& row : rows) {
        int filled = 0;
        while (filled < width && at < file.size()) {
            const int n = (file[at] & 0x7F) + 1;
            Packet packet{(file[at] & 0x80) != 0, {}};
            if (packet.run)
                packet.indices.assign(n, file[at + 1]), at += 2;
            else
                packet.indices.assign(file.begin() + at + 1, file.begin() + at + 1 + n), at += 1 + n;
            filled += n;
            row.push_back(packet);
        }
        EXPECT_EQ(filled, width) << "a packet crosses the end of a row";
    }
    EXPECT_EQ(at, file.size());
    return rows;
}

TEST(TgaTest, MappedPictureHasItsPaletteAsBlueGreenRed) {
    const uint8_t indices[2] = {0, 1};
    const uint8_t palette[6] = {0, 0, 0, 0x11, 0x22, 0x33};
    const std::vector<uint8_t> file = EncodeMappedTga(indices, 2, 1, palette, 2);
    const std::vector<uint8_t> start = {0, 1, 9, 0, 0, 2, 0, 24, 0, 0,    0,    0,
                                        2, 0, 1, 0, 8, 0, 0, 0,  0, 0x33, 0x22, 0x11};
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 24), start);
}

// One colour over the picture: each 400-pixel row is three runs of 128 and one of 16; no
// packet runs on into the next row.
TEST(TgaTest, RunsStopAtTheEndOfEachRow) {
    const std::vector<uint8_t> indices(400 * 300, 1);
    const uint8_t palette[6] = {};
    const auto rows = PacketRows(EncodeMappedTga(indices.data(), 400, 300, palette, 2), 400, 300, 18 + 6);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 4u);
        EXPECT_TRUE(row[0].run && row[1].run && row[2].run && row[3].run);
        EXPECT_EQ(row[3].indices.size(), 16u);
    }
}

// Repeats become runs, the rest raw packets of at most 128; rows are stored bottom first.
TEST(TgaTest, PacketsOfARow) {
    std::vector<uint8_t> indices = {1, 2, 2, 2, 3, 4, 5, 5,   // top row
                                    9, 9, 9, 9, 9, 9, 9, 8};  // bottom row
    const uint8_t palette[30] = {};
    const auto rows = PacketRows(EncodeMappedTga(indices.data(), 8, 2, palette, 10), 8, 2, 18 + 30);
    ASSERT_EQ(rows[0].size(), 2u);
    EXPECT_TRUE(rows[0][0].run);
    EXPECT_EQ(rows[0][1].indices, std::vector<uint8_t>{8});
    ASSERT_EQ(rows[1].size(), 4u);
    EXPECT_EQ(rows[1][0].indices, std::vector<uint8_t>{1});
    EXPECT_TRUE(rows[1][1].run);
    EXPECT_EQ(rows[1][2].indices, (std::vector<uint8_t>{3, 4}));
    EXPECT_EQ(rows[1][3].indices, (std::vector<uint8_t>{5, 5}));

    std::vector<uint8_t> distinct(130);
    for (int i = 0; i < 130; ++i) distinct[i] = static_cast<uint8_t>(i);
    const auto wide = PacketRows(EncodeMappedTga(distinct.data(), 130, 1, palette, 10), 130, 1, 18 + 30);
    ASSERT_EQ(wide[0].size(), 2u);
    EXPECT_EQ(wide[0][0].indices.size(), 128u);
    EXPECT_FALSE(wide[0][1].run);
}

// 16-bit pixels: x1r5g5b5 with each 4-bit component spread over 5 bits (15 is 31: white stays
// white), the bottom row first.
TEST(TgaTest, SixteenBitPixelsSpreadTheComponents) {
    const uint16_t colours[4] = {0x0FFF, 0x0800, 0x0010, 0x0001};
    const std::vector<uint8_t> file = EncodeTga16(colours, 2, 2);
    const std::vector<uint8_t> header = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 16, 0};
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 18), header);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 18, file.end()),
              (std::vector<uint8_t>{0x40, 0x00, 0x02, 0x00, 0xFF, 0x7F, 0x00, 0x44}));
}

}  // namespace
}  // namespace vexil

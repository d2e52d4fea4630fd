#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "video/Overlay.h"

namespace vexil {
namespace {

int64_t g_now = 0;
int64_t TestClock() {
    return g_now;
}

class OverlayTest : public ::testing::Test {
protected:
    void SetUp() override { g_now = 100000; }
    void TearDown() override { g_now = 0; }
    int Lit(int top, int bottom) const {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < 800; ++x) n += pixels_[y * 800 + x] == 0xFFFF;
        return n;
    }

    StatusOverlay overlay_{&TestClock};
    std::vector<uint16_t> pixels_ = std::vector<uint16_t>(800 * 600, 0);
};

TEST_F(OverlayTest, FloppyAndProfileSlotsAreThereFromTheStart) {
    EXPECT_TRUE(overlay_.Active(0));
    EXPECT_TRUE(overlay_.Active(1));
    for (int slot = 2; slot < 8; ++slot) EXPECT_FALSE(overlay_.Active(slot));
}

// Timed messages take slots 2-7; more than six give way oldest first, and the floppy and
// profiling lines are never taken over.
TEST_F(OverlayTest, TheNinthMessageReplacesTheOldestTimedOne) {
    overlay_.SetMessageText(0, "FDC READ SECTOR");
    std::vector<int> slots;
    for (int i = 0; i < 9; ++i)
        slots.push_back(overlay_.ShowMessage(("message " + std::to_string(i)).c_str(), -1, false));
    EXPECT_EQ(slots, (std::vector<int>{2, 3, 4, 5, 6, 7, 2, 3, 4}));
    EXPECT_STREQ(overlay_.Text(0), "FDC READ SECTOR");
    EXPECT_STREQ(overlay_.Text(2), "message 6");
    EXPECT_STREQ(overlay_.Text(5), "message 3");
}

TEST_F(OverlayTest, AMessageStaysUntilItsTimeHasCome) {
    const int slot = overlay_.ShowMessage("RECORDING", 2000, false);
    g_now += 1999;
    overlay_.DrawMessages(pixels_.data(), 800);
    EXPECT_TRUE(overlay_.Active(slot));
    g_now += 1;
    overlay_.ExpireMessages();  // as every frame end does, drawn or not
    EXPECT_FALSE(overlay_.Active(slot));
    EXPECT_TRUE(overlay_.Active(0));
    EXPECT_TRUE(overlay_.Active(1));
}

TEST_F(OverlayTest, OverlongTextIsCutToTheSlot) {
    const std::string longText(500, 'x');
    const int slot = overlay_.ShowMessage(longText.c_str(), -1, false);
    EXPECT_EQ(std::string(overlay_.Text(slot)), std::string(138, 'x'));
    overlay_.SetMessageText(1, longText.c_str());
    EXPECT_EQ(std::string(overlay_.Text(1)).size(), 138u);
    overlay_.DrawMessages(pixels_.data(), 800);  // 49 characters fit across the picture
}

TEST_F(OverlayTest, IgnoresSlotsOutOfRangeAndInactiveOnes) {
    overlay_.SetMessageText(8, "x");
    overlay_.SetMessageText(-1, "x");
    overlay_.ClearMessage(9);
    overlay_.SetMessageText(5, "x");
    EXPECT_FALSE(overlay_.Active(5));
    EXPECT_STREQ(overlay_.Text(5), "");
}

// A character covers 16 x 16 host pixels from x = 16, its rows on every second line from the
// top of its slot (16 lines per slot).
TEST_F(OverlayTest, TextIsDrawnInItsSlotsRows) {
    overlay_.ShowMessage("|", -1, false);  // slot 2
    overlay_.DrawMessages(pixels_.data(), 800);
    EXPECT_EQ(Lit(0, 32), 0);
    EXPECT_GT(Lit(32, 48), 0);
    EXPECT_EQ(Lit(48, 600), 0);
    for (int y = 32; y < 48; ++y) {
        for (int x = 0; x < 800; ++x) {
            if (pixels_[y * 800 + x] != 0xFFFF) continue;
            EXPECT_EQ(y % 2, 0) << y;  // every second line
            EXPECT_TRUE(x >= 16 && x < 32) << x;
        }
    }
}

TEST_F(OverlayTest, EmptyTextAndCodesWithoutGlyphsDrawNothing) {
    overlay_.DrawMessages(pixels_.data(), 800);  // slots 0 and 1 empty
    overlay_.ShowMessage("\x01\x80\xFF ", -1, false);
    overlay_.DrawMessages(pixels_.data(), 800);
    EXPECT_EQ(Lit(0, 600), 0);
    EXPECT_EQ(StatusOverlay::Glyph(31), nullptr);
    EXPECT_EQ(StatusOverlay::Glyph(128), nullptr);
    EXPECT_NE(StatusOverlay::Glyph('A'), nullptr);
}

TEST_F(OverlayTest, BlinkingTextIsHiddenInTheUpperHalfOf256Milliseconds) {
    overlay_.ShowMessage("BLINK", -1, true);
    g_now = 256 * 1000 + 130;
    overlay_.DrawMessages(pixels_.data(), 800);
    EXPECT_EQ(Lit(0, 600), 0);
    g_now = 256 * 1000 + 10;
    overlay_.DrawMessages(pixels_.data(), 800);
    EXPECT_GT(Lit(0, 600), 0);
}

TEST_F(OverlayTest, SilenceDrawsAFlatLine) {
    overlay_.DrawSoundWaveform(pixels_.data(), 1600, nullptr, 0);
    const int zeroRow = 44 + 2 * 127;
    EXPECT_EQ(Lit(zeroRow, zeroRow + 1), 800);
    EXPECT_EQ(Lit(0, zeroRow) + Lit(zeroRow + 1, 600), 0);
}

// The waveform reads the samples of the last frame and no further (the sanitizer build
// catches a read past them).
TEST_F(OverlayTest, WaveformSpansTheSamplesOfTheFrame) {
    std::vector<int16_t> samples(881);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = i < 440 ? 32767 : -32768;
    overlay_.DrawSoundWaveform(pixels_.data(), 1600, samples.data(), static_cast<int>(samples.size()));
    EXPECT_EQ(pixels_[44 * 800 + 0], 0xFFFF);                // 127 at the top row
    EXPECT_EQ(pixels_[(44 + 2 * 255) * 800 + 798], 0xFFFF);  // -128 at the bottom row
    EXPECT_EQ(pixels_[(44 + 254) * 800 + 0], 0xFF00);        // the zero line
}

TEST(ProfileLineTest, FrameShareIsCappedAt9999) {
    char line[StatusOverlay::kTextBytes];
    FormatProfileLine(line, sizeof line, 150.0f, 20.0f, 10.0f);
    EXPECT_STREQ(line, "T:99.99 C:120.00 G:20.00 S:10.00");
    FormatProfileLine(line, sizeof line, 50.0f, 20.0f, 10.0f);
    EXPECT_STREQ(line, "T:50.00 C:20.00 G:20.00 S:10.00");
}

}  // namespace
}  // namespace vexil

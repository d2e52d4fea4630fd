#include <gtest/gtest.h>

#include "video/Shifter.h"

namespace vexil {
namespace {

constexpr Cycles Line(int line, int cycle) {
    return line * 512 + cycle;
}

class ShifterTest : public ::testing::Test {
protected:
    void Make(bool ste) { shifter_ = std::make_unique<Shifter>(border_, lines_, ste); }
    void SetUp() override { Make(false); }
    uint32_t Counter(Cycles time) {
        return uint32_t{shifter_->ReadByte(0xFF8205, time)} << 16 |
               uint32_t{static_cast<uint8_t>(shifter_->ReadByte(0xFF8207, time))} << 8 |
               shifter_->ReadByte(0xFF8209, time);
    }
    // The events logged so far, with their frame cycles.
    std::vector<std::pair<Cycles, uint32_t>> Events() {
        std::vector<std::pair<Cycles, uint32_t>> events;
        Cycles at = 0;
        for (int32_t i = 0; i < shifter_->LogLength(); ++i) {
            at += shifter_->Log()[i].delta;
            events.push_back({at, shifter_->Log()[i].code});
        }
        return events;
    }

    VideoLines lines_;
    BorderState border_;
    std::unique_ptr<Shifter> shifter_;
};

// ---- registers ----------------------------------------------------------------------------

struct RegisterRow {
    const char* name;
    bool ste;
    uint32_t address;
    bool word;
    uint16_t written;
    uint32_t readAddress;
    bool readWord;
    uint16_t expected;
};

class ShifterRegisterTest : public ShifterTest, public ::testing::WithParamInterface<RegisterRow> {};

TEST_P(ShifterRegisterTest, ReadsBackWhatTheMachineKeeps) {
    const RegisterRow& row = GetParam();
    Make(row.ste);
    if (row.word)
        shifter_->WriteWord(row.address, row.written, 1000);
    else
        shifter_->WriteByte(row.address, static_cast<uint8_t>(row.written), 1000);
    const uint16_t read =
        row.readWord ? shifter_->ReadWord(row.readAddress, 1004) : shifter_->ReadByte(row.readAddress, 1004);
    EXPECT_EQ(read, row.expected);
}

// Programs tell an STE from an ST by writing 0x0FFF to a colour and reading it back.
INSTANTIATE_TEST_SUITE_P(
    Registers, ShifterRegisterTest,
    ::testing::Values(
        RegisterRow{"st_palette_keeps_three_bits", false, 0xFF8240, true, 0x0FFF, 0xFF8240, true, 0x0777},
        RegisterRow{"ste_palette_keeps_four_bits", true, 0xFF8240, true, 0xFFFF, 0xFF8240, true, 0x0FFF},
        RegisterRow{"palette_word_reads_back", false, 0xFF825E, true, 0x0777, 0xFF825E, true, 0x0777},
        RegisterRow{"palette_low_byte", false, 0xFF8241, false, 0x12, 0xFF8240, true, 0x0012},
        RegisterRow{"palette_high_byte_st", false, 0xFF8240, false, 0xFF, 0xFF8240, false, 0x07},
        RegisterRow{"video_base_high", false, 0xFF8201, false, 0x07, 0xFF8201, false, 0x07},
        RegisterRow{"video_base_word_low_byte", false, 0xFF8202, true, 0x1280, 0xFF8203, false, 0x80},
        RegisterRow{"sync_two_bits", false, 0xFF820A, false, 0xFE, 0xFF820A, false, 0x02},
        RegisterRow{"sync_word_high_byte", false, 0xFF820A, true, 0x0100, 0xFF820A, false, 0x01},
        RegisterRow{"resolution_two_bits", false, 0xFF8260, false, 0x05, 0xFF8260, false, 0x01},
        RegisterRow{"st_base_low_absent", false, 0xFF820D, false, 0x40, 0xFF820D, false, 0xFF},
        RegisterRow{"st_base_low_word", false, 0xFF820C, true, 0x0040, 0xFF820C, true, 0xFFFF},
        RegisterRow{"ste_base_low", true, 0xFF820D, false, 0x40, 0xFF820D, false, 0x40},
        RegisterRow{"ste_base_low_is_even", true, 0xFF820D, false, 0x41, 0xFF820D, false, 0x40},
        RegisterRow{"ste_scroll_four_bits", true, 0xFF8265, false, 0xFF, 0xFF8265, false, 0x0F},
        RegisterRow{"ste_scroll_word", true, 0xFF8264, true, 0x0007, 0xFF8265, false, 0x07},
        RegisterRow{"st_scroll_ignored", false, 0xFF8265, false, 0x05, 0xFF8265, false, 0x00},
        RegisterRow{"unassigned_byte", false, 0xFF8210, false, 0x12, 0xFF8210, false, 0xFF},
        RegisterRow{"unassigned_word", false, 0xFF8280, true, 0x1234, 0xFF8280, true, 0xFFFF},
        RegisterRow{"counter_word_high_is_ones", false, 0xFF8210, false, 0, 0xFF8204, true, 0xFF00}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShifterTest, PaletteByteWriteLogsTheWholeMaskedWord) {
    shifter_->WriteWord(0xFF8242, 0x0700, 100);
    shifter_->WriteByte(0xFF8243, 0x8F, 140);
    ASSERT_EQ(shifter_->LogLength(), 2);
    EXPECT_EQ(shifter_->Log()[1].code, 0x02u);
    EXPECT_EQ(shifter_->Log()[1].value, 0x0707u);
    EXPECT_EQ(shifter_->Log()[1].delta, 40);
}

TEST_F(ShifterTest, ResetClearsBaseAndModesButKeepsThePalette) {
    shifter_->WriteByte(0xFF8201, 0x07, 0);
    shifter_->WriteByte(0xFF8260, 1, 0);
    shifter_->WriteWord(0xFF8240, 0x0123, 0);
    shifter_->Reset();
    EXPECT_EQ(shifter_->VideoBase(), 0u);
    EXPECT_EQ(shifter_->ReadByte(0xFF8260, 0), 0);
    EXPECT_EQ(shifter_->ReadByte(0xFF820A, 0), 2);
    EXPECT_EQ(shifter_->ReadWord(0xFF8240, 0), 0x0123);
}

// ---- the video counter --------------------------------------------------------------------

class CounterTest : public ShifterTest {
protected:
    void SetUp() override {
        Make(false);
        shifter_->WriteByte(0xFF8201, 0x07, 0);
        shifter_->WriteByte(0xFF8203, 0x80, 0);
        shifter_->StartFrame();
        shifter_->ResetLineWindows();
    }
};

struct CounterRow {
    Cycles time;
    uint32_t expected;
};

class CounterAtTest : public CounterTest, public ::testing::WithParamInterface<CounterRow> {};

// 200 lines from line 63 show 160 bytes each, fetched over cycles 96-415 of the line; the
// counter runs 20 cycles ahead of the access.
TEST_P(CounterAtTest, CountsTheBytesFetchedSoFar) {
    EXPECT_EQ(Counter(GetParam().time), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Counter, CounterAtTest,
                         ::testing::Values(CounterRow{Line(10, 100), 0x078000},
                                           CounterRow{Line(63, 76), 0x078000},
                                           CounterRow{Line(63, 96), 0x07800A},
                                           CounterRow{Line(64, 0), 0x0780A0},
                                           CounterRow{Line(100, 300), 0x078000 + 37 * 160 + 112},
                                           CounterRow{Line(263, 0), 0x078000 + 32000},
                                           CounterRow{Line(300, 0), 0x078000 + 32000}));

TEST_F(CounterTest, SuccessiveReadsGiveTheSameAsOneRead) {
    for (int line = 60; line < 200; line += 7) Counter(Line(line, 300));
    const uint32_t walked = Counter(Line(200, 0));
    shifter_->ResetLineWindows();
    EXPECT_EQ(Counter(Line(200, 0)), walked);
    EXPECT_EQ(walked, 0x078000u + 137 * 160);
}

TEST_F(CounterTest, MiddleByteReadsTenAhead) {
    // 86 bytes into line 64 the counter is 0x0780F6; ten ahead crosses into the next page.
    const Cycles time = Line(64, 76 + 2 * 86);
    EXPECT_EQ(shifter_->ReadByte(0xFF8209, time), 0xF6);
    EXPECT_EQ(shifter_->ReadByte(0xFF8207, time), 0x81);
    EXPECT_EQ(shifter_->ReadByte(0xFF8205, time), 0x07);
}

TEST_F(CounterTest, FromLine310TheCounterReadsTheVideoBase) {
    shifter_->WriteByte(0xFF8201, 0x05, Line(100, 0));
    EXPECT_EQ(Counter(Line(311, 0)), 0x058000u);
}

TEST_F(CounterTest, AnOpenRightBorderAdds44BytesToItsLine) {
    border_.displayEnable = 1;
    shifter_->WriteByte(0xFF820A, 0, Line(100, 388));
    shifter_->WriteByte(0xFF820A, 2, Line(100, 400));
    EXPECT_EQ(shifter_->WindowEnd(100), 504);
    EXPECT_EQ(Counter(Line(101, 0)), 0x078000u + 37 * 160 + 204);
}

TEST_F(CounterTest, StWritesToTheCounterAreIgnored) {
    shifter_->WriteByte(0xFF8205, 0x01, Line(20, 0));
    shifter_->WriteByte(0xFF8207, 0x00, Line(20, 8));
    EXPECT_EQ(Counter(Line(64, 0)), 0x0780A0u);
    EXPECT_EQ(shifter_->LogLength(), 0);
}

TEST_F(CounterTest, SteCounterWriteMovesTheCountAndIsLogged) {
    Make(true);
    shifter_->WriteByte(0xFF8201, 0x07, 0);
    shifter_->StartFrame();
    shifter_->ResetLineWindows();
    shifter_->WriteByte(0xFF8205, 0x01, Line(20, 0));
    ASSERT_EQ(shifter_->LogLength(), 1);
    EXPECT_EQ(shifter_->Log()[0].code, uint32_t{kCodeCounter});
    EXPECT_EQ(shifter_->Log()[0].value, 0x010000u);
    EXPECT_EQ(Counter(Line(64, 0)), 0x0100A0u);
}

// EmuTOS writes the low byte of the base after the others: they clear it.
TEST_F(ShifterTest, BaseHighAndMiddleWritesClearTheLowByte) {
    Make(true);
    for (uint32_t address : {0xFF8201u, 0xFF8203u}) {
        shifter_->WriteByte(0xFF820D, 0x40, 100);
        shifter_->WriteByte(address, 0x12, 104);
        EXPECT_EQ(shifter_->ReadByte(0xFF820D, 108), 0);
        EXPECT_EQ(shifter_->VideoBase() & 0xFF, 0u);
    }
    EXPECT_EQ(shifter_->VideoBase(), 0x121200u);
}

// A write replaces one byte of the counter as it stands mid-frame, and the count goes on
// from the new value; the picture is read from there.
TEST_F(CounterTest, SteCounterByteWriteReplacesThatByteOfTheCurrentCount) {
    Make(true);
    shifter_->WriteByte(0xFF8201, 0x07, 0);
    shifter_->WriteByte(0xFF8203, 0x80, 0);
    shifter_->StartFrame();
    shifter_->ResetLineWindows();
    ASSERT_EQ(Counter(Line(100, 0)), 0x078000u + 37 * 160);  // 0x079720
    shifter_->WriteByte(0xFF8209, 0x00, Line(100, 0));
    shifter_->WriteByte(0xFF8207, 0x20, Line(100, 4));
    ASSERT_EQ(shifter_->LogLength(), 2);
    EXPECT_EQ(shifter_->Log()[0].value, 0x079700u);
    EXPECT_EQ(shifter_->Log()[1].value, 0x072000u);
    EXPECT_EQ(Counter(Line(101, 0)), 0x072000u + 160);
    EXPECT_EQ(shifter_->FrameBase(), 0x078000u);  // screen writes still patch this frame's snapshot
}

// An STE's counter goes on by the line offset and the scrolled line's extra block at the end
// of each displayed line.
TEST_F(CounterTest, SteCounterCountsTheLineOffsetAndTheScrollFetch) {
    Make(true);
    shifter_->WriteByte(0xFF8201, 0x07, 0);
    shifter_->WriteByte(0xFF8203, 0x80, 0);
    shifter_->WriteByte(0xFF820F, 76, 0);
    shifter_->WriteByte(0xFF8265, 5, 0);
    shifter_->StartFrame();
    shifter_->ResetLineWindows();
    EXPECT_EQ(Counter(Line(63, 300)), 0x078000u + (300 + 20 - 96) / 2);
    EXPECT_EQ(Counter(Line(65, 0)), 0x078000u + 2 * 320);
}

// Only an STE logs its line offset and scroll for the picture.
TEST_F(ShifterTest, LineOffsetAndScrollAreLoggedOnAnSteOnly) {
    for (bool ste : {false, true}) {
        Make(ste);
        shifter_->WriteByte(0xFF820F, 76, 200);
        shifter_->WriteWord(0xFF8264, 0x0005, 300);
        const auto events = Events();
        if (!ste) {
            EXPECT_TRUE(events.empty());
            continue;
        }
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0], (std::pair<Cycles, uint32_t>{200, kCodeLineOffset}));
        EXPECT_EQ(events[1], (std::pair<Cycles, uint32_t>{300, kCodeScroll}));
        EXPECT_EQ(shifter_->Log()[0].value, 76u);
        EXPECT_EQ(shifter_->Log()[1].value, 5u);
    }
}

// ---- border detection ---------------------------------------------------------------------

struct BorderRow {
    const char* name;
    uint32_t address;
    uint8_t value;
    Cycles time;
    bool displayEnabled;
    int32_t code;  // -1: nothing logged
    int32_t windowStart, windowEnd;
    bool top, bottom;
};

class BorderTest : public ShifterTest, public ::testing::WithParamInterface<BorderRow> {};

TEST_P(BorderTest, OnlyTheExactCyclesOpenABorder) {
    const BorderRow& row = GetParam();
    border_.displayEnable = row.displayEnabled;
    shifter_->WriteByte(row.address, row.value, row.time);
    const auto events = Events();
    if (row.code < 0) {
        EXPECT_TRUE(events.empty());
    } else {
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].first, row.time);
        EXPECT_EQ(events[0].second, static_cast<uint32_t>(row.code));
    }
    const int line = row.time / 512;
    EXPECT_EQ(shifter_->WindowStart(line), row.windowStart);
    EXPECT_EQ(shifter_->WindowEnd(line), row.windowEnd);
    EXPECT_EQ(border_.topBorderOpen != 0, row.top);
    EXPECT_EQ(border_.bottomBorderOpen != 0, row.bottom);
    if (row.top || row.bottom) {
        EXPECT_TRUE(border_.displayEnable);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Borders, BorderTest,
    ::testing::Values(
        BorderRow{"right_388", 0xFF820A, 0, Line(100, 388), true, 0x24, 96, 504, false, false},
        BorderRow{"right_392_nothing", 0xFF820A, 0, Line(100, 392), true, -1, 96, 416, false, false},
        BorderRow{"right_not_displayed", 0xFF820A, 0, Line(100, 388), false, -1, 96, 416, false, false},
        BorderRow{"right_60hz_value_1", 0xFF820A, 1, Line(100, 388), true, -1, 96, 416, false, false},
        BorderRow{"line_back2_356", 0xFF820A, 0, Line(100, 356), true, 0x2A, 96, 412, false, false},
        BorderRow{"line_back2_384", 0xFF820A, 0, Line(100, 384), true, 0x2A, 96, 412, false, false},
        BorderRow{"line_back2_360_nothing", 0xFF820A, 0, Line(100, 360), true, -1, 96, 416, false, false},
        BorderRow{"left_8", 0xFF8260, 2, Line(100, 8), true, 0x26, 44, 416, false, false},
        BorderRow{"left_16", 0xFF8260, 2, Line(100, 16), true, 0x26, 44, 416, false, false},
        BorderRow{"left_20_is_a_resolution", 0xFF8260, 2, Line(100, 20), true, 0x22, 96, 416, false, false},
        BorderRow{"left_4_is_a_resolution", 0xFF8260, 2, Line(100, 4), true, 0x22, 96, 416, false, false},
        BorderRow{"left_not_displayed", 0xFF8260, 2, Line(100, 8), false, 0x22, 96, 416, false, false},
        BorderRow{"back106_164", 0xFF8260, 2, Line(100, 164), true, 0x28, 96, 204, false, false},
        BorderRow{"back106_176", 0xFF8260, 2, Line(100, 176), true, 0x28, 96, 204, false, false},
        BorderRow{"back106_180_is_a_resolution", 0xFF8260, 2, Line(100, 180), true, 0x22, 96, 416, false,
                  false},
        BorderRow{"top_first", 0xFF820A, 0, Line(33, 288), false, -1, 96, 416, true, false},
        BorderRow{"top_last", 0xFF820A, 0, Line(34, 16), false, -1, 96, 416, true, false},
        BorderRow{"top_too_early", 0xFF820A, 0, Line(33, 284), false, -1, 96, 416, false, false},
        BorderRow{"top_too_late", 0xFF820A, 0, Line(34, 20), false, -1, 96, 416, false, false},
        BorderRow{"top_50hz_nothing", 0xFF820A, 2, Line(33, 300), false, -1, 96, 416, false, false},
        BorderRow{"bottom_first", 0xFF820A, 0, Line(261, 292), false, -1, 96, 416, false, true},
        BorderRow{"bottom_last", 0xFF820A, 1, Line(263, 96), false, -1, 96, 416, false, true},
        BorderRow{"bottom_too_early", 0xFF820A, 0, Line(261, 288), false, -1, 96, 416, false, false},
        BorderRow{"bottom_too_late", 0xFF820A, 0, Line(263, 100), false, -1, 96, 416, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShifterTest, ScreenWritesAlwaysMoveTheLogOn) {
    MemoryRegion region;
    region.context = shifter_.get();
    Shifter::WatchWord(0x78000, 0xABCD, region, 500);
    Shifter::WatchByte(0x78003, 0x12, region, 500);
    Shifter::WatchByte(0x78004, 0x34, region, 300);
    const auto events = Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], std::make_pair(Cycles{500}, uint32_t{kCodeScreenWord | 0xABCD0000u}));
    EXPECT_EQ(events[1], std::make_pair(Cycles{504}, uint32_t{kCodeScreenByte | 0x120000u}));
    EXPECT_EQ(events[2].first, 508);
    EXPECT_EQ(shifter_->Log()[1].value, 0x78003u);
}

TEST_F(ShifterTest, AFullLogKeepsRoomForItsTerminator) {
    for (int i = 0; i < kShifterLogEntries + 100; ++i) shifter_->WriteWord(0xFF8240, 0, 4 * i);
    EXPECT_EQ(shifter_->LogLength(), kShifterLogEntries - 1);
    shifter_->TerminateLog();
    EXPECT_EQ(shifter_->Log()[kShifterLogEntries - 1].delta, kLogEnd);
}

}  // namespace
}  // namespace vexil

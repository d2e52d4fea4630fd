// The MC68901 on its own: timers, data register reads, the interrupt controller, input lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/Mfp.h"

namespace vexil {
namespace {

using namespace mfp;

int g_requests = 0;  // level 6 asked for
int32_t g_refuse = 0;

int32_t FakeRaise(void*, int32_t level, int32_t) {
    if (level != 6 || g_refuse) return 1;
    ++g_requests;
    return 0;
}

class MfpTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_requests = 0;
        g_refuse = 0;
        mfp.PowerOn();
        mfp.sink.raise = FakeRaise;
        mfp.WriteByte(kIera, 0xFF, 0);  // every channel enabled, as the tests below expect
        mfp.WriteByte(kIerb, 0xFF, 0);
    }
    // Runs the scheduler's part for one timer up to `now`.
    void RunTo(MfpTimerId id, Cycles now) {
        while (mfp.CountsClock(id) && mfp.Expiry(id) <= now) mfp.Timeout(id);
    }
    Mfp mfp;
};

// ---- timer periods --------------------------------------------------------------------------

struct PeriodRow {
    uint8_t control;  // prescaler index 1-7
    uint8_t data;     // 0 counts 256
    Cycles first, second;
};

// Worked by hand: a timer started at cycle 1000 times out after counts x 8021247 / 2457600
// cycles, exactly, and again as long after that; each timeout is seen at the first whole cycle
// at or after it. Timer D at divide 4, data 2 (8 clocks, 26.1108 cycles) is seen at 1027,
// 1053, not at 1026, 1052.
const PeriodRow kPeriods[] = {{1, 1, 1014, 1027},     {1, 2, 1027, 1053},    {2, 0, 9356, 17711},
                              {3, 255, 14317, 27634}, {4, 7, 2143, 3285},    {5, 100, 21889, 42778},
                              {6, 3, 1980, 2959},     {7, 0, 168110, 335219}};

class MfpPeriodTest : public MfpTest, public ::testing::WithParamInterface<PeriodRow> {};

TEST_P(MfpPeriodTest, EveryTimerTimesOutAfterItsPeriodThenAfterEachReload) {
    const PeriodRow row = GetParam();
    for (MfpTimerId id : {kTimerA, kTimerB, kTimerC, kTimerD}) {
        const unsigned data = kTadr + 2 * id;
        mfp.WriteByte(data, row.data, 0);
        if (id == kTimerA) mfp.WriteByte(kTacr, row.control, 1000);
        if (id == kTimerB) mfp.WriteByte(kTbcr, row.control, 1000);
        if (id == kTimerC) mfp.WriteByte(kTcdcr, static_cast<uint8_t>(row.control << 4), 1000);
        if (id == kTimerD) mfp.WriteByte(kTcdcr, row.control, 1000);
        ASSERT_EQ(mfp.Expiry(id), row.first) << id;
        mfp.Timeout(id);
        EXPECT_EQ(mfp.Expiry(id), row.second) << id;
        mfp.WriteByte(kTcdcr, 0, 0);
    }
}

// One second of timeouts, frame after frame: each is seen within one cycle after its exact
// time, with no drift (a period rounded to whole cycles would be 0.11 cycles short for each of
// timer D's 307,200 timeouts a second, 33,792 cycles by the end).
TEST_F(MfpTest, TimeoutsOverOneSecondLandWithinOneCycleOfTheirExactTimes) {
    mfp.WriteByte(kTddr, 2, 0);
    mfp.WriteByte(kTcdcr, 0x01, 0);  // divide 4, data 2: 8 MFP clocks a timeout
    int64_t frameBase = 0, timeouts = 0;
    while (frameBase < kCpuClock) {
        while (mfp.Expiry(kTimerD) < 160256) {
            ++timeouts;
            // Exact time: timeouts x 8 clocks at 2457600 Hz, in CPU cycles at 8021247 Hz.
            const double exact = static_cast<double>(timeouts) * 8 * kCpuClock / kTimerClock;
            const double seen = static_cast<double>(frameBase + mfp.Expiry(kTimerD));
            ASSERT_GE(seen, exact - 1e-6) << timeouts;
            ASSERT_LT(seen, exact + 1.0) << timeouts;
            mfp.Timeout(kTimerD);
        }
        mfp.CarryTimers(160256);
        frameBase += 160256;
    }
    EXPECT_GE(timeouts, 307200);
}

INSTANTIATE_TEST_SUITE_P(Rows, MfpPeriodTest, ::testing::ValuesIn(kPeriods));

// ---- what the registers do to a running timer ---------------------------------------------

TEST_F(MfpTest, DataWritesToARunningTimerOnlySetTheReload) {
    mfp.WriteByte(kTadr, 10, 0);
    mfp.WriteByte(kTacr, 7, 100);          // 652 cycles a count
    EXPECT_EQ(mfp.Expiry(kTimerA), 6628);  // 100 + 6527.78
    mfp.WriteByte(kTadr, 20, 900);
    mfp.WriteByte(kTacr, 7, 1000);  // the same mode again
    EXPECT_EQ(mfp.Expiry(kTimerA), 6628);
    mfp.Timeout(kTimerA);
    EXPECT_EQ(mfp.Expiry(kTimerA), 19684);  // the next cycle takes the new value: + 13055.55
}

TEST_F(MfpTest, InterruptEnableNeverStopsATimer) {
    mfp.WriteByte(kTcdr, 192, 0);
    mfp.WriteByte(kTcdcr, 0x50, 0);  // timer C, 200 Hz
    const Cycles expiry = mfp.Expiry(kTimerC);
    mfp.WriteByte(kIerb, 0x00, 10);
    mfp.WriteByte(kIerb, 0xFF, 20);
    mfp.WriteByte(kTddr, 5, 30);
    mfp.WriteByte(kTcdcr, 0x51, 40);  // timer D started beside it
    EXPECT_EQ(mfp.Expiry(kTimerC), expiry);
    EXPECT_TRUE(mfp.CountsClock(kTimerD));
}

TEST_F(MfpTest, AControlChangeGoesOnFromTheCurrentCount) {
    mfp.WriteByte(kTadr, 100, 0);
    mfp.WriteByte(kTacr, 1, 0);  // divide by 4: 13.05 cycles a count
    EXPECT_EQ(mfp.ReadByte(kTadr, 653), 50);
    mfp.WriteByte(kTacr, 0, 653);  // stopped: the count holds
    EXPECT_EQ(mfp.ReadByte(kTadr, 5000), 50);
    mfp.WriteByte(kTacr, 7, 6000);  // divide by 200 from 50 counts: 50 x 652.78
    EXPECT_EQ(mfp.Expiry(kTimerA), 38639);
}

// Reads while counting: from d down to 1, never above d, 0 only for a data value of 0.
struct ReadRow {
    uint8_t data;
    Cycles at;  // after the start, divide by 4 (13.05 cycles a count)
    uint8_t expected;
};

class MfpReadTest : public MfpTest, public ::testing::WithParamInterface<ReadRow> {};

TEST_P(MfpReadTest, DataRegisterReadsTheCountLeft) {
    const ReadRow row = GetParam();
    mfp.WriteByte(kTbdr, row.data, 0);
    mfp.WriteByte(kTbcr, 1, 0);
    RunTo(kTimerB, row.at);
    EXPECT_EQ(mfp.ReadByte(kTbdr, row.at), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, MfpReadTest,
                         ::testing::Values(ReadRow{10, 0, 10}, ReadRow{10, 13, 10}, ReadRow{10, 14, 9},
                                           ReadRow{10, 130, 1},
                                           ReadRow{10, 131, 10},  // timed out at 130.55: reloaded
                                           ReadRow{10, 144, 9}, ReadRow{0, 0, 0}, ReadRow{0, 14, 255},
                                           ReadRow{1, 12, 1}));

TEST_F(MfpTest, TimerBEventCountModeCountsAndReloadsFromTheDataRegister) {
    mfp.WriteByte(kTbdr, 3, 0);
    mfp.WriteByte(kTbcr, 8, 0);
    EXPECT_TRUE(mfp.CountsEvents(kTimerB));
    EXPECT_EQ(mfp.ReadByte(kTbdr, 0), 3);
    mfp.CountEvent(kTimerB);
    mfp.WriteByte(kTbdr, 5, 0);  // the count goes on; the next reload takes it
    EXPECT_EQ(mfp.ReadByte(kTbdr, 0), 2);
    mfp.CountEvent(kTimerB);
    EXPECT_EQ(mfp.Register(kIpra), 0);
    mfp.CountEvent(kTimerB);
    EXPECT_EQ(mfp.Register(kIpra), 0x01);
    EXPECT_EQ(mfp.ReadByte(kTbdr, 0), 5);
}

TEST_F(MfpTest, PulseWidthAndEventModesWithNoInputDoNotCount) {
    mfp.WriteByte(kTadr, 10, 0);
    mfp.WriteByte(kTacr, 9, 0);  // pulse width: no input drives it
    EXPECT_FALSE(mfp.CountsClock(kTimerA));
    EXPECT_EQ(mfp.ReadByte(kTadr, 100000), 10);
    mfp.WriteByte(kTacr, 8, 0);
    EXPECT_EQ(mfp.ReadByte(kTadr, 200000), 10);
}

// Timer D at TOS's serial rate with its interrupt off: nobody sees its timeouts, so the
// scheduler gets none, and its count is computed when read. One second (50 frame ends and
// 8447 cycles) is exactly 307,200 of its periods: a timeout falls on cycle 8447.
struct UnseenReadRow {
    Cycles at;
    uint8_t expected;
};

class MfpUnseenTimerTest : public MfpTest, public ::testing::WithParamInterface<UnseenReadRow> {
protected:
    void StartUnseen() {
        mfp.WriteByte(kIerb, 0x20, 0);  // timer C's channel only
        mfp.WriteByte(kTddr, 2, 0);
        mfp.WriteByte(kTcdcr, 0x01, 0);
        ASSERT_TRUE(mfp.CountsClock(kTimerD));
        ASSERT_FALSE(mfp.TimeoutsSeen(kTimerD));
        for (int frame = 0; frame < 50; ++frame) mfp.CarryTimers(160256);
    }
};

TEST_P(MfpUnseenTimerTest, ReadsTheCountFromTheExactPhase) {
    StartUnseen();
    EXPECT_EQ(mfp.ReadByte(kTddr, GetParam().at), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, MfpUnseenTimerTest,
                         ::testing::Values(UnseenReadRow{8434, 1}, UnseenReadRow{8446, 1},
                                           UnseenReadRow{8447, 2}, UnseenReadRow{8460, 2},
                                           UnseenReadRow{8461, 1}, UnseenReadRow{8473, 1},
                                           UnseenReadRow{8474, 2}));

TEST_F(MfpUnseenTimerTest, EnablingItsInterruptGivesTheNextTimeoutAtItsExactTime) {
    StartUnseen();
    EXPECT_EQ(mfp.Register(kIprb), 0);
    mfp.WriteByte(kIerb, 0x30, 8467);  // 20 cycles after the timeout at 8447
    ASSERT_TRUE(mfp.TimeoutsSeen(kTimerD));
    EXPECT_EQ(mfp.ExpiryTicks(kTimerD), 8447 * kTicksPerCycle + 8 * kTicksPerClock);  // 8473.11
    EXPECT_EQ(mfp.Expiry(kTimerD), 8474);
    mfp.Timeout(kTimerD);
    EXPECT_EQ(mfp.Register(kIprb), 0x10);
    EXPECT_EQ(mfp.Expiry(kTimerD), 8500);  // 8499.22
}

TEST_F(MfpUnseenTimerTest, ItsOutputInUseMakesItsTimeoutsSeen) {
    StartUnseen();
    mfp.SetTimerOutputUsed(kTimerD, true, 8467);
    EXPECT_TRUE(mfp.TimeoutsSeen(kTimerD));
    EXPECT_EQ(mfp.Expiry(kTimerD), 8474);
    mfp.Timeout(kTimerD);
    EXPECT_EQ(mfp.Register(kIprb), 0);  // its channel is still disabled
    mfp.SetTimerOutputUsed(kTimerD, false, 9000);
    EXPECT_FALSE(mfp.TimeoutsSeen(kTimerD));
}

TEST_F(MfpUnseenTimerTest, ADataWriteTakesEffectAtTheReloadAfterIt) {
    StartUnseen();
    mfp.WriteByte(kTddr, 100, 8467);  // the timeouts up to 8473.11 reload 2; the one there 100
    EXPECT_EQ(mfp.ReadByte(kTddr, 8470), 1);
    EXPECT_EQ(mfp.ReadByte(kTddr, 8474), 100);
    EXPECT_EQ(mfp.ReadByte(kTddr, 9778), 1);  // the next reload: 100 counts on, at 9778.65
    EXPECT_EQ(mfp.ReadByte(kTddr, 9779), 100);
}

// The data sheet's reset: every register cleared but the timer data registers (and the USART's
// data and transmitter status registers).
struct ResetRow {
    unsigned offset;
    uint8_t afterReset;
};

class MfpResetTest : public MfpTest, public ::testing::WithParamInterface<ResetRow> {};

TEST_P(MfpResetTest, ResetClearsAllButTheDataRegisters) {
    for (unsigned offset = 0x01; offset < 0x30; offset += 2) mfp.WriteByte(offset, 0xA5, 0);
    mfp.Reset();
    const unsigned offset = GetParam().offset;  // the USART keeps its own registers
    EXPECT_EQ(offset >= usart::kUcr ? mfp.PeekByte(offset, 0) : mfp.Register(offset), GetParam().afterReset);
}

INSTANTIATE_TEST_SUITE_P(Registers, MfpResetTest,
                         ::testing::Values(ResetRow{kGpip, 0}, ResetRow{kAer, 0}, ResetRow{kDdr, 0},
                                           ResetRow{kIera, 0}, ResetRow{kIerb, 0}, ResetRow{kIpra, 0},
                                           ResetRow{kIprb, 0}, ResetRow{kIsra, 0}, ResetRow{kIsrb, 0},
                                           ResetRow{kImra, 0}, ResetRow{kImrb, 0}, ResetRow{kVr, 0},
                                           ResetRow{kTacr, 0}, ResetRow{kTbcr, 0}, ResetRow{kTcdcr, 0},
                                           ResetRow{kTadr, 0xA5}, ResetRow{kTbdr, 0xA5},
                                           ResetRow{kTcdr, 0xA5}, ResetRow{kTddr, 0xA5}, ResetRow{kScr, 0},
                                           ResetRow{usart::kUcr, 0}, ResetRow{usart::kRsr, 0}),
                         [](const auto& info) { return "Offset" + std::to_string(info.param.offset); });

TEST_F(MfpTest, ResetStopsTheTimersAndTheRequests) {
    mfp.WriteByte(kImrb, 0xFF, 0);
    mfp.WriteByte(kTddr, 7, 0);
    mfp.WriteByte(kTcdcr, 0x11, 0);
    mfp.Timeout(kTimerD);
    ASSERT_EQ(mfp.Register(kIprb), 0x10);
    mfp.Reset();
    EXPECT_FALSE(mfp.CountsClock(kTimerC));
    EXPECT_FALSE(mfp.CountsClock(kTimerD));
    EXPECT_EQ(mfp.Acknowledge(), -1);
    EXPECT_EQ(mfp.ReadByte(kTddr, 100000), 7);  // stopped: it holds
    mfp.Timeout(kTimerD);                       // an event on a disabled channel is lost
    EXPECT_EQ(mfp.Register(kIprb), 0);
}

TEST_F(MfpTest, PowerOnLeavesTheDataRegistersAsTheyCameUp) {
    mfp.PowerOn();
    EXPECT_EQ(mfp.Register(kIerb), 0);
    EXPECT_EQ(mfp.Register(kVr), 0);
    EXPECT_EQ(mfp.Register(kTddr), 0xFF);
    EXPECT_EQ(mfp.ReadByte(kGpip, 0), 0xFF);  // every line an input, pulled high
}

// ---- interrupt controller -------------------------------------------------------------------

TEST_F(MfpTest, TheChannelIsChosenAtAcknowledge) {
    mfp.WriteByte(kVr, 0x48, 0);  // software end of interrupt
    mfp.WriteByte(kImra, 0xFF, 0);
    mfp.WriteByte(kImrb, 0xFF, 0);
    mfp.WriteByte(kTcdr, 1, 0);
    mfp.WriteByte(kTcdcr, 0x10, 0);
    mfp.Timeout(kTimerC);  // channel 5 first
    EXPECT_EQ(g_requests, 1);
    mfp.WriteByte(kTbdr, 1, 0);
    mfp.WriteByte(kTbcr, 1, 0);
    mfp.Timeout(kTimerB);                // then channel 8
    EXPECT_EQ(mfp.Acknowledge(), 0x48);  // the higher channel goes first
    EXPECT_EQ(mfp.Register(kIsra), 0x01);
    EXPECT_EQ(mfp.Acknowledge(), -1);  // channel 5 is below the one in service
    mfp.WriteByte(kIsra, 0xFE, 0);     // end of service
    EXPECT_EQ(mfp.Acknowledge(), 0x45);
    EXPECT_EQ(mfp.Register(kIprb), 0x00);
    EXPECT_EQ(mfp.Register(kIsrb), 0x20);
}

TEST_F(MfpTest, DisabledOrMaskedAfterTheRequestNothingIsTaken) {
    mfp.WriteByte(kVr, 0x40, 0);
    mfp.WriteByte(kImra, 0x20, 0);
    mfp.WriteByte(kTadr, 1, 0);
    mfp.WriteByte(kTacr, 1, 0);
    mfp.Timeout(kTimerA);
    EXPECT_EQ(mfp.Register(kIpra), 0x20);
    mfp.WriteByte(kImra, 0x00, 0);  // masked: stays pending, not taken
    EXPECT_EQ(mfp.Acknowledge(), -1);
    EXPECT_EQ(mfp.Register(kIpra), 0x20);
    g_requests = 0;
    mfp.WriteByte(kImra, 0x20, 0);  // unmasked: asks again
    EXPECT_EQ(g_requests, 1);
    mfp.WriteByte(kIera, 0xDF, 0);  // disabled: the pending bit goes
    EXPECT_EQ(mfp.Register(kIpra), 0x00);
    EXPECT_EQ(mfp.Acknowledge(), -1);
    mfp.Timeout(kTimerA);  // an event while disabled is lost
    EXPECT_EQ(mfp.Register(kIpra), 0x00);
}

TEST_F(MfpTest, RegisterWriteRules) {
    mfp.WriteByte(kIsra, 0xFF, 0);  // the CPU cannot set in-service bits
    EXPECT_EQ(mfp.Register(kIsra), 0);
    mfp.WriteByte(kVr, 0x48, 0);
    mfp.WriteByte(kImra, 0xFF, 0);
    mfp.WriteByte(kTacr, 1, 0);
    mfp.Timeout(kTimerA);
    mfp.Acknowledge();
    EXPECT_EQ(mfp.Register(kIsra), 0x20);
    mfp.WriteByte(kVr, 0x40, 0);  // automatic end of interrupt clears the in-service bits
    EXPECT_EQ(mfp.Register(kIsra), 0);
    EXPECT_EQ(mfp.ReadByte(usart::kTsr, 0) & 0x80, 0x80);  // nothing connected: always empty
}

TEST_F(MfpTest, GpipReadsPinsForInputsAndTheLatchForOutputs) {
    mfp.WriteByte(kDdr, 0x00, 0);
    mfp.WriteByte(kGpip, 0x00, 0);
    EXPECT_EQ(mfp.ReadByte(kGpip, 0), 0xFF);
    mfp.SetInputLine(kGpipAcia, false);
    EXPECT_EQ(mfp.ReadByte(kGpip, 0), 0xEF);
    mfp.WriteByte(kDdr, 0x0F, 0);  // low four bits outputs: the latch
    EXPECT_EQ(mfp.ReadByte(kGpip, 0), 0xE0);
    EXPECT_EQ(mfp.ReadWord(0x00, 0), 0xFFE0);
}

TEST_F(MfpTest, WordAccessesUseTheLowByteAndTheEvenStorage) {
    mfp.WriteWord(0x16, 0x1240, 0);  // VR
    EXPECT_EQ(mfp.Register(kVr), 0x40);
    EXPECT_EQ(mfp.ReadWord(0x16, 0), 0x0040);  // even storage byte 0
    mfp.WriteWord(0x30, 0xAA55, 0);            // storage past the USART
    EXPECT_EQ(mfp.Register(0x31), 0x55);
    mfp.WriteByte(kTadr, 7, 0);
    EXPECT_EQ(mfp.ReadWord(0x1E, 0), 0xFF07);
}

// Input 4 (the ACIAs' line, channel 6) through the active edge register: the interrupt comes
// on the active edge only, and only while the channel is enabled and unmasked.
struct EdgeRow {
    const char* name;
    uint8_t aer, ierb, imrb;
    bool toHigh;      // the edge driven: low to high, or high to low
    uint8_t pending;  // IPRB afterwards
    bool requested;
};

class MfpInputEdgeTest : public MfpTest, public ::testing::WithParamInterface<EdgeRow> {};

TEST_P(MfpInputEdgeTest, InterruptOnlyOnTheActiveEdgeWhenEnabledAndUnmasked) {
    const EdgeRow row = GetParam();
    mfp.WriteByte(kVr, 0x40, 0);
    mfp.WriteByte(kAer, row.aer, 0);
    mfp.WriteByte(kIerb, row.ierb, 0);
    mfp.WriteByte(kImrb, row.imrb, 0);
    mfp.SetInputLine(kGpipAcia, !row.toHigh);  // the level before the edge
    mfp.WriteByte(kIprb, 0, 0);
    g_requests = 0;
    mfp.SetInputLine(kGpipAcia, row.toHigh);
    mfp.SetInputLine(kGpipAcia, row.toHigh);  // no change, no edge
    EXPECT_EQ(mfp.Register(kIprb), row.pending | (row.requested ? 0x40 : 0));
    EXPECT_EQ(g_requests, row.requested ? 1 : 0);
    EXPECT_EQ(mfp.Acknowledge(), row.requested ? 0x46 : -1);
}

INSTANTIATE_TEST_SUITE_P(Rows, MfpInputEdgeTest,
                         ::testing::Values(
                             //      name                  AER   IERB  IMRB  to high pending requested
                             EdgeRow{"falling_active", 0x00, 0x40, 0x40, false, 0x00, true},
                             EdgeRow{"rising_inactive", 0x00, 0x40, 0x40, true, 0x00, false},
                             EdgeRow{"rising_active", 0x10, 0x40, 0x40, true, 0x00, true},
                             EdgeRow{"falling_inactive", 0x10, 0x40, 0x40, false, 0x00, false},
                             EdgeRow{"disabled", 0x00, 0x00, 0x40, false, 0x00, false},
                             EdgeRow{"masked_waits_pending", 0x00, 0x40, 0x00, false, 0x40, false},
                             EdgeRow{"other_lines_rising", 0xEF, 0x40, 0x40, false, 0x00, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

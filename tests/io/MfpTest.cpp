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
        mfp.Reset();
        mfp.sink.raise = FakeRaise;
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
    Cycles period;
};

// Worked by hand: counts x 8021247 / 2457600, truncated.
const PeriodRow kPeriods[] = {{1, 1, 13},   {1, 2, 26},      {2, 0, 8355}, {3, 255, 13316},
                              {4, 7, 1142}, {5, 100, 20888}, {6, 3, 979},  {7, 0, 167109}};

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
        ASSERT_EQ(mfp.Expiry(id), 1000 + row.period) << id;
        mfp.Timeout(id);
        EXPECT_EQ(mfp.Expiry(id), 1000 + 2 * row.period) << id;
        mfp.WriteByte(kTcdcr, 0, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, MfpPeriodTest, ::testing::ValuesIn(kPeriods));

// ---- what the registers do to a running timer ---------------------------------------------

TEST_F(MfpTest, DataWritesToARunningTimerOnlySetTheReload) {
    mfp.WriteByte(kTadr, 10, 0);
    mfp.WriteByte(kTacr, 7, 100);  // 652 cycles a count
    const Cycles first = mfp.Expiry(kTimerA);
    EXPECT_EQ(first, 100 + 6527);
    mfp.WriteByte(kTadr, 20, 900);
    mfp.WriteByte(kTacr, 7, 1000);  // the same mode again
    EXPECT_EQ(mfp.Expiry(kTimerA), first);
    mfp.Timeout(kTimerA);
    EXPECT_EQ(mfp.Expiry(kTimerA), first + 13055);  // the next cycle takes the new value
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
    mfp.WriteByte(kTacr, 7, 6000);  // divide by 200 from 50 counts: 50 x 652.6
    EXPECT_EQ(mfp.Expiry(kTimerA), 6000 + 32638);
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
                         ::testing::Values(ReadRow{10, 0, 10}, ReadRow{10, 12, 10}, ReadRow{10, 13, 9},
                                           ReadRow{10, 129, 1},
                                           ReadRow{10, 130, 10},  // timed out at 130: reloaded
                                           ReadRow{0, 0, 0}, ReadRow{0, 14, 255}, ReadRow{1, 12, 1}));

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
    EXPECT_EQ(mfp.ReadByte(kTsr, 0) & 0x80, 0x80);  // nothing connected: always empty
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

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/Mfp.h"

namespace vexil {
namespace {

using namespace mfp;

struct Post {
    int32_t level, vector;
};
std::vector<Post> g_posts;
int32_t g_refuse = 0;  // what the fake CPU answers

int32_t FakeRaise(void*, int32_t level, int32_t vector) {
    if (g_refuse) return g_refuse;
    g_posts.push_back({level, vector});
    return 0;
}

class MfpTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_posts.clear();
        g_refuse = 0;
        mfp.PowerOn();
        mfp.Reset();
        mfp.sink.raise = FakeRaise;
    }
    Mfp mfp;
};

// ---- timer periods --------------------------------------------------------------------------

struct PeriodRow {
    uint8_t control;  // prescaler index 1-7
    uint8_t data;     // 0 counts 256
    Cycles tick, period;
};

// Worked by hand: counts x 8021247 / 2457600, truncated.
const PeriodRow kPeriods[] = {
    {1, 1, 13, 13},       {1, 2, 13, 26},   {2, 0, 32, 8355},    {3, 255, 52, 13316}, {4, 7, 163, 1142},
    {5, 100, 208, 20888}, {6, 3, 326, 979}, {7, 0, 652, 167109}, {7, 1, 652, 652},
};

class MfpPeriodTest : public ::testing::TestWithParam<PeriodRow> {};

TEST_P(MfpPeriodTest, EveryTimerTakesTheConvertedPeriod) {
    const PeriodRow row = GetParam();
    Mfp mfp;
    mfp.PowerOn();
    mfp.Reset();
    // Timer A by its data and control registers.
    mfp.WriteByte(kTadr, row.data, 0);
    mfp.WriteByte(kTacr, row.control, 1000);
    mfp.WriteByte(kIera, 0xFF, 1000);  // already enabled by the reset: no restart
    EXPECT_EQ(mfp.Timer(kTimerA).tick, row.tick);
    EXPECT_EQ(mfp.Timer(kTimerA).period, row.period);
    EXPECT_EQ(mfp.Timer(kTimerA).expiry, 1000 + row.period);
    // Timer B in delay mode.
    mfp.WriteByte(kTbdr, row.data, 0);
    mfp.WriteByte(kTbcr, row.control, 2000);
    EXPECT_EQ(mfp.Timer(kTimerB).period, row.period);
    EXPECT_EQ(mfp.Timer(kTimerB).expiry, 2000 + row.period);
    // Timers C and D share a control register.
    mfp.WriteByte(kTcdr, row.data, 0);
    mfp.WriteByte(kTddr, row.data, 0);
    mfp.WriteByte(kTcdcr, static_cast<uint8_t>(row.control << 4 | row.control), 3000);
    EXPECT_EQ(mfp.Timer(kTimerC).period, row.period);
    EXPECT_EQ(mfp.Timer(kTimerD).period, row.period);
    EXPECT_EQ(mfp.Timer(kTimerD).expiry, 3000 + row.period);
}

INSTANTIATE_TEST_SUITE_P(Rows, MfpPeriodTest, ::testing::ValuesIn(kPeriods));

// ---- timer modes ----------------------------------------------------------------------------

TEST_F(MfpTest, RewritingTheSameControlDoesNotRestartButTheDataRegisterDoes) {
    mfp.WriteByte(kTadr, 10, 0);
    mfp.WriteByte(kTacr, 7, 100);
    const Cycles expiry = mfp.Timer(kTimerA).expiry;
    mfp.WriteByte(kTacr, 7, 500);
    EXPECT_EQ(mfp.Timer(kTimerA).expiry, expiry);
    mfp.WriteByte(kTadr, 10, 900);
    EXPECT_EQ(mfp.Timer(kTimerA).expiry, 900 + 6527);  // 2000 counts
}

TEST_F(MfpTest, DataRegisterReadsTheCountLeftInDelayMode) {
    mfp.WriteByte(kTadr, 100, 0);
    mfp.WriteByte(kTacr, 7, 0);  // tick 652
    const Cycles expiry = mfp.Timer(kTimerA).expiry;
    EXPECT_EQ(mfp.ReadByte(kTadr, 0), 100);
    EXPECT_EQ(mfp.ReadByte(kTadr, expiry - 652 * 60), 60);
    EXPECT_EQ(mfp.ReadByte(kTadr, expiry - 652 * 60 + 1), 59);
    mfp.WriteByte(kTacr, 0, 0);  // stopped: the stored value
    EXPECT_EQ(mfp.ReadByte(kTadr, 652 * 40), 100);
    // C and D count only while their interrupt is enabled.
    mfp.WriteByte(kTddr, 50, 0);
    mfp.WriteByte(kTcdcr, 0x07, 0);
    EXPECT_EQ(mfp.ReadByte(kTddr, 652 * 10), 40);
    mfp.WriteByte(kIerb, 0xEF, 0);
    EXPECT_EQ(mfp.ReadByte(kTddr, 652 * 10), 50);
}

TEST_F(MfpTest, TimerBEventCountModeCountsAndReloadsFromTheDataRegister) {
    mfp.WriteByte(kTbdr, 3, 0);
    mfp.WriteByte(kTbcr, 8, 0);
    EXPECT_TRUE(mfp.TimerRuns(kTimerB));
    EXPECT_TRUE(mfp.TimerBCountsEvents());
    EXPECT_EQ(mfp.ReadByte(kTbdr, 0), 3);
    EXPECT_FALSE(mfp.CountTimerBEvent());
    mfp.WriteByte(kTbdr, 5, 0);  // the count goes on; the next reload takes it
    EXPECT_EQ(mfp.ReadByte(kTbdr, 0), 2);
    EXPECT_FALSE(mfp.CountTimerBEvent());
    EXPECT_TRUE(mfp.CountTimerBEvent());
    EXPECT_EQ(mfp.ReadByte(kTbdr, 0), 5);
    // Data 0 counts 256 events.
    mfp.WriteByte(kTbdr, 0, 0);
    mfp.WriteByte(kTbcr, 8, 0);
    for (int i = 0; i < 255; ++i) ASSERT_FALSE(mfp.CountTimerBEvent());
    EXPECT_TRUE(mfp.CountTimerBEvent());
}

TEST_F(MfpTest, PulseAndEventModesLeaveTheCycleTimerAsItWas) {
    mfp.WriteByte(kTadr, 10, 0);
    mfp.WriteByte(kTacr, 1, 0);
    const MfpTimer before = mfp.Timer(kTimerA);
    mfp.WriteByte(kTacr, 9, 5000);  // pulse width, divide by 4
    EXPECT_EQ(mfp.Timer(kTimerA).expiry, before.expiry);
    mfp.WriteByte(kTacr, 8, 6000);  // event count
    EXPECT_EQ(mfp.Timer(kTimerA).expiry, before.expiry);
    mfp.WriteByte(kTbdr, 4, 0);
    mfp.WriteByte(kTbcr, 8, 0);
    mfp.WriteByte(kTbcr, 9, 0);  // pulse width on timer B: the event counter is not reloaded
    EXPECT_EQ(mfp.TimerBCounter(), 4);
    mfp.WriteByte(kTacr, 0x10, 0);  // bit 4 (output reset) stops it
    EXPECT_FALSE(mfp.TimerRuns(kTimerA));
}

TEST_F(MfpTest, TimersCAndDStopWithTheirNibbleOrInterruptEnable) {
    mfp.WriteByte(kTddr, 2, 0);
    mfp.WriteByte(kTcdr, 2, 0);
    mfp.WriteByte(kTcdcr, 0x51, 0);  // C divide by 64, D by 4
    EXPECT_EQ(mfp.Timer(kTimerD).period, 26);
    EXPECT_EQ(mfp.Timer(kTimerC).period, 2 * 64 * 8021247 / 2457600);
    mfp.WriteByte(kTcdcr, 0x50, 0);
    EXPECT_EQ(mfp.Timer(kTimerD).expiry, static_cast<Cycles>(0xFFFFFFFF));
    EXPECT_FALSE(mfp.TimerRuns(kTimerD));
    EXPECT_TRUE(mfp.TimerRuns(kTimerC));
    mfp.WriteByte(kIerb, 0xDF, 0);  // timer C's enable off
    EXPECT_EQ(mfp.Timer(kTimerC).expiry, static_cast<Cycles>(0xFFFFFFFF));
    EXPECT_FALSE(mfp.TimerRuns(kTimerC));
}

// ---- interrupt controller -------------------------------------------------------------------

TEST_F(MfpTest, MaskedChannelIsLeftPendingAndPostedByTheRetry) {
    mfp.WriteByte(kVr, 0x40, 0);
    EXPECT_FALSE(mfp.Request(kChannelTimerA));
    EXPECT_EQ(mfp.Register(kIpra), 0x20);
    EXPECT_TRUE(g_posts.empty());
    EXPECT_FALSE(mfp.Retry(kChannelTimerA));  // still masked
    mfp.WriteByte(kImra, 0x20, 0);
    EXPECT_TRUE(mfp.Retry(kChannelTimerA));
    ASSERT_EQ(g_posts.size(), 1u);
    EXPECT_EQ(g_posts[0].level, 6);
    EXPECT_EQ(g_posts[0].vector, 0x4D);
    EXPECT_EQ(mfp.Register(kIpra), 0);
    EXPECT_EQ(mfp.Register(kIsra), 0);  // automatic end of interrupt
}

TEST_F(MfpTest, InServiceChannelBlocksItselfAndLowerChannelsButNotHigher) {
    mfp.WriteByte(kVr, 0x48, 0);  // software end of interrupt
    mfp.WriteByte(kImra, 0xFF, 0);
    mfp.WriteByte(kImrb, 0xFF, 0);
    ASSERT_TRUE(mfp.Request(kChannelTimerB));  // channel 8
    EXPECT_EQ(mfp.Register(kIsra), 0x01);

    EXPECT_FALSE(mfp.Request(kChannelTimerB));
    EXPECT_FALSE(mfp.Request(kChannelTimerC));
    EXPECT_EQ(mfp.Register(kIpra), 0x01);
    EXPECT_EQ(mfp.Register(kIprb), 0x20);
    EXPECT_TRUE(mfp.Request(kChannelTimerA));  // 13 is above 8
    EXPECT_EQ(g_posts.back().vector, 0x4D);

    // The handler ends its service by clearing the in-service bits; the waiting ones follow.
    mfp.WriteByte(kIsra, 0xDF, 0);
    EXPECT_EQ(mfp.Register(kIsra), 0x01);
    mfp.WriteByte(kIsra, 0xFE, 0);
    EXPECT_TRUE(mfp.Retry(kChannelTimerB));
    EXPECT_EQ(g_posts.back().vector, 0x48);
    EXPECT_FALSE(mfp.Retry(kChannelTimerC));  // channel 8 in service again
}

TEST_F(MfpTest, RefusedPostStaysPending) {
    mfp.WriteByte(kImrb, 0xFF, 0);
    g_refuse = 1;
    EXPECT_FALSE(mfp.Request(kChannelTimerD));
    EXPECT_EQ(mfp.Register(kIprb), 0x10);
    EXPECT_FALSE(mfp.Retry(kChannelTimerD));
    EXPECT_EQ(mfp.Register(kIprb), 0x10);
    g_refuse = 0;
    EXPECT_TRUE(mfp.Retry(kChannelTimerD));
    EXPECT_EQ(mfp.Register(kIprb), 0);
    mfp.WriteByte(kIpra, 0, 0);
    mfp.SetPending(kChannelTimerA);
    mfp.WriteByte(kImra, 0xFF, 0);
    EXPECT_FALSE(mfp.Retry(kChannelTimerA, true));  // discarded
    EXPECT_EQ(mfp.Register(kIpra), 0);
}

TEST_F(MfpTest, RegisterWriteRules) {
    mfp.WriteByte(kIsra, 0xFF, 0);  // the CPU cannot set in-service bits
    EXPECT_EQ(mfp.Register(kIsra), 0);
    mfp.WriteByte(kVr, 0x48, 0);
    mfp.WriteByte(kImra, 0xFF, 0);
    mfp.Request(kChannelTimerA);
    mfp.WriteByte(kVr, 0x48, 0);
    EXPECT_EQ(mfp.Register(kIsra), 0x20);
    mfp.WriteByte(kVr, 0x40, 0);
    EXPECT_EQ(mfp.Register(kIsra), 0);

    mfp.SetPending(kChannelTimerA);
    mfp.SetPending(kChannelAcia);
    mfp.WriteByte(kIera, 0xDF, 0);
    EXPECT_EQ(mfp.Register(kIpra), 0);
    mfp.WriteByte(kIerb, 0xBF, 0);
    EXPECT_EQ(mfp.Register(kIprb), 0x40);

    mfp.WriteByte(kGpip, 0x00, 0);
    EXPECT_EQ(mfp.ReadByte(kGpip, 0), 0x80);
    mfp.SetInputLine(kGpipAcia, false);
    mfp.SetInputLine(kGpipAcia, true);
    EXPECT_EQ(mfp.ReadByte(kGpip, 0), 0x90);
}

// Input 4 (the ACIAs' line, channel 6) through the active edge register: the interrupt comes
// on the active edge only, and only while the channel is enabled and unmasked.
struct EdgeRow {
    const char* name;
    uint8_t aer, ierb, imrb;
    bool toHigh;      // the edge driven: low to high, or high to low
    uint8_t pending;  // IPRB afterwards
    bool posted;
};

class MfpInputEdgeTest : public MfpTest, public ::testing::WithParamInterface<EdgeRow> {};

TEST_P(MfpInputEdgeTest, InterruptOnlyOnTheActiveEdgeWhenEnabledAndUnmasked) {
    const EdgeRow row = GetParam();
    mfp.WriteByte(kVr, 0x40, 0);
    mfp.WriteByte(kAer, row.aer, 0);
    mfp.WriteByte(kIerb, row.ierb, 0);
    mfp.WriteByte(kImrb, row.imrb, 0);
    mfp.SetInputLine(kGpipAcia, !row.toHigh);  // the level before the edge: no edge when unchanged
    mfp.WriteByte(kIprb, 0, 0);
    g_posts.clear();
    mfp.SetInputLine(kGpipAcia, row.toHigh);
    mfp.SetInputLine(kGpipAcia, row.toHigh);  // no change, no edge
    EXPECT_EQ(mfp.Register(kIprb), row.pending);
    ASSERT_EQ(g_posts.size(), row.posted ? 1u : 0u);
    if (row.posted) {
        EXPECT_EQ(g_posts[0].vector, 0x46);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, MfpInputEdgeTest,
                         ::testing::Values(
                             //      name                 AER   IERB  IMRB  to high pending posted
                             EdgeRow{"falling_active", 0x00, 0x40, 0x40, false, 0x00, true},
                             EdgeRow{"rising_inactive", 0x00, 0x40, 0x40, true, 0x00, false},
                             EdgeRow{"rising_active", 0x10, 0x40, 0x40, true, 0x00, true},
                             EdgeRow{"falling_inactive", 0x10, 0x40, 0x40, false, 0x00, false},
                             EdgeRow{"disabled", 0x00, 0x00, 0x40, false, 0x00, false},
                             EdgeRow{"masked_waits_pending", 0x00, 0x40, 0x00, false, 0x40, false},
                             EdgeRow{"other_lines_rising", 0xEF, 0x40, 0x40, false, 0x00, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MfpTest, WordAccessesUseTheLowByteAndTheEvenStorage) {
    mfp.WriteWord(0x16, 0x1240, 0);  // VR
    EXPECT_EQ(mfp.Register(kVr), 0x40);
    EXPECT_EQ(mfp.ReadWord(0x16, 0), 0x0040);  // even storage byte 0
    mfp.WriteWord(0x30, 0xAA55, 0);            // storage past the USART
    EXPECT_EQ(mfp.Register(0x31), 0x55);
    mfp.WriteByte(kTadr, 7, 0);
    EXPECT_EQ(mfp.ReadWord(0x1E, 0), 0xFF07);
    EXPECT_EQ(mfp.ReadWord(0x00, 0) & 0xFF80, 0xFF80);
}

TEST_F(MfpTest, PowerOnAndResetValues) {
    Mfp fresh;
    fresh.PowerOn();
    EXPECT_EQ(fresh.Register(kGpip), 0xFF);
    EXPECT_EQ(fresh.Register(0x00), 0x00);
    EXPECT_EQ(fresh.Register(0x40), 0xFF);
    EXPECT_EQ(fresh.Timer(kTimerA).tick, 1);
    fresh.WriteByte(kImra, 0x55, 0);
    fresh.WriteByte(kTadr, 9, 0);
    fresh.Reset();
    EXPECT_EQ(fresh.Register(kIera), 0xFF);
    EXPECT_EQ(fresh.Register(kImra), 0);
    EXPECT_EQ(fresh.Register(kVr), 8);
    EXPECT_EQ(fresh.Register(kTadr), 9);    // data registers survive
    EXPECT_EQ(fresh.Register(kDdr), 0xFF);  // as do GPIP, AER, DDR
    for (auto id : {kTimerA, kTimerB, kTimerC, kTimerD})
        EXPECT_EQ(fresh.Timer(id).expiry, static_cast<Cycles>(0xFFFFFFFF));
}

}  // namespace
}  // namespace vexil

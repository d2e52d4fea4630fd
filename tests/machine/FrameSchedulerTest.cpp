#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "io/IoDispatch.h"
#include "machine/FrameScheduler.h"

namespace vexil {
namespace {

using namespace mfp;

struct Post {
    int32_t level, vector;
    int64_t cycle;  // since the first frame's start
};
std::vector<Post> g_posts;
int64_t g_frameBase = 0;
bool g_refuse = false;

bool g_level6 = false;  // the MFP asks for level 6

int32_t FakeRaise(void*, int32_t level, int32_t vector) {
    if (g_refuse) return 1;
    if (level == 6) {
        if (g_level6) return 1;
        g_level6 = true;
        return 0;
    }
    g_posts.push_back({level, vector, g_frameBase + g_cpu.clock});
    return 0;
}

// Drives the scheduler as the machine does, with a CPU that runs exactly its budget and takes
// every interrupt at once.
class FrameSchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_posts.clear();
        g_frameBase = 0;
        g_refuse = false;
        g_level6 = false;
        mfp.PowerOn();
        mfp.sink.raise = FakeRaise;
        mfp.WriteByte(kIera, 0xFF, 0);  // every channel enabled, as the tests below expect
        mfp.WriteByte(kIerb, 0xFF, 0);
        g_cpu = CpuState{};
        g_cpu.sr = 0x2000;
        s.interruptSink.raise = FakeRaise;
        s.Attach(&mfp, nullptr, nullptr);
    }
    void TearDown() override { g_cpu = CpuState{}; }

    // Runs one frame; returns the budgets handed out.
    std::vector<int32_t> RunFrame() {
        std::vector<int32_t> budgets;
        for (;;) {
            const int32_t r = s.ServiceEvents();
            TakeInterrupts();
            if (r == -1) break;
            if (r > 0) {
                budgets.push_back(r);
                g_cpu.clock += r;
            }
        }
        g_frameBase += kCyclesPerFrame;
        return budgets;
    }
    // The CPU takes what the MFP asks for at once, unless its mask keeps level 6 out.
    void TakeInterrupts() {
        while (g_level6 && (g_cpu.sr & kSrMask) < 0x600) {
            g_level6 = false;
            const int32_t vector = mfp.Acknowledge();
            if (vector >= 0) g_posts.push_back({6, vector, g_frameBase + g_cpu.clock});
        }
    }
    std::vector<int64_t> PostsAt(int32_t level, int32_t vector = -1) {
        std::vector<int64_t> cycles;
        for (const Post& p : g_posts)
            if (p.level == level && (vector == -1 || p.vector == vector)) cycles.push_back(p.cycle);
        return cycles;
    }
    void Write(unsigned reg, uint8_t value) { mfp.WriteByte(reg, value, g_cpu.clock); }

    Mfp mfp;
    FrameScheduler s;
};

TEST_F(FrameSchedulerTest, HblAndVblComeAtTheirCyclesFrameAfterFrame) {
    for (int frame = 0; frame < 3; ++frame) {
        const std::vector<int32_t> budgets = RunFrame();
        for (int32_t b : budgets) ASSERT_TRUE(b >= 4 && b % 4 == 0) << b;
        EXPECT_EQ(g_cpu.clock, 0);  // exact budgets leave nothing to carry
    }
    const std::vector<int64_t> hbl = PostsAt(2), vbl = PostsAt(4);
    ASSERT_EQ(hbl.size(), 3u * 313);
    for (size_t i = 0; i < hbl.size(); ++i) ASSERT_EQ(hbl[i], 16 + 512 * int64_t(i)) << i;
    EXPECT_EQ(vbl, (std::vector<int64_t>{80, 80 + 160256, 80 + 2 * 160256}));
}

TEST_F(FrameSchedulerTest, BudgetEndsAtTheNextEventAndNamesIt) {
    EXPECT_EQ(s.ServiceEvents(), 16);
    EXPECT_EQ(s.nextEventKind, kEventHbl);
    g_cpu.clock = 16;
    EXPECT_EQ(s.ServiceEvents(), 0);
    EXPECT_EQ(s.nextEventKind, kEventHbl);
    EXPECT_EQ(s.ServiceEvents(), 64);
    EXPECT_EQ(s.nextEventKind, kEventVbl);
    g_cpu.clock = 81;  // an instruction ran past the VBL: handled, then the next event rounded up
    EXPECT_EQ(s.ServiceEvents(), 0);
    EXPECT_EQ(s.ServiceEvents(), (432 - 81 + 3) & ~3);
    EXPECT_EQ(s.nextEventKind, kEventTimerB);  // the line event
}

TEST_F(FrameSchedulerTest, OnEqualTimesTheEarlierSourceInTheOrderGoesFirst) {
    Write(kImrb, 0x10);
    Write(kVr, 0x40);
    Write(kTddr, 2);
    g_cpu.clock = 501;
    Write(kTcdcr, 0x01);  // timer D: 26.11 cycles, seen at 528 with the second HBL
    while (s.ServiceEvents() == 0) {
    }
    EXPECT_EQ(s.nextEventKind, kEventTimerD);
    g_cpu.clock = 528;
    EXPECT_EQ(s.ServiceEvents(), 0);
    EXPECT_EQ(s.nextEventKind, kEventTimerD);
    EXPECT_EQ(s.ServiceEvents(), 0);
    EXPECT_EQ(s.nextEventKind, kEventHbl);
}

TEST_F(FrameSchedulerTest, OvershootIsCarriedIntoTheNextFrame) {
    g_cpu.clock = kCyclesPerFrame + 20;
    EXPECT_EQ(s.ServiceEvents(), -1);
    EXPECT_EQ(g_cpu.clock, 20);
    EXPECT_EQ(s.nextVbl, 80);
    EXPECT_EQ(s.frameCount, 331);
}

TEST_F(FrameSchedulerTest, RefusedHblIsDropped) {
    g_refuse = true;
    g_cpu.clock = 16;
    EXPECT_EQ(s.ServiceEvents(), 64);  // nothing posted, on to the VBL
    EXPECT_EQ(s.nextHbl, 16 + 512);
}

TEST_F(FrameSchedulerTest, TimerBCountsDisplayLinesAtTheJitteredLineEnds) {
    Write(kAer, 0x00);
    Write(kImra, 0x01);
    Write(kVr, 0x40);
    Write(kTbdr, 1);
    Write(kTbcr, 8);
    for (int frame = 0; frame < 3; ++frame) {
        const int32_t frameCount = s.frameCount;
        const Cycles start = frame == 0 ? 0 : kLineEventJitter[(frameCount - 1) % 33];
        const size_t before = g_posts.size();
        RunFrame();
        const std::vector<Post> posts(g_posts.begin() + before, g_posts.end());
        std::vector<int64_t> timerB;
        for (const Post& p : posts)
            if (p.vector == 0x48) timerB.push_back(p.cycle - frame * int64_t(kCyclesPerFrame));
        ASSERT_EQ(timerB.size(), 200u) << frame;
        for (int line = 64; line <= 263; ++line) {
            const Cycles due =
                start + 432 + 512 * (line - 1) + kLineEventJitter[((frameCount - (line - 1)) % 33 + 33) % 33];
            ASSERT_EQ(timerB[line - 64], due) << "frame " << frame << " line " << line;
        }
    }
}

TEST_F(FrameSchedulerTest, OpenBottomBorderKeepsTimerBCountingToTheFrameEnd) {
    Write(kImra, 0x01);
    Write(kVr, 0x40);
    Write(kTbdr, 1);
    Write(kTbcr, 8);
    s.border.bottomBorderOpen = 1;
    RunFrame();
    EXPECT_EQ(PostsAt(6).size(), 313u - 63);
    EXPECT_EQ(s.border.bottomBorderOpen, 0u);  // cleared at the frame start
    g_posts.clear();
    Write(kTbdr, 10);  // every tenth counted line, from the next reload
    RunFrame();
    EXPECT_EQ(PostsAt(6).size(), 20u);
}

TEST_F(FrameSchedulerTest, DelayTimerExpiresEveryPeriodAcrossFrames) {
    Write(kImra, 0x20);
    Write(kVr, 0x40);
    Write(kTadr, 0);  // 256 counts
    g_cpu.clock = 1000;
    Write(kTacr, 3);  // divide by 16: period 4096 counts, 13368.74 cycles
    RunFrame();       // starts at cycle 1000, as if the CPU had run that far
    RunFrame();
    const std::vector<int64_t> timerA = PostsAt(6, 0x4D);
    ASSERT_EQ(timerA.size(), 23u);
    for (size_t k = 0; k < timerA.size(); ++k) {
        // Seen at the first whole cycle at or after the exact time, taken at the bus slot
        // that holds it.
        const double exact = 1000 + (k + 1) * 4096.0 * kCpuClock / kTimerClock;
        ASSERT_GE(timerA[k], exact) << k;
        ASSERT_LT(timerA[k], exact + 4) << k;
    }
}

TEST_F(FrameSchedulerTest, SoftwareEndOfInterruptHoldsTheChannelUntilServiceEnds) {
    Write(kImra, 0x21);
    Write(kVr, 0x48);
    Write(kTadr, 10);
    Write(kTacr, 1);  // 40 counts: 130 cycles
    RunFrame();
    // Timer A stays in service: its own later expiries wait in IPRA.
    EXPECT_EQ(PostsAt(6, 0x4D).size(), 1u);
    EXPECT_EQ(mfp.Register(kIpra) & 0x20, 0x20);
    EXPECT_EQ(mfp.Register(kIsra), 0x20);
    // Ending the service lets the waiting request through.
    Write(kIsra, 0xDF);
    g_posts.clear();
    TakeInterrupts();
    EXPECT_EQ(PostsAt(6, 0x4D).size(), 1u);
}

TEST_F(FrameSchedulerTest, AutomaticEndOfInterruptPostsEveryExpiry) {
    Write(kImrb, 0x30);
    Write(kVr, 0x40);
    Write(kTcdr, 100);
    Write(kTddr, 50);
    Write(kTcdcr, 0x77);  // both divide by 200
    RunFrame();
    const Cycles periodC = 20000 * int64_t(8021247) / 2457600, periodD = 10000 * int64_t(8021247) / 2457600;
    EXPECT_EQ(PostsAt(6, 0x45).size(), static_cast<size_t>(kCyclesPerFrame / periodC));
    EXPECT_EQ(PostsAt(6, 0x44).size(), static_cast<size_t>(kCyclesPerFrame / periodD));
}

TEST_F(FrameSchedulerTest, UnderAFullCpuMaskTimeoutsWaitAndTheHigherChannelGoesFirst) {
    g_cpu.sr = 0x2700;
    Write(kVr, 0x40);
    Write(kImra, 0x20);
    Write(kImrb, 0x20);
    Write(kTcdr, 10);
    Write(kTcdcr, 0x10);  // timer C first: 130 cycles
    Write(kTadr, 20);
    Write(kTacr, 1);  // then timer A: 261 cycles
    g_cpu.clock = 300;
    while (s.ServiceEvents() == 0) {
    }
    EXPECT_TRUE(PostsAt(6).empty());
    EXPECT_EQ(mfp.Register(kIpra), 0x20);
    EXPECT_EQ(mfp.Register(kIprb), 0x20);
    g_cpu.sr = 0x2000;
    TakeInterrupts();
    EXPECT_EQ(PostsAt(6, 0x4D), (std::vector<int64_t>{300}));
    EXPECT_EQ(PostsAt(6, 0x45), (std::vector<int64_t>{300}));
    std::vector<int32_t> order;
    for (const Post& p : g_posts)
        if (p.level == 6) order.push_back(p.vector);
    EXPECT_EQ(order, (std::vector<int32_t>{0x4D, 0x45}));
}

// Timer B's split lands at the end of the counted line, or with AER bit 3 at its start.
class TimerBEdgeTest : public FrameSchedulerTest, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(TimerBEdgeTest, SplitLandsOnTheLineAtTheChosenEdge) {
    Write(kAer, GetParam());
    Write(kImra, 0x01);
    Write(kVr, 0x40);
    Write(kTbdr, 100);
    Write(kTbcr, 8);
    const int32_t frameCount = s.frameCount;
    RunFrame();
    // Every hundredth counted line: lines 163 and 263, counted from line 64.
    std::vector<int64_t> expected;
    for (int line : {163, 263}) {
        const Cycles end =
            432 + 512 * (line - 1) + kLineEventJitter[((frameCount - (line - 1)) % 33 + 33) % 33];
        expected.push_back(GetParam() & kAerTimerB ? end - 320 : end);
    }
    EXPECT_EQ(PostsAt(6, 0x48), expected);
}

INSTANTIATE_TEST_SUITE_P(Aer, TimerBEdgeTest, ::testing::Values(0x00, 0x08),
                         [](const auto& info) { return info.param ? "LineStart" : "LineEnd"; });

TEST_F(FrameSchedulerTest, TimerFallenBehindStillGetsAPositiveBudget) {
    Write(kImrb, 0x10);
    Write(kTddr, 2);
    Write(kTcdcr, 0x01);  // timer D: 26 cycles
    g_refuse = true;      // the CPU has a level 6 request waiting
    g_cpu.clock = 200;
    const int32_t budget = s.ServiceEvents();
    EXPECT_EQ(budget, 4);
    EXPECT_EQ(mfp.Expiry(kTimerD), 53);  // 52.22
}

// Timer D at TOS's serial rate with its interrupt off ends no budget at all; enabling its
// interrupt brings its timeouts back at their exact times.
TEST_F(FrameSchedulerTest, ATimerNobodySeesEndsNoBudget) {
    const size_t idle = RunFrame().size();
    Write(kIerb, 0x00);
    Write(kImrb, 0x10);
    Write(kVr, 0x40);
    Write(kTddr, 2);
    Write(kTcdcr, 0x01);  // timer D: divide 4, data 2, 26.11 cycles
    EXPECT_EQ(RunFrame().size(), idle);
    EXPECT_TRUE(PostsAt(6).empty());
    const int64_t start = g_frameBase - kCyclesPerFrame;  // timer D started a frame ago
    g_cpu.clock = 1000;
    Write(kIerb, 0x10);
    RunFrame();
    const std::vector<int64_t> timerD = PostsAt(6, 0x44);
    ASSERT_GE(timerD.size(), 6090u);  // (160256 - 1000) / 26.11
    const double period = 8.0 * kCpuClock / kTimerClock;
    int64_t k = static_cast<int64_t>((kCyclesPerFrame + 1000) / period) + 1;
    for (size_t n = 0; n < timerD.size(); ++n, ++k) {
        // Seen within a cycle of the exact time, taken at the bus slot that holds it.
        const double exact = static_cast<double>(start) + static_cast<double>(k) * period;
        ASSERT_GE(static_cast<double>(timerD[n]), exact) << n;
        ASSERT_LT(static_cast<double>(timerD[n]), exact + 4) << n;
    }
}

TEST_F(FrameSchedulerTest, TimerNeverGivenAPeriodDoesNotExpire) {
    Write(kImra, 0x20);
    Write(kTacr, 8);  // event count: no cycle period, and no input to count
    ASSERT_TRUE(mfp.CountsEvents(kTimerA));
    RunFrame();
    EXPECT_EQ(PostsAt(6).size(), 0u);
}

TEST_F(FrameSchedulerTest, KeyboardTicksEvery10016CyclesAcrossFrames) {
    std::vector<int64_t> ticks;
    s.hooks.keyboardTick = [&] {
        ticks.push_back(g_frameBase + g_cpu.clock);
        if (ticks.size() == 3) mfp.SetInputLine(kGpipAcia, false);  // the ACIA has a byte
    };
    Write(kAer, 0x00);
    Write(kImrb, 0x40);
    Write(kVr, 0x40);
    RunFrame();
    RunFrame();
    ASSERT_EQ(ticks.size(), 31u);  // 160256 = 16 x 10016; the 32nd falls on the third frame
    for (size_t k = 0; k < ticks.size(); ++k) ASSERT_EQ(ticks[k], 10016 * int64_t(k + 1));
    EXPECT_EQ(PostsAt(6, 0x46), (std::vector<int64_t>{3 * 10016}));
}

// A chip's events: run at their due cycle in their source's place in the order, carried over
// the frame end, cancelled and rescheduled by the chip; an interrupt one raises ends the call.
struct FakeChip {
    FakeChip(FrameScheduler* s, Mfp* m) : scheduler(s), mfp(m) {}
    FrameScheduler* scheduler;
    Mfp* mfp;
    int event = -1;
    std::vector<int64_t> runs;
    int again = 0;  // reschedule this many times, 70000 cycles apart
};

void FakeChipEvent(void* context, Cycles due) {
    auto* chip = static_cast<FakeChip*>(context);
    chip->runs.push_back(g_frameBase + due);
    if (chip->again-- > 0) chip->scheduler->events.Schedule(chip->event, due + 70000);
    chip->mfp->SetInputLine(kGpipFloppy, chip->runs.size() % 2 == 0);
}

TEST_F(FrameSchedulerTest, ChipEventsRunAtTheirTimeAndCarryOverTheFrameEnd) {
    FakeChip chip(&s, &mfp);
    chip.event = s.events.RegisterEvent(kEventFdc, FakeChipEvent, &chip);
    ASSERT_EQ(chip.event, 0);
    Write(kAer, 0x00);  // falling edges are active
    Write(kImrb, 0x80);
    Write(kVr, 0x40);
    chip.again = 3;
    s.events.Schedule(chip.event, 5000);
    RunFrame();
    RunFrame();
    EXPECT_EQ(chip.runs, (std::vector<int64_t>{5000, 75000, 145000, 215000}));
    // Input 5 falls on every odd run: the floppy channel is posted then, at the event's cycle.
    EXPECT_EQ(PostsAt(6, 0x47), (std::vector<int64_t>{5000, 145000}));
    EXPECT_FALSE(s.events.Scheduled(chip.event));

    s.events.Schedule(chip.event, 1000);
    s.events.Cancel(chip.event);
    RunFrame();
    EXPECT_EQ(chip.runs.size(), 4u);
}

TEST_F(FrameSchedulerTest, ChipEventsTakeTheirSourcesPlaceOnEqualTimes) {
    FakeChip floppy(&s, &mfp), acia(&s, &mfp);
    acia.event = s.events.RegisterEvent(kEventAcia, FakeChipEvent, &acia);
    floppy.event = s.events.RegisterEvent(kEventFdc, FakeChipEvent, &floppy);
    s.events.Schedule(acia.event, 528);
    s.events.Schedule(floppy.event, 528);  // with the second HBL
    g_cpu.clock = 520;
    int32_t budget;
    while ((budget = s.ServiceEvents()) == 0) {  // the first HBL and the VBL, late
    }
    EXPECT_EQ(budget, 8);
    EXPECT_EQ(s.nextEventKind, kEventFdc);  // the floppy comes before the ACIAs and the HBL
    g_cpu.clock = 528;
    while (s.ServiceEvents() == 0) {
    }
    EXPECT_EQ(floppy.runs, (std::vector<int64_t>{528}));
    EXPECT_EQ(acia.runs, (std::vector<int64_t>{528}));
    EXPECT_EQ(PostsAt(2).back(), 528);
}

// Events of one source run in registration order whichever else is registered between them; a
// handler's changes to the events still ahead of the pass take effect in the same pass.
struct LoggedEvent {
    FrameScheduler* scheduler;
    std::vector<char>* log;
    char name;
    int event = -1;
    int schedules = -1, cancels = -1;  // events this one schedules now or cancels when it runs
};

void LogEvent(void* context, Cycles due) {
    auto* e = static_cast<LoggedEvent*>(context);
    e->log->push_back(e->name);
    if (e->schedules >= 0) e->scheduler->events.Schedule(e->schedules, due);
    if (e->cancels >= 0) e->scheduler->events.Cancel(e->cancels);
}

TEST_F(FrameSchedulerTest, EventsOfOneSourceRunInRegistrationOrder) {
    std::vector<char> log;
    const std::pair<EventKind, char> registered[] = {{kEventAcia, 'a'},   {kEventFdc, 'F'}, {kEventAcia, 'b'},
                                                     {kEventTimerD, 'U'}, {kEventFdc, 'G'}, {kEventAcia, 'c'},
                                                     {kEventAcia, 'd'}};
    std::vector<LoggedEvent> events;
    for (const auto& [kind, name] : registered) events.push_back({&s, &log, name});
    for (size_t n = 0; n < events.size(); ++n)
        events[n].event = s.events.RegisterEvent(registered[n].first, LogEvent, &events[n]);
    events[0].schedules = 5;  // a: schedules c, due at once
    events[0].cancels = 2;    // and cancels b
    events[5].schedules = 0;  // c: schedules a again, which has had its turn in this pass
    for (int n : {0, 1, 2, 3, 4, 6}) s.events.Schedule(n, 8);
    g_cpu.clock = 8;  // before the first HBL: one pass
    EXPECT_GT(s.ServiceEvents(), 0);
    EXPECT_EQ(std::string(log.begin(), log.end()), "FGacdU");
    EXPECT_TRUE(s.events.Scheduled(0));
    EXPECT_FALSE(s.events.Scheduled(2));
    g_cpu.clock = 12;
    EXPECT_GT(s.ServiceEvents(), 0);
    EXPECT_EQ(std::string(log.begin(), log.end()), "FGacdUac");
}

TEST_F(FrameSchedulerTest, EventSlotsAreLimited) {
    FakeChip chip(&s, &mfp);
    for (int n = 0; n < kMaxChipEvents; ++n)
        ASSERT_EQ(s.events.RegisterEvent(kEventAcia, FakeChipEvent, &chip), n);
    EXPECT_EQ(s.events.RegisterEvent(kEventAcia, FakeChipEvent, &chip), -1);
}

TEST_F(FrameSchedulerTest, ScreenSnapshotWrapsAtTheTopOfRam) {
    auto ram = std::make_unique<uint8_t[]>(kRamBytes);
    for (uint32_t i = 0; i < kRamBytes; ++i) ram[i] = static_cast<uint8_t>(i >> 8);
    s.Attach(&mfp, nullptr, ram.get());
    s.hooks.videoBase = [] { return 0x3FF800u; };  // 2 KB below the top of RAM: the copy wraps
    g_cpu.clock = kCyclesPerFrame;
    EXPECT_EQ(s.ServiceEvents(), -1);
    EXPECT_EQ(s.ScreenSnapshot()[0], 0xF8);
    EXPECT_EQ(s.ScreenSnapshot()[0x800], 0x00);
    EXPECT_EQ(s.ScreenSnapshot()[0xFFFF], 0xF7);
}

}  // namespace
}  // namespace vexil

namespace vexil {
namespace {

// A timing switch at a line's cycle `cycle`: before the line's decision point (cycle 94) the
// line takes the new length, after it the next line does; the frame ends at the last line of
// the mode the counter meets, or at once when it is already past it.
struct SwitchRow {
    const char* name;
    VideoTiming from, to;
    int32_t line;
    Cycles cycle;
    Cycles frame, next;  // the cycles of the frame switched in and of the one after
    int32_t hbls;        // HBLs in the frame switched in
};

class TimingSwitchTest : public FrameSchedulerTest, public ::testing::WithParamInterface<SwitchRow> {};

TEST_P(TimingSwitchTest, LineLengthIsDecidedAtCycle94) {
    const SwitchRow& row = GetParam();
    s.lines.SetTiming(0, row.from);
    RunFrame();  // a whole frame of the first timing
    g_posts.clear();
    const Cycles at = s.lines.LineStart(row.line) + row.cycle;
    bool switched = false;
    for (;;) {
        const int32_t r = s.ServiceEvents();
        TakeInterrupts();
        if (r == -1) break;
        if (!switched && g_cpu.clock + r > at) {
            g_cpu.clock = at;
            s.lines.SetTiming(at, row.to);
            switched = true;
            continue;
        }
        g_cpu.clock += r;
    }
    EXPECT_EQ(s.LastFrameCycles(), row.frame);
    EXPECT_EQ(PostsAt(2).size(), static_cast<size_t>(row.hbls));
    RunFrame();
    EXPECT_EQ(s.LastFrameCycles(), row.next);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, TimingSwitchTest,
    ::testing::Values(
        SwitchRow{"sixty_before_94", kTiming50Hz, kTiming60Hz, 100, 90, 100 * 512 + 163 * 508, 133604, 263},
        SwitchRow{"sixty_at_94", kTiming50Hz, kTiming60Hz, 100, 94, 101 * 512 + 162 * 508, 133604, 263},
        SwitchRow{"sixty_on_the_last_line", kTiming50Hz, kTiming60Hz, 312, 90, 312 * 512 + 508, 133604, 313},
        SwitchRow{"sixty_after_the_last_decision", kTiming50Hz, kTiming60Hz, 312, 98, 160256, 133604, 313},
        SwitchRow{"sixty_past_its_last_line", kTiming50Hz, kTiming60Hz, 280, 200, 281 * 512 + 508, 133604,
                  282},
        SwitchRow{"fifty_from_sixty", kTiming60Hz, kTiming50Hz, 10, 0, 10 * 508 + 303 * 512, 160256, 313},
        SwitchRow{"mono_from_sixty", kTiming60Hz, kTiming71Hz, 10, 0, 10 * 508 + 491 * 224, 112224, 501},
        SwitchRow{"sixty_from_mono", kTiming71Hz, kTiming60Hz, 100, 93, 100 * 224 + 163 * 508, 133604, 263}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

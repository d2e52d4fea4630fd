#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "io/IoDispatch.h"
#include "io/IoState.h"
#include "video/FrameScheduler.h"

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

int32_t FakeRaise(int32_t level, int32_t vector) {
    if (g_refuse) return 1;
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
        IoInit();
        g_io.mfp.PowerOn();
        g_io.mfp.Reset();
        g_io.mfp.sink = FakeRaise;
        g_cpu = CpuState{};
        g_cpu.sr = 0x2000;
        s.interruptSink = FakeRaise;
    }
    void TearDown() override {
        g_io.mfp.sink = nullptr;
        g_cpu = CpuState{};
    }

    // Runs one frame; returns the budgets handed out.
    std::vector<int32_t> RunFrame() {
        std::vector<int32_t> budgets;
        for (;;) {
            const int32_t r = s.ServiceEvents();
            if (r == -1) break;
            if (r > 0) {
                budgets.push_back(r);
                g_cpu.clock += r;
            }
        }
        g_frameBase += kCyclesPerFrame;
        return budgets;
    }
    std::vector<int64_t> PostsAt(int32_t level, int32_t vector = -1) {
        std::vector<int64_t> cycles;
        for (const Post& p : g_posts)
            if (p.level == level && (vector == -1 || p.vector == vector)) cycles.push_back(p.cycle);
        return cycles;
    }
    void Write(unsigned reg, uint8_t value) { g_io.mfp.WriteByte(reg, value, g_cpu.clock); }

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
    g_cpu.clock = 502;
    Write(kTcdcr, 0x01);  // timer D: 26 cycles, due at 528 with the second HBL
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
    s.bottomBorderOpen = 1;
    RunFrame();
    EXPECT_EQ(PostsAt(6).size(), 313u - 63);
    EXPECT_EQ(s.bottomBorderOpen, 0u);  // cleared at the frame start
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
    Write(kTacr, 3);  // divide by 16: period 4096 counts
    const Cycles period = 4096 * int64_t(8021247) / 2457600;
    ASSERT_EQ(g_io.mfp.Timer(kTimerA).period, period);
    RunFrame();  // starts at cycle 1000, as if the CPU had run that far
    RunFrame();
    const std::vector<int64_t> timerA = PostsAt(6, 0x4D);
    ASSERT_EQ(timerA.size(), static_cast<size_t>((2 * kCyclesPerFrame - 1000) / period));
    for (size_t k = 0; k < timerA.size(); ++k) {
        const int64_t expiry = 1000 + int64_t(k + 1) * period;
        ASSERT_EQ(timerA[k], (expiry + 3) & ~3) << k;
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
    EXPECT_EQ(g_io.mfp.Register(kIpra) & 0x20, 0x20);
    EXPECT_EQ(g_io.mfp.Register(kIsra), 0x20);
    // Ending the service lets the waiting request through at the next call.
    Write(kIsra, 0xDF);
    g_posts.clear();
    s.ServiceEvents();
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

TEST_F(FrameSchedulerTest, FullCpuMaskLeavesTimerARequestsWaitingAndDropsTimerC) {
    g_cpu.sr = 0x2700;
    Write(kImra, 0x20);
    Write(kImrb, 0x20);
    Write(kTadr, 10);
    Write(kTacr, 1);
    Write(kTcdr, 10);
    Write(kTcdcr, 0x10);
    const Cycles expiryC = g_io.mfp.Timer(kTimerC).expiry;
    g_cpu.clock = 200;
    s.ServiceEvents();
    EXPECT_TRUE(PostsAt(6).empty());
    EXPECT_EQ(g_io.mfp.Register(kIpra), 0x20);
    EXPECT_EQ(g_io.mfp.Register(kIprb), 0x00);
    EXPECT_EQ(g_io.mfp.Timer(kTimerC).expiry, expiryC + 130);
}

TEST_F(FrameSchedulerTest, TimerFallenBehindStillGetsAPositiveBudget) {
    Write(kImrb, 0x10);
    Write(kTddr, 2);
    Write(kTcdcr, 0x01);  // timer D: 26 cycles
    g_refuse = true;      // the CPU has a level 6 request waiting
    g_cpu.clock = 200;
    const int32_t budget = s.ServiceEvents();
    EXPECT_EQ(budget, 4);
    EXPECT_EQ(g_io.mfp.Timer(kTimerD).expiry, 52);
}

TEST_F(FrameSchedulerTest, TimerNeverGivenAPeriodDoesNotExpire) {
    Write(kImra, 0x20);
    Write(kTacr, 8);  // event count: no cycle period, and no input to count
    ASSERT_TRUE(g_io.mfp.TimerRuns(kTimerA));
    RunFrame();
    EXPECT_EQ(PostsAt(6).size(), 0u);
}

TEST_F(FrameSchedulerTest, KeyboardTicksEvery10016CyclesAcrossFrames) {
    std::vector<int64_t> ticks;
    s.hooks.keyboardTick = [&] {
        ticks.push_back(g_frameBase + g_cpu.clock);
        return ticks.size() == 3;  // the third tick delivers a byte
    };
    Write(kImrb, 0x40);
    Write(kVr, 0x40);
    RunFrame();
    RunFrame();
    ASSERT_EQ(ticks.size(), 31u);  // 160256 = 16 x 10016; the 32nd falls on the third frame
    for (size_t k = 0; k < ticks.size(); ++k) ASSERT_EQ(ticks[k], 10016 * int64_t(k + 1));
    EXPECT_EQ(PostsAt(6, 0x46), (std::vector<int64_t>{3 * 10016}));
    EXPECT_EQ(g_io.mfp.ReadByte(kGpip, 0) & 0x10, 0);
}

TEST_F(FrameSchedulerTest, FloppyCommandCompletesThenGoesIdle) {
    std::vector<std::string> calls;
    s.hooks.floppyApplyDma = [&] { calls.push_back("dma"); };
    s.hooks.floppyCommandDone = [&] { calls.push_back("done"); };
    s.hooks.floppyIdle = [&] { calls.push_back("idle"); };
    Write(kImrb, 0x80);
    Write(kVr, 0x40);
    s.floppy = {FloppyEvent::kCommandDone, 5000};
    RunFrame();
    EXPECT_EQ(calls, (std::vector<std::string>{"dma", "done"}));
    EXPECT_EQ(PostsAt(6, 0x47), (std::vector<int64_t>{5000}));
    EXPECT_EQ(g_io.mfp.ReadByte(kGpip, 0) & 0x20, 0);
    EXPECT_EQ(s.floppy.phase, FloppyEvent::kIdle);
    EXPECT_EQ(s.floppy.time, 5000 + kFloppyIdleCycles - kCyclesPerFrame);
    for (int frame = 1; frame < 91 && s.floppy.phase != FloppyEvent::kNone; ++frame) RunFrame();
    EXPECT_EQ(calls.back(), "idle");
    EXPECT_EQ(s.floppy.phase, FloppyEvent::kNone);
}

TEST_F(FrameSchedulerTest, FrameEndRunsItsWorkInOrderAndSnapsTheScreen) {
    auto ram = std::make_unique<uint8_t[]>(kRamBytes);
    for (uint32_t i = 0; i < kRamBytes; ++i) ram[i] = static_cast<uint8_t>(i >> 8);
    s.Attach(nullptr, ram.get());
    std::vector<std::string> calls;
    auto note = [&](const char* name) { return [&calls, name] { calls.push_back(name); }; };
    uint16_t pixels[4];
    s.hooks.terminateVideoLog = note("terminate video");
    s.hooks.lockBackBuffer = [&] {
        calls.push_back("lock");
        return BackBuffer{pixels, 4};
    };
    s.hooks.renderFrame = [&](BackBuffer) { calls.push_back("render"); };
    s.hooks.drawOverlays = [&](BackBuffer) { calls.push_back("overlays"); };
    s.hooks.unlockAndDraw = note("draw");
    s.hooks.present = note("present");
    s.hooks.terminateSoundLog = note("terminate sound");
    s.hooks.runDmaSound = note("dma sound");
    s.hooks.produceSound = [&](int32_t n) { calls.push_back("sound " + std::to_string(n)); };
    s.hooks.pollJoystick = note("joystick");
    s.hooks.startVideoFrame = note("start video");
    s.hooks.startSoundFrame = note("start sound");
    s.hooks.videoBase = [&] {
        calls.push_back("base");
        return 0x3FF800u;  // 2 KB below the top of RAM: the copy wraps
    };
    s.hooks.resetLineWindows = note("windows");
    g_cpu.clock = kCyclesPerFrame;
    EXPECT_EQ(s.ServiceEvents(), -1);
    EXPECT_EQ(calls, (std::vector<std::string>{"terminate video", "lock", "render", "overlays", "draw",
                                               "present", "terminate sound", "dma sound", "sound 881",
                                               "joystick", "start video", "start sound", "base", "windows"}));
    EXPECT_EQ(s.ScreenSnapshot()[0], 0xF8);
    EXPECT_EQ(s.ScreenSnapshot()[0x800], 0x00);
    EXPECT_EQ(s.ScreenSnapshot()[0xFFFF], 0xF7);

    // A sample count outside 1-4096 skips the sound.
    calls.clear();
    s.hooks.chooseSampleCount = [] { return 0; };
    g_cpu.clock = kCyclesPerFrame;
    s.ServiceEvents();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "sound 881"), 0);
}

}  // namespace
}  // namespace vexil

// The three video timings as a program on the machine measures them (video-timing.s): HBLs,
// timer B's display-enable edges, the video counter's steps and reload, the frame rate by
// timer A, the monitor-detect line, and the frame lengths around a switch of mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "support/Asm.h"

namespace vexil {
namespace {

constexpr uint32_t kScreen = 0x10000;  // the video base the program sets

class TimingProgram {
public:
    explicit TimingProgram(uint32_t monitor = 0)
        : machine_(MachineSettings{.Monitor = monitor}), program_(test::LoadAsm("video-timing")) {
        machine_.LoadBytes(program_.origin, program_.bytes.data(), program_.bytes.size());
        for (uint32_t vector = 2; vector < 256; ++vector)
            machine_.PokeLong(vector * 4, program_.Symbol("unexpected"));
        machine_.PokeLong(0, 0x8000);
        machine_.PokeLong(4, program_.Symbol("start"));
    }
    void Set(const char* name, uint8_t value) { machine_.LoadBytes(program_.Symbol(name), &value, 1); }
    void SetLong(const char* name, uint32_t value) { machine_.PokeLong(program_.Symbol(name), value); }
    // Runs `frames` frames; the length of each goes to `frameCycles`.
    void Run(int frames) {
        ASSERT_EQ(machine_.Reset(false), 0);
        for (int i = 0; i < frames; ++i) {
            ASSERT_EQ(machine_.RunFrame(), kRunBudgetSpent);
            frameCycles.push_back(machine_.Scheduler().LastFrameCycles());
        }
        ASSERT_EQ(Long("fault"), 0u) << "an exception nobody expected";
    }
    uint32_t Long(const char* name, uint32_t offset = 0) const {
        return machine_.PeekLong(program_.Symbol(name) + offset);
    }
    uint8_t Byte(const char* name) const { return machine_.PeekByte(program_.Symbol(name)); }

    std::vector<Cycles> frameCycles;

private:
    Machine machine_;
    test::AsmProgram program_;
};

struct TimingRow {
    const char* name;
    uint8_t sync, resolution, aer;
    uint32_t hbls, timerB;
    uint32_t bytesPerLine;
    double frameRate;
    int32_t pictureToReload;  // lines from the picture's first to the counter's reload
};

class VideoTimingTest : public ::testing::TestWithParam<TimingRow> {};

TEST_P(VideoTimingTest, ProgramCountsTheModesLinesAndEdges) {
    const TimingRow& row = GetParam();
    constexpr int kFrames = 24;
    {
        TimingProgram timers;
        timers.Set("sync", row.sync);
        timers.Set("res", row.resolution);
        timers.Set("aer", row.aer);
        timers.Set("timers", 1);
        timers.Run(kFrames);
        EXPECT_EQ(timers.Long("tb_frame"), row.timerB);
        // Timer A at 6,144 Hz from the fourth VBL to the last: 20 frames.
        ASSERT_EQ(timers.Long("frames"), static_cast<uint32_t>(kFrames));
        const double rate = 6144.0 * (kFrames - 4) / timers.Long("ta_count");
        EXPECT_NEAR(rate, row.frameRate, 0.05);
    }

    TimingProgram program;
    program.Set("sync", row.sync);
    program.Set("res", row.resolution);
    program.Run(6);
    EXPECT_EQ(program.Long("hbl_frame"), row.hbls);

    // The counter read in each HBL of the measured frame. The low byte gives the bytes fetched
    // since the previous line (less than 256); the whole value is steady in the border.
    const uint32_t lines = std::min<uint32_t>(row.hbls, 600);
    std::vector<uint32_t> counter(lines);
    for (uint32_t i = 0; i < lines; ++i) counter[i] = program.Long("counters", 4 * i) & 0xFFFFFF;
    std::map<uint32_t, int> steps;
    uint32_t fetched = 0;
    int first = -1, reload = -1;
    for (uint32_t i = 1; i < lines; ++i) {
        const uint32_t step = (counter[i] - counter[i - 1]) & 0xFF;
        ++steps[step];
        fetched += step;
        if (step != 0 && first < 0) first = static_cast<int>(i);
        if (first >= 0 && reload < 0 && counter[i] == kScreen && counter[i - 1] == kScreen + 32000)
            reload = static_cast<int>(i);
    }
    EXPECT_EQ(fetched, 32000u);  // the whole picture, 200 x 160 or 400 x 80 bytes
    EXPECT_GE(steps[row.bytesPerLine], 32000 / static_cast<int>(row.bytesPerLine) - 1);
    EXPECT_GE(steps[0], static_cast<int>(lines) - 2 - 32000 / static_cast<int>(row.bytesPerLine));
    ASSERT_GE(first, 0);
    EXPECT_EQ(reload - first, row.pictureToReload);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, VideoTimingTest,
    ::testing::Values(TimingRow{"fifty", 2, 0, 0, 313, 200, 160, 50.05, 310 - 63},
                      TimingRow{"fifty_rising_edges", 2, 0, 8, 313, 200, 160, 50.05, 310 - 63},
                      TimingRow{"sixty", 0, 0, 0, 263, 200, 160, 60.04, 260 - 34},
                      TimingRow{"sixty_rising_edges", 0, 0, 8, 263, 200, 160, 60.04, 260 - 34},
                      TimingRow{"sixty_medium", 0, 1, 0, 263, 200, 160, 60.04, 260 - 34},
                      TimingRow{"mono", 2, 2, 0, 501, 400, 80, 71.48, 498 - 35},
                      TimingRow{"mono_rising_edges", 2, 2, 8, 501, 400, 80, 71.48, 498 - 35},
                      TimingRow{"mono_sync_bit_clear", 0, 2, 0, 501, 400, 80, 71.48, 498 - 35}),
    [](const auto& info) { return std::string(info.param.name); });

// A switch in the VBL handler lands about 330 cycles into the frame: after the decision point
// of line 0 (of line 1 in a 71 Hz frame), which keep the old length; every later line of that
// frame takes the new one, and the frame ends where the new mode's last line is.
struct SwitchRow {
    const char* name;
    uint8_t sync, resolution;  // before
    uint8_t switchSync, switchResolution;
    Cycles before, switched, after;
};

class ModeSwitchTest : public ::testing::TestWithParam<SwitchRow> {};

TEST_P(ModeSwitchTest, FrameLengthFollowsTheLinesDecidedAfterTheSwitch) {
    const SwitchRow& row = GetParam();
    TimingProgram program;
    program.Set("sync", row.sync);
    program.Set("res", row.resolution);
    program.Set("switch_sync", row.switchSync);
    program.Set("switch_res", row.switchResolution);
    program.SetLong("switch_frame", 6);
    program.Run(8);
    // The program's first frame starts at the reset; the sixth is the one switched in its VBL.
    EXPECT_EQ(program.frameCycles[4], row.before);
    EXPECT_EQ(program.frameCycles[5], row.switched);
    EXPECT_EQ(program.frameCycles[6], row.after);
    EXPECT_EQ(program.frameCycles[7], row.after);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, ModeSwitchTest,
    ::testing::Values(SwitchRow{"fifty_to_sixty", 2, 0, 0, 0, 160256, 512 + 262 * 508, 133604},
                      SwitchRow{"sixty_to_fifty", 0, 0, 2, 0, 133604, 508 + 312 * 512, 160256},
                      SwitchRow{"fifty_to_mono", 2, 0, 2, 2, 160256, 512 + 500 * 224, 112224},
                      SwitchRow{"mono_to_sixty", 2, 2, 0, 0, 112224, 2 * 224 + 261 * 508, 133604}),
    [](const auto& info) { return std::string(info.param.name); });

// MFP GPIP bit 7 is the monitor-detect line: low with the monochrome monitor.
class MonitorDetectTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(MonitorDetectTest, Gpip7FollowsTheMonitor) {
    TimingProgram program(GetParam());
    program.Run(1);
    EXPECT_EQ((program.Byte("gpip") >> 7) & 1, GetParam() == 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Monitors, MonitorDetectTest, ::testing::Values(0u, 1u), [](const auto& info) {
    return info.param ? std::string("Mono") : std::string("Colour");
});

}  // namespace
}  // namespace vexil

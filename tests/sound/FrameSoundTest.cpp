// The frame's sound in the machine: which sources the settings let into the mix, the clip of
// their sum, a frame that gives the device nothing, and the recorder's block beside the
// device's in the display-paced mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "sound/SoundMix.h"

namespace vexil {
namespace {

using Block = std::vector<int16_t>;

// All three channels on one tone at full volume: a square wave of nearly the full 16 bits.
const std::vector<YmWrite> kLoudTone = {{0, 0, 0x40}, {0, 2, 0x40}, {0, 4, 0x40}, {0, 7, 0x38},
                                        {0, 8, 15},   {0, 9, 15},   {0, 10, 15},  {ym::kEndOfList, 16, 0}};
const std::vector<YmWrite> kNoWrites = {{ym::kEndOfList, 16, 0}};

void WriteYm(Machine& machine, const std::vector<YmWrite>& list) {
    for (const YmWrite& w : list) {
        if (w.reg > 15) break;
        machine.Ym().ports.WriteByte(0xFF8800, uint8_t(w.reg), g_cpu.clock);
        machine.Ym().ports.WriteByte(0xFF8802, uint8_t(w.value), g_cpu.clock);
    }
}

// Time passes to the frame's end without a program running.
void EndFrame(Machine& machine) {
    for (int32_t budget; (budget = machine.Scheduler().ServiceEvents()) >= 0;) g_cpu.clock += budget;
}

// What a chip of its own makes of the same writes, frame after frame.
std::vector<int32_t> Reference(Ym2149& chip, const std::vector<YmWrite>& list, int32_t count = 881) {
    std::vector<int32_t> out(static_cast<size_t>(count));
    chip.Render(list.data(), out.data(), count);
    return out;
}

struct SourceCase {
    const char* name;
    bool YMSound, DiskSound, FastDisk;
};

class FrameMix : public ::testing::TestWithParam<SourceCase> {};

TEST_P(FrameMix, TheSettingsChooseTheSourcesAndTheSumIsClipped) {
    const SourceCase& c = GetParam();
    MachineSettings settings;
    settings.YMSound = c.YMSound;
    settings.DiskSound = c.DiskSound;
    settings.FastDisk = c.FastDisk;
    settings.bLowPass = false;
    Machine machine(settings);
    machine.DriveNoises().Play(DriveNoise::kMotorStart);  // its clunk nearly fills 16 bits
    WriteYm(machine, kLoudTone);
    EndFrame(machine);

    Ym2149 chip;
    const std::vector<int32_t> tone = Reference(chip, kLoudTone);
    const DriveRecording& start = DriveRecordings()[size_t(DriveNoise::kMotorStart)];
    ASSERT_EQ(machine.SoundSamples(), 881);
    int clipped = 0;
    for (int i = 0; i < 881; ++i) {
        const int32_t sum =
            (c.YMSound ? tone[size_t(i)] : 0) + (c.DiskSound && !c.FastDisk ? start.samples[i] : 0);
        clipped += sum != std::clamp(sum, -32768, 32767);
        ASSERT_EQ(machine.Sound()[i], std::clamp(sum, -32768, 32767)) << "sample " << i;
    }
    if (c.YMSound && c.DiskSound && !c.FastDisk) {
        EXPECT_GT(clipped, 0) << "the case should clip";
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, FrameMix,
                         ::testing::Values(SourceCase{"ChipAndDrive", true, true, false},
                                           SourceCase{"DriveWithoutTheChip", false, true, false},
                                           SourceCase{"ChipWithoutTheDrive", true, false, false},
                                           SourceCase{"NoDriveWithFastDisk", true, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The display-paced mode's first frame asks for nothing; its chip writes still count, so the
// tone it started sounds in the next frame.
TEST(FrameSound, AFrameThatSendsNothingStillAppliesItsChipWrites) {
    MachineSettings settings;
    settings.bLowPass = false;
    Machine machine(settings);
    int32_t count = 0;
    std::vector<Block> sent;
    machine.Scheduler().hooks.chooseSampleCount = [&count](int32_t) { return count; };
    machine.soundSink = [&sent](const int16_t* s, int32_t n) { sent.emplace_back(s, s + n); };
    WriteYm(machine, kLoudTone);
    EndFrame(machine);
    EXPECT_TRUE(sent.empty());
    count = 881;
    EndFrame(machine);

    Ym2149 chip;
    Reference(chip, kLoudTone);
    const std::vector<int32_t> second = Reference(chip, kNoWrites);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], Block(second.begin(), second.end()));
    EXPECT_NE(*std::max_element(sent[0].begin(), sent[0].end()), 0) << "the tone was lost";
}

// While recording, the chip is synthesised once per frame, in the machine's time; the device
// gets that block stretched to what it asked for.
TEST(FrameSound, ARecordingTakesTheMachinesTimeAndTheDeviceAStretchedCopy) {
    MachineSettings settings;
    settings.bLowPass = false;
    Machine machine(settings);
    std::vector<Block> recorded, sent;
    machine.Scheduler().hooks.chooseSampleCount = [](int32_t) { return 1000; };
    machine.recordSink = [&recorded](const int16_t* s, int32_t n) { recorded.emplace_back(s, s + n); };
    machine.soundSink = [&sent](const int16_t* s, int32_t n) { sent.emplace_back(s, s + n); };
    WriteYm(machine, kLoudTone);
    EndFrame(machine);
    EndFrame(machine);

    Ym2149 chip;
    ASSERT_EQ(recorded.size(), 2u);
    ASSERT_EQ(sent.size(), 2u);
    for (size_t frame = 0; frame < 2; ++frame) {
        const std::vector<int32_t> expected = Reference(chip, frame == 0 ? kLoudTone : kNoWrites);
        EXPECT_EQ(recorded[frame], Block(expected.begin(), expected.end())) << "frame " << frame;
        Block stretched(1000);
        StretchSamples(recorded[frame].data(), 881, stretched.data(), 1000);
        EXPECT_EQ(sent[frame], stretched) << "frame " << frame;
    }
}

}  // namespace
}  // namespace vexil

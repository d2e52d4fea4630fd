// The frame's sound in the machine: which sources the settings let into the mix, the clip of
// their sum, a frame that gives the device nothing, and the recorder's block beside the
// device's in the display-paced mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// ---- the STE's LMC1992 over the mix -----------------------------------------------------------

// One tone on channel A at a moderate volume, `period` giving its pitch.
std::vector<YmWrite> Tone(uint16_t period) {
    return {{0, 0, uint8_t(period)},
            {0, 1, uint8_t(period >> 8)},
            {0, 7, 0x3E},
            {0, 8, 12},
            {ym::kEndOfList, 16, 0}};
}

// The loudness of what changes: the root mean square about the mean.
double Rms(const int16_t* samples, int count) {
    double mean = 0, sum = 0;
    for (int i = 0; i < count; ++i) mean += samples[i];
    mean /= count;
    for (int i = 0; i < count; ++i) sum += (samples[i] - mean) * (samples[i] - mean);
    return std::sqrt(sum / count);
}

struct LmcRow {
    const char* name;
    std::vector<uint16_t> commands;  // LMC1992 commands (11 bits), sent through the microwire
    uint16_t period;
    double gain;      // the YM2149's expected gain; < 0: compare loudness only
    double rmsAbove;  // with gain < 0: the loudness ratio must lie between these
    double rmsBelow;
};

class LmcMix : public ::testing::TestWithParam<LmcRow> {};

// The same tone with and without the commands, on an STE: the second frame of each.
TEST_P(LmcMix, VolumesMixingAndToneApplyToTheYm2149) {
    const LmcRow& row = GetParam();
    std::vector<int16_t> plain, shaped;
    for (const bool withCommands : {false, true}) {
        MachineSettings settings;
        settings.Machine = 1;
        settings.bLowPass = false;
        settings.DiskSound = false;
        Machine machine(settings);
        Cycles t = 0;
        for (const uint16_t command : withCommands ? row.commands : std::vector<uint16_t>{}) {
            machine.GetDmaSound().WriteWord(0x24, 0x07FF, t);
            machine.GetDmaSound().WriteWord(0x22, command, t + 8);
            t += 200;
        }
        WriteYm(machine, Tone(row.period));
        EndFrame(machine);
        EndFrame(machine);
        (withCommands ? shaped : plain).assign(machine.Sound(), machine.Sound() + machine.SoundSamples());
    }
    ASSERT_EQ(plain.size(), shaped.size());
    ASSERT_GT(Rms(plain.data(), int(plain.size())), 100.0) << "no tone";
    if (row.gain >= 0) {
        for (size_t i = 0; i < plain.size(); ++i)
            ASSERT_NEAR(shaped[i], plain[i] * row.gain, std::abs(plain[i]) * 0.01 + 2) << "sample " << i;
        return;
    }
    const double ratio = Rms(shaped.data(), int(shaped.size())) / Rms(plain.data(), int(plain.size()));
    EXPECT_GT(ratio, row.rmsAbove);
    EXPECT_LT(ratio, row.rmsBelow);
}

// LMC1992 commands: 0x400 | function << 6 | value.
constexpr uint16_t Mixing(int v) {
    return uint16_t(0x400 | v);
}
constexpr uint16_t Bass(int v) {
    return uint16_t(0x440 | v);
}
constexpr uint16_t Treble(int v) {
    return uint16_t(0x480 | v);
}
constexpr uint16_t Master(int v) {
    return uint16_t(0x4C0 | v);
}
constexpr uint16_t Right(int v) {
    return uint16_t(0x500 | v);
}
constexpr uint16_t Left(int v) {
    return uint16_t(0x540 | v);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, LmcMix,
    ::testing::Values(
        //     name               commands                  period  gain   loudness ratio
        LmcRow{"flat", {Bass(6), Treble(6), Mixing(1)}, 0x100, 1.0, 0, 0},
        LmcRow{"mixing_without_ym", {Mixing(2)}, 0x100, 0.0, 0, 0},
        LmcRow{"mixing_ym_minus_12_db", {Mixing(0)}, 0x100, 0.2512, 0, 0},
        LmcRow{"master_minus_20_db", {Master(30)}, 0x100, 0.1, 0, 0},
        LmcRow{"left_minus_40_db", {Left(0)}, 0x100, 0.505, 0, 0},  // the chip is on both channels
        LmcRow{"master_and_right", {Master(37), Right(15)}, 0x100, 0.5012 * (1 + 0.3162) / 2, 0, 0},
        LmcRow{"bass_up_on_a_low_tone", {Bass(12)}, 0xC00, -1, 1.5, 4.5},
        LmcRow{"bass_down_on_a_low_tone", {Bass(0)}, 0xC00, -1, 0.2, 0.8},
        LmcRow{"bass_up_on_a_high_tone", {Bass(12)}, 0x00C, -1, 0.9, 1.2},
        LmcRow{"treble_down_on_a_high_tone", {Treble(0)}, 0x008, -1, 0.2, 0.8},
        LmcRow{"treble_up_on_a_low_tone", {Treble(12)}, 0xC00, -1, 0.95, 1.6}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

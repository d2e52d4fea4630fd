// The YM2149's frame: 881 samples synthesised while a write list is replayed. Two loads: all
// three tones with noise and the envelope and a few writes (a tune), and the same with a
// volume write every 64 cycles (sample playback through the volume registers, 2,500 writes a
// frame). The real machine makes 50 frames a second; the ratio says how far ahead we are.
//
// The frame's mix: the low-pass filter and the clip alone, and the whole mix as the machine
// makes it (the chip's tune, the drive's running noise, filter, clip). And the whole machine
// running EmuTOS's desktop headless, with the sound synthesised (chip and drive) and without.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
#include "sound/DriveSound.h"
#include "sound/SoundMix.h"
#include "sound/Ym2149.h"

namespace {

std::vector<vexil::YmWrite> Tune(int volumeWrites) {
    std::vector<vexil::YmWrite> list = {{0, 0, 0x1C}, {0, 1, 1},   {0, 2, 0xEF}, {0, 3, 0},  {0, 4, 0x40},
                                        {0, 5, 2},    {0, 6, 12},  {0, 7, 0xC0}, {0, 8, 15}, {0, 9, 0x10},
                                        {0, 10, 12},  {0, 11, 40}, {0, 12, 0},   {0, 13, 10}};
    for (int n = 0; n < volumeWrites; ++n) list.push_back({64, 8, static_cast<uint32_t>(n & 15)});
    list.push_back({vexil::ym::kEndOfList, 16, 0});
    return list;
}

void BM_YmFrame(benchmark::State& state) {
    const std::vector<vexil::YmWrite> list = Tune(static_cast<int>(state.range(0)));
    vexil::Ym2149 chip;
    std::vector<int32_t> out(881);
    for (auto _ : state) {
        chip.Render(list.data(), out.data(), 881);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_YmFrame)->Arg(0)->Arg(2500);

// Filter and clip of one frame's sums.
void BM_FilterAndClip(benchmark::State& state) {
    vexil::SoundMix mix;
    for (auto _ : state) {
        int32_t* sums = mix.Begin(881);
        for (int i = 0; i < 881; ++i) sums[i] = (i * 2654435761u) >> 15;
        mix.Finish(true);
        benchmark::DoNotOptimize(mix.Output());
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FilterAndClip);

// The machine's frame mix: the chip (a tune), the drive's running motor, the filter, the clip.
void BM_MixFrame(benchmark::State& state) {
    const std::vector<vexil::YmWrite> list = Tune(0);
    vexil::Ym2149 chip;
    vexil::DriveSounds drive;
    vexil::SoundMix mix;
    drive.Play(vexil::DriveNoise::kMotorRunning);
    for (auto _ : state) {
        int32_t* sums = mix.Begin(881);
        chip.Render(list.data(), sums, 881);
        drive.Mix(sums, 881);
        mix.Finish(true);
        benchmark::DoNotOptimize(mix.Output());
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MixFrame);

// EmuTOS at its desktop (after 300 frames of boot), 50 frames per iteration; argument 1: the
// chip and the drive synthesised and mixed, 0: neither.
void BM_HeadlessMachine(benchmark::State& state) {
    const bool sound = state.range(0) != 0;
    vexil::MachineSettings settings;
    settings.YMSound = sound;
    settings.DiskSound = sound;
    auto machine = std::make_unique<vexil::Machine>(settings);
    if (!vexil::LoadTosRom(*machine, VEXIL_EMUTOS).ok || machine->Reset(true) != 0 ||
        machine->RunFrames(300) != vexil::kRunBudgetSpent) {
        state.SkipWithError("EmuTOS does not run");
        return;
    }
    if (sound) machine->DriveNoises().Play(vexil::DriveNoise::kMotorRunning);
    int64_t frames = 0;
    for (auto _ : state) {
        if (machine->RunFrames(50) != vexil::kRunBudgetSpent) {
            state.SkipWithError("the CPU stopped");
            return;
        }
        frames += 50;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(frames / 50.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HeadlessMachine)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

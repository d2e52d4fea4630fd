// The picture: the renderer alone on a busy frame (random screen data, a palette change every
// 16 cycles of every picture line, so nearly every block is split into groups), and the whole
// machine running the bundled EmuTOS headless with its picture drawn, as a multiple of the real
// machine's 50 frames a second.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
#include "video/Renderer.h"

namespace {

void BM_RenderBusyFrame(benchmark::State& state) {
    const vexil::LineMode mode = static_cast<vexil::LineMode>(state.range(0));
    std::mt19937 random(1);
    std::vector<uint8_t> snapshot(0x10000);
    for (uint8_t& byte : snapshot) byte = static_cast<uint8_t>(random());
    std::vector<vexil::ShifterEvent> log;
    vexil::Cycles last = 0;
    for (int line = 63; line < 263; ++line) {
        for (int cycle = 96; cycle < 416; cycle += 16) {
            const vexil::Cycles at = line * 512 + cycle + 6;
            log.push_back({at - last, static_cast<uint32_t>((cycle / 16) & 15) * 2,
                           static_cast<uint32_t>(random() & 0x777u)});
            last = at;
        }
    }
    log.push_back({vexil::kLogEnd, 0, 0});
    std::vector<uint8_t> ram(vexil::kRamBytes + 16);
    std::vector<uint16_t> pixels(800 * 600);
    vexil::Renderer renderer;
    renderer.mode = mode;
    vexil::RenderSource source;
    source.log = log.data();
    source.snapshot = snapshot.data();
    source.ram = ram.data();
    for (auto _ : state) {
        renderer.RenderFrame(pixels.data(), 1600, source);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderBusyFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_EmuTosHeadless(benchmark::State& state) {
    vexil::Machine machine;
    const vexil::RomLoad rom = vexil::LoadTosRom(machine, VEXIL_EMUTOS);
    if (!rom.ok || machine.Reset(true) != 0) {
        state.SkipWithError("the bundled EmuTOS did not load");
        return;
    }
    std::vector<uint16_t> pixels(800 * 600);
    machine.RenderInto(pixels.data(), 1600);
    int64_t frames = 0;
    for (auto _ : state) {
        if (machine.RunFrames(50) != vexil::kRunBudgetSpent) {
            state.SkipWithError("the CPU stopped");
            return;
        }
        frames += 50;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["x real time"] =
        benchmark::Counter(static_cast<double>(frames) / 50.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EmuTosHeadless)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

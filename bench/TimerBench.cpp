// Frames under the MFP timer load real software leaves running: timer D clocking the serial
// port at divide 4, data 2 with its interrupt off, timer C at 200 Hz, and timer B interrupting
// on every display line (timer-bench.s); and the bundled EmuTOS idling at its desktop, where
// its own timers C and D run so. Emulated frames per second; each run is checked, so a figure
// from a machine that did not run the load is never reported.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "machine/Rom.h"

namespace {

struct Program {
    std::vector<uint8_t> code;
    std::map<std::string, uint32_t> symbols;
};

Program LoadProgram(const std::string& name) {
    Program program;
    const std::string base = std::string(VEXIL_ASM_DIR) + "/" + name;
    std::ifstream bin(base + ".bin", std::ios::binary);
    program.code.assign(std::istreambuf_iterator<char>(bin), {});
    std::ifstream sym(base + ".sym");
    std::string value, kind, symbol;
    while (sym >> value >> kind >> symbol)
        program.symbols[symbol] = static_cast<uint32_t>(std::stoul(value, nullptr, 16));
    return program;
}

// The measured frames, apart so that a profiler can count only them
// (valgrind --tool=callgrind --toggle-collect='*RunMeasuredFrames*').
[[gnu::noinline]] bool RunMeasuredFrames(vexil::Machine& machine, int frames) {
    return machine.RunFrames(frames) == vexil::kRunBudgetSpent;
}

void Rate(benchmark::State& state, int64_t frames) {
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(frames / 50.0, benchmark::Counter::kIsRate);
}

void BM_TimerLoadFrames(benchmark::State& state) {
    static const Program program = LoadProgram("timer-bench");
    if (program.code.empty() || program.symbols.count("lines") == 0) {
        state.SkipWithError("timer-bench.bin was not assembled");
        return;
    }
    vexil::Machine machine;
    machine.LoadBytes(0x1000, program.code.data(), program.code.size());
    machine.PokeLong(0, 0x8000);
    machine.PokeLong(4, 0x1000);
    machine.Reset(false);
    constexpr int kFrames = 50;
    int64_t frames = 0;
    for (auto _ : state) {
        if (!RunMeasuredFrames(machine, kFrames)) {
            state.SkipWithError("the CPU stopped");
            return;
        }
        frames += kFrames;
    }
    // 200 counted lines a frame, the first frame's from the program's start on.
    if (machine.PeekLong(program.symbols.at("vbls")) != frames ||
        machine.PeekLong(program.symbols.at("lines")) < 199 * frames ||
        machine.PeekLong(program.symbols.at("ticks")) < 3 * frames) {
        state.SkipWithError("the program did not run as expected");
        return;
    }
    Rate(state, frames);
}
BENCHMARK(BM_TimerLoadFrames)->Unit(benchmark::kMillisecond);

void BM_EmuTosDesktopFrames(benchmark::State& state) {
    vexil::Machine machine;
    const vexil::RomLoad rom =
        vexil::LoadTosRom(machine, std::string(VEXIL_SOURCE_DIR) + "/roms/etos256us.img");
    if (!rom.ok) {
        state.SkipWithError(rom.message.c_str());
        return;
    }
    machine.Reset(true);
    if (machine.RunFrames(600) != vexil::kRunBudgetSpent) {  // to the desktop
        state.SkipWithError("EmuTOS stopped on its way to the desktop");
        return;
    }
    const uint32_t hz200 = machine.PeekLong(0x4BA);
    constexpr int kFrames = 50;
    int64_t frames = 0;
    for (auto _ : state) {
        if (!RunMeasuredFrames(machine, kFrames)) {
            state.SkipWithError("the CPU stopped");
            return;
        }
        frames += kFrames;
    }
    // The system timer (timer C) ticks four times a frame.
    if (machine.PeekLong(0x4BA) - hz200 < 3 * frames) {
        state.SkipWithError("EmuTOS's timer did not run");
        return;
    }
    Rate(state, frames);
}
BENCHMARK(BM_EmuTosDesktopFrames)->Unit(benchmark::kMillisecond);

}  // namespace

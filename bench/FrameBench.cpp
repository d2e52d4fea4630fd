// Whole frames of the machine (frame-bench.s: a busy loop under VBL, HBL and MFP timer C
// interrupts) in each video timing (the second argument: 0 50 Hz, 1 60 Hz, 2 71 Hz): emulated
// frames per second, and the ratio of machine time to host time. The run is checked by the
// program's VBL count, so a figure from a machine that does not run the program is never
// reported.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"

namespace {

struct Program {
    std::vector<uint8_t> code;
    std::map<std::string, uint32_t> symbols;
};

Program LoadProgram() {
    Program program;
    const std::string base = std::string(VEXIL_ASM_DIR) + "/frame-bench";
    std::ifstream bin(base + ".bin", std::ios::binary);
    program.code.assign(std::istreambuf_iterator<char>(bin), {});
    std::ifstream sym(base + ".sym");
    std::string value, kind, name;
    while (sym >> value >> kind >> name)
        program.symbols[name] = static_cast<uint32_t>(std::stoul(value, nullptr, 16));
    return program;
}

void BM_Frames(benchmark::State& state) {
    static const Program program = LoadProgram();
    if (program.code.empty() || program.symbols.count("vbls") == 0) {
        state.SkipWithError("frame-bench.bin was not assembled");
        return;
    }
    vexil::Machine machine;
    machine.LoadBytes(0x1000, program.code.data(), program.code.size());
    machine.PokeLong(0, 0x8000);
    machine.PokeLong(4, 0x1000);
    machine.Reset(false);
    const auto timing = static_cast<vexil::VideoTiming>(state.range(1));
    if (timing == vexil::kTiming60Hz) machine.GetShifter().WriteByte(0xFF820A, 0, 0);
    if (timing == vexil::kTiming71Hz) machine.GetShifter().WriteByte(0xFF8260, 2, 0);
    const int framesPerIteration = static_cast<int>(state.range(0));
    int64_t frames = 0;
    for (auto _ : state) {
        if (machine.RunFrames(framesPerIteration) != vexil::kRunBudgetSpent) {
            state.SkipWithError("the CPU stopped");
            return;
        }
        frames += framesPerIteration;
    }
    if (machine.PeekLong(program.symbols.at("vbls")) != frames ||
        machine.PeekLong(program.symbols.at("passes")) == 0) {
        state.SkipWithError("the program did not run as expected (missing instructions?)");
        return;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    const vexil::LineTiming& t = vexil::kLineTimings[timing];
    const double frameSeconds = static_cast<double>(t.cycles) * t.lines / vexil::kCpuClockHz;
    state.counters["x_realtime"] = benchmark::Counter(frames * frameSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Frames)->Args({50, 0})->Args({50, 1})->Args({50, 2})->Unit(benchmark::kMillisecond);

}  // namespace

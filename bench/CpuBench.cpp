// The 68000 core: emulated instructions per second and emulated cycles per second against the
// real machine's 8,021,247 Hz. BM_CpuMix runs the fixed instruction mix (cpu-mix.s) and checks
// it against its known end state, so a figure from a wrong core is never reported; the other
// benchmarks run one instruction group each in a loop.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BenchProgram.h"
#include "cpu/Cpu.h"
#include "cpu/test_seam.h"

namespace {

constexpr double kMachineHz = 8021247.0;

using bench::LoadProgram;
using bench::Program;

// Loads the program at 0x1000 on flat RAM and runs it until its STOP; returns the cycles.
int64_t RunToStop(benchmark::State& state, const Program& program) {
    static std::vector<uint16_t> ram(0x800000);
    static vexil::MachineTables tables;
    state.PauseTiming();
    vexil::cpu_seam::MapFlatRam(tables, ram.data());
    std::fill(ram.begin(), ram.begin() + 0x20000, 0);  // the programs' code and data lie below 128 KB
    uint8_t* bytes = reinterpret_cast<uint8_t*>(ram.data());
    for (size_t i = 0; i < program.code.size(); ++i) bytes[(0x1000 + i) ^ 1] = program.code[i];
    vexil::cpu_seam::Registers r{};
    r.ssp = 0x80000;
    r.sr = 0x2700;
    r.pc = 0x1000;
    vexil::cpu_seam::SetRegisters(r);
    vexil::g_cpu.pending = 0;
    state.ResumeTiming();
    int64_t cycles = 0;
    while (!(vexil::g_cpu.pending & 1)) cycles += vexil::cpu_seam::Run(1 << 24);
    return cycles;
}

void Report(benchmark::State& state, double instructionsPerRun, int64_t cycles) {
    const double instructions = instructionsPerRun * static_cast<double>(state.iterations());
    state.counters["instructions/s"] = benchmark::Counter(instructions, benchmark::Counter::kIsRate);
    state.counters["ns/instruction"] = benchmark::Counter(
        instructions, benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
    state.counters["x real time"] =
        benchmark::Counter(static_cast<double>(cycles) / kMachineHz, benchmark::Counter::kIsRate);
}

void BM_CpuMix(benchmark::State& state) {
    static const Program mix = LoadProgram("cpu-mix");
    std::map<std::string, uint32_t> expected;
    double instructions = 0;
    std::ifstream file(std::string(VEXIL_SOURCE_DIR) + "/bench/cpu-mix.expected");
    std::string key, number;
    while (file >> key >> number) {
        if (key == "instructions")
            instructions = std::stod(number);
        else
            expected[key] = static_cast<uint32_t>(std::stoul(number, nullptr, 16));
    }
    if (mix.code.empty() || !mix.symbols.count("done") || instructions == 0) {
        state.SkipWithError("cpu-mix.bin or cpu-mix.expected is missing");
        return;
    }
    static const char* const kRegisters[] = {"d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7",
                                             "a0", "a1", "a2", "a3", "a4", "a5", "a6"};
    int64_t cycles = 0;
    for (auto _ : state) {
        cycles += RunToStop(state, mix);
        state.PauseTiming();
        const auto regs = vexil::cpu_seam::GetRegisters();
        for (int i = 0; i < 15; ++i)
            if ((i < 8 ? regs.d[i] : regs.a[i - 8]) != expected.at(kRegisters[i]))
                state.SkipWithError("wrong end state");
        if (regs.pc != mix.symbols.at("done") + 4) state.SkipWithError("did not stop at done");
        state.ResumeTiming();
    }
    Report(state, instructions, cycles);
}
BENCHMARK(BM_CpuMix)->Unit(benchmark::kMillisecond)->Iterations(3);

// One instruction group in a loop of 10000 turns that counts D7 down to 0xFFFF.
void RunGroup(benchmark::State& state, const char* name, double instructions) {
    const Program program = LoadProgram(name);
    if (program.code.empty()) {
        state.SkipWithError("the loop was not assembled");
        return;
    }
    int64_t cycles = 0;
    for (auto _ : state) {
        cycles += RunToStop(state, program);
        if ((vexil::g_cpu.d[7] & 0xFFFF) != 0xFFFF) state.SkipWithError("the loop did not run to its end");
    }
    Report(state, instructions, cycles);
}

// Set-up instructions + turns x (instructions in the loop + the DBRA) + the STOP.
void BM_Arithmetic(benchmark::State& state) {
    RunGroup(state, "arithmetic-loop", 4 + 10000 * 18 + 1);
}
void BM_LogicShiftBit(benchmark::State& state) {
    RunGroup(state, "logic-shift-bit", 4 + 10000 * 17 + 1);
}
void BM_Flow(benchmark::State& state) {
    RunGroup(state, "flow-loop", 2 + 10000 * 9 + 1);
}
BENCHMARK(BM_Arithmetic)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_LogicShiftBit)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Flow)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

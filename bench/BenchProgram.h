// The benchmarks' 68000 programs, assembled at build time (bench/*.s -> VEXIL_ASM_DIR): their
// bytes and symbols, and the frame benchmarks' common start and run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"

namespace bench {

struct Program {
    std::vector<uint8_t> code;
    std::map<std::string, uint32_t> symbols;

    // Assembled, with all these symbols; otherwise the benchmark is skipped with the reason.
    bool Usable(benchmark::State& state, const std::string& name,
                std::initializer_list<const char*> needed) const {
        bool usable = !code.empty();
        for (const char* symbol : needed) usable = usable && symbols.count(symbol) != 0;
        if (!usable) state.SkipWithError((name + ".bin was not assembled").c_str());
        return usable;
    }
};

inline Program LoadProgram(const std::string& name) {
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

// Where the frame programs lie, and the supervisor stack below which they run.
constexpr uint32_t kProgramOrigin = 0x1000, kProgramStack = 0x8000;

// Loads `program` at its origin and resets the machine into it (SSP = kProgramStack).
inline void StartProgram(vexil::Machine& machine, const Program& program, uint32_t origin = kProgramOrigin) {
    machine.LoadBytes(origin, program.code.data(), program.code.size());
    machine.PokeLong(0, kProgramStack);
    machine.PokeLong(4, origin);
    machine.Reset(false);
}

// The measured frames, apart so that a profiler can count only them
// (valgrind --tool=callgrind --toggle-collect='*RunMeasuredFrames*').
[[gnu::noinline]] inline bool RunMeasuredFrames(vexil::Machine& machine, int frames) {
    return machine.RunFrames(frames) == vexil::kRunBudgetSpent;
}

// Runs `framesPerIteration` frames an iteration; the frames run, or -1 (the benchmark skipped)
// when the CPU stopped.
inline int64_t RunFrameIterations(benchmark::State& state, vexil::Machine& machine, int framesPerIteration) {
    int64_t frames = 0;
    for (auto _ : state) {
        if (!RunMeasuredFrames(machine, framesPerIteration)) {
            state.SkipWithError("the CPU stopped");
            return -1;
        }
        frames += framesPerIteration;
    }
    return frames;
}

}  // namespace bench

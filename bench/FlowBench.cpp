// The program flow handlers in a loop (flow-loop.s): emulated instructions per second and host
// nanoseconds per emulated instruction.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"

namespace {

// 2 set-up instructions, 10000 turns of BSR, RTS, JSR, RTS, MOVEQ, BEQ, BNE, JMP and the DBRA,
// the STOP.
constexpr double kInstructions = 2 + 10000 * 9 + 1;

void BM_Flow(benchmark::State& state) {
    const std::string base = std::string(VEXIL_ASM_DIR) + "/flow-loop";
    std::ifstream bin(base + ".bin", std::ios::binary);
    const std::vector<uint8_t> code{std::istreambuf_iterator<char>(bin), {}};
    if (code.empty()) {
        state.SkipWithError("flow-loop.bin was not assembled");
        return;
    }
    static std::vector<uint16_t> ram(0x800000);
    vexil::cpu_seam::MapFlatRam(ram.data());
    uint8_t* bytes = reinterpret_cast<uint8_t*>(ram.data());
    for (auto _ : state) {
        state.PauseTiming();
        std::fill(ram.begin(), ram.begin() + 0x4000, 0);
        for (size_t i = 0; i < code.size(); ++i) bytes[(0x1000 + i) ^ 1] = code[i];
        vexil::cpu_seam::Registers r{};
        r.ssp = 0x80000;
        r.sr = 0x2700;
        r.pc = 0x1000;
        vexil::cpu_seam::SetRegisters(r);
        vexil::g_cpu.pending = 0;
        state.ResumeTiming();
        while (!(vexil::g_cpu.pending & 1)) vexil::cpu_seam::Run(1 << 24);
        state.PauseTiming();
        if (vexil::g_cpu.d[7] != 0xFFFF || vexil::g_cpu.a[7] != 0x80000)
            state.SkipWithError("the loop did not run to its end");
        state.ResumeTiming();
    }
    state.counters["instructions/s"] = benchmark::Counter(
        kInstructions * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["ns/instruction"] = benchmark::Counter(
        kInstructions * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}
BENCHMARK(BM_Flow)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

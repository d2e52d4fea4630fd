// The 68000 core on a fixed instruction mix (cpu-mix.s): emulated instructions per second and
// emulated cycles per second against the real machine's 8,021,247 Hz. The run is checked
// against the mix's known end state, so a figure from a wrong core is never reported.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"

namespace {

constexpr double kMachineHz = 8021247.0;

struct Mix {
    std::vector<uint8_t> code;
    uint32_t done = 0;
    uint64_t instructions = 0;
    std::map<std::string, uint32_t> expected;  // d0-d7, a0-a6
};

Mix LoadMix() {
    Mix mix;
    const std::string base = std::string(VEXIL_ASM_DIR) + "/cpu-mix";
    std::ifstream bin(base + ".bin", std::ios::binary);
    mix.code.assign(std::istreambuf_iterator<char>(bin), {});
    std::ifstream sym(base + ".sym");
    std::string value, kind, name;
    while (sym >> value >> kind >> name)
        if (name == "done") mix.done = static_cast<uint32_t>(std::stoul(value, nullptr, 16));
    std::ifstream expected(std::string(VEXIL_SOURCE_DIR) + "/bench/cpu-mix.expected");
    std::string key, number;
    while (expected >> key >> number) {
        if (key == "instructions")
            mix.instructions = std::stoull(number);
        else
            mix.expected[key] = static_cast<uint32_t>(std::stoul(number, nullptr, 16));
    }
    return mix;
}

void BM_CpuMix(benchmark::State& state) {
    static const Mix mix = LoadMix();
    if (mix.code.empty() || mix.done == 0) {
        state.SkipWithError("cpu-mix.bin was not assembled");
        return;
    }
    static std::vector<uint16_t> ram(0x800000);
    vexil::cpu_seam::MapFlatRam(ram.data());
    uint8_t* bytes = reinterpret_cast<uint8_t*>(ram.data());
    int64_t cycles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::fill(ram.begin(), ram.end(), 0);
        for (size_t i = 0; i < mix.code.size(); ++i) bytes[(0x1000 + i) ^ 1] = mix.code[i];
        vexil::cpu_seam::Registers r{};
        r.ssp = 0x80000;
        r.sr = 0x2700;
        r.pc = 0x1000;
        vexil::cpu_seam::SetRegisters(r);
        vexil::g_cpu.pending = 0;
        state.ResumeTiming();
        // Runs until the STOP at `done` leaves the processor waiting.
        while (!(vexil::g_cpu.pending & 1)) cycles += vexil::cpu_seam::Run(1 << 24);
        state.PauseTiming();
        static const char* const kD[] = {"d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7"};
        static const char* const kA[] = {"a0", "a1", "a2", "a3", "a4", "a5", "a6"};
        const auto regs = vexil::cpu_seam::GetRegisters();
        for (int i = 0; i < 8; ++i)
            if (regs.d[i] != mix.expected.at(kD[i])) state.SkipWithError("wrong end state (D)");
        for (int i = 0; i < 7; ++i)
            if (regs.a[i] != mix.expected.at(kA[i])) state.SkipWithError("wrong end state (A)");
        if (regs.pc != mix.done + 4) state.SkipWithError("did not stop at done");
        state.ResumeTiming();
    }
    state.counters["instructions/s"] =
        benchmark::Counter(static_cast<double>(mix.instructions) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["cycles/s"] = benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate);
    state.counters["x real time"] =
        benchmark::Counter(static_cast<double>(cycles) / kMachineHz, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CpuMix)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

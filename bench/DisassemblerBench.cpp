// Speed of the disassembler over the bundled EmuTOS ROM: decoding alone, and the whole
// "--disassemble" listing with its file load and formatting.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "debugger/Disassembler.h"
#include "debugger/RomListing.h"

namespace {

void DisassembleRomStart(benchmark::State& state) {
    vexil::RomImage image;
    std::string error;
    if (!vexil::LoadRomImage(VEXIL_EMUTOS, image, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    vexil::Disassembler disassembler([&image](uint32_t address) { return image.ReadWord(address); });
    for (auto _ : state) {
        disassembler.SetAddress(image.base);
        for (int i = 0; i < 1000; ++i) benchmark::DoNotOptimize(disassembler.DisassembleOne());
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(DisassembleRomStart);

void ListRomStart(benchmark::State& state) {
    std::FILE* sink = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        if (vexil::ListRom(VEXIL_EMUTOS, "E00000", "1000", sink, sink) != 0)
            state.SkipWithError("listing failed");
    }
    std::fclose(sink);
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(ListRomStart)->Unit(benchmark::kMillisecond);

}  // namespace

// Save states: the size of a state file and the time to write and read one, for EmuTOS at its
// desktop (1,500 frames after power-on) on 1 MB and 4 MB machines. "bytes" is the file with its
// picture of the screen, "unpacked" what the sections hold.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/SaveState.h"
#include "machine/Machine.h"
#include "machine/Rom.h"

namespace {

constexpr int kDesktopFrames = 1500;

bool Boot(vexil::Machine& machine, benchmark::State& state) {
    if (!vexil::LoadTosRom(machine, VEXIL_EMUTOS).ok) {
        state.SkipWithError("no EmuTOS");
        return false;
    }
    machine.Reset(true);
    machine.RunFrames(kDesktopFrames);
    return true;
}

vexil::StatePicture Picture() {
    std::vector<uint16_t> screen(800 * 600, 0x7BEF);
    return vexil::ShrinkPicture(screen.data(), 800, 600, 800, 8);
}

// state.range(0): the RAMSize setting (1: 1 MB, 3: 4 MB).
void BM_SaveState(benchmark::State& state) {
    vexil::MachineSettings settings;
    settings.RAMSize = static_cast<uint32_t>(state.range(0));
    vexil::Machine machine(settings);
    if (!Boot(machine, state)) return;
    const vexil::StatePicture picture = Picture();
    size_t bytes = 0;
    for (auto _ : state) bytes = machine.SaveState(&picture).size();
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["unpacked"] = static_cast<double>(machine.Snapshot().size());
}
BENCHMARK(BM_SaveState)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_LoadState(benchmark::State& state) {
    vexil::MachineSettings settings;
    settings.RAMSize = static_cast<uint32_t>(state.range(0));
    vexil::Machine machine(settings);
    if (!Boot(machine, state)) return;
    const std::vector<uint8_t> file = machine.SaveState();
    std::string error;
    for (auto _ : state)
        if (!machine.LoadState(file, error)) state.SkipWithError(error.c_str());
}
BENCHMARK(BM_LoadState)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace

// The application's fast-forward, headless: EmuTOS runs with right Ctrl+F on, and the figure
// is emulated frames per second of the host's time as a multiple of the real machine's 50.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/App.h"
#include "app/Rewind.h"
#include "host/HeadlessHost.h"
#include "machine/Rom.h"

namespace {

namespace fs = std::filesystem;

void BM_FastForward(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / ("vexil-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "vexil.ini") << "[Graphics]\nbAskFullscreen = 0\n";
    vexil::AppOptions options;
    options.configPath = (dir / "vexil.ini").string();
    options.dataDirectory = (dir / "data").string();
    options.bundledRoms = {VEXIL_EMUTOS};
    vexil::host::HeadlessHost host;
    int64_t frames = 0;
    {
        vexil::App app(options, host.AllDevices(), nullptr);
        if (app.StartUp() != -1) {
            state.SkipWithError("the application did not start");
            return;
        }
        host.QueuePick(vexil::kItemRun);
        app.Turn();
        host.SetKey(vexil::host::kKeyRightControl, true);
        host.SetKey(0x21, true);  // F
        app.Turn();
        host.SetKey(0x21, false);
        host.SetKey(vexil::host::kKeyRightControl, false);
        const int64_t start = app.FramesRun();
        for (auto _ : state) app.Turn();
        frames = app.FramesRun() - start;
        if (!app.FastForward()) state.SkipWithError("fast-forward did not switch on");
    }
    fs::remove_all(dir);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["x real time"] =
        benchmark::Counter(static_cast<double>(frames) / 50.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FastForward)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace

namespace {

// The rewind history's cost: once a second (50 frames) the running machine (EmuTOS on the
// largest RAM) is saved and the snapshot taken in; the figure per frame is that time over 50,
// against a frame's 20 ms.
void BM_RewindSnapshot(benchmark::State& state) {
    vexil::MachineSettings settings;
    settings.RAMSize = 2;
    vexil::Machine machine(settings);
    if (!vexil::LoadTosRom(machine, VEXIL_EMUTOS).ok) {
        state.SkipWithError("no EmuTOS");
        return;
    }
    machine.Reset(true);
    vexil::Rewind rewind;
    for (auto _ : state) {
        state.PauseTiming();
        machine.RunFrames(50);
        state.ResumeTiming();
        rewind.Push(machine.Snapshot());
    }
    state.counters["bytes kept"] = static_cast<double>(rewind.Bytes());
    state.counters["snapshots"] = static_cast<double>(rewind.Count());
}
BENCHMARK(BM_RewindSnapshot)->Unit(benchmark::kMillisecond)->Iterations(150);

}  // namespace

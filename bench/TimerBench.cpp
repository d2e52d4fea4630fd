// Frames under the MFP timer load real software leaves running: timer D clocking the serial
// port at divide 4, data 2 with its interrupt off, timer C at 200 Hz, and timer B interrupting
// on every display line (timer-bench.s, around frame-bench.s's busy loop); and the bundled
// EmuTOS idling at its desktop, where its own timers C and D run so. Emulated frames per second; each run is
// checked, so a figure from a machine that did not run the load is never reported.
#include "BenchProgram.h"
#include "machine/Rom.h"

namespace {

void Rate(benchmark::State& state, int64_t frames) {
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(frames / 50.0, benchmark::Counter::kIsRate);
}

void BM_TimerLoadFrames(benchmark::State& state) {
    static const bench::Program frame = bench::LoadProgram("frame-bench");
    static const bench::Program timers = bench::LoadProgram("timer-bench");
    if (!frame.Usable(state, "frame-bench", {"busy", "timer_c", "ticks"}) ||
        !timers.Usable(state, "timer-bench", {"_start", "frame_busy", "frame_timer_c", "vbls", "lines"}))
        return;
    vexil::Machine machine;
    machine.LoadBytes(bench::kProgramOrigin, frame.code.data(), frame.code.size());
    bench::StartProgram(machine, timers, timers.symbols.at("_start"));
    machine.PokeLong(timers.symbols.at("frame_busy"), frame.symbols.at("busy"));
    machine.PokeLong(timers.symbols.at("frame_timer_c"), frame.symbols.at("timer_c"));
    const int64_t frames = bench::RunFrameIterations(state, machine, 50);
    if (frames < 0) return;
    // 200 counted lines a frame, the first frame's from the program's start on.
    if (machine.PeekLong(timers.symbols.at("vbls")) != frames ||
        machine.PeekLong(timers.symbols.at("lines")) < 199 * frames ||
        machine.PeekLong(frame.symbols.at("ticks")) < 3 * frames) {
        state.SkipWithError("the program did not run as expected");
        return;
    }
    Rate(state, frames);
}
BENCHMARK(BM_TimerLoadFrames)->Unit(benchmark::kMillisecond);

void BM_EmuTosDesktopFrames(benchmark::State& state) {
    vexil::Machine machine;
    const vexil::RomLoad rom = vexil::LoadTosRom(machine, VEXIL_EMUTOS);
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
    const int64_t frames = bench::RunFrameIterations(state, machine, 50);
    if (frames < 0) return;
    // The system timer (timer C) ticks four times a frame.
    if (machine.PeekLong(0x4BA) - hz200 < 3 * frames) {
        state.SkipWithError("EmuTOS's timer did not run");
        return;
    }
    Rate(state, frames);
}
BENCHMARK(BM_EmuTosDesktopFrames)->Unit(benchmark::kMillisecond);

}  // namespace

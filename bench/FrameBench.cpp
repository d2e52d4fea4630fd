// Whole frames of the machine (frame-bench.s: a busy loop under VBL, HBL and MFP timer C
// interrupts) in each video timing (the second argument: 0 50 Hz, 1 60 Hz, 2 71 Hz): emulated
// frames per second, and the ratio of machine time to host time. The run is checked by the
// program's VBL count, so a figure from a machine that does not run the program is never
// reported.
#include "BenchProgram.h"

namespace {

void BM_Frames(benchmark::State& state) {
    static const bench::Program program = bench::LoadProgram("frame-bench");
    if (!program.Usable(state, "frame-bench", {"vbls", "passes"})) return;
    vexil::Machine machine;
    bench::StartProgram(machine, program);
    const auto timing = static_cast<vexil::VideoTiming>(state.range(1));
    if (timing == vexil::kTiming60Hz) machine.GetShifter().WriteByte(0xFF820A, 0, 0);
    if (timing == vexil::kTiming71Hz) machine.GetShifter().WriteByte(0xFF8260, 2, 0);
    const int64_t frames = bench::RunFrameIterations(state, machine, static_cast<int>(state.range(0)));
    if (frames < 0) return;
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

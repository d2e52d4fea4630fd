// The YM2149's frame: 881 samples synthesised while a write list is replayed. Two loads: all
// three tones with noise and the envelope and a few writes (a tune), and the same with a
// volume write every 64 cycles (sample playback through the volume registers, 2,500 writes a
// frame). The real machine makes 50 frames a second; the ratio says how far ahead we are.
#include <benchmark/benchmark.h>

#include <vector>

#include "sound/Ym2149.h"

namespace {

std::vector<vexil::YmWrite> Tune(int volumeWrites) {
    std::vector<vexil::YmWrite> list = {{0, 0, 0x1C}, {0, 1, 1},   {0, 2, 0xEF}, {0, 3, 0},  {0, 4, 0x40},
                                        {0, 5, 2},    {0, 6, 12},  {0, 7, 0xC0}, {0, 8, 15}, {0, 9, 0x10},
                                        {0, 10, 12},  {0, 11, 40}, {0, 12, 0},   {0, 13, 10}};
    for (int n = 0; n < volumeWrites; ++n) list.push_back({64, 8, static_cast<uint32_t>(n & 15)});
    list.push_back({vexil::ym::kEndOfList, 16, 0});
    return list;
}

void BM_YmFrame(benchmark::State& state) {
    const std::vector<vexil::YmWrite> list = Tune(static_cast<int>(state.range(0)));
    vexil::Ym2149 chip;
    std::vector<int32_t> out(881);
    for (auto _ : state) {
        chip.Render(list.data(), out.data(), 881);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_YmFrame)->Arg(0)->Arg(2500);

}  // namespace

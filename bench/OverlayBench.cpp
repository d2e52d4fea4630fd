// The cost of a floppy's overlay: formatting every track of a double-sided disk, writing the
// overlay file at a frame's end, and taking it into a save state (the rewind does once a
// second). The overlay is as large as it gets for a 9-sector disk: every track reformatted.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "floppy/DiskImage.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> FormatStream(int track, int side) {
    std::vector<uint8_t> s(60, 0x4E);
    const auto put = [&](size_t n, uint8_t b) { s.insert(s.end(), n, b); };
    for (int n = 1; n <= 9; ++n) {
        put(12, 0), put(3, 0xF5), put(1, 0xFE);
        s.insert(s.end(), {uint8_t(track), uint8_t(side), uint8_t(n), 2, 0xF7});
        put(22, 0x4E), put(12, 0), put(3, 0xF5), put(1, 0xFB), put(512, 0xE5), put(1, 0xF7), put(40, 0x4E);
    }
    s.resize(vexil::kTrackBytes, 0x4E);
    return s;
}

struct Disk {
    fs::path folder = fs::temp_directory_path() / ("vexil-overlay-bench-" + std::to_string(::getpid()));
    vexil::DiskImage image;
    Disk() {
        fs::create_directories(folder);
        std::vector<uint8_t> raw(80 * 2 * 9 * 512, 0);
        raw[19] = 0xA0, raw[20] = 0x05, raw[24] = 9, raw[26] = 2;
        std::ofstream((folder / "bench.st").string(), std::ios::binary)
            .write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
        image.SetOverlayFolder((folder / "overlays").string());
        image.InsertImage((folder / "bench.st").string());
    }
    ~Disk() {
        image.EjectImage();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    void FormatAll() {
        for (int t = 0; t < 80; ++t)
            for (int s = 0; s < 2; ++s) {
                const std::vector<uint8_t> stream = FormatStream(t, s);
                image.WriteTrack(t, s, stream.data(), stream.size());
            }
    }
};

void BM_OverlayFormatDisk(benchmark::State& state) {
    Disk disk;
    for (auto _ : state) disk.FormatAll();
    state.counters["tracks"] = 160;
}
BENCHMARK(BM_OverlayFormatDisk)->Unit(benchmark::kMillisecond);

void BM_OverlayFlush(benchmark::State& state) {
    Disk disk;
    for (auto _ : state) {
        state.PauseTiming();
        disk.FormatAll();
        state.ResumeTiming();
        disk.image.FlushOverlay();
    }
    state.counters["file_bytes"] = static_cast<double>(fs::file_size(disk.image.OverlayPath()));
}
BENCHMARK(BM_OverlayFlush)->Unit(benchmark::kMillisecond);

void BM_OverlayIntoState(benchmark::State& state) {
    Disk disk;
    disk.FormatAll();
    size_t bytes = 0;
    for (auto _ : state) bytes = disk.image.OverlayBytes().size();
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_OverlayIntoState)->Unit(benchmark::kMillisecond);

}  // namespace

// Drive C: against the floppy, in the machine's own time: EmuTOS boots with a folder as C:
// and a blank floppy in A, and an AUTO program (folder-read.s) times reading 1 MB from C: in
// 512-byte Fread calls and 1 MB from the floppy with Floprd, in 200 Hz ticks. The figures
// are machine seconds, the same on every host; the host time of the whole run is reported
// beside them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "machine/Rom.h"

namespace {

namespace fs = std::filesystem;

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (24 - 8 * i));
}

void BM_FolderDriveAgainstFloppy(benchmark::State& state) {
    std::ifstream bin(std::string(VEXIL_ASM_DIR) + "/folder-read.bin", std::ios::binary);
    const std::vector<uint8_t> code{std::istreambuf_iterator<char>(bin), {}};
    if (code.empty()) {
        state.SkipWithError("folder-read.bin was not assembled");
        return;
    }
    const fs::path base = fs::temp_directory_path() / ("vexil-bench-folder-" + std::to_string(::getpid()));
    fs::create_directories(base / "drive" / "AUTO");
    // The program: text only, no relocation, 8 KB of BSS for its buffer.
    std::vector<uint8_t> program(0x1C, 0);
    program[0] = 0x60, program[1] = 0x1A;
    Put32(program, 2, static_cast<uint32_t>((code.size() + 1) & ~size_t{1}));
    Put32(program, 10, 8192);
    program.insert(program.end(), code.begin(), code.end());
    if (code.size() & 1) program.push_back(0);
    program.insert(program.end(), 4, 0);
    std::ofstream(base / "drive" / "AUTO" / "BENCH.PRG", std::ios::binary)
        .write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
    std::vector<char> big(1 << 20, 'x');
    std::ofstream(base / "drive" / "BIG.DAT", std::ios::binary)
        .write(big.data(), static_cast<std::streamsize>(big.size()));
    // A blank disk whose boot sector names its geometry: 80 tracks, 2 sides, 9 sectors.
    std::vector<char> disk(80 * 2 * 9 * 512, 0);
    disk[12] = 2, disk[19] = static_cast<char>(1440 & 0xFF), disk[20] = 1440 >> 8, disk[24] = 9, disk[26] = 2;
    std::ofstream(base / "blank.st", std::ios::binary)
        .write(disk.data(), static_cast<std::streamsize>(disk.size()));

    double folderSeconds = 0, floppySeconds = 0;
    for (auto _ : state) {
        fs::remove(base / "drive" / "RESULT.DAT");
        vexil::MachineSettings settings;
        settings.FolderDrive = (base / "drive").string();
        settings.DriveA = (base / "blank.st").string();
        vexil::Machine machine(settings);
        if (!vexil::LoadTosRom(machine, VEXIL_EMUTOS).ok || machine.Reset(true) != 0) {
            state.SkipWithError("EmuTOS did not load");
            break;
        }
        for (int frames = 0; frames < 20000 && !fs::exists(base / "drive" / "RESULT.DAT"); frames += 50)
            machine.RunFrames(50);
        std::ifstream result(base / "drive" / "RESULT.DAT", std::ios::binary);
        std::vector<uint8_t> ticks{std::istreambuf_iterator<char>(result), {}};
        if (ticks.size() != 8) {
            state.SkipWithError("the benchmark program did not finish");
            break;
        }
        auto be = [&](int at) {
            return uint32_t{ticks[at]} << 24 | ticks[at + 1] << 16 | ticks[at + 2] << 8 | ticks[at + 3];
        };
        folderSeconds = be(0) / 200.0;
        floppySeconds = be(4) / 200.0;
    }
    state.counters["folder_1MB_machine_s"] = folderSeconds;
    state.counters["floppy_1MB_machine_s"] = floppySeconds;
    fs::remove_all(base);
}
BENCHMARK(BM_FolderDriveAgainstFloppy)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

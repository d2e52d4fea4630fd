// vexil: the program's entry point. Parses the command line and runs the emulator.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/Headless.h"
#include "debugger/RomListing.h"

namespace {

void PrintUsage() {
    std::printf(
        "Usage: vexil [options]\n"
        "  --rom FILE        TOS ROM image to run (default roms/etos256us.img)\n"
        "  --frames N        run N frames headless, then stop (default 250)\n"
        "  --ste             emulate an STE instead of an ST\n"
        "  --ram KB          512, 1024 or 2048 KB of RAM (default 2048)\n"
        "  --load-state FILE start from a save state (its machine type and RAM hold)\n"
        "  --save-state FILE write a save state after the last frame\n"
        "  --disk FILE       insert a disk image into drive A (raw, MSA, DIM, FDI, or zipped)\n"
        "  --disk-b FILE     insert a disk image into drive B\n"
        "  --wav FILE        write the machine's sound to a WAV file (44100 Hz, mono, 16-bit)\n"
        "  --disassemble ADDR COUNT\n"
        "                    list COUNT instructions of the ROM from ADDR (hex)\n"
        "  --help            show this help\n"
        "  --version         show the version\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string romPath;
    vexil::HeadlessOptions headless;
    char* end = nullptr;
    const char* disassemble[2] = {nullptr, nullptr};  // ADDR, COUNT
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            PrintUsage();
            return 0;
        }
        if (!std::strcmp(arg, "--version")) {
            std::printf("vexil %s\n", VEXIL_VERSION);
            return 0;
        }
        if (!std::strcmp(arg, "--rom") && i + 1 < argc) {
            romPath = argv[++i];
            continue;
        }
        if (!std::strcmp(arg, "--disassemble")) {
            if (i + 2 >= argc) {
                std::fprintf(stderr, "vexil: --disassemble needs ADDR and COUNT\n");
                return 2;
            }
            disassemble[0] = argv[++i];
            disassemble[1] = argv[++i];
            continue;
        }
        if (!std::strcmp(arg, "--frames") && i + 1 < argc) {
            const long frames = std::strtol(argv[++i], &end, 10);
            if (*end || frames < 0 || frames > 10000000) {
                std::fprintf(stderr, "vexil: --frames takes a number of frames, not '%s'\n", argv[i]);
                return 2;
            }
            headless.frames = static_cast<int>(frames);
            continue;
        }
        if (!std::strcmp(arg, "--load-state") && i + 1 < argc) {
            headless.loadState = argv[++i];
            continue;
        }
        if (!std::strcmp(arg, "--save-state") && i + 1 < argc) {
            headless.saveState = argv[++i];
            continue;
        }
        if (!std::strcmp(arg, "--disk") && i + 1 < argc) {
            headless.DriveA = argv[++i];
            continue;
        }
        if (!std::strcmp(arg, "--disk-b") && i + 1 < argc) {
            headless.DriveB = argv[++i];
            continue;
        }
        if (!std::strcmp(arg, "--wav") && i + 1 < argc) {
            headless.wavPath = argv[++i];
            continue;
        }
        if (!std::strcmp(arg, "--ste")) {
            headless.Machine = 1;
            continue;
        }
        if (!std::strcmp(arg, "--ram") && i + 1 < argc) {
            const std::string kb = argv[++i];
            if (kb == "512")
                headless.RAMSize = 0;
            else if (kb == "1024")
                headless.RAMSize = 1;
            else if (kb == "2048")
                headless.RAMSize = 2;
            else {
                std::fprintf(stderr, "vexil: --ram takes 512, 1024 or 2048, not '%s'\n", kb.c_str());
                return 2;
            }
            continue;
        }
        std::fprintf(stderr, "vexil: unknown option '%s' (try --help)\n", arg);
        return 2;
    }
    if (disassemble[0]) {
        return vexil::ListRom(romPath.empty() ? "roms/etos256us.img" : romPath, disassemble[0],
                              disassemble[1], stdout, stderr);
    }
    if (!romPath.empty()) headless.romPath = romPath;
    return vexil::RunHeadless(headless, stdout, stderr);
}

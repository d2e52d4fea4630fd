// vexil: the program's entry point. Parses the command line and runs the emulator.
#include <cstdio>
#include <cstring>
#include <string>

#include "debugger/RomListing.h"

namespace {

void PrintUsage() {
    std::printf(
        "Usage: vexil [options]\n"
        "  --rom FILE        TOS ROM image to run\n"
        "  --disassemble ADDR COUNT\n"
        "                    list COUNT instructions of the ROM from ADDR (hex)\n"
        "  --help            show this help\n"
        "  --version         show the version\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string romPath;
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
        std::fprintf(stderr, "vexil: unknown option '%s' (try --help)\n", arg);
        return 2;
    }
    if (disassemble[0]) {
        return vexil::ListRom(romPath.empty() ? "roms/etos256us.img" : romPath, disassemble[0],
                              disassemble[1], stdout, stderr);
    }
    std::fprintf(stderr, "vexil: the machine cannot run yet; only --help and --version work.\n");
    return 1;
}

// vexil: the program's entry point. Reads the command line, then runs the emulator in a window,
// headless, or lists ROM code.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/App.h"
#include "app/Config.h"
#include "app/Headless.h"
#include "debugger/RomListing.h"
#include "floppy/DiskImage.h"
#include "host/sdl/SdlHost.h"

namespace {

void PrintUsage() {
    std::printf(
        "Usage: vexil [options] [FILE [FILE-B]]\n"
        "  FILE              a disk image for drive A (a second one for drive B), or a save\n"
        "                    state (.vxs); in a window the machine then runs at once\n"
        "  --headless        run without window or sound, straight into the machine\n"
        "  --rom FILE        TOS ROM image for this run (default: the active one of the\n"
        "                    settings, else VexilDefault.ROM, else the bundled EmuTOS)\n"
        "  --disk FILE       disk image in drive A for this run\n"
        "  --disk-b FILE     disk image in drive B for this run\n"
        "  --ste             emulate an STE for this run\n"
        "  --ram KB          512, 1024 or 2048 KB of RAM for this run\n"
        "  --frames N        stop after N frames (headless default 250)\n"
        "  --config FILE     settings file (default $XDG_CONFIG_HOME/vexil/vexil.ini)\n"
        "  --screenshot FILE save a screenshot at the end of the run\n"
        "  --wav FILE        record the sound of the run\n"
        "  --load-state FILE start a headless run from a save state (its machine type and\n"
        "                    RAM hold)\n"
        "  --save-state FILE write a save state after the last frame of a headless run\n"
        "  --input FILE      keyboard, mouse and joystick events by frame for a headless\n"
        "                    run (FRAME key down|up NAME, FRAME mouse DX DY [left] [right],\n"
        "                    FRAME joy BITS, FRAME type \"TEXT\", FRAME clock DATE TIME)\n"
        "  -debug            offer the debugger on the control bar\n"
        "  --disassemble ADDR COUNT\n"
        "                    list COUNT instructions of the ROM from ADDR (hex)\n"
        "  --help            show this help\n"
        "  --version         show the version\n");
}

// Where the bundled EmuTOS may lie: installed beside the program, or in its source tree.
std::vector<std::string> BundledRoms() {
    std::vector<std::string> paths;
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        paths.push_back((exe.parent_path() / "../share/vexil/etos256us.img").lexically_normal().string());
    paths.push_back(std::string(VEXIL_DATA_DIR) + "/etos256us.img");
    paths.push_back(std::string(VEXIL_SOURCE_DIR) + "/roms/etos256us.img");
    return paths;
}

int BadArgument(const char* text, const char* arg) {
    std::fprintf(stderr, "vexil: %s '%s' (try --help)\n", text, arg);
    return 2;
}

int RunHeadlessWith(const vexil::AppOptions& options, const std::string& loadState,
                    const std::string& saveState, const std::string& input) {
    vexil::MachineConfig config;
    vexil::RomList roms;
    const std::string configPath =
        options.configPath.empty() ? vexil::DefaultConfigPath() : options.configPath;
    const vexil::ConfigLoad load = vexil::LoadConfig(configPath, config, roms);
    if (load.status == vexil::ConfigStatus::kDamaged)
        std::fprintf(stderr, "vexil: %s\n", load.message.c_str());
    vexil::HeadlessOptions headless;
    headless.romPath = vexil::ChooseTosRom(options, roms);
    if (options.frames >= 0) headless.frames = options.frames;
    const vexil::MachineSettings settings = vexil::MachineSettingsOf(config);
    headless.Machine = options.machine.value_or(settings.Machine);
    headless.RAMSize = options.ramSize.value_or(settings.RAMSize);
    headless.loadState = loadState;
    headless.saveState = saveState;
    headless.inputScript = input;
    headless.screenshot = options.screenshot;
    // Only the command line's disks go in: a scripted run does not depend on the stored ones.
    headless.DriveA = options.disk;
    headless.DriveB = options.diskB;
    headless.FastDisk = settings.FastDisk;
    headless.YMSound = settings.YMSound;
    headless.DiskSound = settings.DiskSound;
    headless.bLowPass = settings.bLowPass;
    headless.wavPath = options.wav;
    return vexil::RunHeadless(headless, stdout, stderr);
}

}  // namespace

int main(int argc, char** argv) {
    vexil::AppOptions options;
    bool headless = false;
    std::string loadState, saveState, input;
    char* end = nullptr;
    const char* disassemble[2] = {nullptr, nullptr};  // ADDR, COUNT
    std::vector<std::string> files;                   // positional: drive A and B, or a state
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            PrintUsage();
            return 0;
        }
        if (!std::strcmp(arg, "--version")) {
            std::printf("vexil %s\n", VEXIL_VERSION);
            return 0;
        }
        if (!std::strcmp(arg, "-debug")) {
            options.debug = true;
        } else if (!std::strcmp(arg, "--headless")) {
            headless = true;
        } else if (!std::strcmp(arg, "--ste")) {
            options.machine = 1;
        } else if (!std::strcmp(arg, "--disassemble")) {
            if (i + 2 >= argc) {
                std::fprintf(stderr, "vexil: --disassemble needs ADDR and COUNT\n");
                return 2;
            }
            disassemble[0] = argv[++i];
            disassemble[1] = argv[++i];
        } else if (!std::strcmp(arg, "--frames") && hasValue) {
            const long frames = std::strtol(argv[++i], &end, 10);
            if (*end || !*argv[i] || frames < 0 || frames > 10000000) {
                std::fprintf(stderr, "vexil: --frames takes a number of frames, not '%s'\n", argv[i]);
                return 2;
            }
            options.frames = static_cast<int>(frames);
        } else if (!std::strcmp(arg, "--ram") && hasValue) {
            const std::string kb = argv[++i];
            if (kb == "512")
                options.ramSize = 0;
            else if (kb == "1024")
                options.ramSize = 1;
            else if (kb == "2048")
                options.ramSize = 2;
            else {
                std::fprintf(stderr, "vexil: --ram takes 512, 1024 or 2048, not '%s'\n", kb.c_str());
                return 2;
            }
        } else if ((!std::strcmp(arg, "--rom") || !std::strcmp(arg, "--disk") ||
                    !std::strcmp(arg, "--disk-b") || !std::strcmp(arg, "--config") ||
                    !std::strcmp(arg, "--screenshot") || !std::strcmp(arg, "--wav") ||
                    !std::strcmp(arg, "--load-state") || !std::strcmp(arg, "--save-state") ||
                    !std::strcmp(arg, "--input"))) {
            if (!hasValue || !*argv[i + 1]) return BadArgument("this option needs a file name:", arg);
            const std::string value = argv[++i];
            if (!std::strcmp(arg, "--rom"))
                options.rom = value;
            else if (!std::strcmp(arg, "--disk"))
                options.disk = value;
            else if (!std::strcmp(arg, "--disk-b"))
                options.diskB = value;
            else if (!std::strcmp(arg, "--config"))
                options.configPath = value;
            else if (!std::strcmp(arg, "--screenshot"))
                options.screenshot = value;
            else if (!std::strcmp(arg, "--load-state"))
                loadState = value;
            else if (!std::strcmp(arg, "--save-state"))
                saveState = value;
            else if (!std::strcmp(arg, "--input"))
                input = value;
            else
                options.wav = value;
        } else if (!std::strcmp(arg, "--frames") || !std::strcmp(arg, "--ram")) {
            return BadArgument("this option needs a value:", arg);
        } else if (arg[0] != '-' && arg[0] != '\0') {
            files.emplace_back(arg);
            if (files.size() > 2) return BadArgument("more than two files:", arg);
        } else {
            return BadArgument("unknown option", arg);
        }
    }
    // A save state among the files is loaded; the disk images fill drive A, then drive B.
    for (const std::string& file : files) {
        const std::string extension = std::filesystem::path(file).extension().string();
        if (extension == ".vxs" || extension == ".VXS")
            (headless ? loadState : options.state) = file;
        else if (options.disk.empty())
            options.disk = file;
        else
            options.diskB = file;
    }
    options.bundledRoms = BundledRoms();
    if (disassemble[0]) {
        return vexil::ListRom(vexil::ChooseTosRom(options, vexil::RomList()), disassemble[0], disassemble[1],
                              stdout, stderr);
    }
    // Save states and input scripts belong to scripted runs: asking for one means a headless run.
    if (headless || !loadState.empty() || !saveState.empty() || !input.empty())
        return RunHeadlessWith(options, loadState, saveState, input);
    if (options.frames >= 0) options.frameReports = stdout;
    const auto run = [&options](const vexil::host::Devices& devices) {
        vexil::App app(options, devices, stderr);
        const int status = app.Run();
        return vexil::host::WindowedRun{status, app.FramesRun(), app.RunSeconds()};
    };
    return vexil::host::RunWindowed(run, options.frames >= 0, stdout, stderr);
}

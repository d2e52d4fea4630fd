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
#include "app/TestCommand.h"
#include "debugger/RomListing.h"
#include "floppy/DiskImage.h"
#include "host/sdl/SdlHost.h"

namespace {

void PrintUsage() {
    std::printf(
        "Usage: vexil [options] [FILE [FILE-B]]\n"
        "  FILE              a disk image for drive A (a second one for drive B), or a save\n"
        "                    state (.vxs); in a window the machine then runs at once\n"
        "       vexil test [-j N] [--junit FILE] [--rom FILE] TESTFILE...\n"
        "       vexil test [--rom FILE] --print-region X Y W H TESTFILE\n"
        "  --headless        run without window or sound, straight into the machine\n"
        "  --rom FILE        TOS ROM image for this run (default: the active one of the\n"
        "                    settings, else VexilDefault.ROM, else the bundled EmuTOS)\n"
        "  --disk FILE       disk image in drive A for this run\n"
        "  --disk-b FILE     disk image in drive B for this run\n"
        "  --folder-drive DIR    the host folder DIR is drive C: (EmuTOS then boots from it:\n"
        "                    C:\\AUTO\\*.PRG, C:\\*.ACC)\n"
        "  --folder-drive-ro DIR the same, refusing every write\n"
        "  --run C:\\PATH\\PROG.PRG start this program on drive C: once the desktop is up\n"
        "  --boot a|c        with drive C:, boot from the floppy (Alternate held) or from C:\n"
        "  --ste             emulate an STE for this run\n"
        "  --ram KB          512, 1024, 2048, 2560 or 4096 KB of RAM\n"
        "  --monitor colour|mono\n"
        "                    the monitor for this run (mono: 640 x 400 at 71 Hz)\n"
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
        "  --printer FILE    the printer port's bytes to FILE (- for standard output)\n"
        "  --serial FILE     the serial port's bytes to FILE (- for standard output)\n"
        "  --serial-in FILE  bytes the serial port receives, at its rate\n"
        "  --natfeats        answer the native-feature calls (NF_STDERR to standard error;\n"
        "                    NF_SHUTDOWN and NF_EXIT end the run)\n"
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
    headless.Monitor = options.monitor.value_or(settings.Monitor);
    headless.loadState = loadState;
    headless.saveState = saveState;
    headless.inputScript = input;
    headless.screenshot = options.screenshot;
    // Only the command line's disks go in: a scripted run does not depend on the stored ones.
    headless.DriveA = options.disk;
    headless.DriveB = options.diskB;
    headless.FolderDrive = options.folderDrive.empty() ? settings.FolderDrive : options.folderDrive;
    headless.FolderDriveReadOnly = options.folderDriveReadOnly;
    headless.run = options.run;
    headless.boot = options.boot;
    headless.FastDisk = settings.FastDisk;
    headless.YMSound = settings.YMSound;
    headless.DiskSound = settings.DiskSound;
    headless.bLowPass = settings.bLowPass;
    headless.DriveBConnected = settings.DriveBConnected;
    headless.wavPath = options.wav;
    headless.printer = options.printer;
    headless.serial = options.serial;
    headless.serialIn = options.serialIn;
    headless.natfeats = options.natfeats;
    return vexil::RunHeadless(headless, stdout, stderr);
}

}  // namespace

int main(int argc, char** argv) {
    vexil::AppOptions options;
    if (argc > 1 && !std::strcmp(argv[1], "test")) {
        options.bundledRoms = BundledRoms();
        std::string rom;
        for (const std::string& bundled : options.bundledRoms) {
            std::error_code ec;
            if (std::filesystem::is_regular_file(bundled, ec)) {
                rom = bundled;
                break;
            }
        }
        return vexil::RunTestCommand(std::vector<std::string>(argv + 2, argv + argc), rom,
                                     std::string("Vexil ") + VEXIL_VERSION, stdout, stderr);
    }
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
        } else if (!std::strcmp(arg, "--natfeats")) {
            options.natfeats = true;
        } else if (!std::strcmp(arg, "--ste")) {
            options.machine = 1;
        } else if (!std::strcmp(arg, "--disassemble")) {
            if (i + 2 >= argc) {
                std::fprintf(stderr, "vexil: --disassemble needs ADDR and COUNT\n");
                return 2;
            }
            disassemble[0] = argv[++i];
            disassemble[1] = argv[++i];
        } else if (!std::strcmp(arg, "--boot") && hasValue) {
            const std::string drive = argv[++i];
            if (drive != "a" && drive != "c") {
                std::fprintf(stderr, "vexil: --boot takes a or c, not '%s'\n", drive.c_str());
                return 2;
            }
            options.boot = drive[0];
        } else if (!std::strcmp(arg, "--frames") && hasValue) {
            const long frames = std::strtol(argv[++i], &end, 10);
            if (*end || !*argv[i] || frames < 0 || frames > 10000000) {
                std::fprintf(stderr, "vexil: --frames takes a number of frames, not '%s'\n", argv[i]);
                return 2;
            }
            options.frames = static_cast<int>(frames);
        } else if (!std::strcmp(arg, "--monitor") && hasValue) {
            const std::string monitor = argv[++i];
            if (monitor == "colour" || monitor == "color")
                options.monitor = 0;
            else if (monitor == "mono")
                options.monitor = 1;
            else {
                std::fprintf(stderr, "vexil: --monitor takes colour or mono, not '%s'\n", monitor.c_str());
                return 2;
            }
        } else if (!std::strcmp(arg, "--ram") && hasValue) {
            const std::string kb = argv[++i];
            if (kb == "512")
                options.ramSize = 0;
            else if (kb == "1024")
                options.ramSize = 1;
            else if (kb == "2048")
                options.ramSize = 2;
            else if (kb == "2560")
                options.ramSize = 4;
            else if (kb == "4096")
                options.ramSize = 3;
            else {
                std::fprintf(stderr, "vexil: --ram takes 512, 1024, 2048, 2560 or 4096, not '%s'\n",
                             kb.c_str());
                return 2;
            }
        } else if ((!std::strcmp(arg, "--rom") || !std::strcmp(arg, "--disk") ||
                    !std::strcmp(arg, "--disk-b") || !std::strcmp(arg, "--config") ||
                    !std::strcmp(arg, "--screenshot") || !std::strcmp(arg, "--wav") ||
                    !std::strcmp(arg, "--load-state") || !std::strcmp(arg, "--save-state") ||
                    !std::strcmp(arg, "--input") || !std::strcmp(arg, "--printer") ||
                    !std::strcmp(arg, "--serial") || !std::strcmp(arg, "--serial-in") ||
                    !std::strcmp(arg, "--folder-drive") || !std::strcmp(arg, "--folder-drive-ro") ||
                    !std::strcmp(arg, "--run"))) {
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
            else if (!std::strcmp(arg, "--printer"))
                options.printer = value;
            else if (!std::strcmp(arg, "--serial"))
                options.serial = value;
            else if (!std::strcmp(arg, "--serial-in"))
                options.serialIn = value;
            else if (!std::strcmp(arg, "--folder-drive") || !std::strcmp(arg, "--folder-drive-ro")) {
                options.folderDrive = value;
                options.folderDriveReadOnly = !std::strcmp(arg, "--folder-drive-ro");
            } else if (!std::strcmp(arg, "--run"))
                options.run = value;
            else
                options.wav = value;
        } else if (!std::strcmp(arg, "--frames") || !std::strcmp(arg, "--ram") ||
                   !std::strcmp(arg, "--boot") || !std::strcmp(arg, "--monitor")) {
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
        return vexil::host::WindowedRun{status, app.FramesRun(), app.RunSeconds(), app.MachineSeconds()};
    };
    return vexil::host::RunWindowed(run, options.frames >= 0, stdout, stderr);
}

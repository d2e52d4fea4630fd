#include "app/Headless.h"

#include <chrono>
#include <vector>

#include "app/App.h"
#include "cpu/Cpu.h"
#include "host/Host.h"
#include "input/InputScript.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
#include "recording/PortFiles.h"
#include "recording/Tga.h"
#include "recording/WavFile.h"

namespace vexil {

int RunHeadless(const HeadlessOptions& options, std::FILE* out, std::FILE* err) {
    InputScript script;
    std::string error;
    if (!options.inputScript.empty() && !script.Load(options.inputScript, error)) {
        std::fprintf(err, "vexil: %s\n", error.c_str());
        return 2;
    }
    MachineSettings settings{options.Machine,   options.RAMSize,  options.DriveA,
                             options.DriveB,    options.FastDisk, options.YMSound,
                             options.DiskSound, options.bLowPass, options.DriveBConnected};
    settings.Monitor = options.Monitor;
    settings.FolderDrive = options.FolderDrive;
    settings.FolderDriveReadOnly = options.FolderDriveReadOnly;
    settings.BootDrive = options.boot;
    Machine machine(settings);
    if (!machine.SettingsFolderError().empty()) {
        std::fprintf(err, "vexil: %s\n", machine.SettingsFolderError().c_str());
        return 1;
    }
    if (!options.run.empty()) {
        if (options.FolderDrive.empty()) {
            std::fprintf(err, "vexil: --run needs a folder as drive C:\n");
            return 1;
        }
        machine.FolderDrive().SetDesktopLines(DesktopRunLine(options.run));
    }
    for (int drive = 0; drive < 2; ++drive) {
        const InsertResult& insert = machine.SettingsInsertResult(drive);
        if (!insert) {
            std::fprintf(err, "vexil: drive %c: %s\n", 'A' + drive, insert.message.c_str());
            return 1;
        }
    }
    PortWriter printer, serial;
    PortReader serialIn;
    if ((!options.printer.empty() && !printer.Open(options.printer, error)) ||
        (!options.serial.empty() && !serial.Open(options.serial, error)) ||
        (!options.serialIn.empty() && !serialIn.Open(options.serialIn, error))) {
        std::fprintf(err, "vexil: %s\n", error.c_str());
        return 1;
    }
    if (printer.IsOpen()) machine.SetPrinter([&printer](uint8_t byte) { printer.Put(byte); });
    machine.SetSerial(
        serial.IsOpen() ? std::function<void(uint8_t)>([&serial](uint8_t b) { serial.Put(b); }) : nullptr,
        serialIn.IsOpen() ? std::function<int32_t()>([&serialIn] { return serialIn.Next(); }) : nullptr);
    machine.NatFeats().output.context = err;
    machine.NatFeats().output.write = [](void* c, const char* text, size_t length, bool) {
        std::fwrite(text, 1, length, static_cast<std::FILE*>(c));
    };
    machine.SetNativeFeatures(options.natfeats);
    const RomLoad rom = LoadTosRom(machine, options.romPath);
    if (!rom.ok) {
        std::fprintf(err, "vexil: %s\n", rom.message.c_str());
        return 1;
    }
    if (machine.Reset(true) != 0) {
        std::fprintf(err, "vexil: the ROM's reset vectors do not start the processor\n");
        return 1;
    }
    if (!options.loadState.empty() && !machine.LoadStateFile(options.loadState, error)) {
        std::fprintf(err, "vexil: %s\n", error.c_str());
        return 1;
    }
    // The picture is drawn into memory only.
    std::vector<uint16_t> picture(static_cast<size_t>(host::kFrameWidth) * host::kFrameHeight, 0);
    machine.RenderInto(picture.data(), host::kFrameWidth * 2);
    WavFile wav;
    if (!options.wavPath.empty()) {
        if (!wav.Open(options.wavPath, error)) {
            std::fprintf(err, "vexil: %s\n", error.c_str());
            return 1;
        }
        machine.soundSink = [&wav](const int16_t* samples, int32_t count) { wav.Write(samples, count); };
    }
    const auto start = std::chrono::steady_clock::now();
    const int64_t startCycles = machine.Scheduler().CyclesRun();
    int frames = 0;
    uint32_t result = kRunBudgetSpent;
    while (frames < options.frames && result == kRunBudgetSpent && !machine.NatFeats().Exited()) {
        script.Apply(frames, machine.Keyboard());
        result = machine.RunFrame();
        if (result == kRunBudgetSpent) ++frames;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double machineSeconds =
        static_cast<double>(machine.Scheduler().CyclesRun() - startCycles) / kCpuClockHz;
    std::fprintf(out, "%d frames (%.1f s of machine time) in %.2f s; PC $%06X SR $%04X\n", frames,
                 machineSeconds, seconds, g_cpu.pc & 0xFFFFFF, CpuGetSr());
    machine.soundSink = nullptr;
    const bool portsClosed = printer.Close(error) && serial.Close(error);
    if (!wav.Close(error) || !portsClosed) {
        std::fprintf(err, "vexil: %s\n", error.c_str());
        return 1;
    }
    if (result == kRunBudgetSpent) {
        if (!options.screenshot.empty() && !WriteTga(options.screenshot, picture.data(), host::kFrameWidth,
                                                     host::kFrameHeight, host::kFrameWidth, &error)) {
            std::fprintf(err, "vexil: %s\n", error.c_str());
            return 1;
        }
        // The state keeps the last picture, an eighth each way, as the window's slots do.
        const StatePicture small =
            options.saveState.empty()
                ? StatePicture{}
                : ShrinkPicture(picture.data(), host::kFrameWidth, host::kFrameHeight, host::kFrameWidth, 8);
        if (!options.saveState.empty() && !machine.SaveStateFile(options.saveState, error, &small)) {
            std::fprintf(err, "vexil: %s\n", error.c_str());
            return 1;
        }
        if (machine.NatFeats().Exited() && machine.NatFeats().ExitCode() != 0) {
            std::fprintf(err, "vexil: the program exited with code %d\n", machine.NatFeats().ExitCode());
            return 1;
        }
        return 0;
    }
    if (result == kRunHalted)
        std::fprintf(err, "vexil: the processor halted after a double bus or address error\n");
    else if (result == kRunFetchFault)
        std::fprintf(err, "vexil: the program ran into an address with no memory\n");
    else
        std::fprintf(err, "vexil: RESET at $%06X with nothing to reset\n", result);
    return 1;
}

}  // namespace vexil

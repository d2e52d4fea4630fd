#include "app/Headless.h"

#include <chrono>
#include <vector>

#include "cpu/Cpu.h"
#include "host/Host.h"
#include "input/InputScript.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
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
    Machine machine({options.Machine, options.RAMSize, options.Monitor, options.DriveA, options.DriveB,
                     options.FastDisk, options.YMSound, options.DiskSound, options.bLowPass});
    for (int drive = 0; drive < 2; ++drive) {
        const InsertResult& insert = machine.SettingsInsertResult(drive);
        if (!insert) {
            std::fprintf(err, "vexil: drive %c: %s\n", 'A' + drive, insert.message.c_str());
            return 1;
        }
    }
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
    while (frames < options.frames && result == kRunBudgetSpent) {
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
    if (!wav.Close(error)) {
        std::fprintf(err, "vexil: %s\n", error.c_str());
        return 1;
    }
    if (result == kRunBudgetSpent) {
        if (!options.screenshot.empty() && !WriteTga(options.screenshot, picture.data(), host::kFrameWidth,
                                                     host::kFrameHeight, host::kFrameWidth, &error)) {
            std::fprintf(err, "vexil: %s\n", error.c_str());
            return 1;
        }
        if (options.saveState.empty() || machine.SaveStateFile(options.saveState, error)) return 0;
        std::fprintf(err, "vexil: %s\n", error.c_str());
        return 1;
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

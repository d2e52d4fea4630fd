// One emulated ST/STE with no host devices: memory, CPU, I/O chips and the frame scheduler,
// wired together. The headless mode and the tests drive the machine through it.
//
// The machine owns every chip: each keeps its state in a plain struct, is registered once on
// the I/O page with itself as the context its routines get back, posts its timed events on the
// scheduler, reaches RAM for DMA through the device bus, and writes and reads its state in the
// save state. The 68000's run state stays global (the interpreter's hot path reaches it
// directly), so only one Machine may exist at a time: a second one is refused.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "floppy/DiskImage.h"
#include "floppy/FloppyController.h"
#include "gemdos/GemdosDrive.h"
#include "gemdos/GemdosTrap.h"
#include "input/Acia.h"
#include "input/ExtendedPorts.h"
#include "input/Ikbd.h"
#include "io/IoDispatch.h"
#include "io/Mfp.h"
#include "io/NativeFeatures.h"
#include "machine/FrameScheduler.h"
#include "memory/DeviceBus.h"
#include "memory/Memory.h"
#include "memory/MemoryController.h"
#include "sound/DmaSound.h"
#include "sound/DriveSound.h"
#include "sound/SoundMix.h"
#include "sound/Ym2149.h"
#include "video/Blitter.h"
#include "video/Overlay.h"
#include "video/Renderer.h"
#include "video/Shifter.h"

namespace vexil {

// The settings the machine is built with, named after their configuration values.
struct MachineSettings {
    uint32_t Machine = 0;     // 0 ST, 1 STE
    uint32_t RAMSize = 2;     // 0 512 KB, 1 1 MB, 2 2 MB, 3 4 MB, 4 2.5 MB
    std::string DriveA = {};  // disk images inserted at construction (empty: none)
    std::string DriveB = {};
    bool FastDisk = false;             // every floppy command takes 1,024 cycles
    bool YMSound = true;               // the YM2149 is synthesised (off: its writes reach the registers only)
    bool DiskSound = true;             // the drive's noises are heard (never with FastDisk)
    bool bLowPass = true;              // the mix goes through the low-pass filter
    bool DriveBConnected = true;       // false: a machine with one floppy drive
    std::string FolderDrive = {};      // a host folder served as GEMDOS drive C: (empty: none)
    bool FolderDriveReadOnly = false;  // drive C: refuses every write
    char BootDrive = 'c';              // with drive C:, 'a' boots from the floppy (Alt held through the boot)
    uint32_t Monitor = 0;              // 0 colour, 1 monochrome (MFP GPIP 7 low, 640 x 400 at 71 Hz)
    bool WriteProtectDisks = false;    // every floppy is write-protected (no overlay is written)
    std::string OverlayFolder = {};    // where the floppies' overlay files live (empty: in memory only)
};

// The display settings the frame end follows, named after their configuration values.
struct VideoSettings {
    uint32_t g_softwareMode = 0;  // line modes: 0 Normal, 1 Half, 2 Interlace, 3 Blend
    uint32_t bUseTexture = 0;     // the display doubles the lines itself
    uint32_t bProfile = 0;        // draw the status messages
    uint32_t bSoundDebug = 0;     // draw the sound waveform
};

// Shown over the black picture of a monitor that cannot follow the video timing.
constexpr const char* kCannotSyncMessage = "The monitor cannot sync to this video mode";

// RAM bytes for a `RAMSize` value (above 4: 2 MB).
uint32_t RamBytesFor(uint32_t ramSize);
constexpr uint32_t kLastRamSize = 4;

class Machine {
public:
    // Throws std::logic_error when another Machine exists (which it leaves as it was).
    explicit Machine(const MachineSettings& settings = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;
    static bool Exists();

    // A cold reset first clears RAM from address 8 to the end of the 4 MB area; then both
    // kinds reset the CPU and the I/O chips. Returns CpuReset's status.
    int32_t Reset(bool cold);
    // Runs until the frame ends. Returns kRunBudgetSpent, or the CPU's result when it stopped
    // (fetch fault, halt, RESET without a hook); the frame is then left unfinished.
    uint32_t RunFrame();
    // Runs `frames` frames; stops early on a CPU stop and returns its result.
    uint32_t RunFrames(int frames);
    // The debugger's step: services what is due, then takes a pending interrupt or runs one
    // instruction (a stopped processor waits for the next event instead).
    struct Step {
        uint32_t cpu = kRunBudgetSpent;  // CpuRun's result
        bool frameEnded = false;
        bool interrupt = false;  // an interrupt was taken: `taken` says which
        CpuInterruptRecord taken{};
        Cycles cycles = 0;  // run by the processor
    };
    Step StepInstruction();

    // Save states, between frames. Load checks the whole file before it changes anything: a
    // damaged, cut short or foreign file is refused with the reason in `error` and the machine
    // goes on as it was.
    std::vector<uint8_t> SaveState() const;
    bool LoadState(const std::vector<uint8_t>& file, std::string& error);
    bool SaveStateFile(const std::string& path, std::string& error) const;
    bool LoadStateFile(const std::string& path, std::string& error);
    // Checks the sections that follow the memory in a state file, changing nothing: true when
    // LoadState would take them. For a quick look at a part of a file (the fuzz target).
    bool CheckChipSections(StateReader& in);

    // Emulated RAM in host word order, and copies into it of big-endian bytes.
    uint8_t* Ram() { return block_->Ram(); }
    void LoadBytes(uint32_t address, const uint8_t* bytes, size_t length);
    uint8_t PeekByte(uint32_t address) const { return block_->bytes[(address & 0x3FFFFF) ^ 1]; }
    uint32_t PeekLong(uint32_t address) const { return LoadHostLong(block_->bytes + (address & 0x3FFFFE)); }
    void PokeLong(uint32_t address, uint32_t value) {
        StoreHostLong(block_->bytes + (address & 0x3FFFFE), value);
    }

    EmulatedMemoryBlock& Memory() { return *block_; }
    MachineTables& Tables() { return *tables_; }
    FrameScheduler& Scheduler() { return scheduler_; }
    IoDispatch& Io() { return io_; }
    Mfp& GetMfp() { return mfp_; }
    Acias& GetAcias() { return acias_; }
    Ikbd& Keyboard() { return keyboard_; }
    const DeviceBus& Bus() const { return bus_; }
    const MemoryController& Banks() const { return banks_; }
    const MachineSettings& Settings() const { return settings_; }
    bool ColourMonitor() const { return (settings_.Monitor & 1) == 0; }
    Shifter& GetShifter() { return shifter_; }
    Renderer& GetRenderer() { return renderer_; }
    StatusOverlay& Overlay() { return overlay_; }
    Blitter& GetBlitter() { return blitter_; }
    ExtendedPorts& Joypads() { return joypads_; }

    // The display settings; take effect at the next frame end.
    void SetVideoSettings(const VideoSettings& video);
    // Each frame end draws the picture into this 800 x 600 buffer (`pitchBytes` apart) unless
    // the scheduler's lockBackBuffer hook is set otherwise. Null: no picture.
    void RenderInto(uint16_t* pixels, int32_t pitchBytes);

    FloppyController& Fdc() { return fdc_; }
    YmChip& Ym() { return ym_; }
    DmaSound& GetDmaSound() { return dmaSound_; }

    // The drives (0 A, 1 B). Inserting ejects what was there; a refused image leaves the drive
    // empty. The result of inserting the settings' images at construction is kept.
    DiskImage& Drive(int drive) { return drives_[drive & 1]; }
    InsertResult InsertDisk(int drive, const std::string& path);
    void SetWriteProtectDisks(bool on);
    // Why a floppy's changes could not be kept at the last frame end (empty: no trouble); taken
    // once.
    std::string TakeDiskMessage() { return std::exchange(diskMessage_, {}); }
    const InsertResult& SettingsInsertResult(int drive) const { return settingsInsert_[drive & 1]; }
    void SetFastDisk(bool on) { settings_.FastDisk = on, fdc_.FastDisk = on; }
    void SetDriveBConnected(bool on) { settings_.DriveBConnected = on, fdc_.DriveBConnected = on; }
    void SetYmSound(bool on) { settings_.YMSound = on; }
    void SetDiskSound(bool on) { settings_.DiskSound = on; }
    void SetLowPass(bool on) { settings_.bLowPass = on; }
    DriveSounds& DriveNoises() { return driveSounds_; }

    // The host ports. The printer gets each byte strobed out of the parallel port, and while
    // one is attached its BUSY line (MFP GPIP 0) reads ready; the serial port's transmitter
    // hands each byte it sends to `out`, and its receiver takes bytes from `in` (-1: no more)
    // at the line's rate. Empty functions detach.
    void SetPrinter(std::function<void(uint8_t byte)> out);
    void SetSerial(std::function<void(uint8_t byte)> out, std::function<int32_t()> in);
    // The native-feature calls (io/NativeFeatures.h); off, their opcodes are illegal.
    void SetNativeFeatures(bool on);
    NativeFeatures& NatFeats() { return natFeats_; }

    // Drive C: from a host folder (see GemdosTrap). Attaching writes the drive's cartridge into
    // the cartridge area, so it fails, with the reason in `error`, when a cartridge image is
    // loaded; TOS finds the drive at its next boot. The result of the settings' folder is kept.
    bool AttachFolderDrive(const std::string& folder, bool readOnly, std::string& error);
    void DetachFolderDrive();
    gemdos::GemdosDrive& FolderDrive() { return folderDrive_; }
    const std::string& SettingsFolderError() const { return folderError_; }

    // The frame's sound: 16-bit mono samples at 44,100 Hz, the YM2149, the drive's noises and
    // the STE's DMA sound mixed, filtered and clipped. The scheduler's chooseSampleCount hook
    // says how many samples the device takes this frame: the frame's share of 44,100 a second
    // of machine time (881.07 at 50 Hz, 734.54 at 60, 617.00 at 71), unless the display paces.
    //   soundSink   gets the block for the device, as many samples as it asked for; headless
    //               runs write the same block to --wav.
    //   recordSink  while set (a recording runs), the frame is mixed once at its share of
    //               samples, the machine's own time, and handed here first; the device gets that block
    //               stretched to its count.
    // Sound() is the last mixed block (the oscilloscope draws it), SoundSamples() its length.
    const int16_t* Sound() const { return mixer_.Output(); }
    int32_t SoundSamples() const { return mixer_.Count(); }
    std::function<void(const int16_t* samples, int32_t count)> soundSink;
    std::function<void(const int16_t* samples, int32_t count)> recordSink;

private:
    // Marks the one machine; built first and destroyed last.
    struct SingleInstance {
        SingleInstance();
        ~SingleInstance();
        SingleInstance(const SingleInstance&) = delete;
        SingleInstance& operator=(const SingleInstance&) = delete;
    };

    bool LoadSections(StateReader& in, bool commit);
    bool LoadChipSections(StateReader& in, bool commit);
    // Hands `visit` each part of the state after the memory, in file order: the one list that
    // saving and loading both walk. `Self` is Machine or const Machine.
    template <class Self, class Visit>
    static void EachSection(Self& machine, Visit&& visit);
    struct FolderSection;
    void ConfigureMemory(uint8_t value);
    void KeyboardTick();
    void WireUsart();
    void WireFrameEnd();
    void Profile(ProfileMark mark);
    void ProduceSound(int32_t samples);
    void MixFrame(int32_t samples, int32_t span);  // `samples` spanning the time of `span`
    FloppyController::Lines FdcLines();
    DmaSound::Lines DmaSoundLines();

    SingleInstance instance_;
    MachineSettings settings_;
    std::unique_ptr<EmulatedMemoryBlock> block_;
    std::unique_ptr<MachineTables> tables_;
    MemoryController banks_;
    DeviceBus bus_;
    IoDispatch io_;
    Mfp mfp_;
    FrameScheduler scheduler_;
    Acias acias_;
    Ikbd keyboard_;
    Shifter shifter_;
    Renderer renderer_;
    StatusOverlay overlay_;
    ProfileTimer frameTimer_, graphicsTimer_, soundTimer_;  // T, G and S
    VideoSettings video_;

    DiskImage drives_[2];
    std::string diskMessage_;
    InsertResult settingsInsert_[2];
    YmChip ym_;
    FloppyController fdc_;
    Blitter blitter_;
    ExtendedPorts joypads_;
    DmaSound dmaSound_;
    const YmWrite* ymList_ = nullptr;  // the closed write list of the frame being ended
    DriveSounds driveSounds_;
    SoundMix mixer_;
    ToneControl tone_;
    NativeFeatures natFeats_;
    std::function<void(uint8_t)> printerOut_, serialOut_;
    std::function<int32_t()> serialIn_;
    int usartEvents_[2] = {-1, -1};  // the transmitter's and the receiver's scheduler events
    gemdos::GemdosDrive folderDrive_;
    gemdos::GemdosTrap folderTrap_;
    std::string folderError_;
    std::string loadError_;  // why LoadSections refused, when a section says so
};

}  // namespace vexil

#include "machine/Machine.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "core/SaveState.h"
#include "core/Sha256.h"
#include "cpu/Cpu.h"

namespace vexil {

namespace {
bool g_machineExists = false;

constexpr unsigned kGpipPrinterBusy = 0;  // high: busy

constexpr uint32_t kRomRegion = 1;  // index of the ROM in the read tables (see MemoryInstall)
}  // namespace

uint32_t RamBytesFor(uint32_t ramSize) {
    constexpr uint32_t kSizes[kLastRamSize + 1] = {0x80000, 0x100000, 0x200000, 0x400000, 0x280000};
    return ramSize <= kLastRamSize ? kSizes[ramSize] : 0x200000;
}

bool Machine::Exists() {
    return g_machineExists;
}

Machine::SingleInstance::SingleInstance() {
    if (g_machineExists)
        throw std::logic_error("a second Machine while one exists: the machine has one 68000");
    g_machineExists = true;
}

Machine::SingleInstance::~SingleInstance() {
    g_machineExists = false;
}

namespace {
constexpr int kAlternateKey = 0x38;  // ST key code
}  // namespace

Machine::Machine(const MachineSettings& settings)
    : settings_(settings),
      block_(new EmulatedMemoryBlock()),
      tables_(new MachineTables()),
      bus_(*tables_, &CpuChargeDevice, &banks_, block_->Ram()),
      io_((settings.Machine & 1) != 0),
      shifter_(scheduler_.border, scheduler_.lines, (settings.Machine & 1) != 0),
      fdc_(scheduler_.events, bus_, &drives_[0], &drives_[1], FdcLines()),
      blitter_(bus_),
      dmaSound_(scheduler_.events, bus_, DmaSoundLines()),
      folderTrap_(folderDrive_, *block_, *tables_, RamBytesFor(settings.RAMSize)) {
    static const bool dispatchBuilt = (CpuBuildDispatchTable(), true);
    (void)dispatchBuilt;

    // The chips of the I/O page, one registration each; their resets run in this order, and
    // each adds its section to the save state (EachSection, in file order).
    mfp_.PowerOn();
    mfp_.SetInputLine(mfp::kGpipMonochrome, ColourMonitor());  // low with a monochrome monitor
    io_.RegisterChip(MfpIoChip(mfp_));
    io_.RegisterChip(ShifterIoChip(shifter_));
    io_.RegisterChip(FloppyControllerIoChip(fdc_));
    io_.RegisterChip(Ym2149IoChip(ym_));
    io_.RegisterChip(DmaSoundIoChip(dmaSound_));  // an ST's decoder keeps its bus errors
    acias_.wiring = {
        .transmit = [](void* c, uint8_t byte) { static_cast<Machine*>(c)->keyboard_.Write(byte); },
        .interruptLine =
            [](void* c, bool asserted) {
                static_cast<Machine*>(c)->mfp_.SetInputLine(mfp::kGpipAcia, !asserted);
            },
        .reset = [](void* c) { static_cast<Machine*>(c)->keyboard_.MachineReset(); },
        .context = this,
    };
    acias_.PowerOn();
    keyboard_.PowerOn();
    io_.RegisterChip(AciaIoChip(acias_));
    io_.RegisterChip(BlitterIoChip(blitter_));        // answers on an STE only
    io_.RegisterChip(ExtendedPortsIoChip(joypads_));  // STE only

    std::memset(block_->Cartridge(), 0xFF, kCartridgeBytes);
    MemoryHandlers handlers = io_.Handlers();
    handlers.screenWatchByte = &Shifter::WatchByte;
    handlers.screenWatchWord = &Shifter::WatchWord;
    handlers.screenWatch = &shifter_;
    const uint32_t ramBytes = RamBytesFor(settings_.RAMSize);
    MemoryInstall(*tables_, *block_, ramBytes, handlers);
    // At power-on the configuration matches the fitted RAM (the register's real value is
    // unknown then; TOS sizes memory before it relies on it).
    banks_.Fit(ramBytes, (settings_.Machine & 1) != 0);
    io_.SetMemoryConfigHook([](void* c, uint8_t value) { static_cast<Machine*>(c)->ConfigureMemory(value); },
                            this);
    io_.SetMemoryConfig(MemoryController::MatchingConfig(ramBytes));
    ConfigureMemory(io_.MemoryConfig());
    g_cpu = CpuState{};
    CpuInstallTables(*tables_);
    g_cpu.resetHook = IoDispatch::ResetHook;
    g_cpu.resetContext = &io_;
    g_cpu.acknowledge[6] = Mfp::AcknowledgeHook;  // the MFP names its channel's vector
    g_cpu.acknowledgeContext[6] = &mfp_;
    g_cpu.clock = 0;
    folderTrap_.Hook();
    folderTrap_.bootContext = this;
    // EmuTOS boots from drive C: when it has one, unless Alternate is down when it chooses:
    // a floppy boot holds it from the cartridge's run until EmuTOS sets the boot drive.
    folderTrap_.bootDrive = [](void* c, bool choosing) {
        Machine& m = *static_cast<Machine*>(c);
        if (m.settings_.BootDrive != 'a') return false;
        m.keyboard_.input.keys[kAlternateKey] = choosing ? 1 : 0;
        return choosing;
    };

    scheduler_.PowerOn();
    scheduler_.monoMonitor = !ColourMonitor();
    scheduler_.Attach(&mfp_, tables_.get(), block_->Ram(), &banks_);
    fdc_.FastDisk = settings_.FastDisk;
    fdc_.DriveBConnected = settings_.DriveBConnected;
    fdc_.Reset();
    scheduler_.hooks.terminateSoundLog = [this] { ymList_ = ym_.ports.CloseList(); };
    scheduler_.hooks.produceSound = [this](int32_t samples) { ProduceSound(samples); };
    scheduler_.hooks.runDmaSound = [this] { dmaSound_.EndFrame(scheduler_.LastFrameCycles()); };
    scheduler_.hooks.startSoundFrame = [this] {
        ym_.ports.StartFrame();
        dmaSound_.StartFrame(scheduler_.LastFrameCycles());
    };
    scheduler_.hooks.keyboardTick = [this] { KeyboardTick(); };
    WireUsart();
    for (DiskImage& drive : drives_) {
        drive.SetOverlayFolder(settings_.OverlayFolder);
        drive.SetWriteProtect(settings_.WriteProtectDisks);
    }
    if (!settings_.DriveA.empty()) settingsInsert_[0] = InsertDisk(0, settings_.DriveA);
    if (!settings_.DriveB.empty()) settingsInsert_[1] = InsertDisk(1, settings_.DriveB);
    WireFrameEnd();
    if (!settings_.FolderDrive.empty())
        AttachFolderDrive(settings_.FolderDrive, settings_.FolderDriveReadOnly, folderError_);
}

bool Machine::AttachFolderDrive(const std::string& folder, bool readOnly, std::string& error) {
    if (!folderDrive_.Attach(folder, readOnly, error)) return false;
    if (!folderTrap_.InstallCartridge()) {
        folderDrive_.Detach();
        error = "drive C: needs the cartridge port, which holds a cartridge image";
        return false;
    }
    settings_.FolderDrive = folder;
    settings_.FolderDriveReadOnly = readOnly;
    return true;
}

void Machine::DetachFolderDrive() {
    folderDrive_.Detach();
    settings_.FolderDrive.clear();
}

void Machine::ConfigureMemory(uint8_t value) {
    const bool wasIdentity = banks_.Identity();
    banks_.Configure(value);
    if (!(wasIdentity && banks_.Identity())) banks_.Apply(*tables_, *block_);
}

// The serial port's events take timer D's place in the order: its output clocks the USART.
void Machine::WireUsart() {
    usartEvents_[Usart::kTransmitter] = scheduler_.events.RegisterEvent(
        kEventTimerD, [](void* c, Cycles due) { static_cast<Mfp*>(c)->UsartEvent(Usart::kTransmitter, due); },
        &mfp_);
    usartEvents_[Usart::kReceiver] = scheduler_.events.RegisterEvent(
        kEventTimerD, [](void* c, Cycles due) { static_cast<Mfp*>(c)->UsartEvent(Usart::kReceiver, due); },
        &mfp_);
    Usart::Port& port = mfp_.usart.port;
    port.context = this;
    port.schedule = [](void* c, int line, Cycles due) {
        Machine& m = *static_cast<Machine*>(c);
        m.scheduler_.events.Schedule(m.usartEvents_[line & 1], due);
        if (CpuRunning()) CpuEndSlice();  // the budget may end after the new event
    };
    port.cancel = [](void* c, int line) {
        Machine& m = *static_cast<Machine*>(c);
        m.scheduler_.events.Cancel(m.usartEvents_[line & 1]);
    };
    port.transmit = [](void* c, uint8_t byte) {
        Machine& m = *static_cast<Machine*>(c);
        if (m.serialOut_) m.serialOut_(byte);
    };
    port.receive = [](void* c) {
        Machine& m = *static_cast<Machine*>(c);
        return m.serialIn_ ? m.serialIn_() : -1;
    };
}

void Machine::SetPrinter(std::function<void(uint8_t byte)> out) {
    printerOut_ = std::move(out);
    YmPorts::Printer& printer = ym_.ports.printer;
    printer.context = this;
    printer.strobe = nullptr;
    if (printerOut_)
        printer.strobe = [](void* c, uint8_t byte) { static_cast<Machine*>(c)->printerOut_(byte); };
    mfp_.SetInputLine(kGpipPrinterBusy, !printerOut_);
}

void Machine::SetSerial(std::function<void(uint8_t byte)> out, std::function<int32_t()> in) {
    serialOut_ = std::move(out);
    serialIn_ = std::move(in);
}

void Machine::SetNativeFeatures(bool on) {
    natFeats_.tables = tables_.get();
    g_cpu.nativeFeatures = on ? &NativeFeatures::Hook : nullptr;
    g_cpu.nativeFeaturesContext = on ? &natFeats_ : nullptr;
}

// The keyboard processor's tick hands at most one byte to the keyboard ACIA.
void Machine::KeyboardTick() {
    const int byte = keyboard_.Tick();
    if (byte >= 0) acias_.Receive(static_cast<uint8_t>(byte));
}

// Port A of the sound chip carries the drive and side select lines; the interrupt request
// drives MFP input 5.
FloppyController::Lines Machine::FdcLines() {
    FloppyController::Lines lines;
    lines.context = this;
    lines.portA = [](void* c) { return static_cast<Machine*>(c)->ym_.ports.Shadow(ym::kPortA); };
    lines.interrupt = [](void* c, bool high) {
        static_cast<Machine*>(c)->mfp_.SetInputLine(mfp::kGpipFloppy, high);
    };
    lines.noise = [](void* c, DriveNoise noise) { static_cast<Machine*>(c)->driveSounds_.Play(noise); };
    return lines;
}

// The DMA sound's active line clocks MFP timer A (event count mode) and reaches GPIP 7
// through an XOR with the monitor's detect line (high: colour), so that the end of a frame
// can interrupt through either.
DmaSound::Lines Machine::DmaSoundLines() {
    DmaSound::Lines lines;
    lines.context = this;
    lines.active = [](void* c, bool high) {
        Machine& machine = *static_cast<Machine*>(c);
        Mfp& mfp = machine.mfp_;
        mfp.SetInputLine(mfp::kGpipMonochrome, machine.ColourMonitor() != high);
        mfp.TimerInputEdge(kTimerA, high);
    };
    return lines;
}

namespace {
// Image files are at most this long, a zip of one too: a longer file is not hashed.
constexpr uintmax_t kMostImageFileBytes = 64u << 20;

// The SHA-256 of a disk image file's bytes (a zip's, for an image in one); false when it is
// not a regular file that can be read whole.
bool HashImageFile(const std::string& path, std::array<uint8_t, 32>& digest) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error) ||
        std::filesystem::file_size(path, error) > kMostImageFileBytes || error)
        return false;
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    Sha256 hash;
    uint8_t chunk[65536];
    while (file) {
        file.read(reinterpret_cast<char*>(chunk), sizeof chunk);
        hash.Add(chunk, static_cast<size_t>(file.gcount()));
    }
    if (file.bad()) return false;
    digest = hash.Finish();
    return true;
}
}  // namespace

InsertResult Machine::InsertDisk(int drive, const std::string& path) {
    drive &= 1;
    const InsertResult result = drives_[drive].InsertImage(path);
    driveFiles_[drive] = {};
    if (result) {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(path, error);
        driveFiles_[drive].path = error ? path : absolute.lexically_normal().string();
        if (!HashImageFile(path, driveFiles_[drive].hash)) driveFiles_[drive].hash = {};
    }
    return result;
}

const std::string& Machine::DrivePath(int drive) const {
    static const std::string kNone;
    return drives_[drive & 1].Inserted() ? driveFiles_[drive & 1].path : kNone;
}

void Machine::SetWriteProtectDisks(bool on) {
    settings_.WriteProtectDisks = on;
    for (DiskImage& drive : drives_) drive.SetWriteProtect(on);
}

// The frame's sound. The device asks for `samples` (the frame's share of 44,100 a second, or
// what it played since the last frame when the display paces). A frame that gives the device
// nothing (0, or more than a block holds) is still synthesised, so that its sound-chip writes
// take effect and no note hangs.
void Machine::ProduceSound(int32_t samples) {
    const int32_t own = std::clamp(scheduler_.machineSampleCount, 1, sound::kMaxBlockSamples);
    const bool deviceTakes = samples >= 1 && samples <= sound::kMaxBlockSamples;
    if (!recordSink && deviceTakes) {
        MixFrame(samples, own);
        if (soundSink) soundSink(mixer_.Output(), samples);
        return;
    }
    // Once per frame in the machine's time; the device's share is stretched from it.
    MixFrame(own, own);
    if (recordSink) recordSink(mixer_.Output(), own);
    if (deviceTakes && soundSink) soundSink(mixer_.Stretched(samples), samples);
}

// The sources, each into the block of 32-bit sums: the YM2149 stores (so it comes first), the
// others add. Then the filter and the clip to 16 bits.
// On the STE the YM2149 and the DMA sound pass the LMC1992 (its mixing, volumes and tone
// controls); the drive's noises are the host's and join after it.
void Machine::MixFrame(int32_t samples, int32_t span) {
    int32_t* mix = mixer_.Begin(samples);
    if (settings_.YMSound && ymList_ != nullptr) ym_.synth.Render(ymList_, mix, samples, span);
    if (settings_.Machine & 1) {
        const int64_t gain = dmaSound_.YmGain();
        if (gain != dmasound::kUnityGain)
            for (int32_t i = 0; i < samples; ++i) mix[i] = static_cast<int32_t>(mix[i] * gain >> 15);
        dmaSound_.MixInto(mix, samples);
        tone_.Apply(mix, samples, dmaSound_.Bass(), dmaSound_.Treble());
    }
    if (settings_.DiskSound && !settings_.FastDisk) driveSounds_.Mix(mix, samples);
    mixer_.Finish(settings_.bLowPass);
}

// The video's part of the frame end. The display (the host's) locks the back buffer and shows
// the picture; everything else belongs to the machine.
void Machine::WireFrameEnd() {
    SchedulerHooks& hooks = scheduler_.hooks;
    hooks.profile = [this](ProfileMark mark) { Profile(mark); };
    hooks.terminateVideoLog = [this] { shifter_.TerminateLog(); };
    hooks.renderFrame = [this](BackBuffer buffer) {
        RenderSource source;
        source.log = shifter_.Log();
        source.snapshot = scheduler_.ScreenSnapshot();
        source.snapshotBase = shifter_.FrameBase() & 0x3FFFFE;
        source.ram = block_->Ram();
        source.topBorderOpen = scheduler_.border.topBorderOpen != 0;
        source.bottomBorderOpen = scheduler_.border.bottomBorderOpen != 0;
        source.lineStarts = scheduler_.lines.Starts();
        source.lineTimings = scheduler_.lines.Timings();
        source.lines = scheduler_.LastFrameLines();
        source.monoMonitor = !ColourMonitor();
        renderer_.RenderFrame(buffer.pixels, buffer.pitchBytes, source);
    };
    hooks.drawOverlays = [this](BackBuffer buffer) {
        if (video_.bSoundDebug)
            overlay_.DrawSoundWaveform(buffer.pixels, buffer.pitchBytes, mixer_.Output(), mixer_.Count());
        if (video_.bProfile) overlay_.DrawMessages(buffer.pixels, buffer.pitchBytes / 2);
        if (!renderer_.Synced()) {
            // The picture is black; the line sits in the middle of the screen (of each host
            // line pair on the colour monitor, whose frame is drawn a line pair apart).
            const int32_t pitch = buffer.pitchBytes / 2;
            overlay_.DrawText(buffer.pixels, pitch, ColourMonitor() ? 288 : 292, kCannotSyncMessage);
        }
    };
    hooks.startVideoFrame = [this] {
        shifter_.StartFrame();
        // Timed messages run out whether or not they are shown.
        overlay_.ExpireMessages();
    };
    hooks.videoBase = [this] { return shifter_.VideoBase(); };
    hooks.resetLineWindows = [this] { shifter_.ResetLineWindows(); };
}

void Machine::Profile(ProfileMark mark) {
    switch (mark) {
        case ProfileMark::kGraphicsStart:
            graphicsTimer_.Start();
            break;
        case ProfileMark::kGraphicsStop:
            graphicsTimer_.Stop();
            break;
        case ProfileMark::kSoundStart:
            soundTimer_.Start();
            break;
        case ProfileMark::kSoundStop:
            soundTimer_.Stop();
            break;
        case ProfileMark::kFrameStop:
            frameTimer_.Stop();
            break;
        case ProfileMark::kFrameStart: {
            char line[StatusOverlay::kTextBytes];
            FormatProfileLine(line, sizeof line, frameTimer_.Percent(), graphicsTimer_.Percent(),
                              soundTimer_.Percent());
            overlay_.SetMessageText(StatusOverlay::kProfileSlot, line);
            frameTimer_.Start();
            break;
        }
    }
}

void Machine::SetVideoSettings(const VideoSettings& video) {
    video_ = video;
    renderer_.mode = static_cast<LineMode>(video.g_softwareMode & 3);
    renderer_.useTexture = video.bUseTexture != 0;
    scheduler_.softwareMode = static_cast<int32_t>(video.g_softwareMode);
    scheduler_.useTexture = video.bUseTexture != 0;
}

void Machine::RenderInto(uint16_t* pixels, int32_t pitchBytes) {
    if (pixels == nullptr) {
        scheduler_.hooks.lockBackBuffer = nullptr;
        return;
    }
    scheduler_.hooks.lockBackBuffer = [pixels, pitchBytes] { return BackBuffer{pixels, pitchBytes}; };
}

Machine::~Machine() {
    g_cpu = CpuState{};
}

int32_t Machine::Reset(bool cold) {
    if (cold) {
        std::memset(block_->Ram() + 8, 0, kRamBytes - 8);
        io_.SetMemoryConfig(MemoryController::MatchingConfig(banks_.FittedBytes()));
        ConfigureMemory(io_.MemoryConfig());
    }
    const int32_t status = CpuReset();
    io_.Reset();
    renderer_.Reset();
    folderDrive_.Reset();
    return status;
}

uint32_t Machine::RunFrame() {
    for (;;) {
        const int32_t budget = scheduler_.ServiceEvents();
        if (budget < 0) {
            // What the floppy controller wrote reaches the overlay files at the frame's end.
            for (int d = 0; d < 2; ++d) {
                std::string error;
                if (!drives_[d].FlushOverlay(&error)) diskMessage_ = (d ? "Drive B: " : "Drive A: ") + error;
            }
            return kRunBudgetSpent;
        }
        if (budget == 0) continue;
        const uint32_t result = CpuRun(budget);
        if (result != kRunBudgetSpent) return result;
    }
}

Machine::Step Machine::StepInstruction() {
    Step step;
    int32_t budget = 0;
    for (int calls = 0; budget <= 0 && calls < 1000; ++calls) {
        budget = scheduler_.ServiceEvents();
        if (budget < 0) step.frameEnded = true;
    }
    if (budget <= 0) budget = 4;
    const Cycles before = g_cpu.clock;
    const uint32_t taken = CpuLastInterrupt().count;
    CpuTakeInterrupt();
    if (CpuLastInterrupt().count == taken) {
        const bool stopped = (g_cpu.pending & 1) != 0 && !CpuHalted();
        step.cpu = CpuRun(stopped ? budget : 4);
    }
    step.cycles = g_cpu.clock - before;
    const CpuInterruptRecord record = CpuLastInterrupt();
    if (record.count != taken) {
        step.interrupt = true;
        step.taken = record;
    }
    return step;
}

uint32_t Machine::RunFrames(int frames) {
    for (int i = 0; i < frames; ++i) {
        const uint32_t result = RunFrame();
        if (result != kRunBudgetSpent) return result;
    }
    return kRunBudgetSpent;
}

void Machine::LoadBytes(uint32_t address, const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) block_->bytes[((address + i) & 0x3FFFFF) ^ 1] = bytes[i];
}

// ---- save states ----------------------------------------------------------------------------

namespace {
// The processor's registers live in the process-wide CPU state; this gives them a chip's face.
struct CpuSection {
    void Save(StateWriter& out) const { CpuSaveState(out); }
    bool Load(StateReader& in, bool commit) const { return CpuLoadState(in, commit); }
};
}  // namespace

// Drive C:'s trap and open files share one section.
struct Machine::FolderSection {
    const Machine& m;
    void Save(StateWriter& out) const {
        out.BeginSection("GDOS");
        out(m.folderTrap_.GetState());
        m.folderDrive_.Save(out);
    }
    bool Load(StateReader& in, bool commit) const {
        Machine& machine = const_cast<Machine&>(m);
        gemdos::GemdosTrap::State trap;
        if (!in.BeginSection("GDOS") || in(trap).Failed()) return false;
        if (!machine.folderDrive_.Load(in, commit, machine.loadError_) || !in.EndSection()) return false;
        if (commit) {
            machine.folderTrap_.GetState() = trap;
            machine.folderTrap_.SetRamBytes(RamBytesFor(machine.settings_.RAMSize));
        }
        return true;
    }
};

static_assert(kLargestState >= kEmulatedMemoryBytes + 2 * DiskImage::kMaxOverlayFile + (1u << 20),
              "the largest state holds the memory, both drives' written sectors and the chips");

// The images in the drives: each drive's path (empty: no disk) and the SHA-256 of the file as
// it was inserted. Checking reads each file again and refuses a state whose image is gone or
// has other bytes now; committing inserts an image the drive does not hold already.
struct Machine::DriveSection {
    static constexpr uint16_t kMostPath = 4096;
    const Machine& m;
    void Save(StateWriter& out) const {
        out.BeginSection("DRIV");
        for (int drive = 0; drive < 2; ++drive) {
            const std::string& path = m.DrivePath(drive);
            const uint16_t length = static_cast<uint16_t>(path.size() <= kMostPath ? path.size() : 0);
            out(length);
            out.PutBytes(path.data(), length);
            if (length != 0) out.PutBytes(m.driveFiles_[drive].hash.data(), 32);
        }
    }
    bool Load(StateReader& in, bool commit) const {
        Machine& machine = const_cast<Machine&>(m);
        if (!in.BeginSection("DRIV")) return false;
        DriveFile files[2];
        for (DriveFile& file : files) {
            uint16_t length = 0;
            in(length);
            const uint8_t* bytes = length <= kMostPath ? in.View(length) : nullptr;
            if (bytes == nullptr) return false;
            file.path.assign(reinterpret_cast<const char*>(bytes), length);
            if (length != 0) in.GetBytes(file.hash.data(), 32);
        }
        if (!in.EndSection()) return false;
        for (int drive = 0; drive < 2; ++drive) {
            const DriveFile& file = files[drive];
            const DriveFile& held = m.driveFiles_[drive];
            if (!commit) {
                std::array<uint8_t, 32> now{};
                std::error_code missing;
                const char* problem = file.path.empty() ? nullptr
                                      : file.path.find('\0') != std::string::npos ||
                                              !std::filesystem::exists(file.path, missing)
                                          ? " is missing"
                                      : !HashImageFile(file.path, now) ? " cannot be read"
                                      : now != file.hash               ? " has changed"
                                                                       : nullptr;
                if (problem) {
                    const size_t slash = file.path.find_last_of('/');
                    machine.loadError_ = std::string("Drive ") + (drive ? "B: " : "A: ") +
                                         file.path.substr(slash == std::string::npos ? 0 : slash + 1) +
                                         problem;
                    return false;
                }
            } else if (file.path.empty()) {
                machine.drives_[drive].EjectImage();
                machine.driveFiles_[drive] = {};
            } else if (!m.drives_[drive].Inserted() || held.path != file.path || held.hash != file.hash) {
                machine.InsertDisk(drive, file.path);
            }
        }
        return true;
    }
};

template <class Self, class Visit>
void Machine::EachSection(Self& m, Visit&& visit) {
    const CpuSection cpu;
    visit(cpu);
    visit(m.io_);
    visit(m.mfp_);
    visit(m.mfp_.usart);
    visit(m.scheduler_);
    visit(m.shifter_);
    const DriveSection drives{m};
    visit(drives);
    visit(m.fdc_);
    visit(m.ym_.ports);
    visit(m.ym_.synth);
    visit(m.dmaSound_);
    visit(m.acias_);
    visit(m.keyboard_);
    visit(m.blitter_);
    visit(m.joypads_);
    const FolderSection folder{m};
    visit(folder);
}

// The memory section holds the RAM that is fitted (nothing reaches the rest of the 4 MB area,
// which a load clears as a cold reset leaves it), then the ROM area and the cartridge area as
// they stand: a state brings its own TOS and cartridge, whatever the machine loading it has.
void Machine::WriteSections(StateWriter& out) const {
    out.BeginSection("MACH");
    out.Put(settings_.Machine);
    out.Put(settings_.RAMSize);
    out.Put((*tables_).readWord[kRomRegion].first);
    out.Put((*tables_).readWord[kRomRegion].last);
    out.BeginSection("MEM ");
    out.PutBytes(block_->bytes, RamBytesFor(settings_.RAMSize));
    out.PutBytes(block_->bytes + kRomOffset, kEmulatedMemoryBytes - kRomOffset);
    EachSection(*this, [&](const auto& part) { part.Save(out); });
}

std::vector<uint8_t> Machine::SaveState(const StatePicture* picture) const {
    StateWriter out;
    WriteSections(out);
    return out.Finish(StatePacking::kZlib, picture);
}

std::vector<uint8_t> Machine::Snapshot() const {
    StateWriter out;
    WriteSections(out);
    return out.Finish(StatePacking::kStored);
}

// Reads every section; with `commit` false it only checks them, so that a file is taken
// whole or not at all.
bool Machine::LoadSections(StateReader& in, bool commit) {
    MachineSettings settings;
    uint32_t romFirst, romLast;
    if (!in.BeginSection("MACH") || !in.Get(settings.Machine) || !in.Get(settings.RAMSize) ||
        !in.Get(romFirst) || !in.Get(romLast) || !in.EndSection())
        return false;
    // The ROM lies in the TOS areas, below the I/O page, at most 256 KB long.
    if (settings.Machine > 1 || settings.RAMSize > kLastRamSize || romFirst < 0x400000 ||
        romLast >= 0xFF8000 || romLast < romFirst || romLast - romFirst >= kRomBytes)
        return false;
    if (!in.BeginSection("MEM ")) return false;
    const uint32_t ramBytes = RamBytesFor(settings.RAMSize);
    const uint8_t* ram = in.View(ramBytes);
    const uint8_t* roms = in.View(kEmulatedMemoryBytes - kRomOffset);
    if (ram == nullptr || roms == nullptr || !in.EndSection()) return false;
    if (commit) {
        settings_.Machine = settings.Machine;
        settings_.RAMSize = settings.RAMSize;
        std::memcpy(block_->bytes, ram, ramBytes);
        std::memset(block_->bytes + ramBytes, 0, kRamBytes - ramBytes);
        std::memcpy(block_->bytes + kRomOffset, roms, kEmulatedMemoryBytes - kRomOffset);
        banks_.Fit(RamBytesFor(settings_.RAMSize), (settings_.Machine & 1) != 0);
        MemorySetRomRange(*tables_, *block_, romFirst, romLast - romFirst + 1);
    }
    if (!LoadChipSections(in, commit)) return false;
    if (commit) {
        shifter_.SetSte((settings.Machine & 1) != 0);
        uint16_t palette[16];
        for (int i = 0; i < 16; ++i) palette[i] = shifter_.Palette(i);
        renderer_.SetState(palette, shifter_.Resolution(), shifter_.LineOffset(), shifter_.Scroll());
        banks_.Configure(io_.MemoryConfig());
        banks_.Apply(*tables_, *block_);
        MemorySetScreenWatch(*tables_, shifter_.FrameBase());
    }
    return true;
}

bool Machine::LoadChipSections(StateReader& in, bool commit) {
    bool ok = true;
    EachSection(*this, [&](auto& part) { ok = ok && part.Load(in, commit); });
    return ok && in.AtEnd();
}

bool Machine::CheckChipSections(StateReader& in) {
    return LoadChipSections(in, false);
}

bool Machine::LoadState(const std::vector<uint8_t>& file, std::string& error) {
    std::vector<uint8_t> sections;
    if (!UnpackState(file, kLargestState, sections, error)) return false;
    StateReader check, in;
    check.OpenSections(sections.data(), sections.size());
    in.OpenSections(sections.data(), sections.size());
    loadError_.clear();
    if (!LoadSections(check, false)) {
        error = loadError_.empty() ? "the save state holds values this machine cannot have" : loadError_;
        return false;
    }
    LoadSections(in, true);
    return true;
}

// The file is written beside its final name and renamed over it when complete, so that a
// full disk never leaves a state that looks whole.
bool Machine::SaveStateFile(const std::string& path, std::string& error, const StatePicture* picture) const {
    const std::vector<uint8_t> bytes = SaveState(picture);
    const std::string partial = path + ".part";
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    if (file)
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (file) file.close();
    if (!file || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        error = "cannot write the save state \"" + path + "\"";
        return false;
    }
    return true;
}

bool Machine::LoadStateFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes(MostStateFileBytes(kLargestState) + 1);
    if (file) file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file && (file.bad() || !file.eof())) {
        error = "cannot read the save state \"" + path + "\"";
        return false;
    }
    bytes.resize(static_cast<size_t>(file.gcount()));
    if (!LoadState(bytes, error)) {
        error = "\"" + path + "\": " + error;
        return false;
    }
    return true;
}

}  // namespace vexil

#include "app/App.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>

#include "cpu/Cpu.h"
#include "input/Keys.h"
#include "machine/Rom.h"
#include "recording/Tga.h"
#include "ui/DebuggerPage.h"
#include "ui/DiskPage.h"
#include "ui/OptionsPage.h"

namespace vexil {

namespace {

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// The host's local time, as the keyboard processor's clock counts it.
int64_t HostLocalSeconds() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) return Ikbd::kDefaultClock;
    return SecondsOf({local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour, local->tm_min,
                      local->tm_sec});
}

// The file name without its folder and extension.
std::string Stem(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

bool IsStateFile(const std::string& path) {
    const std::string extension = std::filesystem::path(path).extension().string();
    return extension.size() == 4 && (extension == ".vxs" || extension == ".VXS");
}

// The host keys taken with right Control, by PC key code.
constexpr uint8_t kHostSave = 0x1F;        // S
constexpr uint8_t kHostLoad = 0x26;        // L
constexpr uint8_t kHostRewind = 0x13;      // R
constexpr uint8_t kHostFast = 0x21;        // F
constexpr uint8_t kHostPause = 0x19;       // P
constexpr uint8_t kHostScreenshot = 0x22;  // G
constexpr uint8_t kHostDigit1 = 0x02, kHostDigit0 = 0x0B;

constexpr int64_t kFramesPerSecond = 50;

// A fast-forwarding turn runs frames for this long, then shows the last one.
constexpr std::chrono::milliseconds kFastTurn{15};

}  // namespace

std::string ChooseTosRom(const AppOptions& options, const RomList& roms) {
    if (!options.rom.empty()) return options.rom;
    if (const RomList::Entry* active = roms.Find(roms.FindActive(false))) return active->path;
    if (FileExists("VexilDefault.ROM")) return "VexilDefault.ROM";
    for (const std::string& bundled : options.bundledRoms) {
        if (FileExists(bundled)) return bundled;
    }
    return "VexilDefault.ROM";
}

App::App(const AppOptions& options, const host::Devices& devices, std::FILE* err)
    : options_(options), devices_(devices), err_(err), bar_(options.debug) {
    bar_.pages.record = &recordPage_;
    configPath_ = options_.configPath.empty() ? DefaultConfigPath() : options_.configPath;
    diskPage_ = std::make_unique<DiskPage>(*this);
    optionsPage_ = std::make_unique<OptionsPage>(*this);
    statePage_ = std::make_unique<StatePage>(*this);
    bar_.pages.disks = diskPage_.get();
    bar_.pages.options = optionsPage_.get();
    bar_.pages.state = statePage_.get();
    if (options_.debug) {
        DebuggerPage::Links links;
        links.machine = [this] { return CurrentMachine(); };
        links.run = [this] {
            bar_.ShowPage(-1);
            devices_.display->ClearScreen();
            devices_.input->PollInput();
            SetAppState(kStateDebugRun);
        };
        links.coldReset = [this] { ResetMachine(true); };
        debugger_ = std::make_unique<DebuggerPage>(std::move(links));
        bar_.pages.debugger = debugger_.get();
    }
}

App::~App() {
    if (state_ != kStateShutDown || devicesUp_) ShutDown(false);
}

void App::Report(const std::string& text) {
    if (err_) std::fprintf(err_, "vexil: %s\n", text.c_str());
}

MachineSettings App::WantedSettings() const {
    MachineSettings settings = MachineSettingsOf(config_);
    if (options_.machine) settings.Machine = *options_.machine;
    if (options_.ramSize) settings.RAMSize = *options_.ramSize;
    if (options_.monitor) settings.Monitor = *options_.monitor;
    // The machine's drives take the images start-up chose.
    settings.DriveA = driveAPath_;
    if (!options_.diskB.empty()) settings.DriveB = options_.diskB;
    if (!options_.folderDrive.empty()) {
        settings.FolderDrive = options_.folderDrive;
        settings.FolderDriveReadOnly = options_.folderDriveReadOnly;
    }
    settings.BootDrive = options_.boot;
    if (!dataDirectory_.empty()) settings.OverlayFolder = dataDirectory_ + "/disks";
    return settings;
}

std::string DesktopRunLine(const std::string& program) {
    std::string upper = program;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return "#Z 01 " + upper + "@\r\n";
}

std::string App::WantedCartridge() const {
    const RomList::Entry* active = roms_.Find(roms_.FindActive(true));
    return active ? active->path : std::string();
}

// The frame end draws into the display's back buffer, as the settings say.
void App::ConnectDisplay() {
    machine_->SetVideoSettings(
        {config_.g_softwareMode, textureInUse_, config_.bProfile, config_.bSoundDebug});
    machine_->Scheduler().hooks.lockBackBuffer = [this] {
        int pitch = 0;
        uint16_t* pixels = devicesUp_ ? devices_.display->LockFrame(&pitch) : nullptr;
        return BackBuffer{pixels, pitch * 2};
    };
    if (devicesUp_) devices_.display->SetFullHeight(!machine_->ColourMonitor());
}

// The frame's sound goes to the sound output: the frame's share of 44,100 samples a second
// (881 or 882 at 50 Hz, 734 or 735 at 60, 617 at 71) with the wait for room that holds
// the machine to real time, or, with `ForceVBLSync`, what the device played since the last
// frame, without waiting. Only a running machine waits (a debugger step never does). The
// sound switches are taken from the settings here and whenever the machine starts running.
void App::ConnectSound() {
    machine_->SetYmSound(config_.YMSound != 0);
    machine_->SetDiskSound(config_.DiskSound != 0);
    machine_->SetLowPass(config_.bLowPass != 0);
    machine_->Scheduler().hooks.chooseSampleCount = [this](int32_t machineCount) {
        return devicesUp_ && config_.ForceVBLSync ? devices_.sound->FrameSampleCount() : machineCount;
    };
    machine_->soundSink = [this](const int16_t* samples, int32_t count) {
        if (devicesUp_)
            devices_.sound->WriteFrame(samples, count, !config_.ForceVBLSync && state_ == kStateRunning);
    };
}

// The command line's printer and serial files, opened with the first machine and kept across
// rebuilds; NF_STDERR to the error stream, and a program's NF_SHUTDOWN or NF_EXIT quits.
void App::ConnectPorts() {
    std::string error;
    if (!options_.printer.empty() && !printerFile_.IsOpen() && !printerFile_.Open(options_.printer, error))
        Report(error);
    if (!options_.serial.empty() && !serialFile_.IsOpen() && !serialFile_.Open(options_.serial, error))
        Report(error);
    if (!options_.serialIn.empty() && !serialIn_.IsOpen() && !serialIn_.Open(options_.serialIn, error))
        Report(error);
    if (printerFile_.IsOpen()) machine_->SetPrinter([this](uint8_t byte) { printerFile_.Put(byte); });
    machine_->SetSerial(
        serialFile_.IsOpen() ? std::function<void(uint8_t)>([this](uint8_t byte) { serialFile_.Put(byte); })
                             : nullptr,
        serialIn_.IsOpen() ? std::function<int32_t()>([this] { return serialIn_.Next(); }) : nullptr);
    NativeFeatures& natFeats = machine_->NatFeats();
    natFeats.output.context = err_;
    natFeats.output.write = [](void* c, const char* text, size_t length, bool) {
        if (c) std::fwrite(text, 1, length, static_cast<std::FILE*>(c));
    };
    machine_->SetNativeFeatures(options_.natfeats);
}

// The last picture, for --screenshot, when the run ends.
void App::WriteScreenshot() {
    if (options_.screenshot.empty()) return;
    std::vector<uint16_t> picture(static_cast<size_t>(host::kFrameWidth) * host::kFrameHeight);
    std::string error;
    if (!devices_.display->CopyFrame(picture.data()))
        Report("no picture for the screenshot \"" + options_.screenshot + "\"");
    else if (!WriteTga(options_.screenshot, picture.data(), host::kFrameWidth, host::kFrameHeight,
                       host::kFrameWidth, &error))
        Report(error);
}

// Builds the machine from the settings and loads its TOS ROM and cartridge. False only when
// the ROM given on the command line cannot be loaded.
bool App::BuildMachine() {
    recordPage_.Attach(nullptr);
    machine_.reset();  // one machine at a time
    machine_ = std::make_unique<Machine>(WantedSettings());
    recordPage_.Attach(machine_.get());
    machine_->Keyboard().SetClock(HostLocalSeconds());
    loadedTos_ = ChooseTosRom(options_, roms_);
    const RomLoad rom = LoadTosRom(*machine_, loadedTos_);
    romLoaded_ = rom.ok;
    romProblem_ = rom.ok ? "" : rom.message;
    if (!rom.ok) {
        Report(rom.message);
        if (!options_.rom.empty()) return false;
    }
    ConnectDisplay();
    ConnectSound();
    ConnectPorts();
    // Without an active cartridge the area stays all 0xFF, as the machine was built.
    loadedCartridge_ = WantedCartridge();
    if (!loadedCartridge_.empty()) {
        const RomLoad cartridge = LoadCartridge(*machine_, loadedCartridge_);
        if (!cartridge.ok) Report(cartridge.message);
    }
    // Drive C: lives in the cartridge port; a cartridge image loaded there wins.
    const std::string& folder = machine_->Settings().FolderDrive;
    if (!machine_->SettingsFolderError().empty()) {
        Report(machine_->SettingsFolderError());
    } else if (!folder.empty() && !loadedCartridge_.empty()) {
        machine_->DetachFolderDrive();
        Report("drive C: needs the cartridge port, which holds a cartridge image");
    } else if (!folder.empty() && !options_.run.empty()) {
        machine_->FolderDrive().SetDesktopLines(DesktopRunLine(options_.run));
    }
    for (int drive = 0; drive < 2; ++drive) {
        const std::string& notice = machine_->Drive(drive).Notice();
        if (!notice.empty()) Report(notice), Say(notice);
    }
    return true;
}

int App::StartUp() {
    // 1. One copy at a time per settings file.
    std::string error;
    switch (lock_.Take(configPath_ + ".lock", &error)) {
        case SingleInstanceLock::Result::kTaken:
            break;
        case SingleInstanceLock::Result::kHeldElsewhere:
            Report("Vexil is already running!");
            devices_.dialogs->Message("Already Running...", "Vexil is already running!");
            return 1;
        case SingleInstanceLock::Result::kUnavailable:
            Report(error);
            break;
    }
    // 2-3. The command line was read by the caller; the settings now.
    const ConfigLoad load = LoadConfig(configPath_, config_, roms_);
    if (load.status == ConfigStatus::kDamaged) {
        Report(load.message);
        bar_.notice = load.message;
    }
    // 5-8. The machine, with its memory block, tables and RAM size.
    const std::string data = options_.dataDirectory.empty() ? DataDirectory() : options_.dataDirectory;
    dataDirectory_ = data;
    MakeDirectories(data + "/shot");
    MakeDirectories(data + "/sound");
    MakeDirectories(data + "/state");
    recordPage_.SetFolders(data + "/sound", data + "/shot");
    // 9. Drive A: the command line's disk, else the stored one, else "VexilDefault.ST".
    if (!options_.disk.empty()) {
        const InsertResult inserted = driveA_.InsertImage(options_.disk);
        if (!inserted) {
            Report(inserted.message);
            return 1;
        }
    } else if (!driveA_.InsertImage(config_.DriveA)) {
        config_.DriveA = "VexilDefault.ST";
        driveA_.InsertImage(config_.DriveA);
    }
    if (driveA_.Inserted()) driveAPath_ = options_.disk.empty() ? config_.DriveA : options_.disk;
    if (!options_.disk.empty()) NoteRecent(options_.disk);
    textureInUse_ = config_.bUseTexture;
    // 10-11. TOS ROM and cartridge.
    try {
        if (!BuildMachine()) return 1;
    } catch (const std::bad_alloc&) {
        Report("Insufficient RAM to run Vexil!");
        devices_.dialogs->Message("Memory Error...", "Insufficient RAM to run Vexil!");
        return 1;
    }
    // 12-15. The window and the devices on it.
    devicesUp_ = true;
    host::DisplaySettings display{config_.VideoAdapter,         config_.VideoRefresh, config_.bUseTexture,
                                  config_.bUseTextureFiltering, config_.ForceVBLSync, config_.FrameSkip};
    devices_.display->Configure(&display);
    const bool displayUp =
        devices_.window->Create(config_.bFullscreen, &error) && devices_.display->InitDisplay(&error);
    config_.VideoAdapter = display.VideoAdapter;
    config_.VideoRefresh = display.VideoRefresh;
    if (config_.bUseTexture != display.bUseTexture) {
        config_.bUseTexture = display.bUseTexture;
        textureInUse_ = config_.bUseTexture;
        ConnectDisplay();
    }
    if (!displayUp || !devices_.input->InitInput(&error)) {
        Report(error);
        ShutDown(false);
        return 1;
    }
    // 4. Asked in the window, where a request to quit answers No and ends the run.
    if (config_.bAskFullscreen) {
        config_.bFullscreen =
            devices_.dialogs->AskYesNo(host::kWindowTitle, "Do you want to run Vexil in fullscreen ?");
        if (config_.bFullscreen) devices_.window->SetFullscreen(true);
    }
    if (!devices_.sound->InitSound(&error)) {
        Report(error);
        devices_.dialogs->Message("Audio Error", error);
    }
    // 16-18. A disk or a state from the command line runs at once; F12 still gives the bar.
    ResetMachine(true);
    bool runNow = !options_.disk.empty();
    if (!options_.state.empty()) {
        if (LoadStateFile(options_.state, error)) {
            runNow = true;
        } else {
            Report(error);
            bar_.notice = error;
        }
    }
    SetAppState(runNow && romLoaded_ ? kStateRunning : kStateMenu);
    return -1;
}

int App::Run() {
    const int status = StartUp();
    if (status >= 0) return status;
    while (Turn()) {
    }
    ShutDown(true);
    return 0;
}

void App::SetAppState(int32_t state) {
    if (state == state_) return;
    const auto running = [](int32_t s) {
        return s == kStateRunning || s == kStateResetHeld || s == kStateDebugRun;
    };
    if (running(state)) {
        if (machine_) ConnectSound();
        devices_.sound->StartSound();
        devices_.input->Acquire();
    } else if (state_ == kStateRunning || state_ == kStateDebugRun) {
        SetPaused(false);
        SetFastForward(false);
        devices_.sound->StopSound();
        devices_.input->Unacquire();
        if (machine_) machine_->Keyboard().ReleaseInput();
    }
    state_ = state;
    entered_ = kStateShutDown;
}

void App::ResetMachine(bool cold) {
    if (cold) {
        ++coldResets_;
        const MachineSettings wanted = WantedSettings();
        const MachineSettings& built = machine_->Settings();
        if (wanted.Machine != built.Machine || wanted.RAMSize != built.RAMSize ||
            ChooseTosRom(options_, roms_) != loadedTos_ || WantedCartridge() != loadedCartridge_ ||
            wanted.Monitor != built.Monitor || wanted.FolderDrive != built.FolderDrive ||
            wanted.FolderDriveReadOnly != built.FolderDriveReadOnly) {
            BuildMachine();
        }
    }
    machine_->Reset(cold);
    rewind_.Clear();
    // A cold start reads every disk afresh: a disk waiting for its drive goes in now.
    if (cold) {
        for (int drive = 0; drive < 2; ++drive) {
            swaps_[drive].emptyFrames = kSwapFrames;
            CountSwapFrame();
        }
    }
}

// Every showing of a page starts it afresh from the settings.
void App::ShowPage(int item, bool picked) {
    if (item == bar_.CurrentPage()) return;
    if (picked)
        bar_.PickPage(item);
    else
        bar_.ShowPage(item);
    if (item == kItemDisks) diskPage_->Open();
    if (item == kItemOptions) optionsPage_->Open();
    if (item == kItemRecord) recordPage_.Open();
    if (item == kItemState) statePage_->Refresh();
}

void App::ApplySettings() {
    if (!machine_) return;
    machine_->SetFastDisk(config_.FastDisk != 0);
    machine_->SetDriveBConnected(config_.DriveBConnected != 0);
    machine_->SetWriteProtectDisks(config_.WriteProtectDisks != 0);
    machine_->SetYmSound(config_.YMSound != 0);
    machine_->SetDiskSound(config_.DiskSound != 0);
    machine_->SetLowPass(config_.bLowPass != 0);
    ConnectDisplay();
}

// A refused image leaves drive A empty, as the disk page expects.
InsertResult App::InsertDiskA(const std::string& path) {
    const InsertResult result = SwapDisk(0, path);
    if (!result) EjectDiskA();
    return result;
}

void App::EjectDiskA() {
    machine_->Drive(0).EjectImage();
    swaps_[0].path.clear();
    driveAPath_.clear();
    config_.DriveA.clear();
}

InsertResult App::SwapDisk(int drive, const std::string& path) {
    drive &= 1;
    {
        DiskImage probe;
        const InsertResult result = probe.InsertImage(path);
        if (!result) return result;
    }
    machine_->Drive(drive).EjectImage();
    swaps_[drive].path = path;
    if (drive == 0) {
        driveAPath_ = path;
        config_.DriveA = path;
    } else {
        options_.diskB = path;  // for this run: a rebuilt machine takes it too
    }
    NoteRecent(path);
    if (swaps_[drive].emptyFrames >= kSwapFrames) InsertWaiting(drive);
    return {};
}

// After each frame run (and at a cold reset): counts the frames each drive has been empty and
// inserts a waiting disk once the drive has been empty long enough.
void App::CountSwapFrame() {
    for (int drive = 0; drive < 2; ++drive) {
        Swap& swap = swaps_[drive];
        if (machine_->Drive(drive).Inserted())
            swap.emptyFrames = 0;
        else if (swap.emptyFrames < kSwapFrames)
            ++swap.emptyFrames;
        if (swap.emptyFrames >= kSwapFrames) InsertWaiting(drive);
    }
}

void App::InsertWaiting(int drive) {
    Swap& swap = swaps_[drive];
    if (swap.path.empty()) return;
    const InsertResult result = machine_->InsertDisk(drive, swap.path);
    if (!result) {
        Say(result.message);  // the file went away meanwhile
        if (drive == 0) driveAPath_.clear(), config_.DriveA.clear();
    } else if (!machine_->Drive(drive).Notice().empty()) {
        Say(machine_->Drive(drive).Notice());
    }
    swap.path.clear();
}

void App::NoteRecent(const std::string& path) {
    std::vector<std::string>& recent = config_.RecentImages;
    recent.erase(std::remove(recent.begin(), recent.end(), path), recent.end());
    recent.insert(recent.begin(), path);
    if (recent.size() > kRecentImages) recent.resize(kRecentImages);
}

void App::OpenFile(const std::string& path, int drive) {
    if (IsStateFile(path)) {
        std::string error;
        if (LoadStateFile(path, error)) {
            Say("State: " + FileName(path));
            if (paused_) devices_.display->CopyFrame(pausedPicture_.data());
        } else {
            Say(error);
        }
        return;
    }
    const InsertResult result = SwapDisk(drive, path);
    Say(result ? std::string("Drive ") + (drive ? "B: " : "A: ") + FileName(path) : result.message);
}

void App::Say(const std::string& text) {
    if (machine_) machine_->Overlay().ShowMessage(text.c_str(), kHostMessageMilliseconds, false);
}

std::string App::SlotPath(int slot) const {
    const std::string name = Stem(driveAPath_.empty() ? loadedTos_ : driveAPath_);
    return dataDirectory_ + "/state/" + name + "-" + std::to_string(slot) + ".vxs";
}

void App::ChooseSlot(int slot) {
    if (slot >= 0 && slot <= 9) slot_ = slot;
}

// The file's picture is the screen as shown: the frame the menu was entered on while the bar
// is up, else the display's, shrunk to an eighth each way.
std::string App::SaveToSlot(int slot) {
    ChooseSlot(slot);
    std::vector<uint16_t> frame(static_cast<size_t>(host::kFrameWidth) * host::kFrameHeight);
    const uint16_t* shown = nullptr;
    if (state_ == kStateMenu && menuPicture_.size() == frame.size())
        shown = menuPicture_.data();
    else if (paused_ && pausedPicture_.size() == frame.size())
        shown = pausedPicture_.data();
    else if (devices_.display->CopyFrame(frame.data()))
        shown = frame.data();
    const StatePicture picture =
        ShrinkPicture(shown, host::kFrameWidth, host::kFrameHeight, host::kFrameWidth, kSlotPictureShrink);
    std::string error;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(SlotPath(slot_)).parent_path(), ignored);
    const std::string text = machine_->SaveStateFile(SlotPath(slot_), error, shown ? &picture : nullptr)
                                 ? "Saved to slot " + std::to_string(slot_)
                                 : error;
    Say(text);
    return text;
}

std::string App::LoadFromSlot(int slot) {
    ChooseSlot(slot);
    const std::string path = SlotPath(slot_);
    std::string text;
    if (!FileExists(path)) {
        text = "Slot " + std::to_string(slot_) + " is empty";
    } else {
        std::string error;
        const bool loaded = LoadStateFile(path, error);
        text = loaded ? "Loaded slot " + std::to_string(slot_) : error;
    }
    Say(text);
    return text;
}

void App::SaveSlot() {
    SaveToSlot(slot_);
}

void App::LoadSlot() {
    LoadFromSlot(slot_);
}

// A state brings its own disks: drive A's image names the slots from now on, and no disk
// waits to go in any more.
bool App::LoadStateFile(const std::string& path, std::string& error) {
    if (!machine_->LoadStateFile(path, error)) return false;
    for (Swap& swap : swaps_) swap = {};
    driveAPath_ = machine_->DrivePath(0);
    config_.DriveA = driveAPath_;
    return true;
}

// The picture as shown, as a TGA file in the data folder's "shot".
void App::TakeScreenshot() {
    std::vector<uint16_t> picture(static_cast<size_t>(host::kFrameWidth) * host::kFrameHeight);
    if (!devices_.display->CopyFrame(picture.data())) return;
    std::string name, error;
    do {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "Vexil_%03lld.tga", static_cast<long long>(screenshots_++));
        name = buffer;
    } while (FileExists(dataDirectory_ + "/shot/" + name) && screenshots_ < 100000);
    if (WriteTga(dataDirectory_ + "/shot/" + name, picture.data(), host::kFrameWidth, host::kFrameHeight,
                 host::kFrameWidth, &error))
        Say("Screenshot " + name);
    else
        Say(error);
}

// Back five snapshots (five seconds); the machine runs on from there at once.
void App::RewindStep() {
    std::string error;
    if (!rewind_.Back(kRewindFrames / kFramesPerSecond, rewound_)) {
        Say("Nothing to rewind");
    } else if (!machine_->LoadState(rewound_, error)) {
        Say(error);
    } else {
        Say("Rewound");
        if (paused_) SetPaused(false);
    }
}

void App::SetPaused(bool on) {
    if (on == paused_) return;
    paused_ = on;
    if (on) {
        devices_.sound->StopSound();
        pausedPicture_.assign(static_cast<size_t>(host::kFrameWidth) * host::kFrameHeight, 0);
        devices_.display->CopyFrame(pausedPicture_.data());
        Say("Paused");
    } else {
        if (!fastForward_ && state_ == kStateRunning) devices_.sound->StartSound();
        if (state_ == kStateRunning) Say("Running");
    }
}

void App::SetFastForward(bool on) {
    if (on == fastForward_) return;
    fastForward_ = on;
    if (on) {
        devices_.sound->StopSound();
        speedSlot_ = machine_->Overlay().ShowMessage("x 1", -1, false);
        speedCycles_ = 0;
        speedSince_ = std::chrono::steady_clock::now();
    } else {
        if (speedSlot_ >= 0) machine_->Overlay().ClearMessage(speedSlot_);
        speedSlot_ = -1;
        if (!paused_ && state_ == kStateRunning) devices_.sound->StartSound();
        if (state_ == kStateRunning) Say("Normal speed");
    }
}

void App::HostKey(uint8_t key) {
    switch (key) {
        case kHostSave:
            SaveSlot();
            break;
        case kHostLoad:
            LoadSlot();
            break;
        case kHostRewind:
            RewindStep();
            break;
        case kHostFast:
            SetFastForward(!fastForward_);
            break;
        case kHostPause:
            SetPaused(!paused_);
            break;
        case host::kKeyReturn:
            config_.bFullscreen = !config_.bFullscreen;
            devices_.window->SetFullscreen(config_.bFullscreen != 0);
            Say(config_.bFullscreen ? "Fullscreen" : "Window");
            break;
        case kHostScreenshot:
            TakeScreenshot();
            break;
        default:
            if (key >= kHostDigit1 && key <= kHostDigit0) {
                slot_ = key == kHostDigit0 ? 0 : key - kHostDigit1 + 1;
                Say("Slot " + std::to_string(slot_));
            }
            break;
    }
}

// Keys pressed while right Control is down are the host's: they act (while the machine runs)
// and are kept from the ST until they are released, even when right Control goes up first.
void App::PollHost() {
    host::Input& input = *devices_.input;
    input.PollInput();
    input.TakeEvents(events_);
    for (const host::HostEvent& event : events_) {
        switch (event.type) {
            case host::HostEvent::Type::kDropFile:
                OpenFile(event.path, event.shift ? 1 : 0);
                break;
            case host::HostEvent::Type::kKeyDown:
                if (event.key == host::kKeyRightControl) {
                    rightControl_ = true;
                } else if (rightControl_) {
                    heldBack_[event.key] = true;
                    if (state_ == kStateRunning) HostKey(event.key);
                }
                break;
            case host::HostEvent::Type::kKeyUp:
                if (event.key == host::kKeyRightControl) rightControl_ = false;
                heldBack_[event.key] = false;
                break;
        }
    }
    // The levels settle what events were lost (focus taken away, too many at once).
    rightControl_ = input.KeyDown(host::kKeyRightControl);
    for (int key = 0; key < 256; ++key)
        if (heldBack_[key] && !input.KeyDown(static_cast<uint8_t>(key))) heldBack_[key] = false;
}

void App::Pick(int item) {
    if (!bar_.Offers(item)) return;
    if (item <= kItemState) {
        ShowPage(item, true);
    } else if (item == kItemRun) {
        if (romLoaded_) {
            bar_.ShowPage(-1);
            devices_.input->PollInput();
            SetAppState(kStateRunning);
        } else {
            devices_.dialogs->Message(
                "Can't run...",
                "Unable to run, no TOS ROM selected!\nPlease select a TOS ROM in the options.");
        }
    } else if (item == kItemQuit) {
        if (devices_.dialogs->AskYesNo("Quit...", "Do you really want to quit Vexil?")) quit_ = true;
    }
}

bool App::Turn() {
    if (devices_.window->PumpMessages()) quit_ = true;
    if (quit_) return false;
    PollHost();
    switch (state_) {
        case kStateMenu:
            if (entered_ != kStateMenu) {
                // The screenshot page's picture: the frame as it was shown.
                menuPicture_.resize(static_cast<size_t>(host::kFrameWidth) * host::kFrameHeight);
                if (devices_.display->CopyFrame(menuPicture_.data()))
                    recordPage_.CaptureScreen(menuPicture_.data(), host::kFrameWidth);
                devices_.display->ClearScreen();
                ShowPage(bar_.LastPage(), false);
                if (debugger_) debugger_->Refresh();
                entered_ = kStateMenu;
            }
            Pick(devices_.controlBar->Draw(bar_));
            break;
        case kStateRunning:
            TurnRunning();
            break;
        case kStateResetHeld:
        case kStateDebugResetHeld:
            if (!devices_.input->KeyDown(host::kKeyF11))
                SetAppState(state_ == kStateResetHeld ? kStateRunning : kStateDebugRun);
            break;
        case kStateDebugRun:
            TurnDebugRun();
            break;
        default:
            break;
    }
    return !quit_;
}

void App::TurnRunning() {
    if (entered_ != kStateRunning) {
        devices_.display->ClearScreen();
        entered_ = kStateRunning;
    }
    host::Input& input = *devices_.input;
    const auto down = [&](uint8_t key) { return input.KeyDown(key) && !heldBack_[key]; };
    if (down(host::kKeyF11)) {
        SetPaused(false);
        ResetMachine(down(host::kKeyLeftShift) || down(host::kKeyRightShift));
        devices_.display->ClearScreen();
        SetAppState(kStateResetHeld);
        return;
    }
    if (down(host::kKeyF12)) {
        SetAppState(kStateMenu);
        return;
    }
    if (paused_) {
        ShowPaused();
        return;
    }
    RunFrames();
}

// One frame, or while fast-forwarding as many as fit in a frame's time; the last is shown.
void App::RunFrames() {
    FeedInput();
    const auto start = std::chrono::steady_clock::now();
    do {
        if (framesRun_ == 0) firstFrame_ = std::chrono::steady_clock::now();
        if (machine_->RunFrame() != kRunBudgetSpent) {
            ResetMachine(true);
            return;
        }
        ++framesRun_;
        CountSwapFrame();
        if (std::string trouble = machine_->TakeDiskMessage(); !trouble.empty()) Say(trouble);
        if (framesRun_ % kFramesPerSecond == 0) rewind_.Push(machine_->Snapshot());
        if (options_.frameReports && framesRun_ % 50 == 0) {
            std::fprintf(options_.frameReports, "frame %lld\n", static_cast<long long>(framesRun_));
            std::fflush(options_.frameReports);
        }
        speedCycles_ += machine_->Scheduler().LastFrameCycles();
        cyclesRun_ += machine_->Scheduler().LastFrameCycles();
        lastFrame_ = std::chrono::steady_clock::now();
        if ((options_.frames >= 0 && framesRun_ >= options_.frames) || machine_->NatFeats().Exited()) {
            quit_ = true;
            break;
        }
    } while (fastForward_ && lastFrame_ - start < kFastTurn);
    devices_.display->SetFramePeriod(machine_->Scheduler().LastFrameCycles() * int64_t{1000000} /
                                     kCpuClockHz);
    devices_.display->PresentFrame();
    if (!fastForward_) {
        speedCycles_ = 0;
        return;
    }
    // The speed, as a multiple of real time (machine seconds a second), once a second.
    const double seconds = std::chrono::duration<double>(lastFrame_ - speedSince_).count();
    if (seconds >= 1.0 && speedSlot_ >= 0) {
        char text[32];
        std::snprintf(text, sizeof text, "x %d",
                      static_cast<int>(static_cast<double>(speedCycles_) / kCpuClockHz / seconds));
        machine_->Overlay().SetMessageText(speedSlot_, text);
        speedCycles_ = 0;
        speedSince_ = lastFrame_;
    }
}

// The picture as it was when the machine paused, with the messages over it.
void App::ShowPaused() {
    int pitch = 0;
    uint16_t* pixels = devices_.display->LockFrame(&pitch);
    if (pixels && pausedPicture_.size() == static_cast<size_t>(host::kFrameWidth) * host::kFrameHeight) {
        for (int y = 0; y < host::kFrameHeight; ++y)
            std::copy_n(pausedPicture_.data() + static_cast<size_t>(y) * host::kFrameWidth, host::kFrameWidth,
                        pixels + static_cast<size_t>(y) * pitch);
        machine_->Overlay().DrawMessages(pixels, pitch);
    }
    devices_.display->PresentFrame();
}

// Hands the host's keyboard, mouse and joystick to the keyboard processor, which compares
// them with what it saw at its last tick.
void App::FeedInput() {
    host::Input& input = *devices_.input;
    bool keys[256];
    for (int code = 0; code < 256; ++code)
        keys[code] = input.KeyDown(static_cast<uint8_t>(code)) && !heldBack_[code];
    keys[host::kKeyRightControl] = false;
    const uint8_t joystick = input.PollJoystick();
    IkbdInput& machineInput = machine_->Keyboard().input;
    ApplyHostKeys(keys, config_.bArrowForJoystick != 0, config_.bUseJoystick ? joystick : 0, machineInput);
    // With `SteJoypad` on an STE, the joystick (and the arrow keys standing in for it) moves
    // to the extended port A as a joypad, with the controller's other buttons.
    JoypadInput& pad = machine_->Joypads().port[0];
    if (config_.SteJoypad && (machine_->Settings().Machine & 1)) {
        const uint32_t buttons = config_.bUseJoystick ? input.PollPadButtons() : 0;
        pad = {true, JoypadKeysFromHost(machineInput.joystick, buttons), 0, 0};
        machineInput.joystick = 0;
    } else {
        pad = {};
    }
    const host::MouseSample mouse = input.TakeMouse();
    machineInput.mouseDx += mouse.dx;
    machineInput.mouseDy += mouse.dy;
    machineInput.buttons =
        static_cast<uint8_t>((mouse.left ? ikbd::kLeftButton : 0) | (mouse.right ? ikbd::kRightButton : 0));
}

// The debugger-run state: one instruction at a time with the debugger's stop conditions
// checked after each, for up to a frame per turn; the picture and the keys once a frame.
void App::TurnDebugRun() {
    entered_ = kStateDebugRun;
    if (!debugger_) {
        SetAppState(kStateMenu);
        return;
    }
    DebuggerPage::Turn turn;
    while (turn.outcome == DebuggerPage::Outcome::kGoOn && !turn.frameEnded) turn = debugger_->RunTurn();
    if (turn.outcome == DebuggerPage::Outcome::kCpuStopped) {
        ResetMachine(true);
        return;
    }
    if (turn.frameEnded) {
        devices_.display->PresentFrame();
        CountSwapFrame();
    }
    host::Input& input = *devices_.input;
    FeedInput();
    if (turn.outcome == DebuggerPage::Outcome::kStop || input.KeyDown(host::kKeyF12)) {
        StopDebugRun();
    } else if (input.KeyDown(host::kKeyF11)) {
        ResetMachine(input.KeyDown(host::kKeyLeftShift) || input.KeyDown(host::kKeyRightShift));
        devices_.display->ClearScreen();
        SetAppState(kStateDebugResetHeld);
    }
}

// Back to the menu, on the debugger's page.
void App::StopDebugRun() {
    bar_.PickPage(kItemDebugger);
    SetAppState(kStateMenu);
}

void App::ShutDown(bool normalQuit) {
    SetAppState(kStateShutDown);
    recordPage_.Shutdown();
    if (devicesUp_) {
        if (normalQuit) WriteScreenshot();
        devices_.sound->ReleaseSound();
        devices_.input->ReleaseInput();
        devices_.display->ShutdownDisplay();
        bar_.ShowPage(-1);
        devices_.window->Destroy();
        devicesUp_ = false;
    }
    recordPage_.Attach(nullptr);
    machine_.reset();
    if (normalQuit) {
        std::string error;
        if (!SaveConfig(configPath_, config_, roms_, &error)) Report("settings not saved: " + error);
    }
}

}  // namespace vexil

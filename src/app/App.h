// The application: start-up, the application loop with its states, and shutdown.
//
// Start-up takes the single-instance lock, loads the settings, builds the machine, inserts
// drive A, loads the TOS ROM and the cartridge, brings up the window, display, input and
// sound, cold-resets the machine and enters the menu. Each turn of the loop pumps the window's
// events and then acts on the state:
//
//   state  meaning                                   leaves for
//   0      menu: control bar shown, machine stopped  3 (Run), 6 (debugger)
//   3      running: one frame per turn (none while   0 (F12), 4 (F11, Shift+F11 cold)
//          paused, as many as fit in a frame's time
//          while fast-forwarding)
//   4      reset key held                            3 once F11 is released
//   5      reset key held in a debugger run          6 once F11 is released
//   6      debugger run: an instruction at a time,   0 (F12, a debugger stop), 5 (F11)
//          the debugger's stop checked after each
//
// A disk image or a save state given on the command line starts the machine at once (state 3).
// While the machine runs, right Control is the host's own modifier and never reaches the ST:
// with it, S and L save and load the current slot, 0-9 choose the slot, R rewinds, F and P
// switch fast-forward and pause, Return fullscreen, G takes a screenshot. A key pressed while
// right Control is down stays away from the ST until it is released. Every state polls the
// host's events, so files dropped on the window and the host keys work in each.
//
// Shutdown releases everything in the reverse order and, after a normal quit, saves the
// settings. Settings that shape the machine (model, RAM size, TOS ROM, cartridge) take effect
// at the next cold reset, which rebuilds the machine when they changed.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/Instance.h"
#include "app/Rewind.h"
#include "floppy/DiskImage.h"
#include "host/Host.h"
#include "machine/Machine.h"
#include "recording/PortFiles.h"
#include "ui/ControlBar.h"
#include "ui/PageHost.h"
#include "ui/RecordPage.h"
#include "ui/RomList.h"
#include "ui/StatePage.h"

namespace vexil {

class DebuggerPage;
class DiskPage;
class OptionsPage;

enum AppState : int32_t {
    kStateShutDown = -1,
    kStateMenu = 0,
    kStateRunning = 3,
    kStateResetHeld = 4,
    kStateDebugResetHeld = 5,
    kStateDebugRun = 6,
};

// What the command line asked for. Overrides hold for this run only and are never saved.
struct AppOptions {
    std::string configPath;            // empty: DefaultConfigPath()
    std::string dataDirectory;         // empty: DataDirectory()
    std::string rom;                   // TOS ROM instead of the active one
    std::string disk;                  // drive A instead of the stored one
    std::string diskB;                 // drive B instead of the stored one
    std::string folderDrive;           // drive C: from this folder instead of the stored one
    bool folderDriveReadOnly = false;  // ... refusing writes
    std::string run;                   // a program on C: the desktop starts ("C:\PATH\PROG.PRG")
    char boot = 'c';                   // with drive C:, 'a' boots from the floppy
    std::string state;                 // a save state loaded at start-up
    std::optional<uint32_t> machine;   // Machine
    std::optional<uint32_t> ramSize;   // RAMSize
    std::optional<uint32_t> monitor;   // Monitor
    bool debug = false;
    int frames = -1;  // quit after this many frames (-1: no limit)
    // Where a window run tells its progress, "frame N" every 50 frames, so that a script can
    // wait for a frame rather than a time; null: nowhere.
    std::FILE* frameReports = nullptr;
    std::string screenshot;
    std::string wav;
    std::string printer;    // the printer port's bytes to this file ("-": standard output)
    std::string serial;     // the serial port's bytes to this file ("-": standard output)
    std::string serialIn;   // bytes the serial port receives
    bool natfeats = false;  // the native-feature calls; NF_STDERR to the error stream
    // Where the bundled ROM may lie, tried in order when no ROM is active and there is no
    // "VexilDefault.ROM" in the current directory.
    std::vector<std::string> bundledRoms;
};

// The line of the desktop's start-up file (EMUDESK.INF) that starts `program` ("C:\...") once
// the desktop is up.
std::string DesktopRunLine(const std::string& program);

// The TOS ROM start-up loads: the override, else the active TOS entry, else
// "VexilDefault.ROM" in the current directory, else the first bundled image that exists.
std::string ChooseTosRom(const AppOptions& options, const RomList& roms);

class App final : public PageHost, public StateSlots {
public:
    // Frames a drive shows itself empty between two disks: TOS samples write-protect only
    // every 8 to 16 vertical blanks and sees a change only through it.
    static constexpr int kSwapFrames = 20;
    static constexpr int32_t kHostMessageMilliseconds = 2000;
    // Messages for the user that have no window to go to are written to `err`.
    App(const AppOptions& options, const host::Devices& devices, std::FILE* err);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Start-up, the loop until a quit, shutdown. Returns the exit status.
    int Run();

    // The steps of Run, for tests. StartUp returns -1 when it went through, else the exit
    // status. Turn returns false once the loop must end.
    int StartUp();
    bool Turn();
    void ShutDown(bool normalQuit);

    void SetAppState(int32_t state);
    // Cold: clears RAM and rebuilds the machine first when the settings that shape it changed.
    void ResetMachine(bool cold) override;
    // Acts on an item picked on the control bar.
    void Pick(int item);
    // Hands the settings that take effect at once (drive speed, sound chip, line mode,
    // overlays) to the current machine.
    void ApplySettings() override;
    // Drive A of the current machine; `DriveA` follows what it holds (empty after a refusal).
    InsertResult InsertDiskA(const std::string& path) override;
    void EjectDiskA() override;
    const std::string& DriveAPath() const override { return driveAPath_; }
    // Drive 0 (A) or 1 (B) takes the image as a person swaps disks: the drive is empty at
    // once and takes the image after it has been empty for kSwapFrames frames the machine ran.
    // A refused image leaves the drive as it was.
    InsertResult SwapDisk(int drive, const std::string& path);
    // A file the user handed over while the program runs (dropped on the window): a save
    // state is loaded, anything else goes into the drive. The overlay says what happened.
    void OpenFile(const std::string& path, int drive);
    bool Paused() const { return paused_; }
    bool FastForward() const { return fastForward_; }
    // Frames of machine time each press of right Ctrl+R goes back.
    static constexpr int kRewindFrames = 250;
    const Rewind& History() const { return rewind_; }
    int Slot() const override { return slot_; }
    // The save-state file of a slot: the data folder's state/NAME-N.vxs, NAME drive A's image
    // (else the TOS ROM's) without its folder and extension.
    std::string SlotPath(int slot) const override;
    // The State page's and the host keys' slots; saving and loading say how it went in the
    // overlay and give the same words back. A state's file keeps the screen shrunk by
    // kSlotPictureShrink each way.
    static constexpr int kSlotPictureShrink = 8;
    void ChooseSlot(int slot) override;
    std::string SaveToSlot(int slot) override;
    std::string LoadFromSlot(int slot) override;
    // Why the last TOS ROM could not be loaded; empty when it was.
    const std::string& RomProblem() const override { return romProblem_; }

    int32_t State() const { return state_; }
    Machine* CurrentMachine() override { return machine_.get(); }
    MachineConfig& Config() override { return config_; }
    RomList& Roms() override { return roms_; }
    const ControlBar& Bar() const { return bar_; }
    bool RomLoaded() const override { return romLoaded_; }
    int64_t FramesRun() const { return framesRun_; }
    // The machine time those frames took, whatever their rate.
    double MachineSeconds() const { return static_cast<double>(cyclesRun_) / kCpuClockHz; }
    // Wall-clock seconds from the start of the first frame run to the end of the last.
    double RunSeconds() const { return std::chrono::duration<double>(lastFrame_ - firstFrame_).count(); }
    int64_t ColdResets() const { return coldResets_; }
    const DiskImage& DriveA() const { return driveA_; }
    DebuggerPage* Debugger() { return debugger_.get(); }

private:
    void TurnRunning();
    void RunFrames();
    void ShowPaused();
    // Polls the keyboard and acts on the events since the last poll.
    void PollHost();
    void HostKey(uint8_t key);
    void Say(const std::string& text);
    void SetPaused(bool on);
    void SetFastForward(bool on);
    void SaveSlot();
    void LoadSlot();
    bool LoadStateFile(const std::string& path, std::string& error);
    void TakeScreenshot();
    void RewindStep();
    void NoteRecent(const std::string& path);
    void CountSwapFrame();
    void InsertWaiting(int drive);
    void TurnDebugRun();
    void StopDebugRun();
    void FeedInput();
    bool BuildMachine();
    MachineSettings WantedSettings() const;
    std::string WantedCartridge() const;
    void Report(const std::string& text);
    void ConnectDisplay();
    void ConnectSound();
    void ConnectPorts();
    void WriteScreenshot();
    void ShowPage(int item, bool picked);

    AppOptions options_;
    host::Devices devices_;
    std::FILE* err_;
    std::string configPath_;
    SingleInstanceLock lock_;
    MachineConfig config_;
    RomList roms_;
    ControlBar bar_;
    DiskImage driveA_;
    std::unique_ptr<Machine> machine_;
    RecordPage recordPage_;                   // after the machine: it lets go of it first
    std::vector<uint16_t> menuPicture_;       // the picture as shown when the menu is entered
    std::unique_ptr<DebuggerPage> debugger_;  // with -debug
    std::string loadedTos_;
    std::string loadedCartridge_;
    bool romLoaded_ = false;
    std::string romProblem_;
    std::string driveAPath_;     // the image the machine's drive A holds
    uint32_t textureInUse_ = 0;  // the display path the renderer draws for (fixed for the run)
    std::unique_ptr<DiskPage> diskPage_;
    std::unique_ptr<OptionsPage> optionsPage_;
    std::unique_ptr<StatePage> statePage_;
    int32_t state_ = kStateShutDown;
    int32_t entered_ = kStateShutDown;  // the state whose entry actions have run
    bool quit_ = false;
    bool devicesUp_ = false;
    int64_t framesRun_ = 0;
    int64_t cyclesRun_ = 0;  // the CPU cycles of the frames run
    std::chrono::steady_clock::time_point firstFrame_, lastFrame_;
    int64_t coldResets_ = 0;
    PortWriter printerFile_, serialFile_;
    PortReader serialIn_;
    std::string dataDirectory_;

    // Host keys and events.
    std::vector<host::HostEvent> events_;
    std::array<bool, 256> heldBack_{};  // pressed with right Control: kept from the ST until released
    bool rightControl_ = false;
    bool paused_ = false;
    std::vector<uint16_t> pausedPicture_;
    bool fastForward_ = false;
    int speedSlot_ = -1;       // the overlay slot that shows the fast-forward speed
    int64_t speedCycles_ = 0;  // machine cycles run since speedSince_
    std::chrono::steady_clock::time_point speedSince_;
    int slot_ = 0;
    int64_t screenshots_ = 0;
    Rewind rewind_;  // a snapshot each 50 frames run
    std::vector<uint8_t> rewound_;

    // Disk swaps: the image each drive takes once it has been empty long enough.
    struct Swap {
        std::string path;  // empty: nothing waits
        int emptyFrames = kSwapFrames;
    };
    std::array<Swap, 2> swaps_{};
};

}  // namespace vexil

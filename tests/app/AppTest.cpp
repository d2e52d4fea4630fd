// The application driven through the headless back end: start-up, the states and their keys,
// the control bar's items, the single instance and what reaches the settings file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/App.h"
#include "host/HeadlessHost.h"
#include "ui/DebuggerPage.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;
using host::HeadlessHost;

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vexil-app-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        options_.configPath = (dir_ / "vexil.ini").string();
        options_.dataDirectory = (dir_ / "data").string();
        options_.bundledRoms = {VEXIL_EMUTOS};
        Write("[Graphics]\nbAskFullscreen = 0\n");
    }
    void TearDown() override {
        app_.reset();
        fs::remove_all(dir_);
    }

    void Write(const std::string& text) { std::ofstream(options_.configPath) << text; }
    std::string Settings() {
        std::ifstream in(options_.configPath);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    App& Start() {
        app_ = std::make_unique<App>(options_, host_.AllDevices(), nullptr);
        EXPECT_EQ(app_->StartUp(), -1);
        return *app_;
    }
    // One turn with these keys held.
    void TurnWith(const std::vector<uint8_t>& keys) {
        for (uint8_t k : {host::kKeyF11, host::kKeyF12, host::kKeyLeftShift, host::kKeyRightShift})
            host_.SetKey(k, std::find(keys.begin(), keys.end(), k) != keys.end());
        app_->Turn();
    }
    void RunMachine() {
        host_.QueuePick(kItemRun);
        app_->Turn();
        ASSERT_EQ(app_->State(), kStateRunning);
    }

    fs::path dir_;
    AppOptions options_;
    HeadlessHost host_;
    std::unique_ptr<App> app_;
};

TEST_F(AppTest, StartsInTheMenuOnTheDiskPageWithoutTheDebugger) {
    App& app = Start();
    EXPECT_EQ(app.State(), kStateMenu);
    EXPECT_TRUE(host_.windowOpen);
    EXPECT_TRUE(app.RomLoaded());
    app.Turn();
    EXPECT_EQ(app.Bar().CurrentPage(), kItemDisks);
    EXPECT_FALSE(app.Bar().Offers(kItemDebugger));
    EXPECT_EQ(app.Bar().pages.debugger, nullptr);
    host_.QueuePick(kItemDebugger);  // not offered: ignored
    app.Turn();
    EXPECT_EQ(app.Bar().CurrentPage(), kItemDisks);
    EXPECT_TRUE(fs::is_directory(dir_ / "data" / "shot"));
    EXPECT_TRUE(fs::is_directory(dir_ / "data" / "sound"));
}

TEST_F(AppTest, RunStartsTheMachineAndF12ReturnsToTheLastPickedPage) {
    options_.debug = true;
    App& app = Start();
    app.Turn();
    host_.QueuePick(kItemDebugger);
    app.Turn();
    EXPECT_EQ(app.Bar().CurrentPage(), kItemDebugger);
    RunMachine();
    EXPECT_FALSE(app.Bar().Shown());
    EXPECT_TRUE(host_.acquired);
    EXPECT_TRUE(host_.soundPlaying);
    for (int i = 0; i < 5; ++i) TurnWith({});
    EXPECT_EQ(app.FramesRun(), 5);
    EXPECT_EQ(host_.presents, 5);
    // The pace line's machine time is the machine's own clock, whatever rate the ROM chose
    // (this US EmuTOS switches to 60 Hz), up to the last instruction's overrun of the frame.
    EXPECT_NEAR(app.MachineSeconds(),
                static_cast<double>(app.CurrentMachine()->Scheduler().CyclesRun()) / kCpuClockHz,
                200.0 / kCpuClockHz);
    EXPECT_LT(app.MachineSeconds(), 5 / 50.0);
    TurnWith({host::kKeyF12});
    EXPECT_EQ(app.State(), kStateMenu);
    EXPECT_FALSE(host_.acquired);
    EXPECT_FALSE(host_.soundPlaying);
    TurnWith({});
    EXPECT_EQ(app.Bar().CurrentPage(), kItemDebugger);
    EXPECT_EQ(app.FramesRun(), 5);  // stopped
}

TEST_F(AppTest, TheDebuggerRunStopsOnItsConditionsAndShowsItsPage) {
    options_.debug = true;
    App& app = Start();
    app.Turn();
    DebuggerPage* page = app.Bar().pages.debugger;
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(page->RunForNops("50000"));  // over a frame
    EXPECT_EQ(app.State(), kStateDebugRun);
    EXPECT_FALSE(app.Bar().Shown());
    for (int i = 0; i < 10 && app.State() == kStateDebugRun; ++i) TurnWith({});
    EXPECT_EQ(app.State(), kStateMenu);
    EXPECT_GE(page->CyclesRun(), 200000);
    EXPECT_LT(page->CyclesRun(), 200000 + 200);
    EXPECT_GE(host_.presents, 1);  // the frame that ended on the way
    TurnWith({});
    EXPECT_EQ(app.Bar().CurrentPage(), kItemDebugger);
    // F12 ends a run that nothing else stops.
    page->Run();
    TurnWith({host::kKeyF12});
    EXPECT_EQ(app.State(), kStateMenu);
    TurnWith({});
    EXPECT_EQ(app.Bar().CurrentPage(), kItemDebugger);
}

struct ResetCase {
    const char* name;
    std::vector<uint8_t> keys;
    bool cold;
};

class AppReset : public AppTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(AppReset, ResetsOnceWhileF11IsHeldAndRunsOnAfterItsRelease) {
    App& app = Start();
    RunMachine();
    TurnWith({});
    constexpr uint32_t kMarker = 0x3F0000;  // RAM that the ROM does not clear at a reset
    app.CurrentMachine()->PokeLong(kMarker, 0x12345678);
    const int64_t coldBefore = app.ColdResets();
    TurnWith(GetParam().keys);
    EXPECT_EQ(app.State(), kStateResetHeld);
    EXPECT_EQ(app.ColdResets() - coldBefore, GetParam().cold ? 1 : 0);
    EXPECT_EQ(app.CurrentMachine()->PeekLong(kMarker), GetParam().cold ? 0u : 0x12345678u);
    app.CurrentMachine()->PokeLong(kMarker, 0xCAFEF00D);
    for (int i = 0; i < 3; ++i) TurnWith(GetParam().keys);  // held: no second reset
    EXPECT_EQ(app.State(), kStateResetHeld);
    EXPECT_EQ(app.CurrentMachine()->PeekLong(kMarker), 0xCAFEF00Du);
    const int64_t frames = app.FramesRun();
    TurnWith({});
    EXPECT_EQ(app.State(), kStateRunning);
    EXPECT_TRUE(host_.acquired);
    TurnWith({});
    EXPECT_EQ(app.FramesRun(), frames + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, AppReset,
    ::testing::Values(ResetCase{"F11", {host::kKeyF11}, false},
                      ResetCase{"LeftShiftF11", {host::kKeyF11, host::kKeyLeftShift}, true},
                      ResetCase{"RightShiftF11", {host::kKeyF11, host::kKeyRightShift}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, RunIsRefusedWithoutATosRom) {
    options_.bundledRoms = {"/nonexistent/etos.img"};
    App& app = Start();
    EXPECT_FALSE(app.RomLoaded());
    app.Turn();
    host_.QueuePick(kItemRun);
    app.Turn();
    EXPECT_EQ(app.State(), kStateMenu);
    ASSERT_FALSE(host_.shownMessages.empty());
    EXPECT_NE(host_.shownMessages.back().find("Unable to run, no TOS ROM selected!"), std::string::npos);
}

TEST_F(AppTest, QuitAsksFirstAndAClosedWindowQuitsAtOnce) {
    App& app = Start();
    host_.answer = false;
    host_.QueuePick(kItemQuit);
    EXPECT_TRUE(app.Turn());
    EXPECT_NE(host_.shownMessages.back().find("Do you really want to quit Vexil?"), std::string::npos);
    host_.answer = true;
    host_.QueuePick(kItemQuit);
    EXPECT_FALSE(app.Turn());
}

TEST_F(AppTest, ANormalQuitSavesTheSettingsWithoutTheCommandLineOverrides) {
    options_.machine = 1;
    options_.ramSize = 0;
    app_ = std::make_unique<App>(options_, host_.AllDevices(), nullptr);
    host_.RequestQuit();
    EXPECT_EQ(app_->Run(), 0);
    const std::string saved = Settings();
    EXPECT_NE(saved.find("Machine = 0\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("RAMSize = 2\n"), std::string::npos) << saved;
    EXPECT_FALSE(host_.windowOpen);
}

TEST_F(AppTest, AFailedDisplayEndsTheRunWithoutSaving) {
    const std::string before = Settings();
    host_.failDisplay = true;
    App app(options_, host_.AllDevices(), nullptr);
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(Settings(), before);
    EXPECT_FALSE(host_.windowOpen);
}

struct PacingCase {
    const char* name;
    const char* settings;
    int waits;  // frames of three written with the normal mode's wait
};

class AppSound : public AppTest, public ::testing::WithParamInterface<PacingCase> {};

// Each frame's 881 samples reach the sound output; only the normal mode waits for room.
TEST_P(AppSound, EveryFrameFeedsTheDeviceAndOnlyTheNormalModeWaits) {
    Write(std::string("[Graphics]\nbAskFullscreen = 0\n") + GetParam().settings);
    Start();
    RunMachine();
    for (int i = 0; i < 3; ++i) TurnWith({});
    EXPECT_EQ(host_.samplesTaken, 3 * 881);
    EXPECT_EQ(host_.waitsAsked, GetParam().waits);
}

INSTANTIATE_TEST_SUITE_P(Modes, AppSound,
                         ::testing::Values(PacingCase{"Normal", "", 3},
                                           PacingCase{"DisplayPaced", "ForceVBLSync = 1\n", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, WithoutSoundTheProgramStartsAndSaysSo) {
    host_.failSound = true;
    Start();
    ASSERT_EQ(host_.shownMessages.size(), 1u);
    EXPECT_EQ(host_.shownMessages[0].rfind("Audio Error", 0), 0u);
}

TEST_F(AppTest, ASecondInstanceIsRefused) {
    SingleInstanceLock first;
    ASSERT_EQ(first.Take(options_.configPath + ".lock", nullptr), SingleInstanceLock::Result::kTaken);
    App second(options_, host_.AllDevices(), nullptr);
    EXPECT_EQ(second.StartUp(), 1);
    EXPECT_FALSE(host_.windowOpen);
    ASSERT_EQ(host_.shownMessages.size(), 1u);
    EXPECT_EQ(host_.shownMessages[0], "Already Running...: Vexil is already running!");
    first.Drop();
    App third(options_, host_.AllDevices(), nullptr);
    EXPECT_EQ(third.StartUp(), -1);
}

TEST_F(AppTest, ADamagedSettingsFileIsToldAndKeptUntilANormalQuit) {
    const std::string damaged = "[Machine]\nRAMSize = 1\n[Dis";
    Write(damaged);
    App& app = Start();
    EXPECT_NE(app.Bar().notice.find("not usable"), std::string::npos);
    EXPECT_EQ(app.Config().RAMSize, 2u);
    app.ShutDown(false);
    EXPECT_EQ(Settings(), damaged);
    app.ShutDown(true);
    EXPECT_NE(Settings(), damaged);
}

TEST_F(AppTest, MachineSettingsTakeEffectAtTheNextColdReset) {
    App& app = Start();
    Machine* before = app.CurrentMachine();
    EXPECT_EQ(before->Settings().RAMSize, 2u);
    ApplyRamSize(app.Config(), 0);
    app.Config().Machine = 1;
    app.ResetMachine(false);
    EXPECT_EQ(app.CurrentMachine()->Settings().RAMSize, 2u);
    app.ResetMachine(true);
    EXPECT_EQ(app.CurrentMachine()->Settings().RAMSize, 0u);
    EXPECT_EQ(app.CurrentMachine()->Settings().Machine, 1u);
    EXPECT_TRUE(app.RomLoaded());
}

TEST_F(AppTest, ACommandLineDiskThatCannotBeReadStopsTheStart) {
    options_.disk = "/nonexistent/disk.st";
    App app(options_, host_.AllDevices(), nullptr);
    EXPECT_EQ(app.StartUp(), 1);
}

TEST_F(AppTest, ACommandLineRomThatCannotBeReadStopsTheStart) {
    options_.rom = "/nonexistent/tos.img";
    App app(options_, host_.AllDevices(), nullptr);
    EXPECT_EQ(app.StartUp(), 1);
}

TEST_F(AppTest, TheActiveTosEntryComesBeforeTheBundledRom) {
    RomList roms;
    EXPECT_EQ(ChooseTosRom(options_, roms), VEXIL_EMUTOS);
    const std::string copy = (dir_ / "tos.img").string();
    fs::copy_file(VEXIL_EMUTOS, copy);
    roms.SetActive(roms.Add(copy));
    EXPECT_EQ(ChooseTosRom(options_, roms), copy);
    options_.rom = "/given.img";
    EXPECT_EQ(ChooseTosRom(options_, roms), "/given.img");
}

TEST_F(AppTest, FramesLimitEndsAWindowRun) {
    options_.frames = 3;
    App& app = Start();
    RunMachine();
    EXPECT_TRUE(app.Turn());
    EXPECT_TRUE(app.Turn());
    EXPECT_FALSE(app.Turn());
    EXPECT_EQ(app.FramesRun(), 3);
}

}  // namespace
}  // namespace vexil

namespace vexil {
namespace {

// The host's keys, mouse and joystick reach the keyboard processor while the machine runs;
// going to the menu lets go of everything still held, so that no key sticks.
TEST_F(AppTest, HostInputReachesTheKeyboardProcessorAndTheMenuLetsGo) {
    App& app = Start();
    RunMachine();
    host_.SetKey(0x1E, true);  // A
    host_.SetKey(0xC8, true);  // cursor up: the joystick while bArrowForJoystick is on
    host_.mouse = {5, -2, true, false};
    TurnWith({});
    const IkbdInput& input = app.CurrentMachine()->Keyboard().input;
    EXPECT_EQ(input.keys[0x1E], 1);
    EXPECT_EQ(input.keys[0x48], 0);
    EXPECT_EQ(input.joystick, 0x01);
    EXPECT_EQ(input.buttons, ikbd::kLeftButton);
    TurnWith({host::kKeyF12});
    EXPECT_EQ(app.State(), kStateMenu);
    EXPECT_EQ(input.keys[0x1E], 0);
    EXPECT_EQ(input.buttons, 0);
    EXPECT_GT(app.CurrentMachine()->Keyboard().QueuedBytes(), 0);  // the releases wait to go out
}

// With SteJoypad on an STE the joystick (here the arrow keys) and the controller's buttons go
// to the extended port A as a joypad, and the keyboard processor's joystick stays still; on
// an ST the setting changes nothing.
TEST_F(AppTest, SteJoypadMovesTheJoystickToExtendedPortA) {
    for (const uint32_t machine : {1u, 0u}) {
        Write("[Graphics]\nbAskFullscreen = 0\n[Machine]\nSteJoypad = 1\nbUseJoystick = 1\nMachine = " +
              std::to_string(machine) + "\n");
        App& app = Start();
        RunMachine();
        host_.SetKey(0xC8, true);  // cursor up
        host_.padButtons = joypad::kHostStart;
        TurnWith({});
        const JoypadInput& pad = app.CurrentMachine()->Joypads().port[0];
        const IkbdInput& input = app.CurrentMachine()->Keyboard().input;
        if (machine == 1) {
            EXPECT_TRUE(pad.joypad);
            EXPECT_EQ(pad.keys, joypad::kUp | joypad::kPause);
            EXPECT_EQ(input.joystick, 0);
        } else {
            EXPECT_FALSE(pad.joypad);
            EXPECT_EQ(pad.keys, 0u);
            EXPECT_EQ(input.joystick, 0x01);
        }
        host_.SetKey(0xC8, false);
        host_.padButtons = 0;
        app_.reset();
    }
}

// The host keys, pressed with right Control through the host layer's event path.
class AppHostKeys : public AppTest {
protected:
    static constexpr uint8_t kRightControl = host::kKeyRightControl;
    // Right Control down, `key` pressed and released, right Control up; one turn each.
    void HostKey(uint8_t key) {
        host_.SetKey(kRightControl, true);
        host_.SetKey(key, true);
        TurnWith({});
        host_.SetKey(key, false);
        host_.SetKey(kRightControl, false);
        TurnWith({});
    }
    // Whether a timed message of the overlay reads `text`.
    bool Said(const std::string& text) {
        const StatusOverlay& overlay = app_->CurrentMachine()->Overlay();
        for (int slot = 2; slot < StatusOverlay::kSlots; ++slot)
            if (overlay.Active(slot) && text == overlay.Text(slot)) return true;
        return false;
    }
    void MakeDisk(const std::string& name) {
        std::ofstream(dir_ / name, std::ios::binary) << std::string(737280, '\0');
    }
};

struct HostKeyCase {
    const char* name;
    uint8_t key;
    const char* message;
};

class AppHostKeyTable : public AppHostKeys, public ::testing::WithParamInterface<HostKeyCase> {};

// Each key acts once per press, says so, and never reaches the ST, not even when right Control
// is released before it.
TEST_P(AppHostKeyTable, ActsOnceSaysSoAndStaysAwayFromTheSt) {
    const HostKeyCase& c = GetParam();
    App& app = Start();
    RunMachine();
    host_.SetKey(kRightControl, true);
    host_.SetKey(c.key, true);
    for (int i = 0; i < 3; ++i) TurnWith({});  // held: one action
    host_.SetKey(kRightControl, false);
    TurnWith({});
    EXPECT_TRUE(Said(c.message)) << c.message;
    const IkbdInput& input = app.CurrentMachine()->Keyboard().input;
    EXPECT_EQ(input.keys[c.key & 0x7F], 0);
    EXPECT_EQ(input.keys[0x1D], 0);  // right Control is not the ST's Control
    host_.SetKey(c.key, false);
    TurnWith({});
    if (c.key == 0x19) HostKey(0x19);  // out of the pause, for the press below
    host_.SetKey(c.key, true);         // without right Control: the ST's key again
    TurnWith({});
    EXPECT_EQ(input.keys[c.key & 0x7F], 1);
}

INSTANTIATE_TEST_SUITE_P(Keys, AppHostKeyTable,
                         ::testing::Values(HostKeyCase{"Pause", 0x19, "Paused"},
                                           HostKeyCase{"FastForward", 0x21, "x 1"},
                                           HostKeyCase{"Fullscreen", host::kKeyReturn, "Fullscreen"},
                                           HostKeyCase{"Slot7", 0x08, "Slot 7"},
                                           HostKeyCase{"Slot0", 0x0B, "Slot 0"},
                                           HostKeyCase{"Save", 0x1F, "Saved to slot 0"},
                                           HostKeyCase{"LoadEmpty", 0x26, "Slot 0 is empty"},
                                           HostKeyCase{"Screenshot", 0x22, "Screenshot Vexil_000.tga"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppHostKeys, PauseStopsTheMachineAndTheSoundKeepsPollingAndShowsThePicture) {
    App& app = Start();
    RunMachine();
    TurnWith({});
    HostKey(0x19);
    EXPECT_TRUE(app.Paused());
    EXPECT_FALSE(host_.soundPlaying);
    const int64_t frames = app.FramesRun();
    const int presents = host_.presents;
    for (int i = 0; i < 5; ++i) TurnWith({});
    EXPECT_EQ(app.FramesRun(), frames);
    EXPECT_EQ(host_.presents, presents + 5);  // the picture stays shown, paced as frames
    EXPECT_FALSE(app.Bar().Shown());
    HostKey(0x19);  // polled while paused
    EXPECT_FALSE(app.Paused());
    EXPECT_TRUE(host_.soundPlaying);
    EXPECT_EQ(app.FramesRun(), frames + 2);  // the two turns of the key
}

TEST_F(AppHostKeys, FastForwardRunsWithoutSoundAndTheMenuEndsIt) {
    App& app = Start();
    RunMachine();
    HostKey(0x21);
    EXPECT_TRUE(app.FastForward());
    EXPECT_FALSE(host_.soundPlaying);
    const int presents = host_.presents;
    const int64_t frames = app.FramesRun();
    for (int i = 0; i < 10; ++i) TurnWith({});
    EXPECT_EQ(host_.presents, presents + 10);  // one picture a turn
    EXPECT_GE(app.FramesRun(), frames + 10);
    EXPECT_EQ(host_.samplesTaken, 0);
    TurnWith({host::kKeyF12});
    EXPECT_FALSE(app.FastForward());
    RunMachine();
    EXPECT_TRUE(host_.soundPlaying);
}

// A state saved in slot 3 and loaded again gives the same machine 50 frames on as the run
// that saved it.
TEST_F(AppHostKeys, ASlotLoadedReplaysTheRunThatSavedIt) {
    App& app = Start();
    RunMachine();
    for (int i = 0; i < 100; ++i) TurnWith({});
    HostKey(0x04);  // 3
    HostKey(0x1F);  // save
    ASSERT_TRUE(fs::exists(app.SlotPath(3))) << app.SlotPath(3);
    EXPECT_NE(app.SlotPath(3).find("/state/etos256us-3.vxs"), std::string::npos);
    for (int i = 0; i < 50; ++i) TurnWith({});
    const std::vector<uint8_t> first = app.CurrentMachine()->SaveState();
    HostKey(0x26);  // load
    EXPECT_TRUE(Said("Loaded slot 3"));
    for (int i = 0; i < 50; ++i) TurnWith({});
    EXPECT_EQ(app.CurrentMachine()->SaveState(), first);
}

// A dropped disk goes in as a person swaps disks: the drive is empty for 20 frames first, so
// that TOS sees the change; Shift puts it into drive B; a file that is no image changes nothing.
TEST_F(AppHostKeys, ADroppedDiskGoesInAfterTheDriveShowedItselfEmpty) {
    MakeDisk("first.st");
    MakeDisk("second.st");
    options_.disk = (dir_ / "first.st").string();
    App& app = Start();
    EXPECT_EQ(app.State(), kStateRunning);  // a disk from the command line runs at once
    TurnWith({});
    host_.DropFile((dir_ / "second.st").string(), false);
    TurnWith({});
    EXPECT_TRUE(Said("Drive A: second.st"));
    Machine& machine = *app.CurrentMachine();
    for (int i = 1; i < App::kSwapFrames; ++i) {
        ASSERT_FALSE(machine.Drive(0).Inserted()) << "frame " << i;
        TurnWith({});
    }
    EXPECT_TRUE(machine.Drive(0).Inserted());
    EXPECT_EQ(app.DriveAPath(), (dir_ / "second.st").string());
    EXPECT_EQ(app.Config().RecentImages.front(), (dir_ / "second.st").string());

    host_.DropFile((dir_ / "first.st").string(), true);
    for (int i = 0; i < App::kSwapFrames + 1; ++i) TurnWith({});
    EXPECT_TRUE(machine.Drive(1).Inserted());
    EXPECT_EQ(app.DriveAPath(), (dir_ / "second.st").string());

    std::ofstream(dir_ / "notes.txt") << "not a disk";
    host_.DropFile((dir_ / "notes.txt").string(), false);
    TurnWith({});
    EXPECT_TRUE(machine.Drive(0).Inserted());
    EXPECT_EQ(app.DriveAPath(), (dir_ / "second.st").string());
}

TEST_F(AppHostKeys, ADroppedStateIsLoadedAndADamagedOneRefused) {
    App& app = Start();
    RunMachine();
    for (int i = 0; i < 20; ++i) TurnWith({});
    std::string error;
    const std::string state = (dir_ / "saved.vxs").string();
    ASSERT_TRUE(app.CurrentMachine()->SaveStateFile(state, error)) << error;
    const std::vector<uint8_t> saved = app.CurrentMachine()->SaveState();
    for (int i = 0; i < 20; ++i) TurnWith({});
    std::ofstream((dir_ / "damaged.vxs"), std::ios::binary) << "VEXIL not a state";
    host_.DropFile((dir_ / "damaged.vxs").string(), false);
    TurnWith({});
    EXPECT_EQ(app.FramesRun(), 41);  // the machine went on
    host_.DropFile(state, false);
    host_.SetKey(kRightControl, true);  // the pause is taken before the frame: the state stays as loaded
    host_.SetKey(0x19, true);
    TurnWith({});
    EXPECT_TRUE(app.Paused());
    EXPECT_EQ(app.CurrentMachine()->SaveState(), saved);
}

TEST_F(AppHostKeys, TheRecentImagesKeepTheLastTenNewestFirstAcrossRuns) {
    App& app = Start();
    for (int i = 0; i < 12; ++i) {
        MakeDisk("d" + std::to_string(i) + ".st");
        ASSERT_TRUE(app.InsertDiskA((dir_ / ("d" + std::to_string(i) + ".st")).string()));
    }
    ASSERT_TRUE(app.InsertDiskA((dir_ / "d5.st").string()));
    const std::vector<std::string> recent = app.Config().RecentImages;
    ASSERT_EQ(recent.size(), kRecentImages);
    EXPECT_EQ(recent[0], (dir_ / "d5.st").string());
    EXPECT_EQ(recent[1], (dir_ / "d11.st").string());
    EXPECT_EQ(recent[9], (dir_ / "d2.st").string());
    app.ShutDown(true);
    app_.reset();
    EXPECT_EQ(Start().Config().RecentImages, recent);
}

TEST_F(AppHostKeys, AStateFromTheCommandLineRunsAtOnceAndABadOneLeavesTheMenu) {
    {
        App& app = Start();
        RunMachine();
        std::string error;
        ASSERT_TRUE(app.CurrentMachine()->SaveStateFile((dir_ / "start.vxs").string(), error)) << error;
        app.ShutDown(true);
        app_.reset();
    }
    options_.state = (dir_ / "start.vxs").string();
    EXPECT_EQ(Start().State(), kStateRunning);
    app_.reset();
    std::ofstream(dir_ / "start.vxs") << "damaged";
    EXPECT_EQ(Start().State(), kStateMenu);
    EXPECT_FALSE(app_->Bar().notice.empty());
}

// The fullscreen question comes in the window; its answer switches the window over.
TEST_F(AppHostKeys, TheFullscreenQuestionIsAskedInTheWindow) {
    Write("[Graphics]\nbAskFullscreen = 1\n");
    host_.answer = true;
    App& app = Start();
    EXPECT_TRUE(host_.fullscreen);
    EXPECT_EQ(app.Config().bFullscreen, 1);
}

// Right Ctrl+R goes back five of the snapshots taken each second: the machine is as it was
// then, byte for byte.
TEST_F(AppHostKeys, RewindReturnsToTheStateFiveSecondsBeforeTheNewestSnapshot) {
    App& app = Start();
    RunMachine();
    std::vector<uint8_t> at150;
    while (app.FramesRun() < 420) {
        TurnWith({});
        if (app.FramesRun() == 150) at150 = app.CurrentMachine()->SaveState();
    }
    EXPECT_EQ(app.History().Count(), 8u);
    HostKey(0x13);
    EXPECT_TRUE(Said("Rewound"));
    // The press's two turns ran two frames from there; a fresh start from frame 150 does the same.
    std::string error;
    Machine& machine = *app.CurrentMachine();
    const std::vector<uint8_t> after = machine.SaveState();
    ASSERT_TRUE(machine.LoadState(at150, error)) << error;
    TurnWith({});
    TurnWith({});
    EXPECT_EQ(machine.SaveState(), after);
}

}  // namespace
}  // namespace vexil

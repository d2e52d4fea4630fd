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

const std::string kEmuTos = std::string(VEXIL_SOURCE_DIR) + "/roms/etos256us.img";

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vexil-app-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        options_.configPath = (dir_ / "vexil.ini").string();
        options_.dataDirectory = (dir_ / "data").string();
        options_.bundledRoms = {kEmuTos};
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
    EXPECT_EQ(ChooseTosRom(options_, roms), kEmuTos);
    const std::string copy = (dir_ / "tos.img").string();
    fs::copy_file(kEmuTos, copy);
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

}  // namespace
}  // namespace vexil

// Save states in the window: a slot saved with a disk in the drive and loaded later (the drive
// emptied meanwhile) gives the frames, RAM and sound of the run that saved it, EmuTOS booting
// the disk in both; a slot whose disk changed after saving is refused and nothing changes; the
// slot's file carries the screen as it was, small.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/App.h"
#include "core/SaveState.h"
#include "host/HeadlessHost.h"
#include "support/Asm.h"
#include "support/TestDisk.h"
#include "ui/StatePage.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class AppState : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = test::LoadAsm("boot-sector");
        dir_ = fs::temp_directory_path() / ("vexil-appstate-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        disk_ = (dir_ / "boot.st").string();
        const auto image = test::MakeRawDisk(80, 2, 9, false, program_.bytes);
        std::ofstream(disk_, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), image.size());
        options_.configPath = (dir_ / "vexil.ini").string();
        options_.dataDirectory = (dir_ / "data").string();
        options_.bundledRoms = {VEXIL_EMUTOS};
        options_.disk = disk_;
        std::ofstream(options_.configPath) << "[Graphics]\nbAskFullscreen = 0\n";
    }
    void TearDown() override {
        app_.reset();
        fs::remove_all(dir_);
    }
    App& Start() {
        app_ = std::make_unique<App>(options_, host_.AllDevices(), nullptr);
        EXPECT_EQ(app_->StartUp(), -1);
        EXPECT_EQ(app_->State(), kStateRunning);  // the command line's disk runs at once
        return *app_;
    }
    void Turns(int count) {
        for (int i = 0; i < count; ++i) app_->Turn();
    }
    bool BootProgramRan() {
        return app_->CurrentMachine()->PeekLong(program_.Symbol("marker")) == program_.Symbol("marker_value");
    }

    test::AsmProgram program_;
    fs::path dir_;
    std::string disk_;
    AppOptions options_;
    host::HeadlessHost host_;
    std::unique_ptr<App> app_;
};

// Saved in slot 3 before EmuTOS reads the disk; the run goes on until the boot program has
// run. The machine's drive emptied and the slot loaded, the same 600 frames give the same machine.
TEST_F(AppState, ASlotWithItsDiskReplaysTheRunThatSavedIt) {
    App& app = Start();
    Turns(300);
    ASSERT_FALSE(BootProgramRan());
    EXPECT_EQ(app.SaveToSlot(3), "Saved to slot 3");
    EXPECT_EQ(app.Slot(), 3);
    EXPECT_EQ(fs::path(app.SlotPath(3)).filename(), "boot-3.vxs");
    const int64_t savedAt = app.FramesRun();
    Turns(600);
    ASSERT_TRUE(BootProgramRan()) << "the boot program never ran";
    const std::vector<uint8_t> first = app.CurrentMachine()->SaveState();

    app.CurrentMachine()->Drive(0).EjectImage();
    Turns(30);
    EXPECT_EQ(app.LoadFromSlot(3), "Loaded slot 3");
    EXPECT_EQ(app.DriveAPath(), disk_);
    EXPECT_TRUE(app.CurrentMachine()->Drive(0).Inserted());
    EXPECT_FALSE(BootProgramRan());
    Turns(600);
    EXPECT_TRUE(BootProgramRan());
    EXPECT_TRUE(app.CurrentMachine()->SaveState() == first);
    EXPECT_EQ(app.FramesRun(), savedAt + 600 + 30 + 600);

    // The file's picture is the screen of frame 300, an eighth each way.
    StatePicture picture;
    std::string error;
    ASSERT_TRUE(ReadStatePicture(ReadAll(app.SlotPath(3)), picture, error)) << error;
    EXPECT_EQ(picture.width, host::kFrameWidth / App::kSlotPictureShrink);
    EXPECT_EQ(picture.height, host::kFrameHeight / App::kSlotPictureShrink);
    EXPECT_NE(std::count(picture.pixels.begin(), picture.pixels.end(), picture.pixels[0]),
              static_cast<long>(picture.pixels.size()))
        << "a blank picture";
}

struct DiskChange {
    const char* name;
    void (*apply)(const std::string& disk);
    const char* reason;
};

const DiskChange kDiskChanges[] = {
    {"BytesChanged",
     [](const std::string& disk) {
         std::fstream file(disk, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(20000);
         file.put('\x5A');
     },
     "Drive A: boot.st has changed"},
    {"Missing", [](const std::string& disk) { fs::remove(disk); }, "Drive A: boot.st is missing"},
};

class AppStateDiskChanged : public AppState, public ::testing::WithParamInterface<DiskChange> {};

TEST_P(AppStateDiskChanged, TheSlotIsRefusedAndNothingChanges) {
    App& app = Start();
    Turns(50);
    ASSERT_EQ(app.SaveToSlot(3), "Saved to slot 3");
    Turns(20);
    GetParam().apply(disk_);
    const std::vector<uint8_t> before = app.CurrentMachine()->SaveState();
    const int64_t frames = app.FramesRun();
    const std::string said = app.LoadFromSlot(3);
    EXPECT_NE(said.find(GetParam().reason), std::string::npos) << said;
    EXPECT_TRUE(app.CurrentMachine()->SaveState() == before);
    EXPECT_EQ(app.FramesRun(), frames);
    EXPECT_EQ(app.DriveAPath(), disk_);
    EXPECT_TRUE(app.CurrentMachine()->Drive(0).Inserted());
    Turns(5);
    EXPECT_EQ(app.FramesRun(), frames + 5);
}

INSTANTIATE_TEST_SUITE_P(Disks, AppStateDiskChanged, ::testing::ValuesIn(kDiskChanges),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

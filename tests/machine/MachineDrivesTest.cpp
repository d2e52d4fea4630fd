// The drives in a save state: a state brings back the images that were in the drives (plain
// files and zip archives, by their absolute paths), and a state whose image is gone or has
// other bytes now is refused with the reason, the running machine left exactly as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../floppy/FloppyTestSupport.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
#include "support/TestDisk.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

class DrivesInAState : public ::testing::Test {
protected:
    void SetUp() override {
        raw_ = test::ScratchPath("drives-a.st");
        other_ = test::ScratchPath("drives-other.st");
        test::WriteFile(raw_, test::MakeRawDisk(80, 2, 9, true));
        test::WriteFile(other_, test::MakeRawDisk(80, 2, 10, true));
        zip_ = test::MakeZip("drives-b.zip", {{"GAME.ST", test::MakeRawDisk(80, 1, 9, false), false}});
    }
    // A machine with the images in its drives, 30 frames into EmuTOS.
    std::unique_ptr<Machine> Build(const std::string& a, const std::string& b) {
        MachineSettings settings;
        settings.DriveA = a;
        settings.DriveB = b;
        auto machine = std::make_unique<Machine>(settings);
        EXPECT_TRUE(LoadTosRom(*machine, VEXIL_EMUTOS).ok);
        EXPECT_EQ(machine->Reset(true), 0);
        EXPECT_EQ(machine->RunFrames(30), kRunBudgetSpent);
        return machine;
    }
    std::string raw_, other_, zip_;
};

struct DriveCase {
    const char* name;
    bool a, b;  // raw image in A, zip in B
};

class DrivesRoundTrip : public DrivesInAState, public ::testing::WithParamInterface<DriveCase> {};

// Saved, the drives changed (emptied, other images in), loaded: the drives hold the state's
// images again and the machine saves back to the same bytes.
TEST_P(DrivesRoundTrip, TheStatesImagesGoBackIntoTheDrives) {
    const std::string a = GetParam().a ? raw_ : "", b = GetParam().b ? zip_ : "";
    auto machine = Build(a, b);
    EXPECT_EQ(machine->DrivePath(0), a);
    EXPECT_EQ(machine->DrivePath(1), b);
    const std::vector<uint8_t> saved = machine->SaveState();
    ASSERT_EQ(machine->RunFrames(10), kRunBudgetSpent);
    machine->Drive(0).EjectImage();
    ASSERT_TRUE(machine->InsertDisk(1, other_));
    std::string error;
    ASSERT_TRUE(machine->LoadState(saved, error)) << error;
    EXPECT_EQ(machine->Drive(0).Inserted(), GetParam().a);
    EXPECT_EQ(machine->Drive(1).Inserted(), GetParam().b);
    EXPECT_EQ(machine->DrivePath(0), a);
    EXPECT_EQ(machine->DrivePath(1), b);
    EXPECT_TRUE(machine->SaveState() == saved);
    if (GetParam().b) {
        EXPECT_EQ(machine->Drive(1).Sides(), 1);  // the zip's disk, not the other one
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, DrivesRoundTrip,
                         ::testing::Values(DriveCase{"Empty", false, false}, DriveCase{"RawInA", true, false},
                                           DriveCase{"ZipInB", false, true}, DriveCase{"Both", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DrivesInAState, ARelativePathIsKeptAbsolute) {
    const fs::path before = fs::current_path();
    fs::current_path(fs::path(raw_).parent_path());
    auto machine = Build("drives-a.st", "");
    fs::current_path(before);
    EXPECT_EQ(machine->DrivePath(0), raw_);
}

struct Change {
    const char* name;
    bool zip;  // the change is done to drive B's zip, else A's image
    void (*apply)(const std::string& path);
    const char* message;
};

const Change kChanges[] = {
    {"OneByteChanged", false,
     [](const std::string& p) {
         test::Bytes bytes = test::ReadFile(p);
         bytes[5000] ^= 1;
         test::WriteFile(p, bytes);
     },
     "Drive A: drives-a.st has changed"},
    {"CutShort", false,
     [](const std::string& p) {
         test::Bytes bytes = test::ReadFile(p);
         bytes.resize(bytes.size() / 2);
         test::WriteFile(p, bytes);
     },
     "Drive A: drives-a.st has changed"},
    {"Missing", false, [](const std::string& p) { fs::remove(p); }, "Drive A: drives-a.st is missing"},
    {"AFolderNow", false,
     [](const std::string& p) {
         fs::remove(p);
         fs::create_directory(p);
     },
     "Drive A: drives-a.st cannot be read"},
    {"ZipRewritten", true,
     [](const std::string&) {
         test::MakeZip("drives-b.zip", {{"GAME.ST", test::MakeRawDisk(80, 2, 9, false), false}});
     },
     "Drive B: drives-b.zip has changed"},
};

class DrivesChanged : public DrivesInAState, public ::testing::WithParamInterface<Change> {
protected:
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(raw_, ignored);
    }
};

TEST_P(DrivesChanged, TheLoadIsRefusedAndNothingChanges) {
    auto machine = Build(raw_, zip_);
    const std::vector<uint8_t> saved = machine->SaveState();
    ASSERT_EQ(machine->RunFrames(10), kRunBudgetSpent);
    GetParam().apply(GetParam().zip ? zip_ : raw_);
    const std::vector<uint8_t> before = machine->SaveState();
    const int64_t cycles = machine->Scheduler().CyclesRun();
    std::string error;
    EXPECT_FALSE(machine->LoadState(saved, error));
    EXPECT_EQ(error, GetParam().message);
    EXPECT_TRUE(machine->SaveState() == before);
    EXPECT_EQ(machine->Scheduler().CyclesRun(), cycles);
    EXPECT_TRUE(machine->Drive(0).Inserted());
    EXPECT_TRUE(machine->Drive(1).Inserted());
    EXPECT_EQ(machine->DrivePath(0), raw_);
    EXPECT_EQ(machine->RunFrames(5), kRunBudgetSpent);
}

INSTANTIATE_TEST_SUITE_P(Images, DrivesChanged, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

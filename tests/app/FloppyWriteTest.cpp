// Whole-machine runs of floppy writes: EmuTOS keeps a file on a floppy through GEMDOS, finds it
// after the disk is swapped out and back, a new image saved from the disk boots with the file
// on it, and a swap to another disk while EmuTOS runs makes it read the new disk's directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "machine/Machine.h"
#include "machine/Rom.h"
#include "support/Asm.h"
#include "support/TestDisk.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

constexpr int kBootFrames = 1500;
// TOS notices a swap through the write-protect line, sampled every 8-16 VBLs.
constexpr int kSwapFrames = 20;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class FloppyWrite : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = test::LoadAsm("save-file");
        folder_ = fs::temp_directory_path() / ("vexil-writes-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        disk_ = (folder_ / "game.st").string();
        image_ = test::MakeRawDisk(80, 2, 9, false, program_.bytes);
        std::ofstream(disk_, std::ios::binary)
            .write(reinterpret_cast<const char*>(image_.data()), image_.size());
    }
    void TearDown() override {
        machine_.reset();
        fs::remove_all(folder_);
    }

    Machine& Boot(const std::string& disk, bool protect = false) {
        machine_.reset();
        MachineSettings settings;
        settings.DriveA = disk;
        settings.OverlayFolder = (folder_ / "overlays").string();
        settings.WriteProtectDisks = protect;
        settings.DiskSound = false;
        machine_ = std::make_unique<Machine>(settings);
        EXPECT_TRUE(machine_->SettingsInsertResult(0)) << machine_->SettingsInsertResult(0).message;
        EXPECT_TRUE(LoadTosRom(*machine_, VEXIL_EMUTOS).ok);
        EXPECT_EQ(machine_->Reset(true), 0);
        return *machine_;
    }
    // Runs until the program's marker says `value`.
    bool RunUntil(uint32_t value, int frames) {
        for (int i = 0; i < frames; ++i) {
            if (machine_->PeekLong(program_.Symbol("marker")) == value) return true;
            if (machine_->RunFrame() != kRunBudgetSpent) return false;
        }
        return machine_->PeekLong(program_.Symbol("marker")) == value;
    }
    // As a person swaps disks: the drive stays empty long enough for TOS to notice.
    void Swap(const std::string& disk) {
        machine_->Drive(0).EjectImage();
        ASSERT_EQ(machine_->RunFrames(kSwapFrames + 5), kRunBudgetSpent);
        ASSERT_TRUE(machine_->InsertDisk(0, disk));
        ASSERT_EQ(machine_->RunFrames(kSwapFrames + 5), kRunBudgetSpent);
    }
    int32_t Result(const char* name) {
        return static_cast<int32_t>(machine_->PeekLong(program_.Symbol(name)));
    }
    std::string ReadBack() {
        std::string text;
        for (uint32_t i = 0; i < 16; ++i)
            text += static_cast<char>(machine_->PeekByte(program_.Symbol("buffer") + i));
        return text;
    }
    void Go() { machine_->PokeLong(program_.Symbol("go"), program_.Symbol("go_value")); }

    test::AsmProgram program_;
    fs::path folder_;
    std::string disk_;
    std::vector<uint8_t> image_;
    std::unique_ptr<Machine> machine_;
};

TEST_F(FloppyWrite, AFileWrittenThroughGemdosIsFoundAfterAnEjectAndReinsert) {
    Boot(disk_);
    ASSERT_TRUE(RunUntil(program_.Symbol("written_value"), kBootFrames)) << "the program never wrote";
    EXPECT_LT(Result("first_open"), 0);  // not there at first
    EXPECT_GE(Result("create_result"), 0);
    EXPECT_EQ(Result("write_result"), 16);
    ASSERT_EQ(machine_->RunFrames(2), kRunBudgetSpent);
    EXPECT_GT(machine_->Drive(0).ChangedSectors(), 0u);
    EXPECT_EQ(ReadAll(disk_), image_);  // the image itself is never written
    Swap(disk_);
    EXPECT_GT(machine_->Drive(0).ChangedSectors(), 0u);  // the overlay came back from its file
    Go();
    ASSERT_TRUE(RunUntil(program_.Symbol("read_value"), 500));
    EXPECT_GE(Result("second_open"), 0);
    EXPECT_EQ(Result("read_result"), 16);
    EXPECT_EQ(ReadBack(), "kept on floppy!\n");
}

// The new image boots with the file on it; and a disk swapped in while EmuTOS runs is read
// afresh: its directory has the file that the first disk lacks.
TEST_F(FloppyWrite, ASavedImageBootsWithTheFileAndASwappedInDiskIsReadAfresh) {
    Boot(disk_);
    ASSERT_TRUE(RunUntil(program_.Symbol("written_value"), kBootFrames));
    ASSERT_EQ(machine_->RunFrames(2), kRunBudgetSpent);
    const std::string saved = (folder_ / "saved.st").string();
    std::string error;
    ASSERT_TRUE(machine_->Drive(0).SaveAsImage(saved, error)) << error;

    Boot(saved);
    ASSERT_TRUE(RunUntil(program_.Symbol("read_value"), kBootFrames)) << "the file is not on the new image";
    EXPECT_GE(Result("first_open"), 0);
    EXPECT_EQ(ReadBack(), "kept on floppy!\n");

    // A protected copy of the first image, without the file: the program cannot write it.
    const std::string blank = (folder_ / "blank.st").string();
    std::ofstream(blank, std::ios::binary).write(reinterpret_cast<const char*>(image_.data()), image_.size());
    Boot(blank, true);
    ASSERT_TRUE(RunUntil(program_.Symbol("written_value"), kBootFrames));
    EXPECT_LT(Result("first_open"), 0);
    EXPECT_LT(Result("create_result"), 0);
    EXPECT_EQ(machine_->Drive(0).ChangedSectors(), 0u);
    Swap(saved);
    Go();
    ASSERT_TRUE(RunUntil(program_.Symbol("read_value"), 500));
    EXPECT_GE(Result("second_open"), 0) << "EmuTOS kept the old disk's directory";
    EXPECT_EQ(ReadBack(), "kept on floppy!\n");
}

// EmuTOS's Flopfmt lays out 9 and 10 sectors a track; the tracks read back through Floprd and
// through the image's overlay after a fresh insertion.
TEST_F(FloppyWrite, EmuTosFormatsTracksOfNineAndTenSectorsAndReadsThemBack) {
    const test::AsmProgram format = test::LoadAsm("format-tracks");
    const std::vector<uint8_t> image = test::MakeRawDisk(80, 2, 9, false, format.bytes);
    const std::string disk = (folder_ / "format.st").string();
    std::ofstream(disk, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    Machine& machine = Boot(disk);
    int frames = 0;
    while (frames++ < kBootFrames && machine.PeekLong(format.Symbol("marker")) != format.Symbol("done_value"))
        ASSERT_EQ(machine.RunFrame(), kRunBudgetSpent);
    ASSERT_EQ(machine.PeekLong(format.Symbol("marker")), format.Symbol("done_value"))
        << "the program never ended";
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(machine.PeekLong(format.Symbol("results") + 4 * i), 0u) << "call " << i;
    // 9 + 10 sectors of E5E5 read back.
    for (uint32_t i = 0; i < 19 * 512; ++i)
        ASSERT_EQ(machine.PeekByte(format.Symbol("read_buffer") + i), 0xE5) << "byte " << i;
    ASSERT_EQ(machine.RunFrames(2), kRunBudgetSpent);
    EXPECT_EQ(ReadAll(disk), image);
    machine.Drive(0).EjectImage();
    ASSERT_TRUE(machine.InsertDisk(0, disk));
    for (const auto& [track, sectors] : {std::pair{5, 9}, std::pair{6, 10}}) {
        const TrackView view = machine.Drive(0).Track(track, 0);
        EXPECT_EQ(view.count, uint32_t(sectors)) << "track " << track;
        ASSERT_TRUE(machine.Drive(0).ReadSector(track, 0, sectors));
        EXPECT_EQ(machine.Drive(0).SectorBuffer()[0], 0xE5E5);
    }
    EXPECT_FALSE(machine.Drive(0).ReadSector(5, 0, 10));  // track 5 has 9 sectors now
}

}  // namespace
}  // namespace vexil

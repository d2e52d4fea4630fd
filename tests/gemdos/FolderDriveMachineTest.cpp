// Whole-machine runs with drive C: from a folder: EmuTOS boots from it and runs an AUTO
// program made here (a program file with a relocation table), and --run starts one once the
// desktop is up. The program's files are then checked on the host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/Headless.h"
#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
#include "support/Asm.h"
#include "support/TestDisk.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

const std::string kEmuTos = std::string(VEXIL_SOURCE_DIR) + "/roms/etos256us.img";

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (24 - 8 * i));
}

// The assembled program as a GEMDOS program file: header, text, and the relocation table of
// its two absolute longs.
std::vector<uint8_t> ProgramFile(const test::AsmProgram& program) {
    const uint32_t text = (program.Symbol("program_end") + 1) & ~1u;
    std::vector<uint8_t> file(0x1C + std::max<size_t>(text, program.bytes.size()), 0);
    file[0] = 0x60, file[1] = 0x1A;
    Put32(file, 2, text);
    std::copy(program.bytes.begin(), program.bytes.end(), file.begin() + 0x1C);
    file.resize(0x1C + text);
    const uint32_t first = program.Symbol("reloc_work"), second = program.Symbol("reloc_buffer");
    file.resize(file.size() + 4);
    Put32(file, file.size() - 4, first);
    for (uint32_t step = second - first; step > 0;) {
        const uint32_t piece = step > 254 ? 254 : step;
        file.push_back(step > 254 ? 1 : static_cast<uint8_t>(step));
        step -= piece;
    }
    file.push_back(0);
    return file;
}

std::string ReadText(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

class FolderDriveMachine : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = test::LoadAsm("folder-program");
        folder_ = fs::temp_directory_path() / ("vexil-folder-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    void PutProgram(const fs::path& where) {
        fs::create_directories(where.parent_path());
        const auto file = ProgramFile(program_);
        std::ofstream(where, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    void ExpectProgramRan() {
        const std::string payload = "0123456789ABCDEFGHIJ";
        EXPECT_EQ(ReadText(folder_ / "DONE.DAT"), payload);
        EXPECT_EQ(ReadText(folder_ / "READBACK.TXT"), payload.substr(4, 8));
        EXPECT_FALSE(fs::exists(folder_ / "WORK.TMP"));
    }

    test::AsmProgram program_;
    fs::path folder_;
};

// EmuTOS reaches its AUTO folder some 15 s after a cold reset.
constexpr int kBootFrames = 1500;

TEST_F(FolderDriveMachine, EmuTosRunsTheAutoProgramFromDriveC) {
    PutProgram(folder_ / "AUTO" / "TEST.PRG");
    MachineSettings settings;
    settings.FolderDrive = folder_.string();
    Machine machine(settings);
    ASSERT_TRUE(machine.SettingsFolderError().empty()) << machine.SettingsFolderError();
    ASSERT_TRUE(LoadTosRom(machine, kEmuTos).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    int frames = 0;
    while (frames < kBootFrames && !fs::exists(folder_ / "DONE.DAT")) {
        ASSERT_EQ(machine.RunFrames(10), kRunBudgetSpent);
        frames += 10;
    }
    ASSERT_TRUE(fs::exists(folder_ / "DONE.DAT")) << "the AUTO program never finished";
    ExpectProgramRan();
    EXPECT_NE(machine.PeekLong(0x4C2) & 4, 0u) << "_drvbits lacks drive C:";
    EXPECT_EQ(machine.FolderDrive().OpenFiles(), 0);
    // The boot goes on to the desktop with the drive in place.
    ASSERT_EQ(machine.RunFrames(300), kRunBudgetSpent);
    EXPECT_NE(machine.PeekLong(0x380), 0x12345678u) << "EmuTOS entered its crash handler";
}

// With a bootable floppy in A and an AUTO program on C:, the boot drive decides which runs:
// C: skips the floppy's boot sector; A (Alternate held while EmuTOS chooses) runs it instead.
class BootDriveChoice : public FolderDriveMachine, public ::testing::WithParamInterface<char> {};

TEST_P(BootDriveChoice, PicksWhatRuns) {
    const char boot = GetParam();
    PutProgram(folder_ / "AUTO" / "TEST.PRG");
    const test::AsmProgram sector = test::LoadAsm("boot-sector");
    const auto image = test::MakeRawDisk(80, 2, 9, false, sector.bytes);
    const fs::path disk = folder_.parent_path() / ("vexil-folder-boot-" + std::to_string(::getpid()) + ".st");
    std::ofstream(disk, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    MachineSettings settings;
    settings.FolderDrive = folder_.string();
    settings.DriveA = disk.string();
    settings.BootDrive = boot;
    Machine machine(settings);
    ASSERT_TRUE(LoadTosRom(machine, kEmuTos).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    const uint32_t marker = sector.Symbol("marker"), value = sector.Symbol("marker_value");
    int frames = 0;
    while (frames < kBootFrames && !fs::exists(folder_ / "DONE.DAT") && machine.PeekLong(marker) != value) {
        ASSERT_EQ(machine.RunFrames(10), kRunBudgetSpent);
        frames += 10;
    }
    ASSERT_EQ(machine.RunFrames(50), kRunBudgetSpent);
    fs::remove(disk);
    EXPECT_EQ(machine.PeekLong(marker) == value, boot == 'a') << "the floppy's boot sector";
    EXPECT_EQ(fs::exists(folder_ / "DONE.DAT"), boot == 'c') << "the AUTO program on C:";
}

INSTANTIATE_TEST_SUITE_P(Drives, BootDriveChoice, ::testing::Values('a', 'c'));

TEST_F(FolderDriveMachine, RunStartsTheProgramOnceTheDesktopIsUp) {
    PutProgram(folder_ / "BIN" / "RUNME.PRG");
    HeadlessOptions options;
    options.romPath = kEmuTos;
    options.FolderDrive = folder_.string();
    options.run = "C:\\BIN\\RUNME.PRG";
    options.frames = 2500;
    std::FILE* sink = std::tmpfile();
    ASSERT_EQ(RunHeadless(options, sink, sink), 0);
    std::fclose(sink);
    ExpectProgramRan();
}

TEST_F(FolderDriveMachine, HeadlessRefusesAFolderThatIsNone) {
    HeadlessOptions options;
    options.romPath = kEmuTos;
    options.FolderDrive = (folder_ / "missing").string();
    options.frames = 1;
    std::FILE* sink = std::tmpfile();
    EXPECT_EQ(RunHeadless(options, sink, sink), 1);
    std::rewind(sink);
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, sink), nullptr);
    EXPECT_NE(std::string(line).find("drive C:"), std::string::npos) << line;
    std::fclose(sink);
}

}  // namespace
}  // namespace vexil

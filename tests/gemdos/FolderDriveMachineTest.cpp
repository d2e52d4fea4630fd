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
        const auto file = test::ProgramFile(program_, {"reloc_work", "reloc_buffer"});
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
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
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
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
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

// The AES finds C:\X.ACC when it starts, loads it with Pexec 3 and Mshrink, and starts it as a
// process: the accessory's appl_init and menu_register succeed, it writes their results from
// its own GEMDOS calls, and then waits in evnt_mesag while the desktop runs.
TEST_F(FolderDriveMachine, EmuTosStartsAnAccessoryFromDriveC) {
    const test::AsmProgram accessory = test::LoadAsm("accessory");
    const auto file = test::ProgramFile(
        accessory, {"pb_control", "pb_global", "pb_intin", "pb_intout", "pb_addrin", "pb_addrout"});
    std::ofstream(folder_ / "X.ACC", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    MachineSettings settings;
    settings.FolderDrive = folder_.string();
    Machine machine(settings);
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    const fs::path out = folder_ / "ACC.OUT";
    for (int frames = 0; frames < 2500 && !(fs::exists(out) && fs::file_size(out) == 8); frames += 10)
        ASSERT_EQ(machine.RunFrames(10), kRunBudgetSpent);
    const std::string results = ReadText(out);
    ASSERT_EQ(results.size(), 8u) << "the accessory never wrote its results";
    auto word = [&](size_t at) {
        return static_cast<int16_t>(static_cast<uint8_t>(results[at]) << 8 |
                                    static_cast<uint8_t>(results[at + 1]));
    };
    EXPECT_GT(word(0), 0) << "appl_init: the accessory's application id";
    EXPECT_GE(word(2), 0) << "menu_register: its entry in the desk menu";
    uint32_t text = 0;
    for (size_t i = 4; i < 8; ++i) text = text << 8 | static_cast<uint8_t>(results[i]);
    // Where the AES started it: its code, as the file holds it, and its relocated block.
    for (uint32_t i = 0; i < 64; i += 2)
        ASSERT_EQ(machine.PeekByte(text + i), file[0x1C + i]) << "the accessory's code at " << i;
    EXPECT_EQ(machine.PeekLong(text + accessory.Symbol("pb_control")),
              text + accessory.Symbol("aes_control"));
    EXPECT_EQ(machine.FolderDrive().OpenFiles(), 0);
    ASSERT_EQ(machine.RunFrames(300), kRunBudgetSpent);
    EXPECT_NE(machine.PeekLong(0x380), 0x12345678u) << "EmuTOS entered its crash handler";
}

// A state saved while an AUTO program on C: holds a file open, half read: a new machine loaded
// from it reads on from where the program stopped. With the host file gone, the load is
// refused with the reason and the machine goes on as it was.
TEST_F(FolderDriveMachine, AStateWithAFileOpenOnDriveCReadsOnAfterLoading) {
    const test::AsmProgram pause = test::LoadAsm("folder-pause");
    const auto program = test::ProgramFile(pause);
    fs::create_directories(folder_ / "AUTO");
    std::ofstream(folder_ / "AUTO" / "PAUSE.PRG", std::ios::binary)
        .write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
    std::string data(1000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 11 + (i >> 8));
    std::ofstream(folder_ / "DATA.BIN", std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
    MachineSettings settings;
    settings.FolderDrive = folder_.string();
    const uint32_t stage = pause.Symbol("stage"), copy = pause.Symbol("copy");
    const uint32_t first = pause.Symbol("first_part"), second = pause.Symbol("second_part");
    auto runToStage = [&](Machine& machine, uint32_t wanted) {
        for (int frames = 0; frames < kBootFrames && machine.PeekLong(stage) != wanted; frames += 10)
            ASSERT_EQ(machine.RunFrames(10), kRunBudgetSpent);
        ASSERT_EQ(machine.PeekLong(stage), wanted);
    };
    std::vector<uint8_t> state;
    {
        Machine machine(settings);
        ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
        ASSERT_EQ(machine.Reset(true), 0);
        runToStage(machine, 1);
        ASSERT_EQ(machine.PeekLong(pause.Symbol("read1")), first);
        ASSERT_EQ(machine.FolderDrive().OpenFiles(), 1);
        state = machine.SaveState();
    }
    Machine machine(settings);
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    std::string error;
    ASSERT_TRUE(machine.LoadState(state, error)) << error;
    EXPECT_EQ(machine.FolderDrive().OpenFiles(), 1);
    machine.PokeLong(pause.Symbol("go"), 1);
    runToStage(machine, 2);
    EXPECT_EQ(machine.PeekLong(pause.Symbol("read2")), second);
    for (uint32_t i = 0; i < first + second; ++i)
        ASSERT_EQ(machine.PeekByte(copy + i), static_cast<uint8_t>(data[i])) << "byte " << i;
    EXPECT_EQ(machine.FolderDrive().OpenFiles(), 0);

    fs::remove(folder_ / "DATA.BIN");
    const std::vector<uint8_t> before = machine.SaveState();
    error.clear();
    EXPECT_FALSE(machine.LoadState(state, error));
    EXPECT_NE(error.find("DATA.BIN"), std::string::npos) << error;
    EXPECT_EQ(machine.SaveState(), before) << "the refused load changed the machine";
    EXPECT_EQ(machine.PeekLong(stage), 2u);
}

TEST_F(FolderDriveMachine, RunStartsTheProgramOnceTheDesktopIsUp) {
    PutProgram(folder_ / "BIN" / "RUNME.PRG");
    HeadlessOptions options;
    options.romPath = VEXIL_EMUTOS;
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
    options.romPath = VEXIL_EMUTOS;
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

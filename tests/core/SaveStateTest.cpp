// Save states: a run stopped and taken up again is the run that never stopped; damaged,
// cut short or foreign files are refused and leave the machine as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "app/Headless.h"
#include "core/Crc32.h"
#include "core/SaveState.h"
#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
#include "support/Asm.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

const std::string kEmuTos = std::string(VEXIL_SOURCE_DIR) + "/roms/etos256us.img";

class ScratchFolder {
public:
    ScratchFolder() : path_(fs::temp_directory_path() / ("vexil-state-" + std::to_string(::getpid()))) {
        fs::create_directories(path_);
    }
    ~ScratchFolder() { fs::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int Headless(HeadlessOptions options, std::string* errors = nullptr) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = RunHeadless(options, out, err);
    if (errors) {
        std::rewind(err);
        char line[512] = {};
        while (std::fgets(line, sizeof line, err)) *errors += line;
    }
    std::fclose(out);
    std::fclose(err);
    return status;
}

TEST(SaveState, ARunTakenUpAgainIsTheRunThatNeverStopped) {
    ScratchFolder folder;
    HeadlessOptions run;
    run.romPath = kEmuTos;
    // The ST and STE on the colour monitor at 60 Hz, and the ST on the mono one at 71 Hz.
    for (const auto& [machine, monitor] : {std::pair{0u, 0u}, std::pair{1u, 0u}, std::pair{0u, 1u}}) {
        run.Machine = machine;
        run.Monitor = monitor;
        run.frames = 300;
        run.saveState = folder / "whole";
        ASSERT_EQ(Headless(run), 0);
        run.frames = 200;
        run.saveState = folder / "first";
        ASSERT_EQ(Headless(run), 0);
        run.Machine = 1 - machine;  // the state's own machine type holds
        run.frames = 100;
        run.loadState = folder / "first";
        run.saveState = folder / "second";
        ASSERT_EQ(Headless(run), 0);
        run.loadState.clear();
        const std::vector<uint8_t> whole = ReadAll(folder / "whole"), taken = ReadAll(folder / "second");
        ASSERT_GT(whole.size(), kEmulatedMemoryBytes);
        EXPECT_TRUE(whole == taken) << "machine " << machine << " monitor " << monitor;
        EXPECT_FALSE(fs::exists(folder / "whole.part"));
    }
}

// Damage done to a good state file.
struct Damage {
    const char* name;
    std::vector<uint8_t> (*apply)(std::vector<uint8_t>);
    const char* message;  // part of the reason given
};

void FixChecksum(std::vector<uint8_t>& file) {
    const uint32_t crc = Crc32(file.data(), file.size() - 4);
    std::memcpy(file.data() + file.size() - 4, &crc, 4);
}

// Offset of the CPU section's data: header, the machine section, the memory section.
constexpr size_t kCpuData = 16 + (8 + 16) + (8 + kEmulatedMemoryBytes) + 8;

const Damage kDamage[] = {
    {"empty", [](std::vector<uint8_t>) { return std::vector<uint8_t>{}; }, "not a Vexil save state"},
    {"header_only", [](std::vector<uint8_t> f) { return std::vector<uint8_t>(f.begin(), f.begin() + 16); },
     "not a Vexil save state"},
    {"cut_in_memory",
     [](std::vector<uint8_t> f) { return std::vector<uint8_t>(f.begin(), f.begin() + 100000); }, "cut short"},
    {"last_byte_missing", [](std::vector<uint8_t> f) { return std::vector<uint8_t>(f.begin(), f.end() - 1); },
     "cut short"},
    {"byte_flipped_in_memory",
     [](std::vector<uint8_t> f) {
         f[5000] ^= 0x10;
         return f;
     },
     "checksum"},
    {"byte_flipped_in_cpu",
     [](std::vector<uint8_t> f) {
         f[kCpuData] ^= 1;
         return f;
     },
     "checksum"},
    {"other_version",
     [](std::vector<uint8_t> f) {
         f[8] = kStateVersion + 1;
         return f;
     },
     "version"},
    {"foreign",
     [](std::vector<uint8_t> f) {
         std::mt19937 random(7);
         for (auto& b : f) b = static_cast<uint8_t>(random());
         return f;
     },
     "not a Vexil save state"},
    {"impossible_clock_with_good_checksum",
     [](std::vector<uint8_t> f) {
         const int32_t clock = 1 << 30;  // after d0-d7, a0-a7, usp/ssp, pc, last cycles
         std::memcpy(f.data() + kCpuData + 19 * 4, &clock, 4);
         FixChecksum(f);
         return f;
     },
     "cannot have"},
    {"section_renamed_with_good_checksum",
     [](std::vector<uint8_t> f) {
         f[kCpuData - 8] = 'X';
         FixChecksum(f);
         return f;
     },
     "cannot have"},
};

class DamagedState : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedState, IsRefusedAndTheMachineGoesOnAsItWas) {
    Machine machine;
    ASSERT_TRUE(LoadTosRom(machine, kEmuTos).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    ASSERT_EQ(machine.RunFrames(20), kRunBudgetSpent);
    const std::vector<uint8_t> good = machine.SaveState();
    ASSERT_EQ(machine.RunFrames(5), kRunBudgetSpent);
    const std::vector<uint8_t> before = machine.SaveState();
    std::string error;
    EXPECT_FALSE(machine.LoadState(GetParam().apply(good), error));
    EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
    EXPECT_TRUE(machine.SaveState() == before);
    EXPECT_EQ(machine.RunFrames(5), kRunBudgetSpent);
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedState, ::testing::ValuesIn(kDamage),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SaveState, TheCommandLineRefusesADamagedFileWithExitStatus1) {
    ScratchFolder folder;
    std::ofstream(folder / "bad", std::ios::binary) << "VEXILSTA and then nothing useful";
    HeadlessOptions run;
    run.romPath = kEmuTos;
    run.frames = 1;
    std::string errors;
    run.loadState = folder / "bad";
    EXPECT_EQ(Headless(run, &errors), 1);
    EXPECT_NE(errors.find("bad\": a save state of format version"), std::string::npos) << errors;
    errors.clear();
    run.loadState = folder / "missing";
    EXPECT_EQ(Headless(run, &errors), 1);
    EXPECT_NE(errors.find("cannot read the save state"), std::string::npos) << errors;
    errors.clear();
    run.loadState.clear();
    run.saveState = folder / "no-such-folder/state";
    EXPECT_EQ(Headless(run, &errors), 1);
    EXPECT_NE(errors.find("cannot write the save state"), std::string::npos) << errors;
}

TEST(SaveState, AHaltedRunSaysSoAndFails) {
    ScratchFolder folder;
    const test::AsmProgram program = test::LoadAsm("double-fault");
    std::ofstream(folder / "halt.img", std::ios::binary)
        .write(reinterpret_cast<const char*>(program.bytes.data()), program.bytes.size());
    HeadlessOptions run;
    run.romPath = folder / "halt.img";
    run.frames = 3;
    run.saveState = folder / "state";
    std::string errors;
    EXPECT_EQ(Headless(run, &errors), 1);
    EXPECT_NE(errors.find("halted"), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(folder / "state"));
}

TEST(Machine, ASecondMachineIsRefusedAndTheFirstGoesOn) {
    Machine first;
    ASSERT_TRUE(LoadTosRom(first, kEmuTos).ok);
    ASSERT_EQ(first.Reset(true), 0);
    EXPECT_THROW(Machine second, std::logic_error);
    EXPECT_TRUE(Machine::Exists());
    EXPECT_EQ(first.RunFrames(30), kRunBudgetSpent);
    EXPECT_EQ(first.PeekLong(0x420), 0x752019F3u);  // the memory configuration ran
}

}  // namespace
}  // namespace vexil

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
#include "floppy/Inflate.h"
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

// The file's own byte order, whatever the host's: every field little-endian at its own size.
struct Encoding {
    const char* name;
    void (*put)(StateWriter&);
    std::vector<uint8_t> bytes;
};

enum class Tiny : uint8_t { kA = 0xA5 };
struct Pair {
    int16_t low;
    uint32_t high[2];
    template <class Archive>
    void Fields(Archive& a) {
        a(low)(high);
    }
};

const Encoding kEncodings[] = {
    {"u8", [](StateWriter& w) { w(uint8_t{0x12}); }, {0x12}},
    {"u16", [](StateWriter& w) { w(uint16_t{0x1234}); }, {0x34, 0x12}},
    {"s16", [](StateWriter& w) { w(int16_t{-2}); }, {0xFE, 0xFF}},
    {"u32", [](StateWriter& w) { w(uint32_t{0x11223344}); }, {0x44, 0x33, 0x22, 0x11}},
    {"s32", [](StateWriter& w) { w(int32_t{-0x11223344}); }, {0xBC, 0xCC, 0xDD, 0xEE}},
    {"s64", [](StateWriter& w) { w(int64_t{0x0102030405060708}); }, {8, 7, 6, 5, 4, 3, 2, 1}},
    {"enum", [](StateWriter& w) { w(Tiny::kA); }, {0xA5}},
    {"array",
     [](StateWriter& w) {
         const uint16_t words[2] = {1, 0x200};
         w(words);
     },
     {1, 0, 0, 2}},
    {"struct",
     [](StateWriter& w) {
         w(Pair{-1, {1, 0x01000000}});
     },
     {0xFF, 0xFF, 1, 0, 0, 0, 0, 0, 0, 1}},
};

class LittleEndian : public ::testing::TestWithParam<Encoding> {};

// The section's data: after the file header and the section's tag and length.
std::vector<uint8_t> SectionData(const std::vector<uint8_t>& file) {
    return {file.begin() + 24, file.end() - 4};
}

TEST_P(LittleEndian, FieldsAreWrittenInTheFilesOrderAndReadBack) {
    StateWriter out;
    out.BeginSection("TEST");
    GetParam().put(out);
    const std::vector<uint8_t> file = out.Finish();
    EXPECT_EQ(SectionData(file), GetParam().bytes);
    // Read back as the same fields, and a read past the end fails and stays failed.
    StateReader in;
    std::string error;
    ASSERT_TRUE(in.Open(file, error)) << error;
    ASSERT_TRUE(in.BeginSection("TEST"));
    std::vector<uint8_t> back(GetParam().bytes.size());
    for (uint8_t& b : back) in(b);
    EXPECT_TRUE(in.EndSection());
    EXPECT_EQ(back, GetParam().bytes);
    uint8_t extra = 7;
    EXPECT_FALSE(in.Get(extra));
    EXPECT_EQ(extra, 0);
    EXPECT_FALSE(in.EndSection());
}

INSTANTIATE_TEST_SUITE_P(Fields, LittleEndian, ::testing::ValuesIn(kEncodings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SaveState, AStructReadsBackAsItWasWritten) {
    StateWriter out;
    out.BeginSection("PAIR");
    out(Pair{-300, {0xDEADBEEF, 7}});
    const std::vector<uint8_t> file = out.Finish();
    StateReader in;
    std::string error;
    ASSERT_TRUE(in.Open(file, error)) << error;
    Pair pair{};
    ASSERT_TRUE(in.BeginSection("PAIR"));
    EXPECT_TRUE(in(pair).EndSection());
    EXPECT_EQ(pair.low, -300);
    EXPECT_EQ(pair.high[0], 0xDEADBEEFu);
    EXPECT_EQ(pair.high[1], 7u);
    // A wrong tag fails the reader for good.
    StateReader wrong;
    ASSERT_TRUE(wrong.Open(file, error));
    EXPECT_FALSE(wrong.BeginSection("XXXX"));
    EXPECT_FALSE(wrong.BeginSection("PAIR"));
}

// A state written by an earlier build of this format version (EmuTOS on an STE, 300 frames
// after power-on), kept gzipped: it must load, save back to the same bytes and run on as the
// same machine does from a state of this build. A change of the format fails here: it needs a
// new version number (and this file written anew).
std::vector<uint8_t> StoredState() {
    const std::vector<uint8_t> gz =
        ReadAll(std::string(VEXIL_SOURCE_DIR) + "/tests/core/data/emutos-ste-300-frames.vst.gz");
    std::vector<uint8_t> file;
    auto inflater = Inflater::Create([&](const uint8_t* data, size_t length) {
        file.insert(file.end(), data, data + length);
        return 0;
    });
    constexpr size_t kGzipHeader = 10;  // written without a name or extra fields
    if (gz.size() <= kGzipHeader || inflater->Feed(gz.data() + kGzipHeader, gz.size() - kGzipHeader) != 0 ||
        inflater->End() != 0)
        file.clear();
    return file;
}

TEST(SaveState, AStoredStateOfThisVersionLoadsSavesBackAndRunsOn) {
    const std::vector<uint8_t> old = StoredState();
    ASSERT_GT(old.size(), kEmulatedMemoryBytes);
    ScratchFolder folder;
    {
        Machine machine;
        ASSERT_TRUE(LoadTosRom(machine, kEmuTos).ok);
        std::string error;
        ASSERT_TRUE(machine.LoadState(old, error)) << error;
        EXPECT_TRUE(machine.SaveState() == old) << "the file format changed";
        ASSERT_TRUE(machine.SaveStateFile(folder / "again", error)) << error;
    }
    std::ofstream(folder / "old", std::ios::binary)
        .write(reinterpret_cast<const char*>(old.data()), old.size());
    HeadlessOptions run;
    run.romPath = kEmuTos;
    run.frames = 100;
    run.loadState = folder / "old";
    run.saveState = folder / "from-old";
    run.screenshot = folder / "from-old.tga";
    ASSERT_EQ(Headless(run), 0);
    run.loadState = folder / "again";
    run.saveState = folder / "from-again";
    run.screenshot = folder / "from-again.tga";
    ASSERT_EQ(Headless(run), 0);
    EXPECT_TRUE(ReadAll(folder / "from-old") == ReadAll(folder / "from-again"));
    EXPECT_TRUE(ReadAll(folder / "from-old.tga") == ReadAll(folder / "from-again.tga"));
}

// The chips' sections checked on their own, as the fuzz target does: whole they pass; cut
// short, or followed by more, they do not; the machine is left as it was either way.
TEST(SaveState, TheChipSectionsAloneAreCheckedWithoutChangingTheMachine) {
    Machine machine;
    ASSERT_TRUE(LoadTosRom(machine, kEmuTos).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    ASSERT_EQ(machine.RunFrames(20), kRunBudgetSpent);
    const std::vector<uint8_t> good = machine.SaveState();
    const std::vector<uint8_t> sections(good.begin() + kCpuData - 8, good.end() - 4);
    const struct {
        size_t length;
        bool accepted;
    } kRows[] = {{sections.size(), true},
                 {sections.size() - 1, false},
                 {sections.size() / 2, false},
                 {7, false},
                 {0, false}};
    for (const auto& row : kRows) {
        StateReader in;
        in.OpenSections(sections.data(), row.length);
        EXPECT_EQ(machine.CheckChipSections(in), row.accepted) << row.length;
    }
    std::vector<uint8_t> longer = sections;
    longer.push_back(0);
    StateReader in;
    in.OpenSections(longer.data(), longer.size());
    EXPECT_FALSE(machine.CheckChipSections(in));
    EXPECT_TRUE(machine.SaveState() == good);
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

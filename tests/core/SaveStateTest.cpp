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
    run.romPath = VEXIL_EMUTOS;
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
        ASSERT_GT(whole.size(), 1000u);
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

std::vector<uint8_t> Sections(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> sections;
    std::string error;
    EXPECT_TRUE(UnpackState(file, kLargestState, sections, error)) << error;
    return sections;
}

// A file around `sections` as the writer makes one.
std::vector<uint8_t> Pack(const std::vector<uint8_t>& sections, StatePacking packing = StatePacking::kZlib) {
    StateWriter out;
    out.PutBytes(sections.data(), sections.size());
    return out.Finish(packing);
}

void PutU32(std::vector<uint8_t>& file, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Offset of the CPU section's data in the sections, a 2 MB machine's: the machine section,
// the memory section (the fitted RAM, the ROM and cartridge areas), the CPU's tag and length.
constexpr size_t kCpuData = (8 + 16) + (8 + 0x200000 + kEmulatedMemoryBytes - kRomOffset) + 8;
constexpr size_t kPacked = kStateHeaderBytes;  // packed sections of a file without a picture

const Damage kDamage[] = {
    {"empty", [](std::vector<uint8_t>) { return std::vector<uint8_t>{}; }, "not a Vexil save state"},
    {"magic_only", [](std::vector<uint8_t> f) { return std::vector<uint8_t>(f.begin(), f.begin() + 8); },
     "not a Vexil save state"},
    {"header_only", [](std::vector<uint8_t> f) { return std::vector<uint8_t>(f.begin(), f.begin() + 28); },
     "cut short"},
    {"cut_in_the_packed_data",
     [](std::vector<uint8_t> f) { return std::vector<uint8_t>(f.begin(), f.begin() + f.size() / 2); },
     "cut short"},
    {"last_byte_missing", [](std::vector<uint8_t> f) { return std::vector<uint8_t>(f.begin(), f.end() - 1); },
     "cut short"},
    {"byte_flipped_in_the_packed_data",
     [](std::vector<uint8_t> f) {
         f[f.size() / 3] ^= 0x10;
         return f;
     },
     "checksum"},
    {"older_version",
     [](std::vector<uint8_t> f) {
         f[8] = kStateVersion - 1;
         return f;
     },
     "a save state of format version 4, this program reads version 5"},
    {"newer_version",
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
    {"unknown_packing_with_good_checksum",
     [](std::vector<uint8_t> f) {
         f[12] = 2;
         FixChecksum(f);
         return f;
     },
     "header is damaged"},
    {"picture_wider_than_any_screen_with_good_checksum",
     [](std::vector<uint8_t> f) {
         f[24] = 0x21, f[25] = 0x03, f[26] = 1;  // 801 x 1
         FixChecksum(f);
         return f;
     },
     "header is damaged"},
    {"picture_longer_than_the_file_with_good_checksum",
     [](std::vector<uint8_t> f) {
         f[24] = 0x20, f[25] = 0x03, f[26] = 0x58, f[27] = 0x02;  // 800 x 600
         FixChecksum(f);
         return f;
     },
     "cut short"},
    // A few hundred bytes that claim to unpack to 4 GB, and a stream that unpacks to more
    // than its header says: neither is unpacked beyond the largest state.
    {"decompression_bomb_with_good_checksum",
     [](std::vector<uint8_t>) {
         std::vector<uint8_t> zeros(16u << 20);
         std::vector<uint8_t> f = Pack(zeros);
         PutU32(f, 16, 0xFFFFFFFF);
         FixChecksum(f);
         return f;
     },
     "larger than any"},
    {"stream_longer_than_its_header_says_with_good_checksum",
     [](std::vector<uint8_t> f) {
         std::vector<uint8_t> sections = Sections(f);
         f = Pack(sections);
         PutU32(f, 16, static_cast<uint32_t>(sections.size() - 1));
         FixChecksum(f);
         return f;
     },
     "compressed data"},
    {"packed_data_damaged_with_good_checksum",
     [](std::vector<uint8_t> f) {
         f[kPacked + (f.size() - kPacked) / 2] ^= 0x5A;
         FixChecksum(f);
         return f;
     },
     "damaged"},
    {"random_packed_data_with_good_checksum",
     [](std::vector<uint8_t> f) {
         std::mt19937 random(11);
         for (size_t i = kPacked; i < f.size() - 4; ++i) f[i] = static_cast<uint8_t>(random());
         FixChecksum(f);
         return f;
     },
     "compressed data"},
    {"impossible_clock_packed_anew",
     [](std::vector<uint8_t> f) {
         std::vector<uint8_t> sections = Sections(f);
         const int32_t clock = 1 << 30;  // after d0-d7, a0-a7, usp/ssp, pc, last cycles
         std::memcpy(sections.data() + kCpuData + 19 * 4, &clock, 4);
         return Pack(sections);
     },
     "cannot have"},
    {"section_renamed_packed_anew",
     [](std::vector<uint8_t> f) {
         std::vector<uint8_t> sections = Sections(f);
         sections[kCpuData - 8] = 'X';
         return Pack(sections, StatePacking::kStored);
     },
     "cannot have"},
    {"memory_cut_short_packed_anew",
     [](std::vector<uint8_t> f) {
         std::vector<uint8_t> sections = Sections(f);
         sections.erase(sections.begin() + 100000, sections.begin() + 100004);
         PutU32(sections, 24 + 4, 0x200000 + kEmulatedMemoryBytes - kRomOffset - 4);
         return Pack(sections);
     },
     "cannot have"},
};

class DamagedState : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedState, IsRefusedAndTheMachineGoesOnAsItWas) {
    Machine machine;
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
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
    run.romPath = VEXIL_EMUTOS;
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

// The section's data: after the section's tag and length.
std::vector<uint8_t> SectionData(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> sections;
    std::string error;
    EXPECT_TRUE(UnpackState(file, 1 << 20, sections, error)) << error;
    return {sections.begin() + 8, sections.end()};
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

std::vector<uint8_t> Gunzip(const std::vector<uint8_t>& gz) {
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

// A state written by an earlier build of this format version (EmuTOS on an STE, 300 frames
// after power-on): it must load, save back to the same bytes and run on as the same machine
// does from a state of this build. A change of the format fails here: it needs a new version
// number (and this file written anew with --save-state).
TEST(SaveState, AStoredStateOfThisVersionLoadsSavesBackAndRunsOn) {
    const std::vector<uint8_t> old =
        ReadAll(std::string(VEXIL_SOURCE_DIR) + "/tests/core/data/emutos-ste-300-frames.vxs");
    ASSERT_GT(old.size(), 1000u);
    ScratchFolder folder;
    {
        Machine machine;
        ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
        std::string error;
        ASSERT_TRUE(machine.LoadState(old, error)) << error;
        // The picture in the header is the command line's; the machine's own file has none.
        StatePicture picture;
        ASSERT_TRUE(ReadStatePicture(old, picture, error)) << error;
        EXPECT_EQ(picture.width, 100);
        EXPECT_EQ(picture.height, 75);
        EXPECT_TRUE(machine.SaveState(&picture) == old) << "the file format changed";
        ASSERT_TRUE(machine.SaveStateFile(folder / "again", error)) << error;
    }
    std::ofstream(folder / "old", std::ios::binary)
        .write(reinterpret_cast<const char*>(old.data()), old.size());
    HeadlessOptions run;
    run.romPath = VEXIL_EMUTOS;
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

// The same run saved by the build before this format (version 4, the whole memory block
// unpacked): refused by its version, on the command line too.
TEST(SaveState, AStateOfTheFormerVersionIsRefusedByItsVersion) {
    const std::vector<uint8_t> old =
        Gunzip(ReadAll(std::string(VEXIL_SOURCE_DIR) + "/tests/core/data/emutos-ste-300-frames-v4.vst.gz"));
    ASSERT_GT(old.size(), kEmulatedMemoryBytes);
    Machine machine;
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
    std::string error;
    EXPECT_FALSE(machine.LoadState(old, error));
    EXPECT_EQ(error, "a save state of format version 4, this program reads version 5");
}

// The chips' sections checked on their own, as the fuzz target does: whole they pass; cut
// short, or followed by more, they do not; the machine is left as it was either way.
TEST(SaveState, TheChipSectionsAloneAreCheckedWithoutChangingTheMachine) {
    Machine machine;
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    ASSERT_EQ(machine.RunFrames(20), kRunBudgetSpent);
    const std::vector<uint8_t> all = Sections(machine.SaveState());
    const std::vector<uint8_t> good = machine.SaveState();
    const std::vector<uint8_t> sections(all.begin() + kCpuData - 8, all.end());
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

// Only the RAM that is fitted is stored, and packed: EmuTOS at its desktop on a 1 MB machine
// makes a file well under a megabyte.
struct SizeCase {
    const char* name;
    uint32_t ramSize;
    size_t mostFileBytes;
};

class StateSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(StateSize, HoldsTheFittedRamPacked) {
    MachineSettings settings;
    settings.RAMSize = GetParam().ramSize;
    Machine machine(settings);
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    ASSERT_EQ(machine.RunFrames(1500), kRunBudgetSpent);
    const size_t fitted = RamBytesFor(GetParam().ramSize);
    const size_t unpacked = machine.Snapshot().size();
    EXPECT_GT(unpacked, fitted + kRomBytes);
    EXPECT_LT(unpacked, fitted + 512 * 1024);
    const std::vector<uint8_t> file = machine.SaveState();
    EXPECT_LT(file.size(), GetParam().mostFileBytes);
    std::string error;
    ASSERT_TRUE(machine.LoadState(file, error)) << error;
    EXPECT_TRUE(machine.SaveState() == file);
}

INSTANTIATE_TEST_SUITE_P(Machines, StateSize,
                         ::testing::Values(SizeCase{"HalfMegabyte", 0, 1u << 20},
                                           SizeCase{"OneMegabyte", 1, 1u << 20},
                                           SizeCase{"FourMegabytes", 3, 4u << 20}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Machine, ASecondMachineIsRefusedAndTheFirstGoesOn) {
    Machine first;
    ASSERT_TRUE(LoadTosRom(first, VEXIL_EMUTOS).ok);
    ASSERT_EQ(first.Reset(true), 0);
    EXPECT_THROW(Machine second, std::logic_error);
    EXPECT_TRUE(Machine::Exists());
    EXPECT_EQ(first.RunFrames(30), kRunBudgetSpent);
    EXPECT_EQ(first.PeekLong(0x420), 0x752019F3u);  // the memory configuration ran
}

}  // namespace
}  // namespace vexil

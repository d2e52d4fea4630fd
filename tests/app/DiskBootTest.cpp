// Whole-machine runs from a disk: EmuTOS boots a disk made here and runs its boot program,
// whose effects are found in RAM, on the screen and in the sound written by --wav.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/Headless.h"
#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
#include "support/Asm.h"
#include "support/TestDisk.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

class DiskBoot : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = test::LoadAsm("boot-sector");
        folder_ = fs::temp_directory_path() / ("vexil-boot-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        disk_ = (folder_ / "boot.st").string();
        const auto image = test::MakeRawDisk(80, 2, 9, false, program_.bytes);
        std::ofstream(disk_, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), image.size());
        stx_ = (folder_ / "boot.stx").string();
        const auto stx = test::RawToStx(image, 80, 2, 9);
        std::ofstream(stx_, std::ios::binary).write(reinterpret_cast<const char*>(stx.data()), stx.size());
    }
    void TearDown() override { fs::remove_all(folder_); }

    test::AsmProgram program_;
    fs::path folder_;
    std::string disk_;
    std::string stx_;  // the same disk as an STX image
};

// EmuTOS reads the boot sector about 14 s after a cold reset (its ACSI probe and start-up
// delay come first) and runs the program some 15 s after it; a generous bound.
constexpr int kBootFrames = 1000;

TEST_F(DiskBoot, EmuTosRunsTheBootProgram) {
    for (uint32_t machineType : {0u, 1u}) {
        MachineSettings settings;
        settings.Machine = machineType;
        settings.DriveA = machineType == 1 ? stx_ : disk_;  // the STE boots the STX image
        settings.DriveBConnected = machineType == 1;        // the ST with one drive
        Machine machine(settings);
        ASSERT_TRUE(machine.SettingsInsertResult(0)) << machine.SettingsInsertResult(0).message;
        ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
        ASSERT_EQ(machine.Reset(true), 0);
        const uint32_t marker = program_.Symbol("marker");
        int frames = 0;
        while (frames < kBootFrames && machine.PeekLong(marker) != program_.Symbol("marker_value")) {
            ASSERT_EQ(machine.RunFrame(), kRunBudgetSpent);
            ++frames;
        }
        ASSERT_EQ(machine.PeekLong(marker), program_.Symbol("marker_value")) << "the boot program never ran";
        ASSERT_EQ(machine.RunFrames(2), kRunBudgetSpent);
        // The top lines of the screen hold the program's pattern.
        const uint32_t screen = machine.PeekLong(0x44E);
        const uint32_t word = program_.Symbol("paint_word");
        for (uint32_t offset = 0; offset < program_.Symbol("paint_lines") * 160; offset += 2)
            ASSERT_EQ(machine.PeekByte(screen + offset) << 8 | machine.PeekByte(screen + offset + 1), word)
                << "offset " << offset;
        EXPECT_NE(machine.PeekByte(screen + program_.Symbol("paint_lines") * 160), word >> 8);
        EXPECT_NE(machine.PeekLong(0x380), 0x12345678u) << "EmuTOS entered its crash handler";
        // An empty drive B is found when it is there (_nflops).
        EXPECT_EQ(machine.PeekByte(0x4A6) << 8 | machine.PeekByte(0x4A7), machineType == 1 ? 2 : 1);
    }
}

// A disk with a file system, as each kind of image: EmuTOS runs the AUTO program on it, which
// reads a file of three clusters (running from side 0 of track 1 onto side 1) through GEMDOS;
// the bytes reach RAM as they lie on the disk.
class DiskBootFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(DiskBootFiles, EmuTosRunsAnAutoProgramThatReadsAFile) {
    const std::string kind = GetParam();
    const test::AsmProgram reader = test::LoadAsm("disk-reader");
    std::vector<uint8_t> data(2500);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 8) * 13 + 1);
    std::vector<uint8_t> image = test::MakeRawDisk(80, 2, 9, false);
    test::PutFatFiles(image, {{"AUTO\\X.PRG", test::ProgramFile(reader)}, {"DATA.BIN", data}});
    if (kind == "msa") image = test::RawToMsa(image, 2, 80, 9, true);
    if (kind == "stx") image = test::RawToStx(image, 80, 2, 9);
    const fs::path path =
        fs::temp_directory_path() / ("vexil-files-" + std::to_string(::getpid()) + "." + kind);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    MachineSettings settings;
    settings.DriveA = path.string();
    Machine machine(settings);
    ASSERT_TRUE(machine.SettingsInsertResult(0)) << machine.SettingsInsertResult(0).message;
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    const uint32_t marker = reader.Symbol("marker");
    for (int frames = 0; frames < 2000 && machine.PeekLong(marker) != reader.Symbol("marker_value");
         frames += 10)
        ASSERT_EQ(machine.RunFrames(10), kRunBudgetSpent);
    fs::remove(path);
    ASSERT_EQ(machine.PeekLong(marker), reader.Symbol("marker_value")) << "the AUTO program never ran";
    ASSERT_EQ(machine.PeekLong(reader.Symbol("count")), data.size()) << "Fopen or Fread's result";
    const uint32_t copy = reader.Symbol("copy");
    for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(machine.PeekByte(copy + i), data[i]) << "byte " << i;
    EXPECT_NE(machine.PeekLong(0x380), 0x12345678u) << "EmuTOS entered its crash handler";
}

INSTANTIATE_TEST_SUITE_P(Images, DiskBootFiles, ::testing::Values("st", "msa", "stx"),
                         [](const auto& info) { return std::string(info.param); });

// With no disk, EmuTOS still finds drive A (its probe needs only the track-0 sensor), reads
// it through its time-outs, and reaches its desktop with the drive in _drvbits.
TEST(DiskBootEmpty, EmuTosFindsTheEmptyDrives) {
    for (bool driveB : {true, false}) {
        MachineSettings settings;
        settings.DriveBConnected = driveB;
        Machine machine(settings);
        ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
        ASSERT_EQ(machine.Reset(true), 0);
        ASSERT_EQ(machine.RunFrames(1700), kRunBudgetSpent);
        EXPECT_EQ(machine.PeekLong(0x4C2) & 1, 1u) << "drive A";
        EXPECT_EQ(machine.PeekByte(0x4A6) << 8 | machine.PeekByte(0x4A7), driveB ? 2 : 1);
        // The last read of the empty drive stays busy until TOS stops it; the motor turns on.
        EXPECT_EQ(machine.Fdc().State().motor, 1u);
    }
}

// Rising zero crossings of a square wave, interpolated between samples: the mean period.
double MeasuredFrequency(const std::vector<int16_t>& samples) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            const double at = static_cast<double>(i - 1) +
                              static_cast<double>(-samples[i - 1]) / (samples[i] - samples[i - 1]);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * 44100.0 / (last - first);
}

std::vector<int16_t> ReadWav(const std::string& path, std::vector<uint8_t>& header) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    std::vector<int16_t> samples;
    if (bytes.size() < 44) return samples;
    header.assign(bytes.begin(), bytes.begin() + 44);
    for (size_t i = 44; i + 1 < bytes.size(); i += 2)
        samples.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    return samples;
}

uint32_t Le32(const std::vector<uint8_t>& h, size_t at) {
    return h[at] | h[at + 1] << 8 | h[at + 2] << 16 | static_cast<uint32_t>(h[at + 3]) << 24;
}

TEST_F(DiskBoot, TheSquareWaveOfChannelAIsHeardAtItsPeriodsFrequency) {
    HeadlessOptions options;
    options.romPath = VEXIL_EMUTOS;
    options.DriveA = disk_;
    options.frames = kBootFrames;
    options.wavPath = (folder_ / "sound.wav").string();
    options.DiskSound = false;  // the chip alone, without the drive's noises
    std::FILE* sink = std::tmpfile();
    ASSERT_EQ(RunHeadless(options, sink, sink), 0);
    std::fclose(sink);
    std::vector<uint8_t> header;
    const std::vector<int16_t> samples = ReadWav(options.wavPath, header);
    // The frames' share of 44,100 samples a second: EmuTOS runs the machine at 60 Hz after its
    // first few frames.
    ASSERT_NEAR(static_cast<double>(samples.size()), kBootFrames * 44100.0 * 133604 / kCpuClockHz, 1000.0);
    EXPECT_EQ(std::string(header.begin(), header.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(header, 24), 44100u);              // sample rate
    EXPECT_EQ(header[22] | header[23] << 8, 1);       // mono
    EXPECT_EQ(header[34] | header[35] << 8, 16);      // bits per sample
    EXPECT_EQ(Le32(header, 40), samples.size() * 2);  // data length
    // The last three seconds: the tone the boot program started.
    const std::vector<int16_t> tail(samples.end() - 3 * 44100, samples.end());
    const double expected = kCpuClockHz / 4.0 / (16.0 * program_.Symbol("period"));
    EXPECT_NEAR(MeasuredFrequency(tail), expected, 1.0);
    // Before the program runs, the chip is silent.
    const std::vector<int16_t> start(samples.begin(), samples.begin() + 5 * 44100);
    EXPECT_TRUE(std::all_of(start.begin(), start.end(), [](int16_t s) { return s == 0; }));
}

TEST(DiskBootRefused, ASoundFileThatCannotBeWrittenEndsTheRun) {
    HeadlessOptions options;
    options.romPath = VEXIL_EMUTOS;
    options.frames = 2;
    options.wavPath = "/nonexistent/folder/sound.wav";
    std::FILE* sink = std::tmpfile();
    EXPECT_EQ(RunHeadless(options, sink, sink), 1);
    std::fclose(sink);
}

struct BadDisk {
    const char* name;
    std::vector<uint8_t> bytes;  // empty: no file at all
};

std::vector<uint8_t> RandomBytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    uint32_t x = 12345;
    for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    return bytes;
}

std::vector<uint8_t> CutShort() {
    const std::vector<uint8_t> disk = test::MakeRawDisk(80, 2, 9, false);
    return std::vector<uint8_t>(disk.begin(), disk.end() - 4096);
}

class DiskRefused : public ::testing::TestWithParam<BadDisk> {};

TEST_P(DiskRefused, TheRunEndsAtOnceWithTheReason) {
    const fs::path path = fs::temp_directory_path() / ("vexil-bad-" + std::to_string(::getpid()) + ".st");
    if (!GetParam().bytes.empty())
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(GetParam().bytes.data()), GetParam().bytes.size());
    HeadlessOptions options;
    options.romPath = VEXIL_EMUTOS;
    options.DriveA = path.string();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(RunHeadless(options, out, err), 1);
    std::rewind(err);
    char line[512] = {};
    ASSERT_NE(std::fgets(line, sizeof line, err), nullptr);
    EXPECT_NE(std::string(line).find("drive A"), std::string::npos) << line;
    std::fclose(out);
    std::fclose(err);
    fs::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Images, DiskRefused,
                         ::testing::Values(BadDisk{"Missing", {}}, BadDisk{"Random", RandomBytes(100001)},
                                           BadDisk{"CutShort", CutShort()}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

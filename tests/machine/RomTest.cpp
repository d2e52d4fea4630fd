// TOS images: the bundled EmuTOS boots headless; damaged images are refused without harm.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "app/Headless.h"
#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "machine/Rom.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path path =
        fs::temp_directory_path() / ("vexil-rom-" + std::to_string(::getpid()) + "-" + name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path.string();
}

std::vector<uint8_t> Header(uint32_t base, size_t length) {
    std::vector<uint8_t> bytes(length, 0x4E);
    bytes[8] = uint8_t(base >> 24), bytes[9] = uint8_t(base >> 16), bytes[10] = uint8_t(base >> 8),
    bytes[11] = uint8_t(base);
    return bytes;
}

// EmuTOS runs: its 200 Hz system timer (_hz_200 at 0x4BA) and its VBL counter (_vbl_count at
// 0x462... counted at 0x466 as frclock) advance with machine time, and its crash handler never
// leaves its marker (0x12345678 at 0x380).
class EmuTosRuns : public ::testing::TestWithParam<uint32_t> {};

TEST_P(EmuTosRuns, TimersAdvanceWithMachineTimeAndNothingCrashes) {
    Machine machine({GetParam(), 2});
    const RomLoad rom = LoadTosRom(machine, VEXIL_EMUTOS);
    ASSERT_TRUE(rom.ok) << rom.message;
    EXPECT_EQ(rom.base, 0xE00000u);
    ASSERT_EQ(machine.Reset(true), 0);
    EXPECT_EQ(g_cpu.pc, 0xE00030u);  // the reset PC from the image's header
    ASSERT_EQ(machine.RunFrames(100), kRunBudgetSpent);
    // The memory configuration has run and left its three magic numbers.
    EXPECT_EQ(machine.PeekLong(0x420), 0x752019F3u);
    EXPECT_EQ(machine.PeekLong(0x43A), 0x237698AAu);
    EXPECT_EQ(machine.PeekLong(0x51A), 0x5555AAAAu);
    const uint32_t hz200 = machine.PeekLong(0x4BA), frames = machine.PeekLong(0x466);
    const int64_t cycles = machine.Scheduler().CyclesRun();
    for (int frame = 0; frame < 100; ++frame) {
        ASSERT_EQ(machine.RunFrame(), kRunBudgetSpent) << "frame " << frame;
        ASSERT_FALSE(CpuHalted());
    }
    // 100 frames of machine time: 1.67 seconds, as this US EmuTOS runs at 60 Hz.
    const double seconds = static_cast<double>(machine.Scheduler().CyclesRun() - cycles) / kCpuClockHz;
    EXPECT_NEAR(seconds, 100 * 133604.0 / kCpuClockHz, 64.0 / kCpuClockHz);  // give or take an instruction
    EXPECT_NEAR(static_cast<double>(machine.PeekLong(0x4BA) - hz200), 200.0 * seconds, 4.0);
    EXPECT_EQ(machine.PeekLong(0x466) - frames, 100u);
    EXPECT_NE(machine.PeekLong(0x380), 0x12345678u) << "EmuTOS entered its crash handler";
}

INSTANTIATE_TEST_SUITE_P(Machines, EmuTosRuns, ::testing::Values(0u, 1u),
                         [](const auto& info) { return info.param ? "Ste" : "St"; });

struct BadRom {
    const char* name;
    std::vector<uint8_t> bytes;
};

class RomRefused : public ::testing::TestWithParam<BadRom> {};

TEST_P(RomRefused, LeavesTheMachineAsItWas) {
    Machine machine;
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
    const std::string path = WriteFile(GetParam().name, GetParam().bytes);
    const RomLoad rom = LoadTosRom(machine, path);
    fs::remove(path);
    EXPECT_FALSE(rom.ok);
    EXPECT_NE(rom.message.find(path), std::string::npos) << rom.message;
    // The ROM loaded before is still in place.
    EXPECT_EQ(machine.Reset(true), 0);
    EXPECT_EQ(g_cpu.pc, 0xE00030u);
}

std::vector<uint8_t> RandomBytes(size_t n) {
    std::mt19937 random(1234);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    bytes[8] = 0x00;  // a base of 0x001xxxxx would lie over RAM
    bytes[9] = 0x10;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(Damaged, RomRefused,
                         ::testing::Values(BadRom{"empty", {}}, BadRom{"short", Header(0xE00000, 40)},
                                           BadRom{"oversized", Header(0xE00000, 0x40001)},
                                           BadRom{"base_in_ram", Header(0x000000, 0x40000)},
                                           BadRom{"base_over_io", Header(0xFC0000, 0x40000)},
                                           BadRom{"low_base_too_long", Header(0xFC0000, 0x30001)},
                                           BadRom{"base_elsewhere", Header(0xF00000, 0x10000)},
                                           BadRom{"base_in_cartridge", Header(0xFA0000, 0x20000)},
                                           BadRom{"base_wraps", Header(0xFFFFFF00, 0x40000)},
                                           BadRom{"random", RandomBytes(0x30000)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Rom, TheTwoPlacesOfRomAcceptTheirFullSize) {
    for (const auto& [base, length] : {std::pair{0xFC0000u, 0x30000u}, std::pair{0xE00000u, 0x40000u}}) {
        Machine machine;
        const std::string path = WriteFile("fits", Header(base, length));
        const RomLoad rom = LoadTosRom(machine, path);
        fs::remove(path);
        EXPECT_TRUE(rom.ok) << rom.message;
        EXPECT_EQ(rom.base, base);
    }
}

TEST(Rom, CartridgeFillsItsAreaAndOversizedIsRefused) {
    Machine machine;
    std::vector<uint8_t> image = {0xAB, 0xCD, 0xEF, 0x42, 0x12};
    std::string path = WriteFile("cart", image);
    ASSERT_TRUE(LoadCartridge(machine, path).ok);
    const uint8_t* area = machine.Memory().Cartridge();
    EXPECT_EQ(area[0 ^ 1], 0xAB);
    EXPECT_EQ(area[4 ^ 1], 0x12);
    EXPECT_EQ(area[5 ^ 1], 0xFF);
    image.assign(kCartridgeBytes + 1, 0);
    path = WriteFile("cart", image);
    const RomLoad refused = LoadCartridge(machine, path);
    fs::remove(path);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("128 KB"), std::string::npos);
    EXPECT_EQ(area[0 ^ 1], 0xAB);  // the loaded one stays
}

TEST(Rom, MissingFileIsRefused) {
    Machine machine;
    const RomLoad rom = LoadTosRom(machine, "/nonexistent/tos.img");
    EXPECT_FALSE(rom.ok);
    EXPECT_NE(rom.message.find("cannot read"), std::string::npos);
}

TEST(Headless, ReportsARefusedRomAndFails) {
    HeadlessOptions options;
    options.romPath = "/nonexistent/tos.img";
    std::FILE* sink = std::tmpfile();
    EXPECT_EQ(RunHeadless(options, sink, sink), 1);
    std::fclose(sink);
}

TEST(Headless, RunsTheBundledRom) {
    HeadlessOptions options;
    options.romPath = VEXIL_EMUTOS;
    options.frames = 10;
    std::FILE* sink = std::tmpfile();
    EXPECT_EQ(RunHeadless(options, sink, sink), 0);
    std::fclose(sink);
}

}  // namespace
}  // namespace vexil

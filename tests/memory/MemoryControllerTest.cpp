// The memory controller's bank decoding, checked against where the ST's and STE's controllers
// alias a bank configured larger than its chips (the facts TOS's memory sizing relies on).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cpu/Bus.h"
#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
#include "support/Asm.h"

namespace vexil {
namespace {

constexpr uint32_t kRamSize512K = 0, kRamSize1M = 1, kRamSize2M = 2, kRamSize4M = 3, kRamSize2M5 = 4;

MachineSettings Settings(uint32_t machine, uint32_t ramSize) {
    MachineSettings settings;
    settings.Machine = machine;
    settings.RAMSize = ramSize;
    return settings;
}

// The bus as the processor sees it: the access routines, between runs.
void Configure(uint8_t value) {
    WriteByte(0xFF8001, value);
}

struct AliasRow {
    const char* name;
    uint32_t machine;
    uint32_t ramSize;
    uint8_t config;
    std::vector<std::pair<uint32_t, uint16_t>> writes;
    std::vector<std::pair<uint32_t, uint16_t>> reads;  // what the processor and the DMA read there
    std::vector<uint32_t> differ;                      // addresses that do not read the first write
};

class BankAliasing : public ::testing::TestWithParam<AliasRow> {};

TEST_P(BankAliasing, ReadsWhereTheControllerDecodes) {
    const AliasRow& row = GetParam();
    Machine machine(Settings(row.machine, row.ramSize));
    machine.Reset(true);
    Configure(row.config);
    for (const auto& [address, value] : row.writes) WriteWord(address, value);
    for (const auto& [address, value] : row.reads) {
        EXPECT_EQ(ReadWord(address), value) << std::hex << address;
        uint16_t dma = 0;
        machine.Bus().ReadWord(address, dma);
        EXPECT_EQ(dma, value) << "device bus, " << std::hex << address;
    }
    for (uint32_t address : row.differ)
        EXPECT_NE(ReadWord(address), row.writes[0].second) << std::hex << address;
    EXPECT_EQ(ReadByte(0xFF8001), row.config);  // reads back as written
}

using Words = std::vector<std::pair<uint32_t, uint16_t>>;
INSTANTIATE_TEST_SUITE_P(
    Decoding, BankAliasing,
    ::testing::Values(
        // 1 MB fitted (512 KB + 512 KB) under 2 MB + 2 MB: the ST's rows and columns lose their
        // top line (0x400 aliases 0), the STE's interleaved lines their top two (0x80000).
        AliasRow{"St1MbUnder0A",
                 0,
                 kRamSize1M,
                 0x0A,
                 Words{{0x000008, 0x1111}, {0x200008, 0x2222}},
                 Words{{0x100008, 0x1111}, {0x000408, 0x1111}, {0x200408, 0x2222}},
                 {0x080008}},
        AliasRow{"Ste1MbUnder0A",
                 1,
                 kRamSize1M,
                 0x0A,
                 Words{{0x000008, 0x1111}, {0x200008, 0x2222}},
                 Words{{0x100008, 0x1111}, {0x080008, 0x1111}, {0x280008, 0x2222}},
                 {0x000408}},
        // Configured as fitted: bank 1 follows bank 0, and above both nothing answers.
        AliasRow{"St1MbUnder05",
                 0,
                 kRamSize1M,
                 0x05,
                 Words{{0x000008, 0x1111}, {0x080008, 0x2222}},
                 Words{{0x000008, 0x1111}, {0x080008, 0x2222}, {0x100008, 0xFFFF}},
                 {}},
        AliasRow{"Ste1MbUnder05",
                 1,
                 kRamSize1M,
                 0x05,
                 Words{{0x000008, 0x1111}, {0x080008, 0x2222}},
                 Words{{0x000008, 0x1111}, {0x080008, 0x2222}, {0x100008, 0xFFFF}},
                 {}},
        // 4 MB fitted under 0x0A: every address is its own.
        AliasRow{"St4MbUnder0A",
                 0,
                 kRamSize4M,
                 0x0A,
                 Words{{0x8, 0x0101},
                       {0x208, 0x0202},
                       {0x408, 0x0303},
                       {0x40008, 0x0404},
                       {0x80008, 0x0505},
                       {0x100008, 0x0606},
                       {0x200008, 0x0707},
                       {0x200408, 0x0808},
                       {0x280008, 0x0909},
                       {0x3FFFF8, 0x0A0A}},
                 Words{{0x8, 0x0101},
                       {0x208, 0x0202},
                       {0x408, 0x0303},
                       {0x40008, 0x0404},
                       {0x80008, 0x0505},
                       {0x100008, 0x0606},
                       {0x200008, 0x0707},
                       {0x200408, 0x0808},
                       {0x280008, 0x0909},
                       {0x3FFFF8, 0x0A0A}},
                 {}},
        AliasRow{"Ste4MbUnder0A",
                 1,
                 kRamSize4M,
                 0x0A,
                 Words{{0x8, 0x0101}, {0x80008, 0x0505}, {0x3FFFF8, 0x0A0A}},
                 Words{{0x8, 0x0101}, {0x80008, 0x0505}, {0x3FFFF8, 0x0A0A}},
                 {}},
        // 512 KB under 0x04: bank 1 (128 KB configured, nothing fitted) reads as no RAM.
        AliasRow{"St512KbUnder04",
                 0,
                 kRamSize512K,
                 0x04,
                 Words{{0x7FFF8, 0x1234}, {0x80008, 0x5678}},
                 Words{{0x7FFF8, 0x1234}, {0x80008, 0xFFFF}, {0x9FFF8, 0xFFFF}},
                 {}},
        // A bank configured smaller than its chips reaches only part of them.
        AliasRow{"St2MbUnder04",
                 0,
                 kRamSize2M,
                 0x04,
                 Words{{0x000008, 0x1111}},
                 Words{{0x000008, 0x1111}, {0x080008, 0xFFFF}},
                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The register survives a warm reset; a cold one (power) brings back the value that matches
// the chips.
TEST(MemoryController, RegisterKeptOverWarmResetOnly) {
    Machine machine(Settings(0, kRamSize1M));
    EXPECT_EQ(ReadByte(0xFF8001), 0x05);
    Configure(0x0A);
    machine.Reset(false);
    EXPECT_EQ(ReadByte(0xFF8001), 0x0A);
    EXPECT_FALSE(machine.Banks().Identity());
    machine.Reset(true);
    EXPECT_EQ(ReadByte(0xFF8001), 0x05);
    EXPECT_TRUE(machine.Banks().Identity());
}

// A save state taken while the banks alias brings the aliasing back with it.
TEST(MemoryController, SaveStateKeepsTheDecoding) {
    std::vector<uint8_t> state;
    {
        Machine machine(Settings(0, kRamSize1M));
        machine.Reset(true);
        Configure(0x0A);
        WriteWord(0x8, 0x4321);
        state = machine.SaveState();
    }
    Machine machine(Settings(0, kRamSize512K));
    std::string error;
    ASSERT_TRUE(machine.LoadState(state, error)) << error;
    EXPECT_EQ(machine.Settings().RAMSize, kRamSize1M);
    EXPECT_EQ(ReadWord(0x408), 0x4321);
    EXPECT_NE(ReadWord(0x80008), 0x4321);
}

// ---- memory sizing --------------------------------------------------------------------------

struct SizingRow {
    const char* name;
    uint32_t machine;
    uint32_t ramSize;
    uint8_t config;
    uint32_t phystop;
};

class MemorySizing : public ::testing::TestWithParam<SizingRow> {};

// A 68000 routine from ROM that sizes memory as TOS does finds what is fitted.
TEST_P(MemorySizing, RoutineFindsTheFittedRam) {
    const SizingRow& row = GetParam();
    static const test::AsmProgram program = test::LoadAsm("memory-sizing");
    Machine machine(Settings(row.machine, row.ramSize));
    CopySwapped(machine.Memory().Rom(), program.bytes.data(), program.bytes.size());
    machine.Reset(true);
    Configure(0x00);  // whatever the register held before
    cpu_seam::Registers r{};
    r.ssp = 0x10000;
    r.sr = 0x2700;
    r.pc = program.Symbol("_start");
    cpu_seam::SetRegisters(r);
    ASSERT_EQ(machine.RunFrames(2), kRunBudgetSpent);
    ASSERT_EQ(g_cpu.pc & 0xFFFFFE, program.Symbol("done") + 4) << "the routine did not finish";
    EXPECT_EQ(machine.PeekByte(0x424), row.config);
    EXPECT_EQ(machine.PeekLong(0x42E), row.phystop);
    EXPECT_EQ(ReadByte(0xFF8001), row.config);
    EXPECT_TRUE(machine.Banks().Identity());
}

// EmuTOS sizes memory the same way at its cold start.
TEST_P(MemorySizing, EmuTosFindsTheFittedRam) {
    const SizingRow& row = GetParam();
    Machine machine(Settings(row.machine, row.ramSize));
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    ASSERT_EQ(machine.RunFrames(25), kRunBudgetSpent);
    EXPECT_EQ(machine.PeekByte(0x424), row.config);
    EXPECT_EQ(machine.PeekLong(0x42E), row.phystop);
    EXPECT_EQ(ReadByte(0xFF8001), row.config);
}

INSTANTIATE_TEST_SUITE_P(Sizes, MemorySizing,
                         ::testing::Values(
                             //        name        machine  RAM         config  phystop
                             SizingRow{"St512Kb", 0, kRamSize512K, 0x04, 0x080000},
                             SizingRow{"St1Mb", 0, kRamSize1M, 0x05, 0x100000},
                             SizingRow{"St2Mb", 0, kRamSize2M, 0x08, 0x200000},
                             SizingRow{"St2Mb5", 0, kRamSize2M5, 0x09, 0x280000},
                             SizingRow{"St4Mb", 0, kRamSize4M, 0x0A, 0x400000},
                             SizingRow{"Ste512Kb", 1, kRamSize512K, 0x04, 0x080000},
                             SizingRow{"Ste1Mb", 1, kRamSize1M, 0x05, 0x100000},
                             SizingRow{"Ste2Mb", 1, kRamSize2M, 0x08, 0x200000},
                             SizingRow{"Ste2Mb5", 1, kRamSize2M5, 0x09, 0x280000},
                             SizingRow{"Ste4Mb", 1, kRamSize4M, 0x0A, 0x400000}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

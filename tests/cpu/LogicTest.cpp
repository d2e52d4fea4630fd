// The logic group: AND, OR, EOR, NOT, the immediate forms and those to CCR and SR: results,
// condition codes, the cycles charged and recorded, prefetch, privilege and the SR write's
// interrupt check.
#include <gtest/gtest.h>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "support/FlatMachine.h"

namespace vexil {
namespace {

using test::FlatMachine;
using test::LoadAsm;

constexpr uint32_t kData = 0x3000;  // the long every memory case works on

class LogicTest : public test::ProgramTest {
protected:
    LogicTest() : ProgramTest("logic") {}
    void Start(const std::string& label, uint16_t sr = 0x2700) { StartAt(label, sr); }
};

struct LogicCase {
    const char* label;
    uint32_t d0, d1, a0;
    uint16_t ccr;
    uint32_t memory;  // long at kData
    uint32_t d0After;
    uint16_t ccrAfter;
    uint32_t memoryAfter;
    int charged;   // cycles the instruction takes from the budget
    int recorded;  // its 68000 count, as the last instruction cycles
};

class LogicCaseTest : public LogicTest, public ::testing::WithParamInterface<LogicCase> {};

TEST_P(LogicCaseTest, ResultFlagsAndCycles) {
    const LogicCase& c = GetParam();
    Start(c.label, static_cast<uint16_t>(0x2700 | c.ccr));
    g_cpu.d[0] = c.d0;
    g_cpu.d[1] = c.d1;
    g_cpu.a[0] = c.a0;
    m_.SetLong(kData, c.memory);
    EXPECT_EQ(cpu_seam::Step(), c.charged);
    EXPECT_EQ(CpuLastInstructionCycles(), static_cast<uint32_t>(c.recorded));
    EXPECT_EQ(g_cpu.d[0], c.d0After);
    EXPECT_EQ(CpuGetSr(), 0x2700 | c.ccrAfter);
    EXPECT_EQ(m_.Long(kData), c.memoryAfter);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Logic, LogicCaseTest, ::testing::Values(
    //        label            d0          d1          a0      ccr   memory      d0 after    ccr   memory after chg rec
    LogicCase{"andi_l_dn",     0x12345678, 0,          kData,     0x13, 0,          0x12005600, 0x10, 0,          16, 14},
    LogicCase{"ori_l_dn",      0,          0,          kData,     0,    0,          0x80000000, 0x08, 0,          16, 16},
    LogicCase{"eori_b_dn",     0x12345600, 0,          kData,     0,    0,          0x123456FF, 0x08, 0,           8,  8},
    LogicCase{"and_l_dn",      0xFFFF8000, 0x0000FFFF, kData,     0,    0,          0x00008000, 0x00, 0,           8,  8},
    // Each step rounded to a bus slot on its own: 4 more than the count rounded.
    LogicCase{"and_l_predec",  0xFFFF0000, 0,          kData + 4, 0,    0x0F0F0F0F, 0x0F0F0000, 0x00, 0x0F0F0F0F, 20, 16},
    LogicCase{"or_l_index",    0x80000000, 0,          kData,     0,    0x00000001, 0x80000001, 0x08, 0x00000001, 24, 20},
    LogicCase{"and_w_to_mem",  0x00008421, 0,          kData,     0x1F, 0xFFFF1234, 0x00008421, 0x18, 0x84211234, 12, 12},
    LogicCase{"eor_l_to_mem",  0xFFFFFFFF, 0,          kData,     0,    0xFFFFFFFF, 0xFFFFFFFF, 0x04, 0,          20, 20},
    LogicCase{"eor_l_dn",      0x0F0F0F0F, 0xFFFFFFFF, kData,     0,    0,          0xF0F0F0F0, 0x08, 0,           8,  8},
    LogicCase{"not_l_dn",      0,          0,          kData,     0x03, 0,          0xFFFFFFFF, 0x08, 0,           8,  6},
    LogicCase{"not_b_mem",     0,          0,          kData,     0,    0x0F000000, 0,          0x08, 0xF0000000, 12, 12},
    LogicCase{"andi_b_mem",    0,          0,          kData,     0,    0xF0FFFFFF, 0,          0x04, 0x00FFFFFF, 16, 16},
    LogicCase{"eori_w_absl",   0,          0,          kData,     0,    0x00001234, 0,          0x08, 0xFFFF1234, 24, 24},
    LogicCase{"ori_to_ccr",    0,          0,          kData,     0,    0,          0,          0x1F, 0,          20, 20},
    LogicCase{"andi_to_ccr",   0,          0,          kData,     0x1F, 0,          0,          0x04, 0,          20, 20},
    LogicCase{"eori_to_ccr",   0,          0,          kData,     0x01, 0,          0,          0x10, 0,          20, 20},
    LogicCase{"andi_to_sr",    0,          0,          kData,     0x1F, 0,          0,          0x1E, 0,          20, 20},
    LogicCase{"ori_to_sr",     0,          0,          kData,     0,    0,          0,          0x01, 0,          20, 20}),
    [](const auto& info) { return std::string(info.param.label); });
// clang-format on

struct PrefetchCase {
    const char* label;
    uint8_t operand;   // D0: turns the byte 0x72 of "moveq #1,d1" (0x7201) into
    uint16_t patched;  // "moveq #1,d0" (0x7001) or "moveq #1,d7" (0x7E01) in memory
};

class LogicPrefetchTest : public LogicTest, public ::testing::WithParamInterface<PrefetchCase> {};

TEST_P(LogicPrefetchTest, WriteOverTheNextOpcodeDoesNotChangeIt) {
    const PrefetchCase& c = GetParam();
    const std::string label = c.label;
    Start(label + "_into_next");
    const uint32_t patched = program_.Symbol(label + "_patched");
    g_cpu.a[0] = patched;
    g_cpu.d[0] = c.operand;
    g_cpu.d[1] = g_cpu.d[7] = 0;
    cpu_seam::Step();
    cpu_seam::Step();
    EXPECT_EQ(m_.Word(patched), c.patched);
    // The prefetched "moveq #1,d1" ran, not the patched one.
    EXPECT_EQ(g_cpu.d[1], 1u);
    EXPECT_EQ(g_cpu.d[0], c.operand);
    EXPECT_EQ(g_cpu.d[7], 0u);
}

INSTANTIATE_TEST_SUITE_P(Logic, LogicPrefetchTest,
                         ::testing::Values(PrefetchCase{"and", 0xF1, 0x7001},
                                           PrefetchCase{"eor", 0x0C, 0x7E01}),
                         [](const auto& info) { return std::string(info.param.label); });

class LogicPrivilegeTest : public LogicTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LogicPrivilegeTest, SrWriteInUserModeIsAPrivilegeViolation) {
    const uint32_t at = program_.Symbol(GetParam());
    Start(GetParam(), 0x0000);
    m_.SetLong(8 * 4, 0x5000);
    EXPECT_EQ(cpu_seam::Step(), 36);  // 34, rounded
    EXPECT_EQ(g_cpu.pc, 0x5000u);
    EXPECT_EQ(CpuGetSr(), 0x2000);
    EXPECT_EQ(m_.Word(g_cpu.a[7]), 0x0000);  // the SR pushed
    EXPECT_EQ(m_.Long(g_cpu.a[7] + 2), at);  // the PC of the instruction itself
}

INSTANTIATE_TEST_SUITE_P(Logic, LogicPrivilegeTest,
                         ::testing::Values("andi_to_sr", "ori_to_sr", "eori_to_sr"));

TEST_F(LogicTest, EoriToSrLeavingSupervisorModeSwitchesStacks) {
    Start("eori_to_sr");
    EXPECT_EQ(cpu_seam::Step(), 20);
    EXPECT_EQ(CpuGetSr(), 0x0700);
    EXPECT_EQ(g_cpu.a[7], 0x70000u);  // the user stack pointer
    EXPECT_EQ(g_cpu.otherSp, 0x80000u);
}

TEST_F(LogicTest, LoweringTheMaskTakesAPendingInterruptAtOnce) {
    Start("unmask");
    m_.SetLong((24 + 4) * 4, program_.Symbol("level4_handler"));
    EXPECT_EQ(CpuRaiseInterrupt(4, -1), 0);
    g_cpu.d[6] = g_cpu.d[7] = 0;
    cpu_seam::Run(200);
    EXPECT_EQ(g_cpu.d[7], 0u);  // the instruction after the ANDI has not run
    EXPECT_EQ(g_cpu.d[6], 2u);
    EXPECT_EQ(m_.Long(0x80000 - 4), program_.Symbol("after_unmask"));
    EXPECT_EQ(m_.Word(0x80000 - 6), 0x2000);  // the SR the ANDI left
    EXPECT_EQ(CpuGetSr() & kSrMask, 0x0400);
}

TEST_F(LogicTest, SettingTheTraceBitTracesTheNextInstruction) {
    Start("set_trace");
    m_.SetLong(9 * 4, program_.Symbol("trace_handler"));
    g_cpu.d[6] = g_cpu.d[7] = 0;
    cpu_seam::Run(1000);
    EXPECT_EQ(g_cpu.d[7], 1u);
    EXPECT_EQ(g_cpu.d[6], 3u);
    EXPECT_EQ(m_.Long(0x80000 - 4), program_.Symbol("after_traced"));
    EXPECT_EQ(m_.Word(0x80000 - 6), 0xA700);
}

TEST_F(LogicTest, SettingTheTraceBitAtTheEndOfTheBudgetCostsTheInstruction) {
    Start("set_trace");
    EXPECT_EQ(cpu_seam::Step(), 20);
    EXPECT_EQ(g_cpu.pc, program_.Symbol("set_trace") + 4);
    EXPECT_EQ(CpuGetSr(), 0xA700);
}

}  // namespace
}  // namespace vexil

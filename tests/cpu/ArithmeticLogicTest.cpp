// The arithmetic and logic groups: results, condition codes (including the choices for flags
// the 68000 leaves undefined), the cycles charged and recorded, the divide-by-zero and CHK
// traps, the prefetch of the read-modify-write forms, where in an instruction its accesses
// happen, and the SR writes' interrupt and trace checks.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cpu/Cpu.h"
#include "cpu/CpuCore.h"
#include "cpu/test_seam.h"
#include "support/FlatMachine.h"

namespace vexil {
namespace {

constexpr uint32_t kData = 0x3000;  // the long every memory case works on

class AluTest : public test::ProgramTest {
protected:
    AluTest() : ProgramTest("alu") {}
    void Start(const std::string& label, uint16_t sr = 0x2700) { StartAt(label, sr); }
};

struct AluCase {
    const char* label;
    uint32_t d0, d1, a0;
    uint16_t ccr;
    uint32_t memory;  // long at kData
    uint32_t d0After, a0After;
    uint16_t ccrAfter;  // and the SR's system byte stays 0x27
    uint32_t memoryAfter;
    int charged;   // cycles the instruction takes from the budget
    int recorded;  // its 68000 count, as the last instruction cycles
};

class AluCaseTest : public AluTest, public ::testing::WithParamInterface<AluCase> {};

TEST_P(AluCaseTest, ResultFlagsAndCycles) {
    const AluCase& c = GetParam();
    Start(c.label, static_cast<uint16_t>(0x2700 | c.ccr));
    g_cpu.d[0] = c.d0;
    g_cpu.d[1] = c.d1;
    g_cpu.a[0] = c.a0;
    m_.SetLong(kData, c.memory);
    EXPECT_EQ(cpu_seam::Step(), c.charged);
    EXPECT_EQ(CpuLastInstructionCycles(), static_cast<uint32_t>(c.recorded));
    EXPECT_EQ(g_cpu.d[0], c.d0After);
    EXPECT_EQ(g_cpu.a[0], c.a0After);
    EXPECT_EQ(CpuGetSr(), 0x2700 | c.ccrAfter);
    EXPECT_EQ(m_.Long(kData), c.memoryAfter);
    EXPECT_EQ(m_.Word(g_cpu.pc), 0x4E71) << "PC not on the nop after the instruction";
}

constexpr uint32_t kN = 0x08, kZ = 0x04, kV = 0x02, kC = 0x01, kX = 0x10;

// The cases where this machine's choices show: the cycles it charges, the count it records when
// that is not the charged one, the flags the 68000 leaves undefined. Plain results and flags of
// every form are the single-step vectors' (VectorTest).
// clang-format off
INSTANTIATE_TEST_SUITE_P(Alu, AluCaseTest, ::testing::Values(
    //        label           d0          d1          a0         ccr          memory      d0 after    a0 after   ccr after           memory after chg rec
    // Each step of ADD.L and SUB.L rounded to a bus slot on its own: 4 more than the count rounded.
    AluCase{"add_l_predec", 0x7FFFFFFF, 0,          kData + 4, 0,           0x00000001, 0x80000000, kData,     kN | kV,            0x00000001, 20, 16},
    AluCase{"sub_l_index",  0,          0,          kData,     0,           0x00000001, 0xFFFFFFFF, kData,     kX | kN | kC,       0x00000001, 24, 20},
    // CMP leaves X alone.
    AluCase{"cmp_l_dn",     1,          2,          kData,     kX,          0,          1,          kData,     kX | kN | kC,       0,           8,  6},
    // CMPA compares the whole register with the sign-extended operand.
    AluCase{"cmpa_w_dn",    0,          0x8000,     0xFFFF8000, 0,          0,          0,          0xFFFF8000, kZ,                0,           8,  6},
    AluCase{"cmpi_l_dn",    1,          0,          kData,     kX,          0,          1,          kData,     kX | kZ,            0,          16, 14},
    // ADDX, SUBX, NEGX: Z is cleared by a nonzero result and otherwise kept.
    AluCase{"addx_w_mem",   0,          0,          kData + 4, kX,          0x12340001, 0,          kData,     0,                  0x12360001, 20, 18},
    // CLR.L Dn costs 8 here.
    AluCase{"clr_l_dn",     0xFFFFFFFF, 0,          kData,     0x1B,        0,          0,          kData,     kX | kZ,            0,           8,  8},
    // Decimal: C and X from the adjust, N from the result, V cleared, Z only ever cleared.
    AluCase{"abcd_dn",      0x45,       0x55,       kData,     kZ | kV,     0,          0,          kData,     kX | kZ | kC,       0,           8,  6},
    AluCase{"sbcd_mem",     0,          0,          kData + 2, kZ,          0x10010000, 0,          kData,     0,                  0x09010000, 20, 18},
    AluCase{"nbcd_dn",      0x01,       0,          kData,     0,           0,          0x99,       kData,     kX | kN | kC,       0,           8,  6},
    // MULU and MULS take 38 + 2 per 1 bit (MULU) or per change between neighbouring bits (MULS).
    AluCase{"mulu_dn",      0x0100,     0x00FF,     kData,     kV | kC,     0,          0xFF00,     kData,     0,                  0,          56, 54},
    // DIVU 133 + ea, DIVS 150 + ea whatever the operands; on overflow Dn is kept, V set, N Z C cleared.
    AluCase{"divu_dn",      100001,     10,         kData,     0,           0,          0x00012710, kData,     0,                  0,         136, 133},
    AluCase{"divu_overflow", 0x10000,   1,          kData,     kX | kN | kZ | kC, 0,    0x10000,    kData,     kX | kV,            0,         136, 133},
    AluCase{"divs_imm",     0xFFFFFFF9, 0,          kData,     0,           0,          0xFFFF0003, kData,     0,                  0,         156, 154},
    // CHK without a trap clears N, Z, V and C.
    AluCase{"chk_dn",       5,          10,         kData,     0x1F,        0,          5,          kData,     kX,                 0,          12, 10},
    // Logic: N and Z from the result, V and C cleared; ANDI.L to Dn costs 14, ORI and EORI 16.
    AluCase{"andi_l_dn",    0x12345678, 0,          kData,     0x13,        0,          0x12005600, kData,     kX,                 0,          16, 14},
    AluCase{"and_l_predec", 0xFFFF0000, 0,          kData + 4, 0,           0x0F0F0F0F, 0x0F0F0000, kData,     0,                  0x0F0F0F0F, 20, 16},
    AluCase{"or_l_index",   0x80000000, 0,          kData,     0,           0x00000001, 0x80000001, kData,     kN,                 0x00000001, 24, 20},
    AluCase{"not_l_dn",     0,          0,          kData,     kV | kC,     0,          0xFFFFFFFF, kData,     kN,                 0,           8,  6}),
    [](const auto& info) { return std::string(info.param.label); });
// clang-format on

struct TrapCase {
    const char* label;
    uint32_t d0, d1, memory;
    int vector;
    bool negative;  // N as pushed
    int charged, recorded;
};

class AluTrapTest : public AluTest, public ::testing::WithParamInterface<TrapCase> {};

TEST_P(AluTrapTest, TrapsWithTheNextInstructionPushed) {
    const TrapCase& c = GetParam();
    const std::string label = c.label;
    Start(label);
    m_.SetLong(c.vector * 4, program_.Symbol("trapped"));
    g_cpu.d[0] = c.d0;
    g_cpu.d[1] = c.d1;
    g_cpu.a[0] = kData;
    m_.SetLong(kData, c.memory);
    EXPECT_EQ(cpu_seam::Step(), c.charged);
    EXPECT_EQ(CpuLastInstructionCycles(), static_cast<uint32_t>(c.recorded));
    EXPECT_EQ(g_cpu.pc, program_.Symbol("trapped"));
    EXPECT_EQ(g_cpu.a[7], 0x80000u - 6);
    EXPECT_EQ(m_.Long(0x80000 - 4), program_.Symbol(label + "_next"));
    EXPECT_EQ(m_.Word(0x80000 - 6) & 0xFF0F, 0x2700u | (c.negative ? kN : 0));
    EXPECT_EQ(g_cpu.d[0], c.d0);  // the register is left alone
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Alu, AluTrapTest, ::testing::Values(
    //       label            d0      d1  memory      vector neg    chg rec
    // Division by zero costs 38 + ea, the exception entry included.
    TrapCase{"divu_zero",     5,      0,  0,           5,    false, 44, 42},
    TrapCase{"divs_zero_mem", 5,      0,  0x0000FFFF,  5,    false, 44, 42},
    // CHK traps at 40 + ea: N set when the register is negative, cleared when above the bound.
    TrapCase{"chk_dn_trap",   0xFFFF, 10, 0,           6,    true,  40, 40},
    TrapCase{"chk_mem_trap",  11,     0,  0x000A0000,  6,    false, 44, 44}),
    [](const auto& info) { return std::string(info.param.label); });
// clang-format on

struct PrefetchCase {
    const char* label;
    uint8_t operand;   // D0: turns the byte 0x72 of "moveq #1,d1" (0x7201) into
    uint16_t patched;  // "moveq #1,d0" (0x7001) or "moveq #1,d7" (0x7E01) in memory
};

class AluPrefetchTest : public AluTest, public ::testing::WithParamInterface<PrefetchCase> {};

TEST_P(AluPrefetchTest, WriteOverTheNextOpcodeDoesNotChangeIt) {
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

INSTANTIATE_TEST_SUITE_P(Alu, AluPrefetchTest,
                         ::testing::Values(PrefetchCase{"add", 0x0C, 0x7E01},
                                           PrefetchCase{"sub", 0xF4, 0x7E01},
                                           PrefetchCase{"and", 0xF1, 0x7001},
                                           PrefetchCase{"or", 0x0C, 0x7E01},
                                           PrefetchCase{"eor", 0x0C, 0x7E01}),
                         [](const auto& info) { return std::string(info.param.label); });

// ---- where the accesses fall within an instruction -------------------------------------------

std::string g_accesses;

void Record(char kind, uint32_t address, Cycles time) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%c%u@%d ", kind, address & 0xF, static_cast<int>(time));
    g_accesses += entry;
}
uint32_t WatchedRead(uint32_t address, const MemoryRegion&, Cycles time) {
    Record('R', address, time);
    return 0x1234;
}
void WatchedWrite(uint32_t address, uint32_t, const MemoryRegion&, Cycles time) {
    Record('W', address, time);
}

struct AccessCase {
    const char* label;
    const char* accesses;  // R/W, address offset in the page, @ cycle within the instruction
    int charged;
};

class AluAccessTest : public AluTest, public ::testing::WithParamInterface<AccessCase> {
protected:
    void SetUp() override {
        AluTest::SetUp();
        // The flat map with a watched page at 0xFF8000 in front of it.
        saved_ = g_cpu.supervisor;
        tables_.fetch = *saved_.fetch;
        const MemoryRegion watched{0xFF8000, 0xFF80FF, &WatchedRead, &WatchedWrite, nullptr};
        for (auto [table, from] : {std::pair{&tables_.readByte, saved_.readByte},
                                   {&tables_.readWord, saved_.readWord},
                                   {&tables_.writeByte, saved_.writeByte},
                                   {&tables_.writeWord, saved_.writeWord}}) {
            table->Add(watched);
            table->Add((*from)[0]);
        }
        g_cpu.supervisor = tables_.Set();
        g_cpu.current = tables_.Set();
        g_accesses.clear();
        g_run.busErrorRequest = 0;  // a request left by an earlier test outside a run
    }
    void TearDown() override {
        g_cpu.supervisor = saved_;
        g_cpu.current = saved_;
    }
    TableSet saved_;
    MachineTables tables_;
};

TEST_P(AluAccessTest, AccessesFallOnTheirBusSlots) {
    const AccessCase& c = GetParam();
    Start(c.label);
    g_cpu.d[0] = 1;
    g_cpu.clock = 0;
    EXPECT_EQ(cpu_seam::Step(), c.charged);
    EXPECT_EQ(g_accesses, c.accesses);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Alu, AluAccessTest, ::testing::Values(
    // ADD, SUB, CMP, TST: the read after the address calculation, the write in the last slots.
    AccessCase{"add_w_watched", "R0@4 W0@12 ",           16},
    AccessCase{"sub_l_watched", "R0@4 R2@8 W0@16 W2@20 ", 24},
    AccessCase{"cmp_w_watched", "R0@4 ",                 12},
    AccessCase{"tst_l_watched", "R0@4 R2@8 ",            16},
    // Other families make their accesses at the start; CLR reads before it writes.
    AccessCase{"clr_w_watched", "R0@0 W0@0 ",            16}),
    [](const auto& info) { return std::string(info.param.label); });
// clang-format on

// ---- SR writes ------------------------------------------------------------------------------

TEST_F(AluTest, LoweringTheMaskTakesAPendingInterruptAtOnce) {
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

TEST_F(AluTest, SettingTheTraceBitTracesTheNextInstruction) {
    Start("set_trace");
    m_.SetLong(9 * 4, program_.Symbol("trace_handler"));
    g_cpu.d[6] = g_cpu.d[7] = 0;
    cpu_seam::Run(1000);
    EXPECT_EQ(g_cpu.d[7], 1u);
    EXPECT_EQ(g_cpu.d[6], 3u);
    EXPECT_EQ(m_.Long(0x80000 - 4), program_.Symbol("after_traced"));
    EXPECT_EQ(m_.Word(0x80000 - 6), 0xA700);
}

TEST_F(AluTest, SettingTheTraceBitAtTheEndOfTheBudgetCostsTheInstruction) {
    Start("set_trace");
    EXPECT_EQ(cpu_seam::Step(), 20);
    EXPECT_EQ(g_cpu.pc, program_.Symbol("set_trace") + 4);
    EXPECT_EQ(CpuGetSr(), 0xA700);
}

}  // namespace
}  // namespace vexil

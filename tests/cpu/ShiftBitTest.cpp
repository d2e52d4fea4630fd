// Shifts, rotates and the bit instructions: counts of 0, of the operand's width and more,
// register counts modulo 64, the ASL overflow rule, bit numbers modulo 32 and 8, and the
// cycles charged and recorded.
#include <gtest/gtest.h>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "support/FlatMachine.h"

namespace vexil {
namespace {

using test::FlatMachine;
using test::LoadAsm;

constexpr uint32_t kData = 0x3000;  // the word every memory case works on
constexpr uint16_t kX = 0x10, kN = 0x08, kZ = 0x04, kV = 0x02, kC = 0x01;

class ShiftBitTest : public test::ProgramTest {
protected:
    ShiftBitTest() : ProgramTest("shiftbit") {}
    void Start(const std::string& label, uint16_t ccr) {
        StartAt(label, static_cast<uint16_t>(0x2700 | ccr));
        g_cpu.a[0] = kData;
    }
};

struct ShiftBitCase {
    const char* name;
    const char* label;
    uint32_t d0, d1;
    uint16_t ccr;
    uint16_t memory;  // word at kData
    uint32_t d0After;
    uint16_t ccrAfter;
    uint16_t memoryAfter;
    int charged;   // cycles taken from the budget
    int recorded;  // last instruction cycles: shifts of a register leave out the 2 per count
};

class ShiftBitCaseTest : public ShiftBitTest, public ::testing::WithParamInterface<ShiftBitCase> {};

TEST_P(ShiftBitCaseTest, ResultFlagsAndCycles) {
    const ShiftBitCase& c = GetParam();
    Start(c.label, c.ccr);
    g_cpu.d[0] = c.d0;
    g_cpu.d[1] = c.d1;
    m_.SetWord(kData, c.memory);
    EXPECT_EQ(cpu_seam::Step(), c.charged);
    EXPECT_EQ(CpuLastInstructionCycles(), static_cast<uint32_t>(c.recorded));
    EXPECT_EQ(g_cpu.d[0], c.d0After);
    EXPECT_EQ(CpuGetSr(), 0x2700 | c.ccrAfter);
    EXPECT_EQ(m_.Word(kData), c.memoryAfter);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(ShiftBit, ShiftBitCaseTest, ::testing::Values(
    //           name                 label           d0          d1  ccr      memory  d0 after    ccr after          memory chg rec
    // Register counts are taken modulo 64: 65 shifts by 1, 64 by 0 (C cleared, X kept).
    ShiftBitCase{"LslLongBy65",       "lsl_l_reg",    0x80000001, 65, 0,       0,      0x00000002, kX | kC,           0,     12, 8},
    ShiftBitCase{"LslLongBy64",       "lsl_l_reg",    0x80000001, 64, kX | kC, 0,      0x80000001, kX | kN,           0,      8, 8},
    ShiftBitCase{"LslWordImmediate8", "lsl_w_imm8",   0xFFFF1234, 0,  0,       0,      0xFFFF3400, 0,                 0,     24, 6},
    // ASL sets V when the sign bit changes at any step, not only at the last.
    ShiftBitCase{"AslSignChanges",    "asl_b_imm1",   0x40,       0,  0,       0,      0x80,       kN | kV,           0,      8, 6},
    ShiftBitCase{"AslSignChangedOnce","asl_b_reg",    0xFFFFFFE0, 3,  0,       0,      0xFFFFFF00, kX | kZ | kV | kC, 0,     12, 6},
    // Counts of the width or more leave the fill; C and X are the last bit shifted out.
    ShiftBitCase{"AslLongBy40",       "asl_l_reg",    0x12345678, 40, kX | kC, 0,      0,          kZ | kV,           0,     88, 8},
    ShiftBitCase{"LsrLongBy32",       "lsr_l_reg",    0x80000000, 32, 0,       0,      0,          kX | kZ | kC,      0,     72, 8},
    // Rotates through X: a count of 0 copies X to C; 17 turns a word all the way round.
    ShiftBitCase{"RoxlCount0",        "roxl_w_reg",   0x1234,     0,  kX,      0,      0x1234,     kX | kC,           0,      8, 6},
    ShiftBitCase{"RoxlWordBy17",      "roxl_w_reg",   0x1234,     17, kX,      0,      0x1234,     kX | kC,           0,     40, 6},
    // Bits: Z only; on a register the number is taken modulo 32, on memory modulo 8.
    ShiftBitCase{"BtstRegister",      "btst_dn_dn",   0x00010000, 48, 0x1F,    0,      0x00010000, 0x1B,              0,      8, 6},
    ShiftBitCase{"BclrHighBit",       "bclr_dn_dn",   0xFFFFFFFF, 20, 0,       0,      0xFFEFFFFF, 0,                 0,      8, 8},
    ShiftBitCase{"BclrStaticBit31",   "bclr_imm_dn",  0x80000000, 0,  kZ,      0,      0,          0,                 0,     12, 12},
    ShiftBitCase{"BchgStaticBit33",   "bchg_imm_dn",  0,          0,  0,       0,      2,          kZ,                0,     12, 12},
    ShiftBitCase{"BsetMemoryBit9",    "bset_dn_mem",  0,          9,  0,       0x0000, 0,          kZ,                0x0200, 12, 12},
    ShiftBitCase{"BtstImmediateSet",  "btst_dn_imm",  0,          2,  kZ,      0,      0,          0,                 0,      8, 8}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(ShiftBitTest, BtstStaticOnAnImmediateTestsItsLowByte) {
    // The assembler refuses BTST #n,#imm: give the assembled BTST #9,D4 the #imm operand.
    const uint32_t at = program_.Symbol("btst_imm_imm");
    for (uint16_t immediate : {0x0002, 0x00FD}) {
        Start("btst_imm_imm", kN);
        m_.SetWord(at, static_cast<uint16_t>(m_.Word(at) | 0x003C));
        m_.SetWord(at + 4, immediate);
        EXPECT_EQ(cpu_seam::Step(), 12);
        EXPECT_EQ(CpuLastInstructionCycles(), 12u);
        EXPECT_EQ(g_cpu.pc, program_.Symbol("btst_imm_imm_end"));
        // Bit 9 AND 7 = 1; only Z changes.
        EXPECT_EQ(CpuGetSr(), immediate == 0x0002 ? 0x2708 : 0x270C);
    }
}

}  // namespace
}  // namespace vexil

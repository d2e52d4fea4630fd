// The data-movement group beyond the single-step vectors: the cycles recorded where they are
// not the cycles charged (MOVEM and Scc record only their constant part), the EXG pairing
// credit, MOVEM running off the end of memory, MOVE.B from an address register, and the SR
// write with a lowered mask.
#include <gtest/gtest.h>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "support/FlatMachine.h"
#include "support/MappedMachine.h"

namespace vexil {
namespace {

using test::FlatMachine;
using test::LoadAsm;

constexpr uint32_t kData = 0x3000;     // the area every memory case works on
constexpr uint32_t kHandler = 0x5000;  // address error, privilege and interrupt handlers

class MoveTest : public test::ProgramTest {
protected:
    MoveTest() : ProgramTest("move") {}
    void Start(const std::string& label, uint32_t a0 = kData) {
        m_.Load(program_, label);
        // The assembler refuses MOVE.B from an address register: turn these sources into A1.
        for (const char* at : {"move_b_an", "moveb_an_1"}) {
            const uint32_t address = program_.Symbol(at);
            m_.SetWord(address, static_cast<uint16_t>(m_.Word(address) | 0x0008));
        }
        for (int vector : {3, 8, 28}) m_.SetLong(vector * 4, kHandler);
        g_cpu.a[0] = a0;
    }
};

struct CostCase {
    const char* label;
    uint32_t a0, d0;
    int steps;
    int charged;   // cycles taken from the budget by all steps
    int recorded;  // the last instruction cycles after the last step
};

class MoveCostTest : public MoveTest, public ::testing::WithParamInterface<CostCase> {};

TEST_P(MoveCostTest, ChargesAndRecords) {
    const CostCase& c = GetParam();
    Start(c.label, c.a0);
    g_cpu.d[0] = c.d0;
    int charged = 0;
    for (int i = 0; i < c.steps; ++i) charged += cpu_seam::Step();
    EXPECT_EQ(charged, c.charged);
    EXPECT_EQ(CpuLastInstructionCycles(), static_cast<uint32_t>(c.recorded));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Move, MoveCostTest, ::testing::Values(
    //       label                 a0            d0     steps chg rec
    CostCase{"movem_l_index_load", kData,        0,      1, 36, 18},  // 18 + 2 x 8 = 34
    CostCase{"lea_index",          kData,        0,      1, 16, 16},  // 12 on a bare 68000
    CostCase{"pea_index",          kData,        0,      1, 20, 20},
    CostCase{"st_dn",              kData,        0,      1,  8,  4},  // 6: the 2 are not recorded
    CostCase{"st_index",           kData,        0,      1, 20, 18},
    // Scc recorded 4, so the taken BNE.S after it gets no pairing credit: 8 + 12.
    CostCase{"st_then_bne",        kData,        0,      2, 20, 10},
    CostCase{"tas_mem",            kData,        0,      1, 16, 14},
    CostCase{"move_from_sr_dn",    kData,        0,      1,  8,  6},
    // EXG's credit reaches the MOVE from -(A0) past a MOVEA (8 + 4 + 12 - 4), but not past
    // another MOVE, MOVE.B from an address register included.
    CostCase{"exg_movea_move",     kData + 0x10, 0,      3, 20, 10},
    CostCase{"exg_move_move",      kData + 0x10, 0,      3, 24, 10},
    CostCase{"exg_moveb_an_move",  kData + 0x10, 0,      3, 24, 10}));
// clang-format on

// On the machine's map a transfer that runs off the end of memory moves the registers before
// that point, then does what that address does: a write there is a bus error (the access
// address of a long write is its second word), a read gives all ones.
TEST(MovemMapTest, ATransferRunningOffTheEndOfMemory) {
    const auto program = test::LoadAsm("move");
    test::MappedMachine m;
    m.SetLong(2 * 4, kHandler);

    m.Load(program, "movem_l_store");  // d0-d2 to (a0); writable RAM ends at 4 MB
    g_cpu.a[0] = 0x3FFFF8;
    g_cpu.d[0] = 0x11111111;
    g_cpu.d[1] = 0x22222222;
    cpu_seam::Step();
    EXPECT_EQ(m.Long(0x3FFFF8), 0x11111111u);
    EXPECT_EQ(m.Long(0x3FFFFC), 0x22222222u);
    EXPECT_EQ(g_cpu.pc, kHandler);
    EXPECT_EQ(m.Long(g_cpu.a[7] + 2), 0x400002u);

    m.Load(program, "movem_w_load");  // (a0) to d0/a1, across the end of the 512 KB of RAM
    g_cpu.a[0] = 0x7FFFE;
    m.SetWord(0x7FFFE, 0x8001);
    m.SetWord(0x80000, 0x1234);  // host memory behind the end, not the machine's
    cpu_seam::Step();
    EXPECT_EQ(g_cpu.d[0], 0xFFFF8001u);
    EXPECT_EQ(g_cpu.a[1], 0xFFFFFFFFu);
    EXPECT_EQ(g_cpu.pc, program.Symbol("movem_w_load") + 4);
}

TEST_F(MoveTest, MoveToSrLoweringTheMaskTakesAPendingInterruptAtOnce) {
    Start("lower_mask");
    ASSERT_EQ(CpuRaiseInterrupt(4, -1), 0);
    EXPECT_EQ(cpu_seam::Step(), 16 + 56);  // MOVE #imm,SR, then the interrupt entry
    EXPECT_EQ(g_cpu.pc, kHandler);
    EXPECT_EQ(m_.Long(g_cpu.a[7] + 2), program_.Symbol("after_lower_mask"));
    EXPECT_EQ(CpuGetSr() & kSrMask, 0x0400);
    EXPECT_EQ(g_cpu.d[7], 0u);
}

TEST_F(MoveTest, MoveByteFromAnAddressRegisterCopiesItsLowByte) {
    Start("move_b_an");
    g_cpu.a[1] = 0x123456F0;
    g_cpu.d[0] = 0xFFFFFFFF;
    EXPECT_EQ(cpu_seam::Step(), 4);
    EXPECT_EQ(g_cpu.d[0], 0xFFFFFFF0u);
    EXPECT_EQ(CpuGetSr() & 0x1F, kCcrN);
}

TEST_F(MoveTest, MoveByteToPredecA7StepsByTwo) {
    Start("move_b_predec_a7");
    g_cpu.d[0] = 0x5A;
    cpu_seam::Step();
    EXPECT_EQ(g_cpu.a[7], 0x80000u - 2);
    EXPECT_EQ(m_.Byte(0x80000 - 2), 0x5A);
}

}  // namespace
}  // namespace vexil

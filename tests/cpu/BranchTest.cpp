// Program flow beyond the single-step vectors: the short-branch pairing, the frame of an odd
// target, and jumps between fetch regions.
#include <gtest/gtest.h>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "support/FlatMachine.h"
#include "support/MappedMachine.h"

namespace vexil {
namespace {

using test::FlatMachine;
using test::LoadAsm;

constexpr uint32_t kStack = 0x80000;

class BranchTest : public test::ProgramTest {
protected:
    BranchTest() : ProgramTest("branch") {}
    // Starts at `label` with the CCR given; A0 points at "target", D1 = 0, and a return frame
    // (CCR word 0xFF1F, then the address of "target") lies below the initial stack.
    void Start(const std::string& label, uint16_t ccr, uint32_t ssp) {
        m_.Load(program_, label);
        m_.SetWord(kStack - 6, 0xFF1F);
        m_.SetLong(kStack - 4, program_.Symbol("target"));
        auto r = cpu_seam::GetRegisters();
        r.sr = static_cast<uint16_t>(0x2700 | ccr);
        r.ssp = ssp;
        r.a[0] = program_.Symbol("target");
        r.d[1] = 0;
        cpu_seam::SetRegisters(r);
    }
};

struct PairCase {
    const char* label;
    int cycles;  // for the CMP.L and the branch after it
};

class PairingTest : public BranchTest, public ::testing::WithParamInterface<PairCase> {};

// CMP.L D0,D1 takes 6 cycles (8 charged); a taken short Bcc after it gets the 2 back.
TEST_P(PairingTest, TakenShortBccSharesTheSlotOfA4nPlus2Instruction) {
    const PairCase& c = GetParam();
    Start(c.label, 0, kStack);
    g_cpu.d[0] = 1;
    g_cpu.d[1] = 2;
    int total = cpu_seam::Step();
    total += cpu_seam::Step();
    EXPECT_EQ(g_cpu.pc, program_.Symbol("target"));
    EXPECT_EQ(total, c.cycles);
}

INSTANTIATE_TEST_SUITE_P(Flow, PairingTest,
                         ::testing::Values(PairCase{"cmp_then_bne", 16}, PairCase{"cmp_then_bra", 20},
                                           PairCase{"cmp_then_bne_word", 20}),
                         [](const auto& info) { return std::string(info.param.label); });

struct OddCase {
    const char* label;
    uint32_t ssp;
    bool targetOnStack;  // the odd address is the return address instead of A0
    int frameAt;         // the group 0 frame's position relative to the initial stack
};

class OddTargetTest : public BranchTest, public ::testing::WithParamInterface<OddCase> {};

// An odd target is an address error at the target: a 14-byte frame with the target as the
// access address and the PC past the instruction's words. JSR pushes nothing first.
TEST_P(OddTargetTest, IsAnAddressErrorAtTheTarget) {
    const OddCase& c = GetParam();
    Start(c.label, 0, c.ssp);
    const uint32_t odd = program_.Symbol("target") + 1;
    if (c.targetOnStack)
        m_.SetLong(c.ssp, odd);
    else
        g_cpu.a[0] = odd;
    m_.SetLong(3 * 4, 0x6000);
    cpu_seam::Step();
    EXPECT_EQ(g_cpu.pc, 0x6000u);
    const uint32_t frame = c.ssp + static_cast<uint32_t>(c.frameAt);
    EXPECT_EQ(g_cpu.a[7], frame);
    EXPECT_EQ(m_.Long(frame + 2), odd);
    EXPECT_EQ(m_.Word(frame + 8), 0x2700);
    EXPECT_EQ(m_.Long(frame + 10), program_.Symbol(c.label) + 2);
}

INSTANTIATE_TEST_SUITE_P(Flow, OddTargetTest,
                         ::testing::Values(OddCase{"jmp_ind", kStack, false, -14},
                                           OddCase{"jsr_ind", kStack, false, -14},
                                           OddCase{"return", kStack - 4, true, 4 - 14}),
                         [](const auto& info) { return std::string(info.param.label); });

// On the machine's map: a jump into ROM runs there (the new region is looked up at dispatch).
TEST(BranchMapTest, JumpsRunCodeInAnotherRegionAndBack) {
    const auto program = LoadAsm("branch");
    test::MappedMachine m;
    const uint32_t from = program.Symbol("rom_routine"), to = program.Symbol("rom_routine_end");
    for (uint32_t a = from; a < to; ++a) m.SetByte(0xFC0000 + (a - from), program.bytes[a - program.origin]);
    m.Load(program, "jmp_ind");
    g_cpu.a[0] = 0xFC0000;
    g_cpu.a[1] = program.Symbol("back_in_ram");
    EXPECT_EQ(CpuRun(20), kRunBudgetSpent);  // jmp 8, moveq 4, jmp 8
    EXPECT_EQ(g_cpu.d[7], 7u);
    EXPECT_EQ(g_cpu.pc, program.Symbol("back_in_ram"));

    // A branch backwards out of the start of a region runs the code where it lands.
    const uint32_t tail = program.Symbol("cartridge_tail"), end = program.Symbol("rom_head_end");
    for (uint32_t a = tail; a < end; ++a) m.SetByte(0xFBFFF8 + (a - tail), program.bytes[a - program.origin]);
    ASSERT_EQ(program.Symbol("rom_head") - tail, 8u);
    m.Load(program, "jmp_ind");
    g_cpu.pc = 0xFC0000;
    g_cpu.a[1] = program.Symbol("back_in_ram");
    EXPECT_EQ(CpuRun(24), kRunBudgetSpent);  // bra 10 (12), moveq 4, jmp 8
    EXPECT_EQ(g_cpu.d[7], 5u);
    EXPECT_EQ(g_cpu.pc, program.Symbol("back_in_ram"));
}

}  // namespace
}  // namespace vexil

#include <gtest/gtest.h>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "support/Asm.h"

namespace vexil {
namespace {

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = test::LoadAsm("machine-interrupts");
        machine_ = std::make_unique<Machine>();
        machine_->LoadBytes(program_.origin, program_.bytes.data(), program_.bytes.size());
        for (uint32_t vector = 2; vector < 256; ++vector)
            machine_->PokeLong(vector * 4, program_.Symbol("unexpected"));
        machine_->PokeLong(0, 0x8000);  // reset stack pointer and program counter
        machine_->PokeLong(4, program_.origin);
        ASSERT_EQ(machine_->Reset(false), 0);
    }
    uint32_t Counter(const char* name) { return machine_->PeekLong(program_.Symbol(name)); }

    test::AsmProgram program_;
    std::unique_ptr<Machine> machine_;
};

TEST_F(MachineTest, InterruptHandlersRunAsOftenAsTheMachineRaisesThem) {
    ASSERT_EQ(machine_->RunFrame(), kRunBudgetSpent);
    ASSERT_EQ(Counter("ready"), 0x600DF00Du) << "the set-up code did not run";
    ASSERT_EQ(Counter("fault"), 0u);
    ASSERT_EQ(machine_->RunFrames(49), kRunBudgetSpent);
    EXPECT_EQ(Counter("fault"), 0u);
    EXPECT_GT(Counter("spins"), 0u);
    EXPECT_EQ(Counter("vbls"), 50u);
    EXPECT_EQ(Counter("hbls"), 50u * 313);
    EXPECT_EQ(Counter("timer_bs"), 50u * 200);  // counted lines 64-263 of every frame
    // Timer A: 6400 MFP clocks = 20888 cycles, started within the first few hundred cycles;
    // 383 periods fit into 50 frames from any start before cycle 12696.
    EXPECT_EQ(Counter("timer_as"), 383u);
    EXPECT_LT(g_cpu.clock, 200);  // only the last instruction's overshoot is carried
}

TEST_F(MachineTest, ResetInstructionResetsTheIoChips) {
    g_cpu.pc = program_.Symbol("do_reset");
    machine_->GetMfp().WriteByte(mfp::kVr, 0x40, 0);
    CpuRun(4);
    ASSERT_EQ(machine_->GetMfp().Register(mfp::kImra), 0x55) << "the MOVE to the MFP did not run";
    const uint32_t result = CpuRun(4);
    ASSERT_EQ(g_cpu.pc, program_.Symbol("reset_done")) << "RESET did not run: " << result;
    EXPECT_EQ(result, kRunBudgetSpent);
    EXPECT_EQ(machine_->GetMfp().Register(mfp::kImra), 0);
    EXPECT_EQ(machine_->GetMfp().Register(mfp::kVr), 8);
}

}  // namespace
}  // namespace vexil

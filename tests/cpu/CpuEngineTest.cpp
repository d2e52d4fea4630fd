// The run engine: cycle accounting, bus slots, pairing and the run states.
#include <gtest/gtest.h>

#include <memory>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "memory/Memory.h"
#include "support/FlatMachine.h"

namespace vexil {
namespace {

using test::FlatMachine;
using test::LoadAsm;

class CpuEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = LoadAsm("engine");
        m_.Load(program_);
        g_cpu.clock = 0;
    }
    // The reset hook and the user tables are the CPU's globals: a test that sets them has them
    // put back here, failed or not.
    void TearDown() override {
        g_cpu.resetHook = nullptr;
        g_cpu.user = g_cpu.supervisor;
    }
    void Start(const std::string& label) {
        m_.Load(program_, label);
        g_cpu.a[0] = 0x3000;
    }
    test::AsmProgram program_;
    FlatMachine m_;
};

struct CostCase {
    const char* label;
    int instructions;  // run this many single steps
    int cycles;        // expected clock advance
};

class CpuCostTest : public CpuEngineTest, public ::testing::WithParamInterface<CostCase> {};

TEST_P(CpuCostTest, ClockAdvancesByRoundedCost) {
    const CostCase& c = GetParam();
    Start(c.label);
    int total = 0;
    for (int i = 0; i < c.instructions; ++i) total += cpu_seam::Step();
    EXPECT_EQ(total, c.cycles);
    EXPECT_EQ(g_cpu.clock, c.cycles);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, CpuCostTest,
    ::testing::Values(CostCase{"exg_alone", 1, 8},       // 6 cycles, one bus slot more
                      CostCase{"move_predec", 1, 12},    // 10 cycles
                      CostCase{"exg_then_move", 2, 16},  // 8 + 12 - 4: EXG pairs with MOVE
                      CostCase{"exg_nop_move", 3, 20},   // NOP does not cancel the pairing
                      CostCase{"long_move", 1, 36},      // budget 4 runs the whole instruction
                      CostCase{"stop_here", 1, 4}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CpuEngineTest, BudgetOfFourRunsExactlyOneInstruction) {
    Start("exg_then_move");
    const uint32_t start = g_cpu.pc;
    EXPECT_EQ(CpuRun(4), kRunBudgetSpent);
    EXPECT_EQ(g_cpu.pc, start + 2);
    EXPECT_EQ(g_cpu.clock, 8);
}

TEST_F(CpuEngineTest, LargeBudgetOvershootIsCounted) {
    Start("loop_forever");
    EXPECT_EQ(CpuRun(28), kRunBudgetSpent);
    // moveq 4 + bra 12 (10 rounded) per turn: 4, 16, 20, 32 -> stops past 28
    EXPECT_EQ(g_cpu.clock, 32);
}

TEST_F(CpuEngineTest, StopWaitsUntilAnInterruptIsRaised) {
    Start("stop_here");
    EXPECT_EQ(CpuRun(4), kRunBudgetSpent);
    EXPECT_EQ(g_cpu.pc, program_.Symbol("after_stop"));
    EXPECT_EQ(CpuGetSr(), 0x2300);
    const Cycles before = g_cpu.clock;
    EXPECT_EQ(CpuRun(1000), kRunBudgetSpent);
    EXPECT_EQ(g_cpu.clock, before + 1000);
    EXPECT_EQ(g_cpu.d[7], 0u);
    // Level 2 is masked, but raising it ends the stop; execution goes on after the STOP.
    EXPECT_EQ(CpuRaiseInterrupt(2, -1), 0);
    EXPECT_EQ(CpuRun(4), kRunBudgetSpent);
    EXPECT_EQ(g_cpu.d[7], 7u);
}

TEST_F(CpuEngineTest, RaisingAPendingLevelAgainKeepsTheFirstVector) {
    Start("loop_forever");
    EXPECT_EQ(CpuRaiseInterrupt(4, 0x40), 0);
    EXPECT_EQ(CpuRaiseInterrupt(4, -1), 1);
    EXPECT_EQ(g_cpu.levelVector[4], 0x40);
    EXPECT_EQ(CpuRaiseInterrupt(0, -1), 2);
    EXPECT_EQ(CpuRaiseInterrupt(8, -1), 2);
    EXPECT_EQ(CpuRaiseInterrupt(3, 256), 2);
    EXPECT_EQ(CpuRaiseInterrupt(3, -3), 2);
}

TEST_F(CpuEngineTest, ResetWithoutHookEndsTheRunAtTheInstruction) {
    Start("reset_here");
    const uint32_t at = g_cpu.pc;
    EXPECT_EQ(CpuRun(100), at);
    EXPECT_EQ(g_cpu.pc, at);
}

int g_resets = 0;
void CountReset(void*) {
    ++g_resets;
}

TEST_F(CpuEngineTest, ResetWithHookCallsItAndCosts132) {
    Start("reset_here");
    g_cpu.resetHook = &CountReset;
    g_resets = 0;
    EXPECT_EQ(cpu_seam::Step(), 132);
    EXPECT_EQ(g_resets, 1);
}

TEST_F(CpuEngineTest, TraceRunsOneInstructionThenTheTraceException) {
    Start("loop_forever");
    m_.SetLong(9 * 4, 0x6000);
    auto r = cpu_seam::GetRegisters();
    r.sr = 0xA700;
    cpu_seam::SetRegisters(r);
    EXPECT_EQ(CpuRun(1000), kRunBudgetSpent);
    // moveq ran, then the trace exception; the handler continues to the end of the budget.
    EXPECT_EQ(g_cpu.d[0], 1u);
    EXPECT_EQ(m_.Long(0x80000 - 4), program_.Symbol("loop_forever") + 2);
    EXPECT_EQ(m_.Word(0x80000 - 6), 0xA700);
}

// Leaving supervisor mode fetches through the user tables from the next instruction on: with
// no user memory to run from, that fetch is a bus error.
TEST_F(CpuEngineTest, ModeSwitchFetchesThroughTheNewModesTable) {
    Start("to_user_mode");
    static FetchTable nothing;  // outlives the test: the fixture puts the user tables back
    g_cpu.user.fetch = &nothing;
    m_.SetLong(2 * 4, 0x6000);
    m_.SetWord(0x6000, 0x4E71);  // nop
    m_.SetWord(0x6002, 0x60FE);  // bra.s *
    CpuRun(200);
    EXPECT_EQ(g_cpu.d[0], 0u);
    EXPECT_EQ(g_cpu.pc, 0x6002u);
    EXPECT_EQ(m_.Long(0x80000 - 12), program_.Symbol("to_user_mode") + 4);  // the access address
}

// The engine on the machine's own map, where most addresses are not memory.
class CpuMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        CpuBuildDispatchTable();
        block_ = std::make_unique<EmulatedMemoryBlock>();
        MemoryInstall(tables_, *block_, 0x80000, {});
        CpuInstallTables(tables_);
        g_cpu.resetHook = nullptr;
    }
    void Poke(uint32_t address, const std::vector<uint8_t>& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) block_->Ram()[(address + i) ^ 1] = bytes[i];
    }
    std::unique_ptr<EmulatedMemoryBlock> block_;
    MachineTables tables_;
};

TEST_F(CpuMapTest, OddResetPcHalts) {
    Poke(0, {0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x10, 0x01});
    EXPECT_EQ(CpuReset(), -1);
    EXPECT_TRUE(CpuHalted());
    const Cycles before = g_cpu.clock;
    EXPECT_EQ(CpuRun(100), kRunHalted);
    EXPECT_EQ(CpuRun(100), kRunHalted);
    EXPECT_EQ(g_cpu.clock, before);
}

// An opcode fetch from where there is no memory is a bus error; only when the handler's
// address has no memory either does the processor stop with a fetch fault.
TEST_F(CpuMapTest, RunningOffTheEndOfRamIsABusError) {
    const auto program = LoadAsm("engine");
    const uint32_t at = program.Symbol("run_off_end") - program.origin;
    Poke(0, {0x00, 0x00, 0x80, 0x00, 0x00, 0x07, 0xF0, 0x00});
    Poke(8, {0x00, 0x00, 0x20, 0x00});  // bus error handler at 0x2000
    Poke(0x2000, {0x4E, 0x71});
    for (int i = 0; i < 4; ++i) Poke(0x7F000 + i, {program.bytes[at + i]});
    EXPECT_EQ(CpuReset(), 0);
    EXPECT_EQ(CpuRun(4), kRunBudgetSpent);  // the branch
    EXPECT_EQ(g_cpu.pc, 0x86FF0u);
    EXPECT_EQ(CpuRun(4), kRunBudgetSpent);  // the bus error, then the handler's first NOP
    EXPECT_EQ(g_cpu.pc, 0x2002u);
    EXPECT_EQ(g_cpu.a[7], 0x8000u - 14);
    EXPECT_EQ(LoadHostLong(block_->Ram() + g_cpu.a[7] + 2), 0x86FF0u);  // the access address
}

TEST_F(CpuMapTest, NoMemoryAtTheBusErrorHandlerEitherIsAFetchFault) {
    const auto program = LoadAsm("engine");
    const uint32_t at = program.Symbol("run_off_end") - program.origin;
    Poke(0, {0x00, 0x00, 0x80, 0x00, 0x00, 0x07, 0xF0, 0x00});
    Poke(8, {0x00, 0x50, 0x00, 0x00});  // handler in no memory
    for (int i = 0; i < 4; ++i) Poke(0x7F000 + i, {program.bytes[at + i]});
    EXPECT_EQ(CpuReset(), 0);
    EXPECT_EQ(CpuRun(1000), kRunBudgetSpent);
    EXPECT_EQ(g_cpu.pc, 0x500000u);
    EXPECT_EQ(CpuRun(1000), kRunFetchFault);
    EXPECT_EQ(CpuRun(1000), kRunFetchFault);
}

TEST_F(CpuMapTest, ResetRefusedWhenAddressZeroIsUnmapped) {
    MachineTables empty;
    g_cpu.supervisor = empty.Set();
    g_cpu.current = empty.Set();
    EXPECT_EQ(CpuReset(), 1);
    EXPECT_TRUE(CpuHalted());
}

}  // namespace
}  // namespace vexil

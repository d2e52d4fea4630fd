// Exception entry and interrupts: frames, the switch to supervisor mode and its tables, the
// group 0 frame, double faults, the interrupt levels, mask and vectors, when a pending level is
// taken, and trace after RTE.
#include <gtest/gtest.h>

#include <utility>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "support/FlatMachine.h"
#include "support/MappedMachine.h"

namespace vexil {
namespace {

using test::FlatMachine;
using test::LoadAsm;
using test::MappedMachine;

class ExceptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = LoadAsm("exception");
        g_cpu.clock = 0;
    }
    // Every vector leads to "handler" unless a test says otherwise.
    template <typename Machine>
    void Start(Machine& m, const std::string& label, uint16_t sr) {
        m.Load(program_, label);
        for (uint32_t v = 2; v < 256; ++v) m.SetLong(v * 4, program_.Symbol("handler"));
        auto r = cpu_seam::GetRegisters();
        r.sr = sr;
        cpu_seam::SetRegisters(r);
    }
    uint32_t At(const char* label) const { return program_.Symbol(label); }
    test::AsmProgram program_;
};

// The frame goes on the supervisor stack with the user's SR; the handler runs in supervisor
// mode with the supervisor tables.
TEST_F(ExceptionTest, TrapFromUserModeEntersSupervisorMode) {
    MappedMachine m;
    const TableSet supervisor = g_cpu.supervisor;
    MachineTables userTables;  // the same map, but a table set of its own
    MemoryInstall(userTables, m.Block(), MappedMachine::kRam, {});
    CpuInstallTables(userTables);
    g_cpu.supervisor = supervisor;
    Start(m, "trap_user", 0x0000);
    EXPECT_EQ(g_cpu.current.readWord, &userTables.readWord);
    EXPECT_EQ(cpu_seam::Step(), 36);  // 34
    EXPECT_EQ(g_cpu.pc, At("handler"));
    EXPECT_EQ(CpuGetSr() & 0xFF00, 0x2000);
    EXPECT_EQ(g_cpu.current.readWord, supervisor.readWord);
    EXPECT_EQ(g_cpu.current.fetch, supervisor.fetch);
    EXPECT_EQ(g_cpu.a[7], 0x70000u - 6);
    EXPECT_EQ(g_cpu.otherSp, 0x60000u);
    EXPECT_EQ(m.Word(0x70000 - 6), 0x0000);  // S clear in the SR pushed
    EXPECT_EQ(m.Long(0x70000 - 4), At("trap_user_next"));
}

// A word write to ROM: 14 bytes, status word 0, access address, instruction register word 0,
// SR, then the PC past the instruction's extension words.
TEST_F(ExceptionTest, BusErrorFromAWriteToRomPushesTheGroupZeroFrame) {
    MappedMachine m;
    Start(m, "rom_write", 0x2700);
    g_cpu.d[0] = 0x1234;
    EXPECT_EQ(cpu_seam::Step(), 72);  // MOVE 16 + bus error 56
    EXPECT_EQ(g_cpu.pc, At("handler"));
    const uint32_t sp = g_cpu.a[7];
    EXPECT_EQ(sp, 0x70000u - 14);
    EXPECT_EQ(m.Word(sp + 0), 0);
    EXPECT_EQ(m.Long(sp + 2), 0xFC0000u);
    EXPECT_EQ(m.Word(sp + 6), 0);
    EXPECT_EQ(m.Word(sp + 8), 0x2700);
    EXPECT_EQ(m.Long(sp + 10), At("rom_write_next"));
    EXPECT_EQ(m.Word(0xFC0000), 0);  // nothing written
}

// A fault while an exception frame is being pushed halts the processor.
TEST_F(ExceptionTest, FaultWhilePushingAFrameHalts) {
    for (uint32_t ssp : {0x7FFF1u, 0xFC1000u}) {  // odd: address error; ROM: bus error
        MappedMachine m;
        Start(m, "trap_user", 0x2700);
        auto r = cpu_seam::GetRegisters();
        r.ssp = ssp;
        cpu_seam::SetRegisters(r);
        EXPECT_EQ(CpuRun(100), kRunBudgetSpent) << std::hex << ssp;
        EXPECT_TRUE(CpuHalted()) << std::hex << ssp;
        EXPECT_EQ(CpuRun(100), kRunHalted) << std::hex << ssp;
    }
}

int g_failures = 0;
void FailFirstWrite(uint32_t, uint32_t, const MemoryRegion&, Cycles) {
    if (g_failures++ == 0) CpuSignalBusError();
}

// A bus error while a TRAP pushes its frame is taken instead: its 14-byte frame and handler
// stand, the TRAP's entry goes no further.
TEST_F(ExceptionTest, BusErrorWhilePushingAFrameIsTakenInstead) {
    MemoryHandlers handlers;
    handlers.ioWriteWord = &FailFirstWrite;
    handlers.ioWriteByte = &FailFirstWrite;
    MappedMachine m(handlers);
    Start(m, "trap_user", 0x2700);
    m.SetLong(2 * 4, At("handler_loop"));
    auto r = cpu_seam::GetRegisters();
    r.ssp = 0xFF8A10;  // the stack in the I/O page, whose first write fails
    cpu_seam::SetRegisters(r);
    g_failures = 0;
    cpu_seam::Step();
    EXPECT_FALSE(CpuHalted());
    EXPECT_EQ(g_cpu.pc, At("handler_loop"));
    EXPECT_EQ(g_cpu.a[7], 0xFF8A10u - 14);
}

struct InterruptCase {
    const char* name;
    uint16_t mask;
    std::pair<int, int> raised[2];  // level (0: none), vector argument
    int vector;                     // taken, -1: none
    uint8_t pendingAfter;           // levels still pending (bits 1-7)
};

class InterruptTest : public ExceptionTest, public ::testing::WithParamInterface<InterruptCase> {};

// Between runs: the highest level the mask allows is taken at once through its vector, the
// mask rises to that level, and the rest stays pending.
TEST_P(InterruptTest, HighestAllowedLevelIsTakenThroughItsVector) {
    const InterruptCase& c = GetParam();
    FlatMachine m;
    Start(m, "after_drop", static_cast<uint16_t>(0x2000 | c.mask << 8 | kCcrC));
    for (uint32_t v = 0; v < 256; ++v) m.SetLong(v * 4, 0x10000 + v * 4);
    for (auto [level, vector] : c.raised) {
        if (level != 0) {
            EXPECT_EQ(CpuRaiseInterrupt(level, vector), 0);
        }
    }
    const uint32_t ssp = g_cpu.a[7];
    CpuTakeInterrupt();
    EXPECT_EQ(g_cpu.pending & 0xFE, c.pendingAfter);
    if (c.vector < 0) {
        EXPECT_EQ(g_cpu.pc, At("after_drop"));
        EXPECT_EQ(g_cpu.clock, 0);
        return;
    }
    EXPECT_EQ(g_cpu.pc, 0x10000u + static_cast<uint32_t>(c.vector) * 4);
    EXPECT_EQ(g_cpu.clock, 56);
    const int level = (CpuGetSr() >> 8) & 7;
    EXPECT_EQ(CpuGetSr(), 0x2000 | level << 8 | kCcrC);
    EXPECT_EQ(g_cpu.a[7], ssp - 6);
    EXPECT_EQ(m.Word(ssp - 6), 0x2000 | c.mask << 8 | kCcrC);
    EXPECT_EQ(m.Long(ssp - 4), At("after_drop"));
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, InterruptTest,
    ::testing::Values(InterruptCase{"levels_2_and_4_mask_3", 3, {{2, -1}, {4, -1}}, 28, 1 << 2},
                      InterruptCase{"level_7_mask_7", 7, {{7, -1}, {0, 0}}, 31, 0},
                      InterruptCase{"level_6_mask_7", 7, {{6, -1}, {0, 0}}, -1, 1 << 6},
                      InterruptCase{"level_4_mask_4", 4, {{4, -1}, {0, 0}}, -1, 1 << 4},
                      InterruptCase{"mfp_channel_13", 5, {{6, 0x4D}, {0, 0}}, 0x4D, 0},
                      InterruptCase{"spurious", 0, {{3, -2}, {0, 0}}, 24, 0},
                      InterruptCase{"autovector_1_and_5", 0, {{1, -1}, {5, -1}}, 29, 1 << 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Levels 2 and 4 with mask 3: level 4 is taken when the run starts; its handler returns with
// mask 3 again, level 2 waits until a MOVE to SR lowers the mask to 1, and is taken right after
// that instruction.
TEST_F(ExceptionTest, LowerLevelWaitsUntilTheMaskDrops) {
    FlatMachine m;
    Start(m, "mask_drop", 0x2300);
    m.SetLong(28 * 4, At("level4"));
    m.SetLong(26 * 4, At("level2"));
    CpuRaiseInterrupt(2, -1);
    CpuRaiseInterrupt(4, -1);
    for (int i = 0; i < 10 && g_cpu.pc != At("handler_loop"); ++i) CpuRun(40);
    EXPECT_EQ(g_cpu.d[4], 4u);
    EXPECT_EQ(g_cpu.d[2], 2u);
    EXPECT_EQ(g_cpu.pc, At("handler_loop"));
    EXPECT_EQ(g_cpu.a[7], 0x80000u - 6);  // level 4's frame is gone, level 2's is there
    EXPECT_EQ(m.Word(0x80000 - 6), 0x2100);
    EXPECT_EQ(m.Long(0x80000 - 4), At("after_drop"));
}

int g_ioWrites = 0;
void RaiseOnWrite(uint32_t, uint32_t, const MemoryRegion&, Cycles) {
    ++g_ioWrites;
    CpuRaiseInterrupt(5, -1);
}

// The interrupt a register write raises is taken after that instruction, not at the end of
// the budget; the run then goes on with the handler.
TEST_F(ExceptionTest, InterruptRaisedByAnIoWriteIsTakenAfterThatInstruction) {
    MemoryHandlers handlers;
    handlers.ioWriteWord = &RaiseOnWrite;
    handlers.ioWriteByte = &RaiseOnWrite;
    MappedMachine m(handlers);
    Start(m, "io_write", 0x2000);
    g_ioWrites = 0;
    EXPECT_EQ(CpuRun(1000), kRunBudgetSpent);
    EXPECT_EQ(g_ioWrites, 1);
    EXPECT_EQ(g_cpu.d[1], 0u);  // the instruction after the write never ran
    EXPECT_EQ(g_cpu.pc, At("handler_loop"));
    EXPECT_EQ(g_cpu.a[7], 0x70000u - 6);
    EXPECT_EQ(m.Long(0x70000 - 4), At("after_io"));
    EXPECT_EQ(CpuGetSr() & kSrMask, 0x0500);
    EXPECT_GE(g_cpu.clock, 1000);
}

// At the event exit the trace exception comes first, then the interrupt the traced instruction
// raised: the interrupt's frame lies on the trace frame and returns to the trace handler.
TEST_F(ExceptionTest, TraceIsTakenBeforeAnInterruptTheTracedInstructionRaised) {
    MemoryHandlers handlers;
    handlers.ioWriteWord = &RaiseOnWrite;
    handlers.ioWriteByte = &RaiseOnWrite;
    MappedMachine m(handlers);
    Start(m, "io_write", 0xA000);
    m.SetLong(29 * 4, At("handler_loop"));
    EXPECT_EQ(CpuRun(1000), kRunBudgetSpent);
    EXPECT_EQ(g_cpu.pc, At("handler_loop"));
    EXPECT_EQ(g_cpu.a[7], 0x70000u - 12);
    EXPECT_EQ(m.Word(0x70000 - 6) & 0xFF00, 0xA000);  // trace frame: the traced instruction's SR
    EXPECT_EQ(m.Long(0x70000 - 4), At("after_io"));
    EXPECT_EQ(m.Word(0x70000 - 12) & 0xFF00, 0x2000);  // interrupt frame: T cleared by the trace
    EXPECT_EQ(m.Long(0x70000 - 10), At("handler"));
}

// RTE that lowers the mask lets a pending level in right after it, before the instruction it
// returned to.
TEST_F(ExceptionTest, RteThatLowersTheMaskTakesAPendingLevelAtOnce) {
    FlatMachine m;
    Start(m, "trace_return", 0x2700);
    m.SetWord(0x80000 - 6, 0x2000);
    m.SetLong(0x80000 - 4, At("traced"));
    auto r = cpu_seam::GetRegisters();
    r.ssp = 0x80000 - 6;
    cpu_seam::SetRegisters(r);
    EXPECT_EQ(CpuRaiseInterrupt(2, -1), 0);
    EXPECT_EQ(CpuRun(1000), kRunBudgetSpent);
    EXPECT_EQ(g_cpu.pc, At("handler"));
    EXPECT_EQ(g_cpu.clock, 20 + 56);
    EXPECT_EQ(g_cpu.d[5], 0u);
    EXPECT_EQ(m.Word(0x80000 - 6), 0x2000);
    EXPECT_EQ(m.Long(0x80000 - 4), At("traced"));
}

// RTE ends the run at once, counting only its own cycles; when it restores T, the next run
// runs one instruction and takes the trace exception.
TEST_F(ExceptionTest, RteEndsTheRunAndARestoredTraceBitTracesTheNextInstruction) {
    FlatMachine m;
    Start(m, "trace_return", 0x2700);
    m.SetWord(0x80000 - 6, 0xA700);
    m.SetLong(0x80000 - 4, At("traced"));
    auto r = cpu_seam::GetRegisters();
    r.ssp = 0x80000 - 6;
    cpu_seam::SetRegisters(r);
    EXPECT_EQ(CpuRun(1000), kRunBudgetSpent);
    EXPECT_EQ(g_cpu.clock, 20);
    EXPECT_EQ(g_cpu.pc, At("traced"));
    EXPECT_EQ(CpuGetSr(), 0xA700);

    EXPECT_EQ(CpuRun(1000), kRunBudgetSpent);
    EXPECT_EQ(g_cpu.d[5], 5u);
    EXPECT_EQ(g_cpu.d[6], 0u);
    EXPECT_EQ(g_cpu.pc, At("handler_loop"));
    EXPECT_EQ(m.Word(0x80000 - 6), 0xA700);
    EXPECT_EQ(m.Long(0x80000 - 4), At("traced_next"));
}

}  // namespace
}  // namespace vexil

// The emulated MC68000: one register file, a run loop that executes instructions against a
// cycle budget, and the services the rest of the machine uses while it runs.
//
// Time is counted in CPU cycles. Every instruction ends on a 4-cycle bus slot: its cost is
// subtracted from the remaining budget and the remainder rounded down to a multiple of 4.
// When the budget is spent (or an interrupt is raised from inside an instruction, or trace is
// pending) the run takes its event exit, where trace and interrupts are examined.
#pragma once

#include <cstdint>

#include "memory/Memory.h"

namespace vexil {

// Results of CpuRun.
constexpr uint32_t kRunBudgetSpent = 0x80000000;
constexpr uint32_t kRunFetchFault = 0x80000001;
constexpr uint32_t kRunHalted = 0xFFFFFFFF;

// Status register bits.
constexpr uint16_t kSrTrace = 0x8000;
constexpr uint16_t kSrSupervisor = 0x2000;
constexpr uint16_t kSrMask = 0x0700;
constexpr uint16_t kSrSystemBits = kSrTrace | kSrSupervisor | kSrMask;
constexpr uint16_t kCcrX = 0x10, kCcrN = 0x08, kCcrZ = 0x04, kCcrV = 0x02, kCcrC = 0x01;

// Called by the RESET instruction with the state's resetContext.
using ResetHook = void (*)(void* context);
// A device that names its vector at the acknowledge of its level (the MFP at level 6): the
// vector, or -1 when it no longer asks, and no interrupt is taken at that level then.
using AcknowledgeHook = int32_t (*)(void* context);

struct CpuState {
    TableSet current;     // tables in force
    TableSet supervisor;  // tables for supervisor mode
    TableSet user;        // tables for user mode
    ResetHook resetHook = nullptr;
    void* resetContext = nullptr;
    uint32_t d[8] = {};
    uint32_t a[8] = {};    // a[7] is the active stack pointer
    uint32_t otherSp = 0;  // USP in supervisor mode, SSP in user mode
    uint32_t pc = 0;
    Cycles clock = 0;
    uint8_t pending = 0;          // bit 0: stopped (or halted, with an odd PC); bits 1-7: levels pending
    uint8_t levelVector[8] = {};  // [1..7]
    AcknowledgeHook acknowledge[8] = {};
    void* acknowledgeContext[8] = {};
    uint16_t sr = 0x2700;  // outside a run holds the true CCR; during a run see CpuFlags
};

extern CpuState g_cpu;

// Builds the 65536-entry opcode table. Returns 0.
int32_t CpuBuildDispatchTable();
// Processor reset: 1 refused (run in progress, no tables, address 0 unmapped), 0 good,
// -1 odd reset PC (halted).
int32_t CpuReset();
uint32_t CpuRun(int32_t budget);
// level 1-7; vector -1 autovector, -2 spurious, 0-255 explicit. 2 bad argument, 1 already
// pending, 0 marked.
int32_t CpuRaiseInterrupt(int32_t level, int32_t vector);
// Between runs only: takes the highest allowed pending interrupt now.
void CpuTakeInterrupt();
// The interrupts taken so far (a running count) and the level and vector of the last one.
struct CpuInterruptRecord {
    uint32_t count = 0;
    int32_t level = 0;
    int32_t vector = 0;
};
CpuInterruptRecord CpuLastInterrupt();
// Between runs (the debugger moved the PC or changed memory): the next dispatch reads its
// opcode from memory rather than from a word captured before an instruction's write.
void CpuDiscardPrefetch();
// From an access handler: the run ends after the current instruction.
void CpuEndSlice();
// From an access handler: a bus error is taken once the handler returns.
void CpuSignalBusError();
// Cycle time now, exact in the middle of an instruction.
Cycles CpuCurrentCycle();
// The machine's memory map becomes both the supervisor and the user set.
void CpuInstallTables(MachineTables& tables);
// Bus time a DMA device took: inside an access handler it lengthens that access (rounded up to
// whole bus slots), between runs the clock moves on by it.
void CpuChargeDevice(Cycles cycles);
// From an access handler: adds wait states (a multiple of 4) to the access in progress.
void CpuAddWaitStates(int32_t cycles);
// True while CpuRun is executing (access handlers are then called from inside an instruction).
bool CpuRunning();
// True when this instruction has not yet reached an access handler (the I/O access marker).
bool CpuFirstHandlerAccess();

// Where a chip posts an interrupt, in CpuRaiseInterrupt's shape (0 posted, else refused): the
// CPU unless `raise` says otherwise (tests listen here).
struct InterruptSink {
    int32_t (*raise)(void* context, int32_t level, int32_t vector) = nullptr;
    void* context = nullptr;
    int32_t operator()(int32_t level, int32_t vector) const {
        return raise ? raise(context, level, vector) : CpuRaiseInterrupt(level, vector);
    }
};

// The processor's part of a save state (between runs only). Load checks the values and, with
// `commit`, takes them; false when they are not ones the processor can have.
class StateWriter;
class StateReader;
void CpuSaveState(StateWriter& out);
bool CpuLoadState(StateReader& in, bool commit);

// Packs the status register (valid during a run too).
uint16_t CpuGetSr();
// True when the processor is halted (double fault or odd reset PC).
inline bool CpuHalted() {
    return (g_cpu.pending & 1) && (g_cpu.pc & 1);
}
// Cycles of the last instruction as the 68000 tables count them (before rounding).
uint32_t CpuLastInstructionCycles();

}  // namespace vexil

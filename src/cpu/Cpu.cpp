#include "cpu/Cpu.h"

#include <algorithm>
#include <cstring>

#include "cpu/Bus.h"
#include "cpu/CpuCore.h"

namespace vexil {

// The processor's registers, its run state and the dispatch table (Dispatch.cpp) are the only
// mutable globals of the core, and on purpose: every opcode handler reaches them on the hot
// path without a pointer to load, and there is one 68000. That is also why only one Machine
// may exist at a time (Machine.cpp guards it). Everything else lives in the object that owns it.
CpuState g_cpu;
CpuRunState g_run;

namespace {

// Ends the run after the current instruction, dropping the unused budget (the clock stays
// exact because the run end counts budget - remaining).
void DropBudget() {
    g_run.remaining -= g_run.budget;
    g_run.budget = 0;
}

// Fetches the next opcode the slow way and runs it; false when there is nothing to run.
[[gnu::noinline]] bool DispatchSlow() {
    const uint32_t opcode = FetchOpcodeSlow();
    if (g_run.stop) return false;
    g_dispatch[opcode](opcode);
    return true;
}

uint32_t EndRun(uint32_t result) {
    EndSuppression();
    g_cpu.pc = Pc();
    g_cpu.sr = static_cast<uint16_t>((g_cpu.sr & 0xFF00) | PackCcr());
    g_cpu.clock += g_run.budget - g_run.remaining;
    g_run.flags &= ~(kRunActive | kRunGroupZero);
    g_run.budget = 0;
    g_run.remaining = 0;
    g_run.deferred = 0;
    g_run.countdown = -1;
    return result;
}

// Interrupt and trace checks of a run's start (also re-entered after SR writes).
void StartChecks() {
    if (InterruptDue()) AcknowledgeInterrupt();
    g_run.tracePending = (g_cpu.sr & kSrTrace) ? 1 : 0;
    if (g_run.tracePending) {
        g_run.deferred += g_run.remaining;
        g_run.remaining = 0;
    }
}

}  // namespace

uint16_t CpuGetSr() {
    if (g_run.flags & kRunActive) return static_cast<uint16_t>((g_cpu.sr & 0xFF00) | PackCcr());
    return g_cpu.sr;
}

uint32_t CpuLastInstructionCycles() {
    return g_run.lastCycles;
}

void CpuInstallTables(MachineTables& tables) {
    g_cpu.supervisor = tables.Set();
    g_cpu.user = tables.Set();
    g_cpu.current = tables.Set();
}

void CpuChargeDevice(Cycles cycles) {
    if (cycles <= 0) return;
    if (CpuRunning())
        CpuAddWaitStates((cycles + 3) & ~3);
    else
        g_cpu.clock += cycles;
}

Cycles CpuCurrentCycle() {
    return g_cpu.clock + (g_run.budget - g_run.remaining) - g_run.deferred;
}

void CpuEndSlice() {
    g_run.countdown -= g_run.budget;
    g_run.budget = 0;
}

void CpuSignalBusError() {
    // Outside a run (a debug access) there is no instruction to take the exception.
    if (g_run.flags & kRunActive) g_run.busErrorRequest = 1;
}

void CpuAddWaitStates(int32_t cycles) {
    if (g_run.flags & kRunActive) g_run.countdown -= cycles;
}

bool CpuRunning() {
    return (g_run.flags & kRunActive) != 0;
}

bool CpuFirstHandlerAccess() {
    return g_run.ioMarker == 0;
}

int32_t CpuRaiseInterrupt(int32_t level, int32_t vector) {
    if (level < 1 || level > 7 || vector < -2 || vector > 255) return 2;
    const uint8_t bit = static_cast<uint8_t>(1u << level);
    if (g_cpu.pending & bit) return 1;
    g_cpu.pending = static_cast<uint8_t>((g_cpu.pending | bit) & ~1u);
    g_cpu.levelVector[level] = static_cast<uint8_t>(vector == -2 ? 24 : vector == -1 ? 24 + level : vector);
    if (g_run.countdown != -1) {
        // Raised from inside an access handler: finish the instruction, then the event exit.
        g_run.deferred += g_run.countdown + 1;
        g_run.countdown = -1;
    }
    return 0;
}

CpuInterruptRecord CpuLastInterrupt() {
    return {g_run.interruptsTaken, g_run.lastInterruptLevel, g_run.lastInterruptVector};
}

void CpuDiscardPrefetch() {
    if (!(g_run.flags & kRunActive)) g_run.prefetchOverride = 0;
}

void CpuTakeInterrupt() {
    if (g_run.flags & kRunActive) return;
    if (InterruptDue()) EnterExceptionBetweenRuns(-1, 0);
}

int32_t CpuReset() {
    if ((g_run.flags & kRunActive) || g_cpu.supervisor.fetch == nullptr) return 1;
    g_run.flags = 0;
    for (auto& r : g_cpu.d) r = 0;
    for (auto& r : g_cpu.a) r = 0;
    g_cpu.otherSp = 0;
    g_cpu.sr = 0x2700;
    g_cpu.current = g_cpu.supervisor;
    g_cpu.pc = 1;
    g_cpu.pending = 1;
    g_run.prefetchOverride = 0;
    g_run.pairingCredit = 0;
    g_run.tracePending = 0;
    g_run.fetchDead = 0;
    ForceSlowFetch();
    const FetchRegion* region = g_cpu.current.fetch->Find(0);
    if (region == nullptr) return 1;
    auto readLong = [&](uint32_t address) {
        const uint8_t* host = reinterpret_cast<const uint8_t*>(region->displacement + intptr_t(address));
        return LoadHostLong(host);
    };
    // Both longs must lie inside the region to be read from its host memory.
    if (region->last < 7) return 1;
    g_cpu.a[7] = readLong(0);
    g_cpu.pc = readLong(4);
    g_cpu.pending = static_cast<uint8_t>(g_cpu.pc & 1);
    return -static_cast<int32_t>(g_cpu.pc & 1);
}

uint32_t CpuRun(int32_t budget) {
    if (g_cpu.pending & 1) {
        if (g_cpu.pc & 1) return kRunHalted;
        g_cpu.clock += budget;
        return kRunBudgetSpent;
    }
    g_run.budget = budget;
    g_run.remaining = budget;
    g_run.deferred = 0;
    g_run.countdown = -1;
    g_run.reenter = 0;
    g_run.exitResult = 0;
    UnpackCcr(g_cpu.sr);
    g_run.flags = kRunActive;
    g_run.ioMarker = 0;
    FetchLookup(g_cpu.pc);
    // The last run found no memory at the PC, not even at its bus error handler.
    if ((g_run.flags & kRunFlagFetchFault) && g_run.fetchDead) return EndRun(kRunFetchFault);
    StartChecks();

    for (;;) {
        do {
            // Dispatch: the opcode straight from host memory when the PC lies in the current
            // fetch region and nothing is pending; everything else goes the slow way.
            const uintptr_t ip = g_run.ip;
            if (ip <= g_run.ipLimit) [[likely]] {
                const size_t opcode = LoadHostWord(reinterpret_cast<const uint8_t*>(ip));
                g_run.ip = ip + 2;
                g_dispatch[opcode](static_cast<uint32_t>(opcode));
            } else if (!DispatchSlow()) {
                break;
            }
        } while (g_run.remaining > 0);

        // The event exit.
        EndSuppression();
        if (g_run.exitResult) {
            const uint32_t result = g_run.exitResult;
            g_run.exitResult = 0;
            return EndRun(result);
        }
        if (g_run.stop) {
            // Stopped, halted, or no memory to run from: the run ends here.
            g_run.stop = 0;
            if (g_run.remaining > 0) DropBudget();
            return EndRun(kRunBudgetSpent);
        }
        if (g_run.tracePending && g_run.stopBeforeTrace) {
            g_run.tracePending = 0;
            g_run.traceDue = 1;
            g_run.remaining += g_run.deferred;
            g_run.deferred = 0;
            return EndRun(kRunBudgetSpent);
        }
        if (g_run.tracePending) {
            g_run.tracePending = 0;
            EnterException(9);
            Charge(36);
            if (g_run.flags & kRunFlagFetchFault) continue;
        }
        if (g_run.reenter) {
            g_run.reenter = 0;
            g_run.remaining += g_run.deferred;
            g_run.deferred = 0;
            StartChecks();
            if (g_run.tracePending) {
                // A T bit the write set traces the next instruction when the budget has room
                // for it; otherwise the next run's start checks take the trace up.
                if (g_run.deferred > 0) continue;
                g_run.tracePending = 0;
                g_run.remaining += g_run.deferred;
                g_run.deferred = 0;
            }
            if (g_run.remaining > 0) continue;
        } else {
            if (InterruptDue()) {
                AcknowledgeInterrupt();
                if (g_run.flags & kRunFlagFetchFault) continue;
            }
            g_run.remaining += g_run.deferred;
            g_run.deferred = 0;
            if (g_run.remaining > 0) continue;
        }
        return EndRun(kRunBudgetSpent);
    }
}

// ---- fetch paths ----------------------------------------------------------------------------

namespace {
// Where extension words come from when the PC is near a region's end or in no region: the
// bytes that are there, then all ones, so that an instruction never reads past host memory.
alignas(16) uint8_t g_fetchTail[16];

// Makes `host`, the host address of `pc`, the PC, with no region around it: every dispatch goes
// the slow way until a region is opened.
void FetchFrom(const uint8_t* host, uint32_t pc) {
    g_run.ipBias = reinterpret_cast<uintptr_t>(host) - pc;
    g_run.ip = reinterpret_cast<uintptr_t>(host);
    g_run.ipLow = 0;
    g_run.ipLimit = 0;
}
}  // namespace

void FetchLookup(uint32_t pc) {
    const FetchRegion* region = g_cpu.current.fetch->Find(pc & kAddressMask);
    if (region == nullptr) {
        std::memset(g_fetchTail, 0xFF, sizeof g_fetchTail);
        FetchFrom(g_fetchTail, pc);
        g_run.flags |= kRunFlagFetchFault;
        return;
    }
    g_run.flags &= ~kRunFlagFetchFault;
    g_run.fetchDead = 0;
    const uint8_t* host = reinterpret_cast<const uint8_t*>(region->displacement + intptr_t(region->first));
    // The longest instruction must fit behind its opcode, so extension words need no check.
    const int64_t span = static_cast<int64_t>(region->last) - region->first + 1 - kLongestInstruction;
    const uint32_t offset = (pc & kAddressMask) - region->first;
    if (static_cast<int64_t>(offset) > span) {
        // Near the end: this one instruction runs from a copy of the region's last bytes.
        std::memset(g_fetchTail, 0xFF, sizeof g_fetchTail);
        std::memcpy(g_fetchTail, host + offset,
                    std::min<size_t>(sizeof g_fetchTail, region->last - (pc & kAddressMask) + 1));
        FetchFrom(g_fetchTail, pc);
        return;
    }
    FetchFrom(host + offset, pc);
    g_run.ipLow = reinterpret_cast<uintptr_t>(host);
    if (!(g_run.prefetchOverride || (g_cpu.pending & 1) || g_run.suppressed || g_run.ioMarker))
        g_run.ipLimit = reinterpret_cast<uintptr_t>(host) + static_cast<uintptr_t>(span);
}

uint16_t FetchOpcodeSlow() {
    g_run.ioMarker = 0;  // a new instruction begins
    EndSuppression();
    if (g_cpu.pending & 1) {
        // Stopped or halted inside a run (STOP, double fault): nothing more executes; the
        // rest of the budget passes.
        g_run.remaining = 0;
        g_run.deferred = 0;
        g_run.stop = 1;
        return 0;
    }
    if (g_run.prefetchOverride) {
        g_run.prefetchOverride = 0;
        FetchLookup(Pc());
        g_run.ip += 2;
        return g_run.prefetched[0];
    }
    FetchLookup(Pc());
    if (g_run.flags & kRunFlagFetchFault) {
        // An opcode fetch from where there is no memory is a bus error, as on the machine.
        // Only when the handler's own address has no memory either does the run stop.
        g_run.flags &= ~kRunFlagFetchFault;
        EnterGroupZero(2, Pc());
        EndSuppression();
        if (g_cpu.pending & 1) return FetchOpcodeSlow();  // halted by a double fault
        if (g_run.flags & kRunFlagFetchFault) {
            g_run.fetchDead = 1;
            g_run.stop = 1;
            DropBudget();
            return 0;
        }
    }
    return FetchWord();
}

uint16_t PeekProgramWord(uint32_t address) {
    const FetchRegion* region = g_cpu.current.fetch->Find(address & kAddressMask);
    if (region == nullptr || region->last == (address & kAddressMask)) return 0xFFFF;
    return LoadHostWord(
        reinterpret_cast<const uint8_t*>(region->displacement + intptr_t(address & kAddressMask)));
}

// ---- status register and exceptions ---------------------------------------------------------

void SetSr(uint16_t value) {
    value &= kSrSystemBits | 0x1F;
    const bool wasSupervisor = Supervisor();
    const bool nowSupervisor = (value & kSrSupervisor) != 0;
    if (wasSupervisor != nowSupervisor) {
        const uint32_t sp = g_cpu.a[7];
        g_cpu.a[7] = g_cpu.otherSp;
        g_cpu.otherSp = sp;
        g_cpu.current = nowSupervisor ? g_cpu.supervisor : g_cpu.user;
        ForceSlowFetch();  // the other mode may fetch from other tables
    }
    g_cpu.sr = value;
    UnpackCcr(value);
}

void Halt() {
    g_cpu.pending |= 1;
    SetPc(Pc() | 1);
    ForceSlowFetch();
}

namespace {

// Steps 2-5 of an entry: reads the vector, switches to supervisor mode. Returns the new PC
// and the SR to push.
uint32_t BeginEntry(int vector, uint16_t& pushedSr) {
    const uint32_t newPc = ReadLong(static_cast<uint32_t>(vector) * 4);
    pushedSr = CpuGetSr();
    if (!Supervisor()) {
        const uint32_t sp = g_cpu.a[7];
        g_cpu.a[7] = g_cpu.otherSp;
        g_cpu.otherSp = sp;
        g_cpu.current = g_cpu.supervisor;
    }
    g_cpu.sr = static_cast<uint16_t>((g_cpu.sr | kSrSupervisor) & ~kSrTrace);
    g_run.tracePending = 0;
    g_run.prefetchOverride = 0;
    return newPc;
}

}  // namespace

void EnterException(int vector) {
    if (g_run.suppressed) return;
    if (g_run.flags & kRunGroupZero) {
        Halt();
        return;
    }
    uint16_t sr;
    const uint32_t newPc = BeginEntry(vector, sr);
    const uint32_t faults = g_run.groupZeroCount;
    WriteLong(g_cpu.a[7] - 4, Pc());
    WriteWord(g_cpu.a[7] - 6, sr);
    // A fault while pushing has entered the bus or address error (or halted): its frame and
    // handler stand, this entry goes no further.
    if (faults != g_run.groupZeroCount) return;
    g_cpu.a[7] -= 6;
    FetchLookup(newPc);
}

void EnterGroupZero(int vector, uint32_t accessAddress) {
    if (g_run.suppressed) return;
    if (g_run.flags & kRunGroupZero) {
        Halt();
        return;
    }
    ++g_run.groupZeroCount;
    g_run.faultAddress = accessAddress;
    g_cpu.pending &= ~1u;
    g_run.flags |= kRunGroupZero;
    uint16_t sr;
    const uint32_t newPc = BeginEntry(vector, sr);
    const uint32_t sp = g_cpu.a[7];
    WriteLong(sp - 4, Pc());
    WriteWord(sp - 6, sr);
    WriteWord(sp - 8, 0);
    WriteLong(sp - 12, g_run.faultAddress);
    WriteWord(sp - 14, 0);
    if (g_cpu.pending & 1) return;  // double fault: halted
    g_cpu.a[7] = sp - 14;
    g_run.flags &= ~kRunGroupZero;
    Charge(56);
    // The rest of the instruction still runs, in its own opcode stream, but without touching
    // memory; the handler's address is taken up when it ends.
    g_run.suppressed = 1;
    g_run.suppressedPc = newPc;
    g_cpu.current = SuppressedTables(g_cpu.supervisor.fetch);
    ForceSlowFetch();
}

void EndSuppression() {
    if (!g_run.suppressed) return;
    g_run.suppressed = 0;
    // The handler's first opcode is the handler's, not one the faulting instruction captured
    // for its own next instruction (see UsePrefetch).
    g_run.prefetchOverride = 0;
    g_cpu.current = Supervisor() ? g_cpu.supervisor : g_cpu.user;
    FetchLookup(g_run.suppressedPc);
}

void EnterExceptionBetweenRuns(int vector, int32_t cycles) {
    UnpackCcr(g_cpu.sr);
    g_run.flags |= kRunActive;
    g_run.budget = 0;
    g_run.remaining = 0;
    FetchFrom(g_fetchTail, g_cpu.pc);  // no instruction runs: only the PC is needed
    if (vector < 0)
        AcknowledgeInterrupt();
    else {
        EnterException(vector);
        Charge(cycles);
    }
    EndSuppression();
    g_cpu.pc = Pc();
    g_cpu.sr = static_cast<uint16_t>((g_cpu.sr & 0xFF00) | PackCcr());
    g_cpu.clock -= g_run.remaining;
    g_run.remaining = 0;
    g_run.flags &= ~(kRunActive | kRunGroupZero);
}

void RaiseInstructionException(int vector) {
    g_run.ip -= 2;
    EnterException(vector);
    Finish(34);
}

void AcknowledgeInterrupt() {
    const uint32_t mask = (g_cpu.sr >> 8) & 7;
    for (int level = 7; level > static_cast<int>(mask) || level == 7; --level) {
        if (g_cpu.pending & (1u << level)) {
            g_cpu.pending &= static_cast<uint8_t>(~(1u << level));
            int32_t vector = g_cpu.levelVector[level];
            if (g_cpu.acknowledge[level]) {
                // The device may ask again from inside: its level is then pending once more.
                vector = g_cpu.acknowledge[level](g_cpu.acknowledgeContext[level]);
                if (vector < 0) continue;
            }
            g_cpu.pending &= static_cast<uint8_t>(~1u);
            ++g_run.interruptsTaken;
            g_run.lastInterruptLevel = level;
            g_run.lastInterruptVector = vector;
            EnterException(vector);
            g_cpu.sr = static_cast<uint16_t>((g_cpu.sr & ~kSrMask) | (level << 8));
            Charge(56);
            return;
        }
    }
}

void BranchToOddAddress(uintptr_t from, int32_t displacement, int32_t cycles) {
    const uintptr_t ip = from + static_cast<uintptr_t>(static_cast<intptr_t>(displacement));
    EnterGroupZero(3, static_cast<uint32_t>(ip - g_run.ipBias));
    Finish(cycles);
}

void AfterSrWrite() {
    g_run.deferred += g_run.remaining;
    g_run.remaining = 0;
    g_run.reenter = 1;
}

}  // namespace vexil

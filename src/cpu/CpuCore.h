// The CPU's inner state and the small inline pieces every instruction handler is made of:
// cycle charging, condition codes, opcode-stream fetches and the exception entries.
// Only the CPU's own sources and the memory access routines include this file.
#pragma once

#include <cstdint>

#include "cpu/Cpu.h"

namespace vexil {

// State that exists while a run is in progress, beside CpuState.
struct CpuRunState {
    int32_t budget = 0;
    int32_t remaining = 0;
    int32_t deferred = 0;
    int32_t countdown = -1;  // remaining - 1 while an access handler runs, else -1

    // The PC during a run is a host address in the current fetch region: PC = ip - ipBias
    // (mod 2^32). The dispatch takes an opcode straight from host memory while ip <= ipLimit,
    // which leaves room for the longest instruction behind it. Running on only moves ip up,
    // so jumps check the region's low end (ipLow). An ipLimit of 0 sends every dispatch the
    // slow way (prefetch override pending, stopped, an access handler ran, near a region's
    // end, or no region).
    uintptr_t ip = 0;
    uintptr_t ipLimit = 0;
    uintptr_t ipLow = 0;
    uintptr_t ipBias = 0;

    uint8_t flags = 0;  // kRunActive | kRunFlagFetchFault | kRunGroupZero
    uint8_t tracePending = 0;
    uint8_t busErrorRequest = 0;
    uint8_t prefetchOverride = 0;
    uint32_t faultAddress = 0;
    uint32_t lastCycles = 0;
    uintptr_t ioMarker = 0;  // set by an access handler, cleared when the next instruction starts
    int32_t pairingCredit = 0;
    uint16_t prefetched[2] = {};
    uint32_t groupZeroCount = 0;  // bumped by every bus or address error entry
    uint8_t reenter = 0;          // an SR write asks for the interrupt and trace checks of a run's start
    uint32_t exitResult = 0;      // nonzero: the run ends with this result (RESET without a hook)
    // After a bus or address error inside an instruction, the rest of that instruction runs
    // with its memory accesses and exceptions dropped (the data tables are swapped for a set
    // that ignores them) until the next dispatch.
    uint8_t suppressed = 0;
    uint32_t suppressedPc = 0;  // the exception handler's address, taken up at the next dispatch
    // Single-stepping for tests: the run stops before a due trace exception, which the next
    // step then takes on its own.
    uint8_t stopBeforeTrace = 0;
    uint8_t traceDue = 0;
    uint8_t stop = 0;  // the dispatch found nothing to run: the run ends
    // The interrupts acknowledged so far and the last one's level and vector (the debugger
    // tells by them which source was taken). Touched only at an acknowledge.
    uint32_t interruptsTaken = 0;
    int32_t lastInterruptLevel = 0;
    int32_t lastInterruptVector = 0;
    uint8_t fetchDead = 0;  // no memory at the PC, nor at the bus error handler

    // Condition codes during a run: N is the sign of nz, Z is set when its low 32 bits are 0
    // (a sign-extended result gives both at once); V, C and X are 0 or 1.
    int64_t nz = 0;
    uint32_t v = 0;
    uint32_t c = 0;
    uint32_t x = 0;
};

constexpr int kLongestInstruction = 10;  // bytes: MOVE.L #imm,(xxx).L

constexpr uint8_t kRunActive = 1;
constexpr uint8_t kRunFlagFetchFault = 2;
constexpr uint8_t kRunGroupZero = 4;

extern CpuRunState g_run;

using OpcodeHandler = void (*)(uint32_t opcode);
extern OpcodeHandler g_dispatch[65536];

// ---- cycles ---------------------------------------------------------------------------------

constexpr int32_t RoundUp4(int32_t cycles) {
    return (cycles + 3) & ~3;
}
inline void Charge(int32_t cycles) {
    g_run.remaining -= cycles;
}
// The common end of a handler: charges the 68000 count, records it, and rounds the remaining
// budget down to the next bus slot (-2 becomes -4).
inline void Finish(int32_t cycles) {
    g_run.remaining -= cycles;
    g_run.lastCycles = static_cast<uint32_t>(cycles);
    g_run.remaining &= ~3;
}
// End of a handler whose steps were already charged in whole bus slots.
inline void FinishStepped(int32_t recorded) {
    g_run.lastCycles = static_cast<uint32_t>(recorded);
}

// ---- condition codes ------------------------------------------------------------------------

inline uint16_t PackCcr() {
    return static_cast<uint16_t>((g_run.x << 4) | ((g_run.nz < 0) << 3) |
                                 ((static_cast<uint32_t>(g_run.nz) == 0) << 2) | (g_run.v << 1) | g_run.c);
}
inline void UnpackCcr(uint16_t ccr) {
    g_run.x = (ccr >> 4) & 1;
    g_run.nz = ((ccr & kCcrN) ? INT64_MIN : 0) | ((ccr & kCcrZ) ? 0 : 1);
    g_run.v = (ccr >> 1) & 1;
    g_run.c = ccr & 1;
}

// ---- the opcode stream ----------------------------------------------------------------------

inline uint32_t Pc() {
    return static_cast<uint32_t>(g_run.ip - g_run.ipBias);
}
// Moves the PC without a region check: for callers that look the region up next or have
// sent the dispatch the slow way.
inline void SetPc(uint32_t pc) {
    g_run.ip = g_run.ipBias + pc;
}
inline void ForceSlowFetch() {
    g_run.ipLimit = 0;
}

// Reads the word at PC and advances PC past it. The dispatch made sure the whole instruction
// lies in host memory (see FetchLookup), so there is no check here.
inline uint16_t FetchWord() {
    const uintptr_t ip = g_run.ip;
    g_run.ip = ip + 2;
    return LoadHostWord(reinterpret_cast<const uint8_t*>(ip));
}
inline uint32_t FetchLong() {
    const uint32_t high = FetchWord();
    return (high << 16) | FetchWord();
}
// Reads the word at `address` of the opcode stream without moving PC (for the prefetch).
uint16_t PeekProgramWord(uint32_t address);

// Looks `pc` up in the fetch table and makes it the PC; a miss sets the fetch fault flag.
void FetchLookup(uint32_t pc);
// The opcode for the next dispatch: the captured prefetch when the override is set, else the
// word at PC; PC advances by 2. Halted and faulted states are resolved here too.
uint16_t FetchOpcodeSlow();

// ---- mode switches and exceptions -----------------------------------------------------------

// Writes SR: switches stacks and region tables when S changes, and unpacks the CCR.
void SetSr(uint16_t value);
// The normal exception entry (6-byte frame). The caller charges the cycles.
void EnterException(int vector);
// Bus error (2) or address error (3) with its 14-byte frame; charges 56 cycles.
void EnterGroupZero(int vector, uint32_t accessAddress);
// Exceptions an instruction raises with the PC of the instruction itself pushed
// (illegal, line A, line F, privilege violation): steps back over the opcode, enters and
// charges 34.
void RaiseInstructionException(int vector);
// True when the mask allows a pending level (or level 7 is pending).
inline bool InterruptDue() {
    const uint32_t levels = g_cpu.pending & 0xFE;
    const uint32_t mask = (g_cpu.sr >> 8) & 7;
    return (levels >> (mask + 1)) != 0 || (levels & 0x80) != 0;
}
// Takes the highest allowed pending interrupt, charging 56 cycles.
void AcknowledgeInterrupt();
// Called by SR writes (MOVE to SR, ANDI/ORI/EORI to SR) at the end of the instruction: a
// pending interrupt the new mask allows, or a newly set T bit, is dealt with at once.
void AfterSrWrite();
// A relative branch to an odd address: the address error at the target, then the branch's
// own cycles. Kept out of line so that the branches' common path stays small.
[[gnu::noinline, gnu::cold]] void BranchToOddAddress(uintptr_t from, int32_t displacement, int32_t cycles);
// Halts the processor (double fault).
void Halt();
// Ends the dropping of accesses after a group 0 exception.
void EndSuppression();
// Between runs: enters an exception at once, charging its cycles to the clock.
void EnterExceptionBetweenRuns(int vector, int32_t cycles);

inline bool Supervisor() {
    return (g_cpu.sr & kSrSupervisor) != 0;
}

}  // namespace vexil

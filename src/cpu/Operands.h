// Operand sizes, addressing modes and effective addresses for the instruction handlers.
// Handlers are templates over size and mode, so every table entry is straight-line code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu/Bus.h"
#include "cpu/CpuCore.h"

namespace vexil {

enum Size : int { kByte = 1, kWord = 2, kLong = 4 };

// Effective address modes; mode 7 is split by its register field.
enum Mode : int {
    kDn,       // Dn
    kAn,       // An
    kInd,      // (An)
    kPostInc,  // (An)+
    kPreDec,   // -(An)
    kDisp,     // (d16,An)
    kIndex,    // (d8,An,Xn)
    kAbsW,     // (xxx).W
    kAbsL,     // (xxx).L
    kPcDisp,   // (d16,PC)
    kPcIndex,  // (d8,PC,Xn)
    kImm,      // #imm
    kNoMode,   // the instruction has no such operand
};
constexpr int kModeCount = 13;

constexpr uint32_t Bit(Mode m) {
    return 1u << m;
}
constexpr uint32_t kAllModes = (1u << 12) - 1;
constexpr uint32_t kDataModes = kAllModes & ~Bit(kAn);
constexpr uint32_t kMemoryModes = kDataModes & ~Bit(kDn);
constexpr uint32_t kControlModes =
    Bit(kInd) | Bit(kDisp) | Bit(kIndex) | Bit(kAbsW) | Bit(kAbsL) | Bit(kPcDisp) | Bit(kPcIndex);
constexpr uint32_t kAlterableModes = kAllModes & ~(Bit(kPcDisp) | Bit(kPcIndex) | Bit(kImm));
constexpr uint32_t kDataAlterableModes = kAlterableModes & ~Bit(kAn);
constexpr uint32_t kMemoryAlterableModes = kDataAlterableModes & ~Bit(kDn);
constexpr uint32_t kNoModes = Bit(kNoMode);

constexpr bool IsMemory(Mode m) {
    return m != kDn && m != kAn && m != kImm && m != kNoMode;
}

// ---- size arithmetic ------------------------------------------------------------------------

template <Size S>
constexpr uint32_t kMaskOf = S == kByte   ? 0xFFu
                             : S == kWord ? 0xFFFFu
                                          : 0xFFFFFFFFu;
template <Size S>
constexpr uint32_t kMsbOf = S == kByte   ? 0x80u
                            : S == kWord ? 0x8000u
                                         : 0x80000000u;
template <Size S>
constexpr int kWordsOf = S == kLong ? 2 : 1;

template <Size S>
inline int32_t SignExtend(uint32_t v) {
    if constexpr (S == kByte)
        return static_cast<int8_t>(v);
    else if constexpr (S == kWord)
        return static_cast<int16_t>(v);
    else
        return static_cast<int32_t>(v);
}

// Registers numbered as index words and MOVEM masks number them: D0-D7, then A0-A7 (the two
// arrays lie next to each other).
inline uint32_t& Register(unsigned index) {
    static_assert(offsetof(CpuState, a) == offsetof(CpuState, d) + sizeof g_cpu.d);
    return *reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(&g_cpu) + offsetof(CpuState, d) + 4 * index);
}

// Register access at an operand size: writes keep the register's upper bits.
template <Size S>
inline uint32_t D(unsigned n) {
    return g_cpu.d[n] & kMaskOf<S>;
}
template <Size S>
inline void SetD(unsigned n, uint32_t v) {
    g_cpu.d[n] = (g_cpu.d[n] & ~kMaskOf<S>) | (v & kMaskOf<S>);
}

// N and Z from a result of size S; V and C cleared.
template <Size S>
inline void SetLogicFlags(uint32_t result) {
    g_run.nz = SignExtend<S>(result);
    g_run.v = 0;
    g_run.c = 0;
}

// Z from a value (set when it is 0), N kept.
inline void SetZ(uint32_t value) {
    g_run.nz = (g_run.nz & INT64_MIN) | value;
}

// ---- effective address timing (68000 tables) -----------------------------------------------

template <Size S, Mode M>
constexpr int kEaCycles = [] {
    constexpr int word[] = {0, 0, 4, 4, 6, 8, 10, 8, 12, 8, 10, 4, 0};
    constexpr int lng[] = {0, 0, 8, 8, 10, 12, 14, 12, 16, 12, 14, 8, 0};
    return S == kLong ? lng[M] : word[M];
}();

// ---- memory by size -------------------------------------------------------------------------

template <Size S>
[[gnu::always_inline]] inline uint32_t Read(uint32_t address) {
    if constexpr (S == kByte)
        return ReadByte(address);
    else if constexpr (S == kWord)
        return ReadWord(address);
    else
        return ReadLong(address);
}
template <Size S>
[[gnu::always_inline]] inline void Write(uint32_t address, uint32_t v) {
    if constexpr (S == kByte)
        WriteByte(address, static_cast<uint8_t>(v));
    else if constexpr (S == kWord)
        WriteWord(address, static_cast<uint16_t>(v));
    else
        WriteLong(address, v);
}

// ---- effective addresses --------------------------------------------------------------------

// Brief extension word: index register, size and 8-bit displacement (no scale on the 68000).
inline uint32_t IndexedAddress(uint32_t base) {
    const uint16_t ext = FetchWord();
    const uint32_t xn = Register(ext >> 12);
    const int32_t index = (ext & 0x0800) ? static_cast<int32_t>(xn) : static_cast<int16_t>(xn);
    return base + static_cast<uint32_t>(index) + static_cast<uint32_t>(static_cast<int8_t>(ext & 0xFF));
}

// (An)+ and -(An) step by the operand size, except that byte steps of A7 are 2.
template <Size S>
constexpr uint32_t StepOf(unsigned reg) {
    return (S == kByte && reg == 7) ? 2 : S;
}

// The address of a memory operand, with the side effects of (An)+ and -(An).
template <Size S, Mode M>
inline uint32_t EaAddress(unsigned reg) {
    static_assert(IsMemory(M));
    if constexpr (M == kInd)
        return g_cpu.a[reg];
    else if constexpr (M == kPostInc) {
        const uint32_t a = g_cpu.a[reg];
        g_cpu.a[reg] = a + StepOf<S>(reg);
        return a;
    } else if constexpr (M == kPreDec)
        return g_cpu.a[reg] -= StepOf<S>(reg);
    else if constexpr (M == kDisp)
        return g_cpu.a[reg] + static_cast<uint32_t>(static_cast<int16_t>(FetchWord()));
    else if constexpr (M == kIndex)
        return IndexedAddress(g_cpu.a[reg]);
    else if constexpr (M == kAbsW)
        return static_cast<uint32_t>(static_cast<int16_t>(FetchWord()));
    else if constexpr (M == kAbsL)
        return FetchLong();
    else if constexpr (M == kPcDisp) {
        const uint32_t base = Pc();
        return base + static_cast<uint32_t>(static_cast<int16_t>(FetchWord()));
    } else {
        static_assert(M == kPcIndex);
        return IndexedAddress(Pc());
    }
}

// The address of an instruction's second memory operand. When an access before it faulted,
// the exception frame lies on the supervisor stack, and the (An)+ or -(An) step must not move A7
// off it: the operand is not addressed (its accesses are dropped anyway).
template <Size S, Mode M>
inline uint32_t SecondEaAddress(unsigned reg, uint32_t faults) {
    if (faults != g_run.groupZeroCount) [[unlikely]]
        return 0;
    return EaAddress<S, M>(reg);
}

// An immediate operand of size S.
template <Size S>
inline uint32_t FetchImmediate() {
    if constexpr (S == kLong)
        return FetchLong();
    else if constexpr (S == kByte)
        return FetchWord() & 0xFF;
    else
        return FetchWord();
}

// Reads a source operand (any mode); memory operands go through the bus.
template <Size S, Mode M>
inline uint32_t ReadEa(unsigned reg) {
    if constexpr (M == kDn)
        return D<S>(reg);
    else if constexpr (M == kAn)
        return g_cpu.a[reg] & kMaskOf<S>;
    else if constexpr (M == kImm)
        return FetchImmediate<S>();
    else
        return Read<S>(EaAddress<S, M>(reg));
}

// A destination operand resolved once, read and written through the same location.
template <Size S, Mode M>
struct Operand {
    unsigned reg;
    uint32_t address = 0;
    explicit Operand(unsigned r) : reg(r) {
        if constexpr (IsMemory(M)) address = EaAddress<S, M>(r);
    }
    uint32_t Get() const {
        if constexpr (M == kDn)
            return D<S>(reg);
        else if constexpr (M == kAn)
            return g_cpu.a[reg];
        else
            return Read<S>(address);
    }
    void Set(uint32_t v) const {
        if constexpr (M == kDn)
            SetD<S>(reg, v);
        else if constexpr (M == kAn)
            g_cpu.a[reg] = v;
        else
            Write<S>(address, v);
    }
};

// ---- charging in steps around memory accesses ------------------------------------------------
// Families that time their accesses to the bus cycle: the part of the effective address time
// before the operand read is charged first, rounded up to a bus slot, then the read happens;
// a write comes as the last bus cycles of the instruction.

// Cycles of the source effective address before its data is read.
template <Size S, Mode M>
constexpr int kBeforeRead = IsMemory(M) ? kEaCycles<S, M> - 4 * kWordsOf<S> : kEaCycles<S, M>;

// Captures the two words after the instruction before a write to memory; the next dispatch
// then takes its opcode from the capture. When an access of the instruction has entered a bus
// or address error, the end of the suppression drops the capture, so the handler runs next.
inline void CapturePrefetch() {
    const uint32_t pc = Pc();
    g_run.prefetched[0] = PeekProgramWord(pc);
    g_run.prefetched[1] = PeekProgramWord(pc + 2);
}
inline void UsePrefetch() {
    g_run.prefetchOverride = 1;
    ForceSlowFetch();
}

// ---- shared by several families ------------------------------------------------------------

// A condition known when the handler is built: only the flags it needs are read.
template <unsigned Cc>
inline bool Condition() {
    const auto n = [] { return g_run.nz < 0; };
    const auto z = [] { return static_cast<uint32_t>(g_run.nz) == 0; };
    const auto v = [] { return g_run.v != 0; };
    const auto c = [] { return g_run.c != 0; };
    if constexpr (Cc == 0)
        return true;
    else if constexpr (Cc == 1)
        return false;
    else if constexpr (Cc == 2)
        return !c() && !z();
    else if constexpr (Cc == 3)
        return c() || z();
    else if constexpr (Cc == 4)
        return !c();
    else if constexpr (Cc == 5)
        return c();
    else if constexpr (Cc == 6)
        return !z();
    else if constexpr (Cc == 7)
        return z();
    else if constexpr (Cc == 8)
        return !v();
    else if constexpr (Cc == 9)
        return v();
    else if constexpr (Cc == 10)
        return !n();
    else if constexpr (Cc == 11)
        return n();
    else if constexpr (Cc == 12)
        return n() == v();
    else if constexpr (Cc == 13)
        return n() != v();
    else if constexpr (Cc == 14)
        return !z() && n() == v();
    else
        return z() || n() != v();
}

// Condition codes 0-15 (T F HI LS CC CS NE EQ VC VS PL MI GE LT GT LE).
inline bool ConditionTrue(unsigned cc) {
    const bool n = g_run.nz < 0, z = static_cast<uint32_t>(g_run.nz) == 0, v = g_run.v != 0, c = g_run.c != 0;
    switch (cc & 15) {
        case 0:
            return true;
        case 1:
            return false;
        case 2:
            return !c && !z;
        case 3:
            return c || z;
        case 4:
            return !c;
        case 5:
            return c;
        case 6:
            return !z;
        case 7:
            return z;
        case 8:
            return !v;
        case 9:
            return v;
        case 10:
            return !n;
        case 11:
            return n;
        case 12:
            return n == v;
        case 13:
            return n != v;
        case 14:
            return !z && n == v;
        default:
            return z || n != v;
    }
}

// Makes the host address `ip` the PC. Above the region the dispatch's own check catches it;
// below it the next dispatch is sent the slow way, to look the new region up.
inline void JumpToHost(uintptr_t ip) {
    g_run.ip = ip;
    if (ip < g_run.ipLow) ForceSlowFetch();
}
// A jump to an odd address is an address error at the target.
inline void JumpTo(uint32_t target) {
    if (target & 1) [[unlikely]] {
        EnterGroupZero(3, target);
        return;
    }
    JumpToHost(g_run.ipBias + target);
}
// A jump by an even `displacement` from the host address `from` in the current region (the
// relative branches).
inline void JumpBy(uintptr_t from, int32_t displacement) {
    JumpToHost(from + static_cast<uintptr_t>(static_cast<intptr_t>(displacement)));
}

// Supervisor-only instructions call this first; false means the violation was taken.
inline bool RequireSupervisor() {
    if (Supervisor()) return true;
    RaiseInstructionException(8);
    return false;
}

}  // namespace vexil

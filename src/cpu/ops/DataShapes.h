// The two operand shapes that ADD, SUB, CMP, AND and OR share: <ea> op Dn -> Dn, and
// Dn op <ea> -> <ea> with a memory destination. Both charge in bus slots around their
// accesses. Only the files under ops/ include this one.
//
// An operation is a struct with
//   kWritesBack                              false for CMP, which only sets the flags
//   template <Size S> Apply(dst, src)        the result of size S, flags set
//   template <Size S, Mode M> kToRegCycles   the register form's count without the ea time
//                                            (kAluToRegCycles but for CMP)
#pragma once

#include "cpu/OpcodeTable.h"

namespace vexil {

// ADD.L, SUB.L, AND.L, OR.L to a register and ADDA.L take 2 more cycles than the word forms from
// memory, 4 more from a register or an immediate.
template <Mode M>
constexpr int kLongExtra = (M == kDn || M == kAn || M == kImm) ? 4 : 2;
template <Size S, Mode M>
constexpr int kAluToRegCycles = S == kLong ? 4 + kLongExtra<M> : 4;

// <ea> op Dn -> Dn. The read is timed after the address calculation.
template <typename Op>
struct ToRegister {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        constexpr int total = Op::template kToRegCycles<S, M> + kEaCycles<S, M>;
        constexpr int beforeRead = kBeforeRead<S, M>;
        if constexpr (beforeRead != 0) Charge(RoundUp4(beforeRead));
        const uint32_t src = ReadEa<S, M>(op & 7);
        const unsigned dn = (op >> 9) & 7;
        const uint32_t result = Op::template Apply<S>(D<S>(dn), src);
        if constexpr (Op::kWritesBack) SetD<S>(dn, result);
        Charge(RoundUp4(total - beforeRead));
        FinishStepped(total);
    }
};

// Dn op <ea> -> <ea>: read, modify, write; the write is the last bus cycle(s). The next
// opcode was prefetched before the write, so a write over it does not change what runs next.
// When the read or the write faults, the prefetch is dropped where the fault's handler is
// taken up (EndSuppression): the next opcode is the handler's.
template <typename Op>
struct ToMemory {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        constexpr int total = (S == kLong ? 12 : 8) + kEaCycles<S, M>;
        constexpr int beforeRead = kBeforeRead<S, M>;
        constexpr int write = 4 * kWordsOf<S>;
        if constexpr (beforeRead != 0) Charge(RoundUp4(beforeRead));
        const uint32_t address = EaAddress<S, M>(op & 7);
        const uint32_t result = Op::template Apply<S>(Read<S>(address), D<S>((op >> 9) & 7));
        CapturePrefetch();
        Charge(RoundUp4(total - beforeRead - write));
        Write<S>(address, result);
        Charge(write);
        UsePrefetch();
        FinishStepped(total);
    }
};

}  // namespace vexil

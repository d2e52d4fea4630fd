// Logic: AND, OR, EOR, NOT and their immediate forms.
#include "cpu/OpcodeTable.h"

namespace vexil {
namespace {

// <ea> op Dn -> Dn. The read is timed after the address calculation.
template <typename Op>
struct LogicToReg {
    template <Size S, Mode M, Mode>
    static void Run(uint16_t op) {
        constexpr int extra = (S == kLong) ? ((M == kDn || M == kImm) ? 4 : 2) : 0;
        constexpr int total = 4 + extra + kEaCycles<S, M>;
        constexpr int beforeRead = kBeforeRead<S, M>;
        if constexpr (beforeRead != 0) Charge(RoundUp4(beforeRead));
        const uint32_t src = ReadEa<S, M>(op & 7);
        const unsigned dn = (op >> 9) & 7;
        const uint32_t result = Op::Apply(D<S>(dn), src) & kMaskOf<S>;
        SetD<S>(dn, result);
        SetLogicFlags<S>(result);
        Charge(RoundUp4(total - beforeRead));
        FinishStepped(total);
    }
};

// Dn op <ea> -> <ea>: read, modify, write; the write is the last bus cycle(s). The next
// opcode was prefetched before the write, so a write over it does not change what runs next.
template <typename Op>
struct LogicToMem {
    template <Size S, Mode M, Mode>
    static void Run(uint16_t op) {
        constexpr int total = (S == kLong ? 12 : 8) + kEaCycles<S, M>;
        constexpr int beforeRead = kBeforeRead<S, M>;
        constexpr int write = 4 * kWordsOf<S>;
        if constexpr (beforeRead != 0) Charge(RoundUp4(beforeRead));
        const uint32_t address = EaAddress<S, M>(op & 7);
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t result = Op::Apply(Read<S>(address), D<S>((op >> 9) & 7)) & kMaskOf<S>;
        SetLogicFlags<S>(result);
        CapturePrefetch();
        Charge(RoundUp4(total - beforeRead - write));
        Write<S>(address, result);
        Charge(write);
        if (faults == g_run.groupZeroCount) UsePrefetch();
        FinishStepped(total);
    }
};

struct OrOp {
    static uint32_t Apply(uint32_t a, uint32_t b) { return a | b; }
};

}  // namespace

void AddLogicRows() {
    Row<LogicToReg<OrOp>, kBWL, kDataModes>("1000 rrr0 ssmm mxxx", "OR");
    Row<LogicToMem<OrOp>, kBWL, kMemoryAlterableModes>("1000 rrr1 ssmm mxxx", "OR");
}

}  // namespace vexil

// Logic: AND, OR, EOR, NOT and their immediate forms, including those to CCR and SR.
#include "cpu/OpcodeTable.h"

namespace vexil {
namespace {

// <ea> op Dn -> Dn. The read is timed after the address calculation.
template <typename Op>
struct LogicToReg {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
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
    static void Run(uint32_t op) {
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

// EOR Dn,<ea>: the register form costs 4 (8 long); memory forms are those of LogicToMem.
template <typename Op>
struct LogicToEa {
    template <Size S, Mode M, Mode Unused>
    static void Run(uint32_t op) {
        if constexpr (M == kDn) {
            constexpr int total = S == kLong ? 8 : 4;
            const unsigned dn = op & 7;
            const uint32_t result = Op::Apply(D<S>(dn), D<S>((op >> 9) & 7)) & kMaskOf<S>;
            SetD<S>(dn, result);
            SetLogicFlags<S>(result);
            Charge(total);
            FinishStepped(total);
        } else {
            LogicToMem<Op>::template Run<S, M, Unused>(op);
        }
    }
};

// #imm op <ea> -> <ea> (ORI, ANDI, EORI): the immediate first, then the operand; the whole
// cost is charged after the accesses.
template <typename Op>
struct LogicImmediate {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t imm = FetchImmediate<S>();
        if constexpr (M == kDn) {
            const unsigned dn = op & 7;
            const uint32_t result = Op::Apply(D<S>(dn), imm) & kMaskOf<S>;
            SetD<S>(dn, result);
            SetLogicFlags<S>(result);
            Finish(S == kLong ? Op::kLongToRegCycles : 8);
        } else {
            const uint32_t address = EaAddress<S, M>(op & 7);
            const uint32_t result = Op::Apply(Read<S>(address), imm) & kMaskOf<S>;
            SetLogicFlags<S>(result);
            Write<S>(address, result);
            Finish((S == kLong ? 20 : 12) + kEaCycles<S, M>);
        }
    }
};

struct Not {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        if constexpr (M == kDn) {
            const unsigned dn = op & 7;
            const uint32_t result = ~D<S>(dn) & kMaskOf<S>;
            SetD<S>(dn, result);
            SetLogicFlags<S>(result);
            Finish(S == kLong ? 6 : 4);
        } else {
            const uint32_t address = EaAddress<S, M>(op & 7);
            const uint32_t result = ~Read<S>(address) & kMaskOf<S>;
            SetLogicFlags<S>(result);
            Write<S>(address, result);
            Finish((S == kLong ? 12 : 8) + kEaCycles<S, M>);
        }
    }
};

// ORI/ANDI/EORI to CCR: only X N Z V C exist, the upper bits of the immediate are dropped.
template <typename Op>
struct LogicToCcr {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        const uint16_t imm = FetchWord();
        UnpackCcr(static_cast<uint16_t>(Op::Apply(PackCcr(), imm) & 0x1F));
        Finish(20);
    }
};

// ORI/ANDI/EORI to SR (privileged). A new mask or T bit takes effect before the next
// instruction, through the run's start checks.
template <typename Op>
struct LogicToSr {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        if (!RequireSupervisor()) return;
        const uint16_t imm = FetchWord();
        SetSr(static_cast<uint16_t>(Op::Apply(CpuGetSr(), imm)));
        Finish(20);
        AfterSrWrite();
    }
};

struct OrOp {
    static constexpr int kLongToRegCycles = 16;
    static uint32_t Apply(uint32_t a, uint32_t b) { return a | b; }
};
struct AndOp {
    static constexpr int kLongToRegCycles = 14;
    static uint32_t Apply(uint32_t a, uint32_t b) { return a & b; }
};
struct EorOp {
    static constexpr int kLongToRegCycles = 16;
    static uint32_t Apply(uint32_t a, uint32_t b) { return a ^ b; }
};

}  // namespace

void AddLogicRows() {
    Row<LogicToReg<OrOp>, kBWL, kDataModes>("1000 rrr0 ssmm mxxx", "OR");
    Row<LogicToMem<OrOp>, kBWL, kMemoryAlterableModes>("1000 rrr1 ssmm mxxx", "OR");
    Row<LogicToReg<AndOp>, kBWL, kDataModes>("1100 rrr0 ssmm mxxx", "AND");
    Row<LogicToMem<AndOp>, kBWL, kMemoryAlterableModes>("1100 rrr1 ssmm mxxx", "AND");
    Row<LogicToEa<EorOp>, kBWL, kDataAlterableModes>("1011 rrr1 ssmm mxxx", "EOR");
    Row<Not, kBWL, kDataAlterableModes>("0100 0110 ssmm mxxx", "NOT");

    Row<LogicImmediate<OrOp>, kBWL, kDataAlterableModes>("0000 0000 ssmm mxxx", "ORI");
    Row<LogicImmediate<AndOp>, kBWL, kDataAlterableModes>("0000 0010 ssmm mxxx", "ANDI");
    Row<LogicImmediate<EorOp>, kBWL, kDataAlterableModes>("0000 1010 ssmm mxxx", "EORI");
    Row<LogicToCcr<OrOp>>("0000 0000 0011 1100", "ORI to CCR");
    Row<LogicToSr<OrOp>>("0000 0000 0111 1100", "ORI to SR");
    Row<LogicToCcr<AndOp>>("0000 0010 0011 1100", "ANDI to CCR");
    Row<LogicToSr<AndOp>>("0000 0010 0111 1100", "ANDI to SR");
    Row<LogicToCcr<EorOp>>("0000 1010 0011 1100", "EORI to CCR");
    Row<LogicToSr<EorOp>>("0000 1010 0111 1100", "EORI to SR");
}

}  // namespace vexil

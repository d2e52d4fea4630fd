// Logic: AND, OR, EOR, NOT and their immediate forms, including those to CCR and SR.
#include "cpu/ops/DataShapes.h"

namespace vexil {
namespace {

// AND, OR and EOR in the shapes of ADD and SUB (DataShapes.h): N and Z from the result, V and
// C cleared; the register form from memory costs as ADD's.
template <typename Bitwise>
struct LogicOp {
    static constexpr bool kWritesBack = true;
    template <Size S>
    static uint32_t Apply(uint32_t dst, uint32_t src) {
        const uint32_t result = Bitwise::Apply(dst, src) & kMaskOf<S>;
        SetLogicFlags<S>(result);
        return result;
    }
    template <Size S, Mode M>
    static constexpr int kToRegCycles = kAluToRegCycles<S, M>;
};

// EOR Dn,<ea>: the register form costs 4 (8 long); memory forms are those of AND and OR.
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
            ToMemory<LogicOp<Op>>::template Run<S, M, Unused>(op);
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
    Row<ToRegister<LogicOp<OrOp>>, kBWL, kDataModes>("1000 rrr0 ssmm mxxx", "OR");
    Row<ToMemory<LogicOp<OrOp>>, kBWL, kMemoryAlterableModes>("1000 rrr1 ssmm mxxx", "OR");
    Row<ToRegister<LogicOp<AndOp>>, kBWL, kDataModes>("1100 rrr0 ssmm mxxx", "AND");
    Row<ToMemory<LogicOp<AndOp>>, kBWL, kMemoryAlterableModes>("1100 rrr1 ssmm mxxx", "AND");
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

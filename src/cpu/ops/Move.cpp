// Data movement: MOVE, MOVEA, MOVEQ.
#include "cpu/OpcodeTable.h"

namespace vexil {
namespace {

// MOVE's destination times: -(An) costs no more than (An) here.
template <Size S, Mode D>
constexpr int kMoveDestCycles = D == kPreDec ? kEaCycles<S, kInd> : kEaCycles<S, D>;

// MOVE times its accesses to the bus: the source is read after its address calculation, the
// write is the last bus cycle(s) of the instruction.
struct Move {
    template <Size S, Mode M, Mode D>
    static void Run(uint16_t op) {
        // An EXG just before shares its last bus slot with these source modes.
        if constexpr (M == kPreDec || M == kIndex || M == kPcIndex) g_run.remaining += g_run.pairingCredit;
        g_run.pairingCredit = 0;
        constexpr int total = 4 + kEaCycles<S, M> + kMoveDestCycles<S, D>;
        constexpr int beforeRead = kBeforeRead<S, M>;
        if constexpr (beforeRead != 0) Charge(RoundUp4(beforeRead));
        const uint32_t value = ReadEa<S, M>(op & 7);
        const unsigned dest = (op >> 9) & 7;
        if constexpr (D == kDn) {
            SetD<S>(dest, value);
            SetLogicFlags<S>(value);
            Charge(RoundUp4(total - beforeRead));
        } else {
            constexpr int write = 4 * kWordsOf<S>;
            const uint32_t address = EaAddress<S, D>(dest);
            SetLogicFlags<S>(value);
            Charge(RoundUp4(total - beforeRead - write));
            Write<S>(address, value);
            Charge(write);
        }
        FinishStepped(total);
    }
};

struct MoveA {
    template <Size S, Mode M, Mode>
    static void Run(uint16_t op) {
        const uint32_t value = ReadEa<S, M>(op & 7);
        g_cpu.a[(op >> 9) & 7] = static_cast<uint32_t>(SignExtend<S>(value));
        Finish(4 + kEaCycles<S, M>);
    }
};

struct MoveQ {
    template <Size, Mode, Mode>
    static void Run(uint16_t op) {
        const uint32_t value = static_cast<uint32_t>(static_cast<int8_t>(op & 0xFF));
        g_cpu.d[(op >> 9) & 7] = value;
        SetLogicFlags<kLong>(value);
        Finish(4);
    }
};

}  // namespace

void AddMoveRows() {
    Row<Move, kBWL, kAllModes & ~Bit(kAn), kDataAlterableModes>("00zz XXXM MMmm mxxx", "MOVE");
    Row<Move, kWL, Bit(kAn), kDataAlterableModes>("00zz XXXM MMmm mxxx", "MOVE");
    // The byte MOVE from an address register, which the 68000 rejects, runs like any other.
    Row<Move, kB, Bit(kAn), kDataAlterableModes>("00zz XXXM MMmm mxxx", "MOVE.B An");
    Row<MoveA, kWL, kAllModes>("00zz rrr0 01mm mxxx", "MOVEA");
    Row<MoveQ>("0111 rrr0 dddd dddd", "MOVEQ");
}

}  // namespace vexil

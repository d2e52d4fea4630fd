// Data movement: MOVE, MOVEA, MOVEQ, MOVEM, MOVEP, LEA, PEA, EXT, SWAP, TAS, Scc and the
// moves to and from SR, CCR and USP.
#include <bit>

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
    static void Run(uint32_t op) {
        // An EXG just before shares its last bus slot with these source modes.
        if constexpr (M == kPreDec || M == kIndex || M == kPcIndex) g_run.remaining += g_run.pairingCredit;
        g_run.pairingCredit = 0;
        constexpr int total = 4 + kEaCycles<S, M> + kMoveDestCycles<S, D>;
        constexpr int beforeRead = kBeforeRead<S, M>;
        if constexpr (beforeRead != 0) Charge(RoundUp4(beforeRead));
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t value = ReadEa<S, M>(op & 7);
        const unsigned dest = (op >> 9) & 7;
        if constexpr (D == kDn) {
            SetD<S>(dest, value);
            SetLogicFlags<S>(value);
            Charge(RoundUp4(total - beforeRead));
        } else {
            constexpr int write = 4 * kWordsOf<S>;
            // A source access that faulted has put its exception frame on the supervisor
            // stack: the destination's (An)+ or -(An) step must not move A7 off it.
            constexpr bool guarded = IsMemory(M) && (D == kPostInc || D == kPreDec);
            uint32_t address = 0;
            if (!guarded || faults == g_run.groupZeroCount) address = EaAddress<S, D>(dest);
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
    static void Run(uint32_t op) {
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t value = ReadEa<S, M>(op & 7);
        // After a faulting read A7 is the stack holding the exception frame: leave it be.
        if (!IsMemory(M) || faults == g_run.groupZeroCount)
            g_cpu.a[(op >> 9) & 7] = static_cast<uint32_t>(SignExtend<S>(value));
        Finish(4 + kEaCycles<S, M>);
    }
};

struct MoveQ {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
        const uint32_t value = static_cast<uint32_t>(static_cast<int8_t>(op & 0xFF));
        g_cpu.d[(op >> 9) & 7] = value;
        SetLogicFlags<kLong>(value);
        Finish(4);
    }
};

// ---- MOVEM ----------------------------------------------------------------------------------
// The mask word names D0-D7 in bits 0-7 and A0-A7 in bits 8-15; for registers to -(An) the
// order is reversed (bit 0 = A7). The cost is a base plus 4 per word or 8 per long register;
// the last instruction cycles hold the base only. A transfer that faults (address or bus
// error) ends the instruction: one exception frame, not one per register.

// When the largest transfer from `address` lies in directly mapped memory, the registers move
// without a lookup per access (no access there can fault or reach a handler).
template <Size S>
constexpr uint32_t kMovemSpan = 16 * S;

template <Size S>
inline uint32_t LoadMovem(const uint8_t* host) {
    if constexpr (S == kLong)
        return LoadHostLong(host);
    else
        return static_cast<uint32_t>(static_cast<int16_t>(LoadHostWord(host)));
}
template <Size S>
inline void StoreMovem(uint8_t* host, uint32_t value) {
    if constexpr (S == kLong)
        StoreHostLong(host, value);
    else
        StoreHostWord(host, static_cast<uint16_t>(value));
}

template <Size S>
inline void FinishMovem(int base, int registers) {
    g_run.remaining -= base + registers * 4 * kWordsOf<S>;
    g_run.lastCycles = static_cast<uint32_t>(base);
    g_run.remaining &= ~3;
}

// Base times, registers to memory:  (An) -(An) (d16,An) (d8,An,Xn) (xxx).W (xxx).L
//                                    8    8     12       14         12      16
template <Mode M>
constexpr int kMovemToMemBase = M == kIndex                  ? 14
                                : M == kAbsL                 ? 16
                                : (M == kDisp || M == kAbsW) ? 12
                                                             : 8;

// Base times, memory to registers:  (An) (An)+ (d16,An) (d8,An,Xn) (xxx).W (xxx).L
//                                    12   12    16       18         16      20
// (d16,PC) and (d8,PC,Xn) cost as their An forms.
template <Mode M>
constexpr int kMovemToRegBase = (M == kIndex || M == kPcIndex) ? 18
                                : M == kAbsL                   ? 20
                                : (M == kInd || M == kPostInc) ? 12
                                                               : 16;

struct MovemToMem {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint16_t mask = FetchWord();
        const unsigned an = op & 7;
        const uint32_t faults = g_run.groupZeroCount;
        int moved = 0;
        if constexpr (M == kPreDec) {
            // A7 first, each register below the one before; a listed An is stored with its
            // value before the instruction.
            uint32_t address = g_cpu.a[an];
            if (uint8_t* host =
                    DirectSpan(*g_cpu.current.writeWord, address - kMovemSpan<S>, kMovemSpan<S>)) {
                host += kMovemSpan<S>;
                for (unsigned bits = mask; bits != 0; bits &= bits - 1) {
                    host -= S;
                    StoreMovem<S>(host, Register(15 - std::countr_zero(bits)));
                    ++moved;
                }
                g_cpu.a[an] = address - static_cast<uint32_t>(moved * S);
                return FinishMovem<S>(kMovemToMemBase<M>, moved);
            }
            for (unsigned bits = mask; bits != 0; bits &= bits - 1) {
                address -= S;
                Write<S>(address, Register(15 - std::countr_zero(bits)));
                ++moved;
                if (faults != g_run.groupZeroCount) break;
            }
            if (faults == g_run.groupZeroCount) g_cpu.a[an] = address;
        } else {
            uint32_t address = EaAddress<S, M>(an);
            if (uint8_t* host = DirectSpan(*g_cpu.current.writeWord, address, kMovemSpan<S>)) {
                for (unsigned bits = mask; bits != 0; bits &= bits - 1, host += S, ++moved)
                    StoreMovem<S>(host, Register(std::countr_zero(bits)));
                return FinishMovem<S>(kMovemToMemBase<M>, moved);
            }
            for (unsigned bits = mask; bits != 0; bits &= bits - 1) {
                Write<S>(address, Register(std::countr_zero(bits)));
                address += S;
                ++moved;
                if (faults != g_run.groupZeroCount) break;
            }
        }
        FinishMovem<S>(kMovemToMemBase<M>, moved);
    }
};

struct MovemToReg {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint16_t mask = FetchWord();
        const unsigned an = op & 7;
        const uint32_t faults = g_run.groupZeroCount;
        uint32_t address;
        if constexpr (M == kPostInc)
            address = g_cpu.a[an];
        else
            address = EaAddress<S, M>(an);
        int moved = 0;
        if (const uint8_t* host = DirectSpan(*g_cpu.current.readWord, address, kMovemSpan<S>)) {
            // Word loads fill the whole register, data registers too.
            for (unsigned bits = mask; bits != 0; bits &= bits - 1, host += S, ++moved)
                Register(std::countr_zero(bits)) = LoadMovem<S>(host);
            if constexpr (M == kPostInc) g_cpu.a[an] = address + static_cast<uint32_t>(moved * S);
            return FinishMovem<S>(kMovemToRegBase<M>, moved);
        }
        for (unsigned bits = mask; bits != 0; bits &= bits - 1) {
            // Word loads fill the whole register, data registers too.
            const uint32_t value = static_cast<uint32_t>(SignExtend<S>(Read<S>(address)));
            if (faults != g_run.groupZeroCount) break;
            Register(std::countr_zero(bits)) = value;
            address += S;
            ++moved;
        }
        // A listed An of (An)+ ends with the final address, not the value loaded into it.
        if constexpr (M == kPostInc)
            if (faults == g_run.groupZeroCount) g_cpu.a[an] = address;
        FinishMovem<S>(kMovemToRegBase<M>, moved);
    }
};

// ---- MOVEP ----------------------------------------------------------------------------------
// Moves bytes to or from every other address, high byte first, for 8-bit peripherals on one
// half of the data bus.

inline uint32_t PeripheralAddress(uint16_t op) {
    return g_cpu.a[op & 7] + static_cast<uint32_t>(static_cast<int16_t>(FetchWord()));
}

struct MovepToReg {
    template <Size S, Mode, Mode>
    static void Run(uint32_t op) {
        uint32_t address = PeripheralAddress(op);
        uint32_t value = 0;
        for (int i = 0; i < S; ++i, address += 2) value = (value << 8) | ReadByte(address);
        SetD<S>((op >> 9) & 7, value);
        Finish(S == kLong ? 24 : 16);
    }
};

struct MovepToMem {
    template <Size S, Mode, Mode>
    static void Run(uint32_t op) {
        uint32_t address = PeripheralAddress(op);
        const uint32_t value = g_cpu.d[(op >> 9) & 7];
        for (int shift = 8 * (S - 1); shift >= 0; shift -= 8, address += 2)
            WriteByte(address, static_cast<uint8_t>(value >> shift));
        Finish(S == kLong ? 24 : 16);
    }
};

// ---- effective addresses --------------------------------------------------------------------

// LEA times: (An) 4, (d16,An) 8, (d8,An,Xn) 16, (xxx).W 8, (xxx).L 12, (d16,PC) 8, (d8,PC,Xn) 12.
// (d8,An,Xn) idles 2 cycles before each of its two bus reads, which pushes both into the next
// slot: 16 on this machine, not the 12 of the 68000 tables. Not yet checked against hardware:
// (d8,PC,Xn) has the same bus pattern but is charged the tables' 12.
template <Mode M>
constexpr int kLeaCycles = M == kInd                       ? 4
                           : (M == kIndex)                 ? 16
                           : (M == kAbsL || M == kPcIndex) ? 12
                                                           : 8;

struct LoadAddress {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        g_cpu.a[(op >> 9) & 7] = EaAddress<kLong, M>(op & 7);
        Finish(kLeaCycles<M>);
    }
};

// PEA times: the 68000 address calculation (as LEA, indexed forms 12) plus a long push.
struct PushAddress {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t address = EaAddress<kLong, M>(op & 7);
        g_cpu.a[7] -= 4;
        WriteLong(g_cpu.a[7], address);
        Finish((M == kIndex ? 12 : kLeaCycles<M>)+8);
    }
};

// ---- register operations --------------------------------------------------------------------

// EXT.W sign-extends the low byte into the low word, EXT.L the low word into the register.
struct Extend {
    template <Size S, Mode, Mode>
    static void Run(uint32_t op) {
        const unsigned dn = op & 7;
        constexpr Size kFrom = S == kLong ? kWord : kByte;
        const uint32_t value = static_cast<uint32_t>(SignExtend<kFrom>(g_cpu.d[dn]));
        SetD<S>(dn, value);
        SetLogicFlags<S>(value);
        Finish(4);
    }
};

struct Swap {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
        const unsigned dn = op & 7;
        const uint32_t value = (g_cpu.d[dn] << 16) | (g_cpu.d[dn] >> 16);
        g_cpu.d[dn] = value;
        SetLogicFlags<kLong>(value);
        Finish(4);
    }
};

// Test and set: flags from the byte, then bit 7 set. The ST completes the read-modify-write
// cycle, so the byte is written back like on any 68000 system.
struct TestAndSet {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        const unsigned reg = op & 7;
        if constexpr (M == kDn) {
            SetLogicFlags<kByte>(D<kByte>(reg));
            g_cpu.d[reg] |= 0x80;
            Finish(4);
        } else {
            const uint32_t address = EaAddress<kByte, M>(reg);
            const uint8_t value = ReadByte(address);
            SetLogicFlags<kByte>(value);
            WriteByte(address, static_cast<uint8_t>(value | 0x80));
            Finish(10 + kEaCycles<kByte, M>);
        }
    }
};

// Scc: 0xFF when the condition holds, else 0. A data register costs 4, or 6 when the
// condition holds (the 2 extra are not recorded as the last instruction cycles); memory is
// read before it is written, as on the 68000.
struct SetIf {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint8_t value = ConditionTrue(op >> 8) ? 0xFF : 0x00;
        if constexpr (M == kDn) {
            SetD<kByte>(op & 7, value);
            g_run.remaining -= value ? 6 : 4;
            g_run.lastCycles = 4;
            g_run.remaining &= ~3;
        } else {
            const uint32_t address = EaAddress<kByte, M>(op & 7);
            ReadByte(address);
            WriteByte(address, value);
            Finish(8 + kEaCycles<kByte, M>);
        }
    }
};

// ---- status register and user stack pointer -------------------------------------------------

// An operand read that faulted leaves SR alone: the exception entry has already switched to
// supervisor mode, and a made-up value must not take the handler out of it.
struct MoveToSr {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        if (!RequireSupervisor()) return;
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t value = ReadEa<kWord, M>(op & 7);
        if (faults == g_run.groupZeroCount) SetSr(static_cast<uint16_t>(value));
        Finish(12 + kEaCycles<kWord, M>);
        AfterSrWrite();
    }
};

struct MoveToCcr {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t value = ReadEa<kWord, M>(op & 7);
        if (faults == g_run.groupZeroCount) UnpackCcr(static_cast<uint16_t>(value));
        Finish(12 + kEaCycles<kWord, M>);
    }
};

// Not privileged on the 68000. A memory destination is read before it is written.
struct MoveFromSr {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint16_t sr = CpuGetSr();
        if constexpr (M == kDn) {
            SetD<kWord>(op & 7, sr);
            Finish(6);
        } else {
            const uint32_t address = EaAddress<kWord, M>(op & 7);
            const uint32_t faults = g_run.groupZeroCount;
            ReadWord(address);
            if (faults == g_run.groupZeroCount) WriteWord(address, sr);
            Finish(8 + kEaCycles<kWord, M>);
        }
    }
};

// In supervisor mode the user stack pointer is the inactive one.
struct MoveToUsp {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
        if (!RequireSupervisor()) return;
        g_cpu.otherSp = g_cpu.a[op & 7];
        Finish(4);
    }
};

struct MoveFromUsp {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
        if (!RequireSupervisor()) return;
        g_cpu.a[op & 7] = g_cpu.otherSp;
        Finish(4);
    }
};

constexpr uint32_t kMovemToMemModes =
    Bit(kInd) | Bit(kPreDec) | Bit(kDisp) | Bit(kIndex) | Bit(kAbsW) | Bit(kAbsL);
constexpr uint32_t kMovemToRegModes = kControlModes | Bit(kPostInc);

}  // namespace

void AddMoveRows() {
    Row<Move, kBWL, kAllModes & ~Bit(kAn), kDataAlterableModes>("00zz XXXM MMmm mxxx", "MOVE");
    Row<Move, kWL, Bit(kAn), kDataAlterableModes>("00zz XXXM MMmm mxxx", "MOVE");
    // The byte MOVE from an address register, which the 68000 rejects, runs like any other.
    Row<Move, kB, Bit(kAn), kDataAlterableModes>("00zz XXXM MMmm mxxx",
                                                 "MOVE.B from an address register, BTST #n,#imm");
    Row<MoveA, kWL, kAllModes>("00zz rrr0 01mm mxxx", "MOVEA");
    Row<MoveQ>("0111 rrr0 dddd dddd", "MOVEQ");

    Row<MovemToMem, kWL, kMovemToMemModes>("0100 1000 1amm mxxx", "MOVEM registers to memory");
    Row<MovemToReg, kWL, kMovemToRegModes>("0100 1100 1amm mxxx", "MOVEM memory to registers");
    Row<MovepToReg, kWL>("0000 rrr1 0a00 1xxx", "MOVEP");
    Row<MovepToMem, kWL>("0000 rrr1 1a00 1xxx", "MOVEP");
    Row<LoadAddress, kL, kControlModes>("0100 rrr1 11mm mxxx", "LEA");
    Row<PushAddress, kL, kControlModes>("0100 1000 01mm mxxx", "PEA");
    Row<Extend, kWL>("0100 1000 1a00 0xxx", "EXT");
    Row<Swap>("0100 1000 0100 0xxx", "SWAP");
    Row<TestAndSet, kB, kDataAlterableModes>("0100 1010 11mm mxxx", "TAS");
    Row<SetIf, kB, kDataAlterableModes>("0101 cccc 11mm mxxx", "Scc");

    Row<MoveToSr, kW, kDataModes>("0100 0110 11mm mxxx", "MOVE to SR");
    Row<MoveToCcr, kW, kDataModes>("0100 0100 11mm mxxx", "MOVE to CCR");
    Row<MoveFromSr, kW, kDataAlterableModes>("0100 0000 11mm mxxx", "MOVE from SR");
    Row<MoveToUsp>("0100 1110 0110 0xxx", "MOVE to USP");
    Row<MoveFromUsp>("0100 1110 0110 1xxx", "MOVE from USP");
}

}  // namespace vexil

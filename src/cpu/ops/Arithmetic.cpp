// Arithmetic: ADD, SUB, CMP and their address, quick, immediate and extended forms, NEG,
// CLR, TST, MULU/MULS, DIVU/DIVS, CHK and the decimal instructions.
//
// Cycle counts are the 68000's (base time plus effective address time), with these counts of
// our own:
//   CLR.L Dn                 8
//   DIVU                     133 + ea, whatever the operands (also on overflow)
//   DIVS                     150 + ea, whatever the operands (also on overflow)
//   DIVU, DIVS by zero       38 + ea, the exception entry included
//   CHK                      10 + ea without trap, 40 + ea with the trap
//   MULU, MULS               38 + 2n + ea, as the 68000 takes them (n: see MulBits)
// ADD, SUB, CMP and TST charge in bus slots around their accesses; the others charge their
// whole count after their accesses.
#include <type_traits>

#include "cpu/ops/DataShapes.h"

namespace vexil {
namespace {

// ---- the arithmetic itself -------------------------------------------------------------------

template <Size S>
constexpr unsigned kBitsOf = 8 * S;

// dst + src + x at size S; sets N, Z, V, C and X.
// Wide enough for the carry out of an operation of size S.
template <Size S>
using Wide = std::conditional_t<S == kLong, uint64_t, uint32_t>;

template <Size S>
inline uint32_t Add(uint32_t dst, uint32_t src, uint32_t x = 0) {
    const Wide<S> sum = Wide<S>{dst & kMaskOf<S>} + Wide<S>{src & kMaskOf<S>} + x;
    const uint32_t result = static_cast<uint32_t>(sum) & kMaskOf<S>;
    g_run.nz = SignExtend<S>(result);
    g_run.v = (((src ^ result) & (dst ^ result)) & kMsbOf<S>) != 0;
    g_run.c = static_cast<uint32_t>(sum >> kBitsOf<S>) & 1;
    g_run.x = g_run.c;
    return result;
}

// dst - src - x at size S; sets N, Z, V and C (not X: CMP leaves it alone).
template <Size S>
inline uint32_t Compare(uint32_t dst, uint32_t src, uint32_t x = 0) {
    const Wide<S> difference = Wide<S>{dst & kMaskOf<S>} - Wide<S>{src & kMaskOf<S>} - x;
    const uint32_t result = static_cast<uint32_t>(difference) & kMaskOf<S>;
    g_run.nz = SignExtend<S>(result);
    g_run.v = (((src ^ dst) & (dst ^ result)) & kMsbOf<S>) != 0;
    g_run.c = static_cast<uint32_t>(difference >> kBitsOf<S>) & 1;
    return result;
}

// dst - src - x at size S; sets N, Z, V, C and X.
template <Size S>
inline uint32_t Subtract(uint32_t dst, uint32_t src, uint32_t x = 0) {
    const uint32_t result = Compare<S>(dst, src, x);
    g_run.x = g_run.c;
    return result;
}

// Decimal add and subtract of two bytes with X, done as the 68000 does them: the binary result
// is corrected by 6 for a digit carry (or borrow) out of the low digit, and by 0x60 for one out
// of the high digit; an addition also carries out of a digit that exceeds 9. For packed
// decimal operands this is the usual decimal adjust; other operands give the chip's results.
// C and X come from the adjust, N from the result, V is cleared and Z is only ever cleared.
inline uint32_t SetDecimalFlags(uint32_t result, uint32_t carries) {
    result &= 0xFF;
    g_run.c = g_run.x = (carries >> 7) & 1;
    g_run.nz = static_cast<int8_t>(result) | (g_run.nz & 0xFFFFFFFF);
    g_run.v = 0;
    return result;
}

inline uint32_t DecimalAdd(uint32_t dst, uint32_t src) {
    const uint32_t binary = (dst + src + g_run.x) & 0xFF;
    const uint32_t binaryCarries = ((dst & src) | (~binary & (dst | src))) & 0x88;
    const uint32_t digitOver9 = (((binary + 0x66) ^ binary) & 0x110) >> 1;
    const uint32_t carries = binaryCarries | digitOver9;
    const uint32_t result = binary + carries - (carries >> 2);  // 0x08 -> 6, 0x80 -> 0x60
    return SetDecimalFlags(result, binaryCarries | (binary & ~result));
}

inline uint32_t DecimalSubtract(uint32_t dst, uint32_t src) {
    const uint32_t binary = (dst - src - g_run.x) & 0xFF;
    const uint32_t borrows = ((~dst & src) | (binary & ~(dst & ~src))) & 0x88;
    const uint32_t result = binary - (borrows - (borrows >> 2));
    return SetDecimalFlags(result, borrows | (~binary & result));
}

// Number of 2-cycle steps of a multiply: MULU takes one per 1 bit of the source, MULS one per
// pair of neighbouring bits that differ, with a 0 below bit 0.
template <bool Signed>
inline int MulBits(uint32_t src) {
    if constexpr (Signed) return __builtin_popcount((src ^ (src << 1)) & 0xFFFF);
    return __builtin_popcount(src & 0xFFFF);
}

// Register number in opcode bits 11-9, quick data (0 means 8) likewise.
inline unsigned HighRegister(uint16_t op) {
    return (op >> 9) & 7;
}
inline uint32_t QuickData(uint16_t op) {
    return (((op >> 9) - 1) & 7u) + 1;
}

// ---- ADD, SUB, CMP: the families charged in bus slots (shapes in DataShapes.h) -------------

struct AddOp {
    static constexpr bool kWritesBack = true;
    template <Size S>
    static uint32_t Apply(uint32_t dst, uint32_t src) {
        return Add<S>(dst, src);
    }
    template <Size S, Mode M>
    static constexpr int kToRegCycles = kAluToRegCycles<S, M>;
};

struct SubOp {
    static constexpr bool kWritesBack = true;
    template <Size S>
    static uint32_t Apply(uint32_t dst, uint32_t src) {
        return Subtract<S>(dst, src);
    }
    template <Size S, Mode M>
    static constexpr int kToRegCycles = kAluToRegCycles<S, M>;
};

struct CmpOp {
    static constexpr bool kWritesBack = false;
    template <Size S>
    static uint32_t Apply(uint32_t dst, uint32_t src) {
        return Compare<S>(dst, src);
    }
    template <Size S, Mode>
    static constexpr int kToRegCycles = S == kLong ? 6 : 4;
};

// TST: N and Z from the operand, V and C cleared.
struct Test {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        constexpr int total = 4 + kEaCycles<S, M>;
        constexpr int beforeRead = kBeforeRead<S, M>;
        if constexpr (beforeRead != 0) Charge(RoundUp4(beforeRead));
        SetLogicFlags<S>(ReadEa<S, M>(op & 7));
        Charge(RoundUp4(total - beforeRead));
        FinishStepped(total);
    }
};

// ---- address register forms: the whole register, no flags (CMPA: flags of a long compare) ----

// A read that faulted leaves An alone: A7 is then the stack holding the exception frame.
template <bool Subtracts>
struct AddressArith {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t src = static_cast<uint32_t>(SignExtend<S>(ReadEa<S, M>(op & 7)));
        uint32_t& an = g_cpu.a[HighRegister(op)];
        if (!IsMemory(M) || faults == g_run.groupZeroCount) an = Subtracts ? an - src : an + src;
        Finish((S == kLong ? 4 + kLongExtra<M> : 8) + kEaCycles<S, M>);
    }
};

struct CompareAddress {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t src = static_cast<uint32_t>(SignExtend<S>(ReadEa<S, M>(op & 7)));
        Compare<kLong>(g_cpu.a[HighRegister(op)], src);
        Finish(6 + kEaCycles<S, M>);
    }
};

// ---- quick and immediate forms ----------------------------------------------------------------

template <bool Subtracts>
struct Quick {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t data = QuickData(op);
        if constexpr (M == kAn) {
            // An address register takes the whole 32 bits at any size and keeps the flags.
            uint32_t& an = g_cpu.a[op & 7];
            an = Subtracts ? an - data : an + data;
            Finish(8);
        } else {
            const Operand<S, M> dest(op & 7);
            const uint32_t value = dest.Get();
            const uint32_t result = Subtracts ? Subtract<S>(value, data) : Add<S>(value, data);
            dest.Set(result);
            if constexpr (M == kDn)
                Finish(S == kLong ? 8 : 4);
            else
                Finish((S == kLong ? 12 : 8) + kEaCycles<S, M>);
        }
    }
};

template <bool Subtracts>
struct Immediate {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t data = FetchImmediate<S>();
        const Operand<S, M> dest(op & 7);
        const uint32_t value = dest.Get();
        const uint32_t result = Subtracts ? Subtract<S>(value, data) : Add<S>(value, data);
        dest.Set(result);
        if constexpr (M == kDn)
            Finish(S == kLong ? 16 : 8);
        else
            Finish((S == kLong ? 20 : 12) + kEaCycles<S, M>);
    }
};

struct CompareImmediate {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t data = FetchImmediate<S>();
        Compare<S>(ReadEa<S, M>(op & 7), data);
        if constexpr (M == kDn)
            Finish(S == kLong ? 14 : 8);
        else
            Finish((S == kLong ? 12 : 8) + kEaCycles<S, M>);
    }
};

// ---- extended and memory-to-memory forms ------------------------------------------------------

// The long operands of ADDX and SUBX -(An) are read low word first, so an odd address faults
// at the low word's address.
template <Size S>
inline uint32_t ReadDescending(uint32_t address) {
    if constexpr (S == kLong) {
        const uint32_t low = ReadWord(address + 2);
        return (uint32_t{ReadWord(address)} << 16) | low;
    } else {
        return Read<S>(address);
    }
}

// ADDX and SUBX: Dy,Dx or -(Ay),-(Ax), with X added or subtracted. In the memory forms, as in
// CMPM, ABCD and SBCD, a faulting source access leaves Ax unstepped (SecondEaAddress).
template <bool Subtracts, bool Memory>
struct Extended {
    template <Size S, Mode, Mode>
    static void Run(uint32_t op) {
        const unsigned rx = HighRegister(op), ry = op & 7;
        const uint32_t z = static_cast<uint32_t>(g_run.nz);
        if constexpr (Memory) {
            const uint32_t faults = g_run.groupZeroCount;
            const uint32_t src = ReadDescending<S>(EaAddress<S, kPreDec>(ry));
            const uint32_t address = SecondEaAddress<S, kPreDec>(rx, faults);
            const uint32_t dst = ReadDescending<S>(address);
            const uint32_t result = Subtracts ? Subtract<S>(dst, src, g_run.x) : Add<S>(dst, src, g_run.x);
            g_run.nz |= z;  // Z stays set only while every part is zero
            Write<S>(address, result);
            Finish(S == kLong ? 30 : 18);
        } else {
            const uint32_t src = D<S>(ry), dst = D<S>(rx);
            const uint32_t result = Subtracts ? Subtract<S>(dst, src, g_run.x) : Add<S>(dst, src, g_run.x);
            g_run.nz |= z;  // Z stays set only while every part is zero
            SetD<S>(rx, result);
            Finish(S == kLong ? 8 : 4);
        }
    }
};

// CMPM (Ay)+,(Ax)+.
struct CompareMemory {
    template <Size S, Mode, Mode>
    static void Run(uint32_t op) {
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t src = Read<S>(EaAddress<S, kPostInc>(op & 7));
        const uint32_t address = SecondEaAddress<S, kPostInc>(HighRegister(op), faults);
        const uint32_t dst = Read<S>(address);
        Compare<S>(dst, src);
        Finish(S == kLong ? 20 : 12);
    }
};

// ABCD and SBCD: Dy,Dx or -(Ay),-(Ax).
template <bool Subtracts, bool Memory>
struct Decimal {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
        const unsigned rx = HighRegister(op), ry = op & 7;
        if constexpr (Memory) {
            const uint32_t faults = g_run.groupZeroCount;
            const uint32_t src = ReadByte(EaAddress<kByte, kPreDec>(ry));
            const uint32_t address = SecondEaAddress<kByte, kPreDec>(rx, faults);
            const uint32_t dst = ReadByte(address);
            WriteByte(address,
                      static_cast<uint8_t>(Subtracts ? DecimalSubtract(dst, src) : DecimalAdd(dst, src)));
            Finish(18);
        } else {
            const uint32_t src = D<kByte>(ry), dst = D<kByte>(rx);
            SetD<kByte>(rx, Subtracts ? DecimalSubtract(dst, src) : DecimalAdd(dst, src));
            Finish(6);
        }
    }
};

// ---- single-operand forms ---------------------------------------------------------------------

// Cycles of NEG, NEGX and CLR.
template <Size S, Mode M>
constexpr int kSingleOperandCycles = M == kDn ? (S == kLong ? 6 : 4)
                                              : (S == kLong ? 12 : 8) + kEaCycles<S, M>;

struct Negate {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const Operand<S, M> dest(op & 7);
        const uint32_t result = Subtract<S>(0, dest.Get());
        dest.Set(result);
        Finish(kSingleOperandCycles<S, M>);
    }
};

struct NegateExtended {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const Operand<S, M> dest(op & 7);
        const uint32_t z = static_cast<uint32_t>(g_run.nz);
        const uint32_t result = Subtract<S>(0, dest.Get(), g_run.x);
        g_run.nz |= z;  // Z stays set only while every part is zero
        dest.Set(result);
        Finish(kSingleOperandCycles<S, M>);
    }
};

// CLR reads its operand before writing the zero, as the 68000 does (a read of an I/O register
// happens, and an odd address faults on the read).
struct Clear {
    template <Size S, Mode M, Mode>
    static void Run(uint32_t op) {
        const Operand<S, M> dest(op & 7);
        if constexpr (IsMemory(M)) dest.Get();
        dest.Set(0);
        SetLogicFlags<S>(0);
        if constexpr (M == kDn && S == kLong)
            Finish(8);
        else
            Finish(kSingleOperandCycles<S, M>);
    }
};

struct NegateDecimal {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        const Operand<kByte, M> dest(op & 7);
        const uint32_t result = DecimalSubtract(0, dest.Get());
        dest.Set(result);
        Finish(M == kDn ? 6 : 8 + kEaCycles<kByte, M>);
    }
};

// ---- multiply, divide, bounds check -----------------------------------------------------------

template <bool Signed>
struct Multiply {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t src = ReadEa<kWord, M>(op & 7);
        const unsigned dn = HighRegister(op);
        uint32_t result;
        if constexpr (Signed)
            result =
                static_cast<uint32_t>(int32_t{static_cast<int16_t>(src)} * static_cast<int16_t>(g_cpu.d[dn]));
        else
            result = (src & 0xFFFF) * (g_cpu.d[dn] & 0xFFFF);
        g_cpu.d[dn] = result;
        SetLogicFlags<kLong>(result);
        Finish(38 + 2 * MulBits<Signed>(src) + kEaCycles<kWord, M>);
    }
};

template <bool Signed>
struct Divide {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        constexpr int ea = kEaCycles<kWord, M>;
        const uint32_t src = ReadEa<kWord, M>(op & 7);
        if ((src & 0xFFFF) == 0) {
            // The PC pushed is that of the next instruction.
            g_run.c = 0;
            EnterException(5);
            Finish(38 + ea);
            return;
        }
        const unsigned dn = HighRegister(op);
        bool overflow;
        uint32_t quotient, remainder;
        if constexpr (Signed) {
            const int64_t dividend = static_cast<int32_t>(g_cpu.d[dn]);
            const int64_t divisor = static_cast<int16_t>(src);
            const int64_t q = dividend / divisor;
            overflow = q < -32768 || q > 32767;
            quotient = static_cast<uint32_t>(q);
            remainder = static_cast<uint32_t>(dividend % divisor);
        } else {
            const uint32_t dividend = g_cpu.d[dn];
            quotient = dividend / (src & 0xFFFF);
            remainder = dividend % (src & 0xFFFF);
            overflow = quotient > 0xFFFF;
        }
        if (overflow) {
            // The register keeps its value.
            g_run.v = 1;
            g_run.nz = 1;  // N and Z clear
            g_run.c = 0;
        } else {
            const uint32_t result = (remainder << 16) | (quotient & 0xFFFF);
            g_cpu.d[dn] = result;
            SetLogicFlags<kWord>(quotient);
        }
        Finish((Signed ? 150 : 133) + ea);
    }
};

// CHK <ea>,Dn: traps (vector 6, the next instruction's PC pushed) when Dn.W < 0 or > <ea>.
struct CheckBounds {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        constexpr int ea = kEaCycles<kWord, M>;
        const int16_t bound = static_cast<int16_t>(ReadEa<kWord, M>(op & 7));
        const int16_t value = static_cast<int16_t>(g_cpu.d[HighRegister(op)]);
        g_run.nz = 1;  // N and Z clear
        g_run.v = 0;
        g_run.c = 0;
        if (value < 0 || value > bound) {
            if (value < 0) g_run.nz = INT64_MIN | 1;
            EnterException(6);
            Finish(40 + ea);
            return;
        }
        Finish(10 + ea);
    }
};

}  // namespace

void AddArithmeticRows() {
    // ADD, SUB, CMP; a byte operation cannot take an address register as its source.
    Row<ToRegister<AddOp>, kB, kDataModes>("1101 rrr0 ssmm mxxx", "ADD");
    Row<ToRegister<AddOp>, kWL, kAllModes>("1101 rrr0 ssmm mxxx", "ADD");
    Row<ToMemory<AddOp>, kBWL, kMemoryAlterableModes>("1101 rrr1 ssmm mxxx", "ADD");
    Row<ToRegister<SubOp>, kB, kDataModes>("1001 rrr0 ssmm mxxx", "SUB");
    Row<ToRegister<SubOp>, kWL, kAllModes>("1001 rrr0 ssmm mxxx", "SUB");
    Row<ToMemory<SubOp>, kBWL, kMemoryAlterableModes>("1001 rrr1 ssmm mxxx", "SUB");
    Row<ToRegister<CmpOp>, kB, kDataModes>("1011 rrr0 ssmm mxxx", "CMP");
    Row<ToRegister<CmpOp>, kWL, kAllModes>("1011 rrr0 ssmm mxxx", "CMP");

    Row<AddressArith<false>, kWL, kAllModes>("1101 rrra 11mm mxxx", "ADDA");
    Row<AddressArith<true>, kWL, kAllModes>("1001 rrra 11mm mxxx", "SUBA");
    Row<CompareAddress, kWL, kAllModes>("1011 rrra 11mm mxxx", "CMPA");

    Row<Quick<false>, kB, kDataAlterableModes>("0101 ddd0 ssmm mxxx", "ADDQ");
    Row<Quick<false>, kWL, kAlterableModes>("0101 ddd0 ssmm mxxx", "ADDQ");
    Row<Quick<true>, kB, kDataAlterableModes>("0101 ddd1 ssmm mxxx", "SUBQ");
    Row<Quick<true>, kWL, kAlterableModes>("0101 ddd1 ssmm mxxx", "SUBQ");
    Row<Immediate<false>, kBWL, kDataAlterableModes>("0000 0110 ssmm mxxx", "ADDI");
    Row<Immediate<true>, kBWL, kDataAlterableModes>("0000 0100 ssmm mxxx", "SUBI");
    Row<CompareImmediate, kBWL, kDataAlterableModes>("0000 1100 ssmm mxxx", "CMPI");

    Row<Extended<false, false>, kBWL>("1101 rrr1 ss00 0yyy", "ADDX");
    Row<Extended<false, true>, kBWL>("1101 rrr1 ss00 1yyy", "ADDX");
    Row<Extended<true, false>, kBWL>("1001 rrr1 ss00 0yyy", "SUBX");
    Row<Extended<true, true>, kBWL>("1001 rrr1 ss00 1yyy", "SUBX");
    Row<CompareMemory, kBWL>("1011 rrr1 ss00 1yyy", "CMPM");
    Row<Decimal<false, false>, kB>("1100 rrr1 0000 0yyy", "ABCD");
    Row<Decimal<false, true>, kB>("1100 rrr1 0000 1yyy", "ABCD");
    Row<Decimal<true, false>, kB>("1000 rrr1 0000 0yyy", "SBCD");
    Row<Decimal<true, true>, kB>("1000 rrr1 0000 1yyy", "SBCD");

    Row<NegateExtended, kBWL, kDataAlterableModes>("0100 0000 ssmm mxxx", "NEGX");
    Row<Clear, kBWL, kDataAlterableModes>("0100 0010 ssmm mxxx", "CLR");
    Row<Negate, kBWL, kDataAlterableModes>("0100 0100 ssmm mxxx", "NEG");
    Row<Test, kBWL, kDataAlterableModes>("0100 1010 ssmm mxxx", "TST");
    Row<NegateDecimal, kB, kDataAlterableModes>("0100 1000 00mm mxxx", "NBCD");

    Row<Multiply<false>, kW, kDataModes>("1100 rrr0 11mm mxxx", "MULU");
    Row<Multiply<true>, kW, kDataModes>("1100 rrr1 11mm mxxx", "MULS");
    Row<Divide<false>, kW, kDataModes>("1000 rrr0 11mm mxxx", "DIVU");
    Row<Divide<true>, kW, kDataModes>("1000 rrr1 11mm mxxx", "DIVS");
    Row<CheckBounds, kW, kDataModes>("0100 rrr1 10mm mxxx", "CHK");
}

}  // namespace vexil

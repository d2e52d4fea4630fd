// Shifts and rotates, and the bit instructions BTST, BCHG, BCLR, BSET.
#include "cpu/OpcodeTable.h"

namespace vexil {
namespace {

template <Size S>
constexpr unsigned kBitsOf = 8 * S;

// ---- shifts and rotates ----------------------------------------------------------------------
// Each operation shifts a value of size S by n (0-63) and sets the condition codes. A count of
// 0 leaves the value, sets N and Z from it and clears V and C (ROXL, ROXR: C = X); X is kept.
// Counts of the operand's width or more shift out every bit: the fill value remains, and C
// and X hold the last bit shifted out.

enum class Shift { kAsl, kAsr, kLsl, kLsr, kRol, kRor, kRoxl, kRoxr };

template <Shift K>
struct ShiftOp {
    template <Size S>
    static uint32_t Apply(uint32_t value, unsigned n) {
        constexpr unsigned bits = kBitsOf<S>;
        constexpr uint32_t mask = kMaskOf<S>;
        if (n == 0) {
            SetLogicFlags<S>(value);
            if constexpr (K == Shift::kRoxl || K == Shift::kRoxr) g_run.c = g_run.x;
            return value;
        }
        uint32_t result;
        uint32_t carry;
        if constexpr (K == Shift::kAsl || K == Shift::kLsl) {
            const uint64_t wide = static_cast<uint64_t>(value) << n;
            result = static_cast<uint32_t>(wide) & mask;
            carry = static_cast<uint32_t>(wide >> bits) & 1;
        } else if constexpr (K == Shift::kAsr) {
            const int64_t wide = SignExtend<S>(value);
            result = static_cast<uint32_t>(wide >> n) & mask;
            carry = static_cast<uint32_t>(wide >> (n - 1)) & 1;
        } else if constexpr (K == Shift::kLsr) {
            const uint64_t wide = value;
            result = static_cast<uint32_t>(wide >> n);
            carry = static_cast<uint32_t>(wide >> (n - 1)) & 1;
        } else if constexpr (K == Shift::kRol || K == Shift::kRor) {
            const unsigned r = n & (bits - 1);
            result = value;
            if (r != 0) {
                result = K == Shift::kRol ? (value << r) | (value >> (bits - r))
                                          : (value >> r) | (value << (bits - r));
                result &= mask;
            }
            // The last bit rotated out is the one that came in at the other end.
            carry = K == Shift::kRol ? result & 1 : result >> (bits - 1);
        } else {
            // Through X: a rotation of bits + 1 bits with X above the operand.
            constexpr unsigned width = bits + 1;
            constexpr uint64_t widthMask = (uint64_t{1} << width) - 1;
            const unsigned r = n % width;
            uint64_t wide = (static_cast<uint64_t>(g_run.x) << bits) | value;
            if (r != 0) {
                wide = K == Shift::kRoxl ? (wide << r) | (wide >> (width - r))
                                         : (wide >> r) | (wide << (width - r));
                wide &= widthMask;
            }
            result = static_cast<uint32_t>(wide) & mask;
            carry = static_cast<uint32_t>(wide >> bits) & 1;
        }
        SetLogicFlags<S>(result);
        g_run.c = carry;
        if constexpr (K != Shift::kRol && K != Shift::kRor) g_run.x = carry;
        if constexpr (K == Shift::kAsl) {
            // V: the sign bit changed at some step, i.e. the n + 1 top bits were not all equal.
            if (n >= bits) {
                g_run.v = value != 0;
            } else {
                const uint64_t top = value >> (bits - 1 - n);
                g_run.v = top != 0 && top != (uint64_t{1} << (n + 1)) - 1;
            }
        }
        return result;
    }
};

// Shift of a data register: the count is in bits 11-9 (1-8, 0 meaning 8) or in the data
// register they name (modulo 64). The count part of the time is left out of the recorded count.
template <typename Op, bool CountInRegister>
struct ShiftRegister {
    template <Size S, Mode, Mode>
    static void Run(uint32_t op) {
        const unsigned field = (op >> 9) & 7;
        unsigned count;
        if constexpr (CountInRegister)
            count = g_cpu.d[field] & 63;
        else
            count = field == 0 ? 8 : field;
        const unsigned dn = op & 7;
        SetD<S>(dn, Op::template Apply<S>(D<S>(dn), count));
        Charge(static_cast<int32_t>(2 * count));
        Finish(S == kLong ? 8 : 6);
    }
};

// Shift of a word in memory by one bit.
template <typename Op>
struct ShiftMemory {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t address = EaAddress<kWord, M>(op & 7);
        const uint32_t result = Op::template Apply<kWord>(ReadWord(address), 1);
        WriteWord(address, static_cast<uint16_t>(result));
        Finish(8 + kEaCycles<kWord, M>);
    }
};

// ---- bit instructions ------------------------------------------------------------------------
// The bit number comes from a data register (dynamic) or an extension word (static). On a data
// register it is taken modulo 32, on memory (a byte) modulo 8. Z is set when the bit was 0; the
// other flags are unchanged.

struct BitTest {
    static constexpr bool kWrites = false;
    static uint32_t Apply(uint32_t v, uint32_t) { return v; }
};
struct BitChange {
    static constexpr bool kWrites = true;
    static uint32_t Apply(uint32_t v, uint32_t bit) { return v ^ bit; }
};
struct BitClear {
    static constexpr bool kWrites = true;
    static uint32_t Apply(uint32_t v, uint32_t bit) { return v & ~bit; }
};
struct BitSet {
    static constexpr bool kWrites = true;
    static uint32_t Apply(uint32_t v, uint32_t bit) { return v | bit; }
};

// Times, dynamic / static:      on Dn   on #imm   on memory
//   BTST                          6 / 10  8 / 12    4 + ea / 8 + ea
//   BCHG, BCLR, BSET              8 / 12  -         8 + ea / 12 + ea
template <typename Op, bool Static>
struct BitOperation {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        unsigned number;
        if constexpr (Static)
            number = FetchWord();
        else
            number = g_cpu.d[(op >> 9) & 7];
        constexpr int staticExtra = Static ? 4 : 0;
        if constexpr (M == kDn) {
            const uint32_t bit = 1u << (number & 31);
            const unsigned dn = op & 7;
            SetZ(g_cpu.d[dn] & bit);
            if constexpr (Op::kWrites) g_cpu.d[dn] = Op::Apply(g_cpu.d[dn], bit);
            Finish((Op::kWrites ? 8 : 6) + staticExtra);
        } else if constexpr (M == kImm) {
            const uint32_t value = FetchImmediate<kByte>();
            SetZ(value & (1u << (number & 7)));
            Finish(8 + staticExtra);
        } else {
            const uint32_t bit = 1u << (number & 7);
            const uint32_t address = EaAddress<kByte, M>(op & 7);
            const uint32_t value = ReadByte(address);
            SetZ(value & bit);
            if constexpr (Op::kWrites) WriteByte(address, static_cast<uint8_t>(Op::Apply(value, bit)));
            Finish((Op::kWrites ? 8 : 4) + staticExtra + kEaCycles<kByte, M>);
        }
    }
};

}  // namespace

void AddShiftBitRows() {
    using Asl = ShiftOp<Shift::kAsl>;
    using Asr = ShiftOp<Shift::kAsr>;
    using Lsl = ShiftOp<Shift::kLsl>;
    using Lsr = ShiftOp<Shift::kLsr>;
    using Roxl = ShiftOp<Shift::kRoxl>;
    using Roxr = ShiftOp<Shift::kRoxr>;
    using Rol = ShiftOp<Shift::kRol>;
    using Ror = ShiftOp<Shift::kRor>;
    // Register forms: count (or count register) at 11-9, direction at 8, size at 7-6,
    // immediate/register count at 5, operation at 4-3.
    Row<ShiftRegister<Asr, false>, kBWL>("1110 ccc0 ss00 0yyy", "ASR");
    Row<ShiftRegister<Asr, true>, kBWL>("1110 rrr0 ss10 0yyy", "ASR");
    Row<ShiftRegister<Asl, false>, kBWL>("1110 ccc1 ss00 0yyy", "ASL");
    Row<ShiftRegister<Asl, true>, kBWL>("1110 rrr1 ss10 0yyy", "ASL");
    Row<ShiftRegister<Lsr, false>, kBWL>("1110 ccc0 ss00 1yyy", "LSR");
    Row<ShiftRegister<Lsr, true>, kBWL>("1110 rrr0 ss10 1yyy", "LSR");
    Row<ShiftRegister<Lsl, false>, kBWL>("1110 ccc1 ss00 1yyy", "LSL");
    Row<ShiftRegister<Lsl, true>, kBWL>("1110 rrr1 ss10 1yyy", "LSL");
    Row<ShiftRegister<Roxr, false>, kBWL>("1110 ccc0 ss01 0yyy", "ROXR");
    Row<ShiftRegister<Roxr, true>, kBWL>("1110 rrr0 ss11 0yyy", "ROXR");
    Row<ShiftRegister<Roxl, false>, kBWL>("1110 ccc1 ss01 0yyy", "ROXL");
    Row<ShiftRegister<Roxl, true>, kBWL>("1110 rrr1 ss11 0yyy", "ROXL");
    Row<ShiftRegister<Ror, false>, kBWL>("1110 ccc0 ss01 1yyy", "ROR");
    Row<ShiftRegister<Ror, true>, kBWL>("1110 rrr0 ss11 1yyy", "ROR");
    Row<ShiftRegister<Rol, false>, kBWL>("1110 ccc1 ss01 1yyy", "ROL");
    Row<ShiftRegister<Rol, true>, kBWL>("1110 rrr1 ss11 1yyy", "ROL");
    // Memory forms: one word shifted by one bit; operation at 10-9, direction at 8.
    Row<ShiftMemory<Asr>, kW, kMemoryAlterableModes>("1110 0000 11mm mxxx", "ASR");
    Row<ShiftMemory<Asl>, kW, kMemoryAlterableModes>("1110 0001 11mm mxxx", "ASL");
    Row<ShiftMemory<Lsr>, kW, kMemoryAlterableModes>("1110 0010 11mm mxxx", "LSR");
    Row<ShiftMemory<Lsl>, kW, kMemoryAlterableModes>("1110 0011 11mm mxxx", "LSL");
    Row<ShiftMemory<Roxr>, kW, kMemoryAlterableModes>("1110 0100 11mm mxxx", "ROXR");
    Row<ShiftMemory<Roxl>, kW, kMemoryAlterableModes>("1110 0101 11mm mxxx", "ROXL");
    Row<ShiftMemory<Ror>, kW, kMemoryAlterableModes>("1110 0110 11mm mxxx", "ROR");
    Row<ShiftMemory<Rol>, kW, kMemoryAlterableModes>("1110 0111 11mm mxxx", "ROL");

    // Bit instructions: dynamic (bit number in the register at 11-9), then static.
    constexpr uint32_t kAlterable = kDataAlterableModes;
    Row<BitOperation<BitTest, false>, kB, kDataModes>("0000 rrr1 00mm mxxx", "BTST");
    Row<BitOperation<BitChange, false>, kB, kAlterable>("0000 rrr1 01mm mxxx", "BCHG");
    Row<BitOperation<BitClear, false>, kB, kAlterable>("0000 rrr1 10mm mxxx", "BCLR");
    Row<BitOperation<BitSet, false>, kB, kAlterable>("0000 rrr1 11mm mxxx", "BSET");
    Row<BitOperation<BitTest, true>, kB, kDataModes & ~Bit(kImm)>("0000 1000 00mm mxxx", "BTST");
    // BTST #n,#imm, which the 68000 rejects, tests a bit of the immediate byte.
    Row<BitOperation<BitTest, true>, kB, Bit(kImm)>("0000 1000 00mm mxxx",
                                                    "MOVE.B from an address register, BTST #n,#imm");
    Row<BitOperation<BitChange, true>, kB, kAlterable>("0000 1000 01mm mxxx", "BCHG");
    Row<BitOperation<BitClear, true>, kB, kAlterable>("0000 1000 10mm mxxx", "BCLR");
    Row<BitOperation<BitSet, true>, kB, kAlterable>("0000 1000 11mm mxxx", "BSET");
}

}  // namespace vexil

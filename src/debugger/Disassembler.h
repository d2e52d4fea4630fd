// The 68000 disassembler: turns code in emulated memory into one line of text per instruction
// for the debugger, and tells it where the next (or the previous) instruction starts.
//
// It decodes the whole 68000 instruction set plus the 68010's movec, rtd and move from ccr.
// A group table indexed by opcode bits 15..6 picks one formatting routine per instruction
// group; the routine checks the addressing modes that the instruction allows and formats its
// operands. Any encoding that the processor would reject as illegal reads "dc.w    $XXXX" and
// is one word long, so that the listing goes on with the next word.
//
// Words are read through a reader (by default the debug read, which costs no cycles and raises
// no exception); only even addresses are asked for, and a value above 0xFFFF (nothing mapped)
// is taken as its low 16 bits.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <utility>

#include "core/Cycles.h"

namespace vexil {

using WordReader = std::function<uint32_t(uint32_t address)>;

class Disassembler {
public:
    explicit Disassembler(WordReader read) : read_(std::move(read)) {}

    void SetAddress(uint32_t address) { address_ = address; }
    // After DisassembleOne, the address of the following instruction.
    uint32_t GetAddress() const { return address_; }

    // Decodes the instruction at the current address and moves past it and its extension
    // words. The text stays valid until the next call.
    const char* DisassembleOne();

    uint32_t NextInstructionAddress(uint32_t address);
    // The start of the instruction that ends at `address`, found by decoding forward from up to
    // 20 words back; `address` - 2 when no start lands on it. Moves the current address.
    uint32_t PreviousInstructionAddress(uint32_t address);

    // About the instruction that DisassembleOne decoded last (until the address is set again).
    uint32_t LastLength() const { return address_ - start_; }
    bool LastDefined() const { return defined_; }
    // An index extension word had bit 8 set. The 68000 ignores it (and the scale in bits 10..9)
    // and reads the one-word brief format; from the 68020 on it selects the longer full format.
    bool LastHadFullFormatIndex() const { return fullFormatIndex_; }

private:
    using Routine = void (Disassembler::*)(uint16_t opcode);
    struct Row {
        const char* pattern;  // opcode bits 15..6: '0', '1' or '-' for either
        Routine routine;
    };
    using Operand = char[64];

    static constexpr std::array<Routine, 1024> BuildGroupTable();
    static const std::array<Routine, 1024> kGroups;

    uint16_t Fetch();
    bool Allows(unsigned field, unsigned modes) const;
    // Formats the effective address `field` (mode in bits 5..3, register in bits 2..0),
    // fetching its extension words; `size` in bytes says how many words an immediate takes.
    void FormatEa(unsigned field, unsigned size, Operand& out);
    uint32_t FetchImmediate(unsigned size);
    void Emit(const char* format, ...) __attribute__((format(printf, 2, 3)));

    void Undefined(uint16_t opcode);
    void ImmediateToEa(uint16_t opcode);
    void BitStatic(uint16_t opcode);
    void BitDynamic(uint16_t opcode);
    void Movep(uint16_t opcode);
    void Move(uint16_t opcode);
    void SingleOperand(uint16_t opcode);
    void StatusMove(uint16_t opcode);
    void Chk(uint16_t opcode);
    void Lea(uint16_t opcode);
    void Nbcd(uint16_t opcode);
    void PeaOrSwap(uint16_t opcode);
    void MovemToMemory(uint16_t opcode);
    void MovemFromMemory(uint16_t opcode);
    void TasOrIllegal(uint16_t opcode);
    void Control(uint16_t opcode);
    void JumpOrCall(uint16_t opcode);
    void AddqSubq(uint16_t opcode);
    void SetOrDecrement(uint16_t opcode);
    void Branch(uint16_t opcode);
    void Moveq(uint16_t opcode);
    void Dyadic(uint16_t opcode);
    void MulDiv(uint16_t opcode);
    void AddressArithmetic(uint16_t opcode);
    void ExtendedOrExg(uint16_t opcode);
    void ShiftRegister(uint16_t opcode);
    void ShiftMemory(uint16_t opcode);

    WordReader read_;
    uint32_t address_ = 0;  // next word to fetch
    uint32_t start_ = 0;    // first word of the last instruction
    bool defined_ = false;
    bool fullFormatIndex_ = false;
    char line_[160] = {};
};

// Writes the movem register list for `mask` (bit 0 = d0 ... bit 15 = a7) into `out`, which
// holds at least 48 characters.
void FormatRegisterList(uint16_t mask, char* out);

}  // namespace vexil

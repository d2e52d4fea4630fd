// The opcode table: which handler family executes each of the 65536 opcode values.
#pragma once

#include <cstdint>
#include <string_view>

#include "cpu/Operands.h"

namespace vexil {

// Rows of the opcode chart use a 16-character pattern (spaces ignored):
//   0 1      fixed bits
//   ss       size at bits 7-6: 00 byte, 01 word, 10 long
//   zz       MOVE size at bits 13-12: 01 byte, 11 word, 10 long
//   a        one size bit: 0 word, 1 long
//   mmmxxx   effective address (mode, register) at bits 5-0
//   XXXMMM   MOVE destination (register, mode) at bits 11-6
//   other letters are operand bits the handler reads at run time.
// A family is a struct with `template <Size S, Mode M, Mode D> static void Run(uint32_t)`;
// the builder instantiates it for every size and mode the row allows.

struct OpcodeInfo {
    OpcodeHandler handler;
    const char* family;  // name of the row's family, e.g. "MOVE"
};

// What the table holds for one opcode value (for tests and the debugger).
const OpcodeInfo& OpcodeTableEntry(uint16_t opcode);

}  // namespace vexil

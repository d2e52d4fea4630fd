// Arithmetic: ADD, SUB, CMP and their address, quick, immediate and extended forms, NEG,
// CLR, TST, MULU/MULS, DIVU/DIVS, CHK and the decimal instructions.
#pragma once

#include "cpu/OpcodeTable.h"

namespace vexil {

inline void AddArithmeticRows() {}

}  // namespace vexil

// Shifts and rotates, and the bit instructions BTST, BCHG, BCLR, BSET.
#pragma once

#include "cpu/OpcodeTable.h"

namespace vexil {

inline void AddShiftBitRows() {}

}  // namespace vexil

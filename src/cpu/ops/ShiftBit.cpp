// Shifts and rotates, and the bit instructions BTST, BCHG, BCLR, BSET.
#include "cpu/OpcodeTable.h"

namespace vexil {
namespace {}  // namespace

void AddShiftBitRows() {}

}  // namespace vexil

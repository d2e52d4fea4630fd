// Arithmetic: ADD, SUB, CMP and their address, quick, immediate and extended forms, NEG,
// CLR, TST, MULU/MULS, DIVU/DIVS, CHK and the decimal instructions.
#include "cpu/OpcodeTable.h"

namespace vexil {
namespace {}  // namespace

void AddArithmeticRows() {}

}  // namespace vexil

// Stand-ins for the chips whose pages the machine decodes before their own emulation exists:
// each keeps what is written to its registers and reads it back, so that software which sets a
// register up and checks it finds the chip there (TOS does so for the Shifter and the ACIAs).
// They do nothing else: no picture, no keys.
#pragma once

#include <array>
#include <cstdint>

#include "io/IoDispatch.h"

namespace vexil {

// A page of byte registers, one per page offset. Word accesses reach the byte at the even
// offset (high byte) and the odd one (low byte). `writeMask` keeps only the bits the register
// has.
struct RegisterFile {
    uint8_t bytes[256] = {};
    uint8_t writeMask[256] = {};  // not state: fixed by the chip's layout
};

struct RegisterLayout {
    const char* name;
    uint32_t page;
    IoOffsets readBytes, readWords, writeBytes, writeWords;
    std::array<uint8_t, 256> writeMask;
};
IoChip RegisterFileChip(RegisterFile& file, const RegisterLayout& layout);

// The ACIAs' page as the machine decodes it.
RegisterLayout AciaLayout();

}  // namespace vexil

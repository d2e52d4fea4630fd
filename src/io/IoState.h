// The I/O state area: the one static block that holds the chips' register files and timing
// values, next to the decoder's own state. Register files keep one byte per page offset in
// the machine's byte order (the byte of 0xFFxx01 follows the byte of 0xFFxx00).
#pragma once

#include <cstdint>

#include "io/Mfp.h"

namespace vexil {

struct IoState {
    // Host addresses of the RAM, ROM and cartridge areas, published at start-up.
    uint8_t* ram = nullptr;
    uint8_t* rom = nullptr;
    uint8_t* cartridge = nullptr;

    // The `Machine` setting: 0 ST, 1 STE (bit 0). STE-only pages answer only on an STE.
    uint32_t Machine = 0;

    uint8_t memoryConfig = 0;   // 0xFF8001: stored only; not changed by IoReset
    int32_t ymWaitCounter = 0;  // spaces the YM2149 page's wait states

    Mfp mfp;
};

extern IoState g_io;

inline bool IoIsSte() {
    return (g_io.Machine & 1) != 0;
}

}  // namespace vexil

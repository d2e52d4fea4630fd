// Loading TOS ROM and cartridge images into the machine's memory block.
#pragma once

#include <cstdint>
#include <string>

namespace vexil {

class Machine;

// Reads a file into `destination` (capacity bytes) with each byte pair swapped, so that it
// lands in host word order; an odd last byte goes to the first position of its pair. Returns
// the file length, or -1 when the file cannot be read or is longer than the capacity (nothing
// is written then).
int64_t LoadSwappedFile(const std::string& path, uint8_t* destination, uint32_t capacity);

struct RomLoad {
    bool ok = false;
    uint32_t base = 0;  // the ROM's address, from its header
    uint32_t length = 0;
    std::string message;  // why it failed
};

// Loads a TOS image into the ROM area, moves the ROM region to the base address its header
// names, and copies its first 8 bytes (reset stack pointer and PC) to addresses 0-7.
// Only the two places the machine decodes ROM are accepted: base 0xFC0000 with at most 192 KB,
// or base 0xE00000 with at most 256 KB. Any other image (unreadable, empty, shorter than its
// header, another base, too long for its base) is refused with the reason and changes nothing.
RomLoad LoadTosRom(Machine& machine, const std::string& path);

// Loads a cartridge image (at most 128 KB) into the cartridge area, the rest of which reads as
// 0xFF. An unreadable, empty or oversized image is refused and changes nothing.
RomLoad LoadCartridge(Machine& machine, const std::string& path);

}  // namespace vexil

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
// A damaged image (unreadable, empty, shorter than its header, larger than the ROM area, or
// with a base address where it would cover RAM or the I/O page) is refused and changes nothing.
RomLoad LoadTosRom(Machine& machine, const std::string& path);

}  // namespace vexil

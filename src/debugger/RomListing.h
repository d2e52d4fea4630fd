// The "--disassemble ADDR COUNT" command-line option: lists a TOS ROM image file as 68000 code
// without building a machine. The image is read into a buffer of its own and placed at the base
// address that its header names (the big-endian long at offset 8).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vexil {

struct RomImage {
    uint32_t base = 0;
    std::vector<uint8_t> bytes;  // file order (big-endian words)

    uint32_t End() const { return base + static_cast<uint32_t>(bytes.size()); }
    // The word at an even address inside the image, else 0xFFFFFFFF.
    uint32_t ReadWord(uint32_t address) const;
};

// Loads and checks an image; on failure returns false with a message in `error`.
bool LoadRomImage(const std::string& path, RomImage& image, std::string& error);

// ADDR is hexadecimal with or without "0x" or "$"; COUNT is decimal.
bool ParseListingAddress(const char* text, uint32_t& address);
bool ParseListingCount(const char* text, uint32_t& count);

// Prints COUNT instructions from ADDR (stopping at the image's end) to `out`, one per line:
// address, instruction words, text. Errors go to `err`. Returns the process exit code.
int ListRom(const std::string& romPath, const char* addressText, const char* countText, std::FILE* out,
            std::FILE* err);

}  // namespace vexil

#include "debugger/RomListing.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "debugger/Disassembler.h"
#include "memory/Memory.h"

namespace vexil {

namespace {

constexpr size_t kHeaderBytes = 12;  // up to and including the base address at offset 8
constexpr uint32_t kAddressSpace = 0x1000000;

}  // namespace

uint32_t RomImage::ReadWord(uint32_t address) const {
    if (address & 1 || address < base) return 0xFFFFFFFF;
    const uint32_t offset = address - base;
    if (offset >= bytes.size() || bytes.size() - offset < 2) return 0xFFFFFFFF;
    return static_cast<uint32_t>(bytes[offset]) << 8 | bytes[offset + 1];
}

bool LoadRomImage(const std::string& path, RomImage& image, std::string& error) {
    std::error_code code;
    if (!std::filesystem::is_regular_file(path, code)) {
        error = "cannot open ROM image '" + path + "'";
        return false;
    }
    const uintmax_t length = std::filesystem::file_size(path, code);
    if (code) {
        error = "cannot read ROM image '" + path + "'";
        return false;
    }
    if (length > kRomBytes) {
        error = "ROM image '" + path + "' is larger than the 256 KB ROM area";
        return false;
    }
    if (length < kHeaderBytes || length % 2 != 0) {
        error = "ROM image '" + path + "' is truncated (" + std::to_string(length) + " bytes)";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length))) {
        error = "cannot read ROM image '" + path + "'";
        return false;
    }
    const uint32_t base = static_cast<uint32_t>(bytes[8]) << 24 | static_cast<uint32_t>(bytes[9]) << 16 |
                          static_cast<uint32_t>(bytes[10]) << 8 | bytes[11];
    if (base & 1 || base >= kAddressSpace || kAddressSpace - base < length) {
        char text[96];
        std::snprintf(text, sizeof text, "' names an impossible base address $%X", base);
        error = "ROM image '" + path + text;
        return false;
    }
    image.base = base;
    image.bytes = std::move(bytes);
    return true;
}

bool ParseListingAddress(const char* text, uint32_t& address) {
    if (text[0] == '$') {
        ++text;
    } else if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text += 2;
    }
    if (!*text) return false;
    uint64_t value = 0;
    for (; *text; ++text) {
        const char c = *text;
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        value = value * 16 + digit;
        if (value > 0xFFFFFFFF) return false;
    }
    address = static_cast<uint32_t>(value);
    return true;
}

bool ParseListingCount(const char* text, uint32_t& count) {
    if (!*text) return false;
    uint64_t value = 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9') return false;
        value = value * 10 + static_cast<unsigned>(*text - '0');
        if (value > 0xFFFFFFFF) return false;
    }
    count = static_cast<uint32_t>(value);
    return true;
}

int ListRom(const std::string& romPath, const char* addressText, const char* countText, std::FILE* out,
            std::FILE* err) {
    uint32_t address = 0, count = 0;
    if (!ParseListingAddress(addressText, address)) {
        std::fprintf(err, "vexil: --disassemble: '%s' is not a hexadecimal address\n", addressText);
        return 2;
    }
    if (!ParseListingCount(countText, count)) {
        std::fprintf(err, "vexil: --disassemble: '%s' is not a decimal instruction count\n", countText);
        return 2;
    }
    RomImage image;
    std::string error;
    if (!LoadRomImage(romPath, image, error)) {
        std::fprintf(err, "vexil: %s\n", error.c_str());
        return 1;
    }
    if (address < image.base || address >= image.End()) {
        std::fprintf(err, "vexil: --disassemble: address $%X is outside the ROM image ($%X-$%X)\n", address,
                     image.base, image.End() - 1);
        return 2;
    }
    if (address & 1) {
        std::fprintf(err, "vexil: --disassemble: address $%X is odd\n", address);
        return 2;
    }
    Disassembler disassembler([&image](uint32_t at) { return image.ReadWord(at); });
    disassembler.SetAddress(address);
    for (uint32_t i = 0; i < count && disassembler.GetAddress() < image.End(); ++i) {
        const uint32_t at = disassembler.GetAddress();
        const char* text = disassembler.DisassembleOne();
        char words[32];
        size_t used = 0;
        words[0] = '\0';
        for (uint32_t word = at; word < disassembler.GetAddress(); word += 2) {
            used += std::snprintf(words + used, sizeof words - used, used ? " %04X" : "%04X",
                                  image.ReadWord(word) & 0xFFFF);
        }
        std::fprintf(out, "%06X  %-24s  %s\n", at, words, text);
    }
    return std::fflush(out) == 0 ? 0 : 1;
}

}  // namespace vexil

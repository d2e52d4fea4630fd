#include "machine/Rom.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "machine/Machine.h"

namespace vexil {

namespace {

// Reads at most `limit` + 1 bytes, so that an oversized file is recognised without reading it all.
bool ReadFile(const std::string& path, uint32_t limit, std::vector<uint8_t>& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    out.resize(static_cast<size_t>(limit) + 1);
    file.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    out.resize(static_cast<size_t>(file.gcount()));
    return !file.bad();
}

constexpr uint32_t kLowRomBase = 0xFC0000;
constexpr uint32_t kLowRomBytes = 0x30000;
constexpr uint32_t kHighRomBase = 0xE00000;

}  // namespace

int64_t LoadSwappedFile(const std::string& path, uint8_t* destination, uint32_t capacity) {
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, capacity, bytes) || bytes.size() > capacity) return -1;
    CopySwapped(destination, bytes.data(), bytes.size());
    return static_cast<int64_t>(bytes.size());
}

RomLoad LoadTosRom(Machine& machine, const std::string& path) {
    RomLoad result;
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, kRomBytes, bytes)) {
        result.message = "cannot read the ROM image \"" + path + "\"";
        return result;
    }
    if (bytes.size() > kRomBytes) {
        result.message = "the ROM image \"" + path + "\" is larger than 256 KB";
        return result;
    }
    if (bytes.size() < 64) {
        result.message = "the ROM image \"" + path + "\" is too short to be a TOS image";
        return result;
    }
    const uint32_t base =
        uint32_t(bytes[8]) << 24 | uint32_t(bytes[9]) << 16 | uint32_t(bytes[10]) << 8 | bytes[11];
    const uint32_t length = static_cast<uint32_t>(bytes.size());
    // The machine decodes ROM in two places only: 192 KB from 0xFC0000 (up to the I/O page's
    // 64 KB below it) and 256 KB from 0xE00000.
    char text[240];
    if (base != kLowRomBase && base != kHighRomBase) {
        std::snprintf(text, sizeof text,
                      "the ROM image \"%s\" names base address $%08X; a TOS image lies at $FC0000 or $E00000",
                      path.c_str(), base);
        result.message = text;
        return result;
    }
    if (base == kLowRomBase && length > kLowRomBytes) {
        std::snprintf(text, sizeof text,
                      "the ROM image \"%s\" is %u KB, more than the 192 KB that fit at its base $FC0000",
                      path.c_str(), (length + 1023) / 1024);
        result.message = text;
        return result;
    }
    EmulatedMemoryBlock& block = machine.Memory();
    std::memset(block.Rom(), 0xFF, kRomBytes);
    CopySwapped(block.Rom(), bytes.data(), length);
    MemorySetRomRange(machine.Tables(), block, base, length);
    // The reset vectors live at 0-7, which no write reaches.
    std::memcpy(block.Ram(), block.Rom(), 8);
    result.ok = true;
    result.base = base;
    result.length = length;
    return result;
}

RomLoad LoadCartridge(Machine& machine, const std::string& path) {
    RomLoad result;
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, kCartridgeBytes, bytes)) {
        result.message = "cannot read the cartridge image \"" + path + "\"";
        return result;
    }
    if (bytes.empty() || bytes.size() > kCartridgeBytes) {
        result.message =
            "the cartridge image \"" + path + "\" is " + (bytes.empty() ? "empty" : "larger than 128 KB");
        return result;
    }
    std::memset(machine.Memory().Cartridge(), 0xFF, kCartridgeBytes);
    CopySwapped(machine.Memory().Cartridge(), bytes.data(), bytes.size());
    result.ok = true;
    result.base = 0xFA0000;
    result.length = static_cast<uint32_t>(bytes.size());
    return result;
}

}  // namespace vexil

#include "app/Rom.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "app/Machine.h"

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

constexpr uint32_t kRamLimit = 0x400000;  // RAM and its write window end here
constexpr uint32_t kIoPage = 0xFF8000;

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
    if (base < kRamLimit || base > kIoPage || kIoPage - base < length) {
        char text[160];
        std::snprintf(text, sizeof text, "the ROM image \"%s\" names base address $%08X, where it cannot lie",
                      path.c_str(), base);
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

}  // namespace vexil

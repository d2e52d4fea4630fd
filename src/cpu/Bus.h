// The access routines the instruction handlers call for every operand in memory. RAM and ROM
// pages are served inline from the table's page map; everything else (I/O, the screen-watch
// window, region ends, unmapped space) takes the slow path, which walks the region table.
// Odd word and long accesses raise an address error and are not made.
#pragma once

#include <cstdint>

#include "cpu/CpuCore.h"
#include "memory/Memory.h"

namespace vexil {

uint8_t ReadByteSlow(uint32_t address);
uint16_t ReadWordSlow(uint32_t address);
uint32_t ReadLongSlow(uint32_t address);
void WriteByteSlow(uint32_t address, uint8_t value);
void WriteWordSlow(uint32_t address, uint16_t value);
void WriteLongSlow(uint32_t address, uint32_t value);
// A table set whose data accesses do nothing: reads return 0, writes are dropped.
TableSet SuppressedTables(FetchTable* fetch);
// Enters the address error for an odd access and returns the value the instruction then sees.
uint32_t OddAccess(uint32_t address);

// Host address of the `bytes` bytes from the even `address` when all of them lie in directly
// mapped memory of `table` (RAM or ROM pages, no handler), else null: block transfers then
// run without a lookup or fault check per access.
inline uint8_t* DirectSpan(const RegionTable& table, uint32_t address, uint32_t bytes) {
    const uint32_t first = address & kAddressMask;
    const uintptr_t base = table.PageBase(first);
    if (base == 0 || (address & 1) || first + bytes - 1 > kAddressMask ||
        table.PageBase(first + bytes - 1) != base)
        return nullptr;
    return reinterpret_cast<uint8_t*>(base + first);
}

[[gnu::always_inline]] inline uint8_t ReadByte(uint32_t address) {
    const uintptr_t base = g_cpu.current.readByte->PageBase(address);
    if (base) [[likely]]
        return *reinterpret_cast<const uint8_t*>(base + ((address & kAddressMask) ^ 1));
    return ReadByteSlow(address);
}

[[gnu::always_inline]] inline uint16_t ReadWord(uint32_t address) {
    if (address & 1) [[unlikely]]
        return static_cast<uint16_t>(OddAccess(address));
    const uintptr_t base = g_cpu.current.readWord->PageBase(address);
    if (base) [[likely]]
        return LoadHostWord(reinterpret_cast<const uint8_t*>(base + (address & kAddressMask)));
    return ReadWordSlow(address);
}

[[gnu::always_inline]] inline uint32_t ReadLong(uint32_t address) {
    if (address & 1) [[unlikely]]
        return OddAccess(address);
    const uintptr_t base = g_cpu.current.readWord->PageBase(address);
    if (base && (address & 0xFFFF) != 0xFFFE) [[likely]]
        return LoadHostLong(reinterpret_cast<const uint8_t*>(base + (address & kAddressMask)));
    return ReadLongSlow(address);
}

[[gnu::always_inline]] inline void WriteByte(uint32_t address, uint8_t value) {
    const uintptr_t base = g_cpu.current.writeByte->PageBase(address);
    if (base) [[likely]] {
        *reinterpret_cast<uint8_t*>(base + ((address & kAddressMask) ^ 1)) = value;
        return;
    }
    WriteByteSlow(address, value);
}

[[gnu::always_inline]] inline void WriteWord(uint32_t address, uint16_t value) {
    if (address & 1) [[unlikely]] {
        OddAccess(address);
        return;
    }
    const uintptr_t base = g_cpu.current.writeWord->PageBase(address);
    if (base) [[likely]] {
        StoreHostWord(reinterpret_cast<uint8_t*>(base + (address & kAddressMask)), value);
        return;
    }
    WriteWordSlow(address, value);
}

[[gnu::always_inline]] inline void WriteLong(uint32_t address, uint32_t value) {
    if (address & 1) [[unlikely]] {
        OddAccess(address);
        return;
    }
    const uintptr_t base = g_cpu.current.writeWord->PageBase(address);
    if (base && (address & 0xFFFF) != 0xFFFE) [[likely]] {
        StoreHostLong(reinterpret_cast<uint8_t*>(base + (address & kAddressMask)), value);
        return;
    }
    WriteLongSlow(address, value);
}

}  // namespace vexil

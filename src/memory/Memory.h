// The 68000's view of memory: region tables that map 24-bit addresses to host memory or to
// access handlers, the host block that holds RAM, ROM and cartridge, and the debug accesses.
//
// Emulated memory is kept in host word order: the 16-bit word at even address A is the host's
// native uint16_t at offset A, so the byte at A lives at host offset A ^ 1 and a long is its two
// words, high word first.
//
// A table is an ordered list of regions ending in a terminator whose first address is
// 0xFFFFFFFF. Reads take the first region that contains the address; writes walk the whole
// table and store into every region that contains it. Beside each list the table keeps a page
// map derived from it (64 KB pages), so that RAM and ROM accesses skip the walk: a page whose
// whole range is served by a single host-memory region points straight at the host bytes, any
// other page falls back to the walk. Tables change only between runs, through the functions
// below, which rebuild the page map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/Cycles.h"

namespace vexil {

struct MemoryRegion;
// Read handlers return the byte or word in the low bits; write handlers get it zero-extended.
using ReadHandler = uint32_t (*)(uint32_t address, const MemoryRegion& region, Cycles time);
using WriteHandler = void (*)(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time);

struct MemoryRegion {
    uint32_t first = 0xFFFFFFFF;
    uint32_t last = 0xFFFFFFFF;
    ReadHandler read = nullptr;    // set in read tables for handled regions
    WriteHandler write = nullptr;  // set in write tables for handled regions
    uint8_t* host = nullptr;       // host address of `first` for direct regions
    void* context = nullptr;       // handed back to the handler through the region
    // Read tables, handled regions: the word a read would give, with nothing acted on (for
    // the debug read); 0xFFFFFFFF when a read would be a bus error. Null: all ones.
    ReadHandler peek = nullptr;

    bool Contains(uint32_t address) const { return first <= address && address <= last; }
    bool IsTerminator() const { return first == 0xFFFFFFFF; }
    bool IsDirect() const { return read == nullptr && write == nullptr; }
};

struct FetchRegion {
    uint32_t first = 0xFFFFFFFF;
    uint32_t last = 0xFFFFFFFF;
    intptr_t displacement = 0;  // host address minus emulated address
};

constexpr uint32_t kAddressMask = 0xFFFFFF;
constexpr int kMaxRegions = 8;  // entries per table, not counting the terminator
constexpr int kPageShift = 16;
constexpr int kPageCount = 1 << (24 - kPageShift);

class RegionTable {
public:
    enum class Kind { kRead, kWrite };
    explicit RegionTable(Kind kind) : kind_(kind) { Clear(); }

    void Clear();
    // Appends a region before the terminator; returns its index, or -1 when the table is full.
    int Add(const MemoryRegion& region);
    MemoryRegion& operator[](int index) { return entries_[index]; }
    const MemoryRegion& operator[](int index) const { return entries_[index]; }
    const MemoryRegion* begin() const { return entries_; }
    int size() const;
    // Call after changing entries.
    void Rebuild();

    // Host address base for the page of `address` (host = base + (address & kAddressMask)),
    // or 0 when the page must be walked.
    uintptr_t PageBase(uint32_t address) const { return page_[(address & kAddressMask) >> kPageShift]; }
    const MemoryRegion* FindFirst(uint32_t address) const;

private:
    Kind kind_;
    MemoryRegion entries_[kMaxRegions + 1];
    uintptr_t page_[kPageCount];
};

class FetchTable {
public:
    FetchTable() { Clear(); }
    void Clear();
    int Add(const FetchRegion& region);
    FetchRegion& operator[](int index) { return entries_[index]; }
    const FetchRegion* Find(uint32_t address) const;

private:
    FetchRegion entries_[kMaxRegions + 1];
};

// The five tables in force for one processor mode.
struct TableSet {
    FetchTable* fetch = nullptr;
    RegionTable* readByte = nullptr;
    RegionTable* readWord = nullptr;  // also long reads
    RegionTable* writeByte = nullptr;
    RegionTable* writeWord = nullptr;  // also long writes
};

// The host block: RAM, ROM and cartridge, in host word order.
constexpr uint32_t kRamBytes = 0x400000;
constexpr uint32_t kRomBytes = 0x40000;
constexpr uint32_t kCartridgeBytes = 0x20000;
constexpr uint32_t kRomOffset = 0x400000;
constexpr uint32_t kCartridgeOffset = 0x440000;
constexpr uint32_t kEmulatedMemoryBytes = 0x460000;

struct EmulatedMemoryBlock {
    alignas(64) uint8_t bytes[kEmulatedMemoryBytes];
    uint8_t* Ram() { return bytes; }
    uint8_t* Rom() { return bytes + kRomOffset; }
    uint8_t* Cartridge() { return bytes + kCartridgeOffset; }
};

// Host word order helpers.
inline uint16_t LoadHostWord(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void StoreHostWord(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}
inline uint32_t LoadHostLong(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return (v << 16) | (v >> 16);
}
inline void StoreHostLong(uint8_t* p, uint32_t v) {
    const uint32_t swapped = (v << 16) | (v >> 16);
    std::memcpy(p, &swapped, 4);
}
// Copies big-endian bytes (a file's contents) into host word order; an odd last byte goes to
// the high half of its word.
void CopySwapped(uint8_t* destination, const uint8_t* source, size_t length);

// The machine's tables, installed by MemoryInstall.
struct MachineTables {
    FetchTable fetch;
    RegionTable readByte{RegionTable::Kind::kRead};
    RegionTable readWord{RegionTable::Kind::kRead};
    RegionTable writeByte{RegionTable::Kind::kWrite};
    RegionTable writeWord{RegionTable::Kind::kWrite};
    TableSet Set() { return {&fetch, &readByte, &readWord, &writeByte, &writeWord}; }
};

// Handlers for the regions that the memory map cannot serve itself, with the objects they
// reach through their region's context. Null handlers leave the I/O page out of the map (an
// access there then raises a bus error, as for any address with nothing behind it).
struct MemoryHandlers {
    ReadHandler ioReadByte = nullptr;
    ReadHandler ioReadWord = nullptr;
    ReadHandler ioPeekWord = nullptr;
    WriteHandler ioWriteByte = nullptr;
    WriteHandler ioWriteWord = nullptr;
    void* io = nullptr;
    WriteHandler screenWatchByte = nullptr;
    WriteHandler screenWatchWord = nullptr;
    void* screenWatch = nullptr;
};

// Reads of addresses that no region serves: below this address (RAM beyond the installed size)
// they give all ones, as the memory sizing of TOS expects; from it upwards they are bus errors,
// as writes with nothing behind them are everywhere.
constexpr uint32_t kFirstFaultingRead = 0x400000;

// Builds the machine's map over `block` into `tables` (the machine hands them to the CPU). `ramBytes` is 512
// KB, 1 MB or 2 MB (the last readable RAM address is ramBytes - 1; writes reach up to 0x3FFFFF whatever the
// size).
void MemoryInstall(MachineTables& tables, EmulatedMemoryBlock& block, uint32_t ramBytes,
                   const MemoryHandlers& handlers);
void MemorySetRamSize(MachineTables& tables, uint32_t ramBytes);
// Points the ROM regions at [base, base + length - 1] (host: the block's ROM area).
void MemorySetRomRange(MachineTables& tables, EmulatedMemoryBlock& block, uint32_t base, uint32_t length);
// Moves the screen-watch window of both write tables to the 64 KB from `videoBase`.
void MemorySetScreenWatch(MachineTables& tables, uint32_t videoBase);

// Debug accesses through the machine's tables: no cycles, no exceptions. The read acts on nothing: on
// the I/O page it gives what the chips hold (through the region's peek) without their read
// side effects; the write reaches the chips as a write does.
uint32_t DebugReadWord(const MachineTables& tables, uint32_t address, Cycles now);  // 0xFFFFFFFF: unmapped
int32_t DebugWriteByte(const MachineTables& tables, uint32_t address, uint8_t value,
                       Cycles now);  // -1: unmapped

}  // namespace vexil

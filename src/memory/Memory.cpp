#include "memory/Memory.h"

#include <algorithm>
#include <initializer_list>

namespace vexil {

void RegionTable::Clear() {
    for (auto& e : entries_) e = MemoryRegion{};
    Rebuild();
}

int RegionTable::size() const {
    int n = 0;
    while (!entries_[n].IsTerminator()) ++n;
    return n;
}

int RegionTable::Add(const MemoryRegion& region) {
    const int n = size();
    if (n >= kMaxRegions) return -1;
    entries_[n] = region;
    entries_[n + 1] = MemoryRegion{};
    Rebuild();
    return n;
}

const MemoryRegion* RegionTable::FindFirst(uint32_t address) const {
    address &= kAddressMask;
    for (const MemoryRegion* e = entries_; !e->IsTerminator(); ++e)
        if (e->Contains(address)) return e;
    return nullptr;
}

void RegionTable::Rebuild() {
    for (int page = 0; page < kPageCount; ++page) {
        const uint32_t lo = static_cast<uint32_t>(page) << kPageShift;
        const uint32_t hi = lo + (1u << kPageShift) - 1;
        uintptr_t base = 0;
        int touching = 0;
        for (const MemoryRegion* e = entries_; !e->IsTerminator(); ++e) {
            if (e->last < lo || e->first > hi) continue;
            ++touching;
            // Reads take the first region; a page is direct only when that region is direct
            // and covers it whole. Writes store into every region, so exactly one may touch.
            if (touching == 1 && e->IsDirect() && e->first <= lo && e->last >= hi)
                base = reinterpret_cast<uintptr_t>(e->host) - e->first;
            if (kind_ == Kind::kRead) break;
        }
        if (kind_ == Kind::kWrite && touching != 1) base = 0;
        page_[page] = base;
    }
}

void FetchTable::Clear() {
    for (auto& e : entries_) e = FetchRegion{};
}

int FetchTable::Add(const FetchRegion& region) {
    int n = 0;
    while (entries_[n].first != 0xFFFFFFFF) ++n;
    if (n >= kMaxRegions) return -1;
    entries_[n] = region;
    entries_[n + 1] = FetchRegion{};
    return n;
}

const FetchRegion* FetchTable::Find(uint32_t address) const {
    address &= kAddressMask;
    for (const FetchRegion* e = entries_; e->first != 0xFFFFFFFF; ++e)
        if (e->first <= address && address <= e->last) return e;
    return nullptr;
}

void CopySwapped(uint8_t* destination, const uint8_t* source, size_t length) {
    for (size_t i = 0; i < length; ++i) destination[i ^ 1] = source[i];
}

// Table order of the machine's map (the indices below rely on it).
//   fetch, read byte, read word:  RAM, ROM, cartridge[, I/O page]
//   write byte, write word:       screen watch, reset vectors, RAM[, I/O page]
namespace {
constexpr uint32_t kRomFirst = 0xFC0000, kRomLast = 0xFEFFFF;
constexpr uint32_t kCartridgeFirst = 0xFA0000, kCartridgeLast = 0xFBFFFF;
constexpr uint32_t kIoFirst = 0xFF8000, kIoLast = 0xFFFFFF;

constexpr uint32_t kResetVectorBytes = 8;

void DropWrite(uint32_t, uint32_t, const MemoryRegion&, Cycles) {}

FetchRegion Fetch(uint32_t first, uint32_t last, uint8_t* host) {
    return {first, last, reinterpret_cast<intptr_t>(host) - static_cast<intptr_t>(first)};
}
}  // namespace

void MemoryInstall(MachineTables& t, EmulatedMemoryBlock& block, uint32_t ramBytes, const MemoryHandlers& h) {
    t.fetch.Clear();
    t.readByte.Clear();
    t.readWord.Clear();
    t.writeByte.Clear();
    t.writeWord.Clear();

    t.fetch.Add(Fetch(0, ramBytes - 1, block.Ram()));
    t.fetch.Add(Fetch(kRomFirst, kRomLast, block.Rom()));
    t.fetch.Add(Fetch(kCartridgeFirst, kCartridgeLast, block.Cartridge()));
    for (RegionTable* table : {&t.readByte, &t.readWord}) {
        table->Add({0, ramBytes - 1, nullptr, nullptr, block.Ram()});
        table->Add({kRomFirst, kRomLast, nullptr, nullptr, block.Rom()});
        table->Add({kCartridgeFirst, kCartridgeLast, nullptr, nullptr, block.Cartridge()});
    }
    if (h.ioReadByte) t.readByte.Add({kIoFirst, kIoLast, h.ioReadByte, nullptr, nullptr, h.io});
    if (h.ioReadWord) t.readWord.Add({kIoFirst, kIoLast, h.ioReadWord, nullptr, nullptr, h.io, h.ioPeekWord});

    // The screen watch starts over the first 64 KB; the frame start moves it.
    const bool watch = h.screenWatchByte && h.screenWatchWord;
    if (watch) {
        t.writeByte.Add({kResetVectorBytes, 0xFFFF, nullptr, h.screenWatchByte, nullptr, h.screenWatch});
        t.writeWord.Add({kResetVectorBytes, 0xFFFF, nullptr, h.screenWatchWord, nullptr, h.screenWatch});
    }
    // Addresses 0-7 read the ROM's reset vectors; the machine takes writes there without a
    // bus error (EmuTOS copies its header there at start-up) and they change nothing.
    t.writeByte.Add({0, 7, nullptr, &DropWrite, nullptr});
    t.writeWord.Add({0, 7, nullptr, &DropWrite, nullptr});
    t.writeByte.Add({8, kRamBytes - 1, nullptr, nullptr, block.Ram() + 8});
    t.writeWord.Add({8, kRamBytes - 1, nullptr, nullptr, block.Ram() + 8});
    if (h.ioWriteByte) t.writeByte.Add({kIoFirst, kIoLast, nullptr, h.ioWriteByte, nullptr, h.io});
    if (h.ioWriteWord) t.writeWord.Add({kIoFirst, kIoLast, nullptr, h.ioWriteWord, nullptr, h.io});
}

void MemorySetRamSize(MachineTables& t, uint32_t ramBytes) {
    t.fetch[0].last = ramBytes - 1;
    t.readByte[0].last = ramBytes - 1;
    t.readWord[0].last = ramBytes - 1;
    t.readByte.Rebuild();
    t.readWord.Rebuild();
}

void MemorySetRomRange(MachineTables& t, EmulatedMemoryBlock& block, uint32_t base, uint32_t length) {
    base &= kAddressMask;
    const uint32_t last = base + length - 1;
    t.fetch[1] = Fetch(base, last, block.Rom());
    for (RegionTable* table : {&t.readByte, &t.readWord}) {
        (*table)[1].first = base;
        (*table)[1].last = last;
        table->Rebuild();
    }
}

// The watch never covers the reset vectors (writes there stay dropped, whatever the video base)
// nor anything above the RAM area (writes there stay bus errors). A map installed without a
// watch has none to move: its first write region is the reset vectors' own.
void MemorySetScreenWatch(MachineTables& t, uint32_t videoBase) {
    const uint32_t first = videoBase & 0x3FFFFF;
    for (RegionTable* table : {&t.writeByte, &t.writeWord}) {
        MemoryRegion& watch = (*table)[0];
        if (watch.write == nullptr || watch.write == &DropWrite) continue;
        watch.first = std::max<uint32_t>(first, kResetVectorBytes);
        watch.last = std::min<uint32_t>(first + 0xFFFF, kRamBytes - 1);
        table->Rebuild();
    }
}

uint32_t DebugReadWord(const MachineTables& tables, uint32_t address, Cycles now) {
    const MemoryRegion* region = tables.readWord.FindFirst(address);
    if (region == nullptr) return 0xFFFFFFFF;
    address &= kAddressMask;
    if (region->read) return region->peek ? region->peek(address & ~1u, *region, now) : 0xFFFF;
    const uint32_t offset = address - region->first;
    if (address == region->last) {
        // A word that starts on the region's last byte: its high byte is all that is here.
        return static_cast<uint32_t>(region->host[offset ^ 1]) << 8 | 0xFF;
    }
    if (offset & 1)  // no alignment check: assemble the two bytes
        return static_cast<uint32_t>(region->host[offset ^ 1]) << 8 | region->host[(offset + 1) ^ 1];
    return LoadHostWord(region->host + offset);
}

// Like the processor's write, into every region that holds the address (RAM under the screen
// watch both stores the byte and tells the Shifter).
int32_t DebugWriteByte(const MachineTables& tables, uint32_t address, uint8_t value, Cycles now) {
    address &= kAddressMask;
    bool matched = false;
    for (const MemoryRegion* region = tables.writeByte.begin(); !region->IsTerminator(); ++region) {
        if (!region->Contains(address)) continue;
        matched = true;
        if (region->write)
            region->write(address, value, *region, now);
        else
            region->host[(address - region->first) ^ 1] = value;
    }
    return matched ? 0 : -1;
}

}  // namespace vexil

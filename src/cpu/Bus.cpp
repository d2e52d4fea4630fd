#include "cpu/Bus.h"

namespace vexil {

namespace {

// While a handler runs, the remaining cycles are parked in the countdown, from which the
// handler takes its wait states.
template <typename Call>
auto CallHandler(uint32_t address, Call call) {
    const bool running = g_run.flags & kRunActive;
    if (running) {
        g_run.countdown = g_run.remaining - 1;
        g_cpu.pc = Pc();  // for handlers that look at the processor
    }
    auto value = call();
    if (running) {
        g_run.remaining = g_run.countdown + 1;
        g_run.countdown = -1;
    }
    g_run.ioMarker = 1;
    ForceSlowFetch();  // the next dispatch clears the marker
    if (g_run.busErrorRequest) {
        g_run.busErrorRequest = 0;
        EnterGroupZero(2, address);
    }
    return value;
}

uint32_t CallRead(const MemoryRegion& r, uint32_t address, Cycles time) {
    return CallHandler(address, [&] { return r.read(address & kAddressMask, r, time); });
}

void CallWrite(const MemoryRegion& r, uint32_t address, uint32_t value, Cycles time) {
    CallHandler(address, [&] {
        r.write(address & kAddressMask, value, r, time);
        return 0;
    });
}

uint8_t* HostAt(const MemoryRegion& r, uint32_t address) {
    return r.host + ((address & kAddressMask) - r.first);
}

}  // namespace

TableSet SuppressedTables(FetchTable* fetch) {
    static RegionTable reads(RegionTable::Kind::kRead), writes(RegionTable::Kind::kWrite);
    static const bool built = [] {
        reads.Add({0, kAddressMask, [](uint32_t, const MemoryRegion&, Cycles) -> uint32_t { return 0; },
                   nullptr, nullptr});
        writes.Add(
            {0, kAddressMask, nullptr, [](uint32_t, uint32_t, const MemoryRegion&, Cycles) {}, nullptr});
        return true;
    }();
    (void)built;
    return {fetch, &reads, &reads, &writes, &writes};
}

uint32_t OddAccess(uint32_t address) {
    EnterGroupZero(3, address);
    return 0;
}

namespace {
// A read that no region serves: all ones, and a bus error above the RAM area.
uint32_t UnservedRead(uint32_t address, uint32_t ones) {
    if ((address & kAddressMask) >= kFirstFaultingRead) EnterGroupZero(2, address);
    return ones;
}
}  // namespace

uint8_t ReadByteSlow(uint32_t address) {
    const MemoryRegion* r = g_cpu.current.readByte->FindFirst(address);
    if (r == nullptr) return static_cast<uint8_t>(UnservedRead(address, 0xFF));
    if (r->read) return static_cast<uint8_t>(CallRead(*r, address, CpuCurrentCycle()));
    return *reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(HostAt(*r, address)) ^ 1);
}

uint16_t ReadWordSlow(uint32_t address) {
    const MemoryRegion* r = g_cpu.current.readWord->FindFirst(address);
    if (r == nullptr) return static_cast<uint16_t>(UnservedRead(address, 0xFFFF));
    if (r->read) return static_cast<uint16_t>(CallRead(*r, address, CpuCurrentCycle()));
    if ((address & kAddressMask) == r->last) return static_cast<uint16_t>(HostAt(*r, address)[1] << 8 | 0xFF);
    return LoadHostWord(HostAt(*r, address));
}

uint32_t ReadLongSlow(uint32_t address) {
    const MemoryRegion* r = g_cpu.current.readWord->FindFirst(address);
    if (r == nullptr) return UnservedRead(address, 0xFFFFFFFF);
    const uint32_t masked = address & kAddressMask;
    const bool whole = masked + 2 <= r->last;
    if (r->read) {
        const Cycles t = CpuCurrentCycle();
        const uint32_t high = CallRead(*r, address, t) & 0xFFFF;
        if (!whole) return high << 16 | ReadWord(address + 2);
        return high << 16 | (CallRead(*r, address + 2, t + 4) & 0xFFFF);
    }
    if (whole) return LoadHostLong(HostAt(*r, address));
    const uint32_t high =
        (masked == r->last) ? (HostAt(*r, address)[1] << 8 | 0xFF) : LoadHostWord(HostAt(*r, address));
    return high << 16 | ReadWord(address + 2);
}

void WriteByteSlow(uint32_t address, uint8_t value) {
    const uint32_t masked = address & kAddressMask;
    bool matched = false;
    for (const MemoryRegion* r = g_cpu.current.writeByte->begin(); !r->IsTerminator(); ++r) {
        if (!r->Contains(masked)) continue;
        matched = true;
        if (r->write)
            CallWrite(*r, address, value, CpuCurrentCycle());
        else
            *reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(HostAt(*r, address)) ^ 1) = value;
    }
    if (!matched) EnterGroupZero(2, address);
}

void WriteWordSlow(uint32_t address, uint16_t value) {
    const uint32_t masked = address & kAddressMask;
    bool matched = false;
    for (const MemoryRegion* r = g_cpu.current.writeWord->begin(); !r->IsTerminator(); ++r) {
        if (!r->Contains(masked)) continue;
        matched = true;
        if (r->write)
            CallWrite(*r, address, value, CpuCurrentCycle());
        else if (masked == r->last)
            HostAt(*r, address)[1] = static_cast<uint8_t>(value >> 8);
        else
            StoreHostWord(HostAt(*r, address), value);
    }
    if (!matched) EnterGroupZero(2, address);
}

void WriteLongSlow(uint32_t address, uint32_t value) {
    const uint32_t masked = address & kAddressMask;
    const uint16_t high = static_cast<uint16_t>(value >> 16), low = static_cast<uint16_t>(value);
    bool matched = false;
    for (const MemoryRegion* r = g_cpu.current.writeWord->begin(); !r->IsTerminator(); ++r) {
        if (!r->Contains(masked)) continue;
        matched = true;
        const bool whole = masked + 2 <= r->last;
        if (r->write) {
            const Cycles t = CpuCurrentCycle();
            CallWrite(*r, address, high, t);
            if (whole)
                CallWrite(*r, address + 2, low, t + 4);
            else
                WriteWord(address + 2, low);
        } else if (whole) {
            StoreHostLong(HostAt(*r, address), value);
        } else {
            if (masked == r->last)
                HostAt(*r, address)[1] = static_cast<uint8_t>(high >> 8);
            else
                StoreHostWord(HostAt(*r, address), high);
            WriteWord(address + 2, low);
        }
    }
    if (!matched) WriteWord(address + 2, low);
}

}  // namespace vexil

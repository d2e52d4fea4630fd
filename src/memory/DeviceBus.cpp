#include "memory/DeviceBus.h"

namespace vexil {

// The direct (host memory) region serving `address`, or null. Handler regions (the I/O page,
// the dropped writes to 0-7, the screen watch) are not devices' to call. Reads take the first
// region that holds the address, as the CPU's do; writes go on to a direct region further
// down the table, as the CPU's reach every region that holds the address.
const MemoryRegion* DeviceBus::Direct(const RegionTable& table, uint32_t address, bool write) {
    for (const MemoryRegion* r = table.begin(); !r->IsTerminator(); ++r) {
        if (!r->Contains(address)) continue;
        if (r->IsDirect()) return r;
        if (!write) return nullptr;
    }
    return nullptr;
}

bool DeviceBus::ReadWord(uint32_t address, uint16_t& value) const {
    address &= kAddressMask & ~1u;
    const MemoryRegion* r = Direct(tables_.readWord, address, false);
    if (r == nullptr || address == r->last) {
        value = 0xFFFF;
        return false;
    }
    value = LoadHostWord(r->host + (address - r->first));
    return true;
}

bool DeviceBus::ReadByte(uint32_t address, uint8_t& value) const {
    address &= kAddressMask;
    const MemoryRegion* r = Direct(tables_.readByte, address, false);
    if (r == nullptr) {
        value = 0xFF;
        return false;
    }
    value = r->host[(address - r->first) ^ 1];
    return true;
}

bool DeviceBus::WriteWord(uint32_t address, uint16_t value) const {
    address &= kAddressMask & ~1u;
    const MemoryRegion* r = Direct(tables_.writeWord, address, true);
    if (r == nullptr || address == r->last) return false;
    StoreHostWord(r->host + (address - r->first), value);
    return true;
}

bool DeviceBus::WriteByte(uint32_t address, uint8_t value) const {
    address &= kAddressMask;
    const MemoryRegion* r = Direct(tables_.writeByte, address, true);
    if (r == nullptr) return false;
    r->host[(address - r->first) ^ 1] = value;
    return true;
}

void DeviceBus::Charge(Cycles cycles) const {
    if (charge_ && cycles > 0) charge_(cycles);
}

}  // namespace vexil

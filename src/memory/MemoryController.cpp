#include "memory/MemoryController.h"

#include <initializer_list>

namespace vexil {

namespace {

constexpr uint32_t kKb = 1024;

// A bank's size for its two configuration bits; 11 answers nothing.
constexpr uint32_t kBankSizes[4] = {128 * kKb, 512 * kKb, 2048 * kKb, 0};

// Row (and column) address lines of a bank of `bytes`: 8 for 128 KB, 9 for 512 KB, 10 for 2 MB.
unsigned AddressLines(uint32_t bytes) {
    return bytes >= 2048 * kKb ? 10 : bytes >= 512 * kKb ? 9 : 8;
}

MemoryController& Controller(const MemoryRegion& region) {
    return *static_cast<MemoryController*>(region.context);
}

}  // namespace

void MemoryController::Fit(uint32_t ramBytes, bool ste) {
    ste_ = ste;
    switch (ramBytes) {
        case 512 * kKb:
            fitted_[0] = 512 * kKb, fitted_[1] = 0;
            break;
        case 1024 * kKb:
            fitted_[0] = fitted_[1] = 512 * kKb;
            break;
        case 2560 * kKb:
            fitted_[0] = 2048 * kKb, fitted_[1] = 512 * kKb;
            break;
        case 4096 * kKb:
            fitted_[0] = fitted_[1] = 2048 * kKb;
            break;
        default:
            fitted_[0] = 2048 * kKb, fitted_[1] = 0;
            break;
    }
    Configure(config_);
}

uint8_t MemoryController::MatchingConfig(uint32_t ramBytes) {
    // A bank with nothing fitted is configured 00 (128 KB), as the sizing code leaves it.
    switch (ramBytes) {
        case 512 * kKb:
            return 0x04;
        case 1024 * kKb:
            return 0x05;
        case 2560 * kKb:
            return 0x09;
        case 4096 * kKb:
            return 0x0A;
        default:
            return 0x08;
    }
}

void MemoryController::Configure(uint8_t config) {
    config_ = config & 0x0F;
    configured_[0] = kBankSizes[(config_ >> 2) & 3];
    configured_[1] = kBankSizes[config_ & 3];
    identity_ = configured_[0] == fitted_[0] && (fitted_[1] == 0 || configured_[1] == fitted_[1]);
}

uint32_t MemoryController::Decode(uint32_t address) const {
    address &= kAddressMask;
    unsigned bank = 0;
    uint32_t r = address;
    if (r >= configured_[0]) {
        bank = 1;
        r -= configured_[0];
        if (r >= configured_[1]) return kNoRam;
    }
    const uint32_t fitted = fitted_[bank];
    if (fitted == 0) return kNoRam;
    const uint32_t base = bank == 0 ? 0 : fitted_[0];
    if (ste_) return base + (r & (fitted - 1));
    const unsigned k = AddressLines(configured_[bank]), kf = AddressLines(fitted);
    const uint32_t lines = (1u << k) - 1, fittedLines = (1u << kf) - 1;
    const uint32_t row = (r >> 1) & lines, column = (r >> (k + 1)) & lines;
    return base + ((row & fittedLines) << 1 | (column & fittedLines) << (kf + 1) | (r & 1));
}

void MemoryController::Apply(MachineTables& t, EmulatedMemoryBlock& block) const {
    if (identity_) {
        MemorySetRamSize(t, block, FittedBytes());
        return;
    }
    // Instructions are fetched directly only from the start of bank 0 where the decoding
    // happens to be the identity (none on an ST, whose rows and columns move); elsewhere a
    // fetch from RAM faults while the configuration differs from the chips. The sizing code
    // runs from ROM.
    uint32_t direct = 0;
    if (configured_[0] == fitted_[0])
        direct = fitted_[0];
    else if (ste_)
        direct = configured_[0] < fitted_[0] ? configured_[0] : fitted_[0];
    t.fetch[0] = direct ? FetchRegion{0, direct - 1, reinterpret_cast<intptr_t>(block.Ram())}
                        : FetchRegion{0xFFFFFFFE, 0, 0};
    auto* self = const_cast<MemoryController*>(this);
    t.readByte[0] = {0, kRamBytes - 1, &ReadByte, nullptr, block.Ram(), self, &ReadByte};
    t.readWord[0] = {0, kRamBytes - 1, &ReadWord, nullptr, block.Ram(), self, &ReadWord};
    t.writeByte[t.ramWrite] = {8, kRamBytes - 1, nullptr, &WriteByte, block.Ram(), self};
    t.writeWord[t.ramWrite] = {8, kRamBytes - 1, nullptr, &WriteWord, block.Ram(), self};
    for (RegionTable* table : {&t.readByte, &t.readWord, &t.writeByte, &t.writeWord}) table->Rebuild();
}

uint32_t MemoryController::ReadByte(uint32_t address, const MemoryRegion& region, Cycles) {
    const uint32_t offset = Controller(region).Decode(address);
    return offset == kNoRam ? 0xFF : region.host[offset ^ 1];
}

uint32_t MemoryController::ReadWord(uint32_t address, const MemoryRegion& region, Cycles) {
    const uint32_t offset = Controller(region).Decode(address & ~1u);
    return offset == kNoRam ? 0xFFFF : LoadHostWord(region.host + offset);
}

void MemoryController::WriteByte(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles) {
    const uint32_t offset = Controller(region).Decode(address);
    if (offset != kNoRam) region.host[offset ^ 1] = static_cast<uint8_t>(value);
}

void MemoryController::WriteWord(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles) {
    const uint32_t offset = Controller(region).Decode(address & ~1u);
    if (offset != kNoRam) StoreHostWord(region.host + offset, static_cast<uint16_t>(value));
}

}  // namespace vexil

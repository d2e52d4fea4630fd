// The memory controller's bank decoding: how an address below 4 MB reaches the RAM chips.
//
// RAM sits in two banks. The configuration register (0xFF8001, written through the I/O page)
// gives each bank's configured size, and the controller decodes a bank of that size onto the
// chips actually fitted, so that a bank configured larger than its chips shows them several
// times over: this aliasing is how TOS sizes memory.
//
//   0xFF8001  bits 3-2  bank 0's configured size   00 128 KB   01 512 KB   10 2 MB   11 none
//             bits 1-0  bank 1's configured size   (the same)
//
//   bank 0 covers [0, S0), bank 1 [S0, S0 + S1), S0 and S1 the configured sizes.
//   fitted RAM:   512 KB = 512 + 0   1 MB = 512 + 512   2 MB = 2048 + 0
//                 2.5 MB = 2048 + 512                   4 MB = 2048 + 2048
//
// Within a bank, r = address - bank base; k = 8, 9, 10 row (and column) address lines for a
// configured 128 KB, 512 KB, 2 MB bank, kf the same for the fitted chips:
//   ST    row = r bits [k:1], column = r bits [2k:k+1]
//         offset = (row mod 2^kf) << 1 | (column mod 2^kf) << (kf + 1) | (r & 1)
//   STE   rows and columns interleave: offset = r & (fitted - 1)
// Where no RAM answers, reads give all ones and writes are dropped (no bus error below 4 MB:
// the sizing code overwrites the bus-error vector with its patterns). The real bus floats
// there: all ones is our choice, as is taking a bank configured 11 as answering nothing.
//
// When the register matches the fitted banks the decoding is the identity: the memory map
// then serves RAM from its direct pages as it always has, and takes the decoding path (RAM as
// a handler region) only while the two differ. The CPU, the video snapshot and the device bus
// (floppy DMA, Blitter, DMA sound) all go through the same decoding.
#pragma once

#include <cstdint>

#include "memory/Memory.h"

namespace vexil {

constexpr uint32_t kNoRam = 0xFFFFFFFF;

class MemoryController {
public:
    // Fits `ramBytes` of RAM (512 KB, 1 MB, 2 MB, 2.5 MB or 4 MB) into the two banks.
    void Fit(uint32_t ramBytes, bool ste);
    // The register value whose decoding is the identity for `ramBytes`: what the sizing code
    // ends up writing, and our choice for the value at power-on.
    static uint8_t MatchingConfig(uint32_t ramBytes);

    // Takes the register's bank bits.
    void Configure(uint8_t config);
    uint8_t Config() const { return config_; }
    bool Identity() const { return identity_; }
    uint32_t FittedBytes() const { return fitted_[0] + fitted_[1]; }

    // The RAM offset that `address` (24 bits) reaches, or kNoRam.
    uint32_t Decode(uint32_t address) const;

    // Points the RAM regions of `tables` at the decoding now in force (the map must have been
    // built by MemoryInstall over `block`).
    void Apply(MachineTables& tables, EmulatedMemoryBlock& block) const;

    // The decoding path's region handlers (context: the controller; host: the RAM).
    static uint32_t ReadByte(uint32_t address, const MemoryRegion& region, Cycles time);
    static uint32_t ReadWord(uint32_t address, const MemoryRegion& region, Cycles time);
    static void WriteByte(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time);
    static void WriteWord(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time);

private:
    uint32_t fitted_[2] = {kRamBytes, 0};
    uint32_t configured_[2] = {kRamBytes, 0};
    uint8_t config_ = 0;
    bool ste_ = false;
    bool identity_ = true;
};

}  // namespace vexil

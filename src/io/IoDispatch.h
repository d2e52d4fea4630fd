// The I/O page decoder: the 32 KB at 0xFF8000-0xFFFFFF that hold the chips' registers.
//
// An access is split by 256-byte page (address bits 14-8) and then by offset within the page
// (bits 7-0). Each chip registers the routines of its page once, with the offsets it decodes
// for each of the four access kinds; the decoder adds the page's wait states, refuses the
// STE-only pages on an ST, and answers for everything that decodes to nothing:
//
//   undecoded page               read 0xFF / 0xFFFF, write -> bus error
//   undecoded offset, known page read 0xFF / 0xFFFF, write ignored
//   0xFF8900 (DMA sound) on ST   every access -> bus error
//   0xFF8A00 (Blitter) on ST     every write  -> bus error (reads are undecoded on both)
//
// Wait states, per page:
//   0xFFFA00 MFP                 4 cycles on every access
//   0xFF8800 YM2149              4 cycles on the first access of an instruction, then 4 more
//                                every 8 byte accesses, 4 word reads or 4 word writes
//   everything else              none at the decoder (a chip may add its own)
//
// There is no supervisor check: user programs reach every register.
#pragma once

#include <bitset>
#include <cstdint>

#include "memory/Memory.h"

namespace vexil {

// Register routines. Word routines get and give the word in the machine's order: the high byte
// is the register at the even address.
using IoByteRead = uint8_t (*)(uint32_t address, Cycles time);
using IoWordRead = uint16_t (*)(uint32_t address, Cycles time);
using IoByteWrite = void (*)(uint32_t address, uint8_t value, Cycles time);
using IoWordWrite = void (*)(uint32_t address, uint16_t value, Cycles time);

// A set of offsets within a page (0x00-0xFF). Word sets hold the even offsets.
class IoOffsets {
public:
    // Every `step`-th offset from `first` to `last` inclusive.
    IoOffsets& Add(unsigned first, unsigned last, unsigned step = 1) {
        for (unsigned o = first; o <= last && o < 256; o += step) bits_.set(o);
        return *this;
    }
    bool Has(unsigned offset) const { return bits_.test(offset & 0xFF); }

private:
    std::bitset<256> bits_;
};

// One chip's face on the I/O page: its page, its routines and the offsets it decodes. Once a
// chip holds a page, every offset it does not decode reads as all ones and ignores writes (a
// null routine decodes no offset of its kind).
struct IoChip {
    const char* name = "";
    uint32_t page = 0;  // 0xFF8000-0xFFFF00, low byte 0
    IoByteRead readByte = nullptr;
    IoWordRead readWord = nullptr;
    IoByteWrite writeByte = nullptr;
    IoWordWrite writeWord = nullptr;
    IoOffsets readBytes, readWords, writeBytes, writeWords;
    void (*reset)() = nullptr;  // this chip's part of IoReset, in registration order
};

// Clears the page tables and registers the decoder's own page (the memory configuration
// register). Chips register after it.
void IoInit();
// Installs a chip's page. Returns false (and changes nothing) for a page outside the I/O
// area or one that is already taken.
bool IoRegisterChip(const IoChip& chip);

// The four entry handlers the memory map installs over the I/O page.
uint32_t IoReadByte(uint32_t address, const MemoryRegion& region, Cycles time);
uint32_t IoReadWord(uint32_t address, const MemoryRegion& region, Cycles time);
void IoWriteByte(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time);
void IoWriteWord(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time);
MemoryHandlers IoMemoryHandlers();

// The CPU's reset hook (RESET instruction) and part of every machine reset: resets the MFP's
// timers and registers, then each registered chip's reset in registration order.
void IoReset();

}  // namespace vexil

// The STE's Blitter at 0xFF8A00: copies and combines blocks of 16-bit words in memory.
//
// Registers (offsets in the page, big-endian like the machine; 0x3E-0xFF read 0xFF and ignore
// writes):
//   0x00-0x1F  halftone RAM, 16 words
//   0x20 0x22  source X and Y increments (signed bytes; bit 0 reads 0)
//   0x24       source address (long; bits 23-1)
//   0x28-0x2C  end masks 1, 2, 3 (first word of a line, middle words, last word)
//   0x2E 0x30  destination X and Y increments
//   0x32       destination address (long; bits 23-1)
//   0x36 0x38  X count (words a line, 0 = 65536), Y count (lines)
//   0x3A       HOP (bits 1-0): 0 ones, 1 halftone, 2 source, 3 source AND halftone
//   0x3B       OP (bits 3-0): the logic operation of source and destination, its truth
//              table: bit 0 the result for S=1 D=1, bit 1 S=1 D=0, bit 2 S=0 D=1, bit 3 S=0 D=0
//              (3 copies the source, 5 keeps the destination, 6 is S XOR D)
//   0x3C       control: bit 7 busy (writing it starts the blit), 6 hog, 5 smudge,
//              bits 3-0 the halftone line number
//   0x3D       bit 7 FXSR (an extra source read before each line), 6 NFSR (no final source
//              read of a line), bits 3-0 skew (right shift of the source)
//
// Each word: the source words pass through a 32-bit buffer (a new word enters the low half
// when the source X increment is positive or 0, the high half when it is negative, the other
// half taking the word before it; without a read the new half is empty) and the skew takes its
// low 16 bits after a right shift (so a right-to-left blit with skew 0 gives the word read
// before: software sets FXSR for it); HOP combines that with the halftone word of the line (with
// smudge, of the skewed source's low four bits), OP with the destination, and the line's end
// mask chooses which bits of the destination take the result. After each source read the
// address moves by the X increment, after the last of a line by the Y increment; the same for
// the destination after each write. The source is read only when HOP and OP use it, the
// destination only when OP uses it or the mask keeps some of its bits. The halftone line
// number steps after each line, down when the destination Y increment is negative.
//
// A blit runs whole inside the register write that sets the busy bit, its memory traffic through
// the device bus, and charges the processor 4 cycles for every word read or written. Afterwards
// busy and the Y count read 0, the addresses hold their advanced values and the line number
// where it stopped (software draws line by line with a Y count of 1 and waits on busy with TAS,
// whose write of busy with a Y count of 0 starts nothing).
#pragma once

#include <cstdint>

#include "io/IoDispatch.h"
#include "memory/DeviceBus.h"

namespace vexil {

class StateWriter;
class StateReader;

namespace blitter {
constexpr unsigned kHalftone = 0x00, kSrcXInc = 0x20, kSrcYInc = 0x22, kSrcAddr = 0x24;
constexpr unsigned kEndMask1 = 0x28, kEndMask2 = 0x2A, kEndMask3 = 0x2C;
constexpr unsigned kDstXInc = 0x2E, kDstYInc = 0x30, kDstAddr = 0x32;
constexpr unsigned kXCount = 0x36, kYCount = 0x38, kHop = 0x3A, kOp = 0x3B;
constexpr unsigned kControl = 0x3C, kSkew = 0x3D;
constexpr unsigned kRegisterBytes = 0x3E;
constexpr uint8_t kBusy = 0x80, kHog = 0x40, kSmudge = 0x20;
constexpr uint8_t kFxsr = 0x80, kNfsr = 0x40;
constexpr Cycles kCyclesPerAccess = 4;
}  // namespace blitter

class Blitter {
public:
    explicit Blitter(const DeviceBus& bus) : bus_(bus) { Reset(); }

    // Machine reset: every register 0.
    void Reset();

    uint8_t ReadByte(uint32_t address) const;
    uint16_t ReadWord(uint32_t address) const;
    // A write that leaves the busy bit set runs the blit before it returns.
    void WriteByte(uint32_t address, uint8_t value);
    void WriteWord(uint32_t address, uint16_t value);

    // Performs the whole blit the registers describe; returns the bus cycles it took (also
    // charged to the processor).
    Cycles Run();

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

private:
    void Store(unsigned offset, uint8_t value);
    uint16_t Word(unsigned offset) const {
        return static_cast<uint16_t>(s_.regs[offset] << 8 | s_.regs[offset + 1]);
    }
    uint32_t Long(unsigned offset) const { return uint32_t{Word(offset)} << 16 | Word(offset + 2); }
    void SetWord(unsigned offset, uint16_t value) {
        s_.regs[offset] = static_cast<uint8_t>(value >> 8);
        s_.regs[offset + 1] = static_cast<uint8_t>(value);
    }
    void SetAddress(unsigned offset, uint32_t address) {
        SetWord(offset, static_cast<uint16_t>(address >> 16 & 0xFF));
        SetWord(offset + 2, static_cast<uint16_t>(address & 0xFFFE));
    }

    struct State {
        uint8_t regs[blitter::kRegisterBytes];
        uint32_t buffer;  // the source buffer: the last two source words, as they were read
        template <class Archive>
        void Fields(Archive& a) {
            a(regs)(buffer);
        }
    };

    const DeviceBus& bus_;
    State s_{};
};

IoChip BlitterIoChip(Blitter& blitter);

}  // namespace vexil

#include "video/Blitter.h"

#include <algorithm>
#include <cstring>

#include "core/SaveState.h"

namespace vexil {

using namespace blitter;

namespace {

constexpr uint32_t kMaxWords = 1u << 24;

// The bits of each register that exist; the others read 0.
uint8_t Implemented(unsigned offset, uint8_t value) {
    switch (offset) {
        case kSrcXInc + 1:
        case kSrcYInc + 1:
        case kSrcAddr + 3:
        case kDstXInc + 1:
        case kDstYInc + 1:
        case kDstAddr + 3:
            return value & 0xFE;
        case kSrcAddr:
        case kDstAddr:
            return 0;
        case kHop:
            return value & 3;
        case kOp:
            return value & 15;
        case kControl:
            return value & 0xEF;
        case kSkew:
            return value & 0xCF;
        default:
            return value;
    }
}

// OP as a truth table: bit 0 for S=1 D=1, bit 1 S=1 D=0, bit 2 S=0 D=1, bit 3 S=0 D=0.
uint16_t Combine(unsigned op, uint16_t s, uint16_t d) {
    uint32_t r = 0;
    if (op & 1) r |= s & d;
    if (op & 2) r |= s & ~d;
    if (op & 4) r |= ~s & d;
    if (op & 8) r |= ~s & ~d;
    return static_cast<uint16_t>(r);
}

bool UsesSource(unsigned op) {
    return ((op >> 2 ^ op) & 3) != 0;  // the result differs between S=1 and S=0 somewhere
}

bool UsesDestination(unsigned op) {
    return ((op >> 1 ^ op) & 5) != 0;  // the result differs between D=1 and D=0 somewhere
}

}  // namespace

void Blitter::Reset() {
    s_ = State{};
}

uint8_t Blitter::ReadByte(uint32_t address) const {
    const unsigned offset = address & 0xFF;
    return offset < kRegisterBytes ? s_.regs[offset] : 0xFF;
}

uint16_t Blitter::ReadWord(uint32_t address) const {
    const unsigned offset = address & 0xFE;
    return static_cast<uint16_t>(ReadByte(offset) << 8 | ReadByte(offset + 1));
}

void Blitter::Store(unsigned offset, uint8_t value) {
    if (offset < kRegisterBytes) s_.regs[offset] = Implemented(offset, value);
}

void Blitter::WriteByte(uint32_t address, uint8_t value) {
    Store(address & 0xFF, value);
    if (s_.regs[kControl] & kBusy) Run();
}

void Blitter::WriteWord(uint32_t address, uint16_t value) {
    const unsigned offset = address & 0xFE;
    Store(offset, static_cast<uint8_t>(value >> 8));
    Store(offset + 1, static_cast<uint8_t>(value));
    if (s_.regs[kControl] & kBusy) Run();
}

Cycles Blitter::Run() {
    const int32_t srcXInc = static_cast<int16_t>(Word(kSrcXInc));
    const int32_t srcYInc = static_cast<int16_t>(Word(kSrcYInc));
    const int32_t dstXInc = static_cast<int16_t>(Word(kDstXInc));
    const int32_t dstYInc = static_cast<int16_t>(Word(kDstYInc));
    uint32_t src = Long(kSrcAddr);
    uint32_t dst = Long(kDstAddr);
    const uint16_t masks[3] = {Word(kEndMask1), Word(kEndMask2), Word(kEndMask3)};
    const uint32_t width = Word(kXCount) != 0 ? Word(kXCount) : 0x10000;
    // The largest blit the registers allow moves 2^32 words, minutes of host time inside one
    // write; one blit moves at most 2^24 words (four times the STE's largest memory) and ends
    // as a whole one does.
    uint32_t lines = std::min<uint32_t>(Word(kYCount), std::max<uint32_t>(1, kMaxWords / width));
    const unsigned hop = s_.regs[kHop], op = s_.regs[kOp];
    const uint8_t control = s_.regs[kControl];
    const bool smudge = (control & kSmudge) != 0;
    unsigned line = control & 15;
    const unsigned skew = s_.regs[kSkew] & 15;
    const bool fxsr = (s_.regs[kSkew] & kFxsr) != 0, nfsr = (s_.regs[kSkew] & kNfsr) != 0;
    const bool readSource = UsesSource(op) && (hop >= 2 || (hop == 1 && smudge));
    const bool opReadsDestination = UsesDestination(op);
    const bool leftward = srcXInc < 0;
    uint32_t buffer = s_.buffer;
    uint32_t accesses = 0;

    // A word enters the buffer on the side the blit comes from; without a read the buffer
    // moves on all the same and the freed half is empty.
    const auto fetch = [&](int32_t step) {
        uint16_t word;
        bus_.ReadWord(src, word);
        ++accesses;
        buffer = leftward ? (uint32_t{word} << 16 | buffer >> 16) : (buffer << 16 | word);
        src = (src + static_cast<uint32_t>(step)) & kAddressMask;
    };

    for (; lines > 0; --lines) {
        for (uint32_t x = width; x >= 1; --x) {
            if (readSource) {
                if (x == width && fxsr) fetch(srcXInc);
                if (x == 1 && nfsr) {
                    buffer = leftward ? buffer >> 16 : buffer << 16;
                    src = (src + static_cast<uint32_t>(srcYInc - srcXInc)) & kAddressMask;
                } else {
                    fetch(x == 1 ? srcYInc : srcXInc);
                }
            }
            const uint16_t mask = x == width ? masks[0] : x == 1 ? masks[2] : masks[1];
            const uint16_t skewed = static_cast<uint16_t>(buffer >> skew);
            const uint16_t halftone = Word(kHalftone + 2 * (smudge ? skewed & 15 : line));
            uint16_t source = 0xFFFF;
            if (hop == 1) source = halftone;
            if (hop == 2) source = skewed;
            if (hop == 3) source = skewed & halftone;
            uint16_t d = 0;
            if (opReadsDestination || mask != 0xFFFF) {
                bus_.ReadWord(dst, d);
                ++accesses;
            }
            const uint16_t result = Combine(op, source, d);
            bus_.WriteWord(dst, static_cast<uint16_t>((result & mask) | (d & ~mask)));
            ++accesses;
            dst = (dst + static_cast<uint32_t>(x == 1 ? dstYInc : dstXInc)) & kAddressMask;
        }
        line = (line + (dstYInc < 0 ? 15 : 1)) & 15;
    }

    s_.buffer = buffer;
    SetAddress(kSrcAddr, src);
    SetAddress(kDstAddr, dst);
    SetWord(kYCount, 0);
    s_.regs[kControl] = static_cast<uint8_t>((control & ~kBusy & 0xF0) | line);
    const Cycles cycles = static_cast<Cycles>(accesses) * kCyclesPerAccess;
    bus_.Charge(cycles);
    return cycles;
}

void Blitter::Save(StateWriter& out) const {
    out.BeginSection("BLIT");
    out(s_);
}

bool Blitter::Load(StateReader& in, bool commit) {
    State s{};
    if (!in.BeginSection("BLIT") || !in(s).EndSection()) return false;
    // Registers as the chip keeps them; a busy bit never outlasts the write that set it.
    for (unsigned offset = 0; offset < kRegisterBytes; ++offset)
        if (Implemented(offset, s.regs[offset]) != s.regs[offset]) return false;
    if (s.regs[kControl] & kBusy) return false;
    if (commit) s_ = s;
    return true;
}

IoChip BlitterIoChip(Blitter& blitter) {
    IoChip chip = MakeIoChip("Blitter", 0xFF8A00, blitter);
    chip.readBytes.Add(0x00, kRegisterBytes - 1);
    chip.writeBytes.Add(0x00, kRegisterBytes - 1);
    chip.readWords.Add(0x00, kRegisterBytes - 2, 2);
    chip.writeWords.Add(0x00, kRegisterBytes - 2, 2);
    return chip;
}

}  // namespace vexil

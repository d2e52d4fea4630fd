#include "video/Shifter.h"

#include <algorithm>
#include <cstring>

#include "core/SaveState.h"

namespace vexil {

namespace {

constexpr int32_t kLines = 313;
constexpr int32_t kCounterLead = 20;  // the counter is read this many cycles ahead

// Frame cycles in which a switch away from 50 Hz opens the top or the bottom border.
constexpr Cycles kTopOpenFirst = 33 * 512 + 288, kTopOpenLast = 34 * 512 + 16;
constexpr Cycles kBottomOpenFirst = 261 * 512 + 292, kBottomOpenLast = 263 * 512 + 96;

int32_t LineOf(Cycles time) {
    return std::clamp<int32_t>(time / 512, 0, kLines - 1);
}

}  // namespace

Shifter::Shifter(BorderState& border, bool ste)
    : border_(border), ste_(ste), log_(new ShifterEvent[kShifterLogEntries]()) {
    Reset();
    ResetLineWindows();
    StartFrame();
    TerminateLog();
}

void Shifter::Reset() {
    s_.regs[0x01] = s_.regs[0x03] = s_.regs[0x0D] = 0;
    s_.videoBase = 0;
    s_.counterStart = 0;
    s_.regs[0x60] = 0;
    s_.regs[0x0A] = 2;  // 50 Hz
    if (ste_) s_.regs[0x0F] = s_.regs[0x65] = 0;
}

void Shifter::StartFrame() {
    s_.counterStart = s_.videoBase;
    s_.frameBase = s_.videoBase;
    s_.logLength = 0;
    s_.lastEventCycle = 0;
}

void Shifter::ResetLineWindows() {
    for (int32_t line = 0; line < kLines; ++line) {
        s_.windowStart[line] = kDisplayStart;
        s_.windowEnd[line] = kDisplayEnd;
    }
    s_.countRestart = 1;
}

void Shifter::TerminateLog() {
    log_[s_.logLength] = ShifterEvent{kLogEnd, 0, 0};
}

void Shifter::Log(uint32_t code, uint32_t value, Cycles time) {
    // A full log keeps its last slot for the terminator; further writes of the frame are lost
    // (a frame has fewer bus slots than entries, so only a clock run wild gets here).
    if (s_.logLength >= kShifterLogEntries - 1) return;
    const int32_t delta = time - s_.lastEventCycle;
    log_[s_.logLength++] = ShifterEvent{delta, code, value};
    s_.lastEventCycle += delta;
}

void Shifter::LogScreenWrite(uint32_t code, uint32_t address, Cycles time) {
    // Screen writes always move the log on: a delta of 0 or less becomes 4.
    if (time - s_.lastEventCycle <= 0) time = s_.lastEventCycle + 4;
    Log(code, address & 0x3FFFFF, time);
}

void Shifter::WatchByte(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time) {
    static_cast<Shifter*>(region.context)
        ->LogScreenWrite(kCodeScreenByte | (value & 0xFF) << 16, address, time);
}

void Shifter::WatchWord(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time) {
    static_cast<Shifter*>(region.context)
        ->LogScreenWrite(kCodeScreenWord | (value & 0xFFFF) << 16, address, time);
}

// ---- reads -------------------------------------------------------------------------------

uint8_t Shifter::ReadByte(uint32_t address, Cycles time) {
    const uint32_t offset = address & 0xFF;
    switch (offset) {
        case 0x01:
        case 0x03:
        case 0x0A:
        case 0x0F:
        case 0x60:
        case 0x64:
        case 0x65:
            return s_.regs[offset];
        case 0x05:
            return static_cast<uint8_t>(VideoCounterAt(time) >> 16);
        case 0x07:
            return static_cast<uint8_t>((VideoCounterAt(time) + 10) >> 8);
        case 0x09:
            return static_cast<uint8_t>(VideoCounterAt(time));
        case 0x0D:
            return ste_ ? s_.regs[offset] : 0xFF;
        default:
            if (offset >= 0x40 && offset <= 0x5F) return s_.regs[offset];
            return 0xFF;
    }
}

uint16_t Shifter::ReadWord(uint32_t address, Cycles time) {
    const uint32_t offset = address & 0xFE;
    return static_cast<uint16_t>(ReadByte(offset, time) << 8 | ReadByte(offset + 1, time));
}

uint8_t Shifter::PeekByte(uint32_t address, Cycles time) {
    const Cycles countedTo = s_.countedTo;
    const int32_t countLine = s_.countLine, firstLine = s_.firstCountedLine, lastLine = s_.lastCountedLine;
    const uint32_t countBytes = s_.countBytes, countRestart = s_.countRestart;
    const uint8_t value = ReadByte(address, time);
    s_.countedTo = countedTo;
    s_.countLine = countLine;
    s_.firstCountedLine = firstLine;
    s_.lastCountedLine = lastLine;
    s_.countBytes = countBytes;
    s_.countRestart = countRestart;
    return value;
}

// ---- writes ------------------------------------------------------------------------------

void Shifter::WriteByte(uint32_t address, uint8_t value, Cycles time) {
    const uint32_t offset = address & 0xFF;
    switch (offset) {
        // A write to the high or middle byte clears the low one (an ST's is always 0), so
        // that software writing the low byte last sets the whole base.
        case 0x01:
            s_.regs[offset] = value;
            s_.regs[0x0D] = 0;
            s_.videoBase = (s_.videoBase & 0x00FF00) | uint32_t{value} << 16;
            break;
        case 0x03:
            s_.regs[offset] = value;
            s_.regs[0x0D] = 0;
            s_.videoBase = (s_.videoBase & 0xFF0000) | uint32_t{value} << 8;
            break;
        case 0x05:
            WriteCounter(16, value, time);
            break;
        case 0x07:
            WriteCounter(8, value, time);
            break;
        case 0x09:
            WriteCounter(0, value, time);
            break;
        case 0x0A:
            WriteSync(value, time);
            break;
        case 0x0D:
            if (!ste_) break;
            s_.regs[offset] = value & 0xFE;  // the base is a word address
            s_.videoBase = (s_.videoBase & 0xFFFF00) | (value & 0xFE);
            break;
        case 0x0F:
            s_.regs[offset] = value;
            if (ste_) Log(kCodeLineOffset, value, time);
            break;
        case 0x65:
            if (!ste_) break;
            s_.regs[offset] = value & 15;
            Log(kCodeScroll, value & 15, time);
            break;
        case 0x60:
            WriteResolution(value, time);
            break;
        default:
            if (offset >= 0x40 && offset <= 0x5F) WritePaletteByte(offset, value, time);
            break;
    }
}

void Shifter::WriteWord(uint32_t address, uint16_t value, Cycles time) {
    const uint32_t offset = address & 0xFE;
    if (offset >= 0x40 && offset <= 0x5E) {
        const uint16_t masked = value & PaletteMask();
        s_.regs[offset] = static_cast<uint8_t>(masked >> 8);
        s_.regs[offset + 1] = static_cast<uint8_t>(masked);
        Log(offset & 0x1E, masked, time);
    } else if (offset == 0x0A || offset == 0x60) {
        WriteByte(offset, static_cast<uint8_t>(value >> 8), time);  // the register is the high byte
    } else if (offset <= 0x0E || offset == 0x64) {
        WriteByte(offset + 1, static_cast<uint8_t>(value), time);  // the register is the low byte
    }
}

void Shifter::WritePaletteByte(uint32_t offset, uint8_t value, Cycles time) {
    const uint32_t even = offset & 0xFE;
    s_.regs[offset] = value;
    const uint16_t masked = static_cast<uint16_t>(s_.regs[even] << 8 | s_.regs[even + 1]) & PaletteMask();
    s_.regs[even] = static_cast<uint8_t>(masked >> 8);
    s_.regs[even + 1] = static_cast<uint8_t>(masked);
    Log(even & 0x1E, masked, time);
}

// The ST's counter is read only. A write to the STE's replaces one byte of the counter as it
// stands at that cycle (the others keep the bytes fetched so far); the count goes on from
// there and the picture is read from the new address from then on.
void Shifter::WriteCounter(int shift, uint8_t value, Cycles time) {
    if (!ste_) return;
    const uint32_t now = VideoCounterAt(time);
    const uint32_t counter = (now & ~(0xFFu << shift)) | uint32_t{value} << shift;
    s_.counterStart = (s_.counterStart + counter - now) & 0xFFFFFF;
    Log(kCodeCounter, counter & 0x3FFFFF, time);
}

void Shifter::WriteSync(uint8_t value, Cycles time) {
    const uint8_t v = value & 3;
    s_.regs[0x0A] = v;
    if (v == 2) return;
    if (time >= kBottomOpenFirst && time <= kBottomOpenLast) {
        border_.displayEnable = 1;
        border_.bottomBorderOpen = 1;
    }
    if (time >= kTopOpenFirst && time <= kTopOpenLast) {
        border_.displayEnable = 1;
        border_.topBorderOpen = 1;
    }
    if (!border_.displayEnable || v != 0) return;
    const int32_t p = time % 512;
    const int32_t line = LineOf(time);
    if (p == 356 || p == 372 || p == 376 || p == 380 || p == 384) {
        s_.windowEnd[line] -= 4;
        Log(kCodeLineBack2, 0, time);
    } else if (p == 388) {
        s_.windowEnd[line] += 88;
        Log(kCodeRightBorder, 0, time);
    }
}

void Shifter::WriteResolution(uint8_t value, Cycles time) {
    const uint8_t v = value & 3;
    if (border_.displayEnable && v == 2) {
        // The first half of a border trick: never a switch to high resolution.
        const int32_t p = time % 512;
        const int32_t line = LineOf(time);
        if (p == 8 || p == 12 || p == 16) {
            s_.windowStart[line] -= 52;
            Log(kCodeLeftBorder, 0, time);
            return;
        }
        if (p == 164 || p == 168 || p == 172 || p == 176) {
            s_.windowEnd[line] -= 212;
            Log(kCodeLineBack106, 0, time);
            return;
        }
    }
    s_.regs[0x60] = v;
    Log(kCodeResolution, v, time);
}

// ---- the video counter -------------------------------------------------------------------

// Counts the bytes the Shifter has fetched up to `time` (plus its lead), walking only the
// cycles since the previous read of the frame.
uint32_t Shifter::VideoCounterAt(Cycles time) {
    const Cycles target = time + kCounterLead;
    Cycles pos = s_.countedTo + kCounterLead;
    if (!(target > pos && s_.countRestart == 0)) {
        pos = 0;
        s_.countLine = 0;
        s_.countBytes = 0;
        s_.firstCountedLine = 63;
        s_.lastCountedLine = 263;
        s_.countRestart = 0;
    }
    uint32_t base = s_.counterStart;
    if (target > pos) {
        if (border_.topBorderOpen) s_.firstCountedLine = 34;
        if (border_.bottomBorderOpen) s_.lastCountedLine = 310;
        int32_t line = s_.countLine;
        uint32_t bytes = s_.countBytes;
        while (pos < target) {
            const int32_t off = pos % 512;
            const int32_t len = std::min<int32_t>(512 - off, target - pos);
            int32_t end = (pos + len) % 512;
            if (end == 0) end = 512;
            if (line >= s_.firstCountedLine && line < s_.lastCountedLine && line < kLines) {
                const int32_t first = std::max(off, s_.windowStart[line]);
                const int32_t last = std::min(end, s_.windowEnd[line]);
                if (last > first) bytes += static_cast<uint32_t>(((last - first) / 2) & ~1);
                // At the line's display end an STE adds its line offset, and the block a scrolled
                // line fetched beyond the picture.
                if (end >= s_.windowEnd[line] && off < s_.windowEnd[line]) bytes += SteLineExtra();
            }
            if (line >= 310) {
                base = s_.videoBase;
                bytes = 0;
            }
            pos += len;
            line = pos / 512;
        }
        s_.countLine = line;
        s_.countBytes = bytes;
    } else if (s_.countLine >= 310) {
        base = s_.videoBase;
    }
    s_.countedTo = pos - kCounterLead;
    return (s_.countBytes + base) & 0xFFFFFF;
}

uint32_t Shifter::SteLineExtra() const {
    if (!ste_) return 0;
    const uint32_t fetch = (s_.regs[0x65] & 15) == 0 ? 0 : (s_.regs[0x60] & 1) ? 4 : 8;
    return 2u * s_.regs[0x0F] + fetch;
}

// ---- save state --------------------------------------------------------------------------

void Shifter::Save(StateWriter& out) const {
    out.BeginSection("SHFT");
    out(s_);
    out.Each(log_.get(), static_cast<size_t>(s_.logLength));
}

bool Shifter::Load(StateReader& in, bool commit) {
    State s{};
    if (!in.BeginSection("SHFT") || in(s).Failed()) return false;
    if (s.logLength < 0 || s.logLength >= kShifterLogEntries) return false;
    // Values the machine cannot reach are refused, so that nothing later indexes outside its
    // tables: windows within a line and a little beyond it, lines within the frame and the
    // counted-line bounds the read uses.
    for (int32_t line = 0; line < kLines; ++line) {
        if (s.windowStart[line] < -1024 || s.windowStart[line] > 1024 || s.windowEnd[line] < -1024 ||
            s.windowEnd[line] > 1024)
            return false;
    }
    if (!PlausibleCycles(s.countedTo) || !PlausibleCycles(s.lastEventCycle) || s.countLine < 0 ||
        s.countLine > kLines + 1 || s.firstCountedLine < 0 || s.lastCountedLine > 310 ||
        (s.regs[0x0A] & ~3) != 0 || (s.regs[0x60] & ~3) != 0)
        return false;
    std::vector<ShifterEvent> log(static_cast<size_t>(s.logLength));
    in.Each(log.data(), log.size());
    if (!in.EndSection()) return false;
    // Entries as the chip logs them: times within about a frame, codes it has.
    for (const ShifterEvent& event : log) {
        if (event.delta < -1024 || event.delta > 2 * 160256 || (event.code & 0xFFFF) > kCodeScroll ||
            (event.code & 1) != 0)
            return false;
    }
    if (!commit) return true;
    s_ = s;
    std::copy(log.begin(), log.end(), log_.get());
    return true;
}

// ---- the I/O page ------------------------------------------------------------------------

IoChip ShifterIoChip(Shifter& shifter) {
    IoChip chip = MakeIoChip("Shifter", 0xFF8200, shifter);
    // Every offset reaches the chip, which answers 0xFF for the ones it does not have.
    chip.readBytes.Add(0x00, 0xFF);
    chip.writeBytes.Add(0x00, 0xFF);
    chip.readWords.Add(0x00, 0xFE, 2);
    chip.writeWords.Add(0x00, 0xFE, 2);
    return chip;
}

}  // namespace vexil

#include "io/Mfp.h"

#include "app/SaveState.h"

namespace vexil {

using namespace mfp;

namespace {

// Register A of a pair holds channels 15-8, register B (two bytes on) channels 7-0.
unsigned PairRegister(unsigned regA, int channel) {
    return channel >= 8 ? regA : regA + 2;
}
uint8_t ChannelMask(int channel) {
    return static_cast<uint8_t>(1u << (channel & 7));
}

}  // namespace

void Mfp::PowerOn() {
    for (unsigned o = 0; o < 256; ++o) s_.regs[o] = (o < 0x30 && (o & 1) == 0) ? 0x00 : 0xFF;
    for (MfpTimer& t : s_.timers) t = MfpTimer{};
    s_.timerBCounter = 0;
    s_.pins = 0xFF;
}

void Mfp::Reset() {
    s_.regs[kIera] = 0xFF;
    s_.regs[kIerb] = 0xFF;
    for (unsigned r : {kIpra, kIprb, kIsra, kIsrb, kImra, kImrb, kTacr, kTbcr, kTcdcr}) s_.regs[r] = 0;
    s_.regs[kVr] = 8;
    for (MfpTimer& t : s_.timers) t.expiry = static_cast<Cycles>(0xFFFFFFFF);
}

// ---- register reads -------------------------------------------------------------------------

// A delay-mode timer's current count: the ticks left until its expiry.
uint8_t Mfp::CountNow(MfpTimerId id, Cycles now) const {
    const MfpTimer& t = s_.timers[id];
    return static_cast<uint8_t>((t.expiry - now) / (t.tick != 0 ? t.tick : 1));
}

uint8_t Mfp::ReadByte(unsigned offset, Cycles now) const {
    offset &= 0xFF;
    switch (offset) {
        case kGpip:
            return s_.regs[kGpip] | 0x80;
        case kTadr: {
            const uint8_t c = s_.regs[kTacr];
            return (c != 0 && !(c & 0x08)) ? CountNow(kTimerA, now) : s_.regs[kTadr];
        }
        case kTbdr: {
            const uint8_t c = s_.regs[kTbcr];
            if (c == 0) return s_.regs[kTbdr];
            return (c & 0x08) ? s_.timerBCounter : CountNow(kTimerB, now);
        }
        case kTcdr:
            return ((s_.regs[kIerb] & 0x20) && (s_.regs[kTcdcr] & 0xF0)) ? CountNow(kTimerC, now)
                                                                         : s_.regs[kTcdr];
        case kTddr:
            return ((s_.regs[kIerb] & 0x10) && (s_.regs[kTcdcr] & 0x0F)) ? CountNow(kTimerD, now)
                                                                         : s_.regs[kTddr];
        default:
            return s_.regs[offset];
    }
}

uint16_t Mfp::ReadWord(unsigned offset, Cycles now) const {
    offset &= 0xFE;
    const uint8_t low = ReadByte(offset + 1, now);
    const bool countOrGpip = offset == 0x00 || (offset >= 0x1E && offset <= 0x24);
    const uint8_t high = countOrGpip ? 0xFF : s_.regs[offset];
    return static_cast<uint16_t>(high << 8 | low);
}

// ---- register writes ------------------------------------------------------------------------

void Mfp::WriteByte(unsigned offset, uint8_t value, Cycles now) {
    offset &= 0xFF;
    const uint8_t old = s_.regs[offset];
    switch (offset) {
        case kIera: {
            s_.regs[kIera] = value;
            const uint8_t changed = old ^ value;
            if (changed & 0x01) {
                if (value & 0x01)
                    StartTimerB(now);
                else
                    s_.regs[kIpra] &= ~0x01;
            }
            if (changed & 0x20) {
                if (value & 0x20)
                    StartTimerA(now);
                else
                    s_.regs[kIpra] &= ~0x20;
            }
            CpuEndSlice();
            return;
        }
        case kIerb:
            s_.regs[kIerb] = value;
            if ((old & 0x30) != 0x30 || (value & 0x30) != 0x30) StartTimersDC(now);
            CpuEndSlice();
            return;
        case kIpra:
        case kIprb:
        case kIsra:
        case kIsrb:
            // Writing 0 clears a bit, 1 leaves it: the CPU cannot set these.
            s_.regs[offset] &= value;
            CpuEndSlice();
            return;
        case kVr:
            s_.regs[kVr] = value;
            if (!(value & kVrSoftwareEoi)) s_.regs[kIsra] = s_.regs[kIsrb] = 0;
            return;
        case kTacr:
            if (value != 0 && value == old) return;  // rewriting the running mode does not restart
            s_.regs[kTacr] = value;
            StartTimerA(now);
            return;
        case kTbcr:
            s_.regs[kTbcr] = value;
            StartTimerB(now);
            return;
        case kTcdcr:
            s_.regs[kTcdcr] = value;
            StartTimersDC(now);
            return;
        case kTadr:
            s_.regs[kTadr] = value;
            StartTimerA(now);
            return;
        case kTbdr:  // the next reload takes it; the running count goes on
            s_.regs[kTbdr] = value;
            return;
        case kTcdr:
            s_.regs[kTcdr] = value;
            if ((s_.regs[kIerb] & 0x20) && ((s_.regs[kTcdcr] >> 4) & 7))
                StartDelayTimer(kTimerC, static_cast<uint8_t>((s_.regs[kTcdcr] >> 4) & 7), value, now);
            else
                s_.timers[kTimerC].expiry = static_cast<Cycles>(0xFFFFFFFF);
            CpuEndSlice();
            return;
        case kTddr:
            s_.regs[kTddr] = value;
            StartTimersDC(now);
            return;
        default:  // GPIP, AER, DDR, IMRA, IMRB, the USART and the storage bytes
            s_.regs[offset] = value;
            return;
    }
}

void Mfp::WriteWord(unsigned offset, uint16_t value, Cycles now) {
    offset &= 0xFE;
    const uint8_t low = static_cast<uint8_t>(value);
    if (offset >= 0x06 && offset <= 0x24) {
        WriteByte(offset + 1, low, now);
    } else if (offset <= 0x04 || offset == 0x28 || offset == 0x2C || offset == 0x30 || offset == 0x34 ||
               offset == 0x38) {
        s_.regs[offset + 1] = low;  // stored without side effects
    }
    // 0x26, 0x2A, 0x2E, 0x32, 0x36: ignored
}

void Mfp::SetInputLine(unsigned bit, bool high) {
    bit &= 7;
    const uint8_t mask = static_cast<uint8_t>(1u << bit);
    const bool wasHigh = (s_.pins & mask) != 0;
    if (high) {
        s_.pins |= mask;
        s_.regs[kGpip] |= mask;
    } else {
        s_.pins &= static_cast<uint8_t>(~mask);
        s_.regs[kGpip] &= static_cast<uint8_t>(~mask);
    }
    if (wasHigh == high) return;
    const bool risingIsActive = (s_.regs[kAer] & mask) != 0;
    if (high != risingIsActive) return;
    static constexpr int kLineChannel[8] = {0, 1, 2, 3, 6, 7, 14, 15};
    const int channel = kLineChannel[bit];
    if (ChannelBit(kIera, channel)) Request(channel);
}

// ---- timers ---------------------------------------------------------------------------------

// A timer in delay mode counts the prescaled MFP clock down from its data register (0 counts
// as 256) and expires when it reaches zero.
void Mfp::StartDelayTimer(MfpTimerId id, uint8_t control, uint8_t data, Cycles now) {
    const int64_t p = kPrescaler[control & 7];
    const int64_t d = data == 0 ? 256 : data;
    MfpTimer& t = s_.timers[id];
    t.tick = TimerCycles(p);
    t.period = TimerCycles(d * p);
    t.expiry = now + t.period;
}

bool Mfp::TimerRuns(MfpTimerId id) const {
    switch (id) {
        case kTimerA:
            return (s_.regs[kIera] & 0x20) && s_.regs[kTacr] != 0 && !(s_.regs[kTacr] & 0x10);
        case kTimerB:
            return (s_.regs[kIera] & 0x01) && s_.regs[kTbcr] != 0 && !(s_.regs[kTbcr] & 0x10);
        case kTimerC:
            return (s_.regs[kIerb] & 0x20) && (s_.regs[kTcdcr] & 0xF0) && !(s_.regs[kTcdcr] & 0x80);
        case kTimerD:
            return (s_.regs[kIerb] & 0x10) && (s_.regs[kTcdcr] & 0x0F) && !(s_.regs[kTcdcr] & 0x08);
    }
    return false;
}

// Timer A runs on the cycle clock in delay mode only; other modes leave it as it was.
void Mfp::StartTimerA(Cycles now) {
    const uint8_t c = s_.regs[kTacr];
    if ((s_.regs[kIera] & 0x20) && c != 0 && !(c & 0x18)) StartDelayTimer(kTimerA, c, s_.regs[kTadr], now);
    CpuEndSlice();
}

void Mfp::StartTimerB(Cycles now) {
    const uint8_t c = s_.regs[kTbcr];
    if ((s_.regs[kIera] & 0x01) && c != 0 && !(c & 0x10)) {
        if (!(c & 0x08)) {
            StartDelayTimer(kTimerB, c, s_.regs[kTbdr], now);
        } else if ((c & 7) == 0) {
            // Event count mode: the scheduler counts display line ends.
            s_.timerBCounter = s_.regs[kTbdr];
            s_.timers[kTimerB].expiry = 0;
        }
    }
    CpuEndSlice();
}

void Mfp::StartTimersDC(Cycles now) {
    const uint8_t c = s_.regs[kTcdcr];
    if ((s_.regs[kIerb] & 0x10) && (c & 7))
        StartDelayTimer(kTimerD, c, s_.regs[kTddr], now);
    else
        s_.timers[kTimerD].expiry = static_cast<Cycles>(0xFFFFFFFF);
    if (!(s_.regs[kIerb] & 0x20) || ((c >> 4) & 7) == 0)
        s_.timers[kTimerC].expiry = static_cast<Cycles>(0xFFFFFFFF);
    else
        StartDelayTimer(kTimerC, static_cast<uint8_t>((c >> 4) & 7), s_.regs[kTcdr], now);
    CpuEndSlice();
}

bool Mfp::CountTimerBEvent() {
    if (--s_.timerBCounter != 0) return false;
    s_.timerBCounter = s_.regs[kTbdr];
    return true;
}

// ---- interrupt controller -------------------------------------------------------------------

bool Mfp::ChannelBit(unsigned regA, int channel) const {
    return (s_.regs[PairRegister(regA, channel)] & ChannelMask(channel)) != 0;
}

void Mfp::SetChannelBit(unsigned regA, int channel, bool on) {
    uint8_t& r = s_.regs[PairRegister(regA, channel)];
    if (on)
        r |= ChannelMask(channel);
    else
        r &= static_cast<uint8_t>(~ChannelMask(channel));
}

// The number (1-16) of the highest channel in service, 0 when none: channel c may be posted
// only while it is at most c.
int Mfp::InServiceLevel() const {
    int level = 0;
    for (unsigned bits = static_cast<unsigned>(s_.regs[kIsra]) << 8 | s_.regs[kIsrb]; bits != 0; bits >>= 1)
        ++level;
    return level;
}

bool Mfp::Post(int channel) {
    const int32_t vector = (s_.regs[kVr] & 0xF0) | channel;
    if (sink(6, vector) != 0) return false;
    if (s_.regs[kVr] & kVrSoftwareEoi) SetChannelBit(kIsra, channel, true);
    posted_ = true;
    return true;
}

bool Mfp::Request(int channel) {
    if (ChannelBit(kImra, channel) && InServiceLevel() <= channel && Post(channel)) return true;
    SetChannelBit(kIpra, channel, true);
    return false;
}

bool Mfp::Retry(int channel, bool discard) {
    if (!ChannelBit(kIpra, channel) || !ChannelBit(kImra, channel) || !ChannelBit(kIera, channel))
        return false;
    if (InServiceLevel() > channel) return false;
    if (discard) {
        SetChannelBit(kIpra, channel, false);
        return false;
    }
    if (!Post(channel)) return false;
    SetChannelBit(kIpra, channel, false);
    return true;
}

// ---- the I/O page ---------------------------------------------------------------------------

void Mfp::Save(StateWriter& out) const {
    out.BeginSection("MFP ");
    out.Put(s_.regs);
    out.Put(s_.timers);
    out.Put(s_.timerBCounter);
    out.Put(s_.pins);
}

bool Mfp::Load(StateReader& in, bool commit) {
    State s;
    if (!in.BeginSection("MFP ") || !in.Get(s.regs) || !in.Get(s.timers) || !in.Get(s.timerBCounter) ||
        !in.Get(s.pins) || !in.EndSection())
        return false;
    for (const MfpTimer& t : s.timers) {
        if (t.tick < 1 || t.tick > TimerCycles(kPrescaler[7]) || t.period < 0 ||
            t.period > TimerCycles(256 * kPrescaler[7]) || !PlausibleCycles(t.expiry))
            return false;
    }
    if (commit) s_ = s;
    return true;
}

IoChip MfpIoChip(Mfp& mfp) {
    IoChip chip;
    chip.name = "MFP 68901";
    chip.page = 0xFFFA00;
    chip.context = &mfp;
    chip.readByte = [](void* c, uint32_t address, Cycles time) {
        return static_cast<Mfp*>(c)->ReadByte(address, time);
    };
    chip.readWord = [](void* c, uint32_t address, Cycles time) {
        return static_cast<Mfp*>(c)->ReadWord(address, time);
    };
    chip.writeByte = [](void* c, uint32_t address, uint8_t value, Cycles time) {
        static_cast<Mfp*>(c)->WriteByte(address, value, time);
    };
    chip.writeWord = [](void* c, uint32_t address, uint16_t value, Cycles time) {
        static_cast<Mfp*>(c)->WriteWord(address, value, time);
    };
    chip.reset = [](void* c) { static_cast<Mfp*>(c)->Reset(); };
    chip.readBytes.Add(0x01, 0x2F, 2);
    chip.writeBytes.Add(0x01, 0x2F, 2);
    chip.readWords.Add(0x00, 0x2E, 2);
    chip.writeWords.Add(0x00, 0x24, 2).Add(0x28, 0x38, 4);
    return chip;
}

}  // namespace vexil

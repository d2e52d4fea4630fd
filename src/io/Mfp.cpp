#include "io/Mfp.h"

#include "cpu/Cpu.h"
#include "io/IoState.h"

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
    for (unsigned o = 0; o < 256; ++o) regs_[o] = (o < 0x30 && (o & 1) == 0) ? 0x00 : 0xFF;
    for (MfpTimer& t : timers_) t = MfpTimer{};
    timerBCounter_ = 0;
    inService_ = 0;
}

void Mfp::Reset() {
    regs_[kIera] = 0xFF;
    regs_[kIerb] = 0xFF;
    for (unsigned r : {kIpra, kIprb, kIsra, kIsrb, kImra, kImrb, kTacr, kTbcr, kTcdcr}) regs_[r] = 0;
    regs_[kVr] = 8;
    for (MfpTimer& t : timers_) t.expiry = static_cast<Cycles>(0xFFFFFFFF);
}

// ---- register reads -------------------------------------------------------------------------

// A delay-mode timer's current count: the ticks left until its expiry.
uint8_t Mfp::CountNow(MfpTimerId id, Cycles now) const {
    const MfpTimer& t = timers_[id];
    return static_cast<uint8_t>((t.expiry - now) / (t.tick != 0 ? t.tick : 1));
}

uint8_t Mfp::ReadByte(unsigned offset, Cycles now) const {
    offset &= 0xFF;
    switch (offset) {
        case kGpip:
            return regs_[kGpip] | 0x80;
        case kTadr: {
            const uint8_t c = regs_[kTacr];
            return (c != 0 && !(c & 0x08)) ? CountNow(kTimerA, now) : regs_[kTadr];
        }
        case kTbdr: {
            const uint8_t c = regs_[kTbcr];
            if (c == 0) return regs_[kTbdr];
            return (c & 0x08) ? timerBCounter_ : CountNow(kTimerB, now);
        }
        case kTcdr:
            return ((regs_[kIerb] & 0x20) && (regs_[kTcdcr] & 0xF0)) ? CountNow(kTimerC, now) : regs_[kTcdr];
        case kTddr:
            return ((regs_[kIerb] & 0x10) && (regs_[kTcdcr] & 0x0F)) ? CountNow(kTimerD, now) : regs_[kTddr];
        default:
            return regs_[offset];
    }
}

uint16_t Mfp::ReadWord(unsigned offset, Cycles now) const {
    offset &= 0xFE;
    const uint8_t low = ReadByte(offset + 1, now);
    const bool countOrGpip = offset == 0x00 || (offset >= 0x1E && offset <= 0x24);
    const uint8_t high = countOrGpip ? 0xFF : regs_[offset];
    return static_cast<uint16_t>(high << 8 | low);
}

// ---- register writes ------------------------------------------------------------------------

void Mfp::WriteByte(unsigned offset, uint8_t value, Cycles now) {
    offset &= 0xFF;
    const uint8_t old = regs_[offset];
    switch (offset) {
        case kIera: {
            regs_[kIera] = value;
            const uint8_t changed = old ^ value;
            if (changed & 0x01) {
                if (value & 0x01)
                    StartTimerB(now);
                else
                    regs_[kIpra] &= ~0x01;
            }
            if (changed & 0x20) {
                if (value & 0x20)
                    StartTimerA(now);
                else
                    regs_[kIpra] &= ~0x20;
            }
            CpuEndSlice();
            return;
        }
        case kIerb:
            regs_[kIerb] = value;
            if ((old & 0x30) != 0x30 || (value & 0x30) != 0x30) StartTimersDC(now);
            CpuEndSlice();
            return;
        case kIpra:
        case kIprb:
        case kIsra:
        case kIsrb:
            // Writing 0 clears a bit, 1 leaves it: the CPU cannot set these.
            regs_[offset] &= value;
            CpuEndSlice();
            return;
        case kVr:
            regs_[kVr] = value;
            if (!(value & kVrSoftwareEoi)) regs_[kIsra] = regs_[kIsrb] = 0;
            return;
        case kTacr:
            if (value != 0 && value == old) return;  // rewriting the running mode does not restart
            regs_[kTacr] = value;
            StartTimerA(now);
            return;
        case kTbcr:
            regs_[kTbcr] = value;
            StartTimerB(now);
            return;
        case kTcdcr:
            regs_[kTcdcr] = value;
            StartTimersDC(now);
            return;
        case kTadr:
            regs_[kTadr] = value;
            StartTimerA(now);
            return;
        case kTbdr:  // the next reload takes it; the running count goes on
            regs_[kTbdr] = value;
            return;
        case kTcdr:
            regs_[kTcdr] = value;
            if ((regs_[kIerb] & 0x20) && ((regs_[kTcdcr] >> 4) & 7))
                StartDelayTimer(kTimerC, static_cast<uint8_t>((regs_[kTcdcr] >> 4) & 7), value, now);
            else
                timers_[kTimerC].expiry = static_cast<Cycles>(0xFFFFFFFF);
            CpuEndSlice();
            return;
        case kTddr:
            regs_[kTddr] = value;
            StartTimersDC(now);
            return;
        default:  // GPIP, AER, DDR, IMRA, IMRB, the USART and the storage bytes
            regs_[offset] = value;
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
        regs_[offset + 1] = low;  // stored without side effects
    }
    // 0x26, 0x2A, 0x2E, 0x32, 0x36: ignored
}

void Mfp::SetInputLine(unsigned bit, bool high) {
    const uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
    if (high)
        regs_[kGpip] |= mask;
    else
        regs_[kGpip] &= static_cast<uint8_t>(~mask);
}

// ---- timers ---------------------------------------------------------------------------------

// A timer in delay mode counts the prescaled MFP clock down from its data register (0 counts
// as 256) and expires when it reaches zero.
void Mfp::StartDelayTimer(MfpTimerId id, uint8_t control, uint8_t data, Cycles now) {
    const int64_t p = kPrescaler[control & 7];
    const int64_t d = data == 0 ? 256 : data;
    MfpTimer& t = timers_[id];
    t.tick = TimerCycles(p);
    t.period = TimerCycles(d * p);
    t.expiry = now + t.period;
}

bool Mfp::TimerRuns(MfpTimerId id) const {
    switch (id) {
        case kTimerA:
            return (regs_[kIera] & 0x20) && regs_[kTacr] != 0 && !(regs_[kTacr] & 0x10);
        case kTimerB:
            return (regs_[kIera] & 0x01) && regs_[kTbcr] != 0 && !(regs_[kTbcr] & 0x10);
        case kTimerC:
            return (regs_[kIerb] & 0x20) && (regs_[kTcdcr] & 0xF0) && !(regs_[kTcdcr] & 0x80);
        case kTimerD:
            return (regs_[kIerb] & 0x10) && (regs_[kTcdcr] & 0x0F) && !(regs_[kTcdcr] & 0x08);
    }
    return false;
}

// Timer A runs on the cycle clock in delay mode only; other modes leave it as it was.
void Mfp::StartTimerA(Cycles now) {
    const uint8_t c = regs_[kTacr];
    if ((regs_[kIera] & 0x20) && c != 0 && !(c & 0x18)) StartDelayTimer(kTimerA, c, regs_[kTadr], now);
    CpuEndSlice();
}

void Mfp::StartTimerB(Cycles now) {
    const uint8_t c = regs_[kTbcr];
    if ((regs_[kIera] & 0x01) && c != 0 && !(c & 0x10)) {
        if (!(c & 0x08)) {
            StartDelayTimer(kTimerB, c, regs_[kTbdr], now);
        } else if ((c & 7) == 0) {
            // Event count mode: the scheduler counts display line ends.
            timerBCounter_ = regs_[kTbdr];
            timers_[kTimerB].expiry = 0;
        }
    }
    CpuEndSlice();
}

void Mfp::StartTimersDC(Cycles now) {
    const uint8_t c = regs_[kTcdcr];
    if ((regs_[kIerb] & 0x10) && (c & 7))
        StartDelayTimer(kTimerD, c, regs_[kTddr], now);
    else
        timers_[kTimerD].expiry = static_cast<Cycles>(0xFFFFFFFF);
    if (!(regs_[kIerb] & 0x20) || ((c >> 4) & 7) == 0)
        timers_[kTimerC].expiry = static_cast<Cycles>(0xFFFFFFFF);
    else
        StartDelayTimer(kTimerC, static_cast<uint8_t>((c >> 4) & 7), regs_[kTcdr], now);
    CpuEndSlice();
}

bool Mfp::CountTimerBEvent() {
    if (--timerBCounter_ != 0) return false;
    timerBCounter_ = regs_[kTbdr];
    return true;
}

// ---- interrupt controller -------------------------------------------------------------------

bool Mfp::ChannelBit(unsigned regA, int channel) const {
    return (regs_[PairRegister(regA, channel)] & ChannelMask(channel)) != 0;
}

void Mfp::SetChannelBit(unsigned regA, int channel, bool on) {
    uint8_t& r = regs_[PairRegister(regA, channel)];
    if (on)
        r |= ChannelMask(channel);
    else
        r &= static_cast<uint8_t>(~ChannelMask(channel));
}

void Mfp::BeginService() {
    const unsigned isr = static_cast<unsigned>(regs_[kIsra]) << 8 | regs_[kIsrb];
    inService_ = 0;
    for (unsigned bits = isr; bits != 0; bits >>= 1) ++inService_;
}

bool Mfp::Post(int channel) {
    const int32_t vector = (regs_[kVr] & 0xF0) | channel;
    const InterruptSink raise = sink ? sink : CpuRaiseInterrupt;
    if (raise(6, vector) != 0) return false;
    if (regs_[kVr] & kVrSoftwareEoi) SetChannelBit(kIsra, channel, true);
    return true;
}

bool Mfp::Request(int channel) {
    if (ChannelBit(kImra, channel) && inService_ <= channel && Post(channel)) return true;
    SetChannelBit(kIpra, channel, true);
    return false;
}

bool Mfp::Retry(int channel, bool discard) {
    if (!ChannelBit(kIpra, channel) || !ChannelBit(kImra, channel) || !ChannelBit(kIera, channel))
        return false;
    if (inService_ > channel) return false;
    if (discard) {
        SetChannelBit(kIpra, channel, false);
        return false;
    }
    if (!Post(channel)) return false;
    SetChannelBit(kIpra, channel, false);
    return true;
}

// ---- the I/O page ---------------------------------------------------------------------------

namespace {
uint8_t PageReadByte(uint32_t address, Cycles time) {
    return g_io.mfp.ReadByte(address, time);
}
uint16_t PageReadWord(uint32_t address, Cycles time) {
    return g_io.mfp.ReadWord(address, time);
}
void PageWriteByte(uint32_t address, uint8_t value, Cycles time) {
    g_io.mfp.WriteByte(address, value, time);
}
void PageWriteWord(uint32_t address, uint16_t value, Cycles time) {
    g_io.mfp.WriteWord(address, value, time);
}
}  // namespace

IoChip MfpIoChip() {
    IoChip chip;
    chip.name = "MFP 68901";
    chip.page = 0xFFFA00;
    chip.readByte = PageReadByte;
    chip.readWord = PageReadWord;
    chip.writeByte = PageWriteByte;
    chip.writeWord = PageWriteWord;
    chip.readBytes.Add(0x01, 0x2F, 2);
    chip.writeBytes.Add(0x01, 0x2F, 2);
    chip.readWords.Add(0x00, 0x2E, 2);
    chip.writeWords.Add(0x00, 0x24, 2).Add(0x28, 0x38, 4);
    return chip;
}

}  // namespace vexil

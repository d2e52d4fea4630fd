#include "io/Mfp.h"

#include <algorithm>
#include <bit>

#include "core/SaveState.h"

namespace vexil {

using namespace mfp;

namespace {
int32_t Counts(uint8_t data) {
    return data == 0 ? 256 : data;
}
}  // namespace

void Mfp::PowerOn() {
    for (unsigned o = 0; o < 256; ++o) s_.regs[o] = (o < 0x30 && (o & 1) == 0) ? 0x00 : 0xFF;
    s_.pins = 0xFF;
    s_.outputsUsed = 0;
    for (MfpTimerId id : {kTimerA, kTimerB, kTimerC, kTimerD})
        s_.timers[id] = MfpTimer{0, Counts(Data(id)), Counts(Data(id))};
    Reset();  // the machine's reset circuit holds RESET low at power-up
}

void Mfp::Reset() {
    for (unsigned r : {kGpip, kAer, kDdr, kIera, kIerb, kIpra, kIprb, kIsra, kIsrb, kImra, kImrb, kVr, kTacr,
                       kTbcr, kTcdcr, kScr})
        s_.regs[r] = 0;
    // The timers stop. Not yet checked against hardware: their main counters are taken as
    // loaded from the data registers.
    for (MfpTimerId id : {kTimerA, kTimerB, kTimerC, kTimerD}) s_.timers[id].counter = Counts(Data(id));
    usart.Reset();
}

// ---- timers ---------------------------------------------------------------------------------

uint8_t Mfp::Control(MfpTimerId id) const {
    switch (id) {
        case kTimerA:
            return s_.regs[kTacr] & 0x0F;
        case kTimerB:
            return s_.regs[kTbcr] & 0x0F;
        case kTimerC:
            return (s_.regs[kTcdcr] >> 4) & 7;
        case kTimerD:
            return s_.regs[kTcdcr] & 7;
    }
    return 0;
}

uint8_t Mfp::Data(MfpTimerId id) const {
    return s_.regs[kTadr + 2 * id];
}

bool Mfp::CountsClock(MfpTimerId id) const {
    const uint8_t c = Control(id);
    return c >= 1 && c <= 7;
}

// Ticks from one timeout to the next while counting the clock: a full count of the data
// register's value.
int64_t Mfp::Period(MfpTimerId id) const {
    return int64_t{Counts(Data(id))} * kPrescaler[Control(id)] * kTicksPerClock;
}

// The main counter at cycle `now`, under control value `c`. While the clock counts it, it is
// the prescaled counts left until the next timeout, rounded up: from the cycle's start value
// down to 1. Timeouts that lie behind `now` and have not been taken (a timer nobody sees, or
// one an instruction has overrun) are counted as the chip counts them: each reloads.
int32_t Mfp::CountUnder(MfpTimerId id, uint8_t c, Cycles now) const {
    const MfpTimer& t = s_.timers[id];
    if (c < 1 || c > 7) return t.counter;
    const int64_t ticks = int64_t{now} * kTicksPerCycle;
    int64_t expiry = t.expiry;
    int32_t start = t.cycleMax;
    if (ticks >= expiry) {
        const int64_t period = int64_t{Counts(Data(id))} * kPrescaler[c] * kTicksPerClock;
        expiry += ((ticks - expiry) / period + 1) * period;
        start = Counts(Data(id));
    }
    const int64_t perCount = int64_t{kPrescaler[c]} * kTicksPerClock;
    const int64_t n = (expiry - ticks + perCount - 1) / perCount;
    return static_cast<int32_t>(std::clamp<int64_t>(n, 1, start));
}

// Brings the timer's next timeout past `ticks`, each one passed over reloading the counter (a
// timer nobody sees loses nothing by it).
void Mfp::CatchUp(MfpTimerId id, int64_t ticks) {
    MfpTimer& t = s_.timers[id];
    if (!CountsClock(id) || ticks < t.expiry) return;
    const int64_t period = Period(id);
    t.expiry += ((ticks - t.expiry) / period + 1) * period;
    t.cycleMax = Counts(Data(id));
}

// After a control write: the timer goes on from its current count in its new mode.
void Mfp::SetControl(MfpTimerId id, uint8_t oldControl, Cycles now) {
    const uint8_t c = Control(id);
    if (c == oldControl) return;
    MfpTimer& t = s_.timers[id];
    const int32_t n = CountUnder(id, oldControl, now);
    if (CountsClock(id)) {
        t.expiry = int64_t{now} * kTicksPerCycle + int64_t{n} * kPrescaler[c] * kTicksPerClock;
        t.cycleMax = n;
        if (TimeoutsSeen(id)) CpuEndSlice();  // the scheduler takes up the new timeout
    } else {
        t.counter = n;
    }
}

void Mfp::SetData(MfpTimerId id, uint8_t value, Cycles now) {
    // Reloads before the write took the old value.
    if (!TimeoutsSeen(id)) CatchUp(id, int64_t{now} * kTicksPerCycle);
    s_.regs[kTadr + 2 * id] = value;
    if (Control(id) == 0) s_.timers[id].counter = Counts(value);  // a stopped timer loads it
}

void Mfp::SetEnable(unsigned offset, uint8_t value, Cycles now) {
    bool unseen[4];
    for (MfpTimerId id : {kTimerA, kTimerB, kTimerC, kTimerD}) unseen[id] = !TimeoutsSeen(id);
    // A disabled channel loses what was pending; the timers go on counting.
    s_.regs[offset] = value;
    s_.regs[offset - kIera + kIpra] &= value;
    for (MfpTimerId id : {kTimerA, kTimerB, kTimerC, kTimerD}) {
        if (unseen[id] && TimeoutsSeen(id)) {
            CatchUp(id, int64_t{now} * kTicksPerCycle);
            CpuEndSlice();  // the scheduler takes up its next timeout
        }
    }
}

void Mfp::SetTimerOutputUsed(MfpTimerId id, bool used, Cycles now) {
    const bool wasSeen = TimeoutsSeen(id);
    if (!wasSeen) CatchUp(id, int64_t{now} * kTicksPerCycle);
    const uint8_t bit = static_cast<uint8_t>(1u << id);
    s_.outputsUsed = used ? (s_.outputsUsed | bit) : (s_.outputsUsed & ~bit);
    if (!wasSeen && TimeoutsSeen(id)) CpuEndSlice();
}

void Mfp::Timeout(MfpTimerId id) {
    MfpTimer& t = s_.timers[id];
    t.cycleMax = Counts(Data(id));
    t.expiry += Period(id);
    Event(kTimerChannel[id]);
}

void Mfp::CountEvent(MfpTimerId id) {
    if (!CountsEvents(id)) return;
    MfpTimer& t = s_.timers[id];
    if (--t.counter > 0) return;
    t.counter = Counts(Data(id));
    Event(kTimerChannel[id]);
}

void Mfp::TimerInputEdge(MfpTimerId id, bool rising) {
    const uint8_t edge = id == kTimerA ? kAerTimerA : kAerTimerB;
    if (rising == ((s_.regs[kAer] & edge) != 0)) CountEvent(id);
}

void Mfp::CarryTimers(Cycles cycles) {
    const int64_t ticks = int64_t{cycles} * kTicksPerCycle;
    for (MfpTimerId id : {kTimerA, kTimerB, kTimerC, kTimerD}) {
        if (!CountsClock(id)) continue;
        if (!TimeoutsSeen(id)) CatchUp(id, ticks);  // keeps an unseen timer's time near the clock
        s_.timers[id].expiry -= ticks;
    }
}

// ---- USART ----------------------------------------------------------------------------------

Cycles Mfp::UsartCharacterCycles() const {
    if (!CountsClock(kTimerD)) return 0;
    const int64_t clocks =
        int64_t{usart.CharacterTimeouts()} * Counts(Data(kTimerD)) * kPrescaler[Control(kTimerD)];
    return mfp::CycleAtOrAfter(clocks * mfp::kTicksPerClock);
}

void Mfp::UsartEvent(Usart::Line line, Cycles due) {
    if (line == Usart::kTransmitter)
        usart.TransmitDone(due, UsartCharacterCycles());
    else
        usart.ReceiveDue(due, UsartCharacterCycles());
    TakeUsartChannels();
}

void Mfp::TakeUsartChannels() {
    const uint32_t channels = usart.TakeChannels();
    for (int channel = usart::kChannelReceiveFull; channel >= usart::kChannelTransmitError; --channel)
        if (channels & (1u << channel)) Event(channel);
}

// ---- interrupt controller -------------------------------------------------------------------

namespace {
uint16_t Pair(const uint8_t* regs, unsigned regA) {
    return static_cast<uint16_t>(regs[regA] << 8 | regs[regA + 2]);
}
}  // namespace

void Mfp::Event(int channel) {
    const unsigned reg = channel >= 8 ? kIpra : kIprb;
    const uint8_t bit = static_cast<uint8_t>(1u << (channel & 7));
    if (!(s_.regs[reg - kIpra + kIera] & bit)) return;  // disabled: the event is lost
    s_.regs[reg] |= bit;
    UpdateRequest();
}

// The highest channel that is pending, unmasked and above every channel in service; -1 when
// none is.
int Mfp::Qualifying() const {
    unsigned candidates = Pair(s_.regs, kIpra) & Pair(s_.regs, kImra);
    const unsigned inService = Pair(s_.regs, kIsra);
    candidates &= ~((1u << std::bit_width(inService)) - 1);
    return candidates ? static_cast<int>(std::bit_width(candidates)) - 1 : -1;
}

void Mfp::UpdateRequest() {
    if (Qualifying() >= 0 && sink(6, -1) == 0) posted_ = true;
}

int32_t Mfp::Acknowledge() {
    const int channel = Qualifying();
    if (channel < 0) return -1;
    const uint8_t bit = static_cast<uint8_t>(1u << (channel & 7));
    s_.regs[channel >= 8 ? kIpra : kIprb] &= static_cast<uint8_t>(~bit);
    if (s_.regs[kVr] & kVrSoftwareEoi) s_.regs[channel >= 8 ? kIsra : kIsrb] |= bit;
    const int32_t vector = (s_.regs[kVr] & 0xF0) | channel;
    UpdateRequest();  // another channel may still ask
    return vector;
}

void Mfp::SetInputLine(unsigned bit, bool high) {
    bit &= 7;
    const uint8_t mask = static_cast<uint8_t>(1u << bit);
    const bool wasHigh = (s_.pins & mask) != 0;
    s_.pins = high ? (s_.pins | mask) : (s_.pins & ~mask);
    if (wasHigh == high || high != ((s_.regs[kAer] & mask) != 0)) return;
    static constexpr int kLineChannel[8] = {0, 1, 2, 3, 6, 7, 14, 15};
    Event(kLineChannel[bit]);
}

// ---- registers ------------------------------------------------------------------------------

uint8_t Mfp::ReadByte(unsigned offset, Cycles now) {
    offset &= 0xFF;
    if (offset >= usart::kRsr && offset <= usart::kUdr && (offset & 1)) return usart.Read(offset);
    return PeekByte(offset, now);
}

uint8_t Mfp::PeekByte(unsigned offset, Cycles now) const {
    offset &= 0xFF;
    switch (offset) {
        case kGpip:  // the pins for inputs, the latch for outputs
            return (s_.pins & ~s_.regs[kDdr]) | (s_.regs[kGpip] & s_.regs[kDdr]);
        case kTadr:
        case kTbdr:
        case kTcdr:
        case kTddr: {
            const auto id = static_cast<MfpTimerId>((offset - kTadr) / 2);
            return static_cast<uint8_t>(CountUnder(id, Control(id), now));
        }
        case usart::kUcr:
        case usart::kRsr:
        case usart::kTsr:
        case usart::kUdr:
            return usart.Peek(offset);
        default:
            return s_.regs[offset];
    }
}

uint16_t Mfp::ReadWord(unsigned offset, Cycles now) {
    offset &= 0xFE;
    const uint8_t low = ReadByte(offset + 1, now);
    const bool countOrGpip = offset == 0x00 || (offset >= 0x1E && offset <= 0x24);
    const uint8_t high = countOrGpip ? 0xFF : s_.regs[offset];
    return static_cast<uint16_t>(high << 8 | low);
}

void Mfp::WriteByte(unsigned offset, uint8_t value, Cycles now) {
    offset &= 0xFF;
    switch (offset) {
        case kIera:
        case kIerb:
            SetEnable(offset, value, now);
            return;
        case kIpra:
        case kIprb:
        case kIsra:
        case kIsrb:
            // Writing 0 clears a bit, 1 leaves it: the CPU cannot set these. A cleared
            // in-service bit may let a waiting channel through.
            s_.regs[offset] &= value;
            UpdateRequest();
            return;
        case kImra:
        case kImrb:
            s_.regs[offset] = value;
            UpdateRequest();
            return;
        case kVr:
            s_.regs[kVr] = value;
            if (!(value & kVrSoftwareEoi)) s_.regs[kIsra] = s_.regs[kIsrb] = 0;
            UpdateRequest();
            return;
        case kTacr:
        case kTbcr: {
            const auto id = offset == kTacr ? kTimerA : kTimerB;
            const uint8_t old = Control(id);
            s_.regs[offset] = value;
            SetControl(id, old, now);
            return;
        }
        case kTcdcr: {
            const uint8_t oldC = Control(kTimerC), oldD = Control(kTimerD);
            s_.regs[kTcdcr] = value;
            SetControl(kTimerC, oldC, now);
            SetControl(kTimerD, oldD, now);
            usart.ClockChanged(now, UsartCharacterCycles());
            TakeUsartChannels();
            return;
        }
        case kTadr:
        case kTbdr:
        case kTcdr:
        case kTddr:
            SetData(static_cast<MfpTimerId>((offset - kTadr) / 2), value, now);
            return;
        case usart::kUcr:
        case usart::kRsr:
        case usart::kTsr:
        case usart::kUdr:
            usart.Write(offset, value, now, UsartCharacterCycles());
            TakeUsartChannels();
            return;
        default:  // GPIP (the output latch), AER, DDR, the USART and the storage bytes
            s_.regs[offset] = value;
            return;
    }
}

void Mfp::WriteWord(unsigned offset, uint16_t value, Cycles now) {
    offset &= 0xFE;
    const uint8_t low = static_cast<uint8_t>(value);
    if (offset >= 0x06 && offset <= 0x24) {
        WriteByte(offset + 1, low, now);
    } else if (offset == 0x28 || offset == 0x2C) {
        WriteByte(offset + 1, low, now);  // UCR, TSR
    } else if (offset <= 0x04 || offset == 0x30 || offset == 0x34 || offset == 0x38) {
        s_.regs[offset + 1] = low;  // stored without side effects
    }
    // 0x26, 0x2A, 0x2E, 0x32, 0x36: ignored
}

void Mfp::Save(StateWriter& out) const {
    out.BeginSection("MFP ");
    out(s_);
}

bool Mfp::Load(StateReader& in, bool commit) {
    State s;
    if (!in.BeginSection("MFP ") || !in(s).EndSection()) return false;
    for (const MfpTimer& t : s.timers) {
        if (!PlausibleCycles(t.expiry / kTicksPerCycle) || t.counter < 1 || t.counter > 256 ||
            t.cycleMax < 0 || t.cycleMax > 256)
            return false;
    }
    if (s.outputsUsed > 0x0F) return false;
    if (commit) s_ = s;
    return true;
}

IoChip MfpIoChip(Mfp& mfp) {
    IoChip chip = MakeIoChip("MFP 68901", 0xFFFA00, mfp);
    chip.readBytes.Add(0x01, 0x2F, 2);
    chip.writeBytes.Add(0x01, 0x2F, 2);
    chip.readWords.Add(0x00, 0x2E, 2);
    chip.writeWords.Add(0x00, 0x24, 2).Add(0x28, 0x38, 4);
    return chip;
}

}  // namespace vexil

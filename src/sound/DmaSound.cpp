#include "sound/DmaSound.h"

#include <algorithm>
#include <array>
#include <bit>

#include "core/EventList.h"
#include "core/SaveState.h"
#include "cpu/Cpu.h"
#include "io/IoDispatch.h"
#include "memory/DeviceBus.h"

namespace vexil {

using namespace dmasound;

namespace {

// A microwire word written whole; byte writes queue their own offset.
constexpr uint32_t kWordWrite = 0x100;

// The LMC1992's 2 dB steps: step 40 is 0 dB, step 0 is -80 dB.
constexpr std::array<int32_t, 41> kStepGain = [] {
    std::array<int32_t, 41> gain{};
    double g = kUnityGain;
    for (int step = 40; step >= 0; --step) {
        gain[step] = static_cast<int32_t>(g + 0.5);
        g /= 1.2589254117941673;  // 10^(2/20)
    }
    return gain;
}();

uint32_t Assemble(const uint8_t (&regs)[3]) {
    return uint32_t{regs[0]} << 16 | uint32_t{regs[1]} << 8 | regs[2];
}

Cycles Now() {
    return CpuRunning() ? CpuCurrentCycle() : g_cpu.clock;
}

}  // namespace

DmaSound::DmaSound(EventList& events, const DeviceBus& bus, Lines lines)
    : events_(events), bus_(bus), lines_(lines) {
    event_ = events_.RegisterEvent(
        kEventTimerA, [](void* c, Cycles due) { static_cast<DmaSound*>(c)->Due(due); }, this);
}

void DmaSound::Reset() {
    RunTo(Now());
    const bool wasPlaying = Playing();
    const Lmc1992 lmc = s_.lmc;
    const Cycles nextSample = s_.nextSample;
    s_ = State{};
    s_.lmc = lmc;
    s_.nextSample = nextSample;
    queued_ = replayed_ = 0;
    if (wasPlaying) SetActive(false);
    Plan();
}

// ---- registers ------------------------------------------------------------------------------

uint8_t DmaSound::ReadByte(unsigned offset, Cycles now) {
    RunTo(now);
    switch (offset & 0xFF) {
        case 0x01:
            return s_.control;
        case 0x03:
        case 0x05:
        case 0x07:
            return s_.startRegs[((offset & 0xFF) - 0x03) / 2];
        case 0x09:
            return static_cast<uint8_t>((s_.address >> 16) & 0x3F);
        case 0x0B:
            return static_cast<uint8_t>(s_.address >> 8);
        case 0x0D:
            return static_cast<uint8_t>(s_.address & 0xFE);
        case 0x0F:
        case 0x11:
        case 0x13:
            return s_.endRegs[((offset & 0xFF) - 0x0F) / 2];
        case 0x21:
            return s_.mode;
        case 0x22:
            return static_cast<uint8_t>(MicrowireData(now) >> 8);
        case 0x23:
            return static_cast<uint8_t>(MicrowireData(now));
        case 0x24:
            return static_cast<uint8_t>(MicrowireMask(now) >> 8);
        case 0x25:
            return static_cast<uint8_t>(MicrowireMask(now));
        default:  // the unused high bytes of the byte registers
            return 0;
    }
}

uint16_t DmaSound::ReadWord(unsigned offset, Cycles now) {
    offset &= 0xFE;
    return static_cast<uint16_t>(ReadByte(offset, now) << 8 | ReadByte(offset + 1, now));
}

void DmaSound::WriteByte(unsigned offset, uint8_t value, Cycles now) {
    Queue(offset & 0xFF, value, now);
}

void DmaSound::WriteWord(unsigned offset, uint16_t value, Cycles now) {
    offset &= 0xFE;
    if (offset == 0x22 || offset == 0x24)
        Queue(offset | kWordWrite, value, now);
    else
        Queue(offset + 1, value & 0xFF, now);
}

void DmaSound::Queue(unsigned offset, uint32_t value, Cycles now) {
    if (queued_ == kQueueCapacity) RunTo(now);  // every listed write is due by now
    if (queued_ == kQueueCapacity) return;
    queue_[queued_++] = Write{now, offset, value};
    // Play and rate decide when the frame ends: the sequencer takes the write up at once and
    // plans again.
    if ((offset == 0x01 || offset == 0x21) && event_ >= 0) {
        events_.Schedule(event_, now);
        if (CpuRunning()) CpuEndSlice();
    }
}

// ---- the sequencer --------------------------------------------------------------------------

void DmaSound::RunTo(Cycles now) {
    for (;;) {
        // A write at the cycle of a sample comes first.
        if (replayed_ < queued_ && queue_[replayed_].time <= now && queue_[replayed_].time <= s_.nextSample) {
            Apply(queue_[replayed_++]);
        } else if (s_.nextSample <= now) {
            Sample();
            s_.nextSample += s_.period;
        } else {
            break;
        }
    }
    if (replayed_ == queued_) replayed_ = queued_ = 0;
}

void DmaSound::Apply(const Write& write) {
    const uint8_t byte = static_cast<uint8_t>(write.value);
    switch (write.offset) {
        case 0x01: {
            const bool wasPlaying = Playing();
            s_.control = byte & (kPlay | kLoop);
            if (!wasPlaying && Playing()) {
                Latch();
                SetActive(true);
            } else if (wasPlaying && !Playing()) {
                SetActive(false);
            }
            return;
        }
        case 0x03:
            s_.startRegs[0] = byte & 0x3F;
            return;
        case 0x05:
            s_.startRegs[1] = byte;
            return;
        case 0x07:
            s_.startRegs[2] = byte & 0xFE;
            return;
        case 0x0F:
            s_.endRegs[0] = byte & 0x3F;
            return;
        case 0x11:
            s_.endRegs[1] = byte;
            return;
        case 0x13:
            s_.endRegs[2] = byte & 0xFE;
            return;
        case 0x21: {
            // The next sample comes a new period after the last one, or at once when that has
            // already passed.
            s_.mode = byte & (kMono | 3);
            const Cycles last = s_.nextSample - s_.period;
            s_.period = kSamplePeriod[byte & 3];
            s_.nextSample = std::max(write.time, last + s_.period);
            return;
        }
        case 0x22:
            s_.microwireData = static_cast<uint16_t>((s_.microwireData & 0x00FF) | byte << 8);
            Microwire(write.time);
            return;
        case 0x23:
            s_.microwireData = static_cast<uint16_t>((s_.microwireData & 0xFF00) | byte);
            Microwire(write.time);
            return;
        case 0x22 | kWordWrite:
            s_.microwireData = static_cast<uint16_t>(write.value);
            Microwire(write.time);
            return;
        case 0x24:
            s_.microwireMask = static_cast<uint16_t>((s_.microwireMask & 0x00FF) | byte << 8);
            return;
        case 0x25:
            s_.microwireMask = static_cast<uint16_t>((s_.microwireMask & 0xFF00) | byte);
            return;
        case 0x24 | kWordWrite:
            s_.microwireMask = static_cast<uint16_t>(write.value);
            return;
        default:
            return;
    }
}

void DmaSound::Latch() {
    s_.frameStart = Assemble(s_.startRegs);
    s_.frameEnd = Assemble(s_.endRegs);
    s_.address = s_.frameStart;
}

void DmaSound::SetActive(bool high) {
    if (lines_.active) lines_.active(lines_.context, high);
}

// One sample time: the sample played (0 while stopped) goes to the frame's buffer.
void DmaSound::Sample() {
    int32_t value = 0;
    if (Playing()) {
        if (s_.mode & kMono) {
            uint8_t byte = 0;
            if (!bus_.ReadByte(s_.address, byte)) byte = 0;
            value = static_cast<int8_t>(byte) * (leftGain_ + rightGain_) >> 8;
            s_.address = (s_.address + 1) & kAddressBits;
        } else {
            const uint32_t at = s_.address & ~1u;
            uint16_t word = 0;
            if (!bus_.ReadWord(at, word)) word = 0;
            value =
                (static_cast<int8_t>(word >> 8) * leftGain_ + static_cast<int8_t>(word) * rightGain_) >> 8;
            s_.address = (at + 2) & kAddressBits;
        }
        if (s_.address == s_.frameEnd) {
            if (s_.control & kLoop) {
                Latch();
                SetActive(false);
                SetActive(true);
            } else {
                s_.address = s_.frameStart;
                s_.control &= static_cast<uint8_t>(~kPlay);
                SetActive(false);
            }
        }
    }
    if (sampleCount_ < kMaxFrameSamples) samples_[sampleCount_++] = value;
}

// ---- microwire and the LMC1992 --------------------------------------------------------------

void DmaSound::Microwire(Cycles now) {
    s_.microwireBusy = 1;
    s_.microwireStart = now;
    uint32_t word = 0;
    int bits = 0;
    for (int bit = 15; bit >= 0; --bit) {
        if (!((s_.microwireMask >> bit) & 1)) continue;
        word = word << 1 | ((s_.microwireData >> bit) & 1);
        ++bits;
    }
    // The LMC1992 keeps the last 11 bits shifted in, and answers to address 10 only.
    if (bits < 11 || ((word >> 9) & 3) != 2) return;
    const uint32_t value = word & 0x3F;
    Lmc1992& lmc = s_.lmc;
    switch ((word >> 6) & 7) {
        case 0:
            lmc.mix = value & 3;
            break;
        case 1:
            lmc.bass = value & 0x0F;
            break;
        case 2:
            lmc.treble = value & 0x0F;
            break;
        case 3:
            lmc.master = value;
            break;
        case 4:
            lmc.right = value & 0x1F;
            break;
        case 5:
            lmc.left = value & 0x1F;
            break;
        default:
            return;
    }
    SetGains();
}

void DmaSound::SetGains() {
    const int64_t master = kStepGain[std::min<uint32_t>(s_.lmc.master, 40)];
    leftGain_ = static_cast<int32_t>(master * kStepGain[20 + std::min<uint32_t>(s_.lmc.left, 20)] >> 15);
    rightGain_ = static_cast<int32_t>(master * kStepGain[20 + std::min<uint32_t>(s_.lmc.right, 20)] >> 15);
}

Cycles DmaSound::MicrowireBitsSent(Cycles now) const {
    if (!s_.microwireBusy) return 16;
    return std::clamp<Cycles>((now - s_.microwireStart) / kMicrowireBitCycles, 0, 16);
}

// The data register shifts its bits out, most significant first, and reads 0 once they have
// all gone.
uint16_t DmaSound::MicrowireData(Cycles now) const {
    if (!s_.microwireBusy) return s_.microwireData;
    return static_cast<uint16_t>(s_.microwireData << MicrowireBitsSent(now));
}

// The mask register rotates with it, and so reads as written again at the end.
uint16_t DmaSound::MicrowireMask(Cycles now) const {
    return std::rotl(s_.microwireMask, static_cast<int>(MicrowireBitsSent(now)));
}

// ---- frames and the event -------------------------------------------------------------------

// The event falls on the sample that ends the playing frame, when that comes in this frame.
void DmaSound::Plan() {
    if (event_ < 0) return;
    if (!Playing()) {
        events_.Cancel(event_);
        return;
    }
    const bool mono = (s_.mode & kMono) != 0;
    const uint32_t from = mono ? s_.address : (s_.address & ~1u);
    int64_t bytes = (s_.frameEnd - from) & kAddressBits;
    if (bytes == 0) bytes = int64_t{kAddressBits} + 1;
    const int64_t samples = mono ? bytes : (bytes + 1) / 2;
    const int64_t due = s_.nextSample + (samples - 1) * s_.period;
    if (due >= kCyclesPerFrame) {
        events_.Cancel(event_);  // planned again when the next frame starts
        return;
    }
    events_.Schedule(event_, static_cast<Cycles>(due));
}

void DmaSound::Due(Cycles due) {
    RunTo(due);
    Plan();
}

void DmaSound::EndFrame() {
    RunTo(kCyclesPerFrame - 1);
}

void DmaSound::StartFrame() {
    sampleCount_ = 0;
    s_.nextSample -= kCyclesPerFrame;
    for (uint32_t i = replayed_; i < queued_; ++i) queue_[i].time -= kCyclesPerFrame;
    s_.microwireStart -= kCyclesPerFrame;
    if (s_.microwireBusy && MicrowireBitsSent(0) == 16) {
        s_.microwireBusy = 0;
        s_.microwireStart = 0;
        s_.microwireData = 0;
    }
    // Writes made after the frame's last cycle are taken up first, then the event is planned.
    if (replayed_ < queued_ && event_ >= 0)
        events_.Schedule(event_, queue_[replayed_].time);
    else
        Plan();
}

void DmaSound::MixInto(int32_t* mix, int32_t count) const {
    if (sampleCount_ == 0 || count <= 0) return;
    const int64_t step = (int64_t{sampleCount_} << 16) / count;
    for (int32_t i = 0; i < count; ++i) mix[i] += samples_[(i * step) >> 16];
}

// ---- save state -----------------------------------------------------------------------------

void DmaSound::Save(StateWriter& out) const {
    out.BeginSection("DMAS");
    out(s_)(sampleCount_);
    out.Each(samples_, static_cast<size_t>(sampleCount_));
    const uint32_t pending = queued_ - replayed_;
    out(pending);
    out.Each(queue_ + replayed_, pending);
}

bool DmaSound::Load(StateReader& in, bool commit) {
    State s;
    const Lmc1992& lmc = s.lmc;
    int32_t count = 0;
    uint32_t pending = 0;
    int32_t samples[kMaxFrameSamples];
    Write queue[kQueueCapacity];
    if (!in.BeginSection("DMAS") || in(s)(count).Failed() || count < 0 || count > kMaxFrameSamples)
        return false;
    in.Each(samples, static_cast<size_t>(count));
    if (in(pending).Failed() || pending > kQueueCapacity) return false;
    in.Each(queue, pending);
    if (!in.EndSection()) return false;
    for (uint32_t i = 0; i < pending; ++i) {
        const Write& w = queue[i];
        if (!PlausibleCycles(w.time) || w.offset > (0x24 | kWordWrite) || w.value > 0xFFFF) return false;
    }
    for (Cycles v : {s.period, s.nextSample, s.microwireStart})
        if (!PlausibleCycles(v)) return false;
    const auto masked = [](const uint8_t(&regs)[3]) { return (regs[0] & ~0x3F) == 0 && (regs[2] & 1) == 0; };
    if (s.control > 3 || (s.mode & ~(kMono | 3)) != 0 || s.period != kSamplePeriod[s.mode & 3] ||
        !masked(s.startRegs) || !masked(s.endRegs) || s.frameStart > kAddressBits ||
        s.frameEnd > kAddressBits || s.address > kAddressBits || s.microwireBusy > 1 || lmc.master > 0x3F ||
        lmc.left > 0x1F || lmc.right > 0x1F || lmc.bass > 0x0F || lmc.treble > 0x0F || lmc.mix > 3 ||
        s.nextSample < -s.period || s.nextSample > kCyclesPerFrame + s.period)
        return false;
    if (!commit) return true;
    s_ = s;
    std::copy(samples, samples + count, samples_);
    sampleCount_ = count;
    std::copy(queue, queue + pending, queue_);
    queued_ = pending;
    replayed_ = 0;
    SetGains();
    return true;
}

// ---- the I/O page ---------------------------------------------------------------------------

IoChip DmaSoundIoChip(DmaSound& chip) {
    IoChip io = MakeIoChip("STE DMA sound", 0xFF8900, chip);
    io.readBytes.Add(0x00, 0x13).Add(0x20, 0x25);
    io.readWords.Add(0x00, 0x12, 2).Add(0x20, 0x24, 2);
    io.writeBytes.Add(0x01, 0x07, 2).Add(0x0F, 0x13, 2).Add(0x21, 0x25);
    io.writeWords.Add(0x00, 0x06, 2).Add(0x0E, 0x12, 2).Add(0x20, 0x24, 2);
    io.faults.Add(0x40, 0xFF);
    return io;
}

}  // namespace vexil

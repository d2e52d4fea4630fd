#include "sound/Ym2149.h"

#include <algorithm>
#include <array>

#include "core/SaveState.h"
#include "io/IoDispatch.h"

namespace vexil {

namespace {

// Output levels of the 16 volume steps (roughly 3 dB apart, the lowest step nearly silent),
// scaled to two thirds so that three channels at full volume fit into 16 bits.
constexpr std::array<uint16_t, 16> kVolume = [] {
    constexpr uint16_t kLevels[16] = {62,   161,  265,  377,  580,  774,   1155,  1575,
                                      2260, 3088, 4570, 6233, 9330, 13187, 21220, 32767};
    std::array<uint16_t, 16> table{};
    for (int i = 0; i < 16; ++i) table[i] = static_cast<uint16_t>(2 * kLevels[i] / 3);
    return table;
}();

// The envelope shapes as four 16-step segments {a, b}: a falling ramp {1, 0}, a rising ramp
// {0, 1}, low {0, 0}, high {1, 1}. The first two segments are the first run through the
// shape, the last two repeat for as long as the shape holds.
struct Segment {
    uint8_t a, b;
};
constexpr Segment kShapeSegments[16][4] = {
    {{1, 0}, {0, 0}, {0, 0}, {0, 0}}, {{1, 0}, {0, 0}, {0, 0}, {0, 0}}, {{1, 0}, {0, 0}, {0, 0}, {0, 0}},
    {{1, 0}, {0, 0}, {0, 0}, {0, 0}}, {{0, 1}, {0, 0}, {0, 0}, {0, 0}}, {{0, 1}, {0, 0}, {0, 0}, {0, 0}},
    {{0, 1}, {0, 0}, {0, 0}, {0, 0}}, {{0, 1}, {0, 0}, {0, 0}, {0, 0}}, {{1, 0}, {1, 0}, {1, 0}, {1, 0}},
    {{1, 0}, {0, 0}, {0, 0}, {0, 0}}, {{1, 0}, {0, 1}, {1, 0}, {0, 1}}, {{1, 0}, {1, 1}, {1, 1}, {1, 1}},
    {{0, 1}, {0, 1}, {0, 1}, {0, 1}}, {{0, 1}, {1, 1}, {1, 1}, {1, 1}}, {{0, 1}, {1, 0}, {0, 1}, {1, 0}},
    {{0, 1}, {0, 0}, {0, 0}, {0, 0}},
};

constexpr std::array<std::array<uint8_t, 64>, 16> kEnvelope = [] {
    std::array<std::array<uint8_t, 64>, 16> table{};
    for (int shape = 0; shape < 16; ++shape)
        for (int segment = 0; segment < 4; ++segment) {
            const int a = kShapeSegments[shape][segment].a, b = kShapeSegments[shape][segment].b;
            for (int k = 0; k < 16; ++k)
                table[shape][segment * 16 + k] = static_cast<uint8_t>(15 * a + k * (b - a));
        }
    return table;
}();

// CPU cycles per output sample, in 1/4096 cycles: 745011.97...
constexpr double kExactSampleStep = static_cast<double>(ym::kCpuClock) * 4096.0 / ym::kOutputRate;

// Register widths: tone periods 12 bits, noise period 5, volumes 5, envelope shape 4.
constexpr uint8_t kWidth[16] = {0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F, 0xFF,
                                0x1F, 0x1F, 0x1F, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF};

}  // namespace

// ---- register interface ---------------------------------------------------------------------

YmPorts::YmPorts() : list_(new YmWrite[ym::kListCapacity + 16 + 1]) {
    list_[0] = {ym::kEndOfList, 16, 0};
}

// The chip returns only the bits each register has; the unused high bits read 0.
uint8_t YmPorts::ReadByte(uint32_t address) const {
    if ((address & 2) != 0) return s_.select;
    return s_.select < 16 ? s_.shadow[s_.select] & kWidth[s_.select] : 0xFF;
}

void YmPorts::WriteByte(uint32_t address, uint8_t value, Cycles now) {
    if ((address & 2) == 0) {
        s_.select = value;
        return;
    }
    if (s_.select > 15) return;
    const bool strobeWas = StrobeHigh();
    s_.shadow[s_.select] = value;
    if (strobeWas && !StrobeHigh()) s_.strobeLowFrames = 0;
    if (printer.strobe && !strobeWas && StrobeHigh() && s_.strobeLowFrames < 2 &&
        (s_.shadow[ym::kMixer] & 0x80))
        printer.strobe(printer.context, s_.shadow[ym::kPortB]);
    if (s_.count == ym::kListCapacity) {
        s_.overflowRegs |= 1u << s_.select;
        s_.lastOverflow = std::max(now, s_.lastWrite);
        return;
    }
    const Cycles delta = std::clamp<Cycles>(now - s_.lastWrite, 0, ym::kMaxDelta);
    list_[s_.count++] = {static_cast<uint32_t>(delta), s_.select, value};
    s_.lastWrite += delta;
}

const YmWrite* YmPorts::CloseList() {
    uint32_t end = s_.count;
    // Writes that found the list full: each register's final value, at the last one's time.
    uint32_t delta =
        static_cast<uint32_t>(std::clamp<Cycles>(s_.lastOverflow - s_.lastWrite, 0, ym::kMaxDelta));
    for (unsigned reg = 0; reg < 16; ++reg) {
        if ((s_.overflowRegs >> reg & 1) == 0) continue;
        list_[end++] = {delta, reg, s_.shadow[reg]};
        delta = 0;
    }
    list_[end] = {ym::kEndOfList, 16, 0};
    return list_.get();
}

void YmPorts::StartFrame() {
    if (!StrobeHigh() && s_.strobeLowFrames < 2) ++s_.strobeLowFrames;
    s_.count = 0;
    s_.lastWrite = 0;
    s_.overflowRegs = 0;
    s_.lastOverflow = 0;
    list_[0] = {ym::kEndOfList, 16, 0};
}

void YmPorts::Save(StateWriter& out) const {
    out.BeginSection("YMIO");
    out(s_);
    out.Each(list_.get(), s_.count);
}

bool YmPorts::Load(StateReader& in, bool commit) {
    State s;
    if (!in.BeginSection("YMIO") || in(s).Failed()) return false;
    if (s.count > ym::kListCapacity || s.overflowRegs > 0xFFFF || !PlausibleCycles(s.lastWrite) ||
        !PlausibleCycles(s.lastOverflow))
        return false;
    std::vector<YmWrite> list(s.count);
    in.Each(list.data(), list.size());
    if (!in.EndSection()) return false;
    for (const YmWrite& w : list)
        if (w.delta > ym::kMaxDelta || w.reg > 15 || w.value > 0xFF) return false;
    if (commit) {
        s_ = s;
        std::copy(list.begin(), list.end(), list_.get());
        list_[s_.count] = {ym::kEndOfList, 16, 0};
    }
    return true;
}

// ---- synthesiser ----------------------------------------------------------------------------

Ym2149::Ym2149() {
    s_.tonePhase[0] = s_.tonePhase[1] = s_.tonePhase[2] = 0x80000000;
    s_.envelopeLevel = kVolume[kEnvelope[0][0]];
    FullReset();
}

// The chip's 17-bit shift register with feedback from bits 0 and 3 runs through all 131,071
// non-zero values before it repeats; its bit 0 is the noise.
uint32_t Ym2149::NextNoise(uint32_t shift) {
    const uint32_t bit = (shift ^ (shift >> 3)) & 1;
    return (shift >> 1) | (bit << 16);
}

// Mixer and volumes to silence; periods, phases and the envelope are kept.
void Ym2149::FullReset() {
    s_.regs[7] = 127;
    for (unsigned ch = 0; ch < 3; ++ch) {
        s_.toneOff[ch] = s_.noiseOff[ch] = 0xFFFF;
        s_.regs[8 + ch] = 0;
        SetVolume(ch);
    }
    s_.noiseOutput = 0xFFFF;
    s_.noiseShift = 1;
    s_.resetRequest = 0;
}

// A tone period below 6 holds the channel high; a noise period below 3 stops the noise.
void Ym2149::SetTone(unsigned ch) {
    const uint32_t period = (s_.regs[2 * ch + 1] << 8) + s_.regs[2 * ch];
    s_.toneStep[ch] =
        period < 6
            ? 0
            : static_cast<uint32_t>(static_cast<double>(ym::kChipClock) /
                                    (static_cast<double>(ym::kOutputRate) * period * 8.0) * 2147483648.0);
}

void Ym2149::SetNoise() {
    const uint32_t period = s_.regs[6];
    s_.noiseStep =
        period < 3 ? 0
                   : static_cast<uint32_t>(static_cast<double>(ym::kChipClock) /
                                           (static_cast<double>(ym::kOutputRate) * period * 8.0) * 32768.0);
}

void Ym2149::SetMixer() {
    for (unsigned ch = 0; ch < 3; ++ch) {
        s_.toneOff[ch] = (s_.regs[7] >> ch & 1) ? 0xFFFF : 0;
        s_.noiseOff[ch] = (s_.regs[7] >> (ch + 3) & 1) ? 0xFFFF : 0;
    }
}

// What follows from the registers and the envelope's place, as the writes would have set it.
void Ym2149::Derive() {
    for (unsigned ch = 0; ch < 3; ++ch) {
        SetTone(ch);
        SetVolume(ch);
    }
    SetNoise();
    SetMixer();
    SetEnvelope();
    s_.shape = s_.regs[13];
    s_.envelopeLevel = kVolume[kEnvelope[s_.shape][s_.envelopeRepeat * 32 + (s_.envelopePhase >> 27)]];
}

void Ym2149::SetEnvelope() {
    const uint32_t period = (s_.regs[12] << 8) + s_.regs[11];
    s_.envelopeStep =
        period == 0
            ? 0
            : static_cast<uint32_t>(static_cast<double>(ym::kChipClock) /
                                    (static_cast<double>(period) * ym::kOutputRate * 512.0) * 4294967296.0);
}

void Ym2149::SetVolume(unsigned ch) {
    s_.fixedLevel[ch] = kVolume[s_.regs[8 + ch] & 15];
    s_.useEnvelope[ch] = (s_.regs[8 + ch] >> 4) & 1;
}

void Ym2149::WriteRegister(unsigned reg, uint8_t value) {
    if (reg > 13) return;  // the ports make no sound
    s_.regs[reg] = value & kWidth[reg];
    switch (reg) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
            SetTone(reg / 2);
            if (s_.toneStep[reg / 2] == 0) s_.tonePhase[reg / 2] = 0x80000000;  // held high
            break;
        case 6:
            SetNoise();
            if (s_.noiseStep == 0) s_.noiseAccumulator = 0, s_.noiseOutput = 0xFFFF;
            break;
        case 7:
            SetMixer();
            break;
        case 8:
        case 9:
        case 10:
            SetVolume(reg - 8);
            break;
        case 11:
        case 12:
            SetEnvelope();
            break;
        case 13:
            s_.shape = s_.regs[13];
            s_.envelopePhase = 0;
            s_.envelopeRepeat = 0;
            s_.shapeWritten = 1;
            break;
    }
}

void Ym2149::ReadRegisters(uint8_t out[14], bool* shapeWritten) {
    for (int i = 0; i < 14; ++i) out[i] = static_cast<uint8_t>(s_.regs[i]);
    if (shapeWritten) *shapeWritten = s_.shapeWritten != 0;
    s_.shapeWritten = 0;
}

inline int32_t Ym2149::Sample() {
    if (s_.noiseAccumulator >= 0x10000) {
        s_.noiseShift = NextNoise(s_.noiseShift);
        s_.noiseOutput = (s_.noiseShift & 1) ? 0xFFFF : 0;
        s_.noiseAccumulator &= 0xFFFF;
    }
    s_.envelopeLevel = kVolume[kEnvelope[s_.shape][s_.envelopeRepeat * 32 + (s_.envelopePhase >> 27)]];
    int32_t sum = -32768;
    for (unsigned ch = 0; ch < 3; ++ch) {
        const uint32_t tone = (s_.tonePhase[ch] & 0x80000000) ? 0xFFFFFFFF : 0;
        const uint32_t level = s_.useEnvelope[ch] ? s_.envelopeLevel : s_.fixedLevel[ch];
        sum += static_cast<int32_t>((tone | s_.toneOff[ch]) & (s_.noiseOff[ch] | s_.noiseOutput) & level);
        s_.tonePhase[ch] += s_.toneStep[ch];
    }
    blockMin_ = std::min(blockMin_, sum);
    blockMax_ = std::max(blockMax_, sum);
    s_.noiseAccumulator += s_.noiseStep;
    s_.envelopePhase += s_.envelopeStep;
    if (s_.envelopeRepeat == 0 && s_.envelopePhase < s_.envelopeStep) s_.envelopeRepeat = 1;
    return sum;
}

// Time runs in 1/4096 CPU cycles: `untilWrite` is the time from the last sample to the next
// listed write, `carry` the time from the last sample to the write just applied.
void Ym2149::Render(const YmWrite* list, int32_t* output, int32_t count, int32_t span) {
    blockMin_ = 32767;
    blockMax_ = -32768;
    sampleStep_ = count == span ? static_cast<uint32_t>(kExactSampleStep)
                                : static_cast<uint32_t>(static_cast<double>(span) / count * kExactSampleStep);
    uint32_t carry = 0;
    const YmWrite* entry = list;
    uint32_t untilWrite = entry->delta << 12;
    for (int32_t produced = 0; produced < count;) {
        const uint32_t need = sampleStep_ - carry;
        if (need <= untilWrite) {
            output[produced++] = Sample();
            untilWrite -= need;
            carry = 0;
        } else {
            WriteRegister(entry->reg, static_cast<uint8_t>(entry->value));
            carry += untilWrite;
            ++entry;
            untilWrite = entry->delta << 12;
        }
    }
    // Writes after the block's last sample (the frame's last few cycles) are heard from the next
    // block on; the list is emptied for the next frame, so they must not be left behind.
    for (; entry->delta != ym::kEndOfList; ++entry)
        WriteRegister(entry->reg, static_cast<uint8_t>(entry->value));
    // A constant level is silence: the block is centred on its own middle.
    const int32_t middle = (blockMin_ + blockMax_) >> 1;
    for (int32_t i = 0; i < count; ++i) output[i] -= middle;
    if (s_.resetRequest) FullReset();
}

void Ym2149::Save(StateWriter& out) const {
    out.BeginSection("YM  ");
    out(s_);
}

bool Ym2149::Load(StateReader& in, bool commit) {
    State s;
    if (!in.BeginSection("YM  ") || !in(s).EndSection()) return false;
    for (int i = 0; i < 14; ++i)
        if ((s.regs[i] & ~uint32_t{kWidth[i]}) != 0) return false;
    if (s.noiseShift >= (1u << 17) || (s.noiseOutput != 0 && s.noiseOutput != 0xFFFF) ||
        s.envelopeRepeat > 1 || s.shapeWritten > 1 || s.resetRequest > 1 || s.noiseAccumulator >= 0x20000)
        return false;
    if (!commit) return true;
    s_ = s;
    Derive();
    return true;
}

// ---- the I/O page ---------------------------------------------------------------------------

IoChip Ym2149IoChip(YmChip& chip) {
    IoChip io = MakeIoChip("YM2149", 0xFF8800, chip);
    // Odd offsets are not decoded: they read all ones and ignore writes.
    for (IoOffsets* offsets : {&io.readBytes, &io.readWords, &io.writeBytes, &io.writeWords})
        offsets->Add(0x00, 0xFE, 2);
    return io;
}

}  // namespace vexil

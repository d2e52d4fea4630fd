#include "sound/SoundMix.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexil {

void LowPassFilter::Apply(int32_t* block, int32_t count) {
    int32_t p1 = p1_, p2 = p2_;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t x = block[k];
        block[k] = (x + 2 * p1 + p2) >> 2;
        p2 = p1;
        p1 = x;
    }
    p1_ = p1;
    p2_ = p2;
}

void ClipTo16(const int32_t* mix, int16_t* out, int32_t count) {
    for (int32_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>(std::clamp(mix[i], -32768, 32767));
}

void StretchSamples(const int16_t* from, int32_t fromCount, int16_t* to, int32_t toCount) {
    const int64_t step = (static_cast<int64_t>(fromCount) << 16) / toCount;
    for (int32_t i = 0; i < toCount; ++i) to[i] = from[(i * step) >> 16];
}

int32_t* SoundMix::Begin(int32_t count) {
    count_ = std::clamp(count, 1, sound::kMaxBlockSamples);
    std::memset(sums_, 0, sizeof(int32_t) * static_cast<size_t>(count_));
    return sums_;
}

void SoundMix::Finish(bool lowPass) {
    if (lowPass) filter_.Apply(sums_, count_);
    ClipTo16(sums_, output_, count_);
}

const int16_t* SoundMix::Stretched(int32_t count) {
    count = std::clamp(count, 1, sound::kMaxBlockSamples);
    if (count == count_) return output_;
    StretchSamples(output_, count_, stretched_, count);
    return stretched_;
}

namespace {
// One-pole low-pass coefficients at 44,100 Hz, 1 - exp(-2 pi fc / fs): the shelves turn over
// at 200 Hz and 3.5 kHz, so that each has its full gain at 50 Hz and 15 kHz.
constexpr double kBassCoefficient = 0.02809;    // 200 Hz
constexpr double kTrebleCoefficient = 0.39267;  // 3.5 kHz

// The extra part a shelf adds for setting `step` (6 flat): 10^(dB / 20) - 1.
double ShelfPart(uint32_t step) {
    const int db = 2 * (static_cast<int>(step > 12 ? 12 : step) - 6);
    return std::pow(10.0, db / 20.0) - 1.0;
}
}  // namespace

void ToneControl::Apply(int32_t* block, int32_t count, uint32_t bass, uint32_t treble) {
    const double bassPart = ShelfPart(bass), treblePart = ShelfPart(treble);
    const bool flat = bassPart == 0.0 && treblePart == 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const double x = block[i];
        bassLow_ += kBassCoefficient * (x - bassLow_);
        trebleLow_ += kTrebleCoefficient * (x - trebleLow_);
        if (flat) continue;
        const double y = x + bassPart * bassLow_ + treblePart * (x - trebleLow_);
        block[i] = static_cast<int32_t>(std::lround(std::clamp(y, -1e9, 1e9)));
    }
}

}  // namespace vexil

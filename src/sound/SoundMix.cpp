#include "sound/SoundMix.h"

#include <algorithm>
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

}  // namespace vexil

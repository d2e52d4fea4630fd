// The frame's mix: the sound sources add their samples into one block of 32-bit sums, which
// is then filtered (`bLowPass`) and clipped into the 16-bit mono samples at 44,100 Hz that the
// device and the recorder get.
//
// The low-pass filter is three taps, weights 1 2 1 over 4, and runs on across block
// boundaries: the first two samples of a block see the last two inputs of the one before.
// With x the inputs and p1, p2 the last and second-last input of the previous block:
//   y[0] = (x[0] + 2 p1 + p2) >> 2,  y[1] = (x[1] + 2 x[0] + p1) >> 2,
//   y[k] = (x[k] + 2 x[k-1] + x[k-2]) >> 2,  >> an arithmetic shift of the 32-bit sum.
#pragma once

#include <cstdint>

namespace vexil {

namespace sound {
constexpr int32_t kOutputRate = 44100;
constexpr int32_t kFrameSamples = 881;      // about one 50 Hz frame of the machine's time
constexpr int32_t kMaxBlockSamples = 4096;  // the largest block a frame may ask for
}  // namespace sound

class LowPassFilter {
public:
    // Filters `count` samples in place.
    void Apply(int32_t* block, int32_t count);
    void Reset() { p1_ = p2_ = 0; }

private:
    int32_t p1_ = 0, p2_ = 0;  // the last and the second-last input so far
};

// The STE's LMC1992 tone controls over the mixed YM2149 and DMA sound: a low shelf (bass, its
// full gain at 50 Hz) and a high shelf (treble, full at 15 kHz), each the part below or above
// a one-pole filter's turnover, added at the control's gain: setting 0-12 is -12 to +12 dB in
// 2 dB steps, 6 flat (the data sheet's range; 13-15 act as 12). Flat settings leave every
// sample as it is.
// Not yet checked against hardware: the turnovers (200 Hz, 3.5 kHz), which the STE's
// capacitors set.
class ToneControl {
public:
    void Apply(int32_t* block, int32_t count, uint32_t bass, uint32_t treble);
    void Reset() { bassLow_ = trebleLow_ = 0; }

private:
    double bassLow_ = 0, trebleLow_ = 0;  // the one-pole low-pass outputs so far
};

// Each sum clamped to -32768 ... 32767.
void ClipTo16(const int32_t* mix, int16_t* out, int32_t count);
// Nearest-neighbour stretching of `fromCount` samples to `toCount` (both 1 ... 4096).
void StretchSamples(const int16_t* from, int32_t fromCount, int16_t* to, int32_t toCount);

// The buffers of one frame's mix, taken once with the machine.
class SoundMix {
public:
    // A block of `count` sums (1 ... 4096), all zero; the sources store or add into it.
    int32_t* Begin(int32_t count);
    // Filters the block when `lowPass` is set and clips it into Output().
    void Finish(bool lowPass);
    // The last finished block, stretched to `count` samples (1 ... 4096) for a device that
    // takes a different number than was mixed.
    const int16_t* Stretched(int32_t count);

    const int16_t* Output() const { return output_; }
    int32_t Count() const { return count_; }

private:
    int32_t sums_[sound::kMaxBlockSamples] = {};
    int16_t output_[sound::kMaxBlockSamples] = {};
    int16_t stretched_[sound::kMaxBlockSamples] = {};
    int32_t count_ = 0;
    LowPassFilter filter_;
};

}  // namespace vexil

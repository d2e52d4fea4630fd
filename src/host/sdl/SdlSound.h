// The sound device on SDL2: 44,100 Hz, mono, 16-bit, fed from a ring of 4,096 samples (about
// 93 ms) that SDL's audio thread drains through a callback. The callback plays what the ring
// holds and silence when it runs dry, and counts every sample it plays, silence included: that
// count is the device's clock for the display-paced mode; between callbacks the clock runs on
// by the time passed, up to a period, as a sound card's play position would. The ring is a single-producer,
// single-consumer queue: the main thread only advances `written`, the callback only `taken`.
// The pacing itself (SoundPacer) is the core's.
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "sound/SoundPacer.h"

namespace vexil::host {

class SdlSound final : public PacedDevice {
public:
    SdlSound() : pacer_(*this) {}
    ~SdlSound() override { Close(); }
    SdlSound(const SdlSound&) = delete;
    SdlSound& operator=(const SdlSound&) = delete;

    // False with the message for the user (the device stays closed).
    bool Open(std::string* error);
    void Close();
    bool IsOpen() const { return device_ != 0; }
    // Starts from an empty ring with the clock at 0; Stop pauses the device.
    void Start();
    void Stop();
    SoundPacer& Pacer() { return pacer_; }
    // Samples the device played per second of wall-clock time while it played, over the run.
    double MeasuredRate() const;

    // PacedDevice
    int32_t Queued() override;
    int64_t Played() override;
    void Queue(const int16_t* samples, int32_t count) override;
    int32_t Period() override { return period_; }
    int64_t NowMicros() override;
    void Sleep(int64_t micros) override;

private:
    static void Callback(void* self, Uint8* stream, int bytes);
    void Account();  // adds the time and samples since the start to the run's

    static constexpr int32_t kRingSamples = SoundPacer::kQueueSamples;  // a power of two
    SDL_AudioDeviceID device_ = 0;
    SoundPacer pacer_;
    int16_t ring_[kRingSamples] = {};
    std::atomic<int64_t> written_{0};  // samples put in the ring since the start
    std::atomic<int64_t> taken_{0};    // of those, played
    std::atomic<int64_t> played_{0};   // samples played since the start, silence included
    std::atomic<int64_t> dry_{0};      // callbacks that found the ring short
    int64_t lastCallback_ = 0;
    int64_t startMicros_ = 0, playingMicros_ = 0,
            playedTotal_ = 0;  // NowMicros at the last callback (under the device lock)
    int32_t period_ = 0;       // samples per callback
};

}  // namespace vexil::host

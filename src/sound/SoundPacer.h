// The sound output's pacing, apart from any audio library: the device's queue holds up to
// 4,096 samples (about 93 ms) and plays them at 44,100 Hz.
//
// Normal mode: each frame's 881 samples wait for room in the queue before they go in, and that
// wait is what holds the machine to real time (44,100 / 881 = 50 frames a second). The wait
// has a bound, the time the device needs to play the missing room (it takes a period of
// samples at a time) and a frame more, so a device that has stopped taking samples slows the
// machine down but cannot hang it; a block that finds no room in that time is dropped.
//
// Display-paced mode (`ForceVBLSync`): the display holds the frames to its own rate and each
// frame produces as many samples as the device played since the previous frame (none at the
// first frame after a start), so the sound follows the emulation. An empty queue first gets a
// cushion of two frames of silence, so that the next blocks meet the device in time.
//
// While the device is stopped (the machine is stopped: menu, debugger steps) nothing waits and
// nothing is queued; every start begins with an empty queue.
#pragma once

#include <cstdint>

namespace vexil {

// What the pacing needs of an audio device and of time: the SDL back end's ring, or a
// simulated device in the tests.
class PacedDevice {
public:
    virtual ~PacedDevice() = default;
    // Samples queued and not yet played; negative when it cannot be read.
    virtual int32_t Queued() = 0;
    // Samples the device has played since its start, silence included: its clock. Negative
    // when it cannot be read.
    virtual int64_t Played() = 0;
    // Queues samples; the caller never hands over more than there is room for.
    virtual void Queue(const int16_t* samples, int32_t count) = 0;
    // Samples the device takes at a time (an audio callback's buffer); 1 when it plays sample
    // by sample.
    virtual int32_t Period() { return 1; }
    // A steady clock in microseconds, and a pause of about `micros`.
    virtual int64_t NowMicros() = 0;
    virtual void Sleep(int64_t micros) = 0;
};

class SoundPacer {
public:
    static constexpr int32_t kQueueSamples = 4096;
    static constexpr int32_t kCushionSamples = 2 * 881;
    static constexpr int64_t kFrameMicros = 20000;

    explicit SoundPacer(PacedDevice& device) : device_(device) {}

    // The device was started with an empty queue (its clock at 0), or stopped.
    void Start();
    void Stop() { playing_ = false; }
    bool Playing() const { return playing_; }

    // Display-paced mode: the samples the device played since the previous call (0 at the
    // first after a start or after a clock that could not be read); 0 too for more than
    // 4,096, a hiccup that the frame skips.
    int32_t FrameSampleCount();
    // Queues a block of 1 ... 4,096 samples; with `wait` first waits for room (normal mode).
    // False when the block was not queued: the device is stopped, or there was no room.
    bool WriteFrame(const int16_t* samples, int32_t count, bool wait);

    int64_t DroppedBlocks() const { return dropped_; }

private:
    int32_t Room();

    PacedDevice& device_;
    bool playing_ = false;
    bool havePrevious_ = false;
    int64_t previous_ = 0;
    int64_t dropped_ = 0;
};

}  // namespace vexil

// The sound output's pacing against a simulated device: a clock of its own, a callback that
// takes a period of samples at a time at 44,100 Hz (silence when the queue has run dry), and a
// display whose vertical blank comes at a rate of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sound/SoundPacer.h"

namespace vexil {
namespace {

class SimulatedDevice final : public PacedDevice {
public:
    explicit SimulatedDevice(int32_t period) : period_(period) {}

    // The device's callbacks up to the present: each takes a period, what the queue holds of it
    // and silence for the rest.
    void CatchUp() {
        while (consuming && (periods_ + 1) * period_ * 1000000 / 44100 <= now) {
            ++periods_;
            const int64_t take = std::min<int64_t>(period_, written_ - taken_);
            taken_ += take;
            if (take < period_ && written_ > 0) ++underruns;
        }
    }
    int32_t Queued() override {
        CatchUp();
        return static_cast<int32_t>(written_ - taken_);
    }
    int64_t Played() override {
        CatchUp();
        return periods_ * period_;
    }
    void Queue(const int16_t*, int32_t count) override {
        CatchUp();
        ASSERT_LE(written_ - taken_ + count, SoundPacer::kQueueSamples) << "queued past the room";
        written_ += count;
        largestQueue = std::max(largestQueue, written_ - taken_);
    }
    int64_t NowMicros() override { return now; }
    void Sleep(int64_t micros) override { now += micros; }
    int32_t Period() override { return static_cast<int32_t>(period_); }

    int64_t now = 0;
    bool consuming = true;
    int64_t underruns = 0;  // periods that found the queue short once samples came
    int64_t largestQueue = 0;

private:
    int64_t period_;
    int64_t periods_ = 0;
    int64_t written_ = 0, taken_ = 0;
};

struct PacingCase {
    const char* name;
    bool displayPaced;
    int32_t period;  // samples per device callback
    int64_t work;    // microseconds of emulation per frame
    int64_t vblank;  // microseconds between the display's vertical blanks (display-paced)
    double framesPerSecond;
    int32_t samplesPerFrame;  // in the steady state, on average
};

class Pacing : public ::testing::TestWithParam<PacingCase> {};

TEST_P(Pacing, FramesFollowTheClockThatPaces) {
    const PacingCase& c = GetParam();
    SimulatedDevice device(c.period);
    SoundPacer pacer(device);
    pacer.Start();
    const int16_t block[4096] = {};
    constexpr int kFrames = 500;
    int64_t steadyStart = 0, steadySamples = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        if (frame == 50) steadyStart = device.now;
        device.now += c.work;
        int32_t count = 881;
        if (c.displayPaced) {
            device.now = (device.now + c.vblank - 1) / c.vblank * c.vblank;  // the present waits
            count = pacer.FrameSampleCount();
            if (frame == 0) {
                EXPECT_EQ(count, 0) << "the first frame after a start";
            }
        }
        if (frame >= 50) steadySamples += count;
        if (count > 0) {
            EXPECT_TRUE(pacer.WriteFrame(block, count, !c.displayPaced)) << "frame " << frame;
        }
    }
    const double seconds = static_cast<double>(device.now - steadyStart) / 1e6;
    EXPECT_NEAR((kFrames - 50) / seconds, c.framesPerSecond, c.framesPerSecond * 0.01);
    EXPECT_NEAR(static_cast<double>(steadySamples) / (kFrames - 50), c.samplesPerFrame, 2.0);
    EXPECT_LE(device.largestQueue, SoundPacer::kQueueSamples);
    // Real time with room to spare, the queue never runs dry once it has begun.
    if (c.work < 20000) {
        EXPECT_EQ(device.underruns, 0);
    }
    EXPECT_EQ(pacer.DroppedBlocks(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Pacing,
    ::testing::Values(PacingCase{"NormalModeHoldsFiftyFrames", false, 1024, 3000, 0, 44100.0 / 881, 881},
                      PacingCase{"NormalModeWithAShortPeriod", false, 256, 12000, 0, 44100.0 / 881, 881},
                      PacingCase{"NormalModeWithALongPeriod", false, 2048, 3000, 0, 44100.0 / 881, 881},
                      PacingCase{"NormalModeSlowerThanTheMachine", false, 1024, 25000, 0, 40.0, 881},
                      PacingCase{"DisplayAt50Hz", true, 1, 3000, 20000, 50.0, 882},
                      PacingCase{"DisplayAt60Hz", true, 1, 3000, 16667, 60.0, 735},
                      PacingCase{"DisplayAt60HzWithCallbacks", true, 512, 3000, 16667, 60.0, 735}),
    [](const auto& info) { return std::string(info.param.name); });

// A device that stops taking samples holds each frame up for at most the time the missing
// room needs and a frame more; the block is then dropped and the program goes on.
TEST(SoundPacer, AStuckDeviceCannotHangTheMachine) {
    SimulatedDevice device(1024);
    SoundPacer pacer(device);
    pacer.Start();
    const int16_t block[881] = {};
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(pacer.WriteFrame(block, 881, true));  // 3524 queued
    device.consuming = false;
    const int64_t before = device.now;
    EXPECT_FALSE(pacer.WriteFrame(block, 881, true));
    const int64_t missing = 881 - (4096 - 4 * 881) + 1024;
    EXPECT_LE(device.now - before, missing * 1000000 / 44100 + SoundPacer::kFrameMicros + 1000);
    EXPECT_EQ(pacer.DroppedBlocks(), 1);
}

// Menu and debugger steps: the device is stopped, so a frame end neither waits nor queues.
TEST(SoundPacer, AStoppedDeviceIsNeverWaitedFor) {
    SimulatedDevice device(1024);
    device.consuming = false;
    SoundPacer pacer(device);
    const int16_t block[881] = {};
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 10; ++i) EXPECT_FALSE(pacer.WriteFrame(block, 881, true));
        EXPECT_EQ(device.now, 0);
        EXPECT_EQ(device.Queued(), 0);
        pacer.Start();
        pacer.Stop();
    }
}

}  // namespace
}  // namespace vexil

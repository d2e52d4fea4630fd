// The drive's noises: the player chain (a noise runs on into its follower, the running motor
// loops, the motor stop ends in silence), and our five recordings' lengths, levels and seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "sound/DriveSound.h"

namespace vexil {
namespace {

// Recordings of one value each, so that the output says which noise played: motor start 1
// (5 samples), running 2 (3), step 3 (2), seek 4 (4), motor stop 5 (3).
struct Marked {
    std::vector<int16_t> samples[kDriveNoises] = {
        {1, 1, 1, 1, 1}, {2, 2, 2}, {3, 3}, {4, 4, 4, 4}, {5, 5, 5}};
    DriveRecordingSet Set() {
        DriveRecordingSet set;
        for (int i = 0; i < kDriveNoises; ++i)
            set[size_t(i)] = {samples[i].data(), static_cast<uint32_t>(samples[i].size())};
        return set;
    }
};

// Play the noise (if any), then mix `count` samples.
struct Step {
    int noise;  // DriveNoise, or -1 for none
    int32_t count;
};

struct ChainCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<int32_t> expected;
    bool emptyLoop = false;  // the running motor's recording has no samples
};

class DriveChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(DriveChain, PlaysEachNoiseIntoItsFollower) {
    const ChainCase& c = GetParam();
    Marked marked;
    if (c.emptyLoop) marked.samples[int(DriveNoise::kMotorRunning)].clear();
    DriveSounds drive(marked.Set());
    std::vector<int32_t> out;
    for (const Step& step : c.steps) {
        if (step.noise >= 0) drive.Play(static_cast<DriveNoise>(step.noise));
        std::vector<int32_t> block(size_t(step.count), 100);  // the noises add to what is there
        drive.Mix(block.data(), step.count);
        for (int32_t v : block) out.push_back(v - 100);
    }
    EXPECT_EQ(out, c.expected);
}

constexpr int kStart = int(DriveNoise::kMotorStart), kStep = int(DriveNoise::kStep),
              kSeek = int(DriveNoise::kSeek), kStop = int(DriveNoise::kMotorStop),
              kRunning = int(DriveNoise::kMotorRunning);

INSTANTIATE_TEST_SUITE_P(
    Chains, DriveChain,
    ::testing::Values(
        ChainCase{"SilentUntilSomethingPlays", {{-1, 4}}, {0, 0, 0, 0}},
        ChainCase{"StartRunsIntoTheLoop", {{kStart, 12}}, {1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2}},
        ChainCase{"TheLoopGoesOnAcrossBlocks",
                  {{kStart, 4}, {-1, 3}, {-1, 5}},
                  {1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2}},
        ChainCase{"AStepCutsTheStartShort", {{kStart, 2}, {kStep, 5}}, {1, 1, 3, 3, 2, 2, 2}},
        ChainCase{"ASeekRunsIntoTheLoop", {{kSeek, 6}}, {4, 4, 4, 4, 2, 2}},
        ChainCase{"TheStopEndsInSilenceAfterTheLoop",
                  {{kStart, 8}, {kStop, 5}, {-1, 2}},
                  {1, 1, 1, 1, 1, 2, 2, 2, 5, 5, 5, 0, 0, 0, 0}},
        // A stop cut short by a new start plays whole the next time, not its remainder.
        ChainCase{"AnInterruptedStopStartsOverNextTime",
                  {{kStop, 2}, {kStart, 1}, {kStop, 4}},
                  {5, 5, 1, 5, 5, 5, 0}},
        ChainCase{"PlayingTheLoopDirectly", {{kRunning, 4}}, {2, 2, 2, 2}},
        // A loop with no samples stops the sound instead of spinning for ever.
        ChainCase{"AnEmptyLoopFallsSilent", {{kStart, 7}, {-1, 2}}, {1, 1, 1, 1, 1, 0, 0, 0, 0}, true},
        ChainCase{"AnEmptyLoopPlayedDirectly", {{kRunning, 3}}, {0, 0, 0}, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct RecordingCase {
    const char* name;
    DriveNoise noise;
    uint32_t length;
    int peak;
};

class DriveRecordingShape : public ::testing::TestWithParam<RecordingCase> {};

TEST_P(DriveRecordingShape, HasItsLengthAndPeakLevel) {
    const RecordingCase& c = GetParam();
    const DriveRecording& r = DriveRecordings()[size_t(c.noise)];
    ASSERT_EQ(r.length, c.length);
    int peak = 0;
    for (uint32_t i = 0; i < r.length; ++i) peak = std::max(peak, std::abs(int(r.samples[i])));
    EXPECT_NEAR(peak, c.peak, c.peak / 50);
}

INSTANTIATE_TEST_SUITE_P(Ours, DriveRecordingShape,
                         ::testing::Values(RecordingCase{"MotorStart", DriveNoise::kMotorStart, 17420, 31700},
                                           RecordingCase{"MotorRunning", DriveNoise::kMotorRunning, 43252,
                                                         1900},
                                           RecordingCase{"Step", DriveNoise::kStep, 2211, 13300},
                                           RecordingCase{"Seek", DriveNoise::kSeek, 13539, 17300},
                                           RecordingCase{"MotorStop", DriveNoise::kMotorStop, 13182, 2300}),
                         [](const auto& info) { return std::string(info.param.name); });

// The loop's last sample runs on into its first no more abruptly than its samples follow one
// another anywhere else; the noises that end in silence end near zero.
TEST(DriveRecordings, TheLoopHasNoSeamAndTheEndsFadeOut) {
    const DriveRecording& loop = DriveRecordings()[size_t(DriveNoise::kMotorRunning)];
    int largestStep = 0;
    for (uint32_t i = 1; i < loop.length; ++i)
        largestStep = std::max(largestStep, std::abs(loop.samples[i] - loop.samples[i - 1]));
    EXPECT_LE(std::abs(loop.samples[0] - loop.samples[loop.length - 1]), largestStep);
    for (DriveNoise n : {DriveNoise::kStep, DriveNoise::kSeek, DriveNoise::kMotorStop}) {
        const DriveRecording& r = DriveRecordings()[size_t(n)];
        EXPECT_LE(std::abs(r.samples[r.length - 1]), 16) << int(n);
    }
}

}  // namespace
}  // namespace vexil

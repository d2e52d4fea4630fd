// The frame's mix: the 1-2-1 low-pass filter's answer to steps and its memory across blocks,
// and the stretching of a block to another length. (Sources summed and clipped: FrameSoundTest.)
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "sound/SoundMix.h"

namespace vexil {
namespace {

struct StepCase {
    const char* name;
    std::vector<int32_t> input;
    std::vector<int32_t> expected;
};

class FilterStep : public ::testing::TestWithParam<StepCase> {};

// The filter starts from silence; its shift rounds towards minus infinity.
TEST_P(FilterStep, AnswersAStepFromSilence) {
    const StepCase& c = GetParam();
    SoundMix mix;
    int32_t* sums = mix.Begin(static_cast<int32_t>(c.input.size()));
    std::copy(c.input.begin(), c.input.end(), sums);
    mix.Finish(true);
    const std::vector<int32_t> out(mix.Output(), mix.Output() + mix.Count());
    EXPECT_EQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Steps, FilterStep,
                         ::testing::Values(StepCase{"Up", {1000, 1000, 1000, 1000}, {250, 750, 1000, 1000}},
                                           StepCase{"Down", {-1000, -1000, -1000}, {-250, -750, -1000}},
                                           StepCase{"Impulse", {0, 4000, 0, 0, 0}, {0, 1000, 2000, 1000, 0}},
                                           StepCase{"SmallPositive", {1, 1, 1}, {0, 0, 1}},
                                           StepCase{"SmallNegative", {-1, -1, -1}, {-1, -1, -1}},
                                           // The filter works on the sums; clipping comes after it.
                                           StepCase{"LoudSumsClippedAfterFiltering",
                                                    {60000, 60000, 60000},
                                                    {15000, 32767, 32767}}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SplitCase {
    const char* name;
    std::vector<int32_t> blocks;  // block lengths, repeated until the signal is used up
};

class FilterAcrossBlocks : public ::testing::TestWithParam<SplitCase> {};

// The first two samples of each block see the last two of the block before: cut anywhere, the
// signal comes out the same as in one piece.
TEST_P(FilterAcrossBlocks, GivesTheSameAsOneBlock) {
    std::mt19937 rng(23);
    std::vector<int32_t> signal(4000);
    for (int32_t& v : signal) v = static_cast<int32_t>(rng() % 80000) - 40000;
    std::vector<int32_t> whole = signal;
    LowPassFilter one;
    one.Apply(whole.data(), static_cast<int32_t>(whole.size()));

    std::vector<int32_t> pieces = signal;
    LowPassFilter split;
    size_t at = 0;
    for (size_t b = 0; at < pieces.size(); ++b) {
        const size_t length =
            std::min<size_t>(GetParam().blocks[b % GetParam().blocks.size()], pieces.size() - at);
        split.Apply(pieces.data() + at, static_cast<int32_t>(length));
        at += length;
    }
    EXPECT_EQ(pieces, whole);
}

INSTANTIATE_TEST_SUITE_P(Splits, FilterAcrossBlocks,
                         ::testing::Values(SplitCase{"OneSample", {1}}, SplitCase{"TwoSamples", {2}},
                                           SplitCase{"Frames", {881}},
                                           SplitCase{"DisplayPaced", {735, 0, 1024, 3, 1, 881}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SoundMix, AConstantComesThroughUnchangedFromTheSecondBlockOn) {
    SoundMix mix;
    for (int block = 0; block < 2; ++block) {
        int32_t* sums = mix.Begin(881);
        std::fill(sums, sums + 881, 5000);
        mix.Finish(true);
        const int16_t* out = mix.Output();
        EXPECT_EQ(out[0], block == 0 ? 1250 : 5000);
        EXPECT_EQ(out[1], block == 0 ? 3750 : 5000);
        EXPECT_TRUE(std::all_of(out + 2, out + 881, [](int16_t v) { return v == 5000; }));
    }
}

TEST(SoundMix, AStretchedBlockTakesTheNearestSamples) {
    SoundMix mix;
    int32_t* sums = mix.Begin(4);
    for (int i = 0; i < 4; ++i) sums[i] = 100 * (i + 1);
    mix.Finish(false);
    const int16_t* longer = mix.Stretched(8);
    EXPECT_EQ(std::vector<int16_t>(longer, longer + 8),
              (std::vector<int16_t>{100, 100, 200, 200, 300, 300, 400, 400}));
    const int16_t* shorter = mix.Stretched(2);
    EXPECT_EQ(std::vector<int16_t>(shorter, shorter + 2), (std::vector<int16_t>{100, 300}));
    EXPECT_EQ(mix.Stretched(4), mix.Output());
}

}  // namespace
}  // namespace vexil

// The YM2149: tone, noise and envelope generators against the data sheet, the volume steps,
// register widths, and the frame's write list heard at the right samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "sound/Ym2149.h"

namespace vexil {
namespace {

struct TimedWrite {
    uint32_t cycle;  // frame cycle
    unsigned reg;
    uint8_t value;
};

// A frame's write list as the register interface builds it.
std::vector<YmWrite> List(const std::vector<TimedWrite>& writes) {
    std::vector<YmWrite> list;
    uint32_t last = 0;
    for (const TimedWrite& w : writes) {
        list.push_back({w.cycle - last, w.reg, w.value});
        last = w.cycle;
    }
    list.push_back({ym::kEndOfList, 16, 0});
    return list;
}

std::vector<int32_t> Render(Ym2149& chip, const std::vector<TimedWrite>& writes, int32_t count = 881) {
    std::vector<int32_t> out(count);
    const std::vector<YmWrite> list = List(writes);
    chip.Render(list.data(), out.data(), count);
    return out;
}

// Frames of sound after one set of writes at the start.
std::vector<int32_t> Frames(Ym2149& chip, const std::vector<TimedWrite>& writes, int frames) {
    std::vector<int32_t> all = Render(chip, writes);
    for (int f = 1; f < frames; ++f) {
        const std::vector<int32_t> more = Render(chip, {});
        all.insert(all.end(), more.begin(), more.end());
    }
    return all;
}

// Rising crossings of the block's middle, interpolated: the mean frequency in Hz.
double Frequency(const std::vector<int32_t>& s) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < s.size(); ++i)
        if (s[i - 1] < 0 && s[i] >= 0) {
            const double at = static_cast<double>(i - 1) + static_cast<double>(-s[i - 1]) / (s[i] - s[i - 1]);
            if (first < 0) first = at;
            last = at, ++crossings;
        }
    return crossings < 2 ? 0.0 : (crossings - 1) * 44100.0 / (last - first);
}

bool Constant(const std::vector<int32_t>& s) {
    return std::all_of(s.begin(), s.end(), [&](int32_t v) { return v == s[0]; });
}

// ---- tone -----------------------------------------------------------------------------------

struct ToneCase {
    unsigned fine, coarse;
    double hertz;  // 2,005,312 Hz / (16 × period)
};

class Tone : public ::testing::TestWithParam<ToneCase> {};

TEST_P(Tone, ChannelAPlaysAtTheDataSheetsFrequency) {
    Ym2149 chip;
    const auto& c = GetParam();
    const auto sound =
        Frames(chip, {{0, 0, uint8_t(c.fine)}, {0, 1, uint8_t(c.coarse)}, {0, 7, 0xFE}, {0, 8, 15}}, 100);
    EXPECT_NEAR(Frequency(sound), c.hertz, 0.05 + c.hertz * 1e-5);
}

INSTANTIATE_TEST_SUITE_P(Periods, Tone,
                         ::testing::Values(ToneCase{6, 0, 20888.67}, ToneCase{0x1C, 0x01, 441.30},
                                           ToneCase{0xFF, 0x0F, 30.61},  // 4095, the longest
                                           ToneCase{0x1C, 0xF1, 441.30}  // coarse keeps 4 bits
                                           ));

// Periods 0-5 hold the channel high: volume writes alone are heard, at the volume levels.
TEST(Tone, ShortPeriodsHoldTheChannelHighSoVolumeWritesPlaySamples) {
    for (uint8_t period = 0; period < 6; ++period) {
        Ym2149 chip;
        std::vector<TimedWrite> writes = {{0, 0, period}, {0, 1, 0}, {0, 7, 0xFE}, {0, 8, 0}};
        for (uint32_t cycle = 8000; cycle < 160000; cycle += 16000) {
            writes.push_back({cycle, 8, 15});
            writes.push_back({cycle + 8000, 8, 0});
        }
        const auto sound = Render(chip, writes);
        std::set<int32_t> levels(sound.begin(), sound.end());
        EXPECT_EQ(levels.size(), 2u) << "period " << int(period);
        EXPECT_EQ(*levels.rbegin() - *levels.begin(), 21844 - 41) << "period " << int(period);
    }
}

// ---- noise ----------------------------------------------------------------------------------

TEST(Noise, TheShiftRegisterRunsThroughEveryNonZeroValueBeforeItRepeats) {
    uint32_t r = 1, steps = 0, ones = 0;
    do {
        r = Ym2149::NextNoise(r);
        ones += r & 1;
        ++steps;
        ASSERT_LT(r, 1u << 17);
    } while (r != 1 && steps < 200000);
    EXPECT_EQ(steps, 131071u);
    EXPECT_EQ(ones, 65536u);  // a maximal-length sequence: one more 1 than 0s
}

struct NoiseCase {
    uint8_t period;
    double meanRun;  // samples per run of equal output: two generator steps on average
};

class Noise : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(Noise, StepsAtTheDataSheetsRate) {
    Ym2149 chip;
    const auto sound = Frames(chip, {{0, 6, GetParam().period}, {0, 7, 0xF7}, {0, 8, 15}}, 50);
    int runs = 1;
    for (size_t i = 1; i < sound.size(); ++i) runs += sound[i] != sound[i - 1];
    const double mean = static_cast<double>(sound.size()) / runs;
    EXPECT_NEAR(mean, GetParam().meanRun, GetParam().meanRun * 0.1);
}

// Steps per second: 2,005,312 / (16 × N).
INSTANTIATE_TEST_SUITE_P(Periods, Noise,
                         ::testing::Values(NoiseCase{31, 2 * 44100.0 / 4043.0},
                                           NoiseCase{8, 2 * 44100.0 / 15666.5},
                                           NoiseCase{3 | 0xE0, 2 * 44100.0 / 41777.3}));  // 5 bits

TEST(Noise, PeriodsBelowThreeHoldTheNoiseHigh) {
    for (uint8_t period = 0; period < 3; ++period) {
        Ym2149 chip;
        EXPECT_TRUE(Constant(Frames(chip, {{0, 6, period}, {0, 7, 0xF7}, {0, 8, 15}}, 3)));
        // High: the same as the channel with noise switched off.
        Ym2149 plain;
        const auto a = Render(chip, {{40000, 8, 0}}),
                   b = Render(plain, {{0, 7, 0xFF}, {0, 8, 15}, {40000, 8, 0}});
        EXPECT_EQ(a, b) << "period " << int(period);
    }
}

// ---- envelope -------------------------------------------------------------------------------

// The data sheet's envelope shapes: the first half-turn, then the halves that follow for good.
// '\' falls 15 to 0, '/' rises 0 to 15, '_' holds 0, '^' holds 15.
struct ShapeCase {
    unsigned shape;
    char first;
    std::string after;
};

// Levels (0-15) of a block whose envelope reaches 0 somewhere: the lowest sample is level 0.
std::vector<int> Levels(const std::vector<int32_t>& block) {
    static const std::vector<int32_t> kLevels = [] {
        // The chip's own levels, read back from a block that holds them all.
        Ym2149 chip;
        std::vector<TimedWrite> writes = {{0, 7, 0xFF}};
        for (int v = 0; v < 16; ++v) writes.push_back({uint32_t(1000 + v * 8000), 8, uint8_t(v)});
        const auto s = Render(chip, writes);
        std::vector<int32_t> levels;
        for (int v = 0; v < 16; ++v) levels.push_back(s[10 + v * 44] - s[0]);
        return levels;
    }();
    const int32_t low = *std::min_element(block.begin(), block.end());
    std::vector<int> out;
    for (int32_t s : block) {
        const auto at = std::find(kLevels.begin(), kLevels.end(), s - low);
        out.push_back(at == kLevels.end() ? -1 : static_cast<int>(at - kLevels.begin()));
    }
    return out;
}

std::vector<int> Halves(char half) {
    std::vector<int> v(16);
    for (int k = 0; k < 16; ++k) v[k] = half == '\\' ? 15 - k : half == '/' ? k : half == '^' ? 15 : 0;
    return v;
}

std::vector<int> Deduplicated(const std::vector<int>& v) {
    std::vector<int> out;
    for (int x : v)
        if (out.empty() || out.back() != x) out.push_back(x);
    return out;
}

class EnvelopeShape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(EnvelopeShape, FollowsTheDataSheetOverSeveralPeriods) {
    const ShapeCase& c = GetParam();
    Ym2149 chip;
    // Period 36: a step lasts 576 chip clocks, about 12.7 samples; a frame holds 69 steps.
    const auto first =
        Render(chip, {{0, 7, 0xFF}, {0, 8, 0x10}, {0, 11, 36}, {0, 12, 0}, {0, 13, uint8_t(c.shape)}});
    std::vector<int> expected = Halves(c.first);
    for (int half = 0; half < 3; ++half) {
        const auto next = Halves(c.after[half % c.after.size()]);
        expected.insert(expected.end(), next.begin(), next.end());
    }
    const std::vector<int> seen = Deduplicated(Levels(first));
    expected = Deduplicated(expected);
    ASSERT_GE(seen.size(), expected.size());
    EXPECT_EQ(std::vector<int>(seen.begin(), seen.begin() + expected.size()), expected);
    // The following frames: a held level is silence; a repeating shape goes on as it began.
    for (int frame = 0; frame < 4; ++frame) {
        const auto block = Render(chip, {});
        if (c.after == "_" || c.after == "^") {
            EXPECT_TRUE(Constant(block));
            continue;
        }
        const std::vector<int> levels = Deduplicated(Levels(block));
        for (size_t i = 1; i < levels.size(); ++i) {
            const int from = levels[i - 1], to = levels[i];
            const bool ramp = std::abs(to - from) == 1;
            const bool wrap =
                (c.after == "\\" && from == 0 && to == 15) || (c.after == "/" && from == 15 && to == 0);
            EXPECT_TRUE(ramp || wrap) << "frame " << frame << ": " << from << " -> " << to;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, EnvelopeShape,
                         ::testing::Values(ShapeCase{0, '\\', "_"}, ShapeCase{1, '\\', "_"},
                                           ShapeCase{2, '\\', "_"}, ShapeCase{3, '\\', "_"},
                                           ShapeCase{4, '/', "_"}, ShapeCase{5, '/', "_"},
                                           ShapeCase{6, '/', "_"}, ShapeCase{7, '/', "_"},
                                           ShapeCase{8, '\\', "\\"}, ShapeCase{9, '\\', "_"},
                                           ShapeCase{10, '\\', "/\\"}, ShapeCase{11, '\\', "^"},
                                           ShapeCase{12, '/', "/"}, ShapeCase{13, '/', "^"},
                                           ShapeCase{14, '/', "\\/"}, ShapeCase{15, '/', "_"}),
                         [](const auto& info) { return "Shape" + std::to_string(info.param.shape); });

TEST(Envelope, WritingTheShapeAgainRestartsItsFirstRun) {
    Ym2149 chip;
    Frames(chip, {{0, 7, 0xFF}, {0, 8, 0x10}, {0, 11, 36}, {0, 12, 0}, {0, 13, 9}}, 3);  // fell and holds 0
    EXPECT_TRUE(Constant(Render(chip, {})));
    const auto again = Levels(Render(chip, {{0, 13, 9}}));
    EXPECT_EQ(again[0], 15);
    EXPECT_EQ(Deduplicated(again), Deduplicated(Halves('\\')));
}

// ---- volume ---------------------------------------------------------------------------------

TEST(Volume, StepsRiseByAboutThreeDecibelsAndThreeFullChannelsFitSixteenBits) {
    Ym2149 chip;
    std::vector<TimedWrite> writes = {{0, 7, 0xFF}, {0, 8, 0}, {0, 9, 0}, {0, 10, 0}};
    for (int v = 0; v < 16; ++v) writes.push_back({uint32_t(1000 + v * 8000), 8, uint8_t(v)});
    const auto s = Render(chip, writes);
    std::vector<double> level;
    for (int v = 0; v < 16; ++v) level.push_back(s[10 + v * 44] - s[0] + 41.0);  // level 0 is 41
    EXPECT_DOUBLE_EQ(level[15], 21844);                                          // two thirds of full scale
    for (int v = 1; v < 16; ++v) {
        const double db = 20 * std::log10(level[v] / level[v - 1]);
        EXPECT_GT(db, v == 1 ? 2.0 : 2.3) << "step " << v;
        EXPECT_LT(db, v == 1 ? 9.0 : 4.4) << "step " << v;
    }
    // Three channels at full volume span the whole 16-bit range.
    Ym2149 full;
    const auto all = Render(full, {{0, 7, 0xFF}, {80000, 8, 15}, {80000, 9, 15}, {80000, 10, 15}});
    EXPECT_EQ(all.back() - all.front(), 3 * (21844 - 41));
}

TEST(Volume, AConstantBlockIsSilence) {
    Ym2149 chip;
    const auto s = Render(chip, {{0, 7, 0xFF}, {0, 8, 15}, {0, 9, 7}});
    EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](int32_t v) { return v == 0; }));
}

// ---- registers and the write list -------------------------------------------------------------

struct WidthCase {
    unsigned reg;
    uint8_t readBack;  // after writing 0xFF
};

class RegisterWidth : public ::testing::TestWithParam<WidthCase> {};

TEST_P(RegisterWidth, KeepsOnlyTheBitsTheChipHas) {
    YmPorts ports;
    ports.WriteByte(0xFF8800, static_cast<uint8_t>(GetParam().reg), 0);
    ports.WriteByte(0xFF8802, 0xFF, 0);
    EXPECT_EQ(ports.ReadByte(0xFF8800), GetParam().readBack);
    EXPECT_EQ(ports.ReadByte(0xFF8802), GetParam().reg);       // the data port reads the latch
    EXPECT_EQ(ports.ReadByte(0xFF88F0), GetParam().readBack);  // the pattern repeats every 4 bytes
    Ym2149 chip;
    chip.WriteRegister(GetParam().reg, 0xFF);
    if (GetParam().reg < 14) {
        EXPECT_EQ(chip.Register(GetParam().reg), GetParam().readBack);
    }
}

INSTANTIATE_TEST_SUITE_P(Registers, RegisterWidth,
                         ::testing::Values(WidthCase{0, 0xFF}, WidthCase{1, 0x0F}, WidthCase{2, 0xFF},
                                           WidthCase{3, 0x0F}, WidthCase{4, 0xFF}, WidthCase{5, 0x0F},
                                           WidthCase{6, 0x1F}, WidthCase{7, 0xFF}, WidthCase{8, 0x1F},
                                           WidthCase{9, 0x1F}, WidthCase{10, 0x1F}, WidthCase{11, 0xFF},
                                           WidthCase{12, 0xFF}, WidthCase{13, 0x0F}, WidthCase{14, 0xFF},
                                           WidthCase{15, 0xFF}));

TEST(RegisterWidth, ALatchAboveFifteenReadsAllOnesAndDropsWrites) {
    YmPorts ports;
    ports.WriteByte(0xFF8800, 16, 0);
    ports.WriteByte(0xFF8802, 0x12, 0);
    EXPECT_EQ(ports.ReadByte(0xFF8800), 0xFF);
    EXPECT_EQ(ports.ListedWrites(), 0u);
}

struct TimingCase {
    uint32_t cycle;       // frame cycle of the write
    int32_t count;        // samples in the block
    int32_t firstSample;  // the first sample that hears it
};

class WriteTiming : public ::testing::TestWithParam<TimingCase> {};

// A channel held high jumps from volume 0 to 15 at the write's cycle; the block always spans
// the time of 881 samples, so a longer block hears the write at a proportionally later sample.
TEST_P(WriteTiming, AWriteIsHeardFromTheSampleOfItsCycle) {
    YmPorts ports;
    Ym2149 chip;
    for (auto [reg, value] : {std::pair{7, 0xFE}, {0, 0}, {1, 0}, {8, 0}}) {
        ports.WriteByte(0xFF8800, uint8_t(reg), 0);
        ports.WriteByte(0xFF8802, uint8_t(value), 0);
    }
    ports.WriteByte(0xFF8800, 8, GetParam().cycle);
    ports.WriteByte(0xFF8802, 15, GetParam().cycle);
    std::vector<int32_t> out(GetParam().count);
    chip.Render(ports.CloseList(), out.data(), GetParam().count);
    const auto jump = std::find_if(out.begin(), out.end(), [&](int32_t v) { return v != out[0]; });
    EXPECT_EQ(jump - out.begin(), GetParam().firstSample);
}

INSTANTIATE_TEST_SUITE_P(Cycles, WriteTiming,
                         ::testing::Values(TimingCase{182, 881, 1}, TimingCase{80000, 881, 439},
                                           TimingCase{160000, 881, 879}, TimingCase{80000, 1762, 879},
                                           TimingCase{80000, 441, 220}),
                         [](const auto& info) {
                             return "Cycle" + std::to_string(info.param.cycle) + "Of" +
                                    std::to_string(info.param.count) + "Samples";
                         });

TEST(WriteList, AFrameWithMoreWritesThanTheListHoldsEndsWithEveryRegisterAsWritten) {
    YmPorts ports;
    Ym2149 chip;
    ports.WriteByte(0xFF8800, 8, 0);
    for (uint32_t n = 0; n < ym::kListCapacity + 5000; ++n) ports.WriteByte(0xFF8802, uint8_t(n & 15), n * 7);
    ports.WriteByte(0xFF8800, 0, 150000);
    ports.WriteByte(0xFF8802, 0x42, 150000);
    EXPECT_EQ(ports.ListedWrites(), ym::kListCapacity);
    EXPECT_EQ(ports.Shadow(8), (ym::kListCapacity + 4999) & 15);
    EXPECT_EQ(ports.Shadow(0), 0x42);
    std::vector<int32_t> out(881);
    chip.Render(ports.CloseList(), out.data(), 881);
    EXPECT_EQ(chip.Register(8), (ym::kListCapacity + 4999) & 15);
    EXPECT_EQ(chip.Register(0), 0x42u);
    ports.StartFrame();
    EXPECT_EQ(ports.ListedWrites(), 0u);
}

// A write in the frame's last cycles falls after its last sample: it is heard from the next
// frame's first sample, not lost with the list.
TEST(WriteList, AWriteAfterTheLastSampleIsHeardInTheNextFrame) {
    Ym2149 chip;
    Render(chip, {{0, 7, 0xFE}, {0, 8, 0}});
    const std::vector<int32_t> last = Render(chip, {{160250, 8, 15}});
    EXPECT_EQ(chip.Register(8), 15u);
    EXPECT_TRUE(std::all_of(last.begin(), last.end(), [&](int32_t v) { return v == last[0]; }));
}

TEST(Reset, SilencesTheMixerAndVolumesAtTheEndOfTheNextBlock) {
    Ym2149 chip;
    Render(chip, {{0, 0, 0x1C}, {0, 1, 1}, {0, 7, 0xF8}, {0, 8, 15}, {0, 9, 15}});
    chip.RequestReset();
    EXPECT_FALSE(Constant(Render(chip, {})));  // the block asked for still sounds
    EXPECT_EQ(chip.Register(7), 127u);
    EXPECT_EQ(chip.Register(8), 0u);
    EXPECT_TRUE(Constant(Render(chip, {})));
    EXPECT_EQ(chip.Register(0), 0x1Cu);  // periods are kept
}

}  // namespace
}  // namespace vexil

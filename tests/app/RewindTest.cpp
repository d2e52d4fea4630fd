// The rewind history: snapshots come back byte for byte however they differ, the oldest go
// when the count or the byte budget is reached, and a step back past the oldest stops there.
#include <gtest/gtest.h>

#include <random>

#include "app/Rewind.h"

namespace vexil {
namespace {

// Snapshot i of a run whose "RAM" changes in scattered bytes, in blocks and, every fifth, wholly.
std::vector<std::vector<uint8_t>> Snapshots(size_t count, size_t size) {
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> states;
    std::vector<uint8_t> state(size, 0);
    for (size_t i = 0; i < count; ++i) {
        for (int k = 0; k < 50; ++k) state[random() % size] = static_cast<uint8_t>(random());
        const size_t block = random() % (size - 100);
        for (size_t k = 0; k < 100; ++k) state[block + k] ^= 0x5A;
        if (i % 5 == 4)
            for (uint8_t& b : state) b = static_cast<uint8_t>(random());
        states.push_back(state);
    }
    return states;
}

struct BackCase {
    size_t pushed, steps, expected;  // snapshot index handed back
};

class RewindBack : public ::testing::TestWithParam<BackCase> {};

TEST_P(RewindBack, HandsBackTheSnapshotThatManyBefore) {
    const BackCase& c = GetParam();
    const auto states = Snapshots(c.pushed, 4096);
    Rewind rewind;
    for (const auto& s : states) rewind.Push(s);
    std::vector<uint8_t> out;
    ASSERT_TRUE(rewind.Back(c.steps, out));
    EXPECT_EQ(out, states[c.expected]);
    EXPECT_EQ(rewind.Count(),
              c.expected + 1 - (c.pushed > Rewind::kSnapshots ? c.pushed - Rewind::kSnapshots : 0));
}

INSTANTIATE_TEST_SUITE_P(Steps, RewindBack,
                         ::testing::Values(BackCase{2, 1, 0}, BackCase{10, 5, 4}, BackCase{10, 9, 0},
                                           BackCase{10, 50, 0},  // stops at the oldest
                                           BackCase{Rewind::kSnapshots + 30, 500, 30}));  // two minutes kept

TEST(Rewind, StepsBackTwiceInARowAndGoesOnFromThere) {
    const auto states = Snapshots(20, 1000);
    Rewind rewind;
    for (size_t i = 0; i < 15; ++i) rewind.Push(states[i]);
    std::vector<uint8_t> out;
    ASSERT_TRUE(rewind.Back(5, out));
    EXPECT_EQ(out, states[9]);
    ASSERT_TRUE(rewind.Back(5, out));
    EXPECT_EQ(out, states[4]);
    rewind.Push(states[17]);
    ASSERT_TRUE(rewind.Back(1, out));
    EXPECT_EQ(out, states[4]);
}

TEST(Rewind, NothingBeforeTheNewestAndAResizedMachineStartAfresh) {
    Rewind rewind;
    std::vector<uint8_t> out;
    EXPECT_FALSE(rewind.Back(5, out));
    rewind.Push(std::vector<uint8_t>(100, 1));
    EXPECT_FALSE(rewind.Back(5, out));
    rewind.Push(std::vector<uint8_t>(100, 2));
    rewind.Push(std::vector<uint8_t>(200, 3));  // another machine
    EXPECT_EQ(rewind.Count(), 1u);
    EXPECT_FALSE(rewind.Back(1, out));
}

TEST(Rewind, StaysWithinItsBudget) {
    Rewind rewind;
    std::mt19937 random(3);
    std::vector<uint8_t> state(4u << 20);
    for (int i = 0; i < 40; ++i) {
        for (size_t k = 0; k < state.size(); k += 4) state[k] = static_cast<uint8_t>(random());
        rewind.Push(state);
        EXPECT_LE(rewind.Bytes(), Rewind::kBudget);
    }
    EXPECT_GT(rewind.Count(), 2u);
}

}  // namespace
}  // namespace vexil

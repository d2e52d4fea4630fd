#include <gtest/gtest.h>

#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "support/Asm.h"

namespace vexil {
namespace {

constexpr int kWidth = 800, kHeight = 600;
constexpr uint16_t kBlack = 0x0000, kGreen = 0x0700;  // 0x0070 on the machine

class VideoMachineTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = test::LoadAsm("colour-split");
        machine_ = std::make_unique<Machine>();
        machine_->LoadBytes(program_.origin, program_.bytes.data(), program_.bytes.size());
        machine_->PokeLong(0, 0x8000);
        machine_->PokeLong(4, program_.origin);
        ASSERT_EQ(machine_->Reset(false), 0);
        machine_->RenderInto(picture_.data(), kWidth * 2);
    }
    // The frame cycle of the green write in the log of the frame just run.
    Cycles GreenWrite() {
        const Shifter& shifter = machine_->GetShifter();
        Cycles at = 0;
        for (int32_t i = 0; i < shifter.LogLength(); ++i) {
            at += shifter.Log()[i].delta;
            if (shifter.Log()[i].code == 0 && shifter.Log()[i].value == 0x0070) return at;
        }
        return -1;
    }

    test::AsmProgram program_;
    std::unique_ptr<Machine> machine_;
    std::vector<uint16_t> picture_ = std::vector<uint16_t>(kWidth * kHeight, 0x1234);
};

// The write lands on the same line and cycle every frame; the picture turns green from that
// line's host rows at the column of that cycle (two host pixels per cycle from cycle 56, two
// host rows per line from line 21).
TEST_F(VideoMachineTest, ColourChangeShowsAtItsRowAndColumn) {
    ASSERT_EQ(machine_->RunFrames(2), kRunBudgetSpent);
    // The log is emptied at the frame end; run the third frame up to its end by hand.
    FrameScheduler& scheduler = machine_->Scheduler();
    Cycles write = -1;
    for (;;) {
        const int32_t budget = scheduler.ServiceEvents();
        if (budget < 0) break;
        if (budget > 0) {
            ASSERT_EQ(CpuRun(budget), kRunBudgetSpent);
        }
        if (g_cpu.clock >= kCyclesPerFrame && write < 0) write = GreenWrite();
    }
    ASSERT_GT(write, 0);
    const int line = write / 512, cycle = write % 512;
    EXPECT_EQ(line, 35);
    EXPECT_EQ(cycle, 272);
    ASSERT_GE(cycle, 56);
    ASSERT_LT(cycle, 456);
    const int row = 2 * (line - 21), column = 2 * (cycle - 56);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool green = y > row + 1 || (y >= row && x >= column);
            ASSERT_EQ(picture_[y * kWidth + x], green ? kGreen : kBlack) << "row " << y << " column " << x;
        }
    }
}

// On an ST a colour keeps three bits per channel: 0x0888 reaches the renderer as black.
TEST_F(VideoMachineTest, StPaletteDropsTheFourthBit) {
    Shifter& shifter = machine_->GetShifter();
    shifter.WriteWord(0xFF8240, 0x0888, 100);
    EXPECT_EQ(shifter.ReadWord(0xFF8240, 104), 0x0000);
    ASSERT_EQ(shifter.LogLength(), 1);
    EXPECT_EQ(shifter.Log()[0].value, 0u);
}

// Interlace: the renderer writes one host line of each pair, every other frame one lower.
TEST_F(VideoMachineTest, InterlaceFillsTheOtherLinesOnTheNextFrame) {
    VideoSettings video;
    video.g_softwareMode = 2;
    machine_->SetVideoSettings(video);
    ASSERT_EQ(machine_->RunFrames(1), kRunBudgetSpent);
    EXPECT_NE(picture_[0], 0x1234);
    EXPECT_EQ(picture_[kWidth], 0x1234);
    ASSERT_EQ(machine_->RunFrames(1), kRunBudgetSpent);
    EXPECT_NE(picture_[kWidth], 0x1234);
    EXPECT_NE(picture_[(kHeight - 1) * kWidth], 0x1234);
}

}  // namespace
}  // namespace vexil

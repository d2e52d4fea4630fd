// The STE's DMA sound: samples per frame at each rate, frames that loop and stop, the counter
// read mid-frame, the microwire and its volumes, the end-of-frame signals on MFP timer A and
// GPIP 7, save states while it plays, and an ST that has none of it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "sound/DmaSound.h"
#include "support/Asm.h"

namespace vexil {
namespace {

// The chip in an STE with 512 KB, driven through its register routines at chosen cycles,
// between runs.
class DmaSoundTest : public ::testing::Test {
protected:
    void Write(unsigned offset, uint32_t value, Cycles t) {
        dma.WriteByte(offset, static_cast<uint8_t>(value), t);
    }
    void SetFrame(uint32_t start, uint32_t end, Cycles t) {
        for (unsigned i = 0; i < 3; ++i) {
            Write(0x03 + 2 * i, start >> (16 - 8 * i), t);
            Write(0x0F + 2 * i, end >> (16 - 8 * i), t);
        }
    }
    uint32_t Counter(Cycles t) {
        return uint32_t{dma.ReadByte(0x09, t)} << 16 | uint32_t{dma.ReadByte(0x0B, t)} << 8 |
               dma.ReadByte(0x0D, t);
    }
    // Repeats `pattern` over `length` bytes of RAM from `address`.
    void Fill(uint32_t address, uint32_t length, std::vector<uint8_t> pattern) {
        for (uint32_t i = 0; i < length; ++i) machine.LoadBytes(address + i, &pattern[i % pattern.size()], 1);
    }
    // Ends the frame and starts the next; the frame's samples.
    std::vector<int32_t> NextFrame() {
        dma.EndFrame();
        std::vector<int32_t> samples(dma.FrameSamples(), dma.FrameSamples() + dma.FrameSampleCount());
        dma.StartFrame();
        return samples;
    }

    Machine machine{{1, 0}};
    DmaSound& dma = machine.GetDmaSound();
};

// ---- rates ----------------------------------------------------------------------------------

struct RateRow {
    uint8_t mode;        // bit 7 mono, bits 0-1 rate
    int32_t perFrame;    // samples in a frame: this or one more (6258, 12517, 25033, 50066 Hz)
    int32_t fourFrames;  // sample times in the first four frames
};

class DmaSoundRate : public DmaSoundTest, public ::testing::WithParamInterface<RateRow> {};

TEST_P(DmaSoundRate, GivesItsSamplesPerFrame) {
    const RateRow row = GetParam();
    const bool mono = (row.mode & 0x80) != 0;
    Fill(0x10000, 0x10000, {64, 0xE0});  // left +64, right -32
    Write(0x21, row.mode, 0);
    SetFrame(0x10000, 0x30000, 0);
    Write(0x01, 3, 0);
    int32_t total = 0;
    for (int frame = 0; frame < 4; ++frame) {
        const std::vector<int32_t> samples = NextFrame();
        EXPECT_GE(static_cast<int32_t>(samples.size()), row.perFrame);
        EXPECT_LE(static_cast<int32_t>(samples.size()), row.perFrame + 1);
        total += static_cast<int32_t>(samples.size());
        if (frame > 0) continue;
        // 0 dB: a channel's full scale is half the 16-bit range; a mono sample goes to both.
        for (size_t i = 0; i < 4; ++i) {
            const int32_t expected = mono ? (i % 2 == 0 ? 64 * 256 : -32 * 256) : (64 - 32) * 128;
            EXPECT_EQ(samples[i], expected) << "sample " << i;
        }
    }
    EXPECT_EQ(total, row.fourFrames);
    EXPECT_EQ(dma.Address(), 0x10000u + static_cast<uint32_t>(total * (mono ? 1 : 2)));
}

INSTANTIATE_TEST_SUITE_P(Modes, DmaSoundRate,
                         ::testing::Values(RateRow{0x00, 125, 500}, RateRow{0x01, 250, 1001},
                                           RateRow{0x02, 500, 2003}, RateRow{0x03, 1001, 4006},
                                           RateRow{0x80, 125, 500}, RateRow{0x81, 250, 1001},
                                           RateRow{0x82, 500, 2003}, RateRow{0x83, 1001, 4006}));

// ---- frames ---------------------------------------------------------------------------------

struct EndRow {
    const char* name;
    uint8_t control;
    uint32_t counterAfterEnd;
    uint8_t controlAfterEnd;
};

class DmaSoundFrameEnd : public DmaSoundTest, public ::testing::WithParamInterface<EndRow> {};

// 32 stereo samples at 50 kHz: the frame ends with the sample at cycle 5120. The next frame,
// written while this one plays, is taken up at the loop; rewriting the control register while
// playing does not restart the frame.
TEST_P(DmaSoundFrameEnd, LoopsToTheLatchedStartOrStops) {
    const EndRow row = GetParam();
    Write(0x21, 3, 0);
    SetFrame(0x20000, 0x20040, 0);
    Write(0x01, row.control, 0);
    EXPECT_EQ(Counter(0), 0x20000u);
    EXPECT_FALSE(machine.GetMfp().InputLine(mfp::kGpipMonochrome)) << "colour monitor XOR playing";
    SetFrame(0x30000, 0x30040, 1000);
    Write(0x01, row.control, 2000);
    EXPECT_EQ(Counter(5119), 0x2003Eu);
    EXPECT_EQ(Counter(5120), row.counterAfterEnd);
    EXPECT_EQ(dma.ReadByte(0x01, 5120), row.controlAfterEnd);
    EXPECT_EQ(machine.GetMfp().InputLine(mfp::kGpipMonochrome), row.controlAfterEnd == 0);
    if (row.controlAfterEnd) {
        EXPECT_EQ(Counter(10240), 0x30000u);
    }
}

INSTANTIATE_TEST_SUITE_P(Controls, DmaSoundFrameEnd,
                         ::testing::Values(EndRow{"loop", 3, 0x30000, 3}, EndRow{"once", 1, 0x20000, 0}),
                         [](const auto& info) { return info.param.name; });

TEST_F(DmaSoundTest, TheCounterReadsExactToTheCycle) {
    // Stereo at 25 kHz: a sample every 320 cycles from cycle 320 on.
    Write(0x21, 2, 0);
    SetFrame(0x40000, 0x60000, 0);
    Write(0x01, 1, 0);
    const struct {
        Cycles time;
        uint32_t counter;
    } reads[] = {{0, 0x40000},   {319, 0x40000},    {320, 0x40002},   {639, 0x40002},
                 {640, 0x40004}, {100000, 0x40270}, {160255, 0x403E8}};
    for (const auto& read : reads) EXPECT_EQ(Counter(read.time), read.counter) << "cycle " << read.time;
    EXPECT_EQ(dma.ReadWord(0x0C, 160255), 0x00E8);
}

// The address has 22 bits: a frame from the top of the area runs on from address 0, and what
// lies beyond RAM (512 KB here) plays as silence.
TEST_F(DmaSoundTest, TheAddressWrapsAndMemoryBeyondRamIsSilent) {
    Fill(0x8, 0x18, {0x40});
    Write(0x21, 3, 0);
    SetFrame(0x3FFFF0, 0x000020, 0);
    Write(0x01, 1, 0);
    EXPECT_EQ(Counter(8 * 160), 0x000000u);
    EXPECT_EQ(Counter(12 * 160), 0x000008u);
    const std::vector<int32_t> samples = NextFrame();
    ASSERT_GE(samples.size(), 25u);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(samples[i], 0) << "sample " << i;
    for (size_t i = 12; i < 24; ++i) EXPECT_EQ(samples[i], 0x40 * 256) << "sample " << i;
    EXPECT_EQ(samples[24], 0) << "stopped at the end";
    EXPECT_FALSE(dma.Playing());
}

// ---- microwire ------------------------------------------------------------------------------

struct VolumeRow {
    const char* name;
    std::vector<std::pair<uint16_t, uint16_t>> commands;  // {mask, data}
    bool mono;
    double leftDb, rightDb;  // the attenuation the LMC1992's data sheet gives for them
};

class DmaSoundVolume : public DmaSoundTest, public ::testing::WithParamInterface<VolumeRow> {};

TEST_P(DmaSoundVolume, MicrowireCommandsSetTheLmc1992) {
    const VolumeRow& row = GetParam();
    Cycles t = 0;
    for (const auto& [mask, data] : row.commands) {
        dma.WriteWord(0x24, mask, t);
        dma.WriteWord(0x22, data, t + 8);
        t += 200;
    }
    Fill(0x10000, 0x1000, {100, 50});
    Write(0x21, row.mono ? 0x83 : 0x03, t);
    SetFrame(0x10000, 0x11000, t);
    Write(0x01, 1, t);
    const std::vector<int32_t> samples = NextFrame();
    ASSERT_GT(samples.size(), 100u);
    const double left = 128 * std::pow(10.0, row.leftDb / 20), right = 128 * std::pow(10.0, row.rightDb / 20);
    const double expected = row.mono ? 100 * (left + right) : 100 * left + 50 * right;
    EXPECT_NEAR(samples[100], expected, expected * 0.01 + 2);  // mono: the byte at an even address
}

using Commands = std::vector<std::pair<uint16_t, uint16_t>>;
INSTANTIATE_TEST_SUITE_P(
    Commands, DmaSoundVolume,
    ::testing::Values(
        //        name               {mask, data}...                               mono   left   right
        VolumeRow{"none", {}, false, 0, 0},
        VolumeRow{"left_minus_6", Commands{{0x07FF, 0x540 | 17}}, false, -6, 0},
        VolumeRow{"right_minus_20", Commands{{0x07FF, 0x500 | 10}}, false, 0, -20},
        VolumeRow{"left_minus_40", Commands{{0x07FF, 0x540 | 0}}, false, -40, 0},
        VolumeRow{"left_above_0_db", Commands{{0x07FF, 0x540 | 25}}, false, 0, 0},
        VolumeRow{"master_minus_20", Commands{{0x07FF, 0x4C0 | 30}}, false, -20, -20},
        VolumeRow{"master_and_left", Commands{{0x07FF, 0x4C0 | 37}, {0x07FF, 0x540 | 15}}, false, -16, -6},
        VolumeRow{"mono_left_minus_6", Commands{{0x07FF, 0x540 | 17}}, true, -6, 0},
        VolumeRow{"shifted_as_emutos", Commands{{0x0FFE, (0x540 | 17) << 1 | 1}}, false, -6, 0},
        VolumeRow{"mask_at_the_top", Commands{{0xFFE0, (0x500 | 10) << 5}}, false, 0, -20},
        VolumeRow{"other_address", Commands{{0x07FF, 0x140 | 5}}, false, 0, 0},
        VolumeRow{"ten_bits_only", Commands{{0x03FF, 0x540 | 0}}, false, 0, 0}),
    [](const auto& info) { return info.param.name; });

// While the 16 bits go out, the data register shifts and the mask rotates; then the data
// register reads 0 (EmuTOS waits for that) and the mask as written (Atari's examples wait for
// that).
TEST_F(DmaSoundTest, MicrowireRegistersTurnWhileTheBitsGoOut) {
    dma.WriteWord(0x24, 0x07FF, 0);
    dma.WriteWord(0x22, 0x04E8, 100);
    for (int bits = 0; bits <= 18; ++bits) {
        const Cycles t = 100 + 8 * bits;
        const int sent = std::min(bits, 16);
        EXPECT_EQ(dma.ReadWord(0x24, t), static_cast<uint16_t>(0x07FF << sent | 0x07FF >> (16 - sent)))
            << bits;
        EXPECT_EQ(dma.ReadWord(0x22, t), static_cast<uint16_t>(sent == 16 ? 0 : 0x04E8 << sent)) << bits;
    }
    NextFrame();
    EXPECT_EQ(dma.ReadWord(0x22, 0), 0);
    EXPECT_EQ(dma.ReadWord(0x24, 0), 0x07FF);
}

// ---- the page on each machine, through the CPU ------------------------------------------------

struct PageRow {
    uint32_t machine;  // 0 ST, 1 STE
    const char* label;
    uint32_t address;
    bool faults;
};

class DmaSoundPage : public ::testing::TestWithParam<PageRow> {};

TEST_P(DmaSoundPage, AnswersOnAnSteUpToOffset0x3F) {
    const PageRow row = GetParam();
    const test::AsmProgram program = test::LoadAsm("io-access");
    Machine machine{{row.machine, 0}};
    machine.LoadBytes(program.origin, program.bytes.data(), program.bytes.size());
    machine.PokeLong(8, program.Symbol("bus_error"));
    g_cpu.sr = 0x2700;
    g_cpu.a[7] = 0x8000;
    g_cpu.a[0] = row.address;
    g_cpu.d[1] = 0x12345678;
    g_cpu.pc = program.Symbol(row.label);
    CpuRun(4);
    if (row.faults) {
        EXPECT_EQ(g_cpu.pc, program.Symbol("bus_error"));
        EXPECT_EQ(machine.PeekLong(g_cpu.a[7] + 2), row.address);
    } else {
        EXPECT_NE(g_cpu.pc, program.Symbol("bus_error"));
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, DmaSoundPage,
                         ::testing::Values(
                             //     machine  instruction   address   faults
                             PageRow{0, "read_word", 0xFF8900, true},    // an ST has no DMA sound
                             PageRow{0, "write_byte", 0xFF8901, true},   //
                             PageRow{0, "read_word", 0xFF8922, true},    //
                             PageRow{1, "read_word", 0xFF8900, false},   // an STE's registers
                             PageRow{1, "write_byte", 0xFF8921, false},  //
                             PageRow{1, "read_word", 0xFF893E, false},   // nothing there: all ones
                             PageRow{1, "read_word", 0xFF8940, true},    // a later machine's sound
                             PageRow{1, "write_byte", 0xFF8943, true},   //
                             PageRow{1, "read_word", 0xFF89FE, true}));

// ---- whole-machine programs -----------------------------------------------------------------

class SoundProgram {
public:
    SoundProgram(const char* entry, const MachineSettings& settings = {1, 0})
        : machine_(std::make_unique<Machine>(settings)), program_(test::LoadAsm("dma-sound")) {
        machine_->LoadBytes(program_.origin, program_.bytes.data(), program_.bytes.size());
        for (uint32_t vector = 2; vector < 256; ++vector)
            machine_->PokeLong(vector * 4, program_.Symbol("unexpected"));
        machine_->PokeLong(0x70, program_.Symbol("vbl"));
        machine_->PokeLong(0, 0x8000);
        machine_->PokeLong(4, program_.Symbol(entry));
        EXPECT_EQ(machine_->Reset(false), 0);
    }
    void Run(int frames) {
        ASSERT_EQ(machine_->RunFrames(frames), kRunBudgetSpent);
        ASSERT_EQ(Long("fault"), 0u) << "an exception nobody expected";
    }
    uint32_t Long(const char* name, uint32_t offset = 0) const {
        return machine_->PeekLong(program_.Symbol(name) + offset);
    }
    uint8_t Byte(const char* name, uint32_t offset = 0) const {
        return machine_->PeekByte(program_.Symbol(name) + offset);
    }
    Machine& machine() { return *machine_; }

private:
    std::unique_ptr<Machine> machine_;
    test::AsmProgram program_;
};

// Each loop of a frame ends with timer A's count and a GPIP 7 edge at the sequencer's cycle,
// so the counter the handler reads is back at the start; GPIP 7 reads the colour monitor's
// detect line XOR the active line.
TEST(DmaSoundProgram, FrameEndsClockTimerAAndGpip7) {
    SoundProgram p("frame_ends");
    p.Run(2);
    ASSERT_EQ(p.Long("finished"), 1u);
    EXPECT_EQ(p.Long("a_count"), 8u);
    EXPECT_EQ(p.Long("gpip7_count"), 9u) << "the start and each loop";
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_GE(p.Long("counters", 4 * i), 0x20000u) << i;
        EXPECT_LE(p.Long("counters", 4 * i), 0x20004u) << i;
    }
    EXPECT_EQ(p.Byte("gpip_playing") & 0x80, 0x00);
    EXPECT_EQ(p.Byte("gpip_stopped") & 0x80, 0x80);
}

// A run saved while the sound plays and taken up again is the run that never stopped.
TEST(DmaSoundProgram, ASaveStateTakesThePlayingSoundAlong) {
    std::vector<uint8_t> whole, half;
    {
        SoundProgram p("play_forever");
        p.Run(12);
        whole = p.machine().SaveState();
    }
    {
        SoundProgram p("play_forever");
        p.Run(5);
        half = p.machine().SaveState();
    }
    SoundProgram p("spin");
    std::string error;
    ASSERT_TRUE(p.machine().LoadState(half, error)) << error;
    p.Run(7);
    EXPECT_TRUE(p.machine().SaveState() == whole);
}

// The frame's samples are stretched over the mix: a constant stereo pair is a constant level.
TEST(DmaSoundProgram, SamplesReachTheMix) {
    MachineSettings settings{1, 0};
    settings.YMSound = false;
    SoundProgram p("spin", settings);
    p.machine().LoadBytes(0x20000, std::vector<uint8_t>(0x1000, 0x20).data(), 0x1000);
    DmaSound& dma = p.machine().GetDmaSound();
    for (auto [offset, value] : {std::pair{0x03, 0x02},
                                 {0x05, 0x00},
                                 {0x07, 0x00},
                                 {0x0F, 0x02},
                                 {0x11, 0x10},
                                 {0x13, 0x00},
                                 {0x21, 0x01},
                                 {0x01, 0x03}})
        dma.WriteByte(offset, static_cast<uint8_t>(value), 0);
    p.Run(2);
    ASSERT_EQ(p.machine().SoundSamples(), 881);
    for (int i = 0; i < 881; ++i) ASSERT_EQ(p.machine().Sound()[i], 0x20 * 256) << "sample " << i;
}

}  // namespace
}  // namespace vexil

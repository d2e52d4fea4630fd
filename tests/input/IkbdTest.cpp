// The keyboard processor's protocol: replies byte for byte, parameters taken whole, mouse and
// joystick packets, the queue.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/SaveState.h"
#include "input/Ikbd.h"

namespace vexil {
namespace {

using Bytes = std::vector<uint8_t>;

class IkbdTest : public ::testing::Test {
protected:
    IkbdTest() { k.PowerOn(); }
    void Send(const Bytes& bytes) {
        for (uint8_t b : bytes) k.Write(b);
    }
    // Ticks until the queue is empty (or `limit` ticks), returning what left it.
    Bytes Drain(int limit = 4096) {
        Bytes out;
        for (int i = 0; i < limit; ++i) {
            const int byte = k.Tick();
            if (byte >= 0) out.push_back(static_cast<uint8_t>(byte));
            if (k.QueuedBytes() == 0 && byte < 0) break;
        }
        return out;
    }
    Ikbd k;
};

struct ReplyRow {
    const char* what;
    Bytes commands;
    Bytes reply;
};

class IkbdReplies : public IkbdTest, public ::testing::WithParamInterface<ReplyRow> {};

TEST_P(IkbdReplies, ByteForByte) {
    k.SetClock(SecondsOf({2002, 6, 15, 12, 34, 56}));
    Send(GetParam().commands);
    EXPECT_EQ(Drain(), GetParam().reply) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, IkbdReplies,
    ::testing::Values(
        ReplyRow{"reset", {0x80, 0x01}, {0xF0}}, ReplyRow{"0x80 without 0x01 is no reset", {0x80, 0x02}, {}},
        ReplyRow{"clock in BCD", {0x1C}, {0xFC, 0x02, 0x06, 0x15, 0x12, 0x34, 0x56}},
        ReplyRow{"clock set, then read",
                 {0x1B, 0x99, 0x12, 0x31, 0x23, 0x59, 0x09, 0x1C},
                 {0xFC, 0x99, 0x12, 0x31, 0x23, 0x59, 0x09}},
        // Digits that are not BCD leave their field alone.
        ReplyRow{"clock set with don't-care fields",
                 {0x1B, 0xFF, 0xFF, 0xFF, 0x08, 0xFF, 0xFF, 0x1C},
                 {0xFC, 0x02, 0x06, 0x15, 0x08, 0x34, 0x56}},
        ReplyRow{"position report",
                 {0x09, 0x01, 0x3F, 0x00, 0xC7, 0x0E, 0x00, 0x00, 0x20, 0x00, 0x10, 0x0D},
                 {0xF7, 0x00, 0x00, 0x20, 0x00, 0x10}},
        ReplyRow{"position clamped to the maxima",
                 {0x09, 0x00, 0x10, 0x00, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x01, 0x00, 0x0D},
                 {0xF7, 0x00, 0x00, 0x10, 0x00, 0x08}},
        ReplyRow{"joystick interrogation", {0x15, 0x16}, {0xFD, 0x00, 0x00}},
        ReplyRow{"mouse mode inquiry, relative", {0x88}, {0xF6, 0x08, 0, 0, 0, 0, 0, 0}},
        ReplyRow{"mouse mode inquiry, absolute",
                 {0x09, 0x02, 0x7F, 0x01, 0x8F, 0x89},
                 {0xF6, 0x09, 0x02, 0x7F, 0x01, 0x8F, 0, 0}},
        ReplyRow{
            "mouse mode inquiry, keycode", {0x0A, 0x03, 0x04, 0x8A}, {0xF6, 0x0A, 0x03, 0x04, 0, 0, 0, 0}},
        ReplyRow{"threshold inquiry", {0x0B, 0x05, 0x06, 0x8B}, {0xF6, 0x0B, 0x05, 0x06, 0, 0, 0, 0}},
        ReplyRow{"scale inquiry", {0x0C, 0x02, 0x03, 0x8C}, {0xF6, 0x0C, 0x02, 0x03, 0, 0, 0, 0}},
        ReplyRow{"button action inquiry", {0x07, 0x04, 0x87}, {0xF6, 0x07, 0x04, 0, 0, 0, 0, 0}},
        ReplyRow{"origin inquiry", {0x0F, 0x8F}, {0xF6, 0x0F, 0, 0, 0, 0, 0, 0}},
        ReplyRow{"mouse enable inquiry", {0x12, 0x92}, {0xF6, 0x12, 0, 0, 0, 0, 0, 0}},
        ReplyRow{"joystick mode inquiry", {0x15, 0x94}, {0xF6, 0x15, 0, 0, 0, 0, 0, 0}},
        ReplyRow{"joystick enable inquiry", {0x1A, 0x9A}, {0xF6, 0x1A, 0, 0, 0, 0, 0, 0}},
        // Parameters of commands that are not emulated are still taken as parameters.
        ReplyRow{"memory load takes 3 + n bytes",
                 {0x20, 0x00, 0x80, 0x03, 0x1C, 0x80, 0x01, 0x88},
                 {0xF6, 0x08, 0, 0, 0, 0, 0, 0}},
        ReplyRow{"memory read: its status packet, execute takes 2",
                 {0x21, 0x1C, 0x1C, 0x22, 0x80, 0x01},
                 {0xF6, 0x20, 0, 0, 0, 0, 0, 0}},
        ReplyRow{"memory read of the processor's RAM", {0x21, 0x00, 0x80}, {0xF6, 0x20, 0, 0, 0, 0, 0, 0}},
        ReplyRow{"joystick keycode mode takes 6", {0x19, 0x16, 0x16, 0x16, 0x16, 0x16, 0x16}, {}},
        ReplyRow{"joystick monitoring takes 1", {0x17, 0x1C}, {}}));

TEST_F(IkbdTest, ClockSetParametersAreNotCommands) {
    // 0x12 (mouse off), 0x09 (absolute) and 0x03 among the clock's digits change nothing.
    Send({0x1B, 0x12, 0x09, 0x03, 0x12, 0x09, 0x03});
    EXPECT_TRUE(k.MouseEnabled());
    k.input.mouseDx = 4;
    EXPECT_EQ(Drain(), (Bytes{0xF8, 0x04, 0x00}));
}

TEST_F(IkbdTest, ResetRestoresRelativeMouseWithDefaultLimits) {
    Send({0x12, 0x09, 0x00, 0x10, 0x00, 0x10, 0x80, 0x01});
    EXPECT_EQ(Drain(), Bytes{0xF0});
    EXPECT_TRUE(k.MouseEnabled());
    k.input.mouseDx = 1000;
    k.input.mouseDy = 1000;
    Drain();
    Send({0x09, 0x01, 0x3F, 0x00, 0xC7});  // absolute: the position stays within the limits
    Send({0x0D});
    EXPECT_EQ(Drain(), (Bytes{0xF7, 0x00, 0x01, 0x3F, 0x00, 0xC7}));
}

TEST_F(IkbdTest, AbsoluteModeSendsNoPacketsAndScalesMotion) {
    Send({0x09, 0x01, 0x3F, 0x00, 0xC7, 0x0C, 0x04, 0x02});
    k.input.mouseDx = 10;  // 2 steps, 2 counts left over
    k.input.mouseDy = 9;   // 4 steps
    EXPECT_EQ(Drain(), Bytes{});
    k.input.mouseDx = 2;  // with the rest: one more step
    k.Tick();
    Send({0x0D});
    EXPECT_EQ(Drain(), (Bytes{0xF7, 0x00, 0x00, 0x03, 0x00, 0x04}));
}

TEST_F(IkbdTest, LargeMotionIsCarriedIntoFurtherPackets) {
    k.input.mouseDx = -300;
    k.input.mouseDy = 200;
    EXPECT_EQ(Drain(), (Bytes{0xF8, 0x80, 0x7F, 0xF8, 0x80, 0x49, 0xF8, 0xD4, 0x00}));
}

TEST_F(IkbdTest, ThresholdHoldsSmallMotionUntilItAddsUp) {
    Send({0x0B, 0x05, 0x05});
    k.input.mouseDx = 3;
    EXPECT_EQ(Drain(), Bytes{});
    k.input.mouseDx = 2;
    EXPECT_EQ(Drain(), (Bytes{0xF8, 0x05, 0x00}));
}

TEST_F(IkbdTest, ButtonsAloneMakeAPacketAndOriginAtBottomTurnsDy) {
    k.input.buttons = ikbd::kLeftButton | ikbd::kRightButton;
    EXPECT_EQ(Drain(), (Bytes{0xFB, 0x00, 0x00}));
    Send({0x0F});
    k.input.mouseDy = 5;
    EXPECT_EQ(Drain(), (Bytes{0xFB, 0x00, 0xFB}));
}

TEST_F(IkbdTest, NoNewMousePacketWhileOneIsQueued) {
    k.input.mouseDx = 1;
    EXPECT_EQ(k.Tick(), 0xF8);
    k.input.mouseDx = 7;  // the first packet is still leaving: the motion waits
    EXPECT_EQ(k.Tick(), 0x01);
    EXPECT_EQ(k.Tick(), 0x00);
    EXPECT_EQ(Drain(), (Bytes{0xF8, 0x07, 0x00}));
}

// Mouse keycode mode (0x0A dx dy): cursor keys, make then break, for each delta of motion, and
// the buttons as keys 0x74 and 0x75; never a relative packet.
struct KeycodeRow {
    const char* name;
    Bytes commands;
    int32_t dx, dy;
    uint8_t buttons;
    Bytes sent;
};

class IkbdKeycodeMode : public IkbdTest, public ::testing::WithParamInterface<KeycodeRow> {};

TEST_P(IkbdKeycodeMode, SendsCursorKeysAsTheProtocolGivesThem) {
    Send(GetParam().commands);
    k.input.mouseDx = GetParam().dx;
    k.input.mouseDy = GetParam().dy;
    k.input.buttons = GetParam().buttons;
    EXPECT_EQ(Drain(), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Motion, IkbdKeycodeMode,
    ::testing::Values(
        KeycodeRow{"right", {0x0A, 1, 1}, 3, 0, 0, {0x4D, 0xCD, 0x4D, 0xCD, 0x4D, 0xCD}},
        KeycodeRow{"left_by_delta", {0x0A, 2, 2}, -5, 0, 0, {0x4B, 0xCB, 0x4B, 0xCB}},
        KeycodeRow{"below_delta", {0x0A, 3, 3}, 2, -2, 0, {}},
        KeycodeRow{"up", {0x0A, 1, 1}, 0, -1, 0, {0x48, 0xC8}},
        KeycodeRow{"down", {0x0A, 1, 1}, 0, 2, 0, {0x50, 0xD0, 0x50, 0xD0}},
        KeycodeRow{"origin_at_bottom_does_not_apply", {0x0F, 0x0A, 1, 1}, 0, 1, 0, {0x50, 0xD0}},
        KeycodeRow{"diagonal", {0x0A, 1, 1}, 1, -1, 0, {0x4D, 0xCD, 0x48, 0xC8}},
        KeycodeRow{"buttons", {0x0A, 1, 1}, 0, 0, ikbd::kLeftButton | ikbd::kRightButton, {0x74, 0x75}},
        KeycodeRow{"back_to_relative", {0x0A, 1, 1, 0x08}, 2, 0, 0, {0xF8, 0x02, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IkbdTest, KeycodeModeButtonsBreakWhenLetGo) {
    Send({0x0A, 1, 1});
    k.input.buttons = ikbd::kLeftButton;
    EXPECT_EQ(Drain(), Bytes{0x74});
    k.input.buttons = ikbd::kRightButton;
    EXPECT_EQ(Drain(), (Bytes{0xF4, 0x75}));
    k.input.buttons = 0;
    EXPECT_EQ(Drain(), Bytes{0xF5});
}

TEST_F(IkbdTest, JoystickReportsChangesOnlyAndNotWhenOff) {
    k.input.joystick = 0x81;
    EXPECT_EQ(Drain(), (Bytes{0xFF, 0x81}));
    EXPECT_EQ(Drain(), Bytes{});
    k.input.joystick = 0x00;
    EXPECT_EQ(Drain(), (Bytes{0xFF, 0x00}));
    Send({0x1A});
    k.input.joystick = 0x04;
    EXPECT_EQ(Drain(), Bytes{});
    Send({0x15, 0x16});  // interrogation reads the state
    EXPECT_EQ(Drain(), (Bytes{0xFD, 0x00, 0x04}));
}

TEST_F(IkbdTest, KeysMakeAndBreakOncePerChange) {
    k.input.keys[0x1E] = 1;
    EXPECT_EQ(Drain(), Bytes{0x1E});
    EXPECT_EQ(Drain(), Bytes{});  // held: no repeat
    k.input.keys[0x1E] = 0;
    EXPECT_EQ(Drain(), Bytes{0x9E});
}

TEST_F(IkbdTest, ReleasingInputLetsGoOfEveryKeyAndButton) {
    k.input.keys[0x2A] = 1;
    k.input.keys[0x39] = 1;
    k.input.buttons = ikbd::kLeftButton;
    EXPECT_EQ(Drain(), (Bytes{0x2A, 0x39, 0xFA, 0x00, 0x00}));
    k.ReleaseInput();
    EXPECT_EQ(Drain(), (Bytes{0xAA, 0xB9, 0xF8, 0x00, 0x00}));
}

TEST_F(IkbdTest, PauseHoldsTheQueueUntilResume) {
    Send({0x13, 0x1C});  // a command ends the pause too, so pause after asking
    Drain();
    Send({0x88, 0x13});
    for (int i = 0; i < 20; ++i) EXPECT_EQ(k.Tick(), -1);
    EXPECT_TRUE(k.Paused());
    Send({0x11});
    EXPECT_EQ(Drain(), (Bytes{0xF6, 0x08, 0, 0, 0, 0, 0, 0}));
}

TEST_F(IkbdTest, AFullQueueDropsNoPartOfAPacket) {
    Send({0x13});
    for (int i = 0; i < 127; ++i) Send({0x88});  // 1016 bytes wait
    EXPECT_EQ(k.QueuedBytes(), 1016);
    Send({0x88});  // 8 more fit exactly
    EXPECT_EQ(k.QueuedBytes(), 1024);
    Send({0x1C});  // does not fit: dropped whole (and ends the pause)
    EXPECT_EQ(k.QueuedBytes(), 1024);
    k.input.mouseDx = 5;  // waits for room rather than losing bytes
    k.input.keys[0x10] = 1;
    const Bytes out = Drain();
    ASSERT_EQ(out.size(), 1024u + 4u);
    for (size_t i = 0; i < 1024; i += 8) EXPECT_EQ(out[i], 0xF6) << i;
    EXPECT_EQ(Bytes(out.end() - 4, out.end()), (Bytes{0x10, 0xF8, 0x05, 0x00}));
}

TEST_F(IkbdTest, MachineResetSwitchesTheMouseOnAndKeepsTheRest) {
    Send({0x12, 0x1A});
    k.MachineReset();
    EXPECT_TRUE(k.MouseEnabled());
    Send({0x9A});
    EXPECT_EQ(Drain(), (Bytes{0xF6, 0x1A, 0, 0, 0, 0, 0, 0}));
}

TEST_F(IkbdTest, StateRoundTripsAndDamageIsRefused) {
    Send({0x13, 0x09, 0x01, 0x3F, 0x00, 0xC7, 0x1C, 0x1B, 0x01});  // mid-command
    k.input.keys[5] = 1;
    StateWriter out;
    k.Save(out);
    const std::vector<uint8_t> file = out.Finish();
    Ikbd other;
    other.PowerOn();
    StateReader in;
    std::string error;
    ASSERT_TRUE(in.Open(file, error)) << error;
    ASSERT_TRUE(other.Load(in, true));
    for (uint8_t b : Bytes{0x02, 0x03, 0x04, 0x05, 0x06, 0x11}) {
        k.Write(b), other.Write(b);
    }
    for (int i = 0; i < 20; ++i) EXPECT_EQ(k.Tick(), other.Tick());
    // A queue count beyond the ring is refused: the read index field follows the 1024 bytes.
    std::vector<uint8_t> damaged;
    ASSERT_TRUE(UnpackState(file, 1 << 20, damaged, error)) << error;
    const size_t count = 8 + 1024 + 4;  // after the section's tag and length
    ASSERT_GT(damaged.size(), count + 1);
    damaged[count] = 0xFF, damaged[count + 1] = 0xFF;
    StateReader bad;
    bad.OpenSections(damaged.data(), damaged.size());
    EXPECT_FALSE(other.Load(bad, false));
}

}  // namespace
}  // namespace vexil

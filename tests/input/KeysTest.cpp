// The host keyboard as the ST sees it: the scancode table, the cursor keys as a joystick, and
// the names and characters input scripts use.
#include <gtest/gtest.h>

#include "input/Keys.h"

namespace vexil {
namespace {

struct KeyRow {
    const char* key;
    uint8_t host;      // PC key code
    uint8_t st;        // with the cursor keys as keys
    uint8_t stArrows;  // with the cursor keys as a joystick
};

class ScancodeTableRows : public ::testing::TestWithParam<KeyRow> {};

TEST_P(ScancodeTableRows, ReachTheStKeyInTheSamePlace) {
    const KeyRow& row = GetParam();
    EXPECT_EQ(ScancodeTable(false)[row.host], row.st) << row.key;
    EXPECT_EQ(ScancodeTable(true)[row.host], row.stArrows) << row.key;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ScancodeTableRows,
    ::testing::Values(KeyRow{"A", 0x1E, 0x1E, 0x1E}, KeyRow{"Esc", 0x01, 0x01, 0x01},
                      KeyRow{"right Control", 0x9D, 0x1D, 0x1D}, KeyRow{"Home is Clr/Home", 0xC7, 0x47, 0x47},
                      KeyRow{"Delete", 0xD3, 0x53, 0x53}, KeyRow{"Insert", 0xD2, 0x52, 0x52},
                      KeyRow{"Page Up is Undo", 0xC9, 0x61, 0x61},
                      KeyRow{"Page Down is Help", 0xD1, 0x62, 0x62}, KeyRow{"keypad Enter", 0x9C, 0x72, 0x72},
                      KeyRow{"keypad .", 0x53, 0x71, 0x71}, KeyRow{"ISO key left of Z", 0x56, 0x60, 0x60},
                      KeyRow{"keypad ( on Num Lock", 0x45, 0x63, 0x63},
                      KeyRow{"keypad ) on End", 0xCF, 0x64, 0x64}, KeyRow{"keypad /", 0xB5, 0x65, 0x65},
                      KeyRow{"keypad *", 0x37, 0x66, 0x66}, KeyRow{"keypad 7", 0x47, 0x67, 0x67},
                      KeyRow{"keypad 0", 0x52, 0x70, 0x70}, KeyRow{"cursor up", 0xC8, 0x48, 0x00},
                      KeyRow{"cursor left", 0xCB, 0x4B, 0x00},
                      KeyRow{"F11 stays with the host", 0x57, 0x00, 0x00},
                      KeyRow{"F12 stays with the host", 0x58, 0x00, 0x00}));

TEST(HostKeys, ArrowsDriveTheJoystickAndControlStaysAKey) {
    bool keys[256] = {};
    keys[0xC8] = true;  // up
    keys[0x1D] = true;  // left Control
    IkbdInput input;
    ApplyHostKeys(keys, true, 0x08, input);
    EXPECT_EQ(input.joystick, 0x89);
    EXPECT_EQ(input.keys[0x48], 0);
    EXPECT_EQ(input.keys[0x1D], 1);
    ApplyHostKeys(keys, false, 0x00, input);
    EXPECT_EQ(input.joystick, 0x00);
    EXPECT_EQ(input.keys[0x48], 1);
}

TEST(HostKeys, UpArrowSendsAJoystickPacketAndNoKeyCode) {
    Ikbd keyboard;
    keyboard.PowerOn();
    bool keys[256] = {};
    keys[0xC8] = true;
    ApplyHostKeys(keys, true, 0, keyboard.input);
    EXPECT_EQ(keyboard.Tick(), 0xFF);
    EXPECT_EQ(keyboard.Tick(), 0x01);
    EXPECT_EQ(keyboard.Tick(), -1);
}

TEST(KeyNames, NamesAndCharacters) {
    EXPECT_EQ(StKeyByName("return"), 0x1C);
    EXPECT_EQ(StKeyByName("LEFTSHIFT"), 0x2A);
    EXPECT_EQ(StKeyByName("Undo"), 0x61);
    EXPECT_EQ(StKeyByName("Nope"), 0);
    for (int code = 1; code < 0x73; ++code) {
        const std::string_view name = StKeyName(static_cast<uint8_t>(code));
        if (!name.empty()) {
            EXPECT_EQ(StKeyByName(name), code) << name;
        }
    }
    EXPECT_EQ(StKeyForChar('a').code, 0x1E);
    EXPECT_FALSE(StKeyForChar('a').shift);
    EXPECT_EQ(StKeyForChar('A').code, 0x1E);
    EXPECT_TRUE(StKeyForChar('A').shift);
    EXPECT_EQ(StKeyForChar('|').code, 0x2B);
    EXPECT_TRUE(StKeyForChar('|').shift);
    EXPECT_EQ(StKeyForChar('/').code, 0x35);
    EXPECT_EQ(StKeyForChar('\n').code, 0x1C);
    EXPECT_EQ(StKeyForChar('\x7F').code, 0);
}

}  // namespace
}  // namespace vexil

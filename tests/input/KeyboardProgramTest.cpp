// The keyboard processor in the machine, read by a 68000 program through the keyboard ACIA's
// interrupt: a scripted key press and mouse move arrive byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "input/InputScript.h"
#include "machine/Machine.h"
#include "support/Asm.h"

namespace vexil {
namespace {

class KeyboardProgram : public ::testing::Test {
protected:
    KeyboardProgram() : program_(test::LoadAsm("keyboard-irq")) {
        machine_.LoadBytes(program_.origin, program_.bytes.data(), program_.bytes.size());
        for (uint32_t vector = 2; vector < 256; ++vector)
            machine_.PokeLong(vector * 4, program_.Symbol("unexpected"));
        machine_.PokeLong(0, 0x8000);
        machine_.PokeLong(4, program_.origin);
    }
    // Runs `frames` frames with the script's input; returns the bytes the program received.
    std::vector<uint8_t> Run(const char* script, int frames) {
        InputScript input;
        std::string error;
        EXPECT_TRUE(input.Parse(script, error)) << error;
        EXPECT_EQ(machine_.Reset(false), 0);
        for (int frame = 0; frame < frames; ++frame) {
            input.Apply(frame, machine_.Keyboard());
            EXPECT_EQ(machine_.RunFrame(), kRunBudgetSpent);
        }
        EXPECT_EQ(machine_.PeekLong(program_.Symbol("fault")), 0u) << "an exception nobody expected";
        std::vector<uint8_t> bytes;
        const uint32_t count = machine_.PeekByte(program_.Symbol("count")) << 8 |
                               machine_.PeekByte(program_.Symbol("count") + 1);
        for (uint32_t i = 0; i < count; ++i)
            bytes.push_back(machine_.PeekByte(program_.Symbol("received") + i));
        return bytes;
    }

    Machine machine_;
    test::AsmProgram program_;
};

TEST_F(KeyboardProgram, ReceivesTheResetReplyKeyCodesAndMousePackets) {
    const std::vector<uint8_t> bytes =
        Run("2 key down A\n"
            "4 key up A\n"
            "6 mouse 5 -3 left\n"
            "8 mouse 300 0\n",  // more than one packet carries; the left button goes up
            12);
    const std::vector<uint8_t> expected = {0xF0, 0x1E, 0x9E, 0xFA, 0x05, 0xFD, 0xF8, 0x7F,
                                           0x00, 0xF8, 0x7F, 0x00, 0xF8, 0x2E, 0x00};
    EXPECT_EQ(bytes, expected);
}

TEST_F(KeyboardProgram, TypedTextArrivesShifted) {
    const std::vector<uint8_t> bytes = Run("1 type \"a!\"\n", 20);
    // Reset reply; a; Shift, 1, 1 up, Shift up.
    const std::vector<uint8_t> expected = {0xF0, 0x1E, 0x9E, 0x2A, 0x02, 0x82, 0xAA};
    EXPECT_EQ(bytes, expected);
}

}  // namespace
}  // namespace vexil

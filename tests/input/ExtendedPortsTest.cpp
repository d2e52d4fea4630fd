#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "input/ExtendedPorts.h"
#include "machine/Machine.h"
#include "support/Asm.h"

namespace vexil {
namespace {

using namespace joypad;

struct PortRow {
    const char* name;
    JoypadInput a, b;
    uint16_t outputs;  // written to 0x02
    uint16_t fires;    // the word at 0x00
    uint16_t lines;    // the word at 0x02
};

class ExtendedPortsRead : public ::testing::TestWithParam<PortRow> {};

TEST_P(ExtendedPortsRead, InputsFollowThePadsAndTheOutputs) {
    const PortRow& row = GetParam();
    ExtendedPorts ports;
    ports.port[0] = row.a;
    ports.port[1] = row.b;
    ports.WriteWord(0x02, row.outputs);
    EXPECT_EQ(ports.ReadWord(0x00), row.fires);
    EXPECT_EQ(ports.ReadWord(0x02), row.lines);
    EXPECT_EQ(ports.ReadByte(0x01), row.fires & 0xFF);
    EXPECT_EQ(ports.ReadByte(0x02), row.lines >> 8);
}

constexpr uint32_t kDigit(int n) {
    return kDigit0 << n;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExtendedPortsRead,
    ::testing::Values(
        //       name            port A                       port B         outputs  0x00    0x02
        PortRow{"nothing", {}, {}, 0xFFFF, 0xFFFF, 0xFFFF},
        // A plain joystick answers whatever the outputs: directions and its first fire input.
        PortRow{"joystick_a_up_fire", {false, kUp | kA}, {}, 0xFFFF, 0xFFFE, 0xFEFF},
        PortRow{"joystick_b_right", {}, {false, kRight}, 0x0000, 0xFFFF, 0x7F00},
        // A joypad answers only in the key group a low output selects.
        PortRow{"pad_unselected", {true, kUp | kA | kPause}, {}, 0xFFFF, 0xFFFF, 0xFFFF},
        PortRow{"pad_group0", {true, kUp | kRight | kA | kPause}, {}, 0xFFFE, 0xFFFC, 0xF6FE},
        PortRow{"pad_group1", {true, kB | kStar | kDigit(1)}, {}, 0xFFFD, 0xFFFD, 0xF6FD},
        PortRow{"pad_group2", {true, kC | kDigit(0) | kDigit(8)}, {}, 0xFFFB, 0xFFFD, 0xFCFB},
        PortRow{"pad_group3", {true, kOption | kHash | kDigit(3)}, {}, 0xFFF7, 0xFFFD, 0xF6F7},
        PortRow{"pad_group3_other_keys", {true, kUp | kB | kDigit(1)}, {}, 0xFFF7, 0xFFFF, 0xFFF7},
        // Port B's groups are selected by outputs 4-7 and read on the upper lines.
        PortRow{"pad_b_group1", {}, {true, kB | kDigit(7)}, 0xFFDF, 0xFFF7, 0xDFDF},
        // Two groups selected at once read as one.
        PortRow{"pad_two_groups", {true, kUp | kDigit(9)}, {}, 0xFFF6, 0xFFFF, 0xFCF6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExtendedPorts, HostButtonsMapToTheJoypadsKeys) {
    struct Row {
        uint8_t joystick;
        uint32_t buttons, keys;
    };
    const Row rows[] = {
        {0x00, 0, 0},
        {0x0F, 0, kUp | kDown | kLeft | kRight},
        {0x80, 0, kA},
        {0x00, kHostA, kA},
        {0x00, kHostB | kHostX, kB | kC},
        {0x00, kHostStart | kHostBack, kPause | kOption},
        {0x00, kHostLeftShoulder | kHostRightShoulder, kStar | kHash},
        {0x00, kHostY, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(JoypadKeysFromHost(r.joystick, r.buttons), r.keys) << int(r.joystick) << " " << r.buttons;
}

TEST(ExtendedPorts, PaddlesReadAsTheHostGivesThemAndTheLightPenAsNone) {
    ExtendedPorts ports;
    ports.port[0].paddleX = 0x12;
    ports.port[0].paddleY = 0x34;
    ports.port[1].paddleX = 0x56;
    ports.port[1].paddleY = 0x78;
    const unsigned offsets[] = {0x11, 0x13, 0x15, 0x17};
    const uint8_t values[] = {0x12, 0x34, 0x56, 0x78};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ports.ReadByte(offsets[i]), values[i]);
    EXPECT_EQ(ports.ReadWord(0x10), 0x0012);
    EXPECT_EQ(ports.ReadWord(0x20), 0);
    EXPECT_EQ(ports.ReadWord(0x22), 0);
}

// The page on the machine: an STE answers (the STE's TOS reads it before it sets any bus-error
// vector), an ST raises the bus error, which here sends the processor into cleared RAM.
TEST(ExtendedPorts, StePageAnswersAndTheStsFaults) {
    const test::AsmProgram program = test::LoadAsm("joypad-ports");
    for (const uint32_t model : {1u, 0u}) {
        MachineSettings settings;
        settings.Machine = model;
        Machine machine(settings);
        machine.LoadBytes(program.origin, program.bytes.data(), program.bytes.size());
        machine.PokeLong(0, 0x8000);
        machine.PokeLong(4, program.origin);
        ASSERT_EQ(machine.Reset(false), 0);
        machine.Joypads().port[0] = {true, kUp | kPause, 0x40, 0};
        machine.RunFrames(1);
        const bool finished = (g_cpu.pc & 0xFFFFFE) == program.Symbol("done") + 4;
        if (model == 0) {
            EXPECT_FALSE(finished) << "an ST has no extended ports";
            continue;
        }
        ASSERT_TRUE(finished);
        EXPECT_EQ(g_cpu.d[0] & 0xFFFF, 0xFFFFu);  // DIP switches all set, nothing selected
        EXPECT_EQ(g_cpu.d[1] & 0xFFFF, 0xFFFFu);
        EXPECT_EQ(g_cpu.d[2] & 0xFFFF, 0xFEFEu);  // Up
        EXPECT_EQ(g_cpu.d[3] & 0xFFFF, 0xFFFEu);  // Pause
        EXPECT_EQ(g_cpu.d[4] & 0xFF, 0x40u);
    }
}

// The output lines are machine state: a save state keeps them.
TEST(ExtendedPorts, SaveStateKeepsTheOutputLines) {
    std::vector<uint8_t> state;
    {
        Machine machine(MachineSettings{1, 2});
        machine.Joypads().WriteWord(0x02, 0x00B7);
        state = machine.SaveState();
    }
    Machine machine(MachineSettings{1, 2});
    std::string error;
    ASSERT_TRUE(machine.LoadState(state, error)) << error;
    EXPECT_EQ(machine.Joypads().ReadWord(0x02) & 0xFF, 0xB7);
}

}  // namespace
}  // namespace vexil

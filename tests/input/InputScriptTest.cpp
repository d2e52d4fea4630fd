// Input scripts: the events they give, bad lines refused with their number, a round trip
// through the formatted text, damaged input, and runs that repeat exactly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/Headless.h"
#include "input/InputScript.h"
#include "machine/Machine.h"
#include "machine/Rom.h"

namespace vexil {
namespace {

TEST(InputScript, EventsInFrameOrder) {
    InputScript script;
    std::string error;
    ASSERT_TRUE(
        script.Parse("# comment\n"
                     "\n"
                     "20 mouse -4 7 left right  # both buttons\n"
                     "3 key down 0x1E\n"
                     "3 key up return\n"
                     "5 joy 0x81\n"
                     "0 clock 2024-02-29 23:59:58\r\n",
                     error))
        << error;
    const std::vector<ScriptEvent>& e = script.Events();
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].kind, ScriptEvent::kClock);
    EXPECT_EQ(TimeOf(e[0].clock).day, 29);
    EXPECT_EQ(e[1].frame, 3);
    EXPECT_EQ(e[1].code, 0x1E);
    EXPECT_TRUE(e[1].down);
    EXPECT_EQ(e[2].code, 0x1C);
    EXPECT_FALSE(e[2].down);
    EXPECT_EQ(e[3].code, 0x81);
    EXPECT_EQ(e[4].dx, -4);
    EXPECT_EQ(e[4].dy, 7);
    EXPECT_EQ(e[4].code, ikbd::kLeftButton | ikbd::kRightButton);
}

struct BadLine {
    const char* text;
    const char* error;
};

class BadScripts : public ::testing::TestWithParam<BadLine> {};

TEST_P(BadScripts, AreRefusedWithTheLineNumber) {
    InputScript script;
    std::string error;
    EXPECT_FALSE(script.Parse(GetParam().text, error));
    EXPECT_EQ(error.rfind(GetParam().error, 0), 0u) << error;
    EXPECT_TRUE(script.Events().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadScripts,
    ::testing::Values(BadLine{"1 key down A\nx key down A\n", "line 2:"},
                      BadLine{"1 key down A\n\n# c\n1 key sideways A\n", "line 4:"},
                      BadLine{"1 key down 0\n", "line 1:"}, BadLine{"1 key down 0x80\n", "line 1:"},
                      BadLine{"1 key down Nope\n", "line 1:"}, BadLine{"-1 key down A\n", "line 1:"},
                      BadLine{"99999999999 joy 1\n", "line 1:"}, BadLine{"1 joy 256\n", "line 1:"},
                      BadLine{"1 mouse 1\n", "line 1:"}, BadLine{"1 mouse 1 2 middle\n", "line 1:"},
                      BadLine{"1 mouse 1 2 left left\n", "line 1:"},
                      BadLine{"1 mouse 9999999 0\n", "line 1:"}, BadLine{"1 type \"abc\n", "line 1:"},
                      BadLine{"1 type \"\\q\"\n", "line 1:"}, BadLine{"1 type \"\xC3\xA9\"\n", "line 1:"},
                      BadLine{"1 clock 2023-02-29 00:00:00\n", "line 1:"},
                      BadLine{"1 clock 2023-01-01 24:00:00\n", "line 1:"}, BadLine{"1 dance\n", "line 1:"},
                      BadLine{"1\n", "line 1:"}, BadLine{"1 joy 1\x01\n", "line 1:"}));

TEST(InputScript, TypedTextPressesShiftBeforeTheKey) {
    InputScript script;
    std::string error;
    ASSERT_TRUE(script.Parse("10 type \"a B\\n\"", error)) << error;
    std::vector<std::tuple<int, int, bool>> got;
    for (const ScriptEvent& e : script.Events()) got.emplace_back(e.frame, e.code, e.down);
    const std::vector<std::tuple<int, int, bool>> expected = {
        {11, 0x1E, true}, {13, 0x1E, false}, {17, 0x39, true},  {19, 0x39, false}, {22, 0x2A, true},
        {23, 0x30, true}, {25, 0x30, false}, {26, 0x2A, false}, {29, 0x1C, true},  {31, 0x1C, false}};
    EXPECT_EQ(got, expected);
}

TEST(InputScript, FormattedTextParsesToTheSameEvents) {
    InputScript script, again;
    std::string error;
    ASSERT_TRUE(
        script.Parse("5 type \"Hi!\"\n1 mouse -300 2 right\n7 joy 3\n2 clock 1999-12-31 23:59:59\n"
                     "9 key up Undo\n",
                     error));
    ASSERT_TRUE(again.Parse(script.Format(), error)) << error;
    EXPECT_EQ(again.Events(), script.Events());
}

TEST(InputScript, RandomAndCutTextIsRefusedOrParsedWithoutHarm) {
    const std::string good = "1 key down A\n2 mouse 3 4 left\n3 type \"x\"\n4 joy 0x0F\n";
    std::mt19937 random(21);
    for (int round = 0; round < 2000; ++round) {
        std::string text = good.substr(0, random() % (good.size() + 1));
        for (int i = random() % 4; i > 0 && !text.empty(); --i)
            text[random() % text.size()] = static_cast<char>(random());
        InputScript script;
        std::string error;
        if (script.Parse(text, error)) {
            for (const ScriptEvent& e : script.Events()) {
                EXPECT_GE(e.frame, 0);
                EXPECT_LE(e.frame, kMaxScriptFrame);
            }
        } else {
            EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
        }
    }
}

// A scripted EmuTOS run is the same every time: the same RAM and machine state at its end.
TEST(InputScript, RunsWithOneScriptAreIdentical) {
    const std::string rom = VEXIL_EMUTOS;
    std::vector<uint8_t> states[2];
    for (std::vector<uint8_t>& state : states) {
        InputScript script;
        std::string error;
        ASSERT_TRUE(
            script.Parse("60 mouse 40 -20\n70 type \"dir\\n\"\n90 mouse 3 3 left\n95 mouse 0 0\n", error));
        Machine machine;
        ASSERT_TRUE(LoadTosRom(machine, rom).ok);
        ASSERT_EQ(machine.Reset(true), 0);
        for (int frame = 0; frame < 120; ++frame) {
            script.Apply(frame, machine.Keyboard());
            ASSERT_EQ(machine.RunFrame(), kRunBudgetSpent);
        }
        state = machine.SaveState();
    }
    EXPECT_TRUE(states[0] == states[1]);
}

// The headless run refuses a bad script before it starts (exit status 2).
TEST(InputScript, HeadlessRunRefusesABadScript) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("vexil-input-" + std::to_string(::getpid()) + ".txt"))
            .string();
    std::ofstream(path) << "1 key down A\n2 key down Nope\n";
    HeadlessOptions options;
    options.romPath = VEXIL_EMUTOS;
    options.frames = 1;
    options.inputScript = path;
    std::FILE* sink = std::tmpfile();
    EXPECT_EQ(RunHeadless(options, sink, sink), 2);
    std::fclose(sink);
    options.inputScript = path + ".missing";
    sink = std::tmpfile();
    EXPECT_EQ(RunHeadless(options, sink, sink), 2);
    std::fclose(sink);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace vexil

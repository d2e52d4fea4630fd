// The test-file parser: settings, steps by stretch, waits, paths, and damaged files.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "testing/TestFile.h"

namespace vexil {
namespace {

TestFile Parse(const std::string& text, const std::string& directory = "/tests") {
    TestFile test;
    std::string error;
    EXPECT_TRUE(ParseTestFile(text, directory, test, error)) << error;
    return test;
}

TEST(TestFileTest, SettingsAndDefaults) {
    const TestFile defaults = Parse("");
    EXPECT_EQ(defaults.machine, 0u);
    EXPECT_EQ(defaults.ramSize, 2u);
    EXPECT_EQ(defaults.frames, 3000);
    EXPECT_TRUE(defaults.natfeats);
    EXPECT_FALSE(defaults.expectedExit.has_value());
    // A file without steps waits for the program's exit.
    ASSERT_EQ(defaults.stretches.size(), 1u);
    EXPECT_EQ(defaults.stretches[0][0].kind, TestStep::kUntilExit);

    const TestFile t = Parse(
        "machine ste\nram 512\nrom tos.img\ndisk a.st\ndisk-b /abs/b.msa\nframes 500\nnatfeats off\n"
        "printer -\nserial \"out put.txt\"\nserial-in in.bin\nexpect exit -2\nfolder host\n");
    EXPECT_EQ(t.machine, 1u);
    EXPECT_EQ(t.ramSize, 0u);
    EXPECT_EQ(t.rom, "/tests/tos.img");
    EXPECT_EQ(t.disk, "/tests/a.st");
    EXPECT_EQ(t.diskB, "/abs/b.msa");
    EXPECT_EQ(t.frames, 500);
    EXPECT_FALSE(t.natfeats);
    EXPECT_EQ(t.printer, "-");
    EXPECT_EQ(t.serial, "/tests/out put.txt");
    EXPECT_EQ(t.serialIn, "/tests/in.bin");
    EXPECT_EQ(t.expectedExit, -2);
    EXPECT_EQ(t.folder, "/tests/host");  // kept for the folder drive, with its line
    EXPECT_EQ(t.folderLine, 12);
}

TEST(TestFileTest, WaitsCutTheStepsIntoStretchesSortedByFrame) {
    const TestFile t = Parse(
        "50 expect ram 0x10 CAFE\n"
        "10 key down A\n"
        "until output \"ready\\n\"\n"
        "5 type \"ab\"\n"
        "0 screenshot shot.tga\n"
        "20 until pc 0xE00100\n"
        "3 expect silence\n");
    ASSERT_EQ(t.stretches.size(), 3u);
    const auto& first = t.stretches[0];
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0].kind, TestStep::kInput);
    EXPECT_EQ(first[0].frame, 10);
    EXPECT_EQ(first[1].kind, TestStep::kExpectRam);
    EXPECT_EQ(first[1].bytes, (std::vector<uint8_t>{0xCA, 0xFE}));
    EXPECT_EQ(first[2].kind, TestStep::kUntilOutput);
    EXPECT_EQ(first[2].text, "ready\n");
    EXPECT_EQ(first[2].frame, -1);
    const auto& second = t.stretches[1];
    EXPECT_EQ(second.front().kind, TestStep::kScreenshot);
    EXPECT_EQ(second.front().path, "/tests/shot.tga");
    // "ab": each character's key pressed and released, the last event 6 frames on.
    EXPECT_EQ(second.size(), 1u + 4u + 1u);
    EXPECT_EQ(second[second.size() - 2].frame, 5 + 6 + 3);
    EXPECT_EQ(second.back().kind, TestStep::kUntilPc);
    EXPECT_EQ(second.back().frame, 20);
    EXPECT_EQ(second.back().address, 0xE00100u);
    EXPECT_EQ(t.stretches[2][0].kind, TestStep::kExpectSilence);
}

TEST(TestFileTest, ChecksKeepTheirValues) {
    const std::string hash(64, 'a');
    const TestFile t = Parse("1 expect pixel 799 599 FF8000\n2 expect region 10 20 30 40 " + hash +
                             "\n3 dump ram 0x100 16 d.bin\n4 expect sound\n5 expect output \"a\\tb\\r\"\n");
    const auto& s = t.stretches[0];
    EXPECT_EQ(s[0].rgb, 0xFF8000u);
    EXPECT_EQ(s[0].x, 799);
    EXPECT_EQ(s[1].w, 30);
    EXPECT_EQ(s[1].sha256[0], 0xAA);
    EXPECT_EQ(s[2].address, 0x100u);
    EXPECT_EQ(s[2].length, 16u);
    EXPECT_EQ(s[3].kind, TestStep::kExpectSound);
    EXPECT_EQ(s[4].text, "a\tb\r");
}

struct BadRow {
    const char* name;
    const char* text;
    int line;
    const char* reason;  // a part of the message
};

class TestFileBadTest : public ::testing::TestWithParam<BadRow> {};

TEST_P(TestFileBadTest, IsRefusedWithItsLineNamed) {
    TestFile test;
    test.frames = 77;
    std::string error;
    EXPECT_FALSE(ParseTestFile(GetParam().text, "/t", test, error));
    EXPECT_EQ(error.rfind("line " + std::to_string(GetParam().line) + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
    EXPECT_EQ(test.frames, 77);  // nothing taken
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TestFileBadTest,
    ::testing::Values(BadRow{"unknown_setting", "disk a.st\nspeed fast\n", 2, "no setting \"speed\""},
                      BadRow{"machine", "machine falcon\n", 1, "machine st|ste"},
                      BadRow{"ram", "ram 4000\n", 1, "ram 512|1024|2048"},
                      BadRow{"frames_zero", "frames 0\n", 1, "frames N"},
                      BadRow{"frames_word", "frames many\n", 1, "frames N"},
                      BadRow{"natfeats", "natfeats maybe\n", 1, "natfeats on|off"},
                      BadRow{"disk_stdout", "disk -\n", 1, "not standard output"},
                      BadRow{"rom_missing", "rom\n", 1, "rom FILE"},
                      BadRow{"exit_frame", "5 expect exit 2\n", 1, "takes no frame"},
                      BadRow{"unknown_step", "\n\n3 jump\n", 3, "no step \"jump\""},
                      BadRow{"bad_key", "0 key down NOKEY\n", 1, "no ST key"},
                      BadRow{"negative_frame", "-1 key down A\n", 1, "a frame number is"},
                      BadRow{"huge_frame", "99999999 expect sound\n", 1, "frame number"},
                      BadRow{"pixel_outside", "0 expect pixel 800 0 000000\n", 1, "expect pixel"},
                      BadRow{"pixel_colour", "0 expect pixel 1 1 12345\n", 1, "expect pixel"},
                      BadRow{"region_outside",
                             "0 expect region 700 0 200 10 "
                             "0000000000000000000000000000000000000000000000000000000000000000\n",
                             1, "expect region"},
                      BadRow{"pixel_prefixed_short", "0 expect pixel 1 1 0xABCD\n", 1, "expect pixel"},
                      BadRow{"region_short_hash", "0 expect region 0 0 1 1 abcd\n", 1, "expect region"},
                      BadRow{"region_prefixed_short",
                             "0 expect region 0 0 1 1 "
                             "0x00000000000000000000000000000000000000000000000000000000000000\n",
                             1, "expect region"},
                      BadRow{"ram_odd_digits", "0 expect ram 0x10 ABC\n", 1, "expect ram"},
                      BadRow{"ram_not_hex", "0 expect ram 0x10 XY\n", 1, "expect ram"},
                      BadRow{"ram_address", "0 expect ram 0x1000000 00\n", 1, "expect ram"},
                      BadRow{"dump_long", "0 dump ram 0 99999999 f\n", 1, "dump ram"},
                      BadRow{"output_unquoted", "0 expect output hello\n", 1, "expect output"},
                      BadRow{"output_escape", "0 expect output \"a\\q\"\n", 1, "escapes"},
                      BadRow{"quote_open", "0 expect output \"abc\n", 1, "quote is not closed"},
                      BadRow{"until_what", "until dawn\n", 1, "until ram|output|pc|exit"},
                      BadRow{"until_ram_op", "until ram 0x10 = 00\n", 1, "until ram ADDR =="},
                      BadRow{"until_pc_odd", "until pc 0x1001\n", 1, "until pc"},
                      BadRow{"control_char", "disk a.st\n\x01\n", 2, "control character"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TestFileTest, DamagedFilesAreRefusedOrTakenWithoutHarm) {
    const std::string good =
        "disk a.st\nframes 900\nuntil ram 0x100000 == 52454459\n5 type \"Vexil 42\\n\"\n"
        "until output \"<end>\"\n0 expect output \"Vexil\"\n0 expect region 0 0 8 8 " +
        std::string(64, 'f') + "\n";
    // Cut short anywhere: each piece parses or is refused, with a reason.
    for (size_t cut = 0; cut <= good.size(); ++cut) {
        TestFile test;
        std::string error;
        if (!ParseTestFile(good.substr(0, cut), "", test, error)) {
            EXPECT_FALSE(error.empty()) << cut;
        }
    }
    std::mt19937 random(34);
    for (int round = 0; round < 300; ++round) {
        std::string text = good;
        for (int flips = 0; flips < 4; ++flips) text[random() % text.size()] = static_cast<char>(random());
        if (round % 3 == 0) {
            text.resize(random() % 4096);
            for (char& c : text) c = static_cast<char>(random());
        }
        TestFile test;
        std::string error;
        if (!ParseTestFile(text, "", test, error)) {
            EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
        }
    }
    TestFile test;
    std::string error;
    EXPECT_FALSE(ParseTestFile(std::string(kMaxTestFileBytes + 1, '#'), "", test, error));
    EXPECT_FALSE(LoadTestFile("/nonexistent/x.test", test, error));
    EXPECT_NE(error.find("/nonexistent/x.test"), std::string::npos);
}

}  // namespace
}  // namespace vexil

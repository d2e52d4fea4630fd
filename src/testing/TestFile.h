// A test of ST software: one file that says how to start the machine, what to feed it, and
// what it must show, print and leave in memory. The test runner (testing/TestRun.h) carries it
// out; this is its parser.
//
// One instruction a line; `#` starts a comment, blank lines are skipped. Settings:
//   machine st|ste            ram 512|1024|2048|4096     rom FILE       disk FILE   disk-b FILE
//   folder DIR (drive C:)     boot a|c (with a folder)   frames N (the time limit, default 3000)
//   natfeats on|off (on)
//   printer FILE|-            serial FILE|-              serial-in FILE
//   expect exit N             the exit code the program must end with through NF_EXIT
// Steps, at a frame counted from the start (or from the end of the last wait; the steps of a
// frame happen before it runs, checks see the frames run so far):
//   FRAME key|mouse|joy|type|clock ...   as in input scripts (input/InputScript.h)
//   FRAME screenshot FILE                FRAME dump ram ADDR LEN FILE
//   FRAME expect pixel X Y RRGGBB        FRAME expect region X Y W H SHA256
//   FRAME expect ram ADDR HEXBYTES       FRAME expect output "TEXT"
//   FRAME expect sound                   FRAME expect silence
// Waits, bounded by the time limit; the steps after one count their frames from its end:
//   [FRAME] until ram ADDR == HEXBYTES   [FRAME] until output "TEXT"
//   [FRAME] until pc ADDR                [FRAME] until exit
// A wait starts at its frame, and not before the steps above it are done. A file with no step
// waits for the program's exit. Paths are relative to the test file; addresses and lengths
// are decimal or 0x hexadecimal; X, Y, W and H are pixels of the 800 x 600 screenshot.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/InputScript.h"

namespace vexil {

struct TestStep {
    enum Kind : uint8_t {
        kInput,
        kScreenshot,
        kDumpRam,
        kExpectPixel,
        kExpectRegion,
        kExpectRam,
        kExpectOutput,
        kExpectSound,
        kExpectSilence,
        kUntilRam,
        kUntilOutput,
        kUntilPc,
        kUntilExit,
    };
    Kind kind = kInput;
    int line = 0;                      // in the file, for the report
    int32_t frame = 0;                 // from the start of its stretch (a wait: -1 when it names none)
    ScriptEvent event{};               // kInput
    std::string path;                  // kScreenshot, kDumpRam: resolved against the file's folder
    std::string text;                  // kExpectOutput, kUntilOutput
    uint32_t address = 0, length = 0;  // kDumpRam, kExpectRam, kUntilRam, kUntilPc
    int32_t x = 0, y = 0, w = 0, h = 0;
    uint32_t rgb = 0;                  // kExpectPixel: 0xRRGGBB
    std::vector<uint8_t> bytes;        // kExpectRam, kUntilRam
    std::array<uint8_t, 32> sha256{};  // kExpectRegion

    bool IsWait() const { return kind >= kUntilRam; }
};

struct TestFile {
    std::string path;      // as given
    std::string name;      // the file's name without its folder and extension
    uint32_t machine = 0;  // 0 ST, 1 STE
    uint32_t ramSize = 2;  // MachineSettings::RAMSize
    std::string rom;       // empty: the runner's default
    std::string disk, diskB, folder;
    int folderLine = 0;  // the line that asked for a folder drive
    char boot = 'c';     // with a folder drive: 'a' boots from the floppy
    int32_t frames = 3000;
    bool natfeats = true;
    std::string printer, serial, serialIn;
    std::optional<int32_t> expectedExit;
    // Stretches of steps, each ending in a wait but the last; in each, steps by frame (in file
    // order within a frame).
    std::vector<std::vector<TestStep>> stretches;
};

constexpr size_t kMaxTestFileBytes = 1 << 20;
constexpr size_t kMaxTestSteps = 100000;
constexpr int32_t kMaxTestFrames = 1000000;
constexpr uint32_t kMaxDumpBytes = 0x400000;

// Parses a test's text; `directory` resolves its paths. On a malformed line returns false with
// "line N: reason" in `error`.
bool ParseTestFile(std::string_view text, const std::string& directory, TestFile& test, std::string& error);
// Reads and parses a file; the error names it.
bool LoadTestFile(const std::string& path, TestFile& test, std::string& error);

// "RRGGBB"-style hexadecimal digits as bytes (an even count, at most `limit` bytes).
bool ParseHexBytes(std::string_view text, std::vector<uint8_t>& bytes, size_t limit);

}  // namespace vexil

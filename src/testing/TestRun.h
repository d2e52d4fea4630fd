// Runs one test (testing/TestFile.h) on a machine of its own, headless, and says how it went.
//
// The machine starts cold from the test's ROM with no key pressed, so EmuTOS's first boot
// shows its welcome screen for 150 frames, which count like any other. The run ends after the
// last step, when the program ends through the native features (the steps left are then taken
// on the final state), when the processor stops, or at the time limit.
//
// Output the checks search: the serial port's and the printer's bytes and what the program
// sends to NF_STDERR. What TOS itself sends to NF_STDERR (from ROM) is kept apart.
// Sound levels: a frame's level is its samples' peak-to-peak span; "sound" means some frame of
// the last 50 reaches kSoundLevel, "silence" that none does.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "testing/TestFile.h"

namespace vexil {

struct TestRunOptions {
    std::string defaultRom;          // for tests that name none
    std::string failureDirectory;    // a failed test's last picture goes here (empty: nowhere)
    std::string fullName = "Vexil";  // NF_NAME|1
};

struct TestResult {
    enum Status : uint8_t { kPass, kFail, kError };  // kError: malformed, or a medium missing
    Status status = kPass;
    std::string name, path;
    int64_t frames = 0;
    double seconds = 0;
    std::vector<std::string> messages;  // what failed: expected and found; or the error
    std::string screenshot;             // the failed run's picture, when written
    std::string output;                 // the program's output (serial, printer, NF_STDERR)
    std::string tosOutput;              // what TOS sent to NF_STDERR
    bool exited = false;
    int32_t exitCode = 0;
};

constexpr int32_t kSoundLevel = 256;  // of the 16-bit samples' span

TestResult RunTest(const TestFile& test, const TestRunOptions& options);

// The SHA-256 of a region of an 800-pixel-wide R5G6B5 picture, as the screenshot stores its
// pixels: rows top to bottom, each pixel its blue, green and red bytes (scaled as in Tga.h).
std::array<uint8_t, 32> RegionHash(const uint16_t* picture, int x, int y, int w, int h);

// Runs `test` and gives the hash of the region in its last picture (print-region).
bool LastFrameRegionHash(const TestFile& test, const TestRunOptions& options, int x, int y, int w, int h,
                         std::string& hash, std::string& error);

}  // namespace vexil

// `vexil test`: runs test files (testing/TestFile.h) and reports on them.
//
//   vexil test [-j N] [--junit FILE] [--rom FILE] FILE...
//   vexil test [--rom FILE] --print-region X Y W H FILE
//
// Each test runs in a process of its own, N at a time (default: one per core), and gets one
// line of the report in the order given: its name, PASS, FAIL or ERROR, the frames run and the
// seconds taken, then what failed, indented. A summary line follows. The exit status is 0 when
// every test passed, 2 when a file was malformed or a medium missing, else 1. A failed test's
// last picture is written as NAME.fail.tga beside the JUnit report (the current folder
// without one).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "testing/TestRun.h"

namespace vexil {

// `args` are the words after "test"; `defaultRom` serves tests that name no ROM.
int RunTestCommand(const std::vector<std::string>& args, const std::string& defaultRom,
                   const std::string& fullName, std::FILE* out, std::FILE* err);

// JUnit XML for the results (one suite, "vexil").
std::string JunitReport(const std::vector<TestResult>& results);

// A result as bytes, for the pipe from a test's process, and back; false for bytes that are not
// one.
std::vector<uint8_t> PackResult(const TestResult& result);
bool UnpackResult(const std::vector<uint8_t>& bytes, TestResult& result);

}  // namespace vexil

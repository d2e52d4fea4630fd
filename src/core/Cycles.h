// The machine's one clock: CPU cycles at 8,021,247 Hz, counted from the start of the frame.
#pragma once

#include <cstdint>

namespace vexil {

using Cycles = int32_t;
// The CPU clock every chip counts time by (the PAL machine's 32.084988 MHz / 4).
constexpr int64_t kCpuClockHz = 8021247;

// A frame of the 50 Hz colour display: 313 lines of 512 cycles (the other timings are in
// video/VideoLines.h).
constexpr Cycles kCyclesPerLine = 512;
constexpr int32_t kLinesPerFrame = 313;
constexpr Cycles kCyclesPerFrame = kCyclesPerLine * kLinesPerFrame;  // 160256

}  // namespace vexil

// The frame's lines as the video chips time them: how long each line is, and so where each
// line starts and where the frame ends.
//
// Line and frame timing follow the Shifter's sync and resolution registers:
//   50 Hz   313 lines of 512 cycles   160,256 cycles a frame   sync bit 1 set
//   60 Hz   263 lines of 508 cycles   133,604 cycles a frame   sync bit 1 clear
//   71 Hz   501 lines of 224 cycles   112,224 cycles a frame   resolution 2 (the mono monitor)
// A line's length is decided at its cycle 94 with the mode in force then: a switch before that
// point changes this line, after it the next. The frame ends when the line counter reaches the
// last line of the mode in force as the line is decided; a frame whose counter is already past
// it ends with the line being decided. Line cycles count from the line's start, 16 cycles
// before its HBL; frame cycles are the CPU's clock, from the frame's start.
//
// The Shifter reports each change of mode with the cycle of the write; the frame scheduler
// decides the lines as its clock passes their decision points, and starts each frame afresh.
#pragma once

#include <cstdint>

#include "core/Cycles.h"

namespace vexil {

class StateWriter;
class StateReader;

enum VideoTiming : uint8_t { kTiming50Hz = 0, kTiming60Hz = 1, kTiming71Hz = 2 };

struct LineTiming {
    Cycles cycles;                     // a line
    int32_t lines;                     // a frame
    Cycles displayStart, displayEnd;   // display enable within a line
    int32_t firstPicture, endPicture;  // the lines with display enable: first, last + 1
    int32_t reloadLine;                // from this line on the video counter holds the base
};
// The 60 Hz and 71 Hz display windows, picture lines and reload lines are not yet checked
// against hardware: the 71 Hz picture is taken to start 35 lines into the frame, and the
// counter reloads three lines before the frame's end as at 50 Hz (310, 260, 498); the test
// programs measure these as modelled (tests/video/video-timing.s).
//                                      cycles lines start end  first end  reload
constexpr LineTiming kLineTimings[3] = {
    {512, 313, 96, 416, 63, 263, 310}, {508, 263, 92, 412, 34, 234, 260}, {224, 501, 44, 204, 35, 435, 498}};

// Resolution 2 (and 3) runs the monochrome timing whatever the sync bit; otherwise sync bit 1
// chooses 50 Hz (set) or 60 Hz. Bit 0, external sync, is taken as internal.
constexpr VideoTiming TimingOf(uint8_t sync, uint8_t resolution) {
    return (resolution & 2) ? kTiming71Hz : (sync & 2) ? kTiming50Hz : kTiming60Hz;
}

constexpr int32_t kMaxFrameLines = 512;    // the line counter's range
constexpr Cycles kLineDecisionPoint = 94;  // where a line's length is fixed

class VideoLines {
public:
    // Power-on: 50 Hz, a frame just begun.
    void PowerOn();
    // A write to the sync or resolution register selects `timing` at frame cycle `time`: the
    // lines whose decision point lies before it keep the mode they had.
    void SetTiming(Cycles time, VideoTiming timing);
    VideoTiming Timing() const { return timing_; }  // as the registers give it now

    // Fixes every line whose decision point lies at or before `time`.
    void DecideLines(Cycles time) {
        if (!complete_ && starts_[decided_] + kLineDecisionPoint <= time) DecideFrom(time);
    }
    // The line holding frame cycle `time` (deciding the lines up to it), its start and its
    // timing; a line not yet decided takes the timing in force now.
    int32_t LineAt(Cycles time);
    Cycles LineStart(int32_t line) const {
        // A decided line's start is known; the lines after them follow at today's length.
        const int32_t known = line < decided_ ? line : decided_;
        return starts_[known > 0 ? known : 0] + (line - known) * kLineTimings[timing_].cycles;
    }
    VideoTiming LineTimingOf(int32_t line) const {
        return line >= 0 && line < decided_ ? static_cast<VideoTiming>(timings_[line]) : timing_;
    }
    // The frame cycle the frame ends at, as far as its lines are decided.
    Cycles FrameEnd() const {
        if (complete_) return starts_[decided_];
        const LineTiming& t = kLineTimings[timing_];
        return starts_[decided_] + (t.lines - decided_ > 1 ? t.lines - decided_ : 1) * t.cycles;
    }
    // The frame's lines so far: a start for each decided line and the one after it.
    int32_t Decided() const { return decided_; }
    bool Complete() const { return complete_; }
    const Cycles* Starts() const { return starts_; }
    // Counts every change to the lines' starts or the timing in force, so that a reader can
    // keep what it derived from them until the next (it is not part of the state).
    uint32_t Changes() const { return changes_; }
    const uint8_t* Timings() const { return timings_; }

    // Decides what is left of the frame (it has ended) and returns its line count; then
    // NewFrame starts the next one at cycle 0 with the timing in force.
    int32_t FinishFrame();
    void NewFrame();

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);  // false: values no frame can have

private:
    void DecideFrom(Cycles time);

    VideoTiming timing_ = kTiming50Hz;
    Cycles starts_[kMaxFrameLines + 1] = {};
    uint8_t timings_[kMaxFrameLines] = {};
    int32_t decided_ = 0;
    bool complete_ = false;
    uint32_t changes_ = 0;
};

}  // namespace vexil

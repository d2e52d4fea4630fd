#include "video/VideoLines.h"

#include <algorithm>
#include <cstring>

#include "core/SaveState.h"
#include "cpu/Cpu.h"

namespace vexil {

void VideoLines::PowerOn() {
    timing_ = kTiming50Hz;
    NewFrame();
}

void VideoLines::NewFrame() {
    starts_[0] = 0;
    decided_ = 0;
    ++changes_;
    complete_ = false;
}

void VideoLines::DecideFrom(Cycles time) {
    while (!complete_ && starts_[decided_] + kLineDecisionPoint <= time) {
        const LineTiming& t = kLineTimings[timing_];
        timings_[decided_] = timing_;
        starts_[decided_ + 1] = starts_[decided_] + t.cycles;
        ++decided_;
        ++changes_;
        if (decided_ >= t.lines || decided_ == kMaxFrameLines) complete_ = true;
    }
}

void VideoLines::SetTiming(Cycles time, VideoTiming timing) {
    if (timing == timing_) return;
    DecideLines(time);
    timing_ = timing;
    ++changes_;
    // The budget the CPU runs was cut to events that may now come sooner.
    if (CpuRunning()) CpuEndSlice();
}

int32_t VideoLines::LineAt(Cycles time) {
    DecideLines(time);
    const Cycles open = starts_[decided_];
    if (time >= open) {
        // The open line's decision point is still ahead, unless the frame is complete and the
        // time lies in the next frame's lines.
        if (complete_) return decided_ + (time - open) / kLineTimings[timing_].cycles;
        return decided_;
    }
    const Cycles* after = std::upper_bound(starts_, starts_ + decided_ + 1, time);
    return std::max<int32_t>(static_cast<int32_t>(after - starts_) - 1, 0);
}

int32_t VideoLines::FinishFrame() {
    DecideLines(FrameEnd());
    return decided_;
}

void VideoLines::Save(StateWriter& out) const {
    out.BeginSection("LINE");
    out.Put(static_cast<uint8_t>(timing_));
    out.Put(static_cast<uint8_t>(complete_));
    out.Put(decided_);
    for (int32_t n = 0; n <= decided_; ++n) out.Put(starts_[n]);
    out.PutBytes(timings_, static_cast<size_t>(decided_));
}

bool VideoLines::Load(StateReader& in, bool commit) {
    uint8_t timing = 0, complete = 0;
    int32_t decided = 0;
    Cycles starts[kMaxFrameLines + 1] = {};
    uint8_t timings[kMaxFrameLines] = {};
    if (!in.BeginSection("LINE") || !in.Get(timing) || !in.Get(complete) || !in.Get(decided) ||
        timing > kTiming71Hz || complete > 1 || decided < 0 || decided > kMaxFrameLines)
        return false;
    for (int32_t n = 0; n <= decided; ++n)
        if (!in.Get(starts[n])) return false;
    if (!in.GetBytes(timings, static_cast<size_t>(decided)) || !in.EndSection() || starts[0] != 0)
        return false;
    // Each line as long as its timing makes it, and the frame complete exactly at its end.
    for (int32_t n = 0; n < decided; ++n) {
        if (timings[n] > kTiming71Hz || starts[n + 1] - starts[n] != kLineTimings[timings[n]].cycles)
            return false;
        const bool last = n + 1 >= kLineTimings[timings[n]].lines || n + 1 == kMaxFrameLines;
        if (last && n + 1 < decided) return false;
    }
    if (complete != 0 && decided == 0) return false;
    if (!commit) return true;
    timing_ = static_cast<VideoTiming>(timing);
    complete_ = complete != 0;
    decided_ = decided;
    ++changes_;
    std::memcpy(starts_, starts, sizeof starts);
    std::memcpy(timings_, timings, sizeof timings);
    return true;
}

}  // namespace vexil

#include "video/FrameScheduler.h"

#include <algorithm>
#include <cstring>

#include "app/SaveState.h"
#include "cpu/Cpu.h"

namespace vexil {

namespace {

int32_t Mod33(int32_t value) {
    return ((value % 33) + 33) % 33;
}

template <typename Hook, typename... Args>
void Call(const Hook& hook, Args... args) {
    if (hook) hook(args...);
}

}  // namespace

FrameScheduler::FrameScheduler() : snapshot_(new uint8_t[kScreenSnapshotBytes]()) {}

void FrameScheduler::PowerOn() {
    timing_ = kTiming50Hz;
    lineStart_[0] = 0;
    decidedLines_ = 0;
    frameComplete_ = false;
    hblLine_ = 0;
    lineEventOffset_ = 0;
    lastFrameLines_ = kLinesPerFrame;
    lastFrameCycles_ = kCyclesPerFrame;
    cyclesBefore_ = 0;
    sampleRemainder_ = 0;
    frameCount = 330;
    nextKeyboardTick = kKeyboardTickCycles;
    nextVbl = kVblPosition;
    nextHbl = kHblPosition;
    lineCount = 0;
    UpdateLineEvents();
    displayEnable = topBorderOpen = bottomBorderOpen = 0;
    nextEventKind = kEventNone;
    armed_ = 0;
    interlaceParity_ = false;
    lineStartCounted_ = false;
    std::memset(snapshot_.get(), 0, kScreenSnapshotBytes);
}

void FrameScheduler::Compete(Cycles due, int32_t kind, Cycles& earliest) {
    if (due < earliest) {
        earliest = due;
        nextEventKind = kind;
    }
}

// ---- line timing ------------------------------------------------------------------------------

// Fixes the length of every line whose decision point lies at or before `time`, with the mode
// in force (the Shifter reports a change before it takes effect).
void FrameScheduler::DecideLines(Cycles time) {
    while (!frameComplete_ && decidedLines_ < kMaxFrameLines &&
           lineStart_[decidedLines_] + kLineDecisionPoint <= time) {
        const LineTiming& t = kLineTimings[timing_];
        lineTiming_[decidedLines_] = timing_;
        lineStart_[decidedLines_ + 1] = lineStart_[decidedLines_] + t.cycles;
        ++decidedLines_;
        if (decidedLines_ >= t.lines || decidedLines_ == kMaxFrameLines) frameComplete_ = true;
    }
}

void FrameScheduler::SetTiming(Cycles time, VideoTiming timing) {
    if (timing == timing_) return;
    DecideLines(time);
    timing_ = timing;
    // The budget the CPU runs was cut to events that may now come sooner.
    CpuEndSlice();
}

Cycles FrameScheduler::LineStart(int32_t line) const {
    if (line <= decidedLines_) return lineStart_[std::max(line, 0)];
    return lineStart_[decidedLines_] + (line - decidedLines_) * kLineTimings[timing_].cycles;
}

int32_t FrameScheduler::LineAt(Cycles time) {
    DecideLines(time);
    const Cycles open = lineStart_[decidedLines_];
    if (time >= open) {
        if (frameComplete_) return decidedLines_ + (time - open) / kLineTimings[timing_].cycles;
        return decidedLines_;  // its decision point is still ahead
    }
    const Cycles* after = std::upper_bound(lineStart_, lineStart_ + decidedLines_ + 1, time);
    return std::max<int32_t>(static_cast<int32_t>(after - lineStart_) - 1, 0);
}

Cycles FrameScheduler::FrameEnd() const {
    if (frameComplete_) return lineStart_[decidedLines_];
    const LineTiming& t = kLineTimings[timing_];
    return lineStart_[decidedLines_] + std::max(t.lines - decidedLines_, 1) * t.cycles;
}

int32_t FrameScheduler::MachineSampleCount(Cycles frameCycles) {
    const int64_t share = sampleRemainder_ + int64_t{44100} * frameCycles;
    sampleRemainder_ = share % kCpuClockHz;
    return static_cast<int32_t>(share / kCpuClockHz);
}

// The HBL and the display-end point of the lines they wait for, as the lines' timings give them.
void FrameScheduler::UpdateLineEvents() {
    nextHbl = LineStart(hblLine_) + kHblPosition;
    const LineTiming& t = kLineTimings[LineTimingOf(lineCount)];
    nextLineEvent = LineStart(lineCount) + t.displayEnd + kLineEventDelay + lineEventOffset_;
}

int32_t FrameScheduler::ServiceEvents() {
    const Cycles now = g_cpu.clock;
    DecideLines(now);
    const Cycles frameEnd = FrameEnd();
    if (now >= frameEnd) return EndFrame();
    UpdateLineEvents();

    Mfp& mfp = *mfp_;
    mfp.TakePosted();  // from here on it tells whether a chip event posted
    Cycles earliest = frameEnd;
    nextEventKind = kEventNone;

    // 1. The display-end point of the line: the display enable signal falls there on the lines
    // that show picture (timer B's input). The first and last lines with display enable are the
    // mode's as the counter passes them.
    bool lineShownEnded = false;
    Cycles lineDue = nextLineEvent + kLineEventJitter[Mod33(frameCount - lineCount)];
    if (now >= lineDue) {
        const LineTiming& t = kLineTimings[LineTimingOf(lineCount)];
        ++lineCount;
        lineStartCounted_ = false;
        if (lineCount == t.firstPicture + 1) displayEnable = 1;
        lineShownEnded = displayEnable != 0;
        if (lineCount == t.endPicture && !bottomBorderOpen) displayEnable = 0;
        UpdateLineEvents();
        lineDue = nextLineEvent + kLineEventJitter[Mod33(frameCount - lineCount)];
    }
    Compete(lineDue, kEventTimerB, earliest);

    // 2. Timer B: in event count mode it counts the display enable signal's falling edges, or
    // with AER bit 3 its rising edges, a display's length before the line's end.
    if (mfp.CountsEvents(kTimerB)) {
        if (mfp.Register(mfp::kAer) & mfp::kAerTimerB) {
            const int32_t line = lineCount + 1;  // the line whose display starts next
            const LineTiming& t = kLineTimings[LineTimingOf(lineCount)];
            const bool shown =
                (line > t.firstPicture || topBorderOpen) && (line <= t.endPicture || bottomBorderOpen);
            const Cycles startDue = lineDue - (t.displayEnd - t.displayStart);
            if (shown && !lineStartCounted_) {
                if (now >= startDue) {
                    lineStartCounted_ = true;
                    mfp.CountEvent(kTimerB);
                } else {
                    Compete(startDue, kEventTimerB, earliest);
                }
            }
        } else if (lineShownEnded) {
            mfp.CountEvent(kTimerB);
        }
        if (mfp.TakePosted()) return Posted(kEventTimerB);
    }
    if (RunClockTimer(kTimerB, kEventTimerB, now, earliest)) return 0;

    // 3. Timer A, then what drives its input (the STE's DMA sound).
    if (RunClockTimer(kTimerA, kEventTimerA, now, earliest)) return 0;
    if (RunChipEvents(kEventTimerA, now, earliest)) return 0;

    // 4-5. The floppy controller and the ACIAs with the keyboard processor.
    if (RunChipEvents(kEventFdc, now, earliest)) return 0;
    if (RunChipEvents(kEventAcia, now, earliest)) return 0;
    if (RunKeyboard(now, earliest)) return 0;

    // 6-7. Timers C and D.
    if (RunClockTimer(kTimerC, kEventTimerC, now, earliest)) return 0;
    if (RunClockTimer(kTimerD, kEventTimerD, now, earliest)) return 0;

    // 8-9. VBL and HBL. A refused one (its level still waiting) is dropped.
    if (now >= nextVbl) {
        nextVbl += kCyclesPerFrame;
        if (interruptSink(4, -1) == 0) return Posted(kEventVbl);
    } else {
        Compete(nextVbl, kEventVbl, earliest);
    }
    if (now >= nextHbl) {
        ++hblLine_;
        nextHbl = LineStart(hblLine_) + kHblPosition;
        if (interruptSink(2, -1) == 0) return Posted(kEventHbl);
    } else {
        Compete(nextHbl, kEventHbl, earliest);
    }

    // Whole bus slots up to the next event. A source that has fallen more than one step behind
    // (a timer period shorter than the instruction that overran it) is still due: it gets the
    // shortest budget and catches up a step per call.
    return std::max<int32_t>((earliest - now + 3) & ~3, 4);
}

// A timer counting the MFP clock: its timeout when due. The MFP decides what the CPU gets.
bool FrameScheduler::RunClockTimer(MfpTimerId id, int32_t kind, Cycles now, Cycles& earliest) {
    Mfp& mfp = *mfp_;
    if (!mfp.CountsClock(id)) return false;
    if (now >= mfp.Expiry(id)) {
        mfp.Timeout(id);
        if (mfp.TakePosted()) {
            nextEventKind = kind;
            return true;
        }
    }
    Compete(mfp.Expiry(id), kind, earliest);
    return false;
}

int FrameScheduler::RegisterEvent(EventKind kind, EventHandler handler, void* context) {
    if (eventCount_ == kMaxChipEvents || handler == nullptr) return -1;
    events_[eventCount_] = ChipEvent{handler, context, kind, 0};
    return eventCount_++;
}

void FrameScheduler::Schedule(int event, Cycles due) {
    events_[event].due = due;
    armed_ |= 1u << event;
}

void FrameScheduler::Cancel(int event) {
    armed_ &= ~(1u << event);
}

// Runs the due events of one source. A chip whose event made the MFP post an interrupt ends
// the call, as the scheduler's own sources do.
bool FrameScheduler::RunChipEvents(int32_t kind, Cycles now, Cycles& earliest) {
    for (int n = 0; n < eventCount_; ++n) {
        ChipEvent& event = events_[n];
        if (event.kind != kind || !Scheduled(n)) continue;
        if (now >= event.due) {
            Cancel(n);
            event.handler(event.context, event.due);
            if (mfp_->TakePosted()) {
                nextEventKind = kind;
                return true;
            }
        }
        if (Scheduled(n)) Compete(event.due, kind, earliest);
    }
    return false;
}

bool FrameScheduler::RunKeyboard(Cycles now, Cycles& earliest) {
    if (now >= nextKeyboardTick) {
        nextKeyboardTick += kKeyboardTickCycles;
        Call(hooks.keyboardTick);
        if (mfp_->TakePosted()) {
            nextEventKind = kEventAcia;
            return true;
        }
    }
    Compete(nextKeyboardTick, kEventAcia, earliest);
    return false;
}

void FrameScheduler::Save(StateWriter& out) const {
    out.BeginSection("SCHD");
    for (int32_t v : {nextLineEvent, lineCount, frameCount, nextHbl, nextVbl, nextKeyboardTick, nextEventKind,
                      frameSampleCount, synthesisedSampleCount})
        out.Put(v);
    for (uint32_t v : {displayEnable, topBorderOpen, bottomBorderOpen, armed_}) out.Put(v);
    out.Put(static_cast<uint8_t>(interlaceParity_));
    out.Put(static_cast<uint8_t>(lineStartCounted_));
    out.Put(eventCount_);
    for (int n = 0; n < eventCount_; ++n) out.Put(events_[n].due);
    out.PutBytes(snapshot_.get(), kScreenSnapshotBytes);
    // The line timing of the frame so far.
    out.Put(static_cast<uint8_t>(timing_));
    out.Put(static_cast<uint8_t>(frameComplete_));
    for (int32_t v : {decidedLines_, hblLine_, lineEventOffset_, lastFrameLines_, lastFrameCycles_})
        out.Put(v);
    out.Put(cyclesBefore_);
    out.Put(sampleRemainder_);
    for (int32_t n = 0; n <= decidedLines_; ++n) out.Put(lineStart_[n]);
    out.PutBytes(lineTiming_, static_cast<size_t>(decidedLines_));
}

bool FrameScheduler::Load(StateReader& in, bool commit) {
    int32_t lineEvent, lines, frames, hbl, vbl, keyboard, kind, samples, synthesised, count;
    uint32_t display, top, bottom, armed;
    uint8_t parity, startCounted;
    Cycles due[kMaxChipEvents] = {};
    if (!in.BeginSection("SCHD")) return false;
    bool ok = in.Get(lineEvent) && in.Get(lines) && in.Get(frames) && in.Get(hbl) && in.Get(vbl) &&
              in.Get(keyboard) && in.Get(kind) && in.Get(samples) && in.Get(synthesised) && in.Get(display) &&
              in.Get(top) && in.Get(bottom) && in.Get(armed) && in.Get(parity) && in.Get(startCounted) &&
              in.Get(count) && count == eventCount_;
    for (int n = 0; ok && n < eventCount_; ++n) ok = in.Get(due[n]) && PlausibleCycles(due[n]);
    const uint8_t* snapshot = ok ? in.View(kScreenSnapshotBytes) : nullptr;
    uint8_t timing = 0, complete = 0;
    int32_t decided = 0, hblLine = 0, offset = 0, lastLines = 0, lastCycles = 0;
    int64_t cyclesBefore = 0, remainder = 0;
    ok = snapshot != nullptr && in.Get(timing) && in.Get(complete) && in.Get(decided) && in.Get(hblLine) &&
         in.Get(offset) && in.Get(lastLines) && in.Get(lastCycles) && in.Get(cyclesBefore) &&
         in.Get(remainder) && timing <= kTiming71Hz && complete <= 1 && decided >= 0 &&
         decided <= kMaxFrameLines && hblLine >= 0 && hblLine <= kMaxFrameLines + 1 &&
         (offset == 0 || offset == 4) && lastLines > 0 && lastLines <= kMaxFrameLines && lastCycles > 0 &&
         lastCycles <= kMaxFrameLines * 512 && cyclesBefore >= 0 && remainder >= 0 && remainder < kCpuClockHz;
    Cycles starts[kMaxFrameLines + 1] = {};
    uint8_t timings[kMaxFrameLines] = {};
    for (int32_t n = 0; ok && n <= decided; ++n) {
        // Each line as long as its timing makes it.
        ok = in.Get(starts[n]) && PlausibleCycles(starts[n]) && (n > 0 || starts[0] == 0);
    }
    ok = ok && in.GetBytes(timings, static_cast<size_t>(decided));
    for (int32_t n = 0; ok && n < decided; ++n)
        ok = timings[n] <= kTiming71Hz && starts[n + 1] - starts[n] == kLineTimings[timings[n]].cycles;
    if (!ok || !in.EndSection()) return false;
    for (int32_t v : {lineEvent, hbl, vbl, keyboard, frames})
        if (!PlausibleCycles(v)) return false;
    if (lines < 0 || lines > kMaxFrameLines + 1 || kind < kEventVbl || kind > kEventNone || samples < 0 ||
        samples > 4096 || synthesised < 0 || synthesised > 4096 || (armed >> eventCount_) != 0)
        return false;
    if (!commit) return true;
    nextLineEvent = lineEvent, lineCount = lines, frameCount = frames, nextHbl = hbl, nextVbl = vbl;
    nextKeyboardTick = keyboard, nextEventKind = kind, frameSampleCount = samples;
    synthesisedSampleCount = synthesised;
    displayEnable = display, topBorderOpen = top, bottomBorderOpen = bottom, armed_ = armed;
    interlaceParity_ = parity != 0;
    lineStartCounted_ = startCounted != 0;
    for (int n = 0; n < eventCount_; ++n) events_[n].due = due[n];
    std::memcpy(snapshot_.get(), snapshot, kScreenSnapshotBytes);
    timing_ = static_cast<VideoTiming>(timing), frameComplete_ = complete != 0, decidedLines_ = decided;
    hblLine_ = hblLine, lineEventOffset_ = offset, lastFrameLines_ = lastLines, lastFrameCycles_ = lastCycles;
    cyclesBefore_ = cyclesBefore, sampleRemainder_ = remainder;
    std::memcpy(lineStart_, starts, sizeof starts);
    std::memcpy(lineTiming_, timings, sizeof timings);
    return true;
}

void FrameScheduler::TakeSnapshot(uint32_t videoBase) {
    if (ram_ == nullptr) return;
    // The video address counter has 22 bits: a screen near the top of RAM wraps to address 0.
    // The base is taken whole-word so that the copy keeps the host word order.
    const uint32_t first = videoBase & 0x3FFFFE;
    const uint32_t head = std::min<uint32_t>(kScreenSnapshotBytes, kRamBytes - first);
    std::memcpy(snapshot_.get(), ram_ + first, head);
    std::memcpy(snapshot_.get() + head, ram_, kScreenSnapshotBytes - head);
}

int32_t FrameScheduler::EndFrame() {
    const Cycles frameCycles = FrameEnd();
    lastFrameLines_ = frameComplete_ ? decidedLines_ : kLineTimings[timing_].lines;
    lastFrameCycles_ = frameCycles;
    // A frame cut short by the clock never deciding its last lines gets their starts now.
    for (int32_t line = decidedLines_ + 1; line <= lastFrameLines_ && line <= kMaxFrameLines; ++line)
        lineStart_[line] = LineStart(line);
    for (int32_t line = decidedLines_; line < lastFrameLines_ && line < kMaxFrameLines; ++line)
        lineTiming_[line] = timing_;

    // The picture.
    Call(hooks.profile, ProfileMark::kGraphicsStart);
    Call(hooks.terminateVideoLog);
    BackBuffer buffer = hooks.lockBackBuffer ? hooks.lockBackBuffer() : BackBuffer{};
    if (buffer.pixels != nullptr) {
        if (softwareMode == 2 && !useTexture && !monoMonitor) {
            // Interlace: every other frame one host line lower.
            if (interlaceParity_) buffer.pixels += buffer.pitchBytes / 2;
            interlaceParity_ = !interlaceParity_;
        }
        Call(hooks.renderFrame, buffer);
        Call(hooks.drawOverlays, buffer);
        Call(hooks.unlockAndDraw);
    }
    Call(hooks.profile, ProfileMark::kGraphicsStop);
    Call(hooks.present);

    // The sound.
    Call(hooks.terminateSoundLog);
    machineSampleCount = MachineSampleCount(frameCycles);
    frameSampleCount =
        hooks.chooseSampleCount ? hooks.chooseSampleCount(machineSampleCount) : machineSampleCount;
    Call(hooks.runDmaSound);
    Call(hooks.profile, ProfileMark::kFrameStop);
    // A count outside 1-4096 sends no sound, but the frame is still synthesised so that its
    // sound-chip writes take effect.
    Call(hooks.profile, ProfileMark::kSoundStart);
    Call(hooks.produceSound, frameSampleCount);
    if (frameSampleCount >= 1 && frameSampleCount <= 4096) synthesisedSampleCount = frameSampleCount;
    Call(hooks.profile, ProfileMark::kSoundStop);
    Call(hooks.pollJoystick);
    Call(hooks.profile, ProfileMark::kFrameStart);

    // Carry the cycles over into the next frame.
    g_cpu.clock -= frameCycles;
    cyclesBefore_ += frameCycles;
    mfp_->CarryTimers(frameCycles);
    for (int n = 0; n < eventCount_; ++n)
        if (Scheduled(n)) events_[n].due -= frameCycles;
    hblLine_ = std::max(hblLine_ - lastFrameLines_, 0);
    nextKeyboardTick -= frameCycles;
    nextVbl = kVblPosition;
    lineStart_[0] = 0;
    decidedLines_ = 0;
    frameComplete_ = false;

    // Prepare the next frame.
    Call(hooks.startVideoFrame);
    Call(hooks.startSoundFrame);
    displayEnable = topBorderOpen = bottomBorderOpen = 0;
    lineCount = 0;
    lineEventOffset_ = kLineEventJitter[Mod33(frameCount)];
    ++frameCount;
    UpdateLineEvents();
    const uint32_t base = hooks.videoBase ? hooks.videoBase() : 0;
    TakeSnapshot(base);
    if (tables_ != nullptr) MemorySetScreenWatch(*tables_, base);
    Call(hooks.resetLineWindows);
    return -1;
}

}  // namespace vexil

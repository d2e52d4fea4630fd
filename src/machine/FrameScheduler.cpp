#include "machine/FrameScheduler.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/SaveState.h"
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
    lines.PowerOn();
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
    border.displayEnable = border.topBorderOpen = border.bottomBorderOpen = 0;
    nextEventKind = kEventNone;
    events.CancelAll();
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

int32_t FrameScheduler::MachineSampleCount(Cycles frameCycles) {
    const int64_t share = sampleRemainder_ + int64_t{44100} * frameCycles;
    sampleRemainder_ = share % kCpuClockHz;
    return static_cast<int32_t>(share / kCpuClockHz);
}

// The HBL and the display-end point of the lines they wait for, as the lines' timings give them.
void FrameScheduler::UpdateLineEvents() {
    nextHbl = lines.LineStart(hblLine_) + kHblPosition;
    const LineTiming& t = kLineTimings[lines.LineTimingOf(lineCount)];
    nextLineEvent = lines.LineStart(lineCount) + t.displayEnd + kLineEventDelay + lineEventOffset_;
    lineDue_ = nextLineEvent + kLineEventJitter[Mod33(frameCount - lineCount)];
    linesSeen_ = lines.Changes();
    lineEventsStale_ = false;
}

// A timer counting the MFP clock: its timeout when due. The MFP decides what the CPU gets. A
// timer whose timeouts nobody can see posts no events; the MFP computes it when it is read.
inline bool FrameScheduler::RunClockTimer(MfpTimerId id, int32_t kind, Cycles now, Cycles& earliest) {
    Mfp& mfp = *mfp_;
    if (!mfp.TimeoutsSeen(id)) return false;
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

inline bool FrameScheduler::RunKeyboard(Cycles now, Cycles& earliest) {
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

int32_t FrameScheduler::ServiceEvents() {
    const Cycles now = g_cpu.clock;
    lines.DecideLines(now);
    const Cycles frameEnd = lines.FrameEnd();
    if (now >= frameEnd) return EndFrame();
    // The lines' starts change as they are decided and with the mode; in between, what was
    // derived from them holds.
    if (lineEventsStale_ || lines.Changes() != linesSeen_) UpdateLineEvents();

    Mfp& mfp = *mfp_;
    mfp.TakePosted();  // from here on it tells whether a chip event posted
    Cycles earliest = frameEnd;
    nextEventKind = kEventNone;

    // 1. The display-end point of the line: the display enable signal falls there on the lines
    // that show picture (timer B's input). The first and last lines with display enable are the
    // mode's as the counter passes them.
    bool lineShownEnded = false;
    if (now >= lineDue_) {
        const LineTiming& t = kLineTimings[lines.LineTimingOf(lineCount)];
        ++lineCount;
        lineStartCounted_ = false;
        if (lineCount == t.firstPicture + 1) border.displayEnable = 1;
        lineShownEnded = border.displayEnable != 0;
        if (lineCount == t.endPicture && !border.bottomBorderOpen) border.displayEnable = 0;
        UpdateLineEvents();
    }
    const Cycles lineDue = lineDue_;
    Compete(lineDue, kEventTimerB, earliest);

    // 2. Timer B: in event count mode it counts the display enable signal's falling edges, or
    // with AER bit 3 its rising edges, a display's length before the line's end.
    if (mfp.CountsEvents(kTimerB)) {
        if (mfp.Register(mfp::kAer) & mfp::kAerTimerB) {
            const int32_t line = lineCount + 1;  // the line whose display starts next
            const LineTiming& t = kLineTimings[lines.LineTimingOf(lineCount)];
            const bool shown = (line > t.firstPicture || border.topBorderOpen) &&
                               (line <= t.endPicture || border.bottomBorderOpen);
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

    // 6-7. Timers C and D, then what timer D's output clocks (the MFP's USART).
    if (RunClockTimer(kTimerC, kEventTimerC, now, earliest)) return 0;
    if (RunClockTimer(kTimerD, kEventTimerD, now, earliest)) return 0;
    if (RunChipEvents(kEventTimerD, now, earliest)) return 0;

    // 8-9. VBL and HBL. A refused one (its level still waiting) is dropped.
    if (now >= nextVbl) {
        nextVbl += kCyclesPerFrame;
        if (interruptSink(4, -1) == 0) return Posted(kEventVbl);
    } else {
        Compete(nextVbl, kEventVbl, earliest);
    }
    if (now >= nextHbl) {
        ++hblLine_;
        nextHbl = lines.LineStart(hblLine_) + kHblPosition;
        if (interruptSink(2, -1) == 0) return Posted(kEventHbl);
    } else {
        Compete(nextHbl, kEventHbl, earliest);
    }

    // Whole bus slots up to the next event. A source that has fallen more than one step behind
    // (a timer period shorter than the instruction that overran it) is still due: it gets the
    // shortest budget and catches up a step per call.
    return std::max<int32_t>((earliest - now + 3) & ~3, 4);
}

// Runs the due events of one source. A chip whose event made the MFP post an interrupt ends
// the call, as the scheduler's own sources do.
bool FrameScheduler::RunScheduledEvents(EventKind kind, Cycles now, Cycles& earliest) {
    // Only the scheduled events of this kind, in registration order. A handler may schedule or
    // cancel events: after each, the set is read again from the next event on.
    for (uint32_t pending = events.ScheduledOf(kind); pending != 0;) {
        const int n = std::countr_zero(pending);
        if (now >= events.Due(n)) {
            events.Fire(n);
            if (mfp_->TakePosted()) {
                nextEventKind = kind;
                return true;
            }
        }
        if (events.Scheduled(n)) Compete(events.Due(n), kind, earliest);
        pending = events.ScheduledOf(kind) & (~1u << n);
    }
    return false;
}

// The section "SCHD" in file order: the counters, the chip events' times, the screen snapshot
// and the frame's totals; the line timing follows in a section of its own.
template <class Archive, class State, class Times>
void FrameScheduler::SectionFields(Archive& a, State& s, Times& times, RawBytes& screen) {
    a(s.nextLineEvent)(s.lineCount)(s.frameCount)(s.nextHbl)(s.nextVbl)(s.nextKeyboardTick)(s.nextEventKind);
    a(s.frameSampleCount)(s.synthesisedSampleCount);
    a(s.border.displayEnable)(s.border.topBorderOpen)(s.border.bottomBorderOpen)(times.armed);
    a(s.interlaceParity_)(s.lineStartCounted_)(times.count);
    a.Each(times.due, static_cast<size_t>(std::clamp(times.count, 0, kMaxChipEvents)));
    a(screen);
    a(s.hblLine_)(s.lineEventOffset_)(s.lastFrameLines_)(s.lastFrameCycles_)(s.machineSampleCount);
    a(s.cyclesBefore_)(s.sampleRemainder_);
}

void FrameScheduler::Save(StateWriter& out) const {
    const EventTimes times = events.Times();
    RawBytes screen{snapshot_.get(), kScreenSnapshotBytes};
    out.BeginSection("SCHD");
    SectionFields(out, static_cast<const SchedulerState&>(*this), times, screen);
    lines.Save(out);
}

bool FrameScheduler::Load(StateReader& in, bool commit) {
    SchedulerState s;
    EventTimes times;
    RawBytes screen{nullptr, kScreenSnapshotBytes};
    if (!in.BeginSection("SCHD")) return false;
    SectionFields(in, s, times, screen);
    if (!in.EndSection() || screen.data == nullptr || times.count != events.Count() ||
        (times.armed >> events.Count()) != 0)
        return false;
    for (int n = 0; n < times.count; ++n)
        if (!PlausibleCycles(times.due[n])) return false;
    if (s.hblLine_ < 0 || s.hblLine_ > kMaxFrameLines + 1 ||
        (s.lineEventOffset_ != 0 && s.lineEventOffset_ != 4) || s.lastFrameLines_ <= 0 ||
        s.lastFrameLines_ > kMaxFrameLines || s.lastFrameCycles_ <= 0 ||
        s.lastFrameCycles_ > kMaxFrameLines * kCyclesPerLine || s.machineSampleCount < 0 ||
        s.machineSampleCount > 4096 || s.cyclesBefore_ < 0 || s.sampleRemainder_ < 0 ||
        s.sampleRemainder_ >= kCpuClockHz || !lines.Load(in, commit))
        return false;
    for (int32_t v : {s.nextLineEvent, s.nextHbl, s.nextVbl, s.nextKeyboardTick, s.frameCount})
        if (!PlausibleCycles(v)) return false;
    if (s.lineCount < 0 || s.lineCount > kMaxFrameLines + 1 || s.nextEventKind < kEventVbl ||
        s.nextEventKind > kEventNone || s.frameSampleCount < 0 || s.frameSampleCount > 4096 ||
        s.synthesisedSampleCount < 0 || s.synthesisedSampleCount > 4096)
        return false;
    if (!commit) return true;
    static_cast<SchedulerState&>(*this) = s;
    lineEventsStale_ = true;
    events.Restore(times);
    std::memcpy(snapshot_.get(), screen.data, kScreenSnapshotBytes);
    return true;
}

void FrameScheduler::TakeSnapshot(uint32_t videoBase) {
    if (ram_ == nullptr) return;
    // The video address counter has 22 bits: a screen near the top of RAM wraps to address 0.
    // The base is taken whole-word so that the copy keeps the host word order.
    const uint32_t first = videoBase & 0x3FFFFE;
    if (banks_ != nullptr && !banks_->Identity()) {
        // The video reads RAM through the banks' decoding like everything else.
        for (uint32_t i = 0; i < kScreenSnapshotBytes; i += 2) {
            const uint32_t offset = banks_->Decode((first + i) & 0x3FFFFE);
            StoreHostWord(snapshot_.get() + i, offset == kNoRam ? 0xFFFF : LoadHostWord(ram_ + offset));
        }
        return;
    }
    const uint32_t head = std::min<uint32_t>(kScreenSnapshotBytes, kRamBytes - first);
    std::memcpy(snapshot_.get(), ram_ + first, head);
    std::memcpy(snapshot_.get() + head, ram_, kScreenSnapshotBytes - head);
    // A screen reaching above the fitted RAM shows the floating bus there, not what writes
    // left in the unused block.
    const uint32_t fitted = banks_ != nullptr ? banks_->FittedBytes() : kRamBytes;
    if (first + kScreenSnapshotBytes > fitted) {
        for (uint32_t i = 0; i < kScreenSnapshotBytes; i += 2)
            if (((first + i) & 0x3FFFFE) >= fitted) StoreHostWord(snapshot_.get() + i, 0xFFFF);
    }
}

int32_t FrameScheduler::EndFrame() {
    lastFrameCycles_ = lines.FrameEnd();
    lastFrameLines_ = lines.FinishFrame();

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
    machineSampleCount = MachineSampleCount(lastFrameCycles_);
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
    const Cycles frameCycles = lastFrameCycles_;
    g_cpu.clock -= frameCycles;
    cyclesBefore_ += frameCycles;
    mfp_->CarryTimers(frameCycles);
    events.Shift(frameCycles);
    hblLine_ = std::max(hblLine_ - lastFrameLines_, 0);
    nextKeyboardTick -= frameCycles;
    nextVbl = kVblPosition;
    lines.NewFrame();

    // Prepare the next frame.
    Call(hooks.startVideoFrame);
    Call(hooks.startSoundFrame);
    border.displayEnable = border.topBorderOpen = border.bottomBorderOpen = 0;
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

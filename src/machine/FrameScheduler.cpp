#include "machine/FrameScheduler.h"

#include <algorithm>
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
    frameCount = 330;
    nextKeyboardTick = kKeyboardTickCycles;
    nextVbl = kVblPosition;
    nextHbl = kHblPosition;
    nextLineEvent = kLineEventPosition;
    lineCount = 0;
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

int32_t FrameScheduler::ServiceEvents() {
    const Cycles now = g_cpu.clock;
    if (now >= kCyclesPerFrame) return EndFrame();

    Mfp& mfp = *mfp_;
    mfp.TakePosted();  // from here on it tells whether a chip event posted
    Cycles earliest = kCyclesPerFrame;
    nextEventKind = kEventNone;

    // 1. The display-end point of the line: the display enable signal falls there on the lines
    // that show picture (timer B's input).
    bool lineShownEnded = false;
    Cycles lineDue = nextLineEvent + kLineEventJitter[Mod33(frameCount - lineCount)];
    if (now >= lineDue) {
        nextLineEvent += kCyclesPerLine;
        ++lineCount;
        lineStartCounted_ = false;
        if (lineCount == kFirstCountedLine) border.displayEnable = 1;
        lineShownEnded = border.displayEnable != 0;
        if (lineCount == kLastCountedLine && !border.bottomBorderOpen) border.displayEnable = 0;
        lineDue = nextLineEvent + kLineEventJitter[Mod33(frameCount - lineCount)];
    }
    Compete(lineDue, kEventTimerB, earliest);

    // 2. Timer B: in event count mode it counts the display enable signal's falling edges, or
    // with AER bit 3 its rising edges, kDisplayCycles before the line's end.
    if (mfp.CountsEvents(kTimerB)) {
        if (mfp.Register(mfp::kAer) & mfp::kAerTimerB) {
            const int32_t line = lineCount + 1;  // the line whose display starts next
            const bool shown = (line >= kFirstCountedLine || border.topBorderOpen) &&
                               (line <= kLastCountedLine || border.bottomBorderOpen);
            const Cycles startDue = lineDue - kDisplayCycles;
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
        nextHbl += kCyclesPerLine;
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

// Runs the due events of one source. A chip whose event made the MFP post an interrupt ends
// the call, as the scheduler's own sources do.
bool FrameScheduler::RunChipEvents(int32_t kind, Cycles now, Cycles& earliest) {
    for (int n = 0; n < events.Count(); ++n) {
        if (events.Kind(n) != kind || !events.Scheduled(n)) continue;
        if (now >= events.Due(n)) {
            events.Fire(n);
            if (mfp_->TakePosted()) {
                nextEventKind = kind;
                return true;
            }
        }
        if (events.Scheduled(n)) Compete(events.Due(n), kind, earliest);
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
    for (uint32_t v : {border.displayEnable, border.topBorderOpen, border.bottomBorderOpen, events.Armed()})
        out.Put(v);
    out.Put(static_cast<uint8_t>(interlaceParity_));
    out.Put(static_cast<uint8_t>(lineStartCounted_));
    out.Put(static_cast<int32_t>(events.Count()));
    for (int n = 0; n < events.Count(); ++n) out.Put(events.Due(n));
    out.PutBytes(snapshot_.get(), kScreenSnapshotBytes);
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
              in.Get(count) && count == events.Count();
    for (int n = 0; ok && n < events.Count(); ++n) ok = in.Get(due[n]) && PlausibleCycles(due[n]);
    const uint8_t* snapshot = ok ? in.View(kScreenSnapshotBytes) : nullptr;
    if (snapshot == nullptr || !in.EndSection()) return false;
    for (int32_t v : {lineEvent, hbl, vbl, keyboard, frames})
        if (!PlausibleCycles(v)) return false;
    if (lines < 0 || lines > kLinesPerFrame + 1 || kind < kEventVbl || kind > kEventNone || samples < 0 ||
        samples > 4096 || synthesised < 0 || synthesised > 4096 || (armed >> events.Count()) != 0)
        return false;
    if (!commit) return true;
    nextLineEvent = lineEvent, lineCount = lines, frameCount = frames, nextHbl = hbl, nextVbl = vbl;
    nextKeyboardTick = keyboard, nextEventKind = kind, frameSampleCount = samples;
    synthesisedSampleCount = synthesised;
    border.displayEnable = display, border.topBorderOpen = top, border.bottomBorderOpen = bottom;
    events.Restore(armed, due);
    interlaceParity_ = parity != 0;
    lineStartCounted_ = startCounted != 0;
    std::memcpy(snapshot_.get(), snapshot, kScreenSnapshotBytes);
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
    // The picture.
    Call(hooks.profile, ProfileMark::kGraphicsStart);
    Call(hooks.terminateVideoLog);
    BackBuffer buffer = hooks.lockBackBuffer ? hooks.lockBackBuffer() : BackBuffer{};
    if (buffer.pixels != nullptr) {
        if (softwareMode == 2 && !useTexture) {
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
    frameSampleCount = hooks.chooseSampleCount ? hooks.chooseSampleCount() : kSamplesPerFrame;
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
    g_cpu.clock -= kCyclesPerFrame;
    mfp_->CarryTimers(kCyclesPerFrame);
    events.Shift(kCyclesPerFrame);
    nextHbl -= kCyclesPerFrame;
    nextKeyboardTick -= kCyclesPerFrame;
    nextVbl = kVblPosition;

    // Prepare the next frame.
    Call(hooks.startVideoFrame);
    Call(hooks.startSoundFrame);
    border.displayEnable = border.topBorderOpen = border.bottomBorderOpen = 0;
    lineCount = 0;
    nextLineEvent = kLineEventPosition + kLineEventJitter[Mod33(frameCount)];
    ++frameCount;
    const uint32_t base = hooks.videoBase ? hooks.videoBase() : 0;
    TakeSnapshot(base);
    if (tables_ != nullptr) MemorySetScreenWatch(*tables_, base);
    Call(hooks.resetLineWindows);
    return -1;
}

}  // namespace vexil

#include "video/FrameScheduler.h"

#include <algorithm>
#include <cstring>

#include "cpu/Cpu.h"
#include "io/IoState.h"

namespace vexil {

namespace {

int32_t Mod33(int32_t value) {
    return ((value % 33) + 33) % 33;
}

template <typename Hook, typename... Args>
void Call(const Hook& hook, Args... args) {
    if (hook) hook(args...);
}

bool CpuMaskedAll() {
    return (CpuGetSr() & kSrMask) == kSrMask;
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
    displayEnable = topBorderOpen = bottomBorderOpen = 0;
    nextEventKind = kEventNone;
    floppy = FloppyEvent{};
    interlaceParity_ = false;
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

    Mfp& mfp = g_io.mfp;
    mfp.BeginService();
    Cycles earliest = kCyclesPerFrame;
    nextEventKind = kEventNone;

    // 1. The display-end point of the line.
    bool linePassed = false;
    Cycles lineDue = nextLineEvent + kLineEventJitter[Mod33(frameCount - lineCount)];
    if (now >= lineDue) {
        nextLineEvent += kCyclesPerLine;
        ++lineCount;
        linePassed = true;
        if (lineCount == kFirstCountedLine) displayEnable = 1;
        lineDue = nextLineEvent + kLineEventJitter[Mod33(frameCount - lineCount)];
    }
    Compete(lineDue, kEventTimerB, earliest);

    // 2. Timer B: counts the display lines' ends in event count mode.
    if (mfp.Retry(mfp::kChannelTimerB)) return Posted(kEventTimerB);
    if (mfp.TimerRuns(kTimerB)) {
        if (mfp.TimerBCountsEvents()) {
            if (displayEnable && linePassed) {
                if (lineCount == kLastCountedLine && !bottomBorderOpen) displayEnable = 0;
                if (mfp.CountTimerBEvent() && mfp.Request(mfp::kChannelTimerB)) return Posted(kEventTimerB);
            }
        } else if (RunDelayTimer(kTimerB, mfp::kChannelTimerB, kEventTimerB, now, earliest)) {
            return 0;
        }
    }

    // 3. Timer A. A request still waiting while the CPU masks everything is dropped.
    if (mfp.Retry(mfp::kChannelTimerA, CpuMaskedAll())) return Posted(kEventTimerA);
    if (mfp.TimerRuns(kTimerA) && RunDelayTimer(kTimerA, mfp::kChannelTimerA, kEventTimerA, now, earliest))
        return 0;

    // 4-5. The floppy controller and the keyboard processor.
    if (RunFloppy(now, earliest)) return 0;
    if (RunKeyboard(now, earliest)) return 0;

    // 6-7. Timers C and D.
    if (mfp.Retry(mfp::kChannelTimerC)) return Posted(kEventTimerC);
    if (mfp.TimerRuns(kTimerC) && RunDelayTimer(kTimerC, mfp::kChannelTimerC, kEventTimerC, now, earliest))
        return 0;
    if (mfp.Retry(mfp::kChannelTimerD)) return Posted(kEventTimerD);
    if (mfp.TimerRuns(kTimerD) && RunDelayTimer(kTimerD, mfp::kChannelTimerD, kEventTimerD, now, earliest))
        return 0;

    // 8-9. VBL and HBL. A refused one (its level still waiting) is dropped.
    const Mfp::InterruptSink raise = interruptSink ? interruptSink : CpuRaiseInterrupt;
    if (now >= nextVbl) {
        nextVbl += kCyclesPerFrame;
        if (raise(4, -1) == 0) return Posted(kEventVbl);
    } else {
        Compete(nextVbl, kEventVbl, earliest);
    }
    if (now >= nextHbl) {
        nextHbl += kCyclesPerLine;
        if (raise(2, -1) == 0) return Posted(kEventHbl);
    } else {
        Compete(nextHbl, kEventHbl, earliest);
    }

    // Whole bus slots up to the next event. A source that has fallen more than one step behind
    // (a timer period shorter than the instruction that overran it) is still due: it gets the
    // shortest budget and catches up a step per call.
    return std::max<int32_t>((earliest - now + 3) & ~3, 4);
}

bool FrameScheduler::RunDelayTimer(int timerId, int channel, int32_t kind, Cycles now, Cycles& earliest) {
    Mfp& mfp = g_io.mfp;
    const auto id = static_cast<MfpTimerId>(timerId);
    MfpTimer& timer = mfp.Timer(id);
    if (timer.period <= 0) return false;  // never started: nothing to time
    if (now >= timer.expiry) {
        timer.expiry += timer.period;
        if (CpuMaskedAll()) {
            // Timers A and B leave their request waiting; C and D let this expiry pass.
            if (id == kTimerA || id == kTimerB) mfp.SetPending(channel);
        } else if (mfp.Request(channel)) {
            nextEventKind = kind;
            return true;
        }
    }
    Compete(timer.expiry, kind, earliest);
    return false;
}

bool FrameScheduler::RunFloppy(Cycles now, Cycles& earliest) {
    Mfp& mfp = g_io.mfp;
    if (mfp.Retry(mfp::kChannelFloppy)) {
        nextEventKind = kEventFdc;
        return true;
    }
    if (floppy.phase != FloppyEvent::kNone && now >= floppy.time) {
        Call(hooks.floppyApplyDma);
        switch (floppy.phase) {
            case FloppyEvent::kCommandDone:
                Call(hooks.floppyCommandDone);
                floppy.phase = FloppyEvent::kIdle;
                floppy.time = now + kFloppyIdleCycles;
                mfp.SetInputLine(mfp::kGpipFloppy, false);  // the interrupt line is active low
                if ((mfp.Register(mfp::kIerb) & 0x80) && mfp.Request(mfp::kChannelFloppy)) {
                    nextEventKind = kEventFdc;
                    return true;
                }
                break;
            case FloppyEvent::kStep:
                if (hooks.floppyStep)
                    hooks.floppyStep(floppy.time);
                else
                    floppy.phase = FloppyEvent::kNone;
                break;
            default:  // idle time over (or a phase nobody handles)
                floppy.phase = FloppyEvent::kNone;
                Call(hooks.floppyIdle);
                break;
        }
    }
    if (floppy.phase != FloppyEvent::kNone) Compete(floppy.time, kEventFdc, earliest);
    return false;
}

bool FrameScheduler::RunKeyboard(Cycles now, Cycles& earliest) {
    Mfp& mfp = g_io.mfp;
    if (mfp.Retry(mfp::kChannelAcia)) {
        nextEventKind = kEventAcia;
        return true;
    }
    if (now >= nextKeyboardTick) {
        nextKeyboardTick += kKeyboardTickCycles;
        if (hooks.keyboardTick && hooks.keyboardTick()) {
            mfp.SetInputLine(mfp::kGpipAcia, false);
            if ((mfp.Register(mfp::kIerb) & 0x40) && mfp.Request(mfp::kChannelAcia)) {
                nextEventKind = kEventAcia;
                return true;
            }
        }
    }
    Compete(nextKeyboardTick, kEventAcia, earliest);
    return false;
}

void FrameScheduler::CarryTimers() {
    Mfp& mfp = g_io.mfp;
    for (MfpTimerId id : {kTimerA, kTimerB, kTimerC, kTimerD}) {
        if (!mfp.TimerRuns(id) || (id == kTimerB && mfp.TimerBCountsEvents())) continue;
        mfp.Timer(id).expiry -= kCyclesPerFrame;
    }
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
    if (frameSampleCount >= 1 && frameSampleCount <= 4096) {
        Call(hooks.profile, ProfileMark::kSoundStart);
        Call(hooks.produceSound, frameSampleCount);
        synthesisedSampleCount = frameSampleCount;
        Call(hooks.profile, ProfileMark::kSoundStop);
    }
    Call(hooks.pollJoystick);
    Call(hooks.profile, ProfileMark::kFrameStart);

    // Carry the cycles over into the next frame.
    g_cpu.clock -= kCyclesPerFrame;
    CarryTimers();
    if (floppy.phase != FloppyEvent::kNone) floppy.time -= kCyclesPerFrame;
    nextHbl -= kCyclesPerFrame;
    nextKeyboardTick -= kCyclesPerFrame;
    nextVbl = kVblPosition;

    // Prepare the next frame.
    Call(hooks.startVideoFrame);
    Call(hooks.startSoundFrame);
    displayEnable = topBorderOpen = bottomBorderOpen = 0;
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

// The frame scheduler: the clock of the emulated machine.
//
// The CPU runs freely for a budget of cycles that always ends at the next moment something
// outside it has to happen. ServiceEvents then performs everything that has fallen due, posts
// at most one interrupt, and hands out the next budget. A frame is 313 lines of 512 cycles; the
// frame cycle counter is the CPU's cycle clock (g_cpu.clock), carried over at each frame end.
//
// Sources, in the order they are checked (on equal times the earlier one ends the budget):
//   line event   display-end point of each line, 432 + 512 n plus jitter; counts timer B
//   timer B      MFP channel 8       timer A      MFP channel 13
//   floppy       the controller's pending action, MFP channel 7
//   keyboard     one tick every 10016 cycles, free-running across frames; MFP channel 6
//   timer C      MFP channel 5       timer D      MFP channel 4
//   VBL          frame cycle 80, level 4 autovector
//   HBL          cycle 16 of every line, level 2 autovector
//
// Parts of the machine that are not emulated here (floppy controller, keyboard processor,
// Shifter, renderer, display, sound, joystick, overlay) are reached through the hooks below;
// an empty hook is skipped, so a bare machine runs frame after frame with none set.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "memory/Memory.h"

namespace vexil {

enum EventKind : int32_t {
    kEventVbl = 0,
    kEventHbl = 1,
    kEventTimerA = 2,
    kEventTimerB = 3,
    kEventTimerC = 4,
    kEventTimerD = 5,
    kEventAcia = 6,
    kEventFdc = 7,
    kEventNone = 8,  // the frame end
};

constexpr Cycles kCyclesPerLine = 512;
constexpr int32_t kLinesPerFrame = 313;
constexpr Cycles kCyclesPerFrame = kCyclesPerLine * kLinesPerFrame;  // 160256
constexpr Cycles kVblPosition = 80;
constexpr Cycles kHblPosition = 16;
constexpr Cycles kLineEventPosition = 432;
constexpr int32_t kFirstCountedLine = 64;
constexpr int32_t kLastCountedLine = 263;
constexpr Cycles kKeyboardTickCycles = 10016;
constexpr Cycles kFloppyIdleCycles = 14400000;
constexpr int32_t kSamplesPerFrame = 881;
constexpr uint32_t kScreenSnapshotBytes = 0x10000;

// Extra delay (0 or 4 cycles) of a line's display-end point, indexed by
// (frameCount - lineCount) mod 33; entry frameCount mod 33 also offsets the whole frame.
constexpr int32_t kLineEventJitter[33] = {0, 0, 0, 0, 4, 0, 4, 0, 0, 4, 0, 4, 0, 4, 0, 0, 4,
                                          0, 4, 0, 4, 0, 0, 4, 0, 4, 0, 4, 0, 0, 4, 0, 4};

// The floppy controller's scheduled action. The controller sets it; the scheduler runs it
// when `time` is reached and moves `time` back at each frame end while `phase` is not 0.
struct FloppyEvent {
    enum Phase : int32_t { kNone = 0, kCommandDone = 1, kIdle = 2, kStep = 3 };
    int32_t phase = kNone;
    Cycles time = 0;
};

// The host back buffer, as the display's lock hands it out; null pixels when it is not there.
struct BackBuffer {
    uint16_t* pixels = nullptr;
    int32_t pitchBytes = 0;
};

enum class ProfileMark { kGraphicsStart, kGraphicsStop, kSoundStart, kSoundStop, kFrameStop, kFrameStart };

struct SchedulerHooks {
    // During the frame.
    std::function<void()> floppyApplyDma;        // a deferred DMA address update, before the action
    std::function<void()> floppyCommandDone;     // pending status becomes the status
    std::function<void(Cycles due)> floppyStep;  // the controller's own step; may reschedule
    std::function<void()> floppyIdle;            // idle time over: busy, status, drive sound reset
    // One keyboard processor tick; returns true when it put a byte into the ACIA's receive
    // register (the ACIA then pulls MFP input 4 low).
    std::function<bool()> keyboardTick;

    // At the frame end, in call order.
    std::function<void(ProfileMark)> profile;
    std::function<void()> terminateVideoLog;
    std::function<BackBuffer()> lockBackBuffer;
    std::function<void(BackBuffer)> renderFrame;   // replays the video log over the snapshot
    std::function<void(BackBuffer)> drawOverlays;  // waveform and status messages
    std::function<void()> unlockAndDraw;
    std::function<void()> present;
    std::function<void()> terminateSoundLog;
    std::function<int32_t()> chooseSampleCount;         // empty: 881
    std::function<void()> runDmaSound;                  // DMA sound over the whole frame
    std::function<void(int32_t samples)> produceSound;  // synthesis, recording, output
    std::function<void()> pollJoystick;
    std::function<void()> startVideoFrame;  // Shifter: counter start value, log emptied
    std::function<void()> startSoundFrame;  // YM2149 and DMA sound write logs emptied
    std::function<uint32_t()> videoBase;    // empty: 0
    std::function<void()> resetLineWindows;
};

class FrameScheduler {
public:
    FrameScheduler();

    // The program-start state. A machine reset does not call it.
    void PowerOn();
    // > 0: cycles for the CPU to run (a multiple of 4); 0: an interrupt was posted, call again
    // at once; -1: the frame ended and its frame-end work is done.
    int32_t ServiceEvents();

    // Where the frame end finds emulated RAM (the screen snapshot) and the screen-watch window.
    void Attach(MachineTables* tables, const uint8_t* ram) {
        tables_ = tables;
        ram_ = ram;
    }
    const uint8_t* ScreenSnapshot() const { return snapshot_.get(); }  // host word order

    SchedulerHooks hooks;
    FloppyEvent floppy;

    Cycles nextLineEvent = kLineEventPosition;  // without this line's jitter
    int32_t lineCount = 0;                      // line events passed in this frame
    int32_t frameCount = 330;                   // indexes the jitter table only
    Cycles nextHbl = kHblPosition;
    Cycles nextVbl = kVblPosition;
    Cycles nextKeyboardTick = kKeyboardTickCycles;
    uint32_t displayEnable = 0;  // beam in the lines whose ends timer B counts
    uint32_t topBorderOpen = 0;
    uint32_t bottomBorderOpen = 0;
    int32_t nextEventKind = kEventNone;  // what ends the current budget
    int32_t frameSampleCount = kSamplesPerFrame;
    int32_t synthesisedSampleCount = 0;

    // Where VBL and HBL are posted (CpuRaiseInterrupt's shape); null: the CPU.
    int32_t (*interruptSink)(int32_t level, int32_t vector) = nullptr;

    // Copies of the display settings `g_softwareMode` (2: interlace) and `bUseTexture`.
    int32_t softwareMode = 0;
    bool useTexture = false;

private:
    int32_t EndFrame();
    // An interrupt went to the CPU: `kind` ends this call, and the caller calls again at once.
    int32_t Posted(int32_t kind) {
        nextEventKind = kind;
        return 0;
    }
    bool RunFloppy(Cycles now, Cycles& earliest);
    bool RunKeyboard(Cycles now, Cycles& earliest);
    bool RunDelayTimer(int timerId, int channel, int32_t kind, Cycles now, Cycles& earliest);
    void Compete(Cycles due, int32_t kind, Cycles& earliest);
    void CarryTimers();
    void TakeSnapshot(uint32_t videoBase);

    MachineTables* tables_ = nullptr;
    const uint8_t* ram_ = nullptr;
    std::unique_ptr<uint8_t[]> snapshot_;
    bool interlaceParity_ = false;
};

}  // namespace vexil

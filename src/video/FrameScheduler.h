// The frame scheduler: the clock of the emulated machine.
//
// The CPU runs freely for a budget of cycles that always ends at the next moment something
// outside it has to happen. ServiceEvents then performs everything that has fallen due, posts
// at most one interrupt, and hands out the next budget. The frame cycle counter is the CPU's
// cycle clock (g_cpu.clock), carried over at each frame end.
//
// Line and frame timing follow the Shifter's sync and resolution registers (see LineTiming):
//   50 Hz   313 lines of 512 cycles   160,256 cycles a frame   sync bit 1 set
//   60 Hz   263 lines of 508 cycles   133,604 cycles a frame   sync bit 1 clear
//   71 Hz   501 lines of 224 cycles   112,224 cycles a frame   resolution 2 (the mono monitor)
// A line's length is decided at its cycle 94 with the mode in force then: a switch before that
// point changes this line, after it the next. The display's first and last lines and the frame's
// end follow the mode as the line counter passes them; a frame whose counter is already past
// the mode's last line ends with the line being decided.
//
// Sources, in the order they are checked (on equal times the earlier one ends the budget):
//   line event   display-end point of each line (cycle 432 of a 50 Hz line) plus jitter; timer
//                B's input
//   timer B      the MFP's timer B   timer A      the MFP's timer A, then the DMA sound's
//                                                 frame end (timer A's input)
//   floppy       the floppy controller's and its DMA's events; MFP channel 7
//   keyboard     the ACIAs' events, then one keyboard processor tick every 10016 cycles,
//                free-running across frames; MFP channel 6
//   timer C      the MFP's timer C   timer D      the MFP's timer D
//   VBL          frame cycle 80, level 4 autovector
//   HBL          cycle 16 of every line, level 2 autovector
//   frame end    the start of the line after the frame's last
//
// Chips post timed events of their own (floppy command phases, DMA transfers, keyboard bytes,
// ACIA transmission): each registers its events once, with the source whose place in the order
// above they take, and then schedules and cancels them. A due event runs at its source's place
// in the order; events of one source run in registration order.
//
// The frame end and the keyboard tick reach the parts of the machine that are not emulated
// here (keyboard processor, renderer, display, sound, joystick, overlay) through the hooks
// below; an empty hook is skipped, so a bare machine runs frame after frame with none set.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "cpu/Cpu.h"
#include "io/Mfp.h"
#include "memory/Memory.h"

namespace vexil {

class StateWriter;
class StateReader;

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

// The three timings of the video chips. Line cycles are counted from the line's start, the
// point 16 cycles before its HBL.
enum VideoTiming : uint8_t { kTiming50Hz = 0, kTiming60Hz = 1, kTiming71Hz = 2 };

struct LineTiming {
    Cycles cycles;                     // a line
    int32_t lines;                     // a frame
    Cycles displayStart, displayEnd;   // display enable within a line
    int32_t firstPicture, endPicture;  // the lines with display enable: first, last + 1
    int32_t reloadLine;                // from this line on the video counter holds the base
};
//                                      cycles lines start end  first end  reload
constexpr LineTiming kLineTimings[3] = {
    {512, 313, 96, 416, 63, 263, 310}, {508, 263, 92, 412, 34, 234, 260}, {224, 501, 44, 204, 35, 435, 498}};

// Resolution 2 (and 3) runs the monochrome timing whatever the sync bit; otherwise sync bit 1
// chooses 50 Hz (set) or 60 Hz. Bit 0, external sync, is taken as internal.
constexpr VideoTiming TimingOf(uint8_t sync, uint8_t resolution) {
    return (resolution & 2) ? kTiming71Hz : (sync & 2) ? kTiming50Hz : kTiming60Hz;
}

constexpr Cycles kCyclesPerLine = 512;  // 50 Hz
constexpr int32_t kLinesPerFrame = 313;
constexpr Cycles kCyclesPerFrame = kCyclesPerLine * kLinesPerFrame;  // 160256
constexpr int32_t kMaxFrameLines = 512;                              // the line counter's range
constexpr Cycles kLineDecisionPoint = 94;                            // where a line's length is fixed
constexpr Cycles kVblPosition = 80;
constexpr Cycles kHblPosition = 16;
constexpr Cycles kLineEventDelay = 16;  // the display-end point after display enable falls
constexpr Cycles kLineEventPosition = 432;
constexpr int32_t kFirstCountedLine = 64;
constexpr int32_t kLastCountedLine = 263;
constexpr Cycles kDisplayCycles = 320;  // the display enable signal is high this long per line
constexpr Cycles kKeyboardTickCycles = 10016;
constexpr int32_t kSamplesPerFrame = 881;
constexpr uint32_t kScreenSnapshotBytes = 0x10000;

// Extra delay (0 or 4 cycles) of a line's display-end point, indexed by
// (frameCount - lineCount) mod 33; entry frameCount mod 33 also offsets the whole frame.
constexpr int32_t kLineEventJitter[33] = {0, 0, 0, 0, 4, 0, 4, 0, 0, 4, 0, 4, 0, 4, 0, 0, 4,
                                          0, 4, 0, 4, 0, 0, 4, 0, 4, 0, 4, 0, 0, 4, 0, 4};

constexpr int kMaxChipEvents = 16;
// A chip's timed event, called with its context and the cycle it was due at; it may schedule
// itself again.
using EventHandler = void (*)(void* context, Cycles due);

// The host back buffer, as the display's lock hands it out; null pixels when it is not there.
struct BackBuffer {
    uint16_t* pixels = nullptr;
    int32_t pitchBytes = 0;
};

enum class ProfileMark { kGraphicsStart, kGraphicsStop, kSoundStart, kSoundStop, kFrameStop, kFrameStart };

struct SchedulerHooks {
    // One keyboard processor tick (it hands its bytes to the ACIA, which drives MFP input 4).
    std::function<void()> keyboardTick;

    // At the frame end, in call order.
    std::function<void(ProfileMark)> profile;
    std::function<void()> terminateVideoLog;
    std::function<BackBuffer()> lockBackBuffer;
    std::function<void(BackBuffer)> renderFrame;   // replays the video log over the snapshot
    std::function<void(BackBuffer)> drawOverlays;  // waveform and status messages
    std::function<void()> unlockAndDraw;
    std::function<void()> present;
    std::function<void()> terminateSoundLog;
    // The samples the device takes this frame; `machineCount` is the frame's share of 44,100 a
    // second of machine time (empty hook: that share).
    std::function<int32_t(int32_t machineCount)> chooseSampleCount;
    std::function<void()> runDmaSound;                  // DMA sound over the whole frame
    std::function<void(int32_t samples)> produceSound;  // synthesis, recording, output; any count
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

    // The MFP whose timers and channels it serves, and where the frame end finds emulated RAM
    // (the screen snapshot) and the screen-watch window.
    void Attach(Mfp* mfp, MachineTables* tables, const uint8_t* ram) {
        mfp_ = mfp;
        tables_ = tables;
        ram_ = ram;
    }
    const uint8_t* ScreenSnapshot() const { return snapshot_.get(); }  // host word order

    // Chip events. RegisterEvent returns the event's number, or -1 when all slots are taken;
    // `kind` is the source whose place in the order the event takes. Due times are frame
    // cycles (the CPU's clock); an event scheduled in the past runs at the next call.
    int RegisterEvent(EventKind kind, EventHandler handler, void* context);
    void Schedule(int event, Cycles due);
    void Cancel(int event);
    bool Scheduled(int event) const { return (armed_ >> event) & 1; }
    Cycles Due(int event) const { return events_[event].due; }

    // The state a save state keeps: the counters below, the chip events' times, the screen
    // snapshot. Load returns false (and changes nothing) when the values are not ones a
    // running machine can have.
    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

    // Line timing. The Shifter reports each change of its mode with the cycle of the write;
    // lines whose decision point lies before it keep the old mode.
    void SetTiming(Cycles time, VideoTiming timing);
    VideoTiming Timing() const { return timing_; }  // as the registers give it now
    // The line holding frame cycle `time`, its start and its timing (a line not yet decided
    // takes the timing in force now).
    int32_t LineAt(Cycles time);
    Cycles LineStart(int32_t line) const;
    VideoTiming LineTimingOf(int32_t line) const {
        return line < decidedLines_ ? static_cast<VideoTiming>(lineTiming_[line]) : timing_;
    }
    // The frame cycle the frame ends at, as far as it is decided.
    Cycles FrameEnd() const;
    // Lines and cycles of the frame that ended last, and the cycles run since power-on.
    int32_t LastFrameLines() const { return lastFrameLines_; }
    Cycles LastFrameCycles() const { return lastFrameCycles_; }
    int64_t CyclesRun() const { return cyclesBefore_ + g_cpu.clock; }
    // The frame's share of 44,100 samples a second; the fraction is carried to the next frame.
    int32_t MachineSampleCount(Cycles frameCycles);
    // The start cycle and the timing of every line of the frame being ended (valid in the
    // frame-end hooks; LastFrameLines() + 1 starts).
    const Cycles* LineStarts() const { return lineStart_; }
    const uint8_t* LineTimings() const { return lineTiming_; }

    SchedulerHooks hooks;

    Cycles nextLineEvent = kLineEventPosition;  // without this line's jitter
    int32_t lineCount = 0;                      // line events passed in this frame
    int32_t frameCount = 330;                   // indexes the jitter table only
    Cycles nextHbl = kHblPosition;
    Cycles nextVbl = kVblPosition;
    Cycles nextKeyboardTick = kKeyboardTickCycles;
    uint32_t displayEnable = 0;  // beam in the lines whose ends timer B counts
    uint32_t topBorderOpen = 0;
    uint32_t bottomBorderOpen = 0;
    int32_t nextEventKind = kEventNone;             // what ends the current budget
    int32_t frameSampleCount = kSamplesPerFrame;    // what the device takes this frame
    int32_t machineSampleCount = kSamplesPerFrame;  // the frame's share of 44,100 a second
    int32_t synthesisedSampleCount = 0;

    InterruptSink interruptSink;  // where VBL and HBL are posted

    // Copies of the display settings `g_softwareMode` (2: interlace) and `bUseTexture`.
    int32_t softwareMode = 0;
    bool useTexture = false;
    bool monoMonitor = false;  // its frames are drawn a host line per emulated line

private:
    int32_t EndFrame();
    void DecideLines(Cycles time);
    void UpdateLineEvents();
    // An interrupt went to the CPU: `kind` ends this call, and the caller calls again at once.
    int32_t Posted(int32_t kind) {
        nextEventKind = kind;
        return 0;
    }
    bool RunChipEvents(int32_t kind, Cycles now, Cycles& earliest);
    bool RunKeyboard(Cycles now, Cycles& earliest);
    bool RunClockTimer(MfpTimerId id, int32_t kind, Cycles now, Cycles& earliest);
    void Compete(Cycles due, int32_t kind, Cycles& earliest);
    void TakeSnapshot(uint32_t videoBase);

    struct ChipEvent {
        EventHandler handler = nullptr;
        void* context = nullptr;
        int32_t kind = kEventNone;
        Cycles due = 0;
    };

    Mfp* mfp_ = nullptr;
    MachineTables* tables_ = nullptr;
    const uint8_t* ram_ = nullptr;
    std::unique_ptr<uint8_t[]> snapshot_;
    bool interlaceParity_ = false;
    bool lineStartCounted_ = false;  // timer B counting line starts: this line's is counted
    ChipEvent events_[kMaxChipEvents];
    int eventCount_ = 0;
    uint32_t armed_ = 0;  // bit n: event n is scheduled

    // The frame's lines: lineStart_[n] for every decided line and the one after the last
    // decided; a frame is complete when its last line is decided.
    VideoTiming timing_ = kTiming50Hz;
    Cycles lineStart_[kMaxFrameLines + 1] = {};
    uint8_t lineTiming_[kMaxFrameLines] = {};
    int32_t decidedLines_ = 0;
    bool frameComplete_ = false;
    int32_t hblLine_ = 0;         // the line whose HBL comes next
    Cycles lineEventOffset_ = 0;  // this frame's jitter offset of its line events
    int32_t lastFrameLines_ = kLinesPerFrame;
    Cycles lastFrameCycles_ = kCyclesPerFrame;
    int64_t cyclesBefore_ = 0;     // cycles of the frames that ended
    int64_t sampleRemainder_ = 0;  // of 44,100 x cycles / clock
};

}  // namespace vexil

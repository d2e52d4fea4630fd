// The frame scheduler: the clock of the emulated machine.
//
// The CPU runs freely for a budget of cycles that always ends at the next moment something
// outside it has to happen. ServiceEvents then performs everything that has fallen due, posts
// at most one interrupt, and hands out the next budget. The frame's lines are as long as the
// video timing makes them (VideoLines.h: 50 Hz 313 lines of 512 cycles, 60 Hz 263 of 508,
// 71 Hz 501 of 224); the frame cycle counter is the CPU's cycle clock (g_cpu.clock), carried
// over at each frame end.
//
// Sources, in the order they are checked (on equal times the earlier one ends the budget):
//   line event   display-end point of each line (cycle 432 of a 50 Hz line) plus jitter;
//                timer B's input
//   timer B      the MFP's timer B   timer A      the MFP's timer A, then the DMA sound's
//                                                 frame end (timer A's input)
//   floppy       the floppy controller's and its DMA's events; MFP channel 7
//   keyboard     the ACIAs' events, then one keyboard processor tick every 10016 cycles,
//                free-running across frames; MFP channel 6
//   timer C      the MFP's timer C   timer D      the MFP's timer D, then the USART it clocks
// A timer is a source only while its timeouts can be seen (Mfp::TimeoutsSeen): one with its
// interrupt disabled and its output unused costs no events at all.
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

#include "core/EventList.h"
#include "core/SaveState.h"
#include "cpu/Cpu.h"
#include "io/Mfp.h"
#include "memory/Memory.h"
#include "memory/MemoryController.h"
#include "video/Shifter.h"

namespace vexil {

constexpr Cycles kVblPosition = 80;
constexpr Cycles kHblPosition = 16;
constexpr Cycles kLineEventPosition = 432;
constexpr Cycles kLineEventDelay = 16;  // the display-end point after display enable falls
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

// The scheduler's running values: what a save state keeps of it, with the chip events' times
// and the screen snapshot (FrameScheduler::SectionFields lists them in file order).
struct SchedulerState {
    Cycles nextLineEvent = kLineEventPosition;  // without this line's jitter
    int32_t lineCount = 0;                      // line events passed in this frame
    int32_t frameCount = 330;                   // indexes the jitter table only
    Cycles nextHbl = kHblPosition;
    Cycles nextVbl = kVblPosition;
    Cycles nextKeyboardTick = kKeyboardTickCycles;
    BorderState border;                             // shared with the Shifter, whose border tricks open them
    int32_t nextEventKind = kEventNone;             // what ends the current budget
    int32_t frameSampleCount = kSamplesPerFrame;    // what the device takes this frame
    int32_t machineSampleCount = kSamplesPerFrame;  // the frame's share of 44,100 a second
    int32_t synthesisedSampleCount = 0;

    // The scheduler's own.
    bool interlaceParity_ = false;
    bool lineStartCounted_ = false;  // timer B counting line starts: this line's is counted
    int32_t hblLine_ = 0;            // the line whose HBL comes next
    Cycles lineEventOffset_ = 0;     // this frame's jitter offset of its line events
    int32_t lastFrameLines_ = kLinesPerFrame;
    Cycles lastFrameCycles_ = kCyclesPerFrame;
    int64_t cyclesBefore_ = 0;     // cycles of the frames that ended
    int64_t sampleRemainder_ = 0;  // of 44,100 x cycles / clock
};

class FrameScheduler : protected SchedulerState {
public:
    FrameScheduler();

    // The program-start state. A machine reset does not call it.
    void PowerOn();
    // > 0: cycles for the CPU to run (a multiple of 4); 0: an interrupt was posted, call again
    // at once; -1: the frame ended and its frame-end work is done.
    int32_t ServiceEvents();

    // The MFP whose timers and channels it serves, and where the frame end finds emulated RAM
    // (the screen snapshot, through the memory controller's decoding when given) and the
    // screen-watch window.
    void Attach(Mfp* mfp, MachineTables* tables, const uint8_t* ram,
                const MemoryController* banks = nullptr) {
        mfp_ = mfp;
        tables_ = tables;
        ram_ = ram;
        banks_ = banks;
    }
    const uint8_t* ScreenSnapshot() const { return snapshot_.get(); }  // host word order

    // The chips' timed events (each takes its source's place in the order above).
    EventList events;

    // The state a save state keeps: the counters below, the chip events' times, the screen
    // snapshot. Load returns false (and changes nothing) when the values are not ones a
    // running machine can have.
    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

    // Lines and cycles of the frame that ended last, and the cycles run since power-on.
    int32_t LastFrameLines() const { return lastFrameLines_; }
    Cycles LastFrameCycles() const { return lastFrameCycles_; }
    int64_t CyclesRun() const { return cyclesBefore_ + g_cpu.clock; }
    // The frame's share of 44,100 samples a second; the fraction is carried to the next frame.
    int32_t MachineSampleCount(Cycles frameCycles);

    SchedulerHooks hooks;

    // The frame's line timing, shared with the Shifter, which reports its mode changes there.
    // In the frame-end hooks it holds the ended frame's lines (LastFrameLines() + 1 starts).
    VideoLines lines;

    // The running values (SchedulerState) that the rest of the machine reads and sets.
    using SchedulerState::border;
    using SchedulerState::frameCount;
    using SchedulerState::frameSampleCount;
    using SchedulerState::lineCount;
    using SchedulerState::machineSampleCount;
    using SchedulerState::nextEventKind;
    using SchedulerState::nextHbl;
    using SchedulerState::nextKeyboardTick;
    using SchedulerState::nextLineEvent;
    using SchedulerState::nextVbl;
    using SchedulerState::synthesisedSampleCount;

    InterruptSink interruptSink;  // where VBL and HBL are posted

    // Copies of the display settings `g_softwareMode` (2: interlace) and `bUseTexture`.
    int32_t softwareMode = 0;
    bool useTexture = false;
    bool monoMonitor = false;  // its frames are drawn a host line per emulated line

private:
    int32_t EndFrame();
    void UpdateLineEvents();
    // An interrupt went to the CPU: `kind` ends this call, and the caller calls again at once.
    int32_t Posted(int32_t kind) {
        nextEventKind = kind;
        return 0;
    }
    // Most services find no chip event scheduled: that case costs one test.
    bool RunChipEvents(EventKind kind, Cycles now, Cycles& earliest) {
        return events.ScheduledOf(kind) != 0 && RunScheduledEvents(kind, now, earliest);
    }
    bool RunScheduledEvents(EventKind kind, Cycles now, Cycles& earliest);
    bool RunKeyboard(Cycles now, Cycles& earliest);
    bool RunClockTimer(MfpTimerId id, int32_t kind, Cycles now, Cycles& earliest);
    void Compete(Cycles due, int32_t kind, Cycles& earliest);
    void TakeSnapshot(uint32_t videoBase);
    template <class Archive, class State, class Times>
    static void SectionFields(Archive& a, State& s, Times& times, RawBytes& screen);

    Mfp* mfp_ = nullptr;
    MachineTables* tables_ = nullptr;
    const uint8_t* ram_ = nullptr;
    const MemoryController* banks_ = nullptr;
    std::unique_ptr<uint8_t[]> snapshot_;
    // What UpdateLineEvents derived from: the lines' change count, and the line event's due
    // time with its jitter. Not stored: a loaded state derives them afresh.
    uint32_t linesSeen_ = 0;
    bool lineEventsStale_ = true;
    Cycles lineDue_ = kLineEventPosition;
};

}  // namespace vexil

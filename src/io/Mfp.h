// MC68901 multi-function peripheral at 0xFFFA01-0xFFFA2F (odd addresses).
//
// It gives the machine four timers, eight general-purpose input lines (GPIP) and a sixteen-
// channel interrupt controller that feeds level 6 of the 68000, and the USART of the serial
// port (io/Usart.h), clocked by timer D's output.
//
// Register file: one byte per page offset, the registers at the odd offsets.
//   0x01 GPIP   0x03 AER    0x05 DDR    0x07 IERA   0x09 IERB   0x0B IPRA   0x0D IPRB
//   0x0F ISRA   0x11 ISRB   0x13 IMRA   0x15 IMRB   0x17 VR     0x19 TACR   0x1B TBCR
//   0x1D TCDCR  0x1F TADR   0x21 TBDR   0x23 TCDR   0x25 TDDR   0x27-0x2F USART
//
// Interrupts. A channel's event sets its pending bit (IPR) when its enable bit (IER) is set;
// clearing an enable bit clears the pending bit. The chip asks the CPU for level 6 while a
// channel is pending, unmasked (IMR) and above every channel in service (ISR; in-service bits
// exist only in software end-of-interrupt mode, VR bit 3). Which channel is taken is decided at
// the CPU's acknowledge: the highest that still qualifies; its pending bit is cleared, its
// in-service bit set in software end-of-interrupt mode, and vector (VR & 0xF0) | channel
// returned. The chip never looks at the CPU's mask: a request waits as long as it takes.
//   4 timer D   5 timer C   6 keyboard/MIDI ACIA (GPIP 4)   7 floppy controller (GPIP 5)
//   8 timer B   13 timer A   14, 15 GPIP 6, 7; 0-3 GPIP 0-3
//
// Input lines: the chips drive GPIP 0-7 through SetInputLine; a change of level in the direction
// the active edge register (AER) selects (bit set: low to high) is an event on the line's
// channel. A GPIP read gives the pins for the input bits and the output latch for the bits the
// data direction register (DDR) makes outputs.
//
// Timers. Each counts a 2,457,600 Hz clock through its prescaler from its main counter down;
// reaching 0 is a timeout: the counter reloads from the data register and the channel has an
// event.
//   control 0        stopped: the counter holds; a data write loads it
//   control 1-7      delay: counts prescaled clocks (prescalers 4 10 16 50 64 100 200)
//   control 8        event count: counts active edges of the timer's input (timer B: the display
//                    enable signal, the end of each display line, or its start with AER bit 3;
//                    timer A: the STE's DMA sound active line, its falling edges, or its rising
//                    edges with AER bit 4)
//   control 9-15     pulse width: counts while the input is active; no input drives it here,
//                    so it does not count
// Writing a data register while the timer runs changes only the reload value; a control write
// changes only its own timer, which goes on from its current count; IER never stops a timer.
// Timers A and B's control bit 4 resets their output and does not change the count here.
// Reading a data register gives the main counter: from d down to 1 while counting (0 only for
// a data value of 0, meaning 256).
//
// Timer time. A delay-mode timer keeps the time of its next timeout exactly, in ticks of
// 1 / (8,021,247 x 2,457,600) s: a CPU cycle is 2,457,600 ticks and an MFP clock 8,021,247, so
// periods add up with no rounding at all (timer D at divide 4, data 2 is 26.1099 cycles, not
// 26). Rounding happens once, where a timeout becomes the CPU cycle at which it is seen: the
// first whole cycle at or after it. A data register read computes the count from the exact
// time, whether or not the scheduler has yet taken a timeout that lies behind it.
//
// Timeouts nobody sees. Each timeout is a scheduler event only while something can see it: the
// timer's interrupt channel is enabled (IER; a disabled channel sets no pending bit) or its
// output is in use (SetTimerOutputUsed). Timer D's output clocks the USART, but the USART
// takes its bit rate from timer D's settings and posts its own event per character, so it
// needs no event per timeout; timers A-C's outputs are not connected on the ST. An unseen timer posts
// nothing: its count is computed when it is read, and its phase is brought up to date when it is written,
// when its interrupt is enabled, when its output comes into use and at each frame end.
//
// Reset (RESET, the 68000's RESET instruction and every machine reset), by the data sheet:
// every register is cleared (GPIP latch, AER, DDR, IERA/B, IPRA/B, ISRA/B, IMRA/B, VR, the
// timer controls, SCR, UCR, RSR) except the timer data registers, UDR and TSR; the timers stop
// and hold their counts, every channel is disabled and nothing is pending. Power-on is a reset
// of a chip whose uncleared registers hold whatever they came up with: 0xFF here.
//
// Not yet checked against hardware: a change of prescaler while counting starts the new
// prescaler's first count at once; a started timer counts from the write's cycle (the chip
// synchronises to its own clock's next edge, up to 0.4 µs later).
#pragma once

#include <cstdint>

#include "core/Cycles.h"
#include "cpu/Cpu.h"
#include "io/IoDispatch.h"
#include "io/Usart.h"

namespace vexil {

class StateWriter;
class StateReader;

namespace mfp {
constexpr unsigned kGpip = 0x01, kAer = 0x03, kDdr = 0x05, kIera = 0x07, kIerb = 0x09;
constexpr unsigned kIpra = 0x0B, kIprb = 0x0D, kIsra = 0x0F, kIsrb = 0x11, kImra = 0x13;
constexpr unsigned kImrb = 0x15, kVr = 0x17, kTacr = 0x19, kTbcr = 0x1B, kTcdcr = 0x1D;
constexpr unsigned kTadr = 0x1F, kTbdr = 0x21, kTcdr = 0x23, kTddr = 0x25, kScr = 0x27;
// UCR, RSR, TSR and UDR (0x29-0x2F) are the USART's: usart::kUcr... in Usart.h.
constexpr uint8_t kVrSoftwareEoi = 0x08;
constexpr int64_t kCpuClock = kCpuClockHz;
constexpr int64_t kTimerClock = 2457600;
// Timer time: one CPU cycle and one MFP clock in ticks of 1 / (kCpuClock x kTimerClock) s.
constexpr int64_t kTicksPerCycle = kTimerClock;
constexpr int64_t kTicksPerClock = kCpuClock;
constexpr int kPrescaler[8] = {1, 4, 10, 16, 50, 64, 100, 200};
constexpr int kChannelTimerD = 4, kChannelTimerC = 5, kChannelAcia = 6, kChannelFloppy = 7;
constexpr int kChannelTimerB = 8, kChannelTimerA = 13;
constexpr int kTimerChannel[4] = {kChannelTimerA, kChannelTimerB, kChannelTimerC, kChannelTimerD};
constexpr unsigned kGpipAcia = 4, kGpipFloppy = 5, kGpipMonochrome = 7;  // input lines, active low
constexpr uint8_t kAerTimerB = 0x08;  // timer B counts the start of the display line
constexpr uint8_t kAerTimerA = 0x10;  // timer A counts its input's rising edges
// The CPU cycle at which a time in ticks is seen: the first whole cycle at or after it.
constexpr Cycles CycleAtOrAfter(int64_t ticks) {
    const int64_t q = ticks / kTicksPerCycle;  // rounded towards zero
    return static_cast<Cycles>(q * kTicksPerCycle < ticks ? q + 1 : q);
}
}  // namespace mfp

enum MfpTimerId { kTimerA, kTimerB, kTimerC, kTimerD };

struct MfpTimer {
    int64_t expiry = 0;    // while counting the clock: the time of the next timeout, in ticks
    int32_t counter = 0;   // otherwise: the main counter (1-256)
    int32_t cycleMax = 0;  // the counter's value at the start of the current clock count
    template <class Archive>
    void Fields(Archive& a) {
        a(expiry)(counter)(cycleMax);
    }
};

class Mfp {
public:
    // State at program start: the reset below, on registers that came up 0xFF (even bytes of
    // 0x00-0x2F 0), counters 256.
    void PowerOn();
    // The chip's reset: every register cleared but the timer data registers, UDR and TSR.
    void Reset();

    // Register routines; `offset` is the address's low byte, `now` the cycle of the access.
    // Reads of the USART's data and status registers act on it; PeekByte acts on nothing.
    uint8_t ReadByte(unsigned offset, Cycles now);
    uint16_t ReadWord(unsigned offset, Cycles now);
    uint8_t PeekByte(unsigned offset, Cycles now) const;
    void WriteByte(unsigned offset, uint8_t value, Cycles now);
    void WriteWord(unsigned offset, uint16_t value, Cycles now);

    // Input line `bit` (GPIP 0-7) driven to a level; an active edge is an event on its channel.
    void SetInputLine(unsigned bit, bool high);
    bool InputLine(unsigned bit) const { return (s_.pins >> (bit & 7)) & 1; }

    // The CPU's interrupt acknowledge at level 6: the vector of the channel taken, or -1 when
    // no channel qualifies any more (the CPU then takes no interrupt).
    int32_t Acknowledge();
    static int32_t AcknowledgeHook(void* context) { return static_cast<Mfp*>(context)->Acknowledge(); }

    // --- timers, for the frame scheduler ---------------------------------------------------
    // True while the timer counts the clock (delay mode).
    bool CountsClock(MfpTimerId id) const;
    bool CountsEvents(MfpTimerId id) const { return Control(id) == 8; }
    // True while the timer counts the clock and its timeouts can be seen (its interrupt is
    // enabled or its output is in use): the scheduler then takes each one at Expiry.
    bool TimeoutsSeen(MfpTimerId id) const {
        const int channel = mfp::kTimerChannel[id];
        const uint8_t enable = s_.regs[channel >= 8 ? mfp::kIera : mfp::kIerb];
        return CountsClock(id) && (((enable >> (channel & 7)) & 1) || TimerOutputUsed(id));
    }
    // The CPU cycle at which the next timeout is seen, and its exact time in ticks.
    Cycles Expiry(MfpTimerId id) const { return mfp::CycleAtOrAfter(s_.timers[id].expiry); }
    int64_t ExpiryTicks(MfpTimerId id) const { return s_.timers[id].expiry; }
    // The timeout due at Expiry: reload, the channel's event, the next expiry one period on.
    void Timeout(MfpTimerId id);
    // Says whether the timer's output drives something (timer D's: the USART's clock, while its
    // transmitter or receiver is on). While it does, every timeout is a scheduler event, taken
    // through Timeout, even with the timer's interrupt disabled. `now` is the cycle of the change.
    void SetTimerOutputUsed(MfpTimerId id, bool used, Cycles now);
    bool TimerOutputUsed(MfpTimerId id) const { return (s_.outputsUsed >> id) & 1; }
    // One active edge on the timer's input, counted in event count mode.
    void CountEvent(MfpTimerId id);
    // An edge (rising or falling) of timer A's or B's input: counted in event count mode when
    // it is the edge the timer's AER bit selects.
    void TimerInputEdge(MfpTimerId id, bool rising);
    // The frame end: the timers nobody sees are brought up to `cycles`, then every
    // clock-counting timer's expiry moves back by `cycles`.
    void CarryTimers(Cycles cycles);

    uint8_t Register(unsigned offset) const { return s_.regs[offset & 0xFF]; }

    // --- the USART ---------------------------------------------------------------------------
    // CPU cycles of one character at timer D's current rate; 0 while timer D does not count
    // the clock.
    Cycles UsartCharacterCycles() const;
    // The USART's timed event for `line` fell due.
    void UsartEvent(Usart::Line line, Cycles due);
    Usart usart;  // its port (events, the line's bytes) is wired by the machine

    // True once since the last call when the chip newly asked the CPU for its interrupt.
    bool TakePosted() {
        const bool posted = posted_;
        posted_ = false;
        return posted;
    }

    void Save(StateWriter& out) const;
    // Checks the values and, with `commit`, takes them; false when they are not ones the chip
    // can have.
    bool Load(StateReader& in, bool commit);

    InterruptSink sink;  // where level 6 is asked for (the CPU unless a test says otherwise)

private:
    struct State {
        uint8_t regs[256];
        MfpTimer timers[4];
        uint8_t pins;         // the levels of the input lines
        uint8_t outputsUsed;  // bit n: timer n's output drives something
        template <class Archive>
        void Fields(Archive& a) {
            a(regs)(timers)(pins)(outputsUsed);
        }
    };

    uint8_t Control(MfpTimerId id) const;
    uint8_t Data(MfpTimerId id) const;
    int64_t Period(MfpTimerId id) const;
    int32_t CountUnder(MfpTimerId id, uint8_t control, Cycles now) const;
    void CatchUp(MfpTimerId id, int64_t ticks);
    void SetControl(MfpTimerId id, uint8_t oldControl, Cycles now);
    void SetData(MfpTimerId id, uint8_t value, Cycles now);
    void SetEnable(unsigned offset, uint8_t value, Cycles now);
    void Event(int channel);
    int Qualifying() const;
    void UpdateRequest();
    void TakeUsartChannels();

    State s_{};
    bool posted_ = false;
};

// The MFP's page for the I/O decoder.
IoChip MfpIoChip(Mfp& mfp);

}  // namespace vexil

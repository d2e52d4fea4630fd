// MC68901 multi-function peripheral at 0xFFFA01-0xFFFA2F (odd addresses).
//
// It gives the machine four timers, eight general-purpose input lines (GPIP) and a sixteen-
// channel interrupt controller that feeds level 6 of the 68000. The chip keeps its registers
// and, per timer, the tick, period and next expiry in CPU cycles; the frame scheduler watches
// the expiries, counts timer B events at each display line end and asks the controller here
// to post a channel (Request / Retry). The USART registers are stored and read back only: no
// serial line is modelled. Timer inputs (TAI, TBI) are not modelled apart from timer B's event
// count, which the scheduler drives from the display lines.
//
// Register file: one byte per page offset, the registers at the odd offsets.
//   0x01 GPIP   0x03 AER    0x05 DDR    0x07 IERA   0x09 IERB   0x0B IPRA   0x0D IPRB
//   0x0F ISRA   0x11 ISRB   0x13 IMRA   0x15 IMRB   0x17 VR     0x19 TACR   0x1B TBCR
//   0x1D TCDCR  0x1F TADR   0x21 TBDR   0x23 TCDR   0x25 TDDR   0x27-0x2F USART
//
// Channels (register A holds 15-8, B holds 7-0; the bit follows the channel number):
//   4 timer D   5 timer C   6 keyboard/MIDI ACIA   7 floppy controller   8 timer B
//   13 timer A
//
// Timer periods: the timers count a 2,457,600 Hz clock; a count of n MFP clocks is
// n * 8021247 / 2457600 CPU cycles, truncated.
//
// Input lines: the chips drive GPIP 0-7 through SetInputLine. A change of level in the
// direction the active edge register (AER) selects for the line (bit set: low to high; clear:
// high to low) requests the line's channel when its interrupt is enabled:
//   GPIP 0-3 -> channels 0-3   GPIP 4 -> 6   GPIP 5 -> 7   GPIP 6 -> 14   GPIP 7 -> 15
//
// Not yet checked against hardware: the reset sets IERA and IERB to 0xFF (the data sheet
// clears them); a timer A control value with bit 3 set (event count, pulse width) leaves the
// cycle timer as it was, and the scheduler goes on running it with its old period; any write
// to IERB that does not keep both bits 4 and 5 set restarts timers C and D.
#pragma once

#include <cstdint>

#include "cpu/Cpu.h"
#include "io/IoDispatch.h"
#include "memory/Memory.h"

namespace vexil {

class StateWriter;
class StateReader;

namespace mfp {
constexpr unsigned kGpip = 0x01, kAer = 0x03, kDdr = 0x05, kIera = 0x07, kIerb = 0x09;
constexpr unsigned kIpra = 0x0B, kIprb = 0x0D, kIsra = 0x0F, kIsrb = 0x11, kImra = 0x13;
constexpr unsigned kImrb = 0x15, kVr = 0x17, kTacr = 0x19, kTbcr = 0x1B, kTcdcr = 0x1D;
constexpr unsigned kTadr = 0x1F, kTbdr = 0x21, kTcdr = 0x23, kTddr = 0x25;
constexpr uint8_t kVrSoftwareEoi = 0x08;
constexpr int64_t kCpuClock = 8021247;
constexpr int64_t kTimerClock = 2457600;
constexpr int kPrescaler[8] = {1, 4, 10, 16, 50, 64, 100, 200};
constexpr int kChannelTimerD = 4, kChannelTimerC = 5, kChannelAcia = 6, kChannelFloppy = 7;
constexpr int kChannelTimerB = 8, kChannelTimerA = 13;
constexpr unsigned kGpipAcia = 4, kGpipFloppy = 5;  // input lines, active low
// CPU cycles for `counts` clocks of the MFP timer clock.
constexpr Cycles TimerCycles(int64_t counts) {
    return static_cast<Cycles>(counts * kCpuClock / kTimerClock);
}
}  // namespace mfp

enum MfpTimerId { kTimerA, kTimerB, kTimerC, kTimerD };

struct MfpTimer {
    Cycles tick = 1;    // CPU cycles per count
    Cycles period = 0;  // CPU cycles from start to expiry
    Cycles expiry = 0;  // cycle clock of the next expiry; -1 (0xFFFFFFFF) when C or D is stopped
};

class Mfp {
public:
    // State at program start: every register 0xFF, even bytes of 0x00-0x2F 0, timers idle.
    void PowerOn();
    // The reset column: interrupt registers, VR and the timer controls; expiries to -1.
    void Reset();

    // Register routines; `offset` is the address's low byte, `now` the cycle of the access.
    uint8_t ReadByte(unsigned offset, Cycles now) const;
    uint16_t ReadWord(unsigned offset, Cycles now) const;
    void WriteByte(unsigned offset, uint8_t value, Cycles now);
    void WriteWord(unsigned offset, uint16_t value, Cycles now);

    // Input line `bit` (GPIP 0-7) driven to a level; an active edge requests its channel.
    void SetInputLine(unsigned bit, bool high);
    bool InputLine(unsigned bit) const { return (s_.pins >> (bit & 7)) & 1; }

    // --- the interrupt controller ----------------------------------------------------------
    // Requests channel c: posts it at level 6 with vector (VR & 0xF0) | c when its mask bit is
    // set and no channel >= c is in service, else (or when the CPU refuses) marks it pending.
    // Returns true when posted (and sets its in-service bit in software end-of-interrupt mode).
    bool Request(int channel);
    // Posts a waiting request (pending, unmasked and enabled). Returns true when posted; the
    // pending bit is then cleared. With `discard` the waiting request is dropped instead.
    bool Retry(int channel, bool discard = false);
    void SetPending(int channel) { SetChannelBit(mfp::kIpra, channel, true); }
    // True once since the last call when a request was posted to the CPU.
    bool TakePosted() {
        const bool posted = posted_;
        posted_ = false;
        return posted;
    }

    // --- timers, for the scheduler ---------------------------------------------------------
    // The scheduler's run condition: the timer's IER bit set and a control value that runs it
    // (A, B: non-zero without bit 4; C, D: the nibble non-zero without its top bit).
    bool TimerRuns(MfpTimerId id) const;
    bool TimerBCountsEvents() const { return (s_.regs[mfp::kTbcr] & 0x08) != 0; }
    // Counts one timer B event; returns true when the counter ran out (it is then reloaded).
    bool CountTimerBEvent();
    MfpTimer& Timer(MfpTimerId id) { return s_.timers[id]; }
    const MfpTimer& Timer(MfpTimerId id) const { return s_.timers[id]; }
    uint8_t TimerBCounter() const { return s_.timerBCounter; }

    uint8_t Register(unsigned offset) const { return s_.regs[offset & 0xFF]; }
    bool ChannelBit(unsigned regA, int channel) const;

    // Everything a save state keeps: plain values only.
    struct State {
        uint8_t regs[256];
        MfpTimer timers[4];
        uint8_t timerBCounter;
        uint8_t pins;  // the levels of the input lines
    };
    void Save(StateWriter& out) const;
    // Checks the values and, with `commit`, takes them; false when they are not ones the chip
    // can have.
    bool Load(StateReader& in, bool commit);

    InterruptSink sink;  // where level 6 is posted (the CPU unless a test says otherwise)

private:
    void SetChannelBit(unsigned regA, int channel, bool on);
    void StartTimerA(Cycles now);
    void StartTimerB(Cycles now);
    void StartTimersDC(Cycles now);
    void StartDelayTimer(MfpTimerId id, uint8_t control, uint8_t data, Cycles now);
    uint8_t CountNow(MfpTimerId id, Cycles now) const;
    int InServiceLevel() const;
    bool Post(int channel);

    State s_{};
    bool posted_ = false;
};

// The MFP's page for the I/O decoder.
IoChip MfpIoChip(Mfp& mfp);

}  // namespace vexil

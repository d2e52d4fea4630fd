// The STE's DMA sound at 0xFF8900: 8-bit signed samples played straight from RAM, mono or
// stereo, at one of four rates, between a frame start and a frame end address, once or
// looping; behind it the LMC1992 volume and tone controller, set through the microwire
// interface. An ST has no such chip: the I/O decoder keeps the page's bus errors there.
//
// Registers (offsets from 0xFF8900; a word register's high byte reads 0):
//   0x01        control: bit 0 play, bit 1 loop; a stop at the frame end clears bit 0
//   0x03-0x07   frame start, high (& 0x3F), mid, low (& 0xFE) bytes
//   0x09-0x0D   frame address counter (read only): the address of the next sample
//   0x0F-0x13   frame end, as the start
//   0x21        mode: bits 0-1 rate, bit 7 mono
//   0x22        microwire data (word)     0x24  microwire mask (word)
//   0x00-0x3F   the other offsets read all ones and ignore writes
//   0x40-0xFF   bus error (the later machines' sound registers are not there)
//
// Rates (CPU cycles per sample at 8,021,248 Hz):
//   0  6258 Hz  1280     1  12517 Hz  640     2  25033 Hz  320     3  50066 Hz  160
// The sample clock runs whether or not the chip plays; a rate change makes the next sample due
// once the new period has passed since the last one.
//
// Timing. Register writes are queued with their cycle and replayed by the sequencer, which
// runs lazily: before every register read (so the counter read is exact to the cycle), when
// its own event falls due and at the frame end. The event is the cycle at which the playing
// frame reaches its end, so the end-of-frame signals come at that cycle; a write to the
// control or mode register makes it due at once, to plan again.
//
// Play. Setting bit 0 when it was clear latches the frame start and end from their registers
// and starts at the start; a write while playing changes only the registers, which are latched
// again at each loop (so a player can set up the next buffer while one plays). Each sample
// time fetches one byte (mono) or a left/right byte pair (stereo, at an even address) through
// the device bus; the address has 22 bits and wraps, and addresses beyond RAM give 0. The
// sample that makes the address equal the frame end ends the frame: with loop set the frame
// starts again, else playback stops (control bit 0 cleared) and the counter holds the start.
//
// The active line (`Lines::active`): high while the chip plays. Each end of frame takes it
// low: for good at a stop, for an instant at a loop. On the STE it clocks MFP timer A in event
// count mode and is XORed with the monochrome detect signal on GPIP 7.
//
// Microwire. Writing the data register sends the bits selected by the mask, most significant
// first, to the LMC1992, which takes the last 11 as a command: bits 10-9 address (binary 10),
// bits 8-6 function, bits 5-0 value. For the 16 bit times of a transmission the data register
// shifts left (zeros come in) and the mask register rotates left, a bit per bit time; then the
// data register reads 0 and the mask reads as written: programs wait on either.
//   function 0 mixing (2 bits)  1 bass (4)  2 treble (4)  3 master volume (0-40: -80 to 0 dB)
//   function 4 right volume (0-20: -40 to 0 dB)   5 left volume (0-20)   in 2 dB steps
// Volumes start at 0 dB; master and channel volume multiply. At 0 dB a channel's full scale is
// half the mix's range, so a full-scale stereo pair, or a mono sample (which goes to both
// channels), fills it. Bass, treble and the mixing of the YM2149 are kept, not applied.
//
// Not yet checked against hardware: the microwire's bit time (8 cycles); the prefetch FIFO (the counter here
// is the address of the next sample played, not of the next word fetched); the counter's bit 0 in mono (reads
// 0).
#pragma once

#include <cstdint>

#include "core/Cycles.h"

namespace vexil {

class DeviceBus;
class EventList;
class StateWriter;
class StateReader;
struct IoChip;

namespace dmasound {
constexpr Cycles kSamplePeriod[4] = {1280, 640, 320, 160};
constexpr int32_t kMaxFrameSamples = 1024;   // a frame has at most 1002 sample times
constexpr uint32_t kQueueCapacity = 256;     // a full queue is replayed before the next write
constexpr uint32_t kAddressBits = 0x3FFFFF;  // the sample address has 22 bits
constexpr Cycles kMicrowireBitCycles = 8;
constexpr int32_t kUnityGain = 32768;  // 0 dB
constexpr uint8_t kPlay = 0x01, kLoop = 0x02, kMono = 0x80;
}  // namespace dmasound

class DmaSound {
public:
    // The active line: high while playing.
    struct Lines {
        void (*active)(void* context, bool high) = nullptr;
        void* context = nullptr;
    };

    // Registers its event with the scheduler.
    DmaSound(EventList& events, const DeviceBus& bus, Lines lines);
    DmaSound(const DmaSound&) = delete;
    DmaSound& operator=(const DmaSound&) = delete;

    // Machine reset: stopped, registers 0, queue empty. The LMC1992 keeps its settings.
    void Reset();

    // Register routines; `offset` is the address's low byte, `now` the cycle of the access.
    uint8_t ReadByte(unsigned offset, Cycles now);
    uint16_t ReadWord(unsigned offset, Cycles now);
    void WriteByte(unsigned offset, uint8_t value, Cycles now);
    void WriteWord(unsigned offset, uint16_t value, Cycles now);

    // Runs the sequencer up to frame cycle `now`: the queued writes and the samples due.
    void RunTo(Cycles now);
    // The frame scheduler's frame end (the sequencer runs to the frame's last cycle) and start
    // of the next frame (samples emptied, times carried over).
    void EndFrame();
    void StartFrame();

    // Adds the frame's samples to `count` mix samples, stretched over them.
    void MixInto(int32_t* mix, int32_t count) const;
    const int32_t* FrameSamples() const { return samples_; }
    int32_t FrameSampleCount() const { return sampleCount_; }

    bool Playing() const { return (s_.control & dmasound::kPlay) != 0; }
    uint32_t Address() const { return s_.address; }
    // The effective gains (kUnityGain = 0 dB), master volume included.
    int32_t LeftGain() const { return leftGain_; }
    int32_t RightGain() const { return rightGain_; }

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

private:
    struct Write {
        Cycles time;
        uint32_t offset;  // odd for the byte registers, 0x22 / 0x24 for the microwire words
        uint32_t value;
        template <class Archive>
        void Fields(Archive& a) {
            a(time)(offset)(value);
        }
    };
    // The LMC1992's registers as last set.
    struct Lmc1992 {
        uint32_t master = 40, left = 20, right = 20, bass = 6, treble = 6, mix = 1;
        template <class Archive>
        void Fields(Archive& a) {
            a(master)(left)(right)(bass)(treble)(mix);
        }
    };
    struct State {
        uint8_t control = 0, mode = 0;
        uint8_t startRegs[3] = {}, endRegs[3] = {};  // as written (masked)
        uint32_t frameStart = 0, frameEnd = 0;       // latched at play and at each loop
        uint32_t address = 0;
        Cycles period = dmasound::kSamplePeriod[0];
        Cycles nextSample = dmasound::kSamplePeriod[0];  // frame cycle of the next sample time
        Cycles processed = 0;                            // the sequencer has run up to here
        uint16_t microwireData = 0, microwireMask = 0;
        uint32_t microwireBusy = 0;
        Cycles microwireStart = 0;  // frame cycle of the data write that began the transmission
        Lmc1992 lmc;
        template <class Archive>  // `processed` is not stored: a state is taken between frames
        void Fields(Archive& a) {
            a(control)(mode)(startRegs)(endRegs)(frameStart)(frameEnd)(address)(microwireBusy)(lmc);
            a(period)(nextSample)(microwireStart)(microwireData)(microwireMask);
        }
    };

    void Queue(unsigned offset, uint32_t value, Cycles now);
    void Apply(const Write& write);
    void Sample();
    void Latch();
    void SetActive(bool high);
    void Microwire(Cycles now);
    void SetGains();
    Cycles MicrowireBitsSent(Cycles now) const;
    uint16_t MicrowireData(Cycles now) const;
    uint16_t MicrowireMask(Cycles now) const;
    void Plan();
    void Due(Cycles due);

    State s_;
    Write queue_[dmasound::kQueueCapacity] = {};
    uint32_t queued_ = 0, replayed_ = 0;
    int32_t samples_[dmasound::kMaxFrameSamples] = {};
    int32_t sampleCount_ = 0;
    int32_t leftGain_ = dmasound::kUnityGain, rightGain_ = dmasound::kUnityGain;
    EventList& events_;
    const DeviceBus& bus_;
    Lines lines_;
    int event_ = -1;
};

IoChip DmaSoundIoChip(DmaSound& chip);

}  // namespace vexil

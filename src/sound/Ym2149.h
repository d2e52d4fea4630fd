// YM2149 programmable sound generator at 0xFF8800: three square-wave tone channels, a noise
// generator, an envelope generator and two 8-bit ports (port A carries the floppy drive and
// side select lines).
//
// The chip has two halves that run at different times:
//   YmPorts   the register interface, while the CPU runs: the select latch, a shadow of every
//             register for reads, and the frame's write list, each data write stamped with its
//             frame cycle.
//   Ym2149    the synthesiser, once per frame: replays the write list while it produces the
//             frame's samples (44,100 Hz, mono), so every write is heard from the sample that
//             matches its cycle.
//
// Register interface (the pattern repeats every 4 bytes over the whole page; a word access
// uses its high, even byte):
//   0xFF8800  read: shadow of the selected register (0xFF above 15)  write: select latch
//   0xFF8802  read: the select latch                                 write: selected register
//   odd bytes read 0xFF, writes ignored
//
// Clocks: the chip runs at the CPU clock / 4 = 2,005,311 Hz. A tone of period P (12 bits) is a
// square wave of C / (16 P) Hz; periods 0-5 hold the channel high (so volume writes alone play
// samples). Noise of period N (5 bits) steps a 17-bit shift register C / (16 N) times a second;
// periods 0-2 hold it high. The envelope runs 32 steps of 16 E chip clocks per turn.
//
// A frame with more writes than the list holds: the shadows still take every write; writes
// past the list's end are not heard at their own time, but the last value of each register
// they changed is applied at the time of the last of them, so the sound carries on from the
// state the program left (see YmPorts::Write).
#pragma once

#include <cstdint>
#include <memory>

#include "core/Cycles.h"

namespace vexil {

class StateWriter;
class StateReader;
struct IoChip;

struct YmWrite {
    uint32_t delta;  // CPU cycles since the previous entry (the first: since the frame start)
    uint32_t reg;    // 0-15
    uint32_t value;  // the byte written
    template <class Archive>
    void Fields(Archive& a) {
        a(delta)(reg)(value);
    }
};

namespace ym {
constexpr uint32_t kCpuClock = kCpuClockHz;
constexpr uint32_t kDivider = 4;
constexpr uint32_t kChipClock = kCpuClock / kDivider;  // 2005311 Hz
constexpr uint32_t kOutputRate = 44100;
constexpr int32_t kFrameSamples = 881;
constexpr int32_t kMaxBlockSamples = 4096;
constexpr uint32_t kListCapacity = 20032;  // one write every 8 cycles of a 160256-cycle frame
constexpr uint32_t kEndOfList = 0x7FFFFF;  // the closing entry's delta, longer than any frame
constexpr uint32_t kMaxDelta = 0xFFFFF;    // listed deltas, so that delta << 12 fits 32 bits
constexpr unsigned kPortA = 14;            // bits 0-2: floppy side and drive select
constexpr unsigned kPortB = 15;            // the printer's data lines
constexpr unsigned kMixer = 7;             // bit 7: port B is an output
constexpr uint8_t kStrobe = 0x20;          // port A bit 5: the printer's strobe
}  // namespace ym

// The register interface and the frame's write list.
class YmPorts {
public:
    YmPorts();
    YmPorts(const YmPorts&) = delete;
    YmPorts& operator=(const YmPorts&) = delete;

    uint8_t ReadByte(uint32_t address) const;
    void WriteByte(uint32_t address, uint8_t value, Cycles now);

    // The frame's list, closed by an entry with delta kEndOfList; valid until StartFrame.
    const YmWrite* CloseList();
    // Empties the list for the next frame (the frame scheduler's start of frame).
    void StartFrame();

    uint8_t Shadow(unsigned reg) const { return s_.shadow[reg & 15]; }

    // The printer port: at the end of a strobe pulse (port A bit 5 low, then high; an input
    // port reads high) the byte on port B goes to the printer, when port B is an output. A
    // line held low across two frame starts is no pulse: TOS leaves it low from the sound
    // chip's set-up to the printer port's, and no byte is sent then. Null: nothing attached.
    struct Printer {
        void (*strobe)(void* context, uint8_t byte) = nullptr;
        void* context = nullptr;
    } printer;
    uint8_t Select() const { return s_.select; }
    uint32_t ListedWrites() const { return s_.count; }

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

private:
    // The strobe line: port A bit 5 while port A is an output (register 7 bit 6), else pulled
    // high.
    bool StrobeHigh() const {
        return !(s_.shadow[ym::kMixer] & 0x40) || (s_.shadow[ym::kPortA] & ym::kStrobe);
    }

    struct State {
        uint8_t select = 0;
        uint8_t shadow[16] = {};
        uint32_t count = 0;           // entries listed this frame
        Cycles lastWrite = 0;         // frame cycle of the last listed write
        uint32_t overflowRegs = 0;    // bit n: register n written after the list filled
        Cycles lastOverflow = 0;      // frame cycle of the last such write
        uint8_t strobeLowFrames = 2;  // frame starts seen since the strobe went low (at most 2)
        template <class Archive>
        void Fields(Archive& a) {
            a(select)(shadow)(count)(lastWrite)(overflowRegs)(lastOverflow)(strobeLowFrames);
        }
    } s_;
    // Room for the listed writes, the final values of the 16 registers after an overflow and
    // the closing entry; taken once, at construction.
    std::unique_ptr<YmWrite[]> list_;
};

// The synthesiser.
class Ym2149 {
public:
    Ym2149();

    // Produces `count` samples (signed, in 32-bit slots) into `output`, applying the list's
    // writes at their times. Whatever `count`, the block spans the time of `span` samples (the
    // frame's share of 44,100 a second).
    void Render(const YmWrite* list, int32_t* output, int32_t count, int32_t span = ym::kFrameSamples);
    // The machine reset: mixer and volumes silenced at the end of the next Render.
    void RequestReset() { s_.resetRequest = 1; }
    // The 14 registers as applied (masked), and whether register 13 was written since the
    // last call.
    void ReadRegisters(uint8_t out[14], bool* shapeWritten = nullptr);

    // One register write as Render applies it (tests and the recorder's seeking use it).
    void WriteRegister(unsigned reg, uint8_t value);
    uint32_t Register(unsigned reg) const { return s_.regs[reg]; }

    // One step of the noise generator's shift register (17 bits; bit 0 is the output).
    static uint32_t NextNoise(uint32_t shift);

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

private:
    void FullReset();
    void SetTone(unsigned channel);
    void SetNoise();
    void SetMixer();
    void SetEnvelope();
    void Derive();
    void SetVolume(unsigned channel);
    int32_t Sample();

    struct State {
        uint32_t regs[14] = {};
        uint32_t toneStep[3] = {}, tonePhase[3] = {};
        uint32_t fixedLevel[3] = {};
        uint32_t envelopeLevel = 0;
        uint32_t toneOff[3] = {}, noiseOff[3] = {};
        uint32_t useEnvelope[3] = {};  // the channel's level follows the envelope
        uint32_t noiseStep = 0, noiseAccumulator = 0, noiseShift = 1, noiseOutput = 0xFFFF;
        uint32_t envelopeStep = 0, envelopePhase = 0, envelopeRepeat = 0, shape = 0;
        uint32_t shapeWritten = 0;
        uint32_t resetRequest = 0;
        // What a save state keeps: the registers and the running values. The steps, masks and
        // levels follow from them (Derive).
        template <class Archive>
        void Fields(Archive& a) {
            a(regs)(tonePhase)(noiseAccumulator)(noiseShift)(noiseOutput)(envelopePhase)(envelopeRepeat);
            a(shapeWritten)(resetRequest);
        }
    } s_;
    uint32_t sampleStep_ = 0;  // 1/4096 CPU cycles per sample in the current block
    int32_t blockMin_ = 0, blockMax_ = 0;
};

// The frame's sound as the machine mixes it: the YM2149 (when `YMSound` is on) into 16-bit
// samples, clipped.
struct YmChip {
    YmPorts ports;
    Ym2149 synth;

    // The page's routines: a word reaches the ports through its high byte (the even address);
    // the low byte reads all ones.
    uint8_t ReadByte(unsigned offset) const { return ports.ReadByte(offset); }
    uint16_t ReadWord(unsigned offset) const {
        return static_cast<uint16_t>(ports.ReadByte(offset) << 8 | 0xFF);
    }
    void WriteByte(unsigned offset, uint8_t value, Cycles now) { ports.WriteByte(offset, value, now); }
    void WriteWord(unsigned offset, uint16_t value, Cycles now) {
        ports.WriteByte(offset, static_cast<uint8_t>(value >> 8), now);
    }
    void Reset() { synth.RequestReset(); }
};
IoChip Ym2149IoChip(YmChip& chip);

}  // namespace vexil

// The Shifter: the video registers of the I/O page 0xFF8200 and the frame's log of video writes.
//
// Nothing is drawn while the CPU runs. Every write that can change what the beam shows (a
// palette entry, the resolution, the video counter, a border trick, a write into the screen
// memory) is appended to the log with the frame cycle of the bus access; at the frame end the
// renderer (Renderer.h) replays the log against the beam. Border removal is recognised here,
// from the cycle of the sync or resolution write, and moves that line's display window.
//
// Registers (offsets in the page; all others read 0xFF and ignore writes):
//   0x01 0x03   video base high, middle          read/write
//   0x05-0x09   video counter high/middle/low    read; written on an STE only, where a
//                                                write replaces that byte of the counter
//                                                as it stands and the picture goes on there
//   0x0A        sync mode (2 bits)               read/write, border detection
//   0x0D        video base low (STE)             bit 0 reads 0; 0xFF and ignored on an ST;
//                                                a write to 0x01 or 0x03 clears it
//   0x0F        line offset (STE)                words skipped after each line; logged
//   0x40-0x5F   palette 0-15                     ST 0x0777 bits, STE 0x0FFF bits
//   0x60        resolution (2 bits)              read/write, border detection
//   0x64 0x65   horizontal scroll (STE)          0x65 (4 bits): the picture moves that many
//                                                pixels left and each line fetches one
//                                                16-pixel block more; logged. On an ST 0x0F is
//                                                stored only and scroll writes are ignored.
//
// Border tricks recognised (line cycle p = frame cycle mod 512, only while display enabled):
//   sync 0 at p 356/372/376/380/384       next line starts 2 bytes earlier      code 0x2A
//   sync 0 at p 388                       right border open, window end + 88    code 0x24
//   resolution 2 at p 8/12/16             left border open, window start - 52  code 0x26
//   resolution 2 at p 164-176 (step 4)    next line starts 106 bytes earlier    code 0x28
//   sync not 2 in frame cycles 17184-17424    top border open
//   sync not 2 in frame cycles 133924-134752  bottom border open
// Not modelled: high resolution, 60 Hz frame timing.
#pragma once

#include <cstdint>
#include <memory>

#include "io/IoDispatch.h"
#include "memory/Memory.h"

namespace vexil {

class StateWriter;
class StateReader;

// One entry of the video write log. `delta` is the frame cycles since the previous entry (the
// first counts from cycle 0); the terminating entry has kLogEnd. For screen-memory writes the
// data is in the high half of `code`.
struct ShifterEvent {
    int32_t delta;
    uint32_t code;
    uint32_t value;
    template <class Archive>
    void Fields(Archive& a) {
        a(delta)(code)(value);
    }
};

constexpr int32_t kLogEnd = 0x7FFFFFFF;

// Event codes; the renderer's handler number is code / 2.
enum ShifterCode : uint32_t {
    kCodePalette = 0x00,  // 0x00-0x1E: palette entry code / 2, value the palette word
    kCodeCounter = 0x20,  // picture data from emulated RAM at value
    kCodeResolution = 0x22,
    kCodeRightBorder = 0x24,
    kCodeLeftBorder = 0x26,
    kCodeLineBack106 = 0x28,
    kCodeLineBack2 = 0x2A,
    kCodeScreenByte = 0x2E,
    kCodeScreenWord = 0x30,
    kCodeLineOffset = 0x32,  // STE: words added after each line, value 0-255
    kCodeScroll = 0x34,      // STE: pixels the picture moves left, value 0-15
};

constexpr int32_t kDisplayStart = 96;  // default display window within a line, in cycles
constexpr int32_t kDisplayEnd = 416;
// One entry per bus slot of a frame, a little room for writes past its end, the terminator.
constexpr int32_t kShifterLogEntries = 160256 / 4 + 64;

// What the line events of the scheduler and the Shifter's border tricks share of the beam.
struct BorderState {
    uint32_t displayEnable = 0;  // beam in the lines whose ends timer B counts
    uint32_t topBorderOpen = 0;
    uint32_t bottomBorderOpen = 0;
};

class Shifter {
public:
    // `scheduler` holds the display-enable and border flags the detection sets.
    Shifter(BorderState& border, bool ste);

    // Machine reset: video base and counter 0, resolution 0, sync 2; the palette stays.
    void Reset();
    // Frame start: the counter starts at the video base, the log is emptied.
    void StartFrame();
    // All line windows to their defaults; the counter restarts (at every frame start).
    void ResetLineWindows();
    // Writes the terminator at the log's write position (the renderer needs it).
    void TerminateLog();

    uint8_t ReadByte(uint32_t address, Cycles time);
    uint16_t ReadWord(uint32_t address, Cycles time);
    // A read for the debugger: the same value, with the counter's walk left where it was.
    uint8_t PeekByte(uint32_t address, Cycles time);
    void WriteByte(uint32_t address, uint8_t value, Cycles time);
    void WriteWord(uint32_t address, uint16_t value, Cycles time);

    // The screen-memory watch: the RAM region stores the data; these log it.
    static void WatchByte(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time);
    static void WatchWord(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time);

    // The video counter at a frame cycle, counted through the line windows.
    uint32_t VideoCounterAt(Cycles time);

    uint32_t VideoBase() const { return s_.videoBase; }
    uint32_t CounterStart() const { return s_.counterStart; }
    uint32_t FrameBase() const { return s_.frameBase; }  // where this frame's snapshot starts
    uint16_t Palette(int index) const {
        return static_cast<uint16_t>(s_.regs[0x40 + 2 * index] << 8 | s_.regs[0x41 + 2 * index]);
    }
    uint8_t Resolution() const { return s_.regs[0x60]; }
    uint8_t LineOffset() const { return ste_ ? s_.regs[0x0F] : 0; }  // as the picture takes it
    uint8_t Scroll() const { return ste_ ? s_.regs[0x65] & 15 : 0; }
    const ShifterEvent* Log() const { return log_.get(); }
    int32_t LogLength() const { return s_.logLength; }
    int32_t WindowStart(int line) const { return s_.windowStart[line]; }
    int32_t WindowEnd(int line) const { return s_.windowEnd[line]; }
    bool Ste() const { return ste_; }
    void SetSte(bool ste) { ste_ = ste; }

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

private:
    void Log(uint32_t code, uint32_t value, Cycles time);
    void LogScreenWrite(uint32_t code, uint32_t address, Cycles time);
    void WriteSync(uint8_t value, Cycles time);
    void WriteResolution(uint8_t value, Cycles time);
    void WriteCounter(int shift, uint8_t value, Cycles time);
    void WritePaletteByte(uint32_t offset, uint8_t value, Cycles time);
    uint16_t PaletteMask() const { return ste_ ? 0x0FFF : 0x0777; }
    uint32_t SteLineExtra() const;  // bytes an STE's line offset and scroll add to a line

    struct State {
        uint8_t regs[256];  // register mirror, one byte per offset
        uint32_t videoBase;
        uint32_t counterStart;  // the counter's value at the frame start (writes change it)
        uint32_t frameBase;     // the video base the frame started with
        int32_t windowStart[313];
        int32_t windowEnd[313];
        // The incremental video counter read.
        Cycles countedTo;
        int32_t countLine;
        uint32_t countBytes;
        int32_t firstCountedLine;
        int32_t lastCountedLine;  // last plus one
        uint32_t countRestart;
        // The log's write position and the cycle of its last entry.
        int32_t logLength;
        Cycles lastEventCycle;
        template <class Archive>
        void Fields(Archive& a) {
            a(regs)(videoBase)(counterStart)(frameBase)(countBytes)(countRestart)(windowStart)(windowEnd);
            a(countedTo)(countLine)(firstCountedLine)(lastCountedLine)(logLength)(lastEventCycle);
        }
    };

    BorderState& border_;
    bool ste_;
    State s_{};
    std::unique_ptr<ShifterEvent[]> log_;
};

IoChip ShifterIoChip(Shifter& shifter);

}  // namespace vexil

// The line renderer: turns one frame's video write log and its 64 KB screen snapshot into the
// 800 x 600 R5G6B5 host picture.
//
// The frame is walked as the beam would: 313 lines of 512 cycles, the log replayed at the
// cycle of each entry. 300 emulated lines of 400 visible cycles are drawn, each as two host
// lines of 800 pixels (one 32-bit line-buffer word per cycle, two host pixels):
//
//   line cycles   0-55 hidden   56-95 left border   96-415 picture (20 blocks of 16)
//                 416-455 right border   456-511 hidden
//   lines         0-20 not drawn, 21-62 top border, 63-262 picture, 263-320 bottom border
//                 (an open top border starts the picture at 34, an open bottom one ends it
//                 at 305)
//
// A 60 Hz frame (508-cycle lines, the display 4 cycles earlier) is drawn the same way with the
// picture in the middle: host line pairs 0-31 black, lines 16-33 top border, 34-233 picture,
// 234-262 bottom border, the last 21 pairs black. Which timing a frame shows is the timing of
// most of its lines; a line of another timing inside it is drawn black.
//
// The monochrome monitor shows a 71 Hz frame: lines 35-434, one host line each, 640 pixels
// of one plane (80 bytes a line) inside a black border: host lines 100-499, columns 80-719.
// The palette is bypassed: a pixel is white when its bit differs from bit 0 of colour 0.
// A monitor given a timing it cannot follow (a colour timing on the monochrome monitor, 71 Hz
// on the colour one) shows black, and Synced() turns false for the frame.
//
// On an STE the line offset adds its words after each line, and a pixel scroll moves the picture
// left by up to 15 pixels: each line then fetches one 16-pixel block more (8 bytes in low
// resolution, 4 in medium) and every block drawn takes its leftmost pixels from the next.
//
// Border colour changes land on the exact cycle; inside the picture a change takes effect
// from the 4-cycle group that holds it. Conversion is table-driven: plane tables turn the
// bitplane nibbles or bytes into colour indexes, the colour table turns palette words into
// host colours. Nothing allocates per frame.
#pragma once

#include <cstdint>
#include <memory>

#include "video/Shifter.h"

namespace vexil {

// Line output routines, as the display settings choose them (`g_softwareMode`).
enum class LineMode : int32_t { kNormal = 0, kHalf = 1, kInterlace = 2, kBlend = 3 };

// What one frame is drawn from.
struct RenderSource {
    const ShifterEvent* log = nullptr;  // terminated with kLogEnd
    const uint8_t* snapshot = nullptr;  // 64 KB from the frame's video base, host word order
                                        // (a screen larger than that goes on in `ram`)
    uint32_t snapshotBase = 0;          // the emulated address the snapshot starts at
    // Emulated RAM (4 MB, host word order) for the reads after a video counter write; the 16
    // bytes after it must be readable (the ROM area follows it in the memory block).
    const uint8_t* ram = nullptr;
    bool topBorderOpen = false;
    bool bottomBorderOpen = false;
    // The frame's lines: their start cycles (lines + 1 of them) and timings; null: 313 lines of
    // 512 cycles.
    const Cycles* lineStarts = nullptr;
    const uint8_t* lineTimings = nullptr;
    int32_t lines = 313;
    bool monoMonitor = false;
};

class Renderer {
public:
    Renderer();

    // The host colour of a palette word: 4 bits per channel (the low three bits doubled, the
    // fourth as the lowest), bits 12-15 ignored.
    static uint16_t HostColour(uint16_t paletteWord);

    // Machine reset: low resolution, no line offset or scroll; the palette stays.
    void Reset() { resolution_ = 0, lineOffset_ = 0, scroll_ = 0; }
    // Takes the palette, resolution, line offset and scroll as the registers hold them (after
    // a state was loaded).
    void SetState(const uint16_t palette[16], uint8_t resolution, uint8_t lineOffset = 0, uint8_t scroll = 0);

    // Draws the frame into `pixels` (800 x 600, `pitchBytes` apart; two host lines per
    // emulated line).
    void RenderFrame(uint16_t* pixels, int32_t pitchBytes, const RenderSource& source);

    LineMode mode = LineMode::kNormal;
    bool useTexture = false;  // one host line per emulated line whatever the mode

    uint32_t PaletteEntry(int index) const { return palette_[index]; }
    // Whether the monitor could follow the last frame's timing.
    bool Synced() const { return synced_; }

private:
    static constexpr int kLineWords = 400;
    static constexpr int kLineSlack = 64;  // border events beyond the machine's own run here

    int64_t Apply();
    void Fill(int64_t words);
    void FillBorder();
    void BorderLine();
    void PictureLine();
    void DrawGroupLow(uint32_t first, uint32_t second, int group);
    void DrawGroupMedium(uint32_t first, uint32_t second, int group);
    void DrawHalfBlockLow(uint32_t offset, int half);
    void ReadBlock(uint32_t offset, uint32_t& first, uint32_t& second) const;
    void ReadScrolledBlock(uint32_t offset, bool medium, uint32_t& first, uint32_t& second) const;
    void OutputLine();
    void Advance(int64_t cycles);
    void SetLineGeometry(int32_t line);
    void BlackLine();
    void RenderColour(const RenderSource& source, VideoTiming timing);
    void RenderMono(const RenderSource& source);
    uint16_t ReadWord(uint32_t offset) const;
    int32_t LineCycles(int32_t line) const;
    VideoTiming TimingOfLine(int32_t line) const;

    // Tables, built once.
    std::unique_ptr<uint16_t[]> colours_;  // 65536 host colours by palette word
    uint32_t lowPlanes_[4][16];
    uint32_t mediumPlanes_[2][256];

    // Carried from frame to frame.
    uint32_t palette_[16] = {};  // host colour in both halves
    uint32_t resolution_ = 0;
    uint32_t lineOffset_ = 0;  // words
    uint32_t scroll_ = 0;      // pixels
    uint32_t lineScroll_ = 0;  // the scroll the line being drawn took at its start
    uint16_t colour0_ = 0;     // palette word 0, whose bit 0 inverts the monochrome picture
    bool synced_ = true;

    // Per frame.
    std::unique_ptr<uint8_t[]> work_;  // the snapshot, patched by screen writes
    const ShifterEvent* event_ = nullptr;
    uint32_t snapshotBase_ = 0;
    const uint8_t* ram_ = nullptr;
    const uint8_t* source_ = nullptr;  // work_ or ram_
    uint32_t sourceMask_ = 0;
    uint32_t read_ = 0;  // read offset into source_
    int64_t remaining_ = 0;
    int32_t blocks_ = 0;
    int64_t borderWidth_ = 0;
    int32_t extraBytes_ = 0;
    int32_t linePos_ = 0;
    uint8_t* hostLine_ = nullptr;
    int32_t pitch_ = 0;
    int64_t hiddenLeft_ = 56;  // the line's cycles before and after its 400 visible ones
    int64_t hiddenRight_ = 56;
    const Cycles* lineStarts_ = nullptr;
    const uint8_t* lineTimings_ = nullptr;
    int32_t lines_ = 313;
    alignas(64) uint32_t line_[kLineWords + kLineSlack];
};

}  // namespace vexil

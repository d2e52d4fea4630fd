#include "video/Renderer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "memory/Memory.h"

namespace vexil {

namespace {

constexpr uint32_t kSnapshotBytes = 0x10000;
constexpr uint32_t kRamMask = 0x3FFFFF;
constexpr int64_t kVerticalBlankCycles = 21 * 512;

}  // namespace

uint16_t Renderer::HostColour(uint16_t word) {
    const auto channel = [](uint32_t nibble) { return (nibble & 7) << 1 | (nibble >> 3 & 1); };
    const uint32_t r = channel(word >> 8 & 15), g = channel(word >> 4 & 15), b = channel(word & 15);
    return static_cast<uint16_t>(r << 12 | g << 7 | b << 1);
}

Renderer::Renderer() : colours_(new uint16_t[0x10000]), work_(new uint8_t[kSnapshotBytes + 16]()) {
    for (uint32_t word = 0; word < 0x10000; ++word) colours_[word] = HostColour(static_cast<uint16_t>(word));
    for (uint32_t plane = 0; plane < 4; ++plane) {
        for (uint32_t n = 0; n < 16; ++n) {
            uint32_t entry = 0;
            for (uint32_t k = 0; k < 4; ++k) entry |= ((n >> (3 - k)) & 1) << plane << (8 * k);
            lowPlanes_[plane][n] = entry;
        }
    }
    for (uint32_t plane = 0; plane < 2; ++plane) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t entry = 0;
            for (uint32_t k = 0; k < 8; ++k) entry |= ((n >> (7 - k)) & 1) << plane << (2 * k);
            mediumPlanes_[plane][n] = entry;
        }
    }
    const uint32_t black = colours_[0];
    std::fill(std::begin(palette_), std::end(palette_), black);
    std::memset(line_, 0, sizeof line_);
}

void Renderer::SetState(const uint16_t palette[16], uint8_t resolution, uint8_t lineOffset, uint8_t scroll) {
    for (int i = 0; i < 16; ++i) palette_[i] = colours_[palette[i]] * 0x10001u;
    resolution_ = resolution & 3;
    lineOffset_ = lineOffset;
    scroll_ = scroll & 15u;
    colour0_ = palette[0];
}

// Performs the entry at the read position and moves on; returns the next entry's delta. The
// terminator is never passed.
int64_t Renderer::Apply() {
    const ShifterEvent& e = *event_;
    if (e.delta == kLogEnd) return kLogEnd;
    const uint32_t code = e.code & 0xFFFF;
    if (code <= 0x1E) {
        palette_[code >> 1] = colours_[e.value & 0xFFFF] * 0x10001u;
        if (code == 0) colour0_ = static_cast<uint16_t>(e.value);
    } else {
        switch (code) {
            case kCodeCounter:
                // The picture goes on from live RAM at the written address, wrapping within the
                // 22 bits the counter has.
                if (ram_ != nullptr) {
                    source_ = ram_;
                    sourceMask_ = kRamMask;
                    read_ = e.value & kRamMask;
                }
                break;
            case kCodeResolution:
                resolution_ = e.value & 3;
                break;
            case kCodeRightBorder:
                blocks_ += 2;
                extraBytes_ += 28;
                borderWidth_ = 0;
                break;
            case kCodeLeftBorder:
                blocks_ += 2;
                read_ += 8;
                extraBytes_ += 2;
                borderWidth_ = 0;
                break;
            case kCodeLineBack106:
                extraBytes_ -= 106;
                break;
            case kCodeLineBack2:
                extraBytes_ -= 2;
                break;
            case kCodeScreenByte:
                work_[((e.value - snapshotBase_) ^ 1) & 0xFFFF] = static_cast<uint8_t>(e.code >> 16);
                break;
            case kCodeScreenWord:
                StoreHostWord(work_.get() + ((e.value - snapshotBase_) & 0xFFFE),
                              static_cast<uint16_t>(e.code >> 16));
                break;
            case kCodeLineOffset:
                lineOffset_ = e.value & 0xFF;
                break;
            case kCodeScroll:
                scroll_ = e.value & 15;
                break;
            default:
                break;
        }
    }
    ++event_;
    return event_->delta;
}

// The line buffer takes at most its slack beyond the visible 400 words; a line stretched
// further by repeated border events overwrites its own tail.
void Renderer::Fill(int64_t words) {
    if (words <= 0) return;
    const int32_t room = kLineWords + kLineSlack - linePos_;
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(words, room));
    std::fill_n(line_ + linePos_, n, palette_[0]);
    linePos_ += n;
    if (linePos_ > kLineWords + kLineSlack - 16) linePos_ = kLineWords + kLineSlack - 16;
}

// Picture data past the snapshot's 64 KB (an STE line offset makes a frame's screen that large)
// comes from emulated RAM as it stands at the frame end.
void Renderer::ReadBlock(uint32_t offset, uint32_t& first, uint32_t& second) const {
    const uint8_t* p = source_ + (offset & sourceMask_ & ~1u);
    if (source_ == work_.get() && ram_ != nullptr && offset >= kSnapshotBytes && offset < kRamMask)
        p = ram_ + ((snapshotBase_ + offset) & kRamMask & ~1u);
    uint32_t words[2];
    std::memcpy(words, p, 8);
    first = words[0];  // plane 0 in the low half, plane 1 in the high half
    second = words[1];
}

// A block as a scrolled line shows it: each 16-pixel plane word takes its first `lineScroll_`
// pixels' place from the following one (in low resolution the same plane of the next block; in
// medium the block's second group, then the next block's first).
void Renderer::ReadScrolledBlock(uint32_t offset, bool medium, uint32_t& first, uint32_t& second) const {
    uint32_t nextFirst, nextSecond;
    ReadBlock(offset, first, second);
    ReadBlock(offset + 8, nextFirst, nextSecond);
    const uint32_t s = lineScroll_;
    const auto join = [s](uint32_t words, uint32_t following) {
        const uint32_t low = ((words & 0xFFFF) << s | (following & 0xFFFF) >> (16 - s)) & 0xFFFF;
        const uint32_t high = ((words >> 16) << s | (following >> 16) >> (16 - s)) & 0xFFFF;
        return low | high << 16;
    };
    if (medium) {
        const uint32_t joinedFirst = join(first, second);
        second = join(second, nextFirst);
        first = joinedFirst;
    } else {
        first = join(first, nextFirst);
        second = join(second, nextSecond);
    }
}

void Renderer::DrawGroupLow(uint32_t first, uint32_t second, int group) {
    const int shift = 12 - 4 * group;
    const uint32_t index =
        lowPlanes_[0][(first >> shift) & 15] | lowPlanes_[1][(first >> (16 + shift)) & 15] |
        lowPlanes_[2][(second >> shift) & 15] | lowPlanes_[3][(second >> (16 + shift)) & 15];
    uint32_t* out = line_ + linePos_;
    out[0] = palette_[index & 0xFF];
    out[1] = palette_[(index >> 8) & 0xFF];
    out[2] = palette_[(index >> 16) & 0xFF];
    out[3] = palette_[index >> 24];
    linePos_ += 4;
}

void Renderer::DrawGroupMedium(uint32_t first, uint32_t second, int group) {
    const uint32_t word = group < 2 ? first : second;
    const int shift = (group & 1) ? 0 : 8;
    const uint32_t index =
        mediumPlanes_[0][(word >> shift) & 0xFF] | mediumPlanes_[1][(word >> (16 + shift)) & 0xFF];
    uint32_t* out = line_ + linePos_;
    for (int j = 0; j < 4; ++j) {
        const uint32_t left = palette_[(index >> (4 * j)) & 3] & 0xFFFF;
        const uint32_t right = palette_[(index >> (4 * j + 2)) & 3] & 0xFFFF;
        out[j] = left | right << 16;
    }
    linePos_ += 4;
}

// Pixels 0-7 (half 0) or 8-15 (half 1) of a block, always in low resolution.
void Renderer::DrawHalfBlockLow(uint32_t offset, int half) {
    uint32_t first, second;
    ReadBlock(offset, first, second);
    DrawGroupLow(first, second, 2 * half);
    DrawGroupLow(first, second, 2 * half + 1);
}

void Renderer::BorderLine() {
    linePos_ = 0;
    remaining_ -= hiddenLeft_;
    while (remaining_ < 0) remaining_ += Apply();
    int64_t left = kLineWords;
    while (remaining_ < left) {
        left -= remaining_;
        Fill(remaining_);
        remaining_ = Apply();
    }
    Fill(left);
    remaining_ -= left + hiddenRight_;
}

// Fills a side border of `borderWidth_` words, performing the entries it passes; an entry
// that opens the border (borderWidth_ = 0) ends it there.
void Renderer::FillBorder() {
    while (remaining_ < borderWidth_) {
        borderWidth_ -= remaining_;
        Fill(remaining_);
        remaining_ = Apply();
    }
    Fill(borderWidth_);
    remaining_ -= borderWidth_;
}

void Renderer::PictureLine() {
    remaining_ -= hiddenLeft_;
    linePos_ = 0;
    blocks_ = 20;
    borderWidth_ = 40;
    extraBytes_ = 0;
    bool leftDone = false;
    if (remaining_ < 0) {
        while (remaining_ < 0) remaining_ += Apply();
        if (borderWidth_ == 0) {
            // The left border opened in the hidden cycles: the line shows the last 8 pixels of
            // the block before its data.
            DrawHalfBlockLow(read_ - 8, 1);
            remaining_ -= 8;
            leftDone = true;
        }
    }
    if (!leftDone) FillBorder();
    borderWidth_ = 40;
    lineScroll_ = scroll_;

    while (blocks_ > 0) {
        if (linePos_ > kLineWords + kLineSlack - 16) linePos_ = kLineWords + kLineSlack - 16;
        const bool medium = (resolution_ & 1) != 0;
        uint32_t first, second;
        if (lineScroll_ != 0)
            ReadScrolledBlock(read_, medium, first, second);
        else
            ReadBlock(read_, first, second);
        if (remaining_ >= 16) {
            remaining_ -= 16;
            for (int g = 0; g < 4; ++g)
                medium ? DrawGroupMedium(first, second, g) : DrawGroupLow(first, second, g);
        } else {
            for (int g = 0; g < 4; ++g) {
                remaining_ -= 4;
                if (remaining_ < 0) remaining_ += Apply();
                medium ? DrawGroupMedium(first, second, g) : DrawGroupLow(first, second, g);
            }
        }
        read_ += 8;
        --blocks_;
    }

    if (linePos_ > kLineWords + kLineSlack - 16) linePos_ = kLineWords + kLineSlack - 16;
    if (borderWidth_ == 0) {
        DrawHalfBlockLow(read_, 0);
        remaining_ -= 8;
    } else {
        FillBorder();
    }
    read_ += static_cast<uint32_t>(extraBytes_ & ~1);
    // The STE's extra fetch of a scrolled line, and its line offset.
    if (lineScroll_ != 0) read_ += (resolution_ & 1) ? 4 : 8;
    read_ += 2 * lineOffset_;
    remaining_ -= hiddenRight_;
}

void Renderer::OutputLine() {
    const size_t bytes = kLineWords * sizeof(uint32_t);
    std::memcpy(hostLine_, line_, bytes);
    uint8_t* second = hostLine_ + pitch_;
    if (useTexture || mode == LineMode::kHalf || mode == LineMode::kInterlace) {
        // The other host line keeps what the display's frame buffer held.
    } else if (mode == LineMode::kBlend) {
        uint32_t dimmed[kLineWords];
        for (int i = 0; i < kLineWords; ++i) dimmed[i] = (line_[i] >> 1) & 0x7BEF7BEF;
        std::memcpy(second, dimmed, bytes);
    } else {
        std::memcpy(second, line_, bytes);
    }
    hostLine_ += 2 * static_cast<ptrdiff_t>(pitch_);
}

// Moves the beam on by `cycles`, performing the entries it passes.
void Renderer::Advance(int64_t cycles) {
    remaining_ -= cycles;
    while (remaining_ < 0) remaining_ += Apply();
}

// Lines past the frame's end go on with its last line's timing (their time is the next
// frame's, which has no entries yet).
VideoTiming Renderer::TimingOfLine(int32_t line) const {
    if (lineTimings_ == nullptr) return kTiming50Hz;
    return static_cast<VideoTiming>(lineTimings_[std::clamp(line, 0, lines_ - 1)] % 3);
}

int32_t Renderer::LineCycles(int32_t line) const {
    if (lineStarts_ == nullptr || line < 0 || line >= lines_) return kLineTimings[TimingOfLine(line)].cycles;
    return lineStarts_[line + 1] - lineStarts_[line];
}

// The hidden cycles around the 400 visible ones: the left border is 40 cycles wide.
void Renderer::SetLineGeometry(int32_t line) {
    const VideoTiming timing = TimingOfLine(line);
    hiddenLeft_ = kLineTimings[timing].displayStart - 40;
    hiddenRight_ = LineCycles(line) - kLineWords - hiddenLeft_;
}

void Renderer::BlackLine() {
    std::fill_n(line_, kLineWords, colours_[0] * 0x10001u);
    OutputLine();
}

void Renderer::RenderFrame(uint16_t* pixels, int32_t pitchBytes, const RenderSource& source) {
    if (source.snapshot != nullptr)
        std::memcpy(work_.get(), source.snapshot, kSnapshotBytes);
    else
        std::memset(work_.get(), 0, kSnapshotBytes);
    std::memcpy(work_.get() + kSnapshotBytes, work_.get(), 16);  // a block read across the end wraps
    event_ = source.log;
    snapshotBase_ = source.snapshotBase;
    ram_ = source.ram;
    source_ = work_.get();
    sourceMask_ = kSnapshotBytes - 1;
    read_ = 0;
    hostLine_ = reinterpret_cast<uint8_t*>(pixels);
    pitch_ = pitchBytes;
    remaining_ = event_->delta;
    lineStarts_ = source.lineStarts;
    lineTimings_ = source.lineTimings;
    lines_ = source.lineStarts != nullptr ? std::clamp(source.lines, 1, kMaxFrameLines) : kLinesPerFrame;

    // The timing most of the frame's lines have is the one the monitor locks to.
    int32_t count[3] = {lines_, 0, 0};
    if (lineTimings_ != nullptr) {
        count[0] = 0;
        for (int32_t line = 0; line < lines_; ++line) ++count[lineTimings_[line] % 3];
    }
    const VideoTiming timing = count[kTiming71Hz] > count[kTiming50Hz] + count[kTiming60Hz] ? kTiming71Hz
                               : count[kTiming60Hz] > count[kTiming50Hz]                    ? kTiming60Hz
                                                                                            : kTiming50Hz;
    synced_ = (timing == kTiming71Hz) == source.monoMonitor;
    if (source.monoMonitor) {
        if (synced_) {
            RenderMono(source);
        } else {
            for (int y = 0; y < 600; ++y)
                std::fill_n(reinterpret_cast<uint16_t*>(hostLine_ + static_cast<ptrdiff_t>(y) * pitch_), 800,
                            0);
        }
        return;
    }
    if (!synced_) {
        for (int i = 0; i < 300; ++i) BlackLine();
        return;
    }
    RenderColour(source, timing);
}

void Renderer::RenderColour(const RenderSource& source, VideoTiming timing) {
    const bool sixty = timing == kTiming60Hz;
    const int blackTop = sixty ? 32 : 0;
    const int firstDrawn = sixty ? 16 : 21;
    const int topLines = sixty ? 18 : source.topBorderOpen ? 13 : 42;
    const int pictureLines =
        sixty ? 200 : (source.topBorderOpen ? 229 : 200) + (source.bottomBorderOpen ? 43 : 0);
    const int bottomLines = sixty ? 29 : source.bottomBorderOpen ? 15 : 58;

    Advance(lineStarts_ != nullptr ? lineStarts_[std::min(firstDrawn, lines_)] : kVerticalBlankCycles);
    for (int i = 0; i < blackTop; ++i) BlackLine();
    int32_t line = firstDrawn;
    const auto draw = [this, &line](int count, void (Renderer::*drawLine)()) {
        for (int i = 0; i < count; ++i, ++line) {
            const int32_t cycles = LineCycles(line);
            SetLineGeometry(line);
            if (hiddenRight_ < 0) {
                // A line too short for this timing (or past the frame's end): black.
                Advance(cycles);
                BlackLine();
                continue;
            }
            (this->*drawLine)();
            OutputLine();
        }
    };
    draw(topLines, &Renderer::BorderLine);
    draw(pictureLines, &Renderer::PictureLine);
    draw(bottomLines, &Renderer::BorderLine);
    for (int i = blackTop + topLines + pictureLines + bottomLines; i < 300; ++i) BlackLine();
}

// A word of picture data, from where ReadBlock would take it.
uint16_t Renderer::ReadWord(uint32_t offset) const {
    const uint8_t* p = source_ + (offset & sourceMask_ & ~1u);
    if (source_ == work_.get() && ram_ != nullptr && offset >= kSnapshotBytes && offset < kRamMask)
        p = ram_ + ((snapshotBase_ + offset) & kRamMask & ~1u);
    uint16_t word;
    std::memcpy(&word, p, 2);
    return word;
}

void Renderer::RenderMono(const RenderSource& source) {
    constexpr int kTop = 100, kLeft = 80;
    const LineTiming& t = kLineTimings[kTiming71Hz];
    const auto row = [this](int y) {
        return reinterpret_cast<uint16_t*>(hostLine_ + static_cast<ptrdiff_t>(y) * pitch_);
    };
    for (int y = 0; y < kTop; ++y) std::fill_n(row(y), 800, 0);
    Cycles at = 0;  // the beam's frame cycle
    for (int i = 0; i < 400; ++i) {
        const int32_t line = t.firstPicture + i;
        uint16_t* out = row(kTop + i);
        if (line >= lines_) {
            std::fill_n(out, 800, 0);
            continue;
        }
        const Cycles start = lineStarts_ != nullptr ? lineStarts_[line] : line * t.cycles;
        Advance(start + t.displayStart - at);
        at = start + t.displayStart;
        std::fill_n(out, kLeft, 0);
        const uint16_t paper = (colour0_ & 1) ? 0xFFFF : 0x0000;
        for (int w = 0; w < 40; ++w) {
            const uint16_t bits = ReadWord(read_);
            read_ += 2;
            uint16_t* px = out + kLeft + 16 * w;
            for (int b = 0; b < 16; ++b)
                px[b] = ((bits >> (15 - b)) & 1) ? static_cast<uint16_t>(~paper) : paper;
        }
        std::fill_n(out + kLeft + 640, 800 - kLeft - 640, 0);
        read_ += 2 * lineOffset_;
    }
    for (int y = kTop + 400; y < 600; ++y) std::fill_n(row(y), 800, 0);
    (void)source;
    // The rest of the frame's entries still change the registers the next frame starts with.
    while (event_->delta != kLogEnd) Apply();
}

}  // namespace vexil

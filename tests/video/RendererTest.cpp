#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "memory/Memory.h"
#include "video/Renderer.h"

namespace vexil {
namespace {

constexpr int kWidth = 800, kHeight = 600;

constexpr Cycles Line(int line, int cycle) {
    return line * 512 + cycle;
}

// Palette words for the tests, and their host colours as the machine's documentation gives
// them for the three-bit values (7 -> 28 of 31 red and blue, 56 of 63 green).
constexpr uint16_t kWords[16] = {0x0000, 0x0700, 0x0070, 0x0007, 0x0777, 0x0770, 0x0707, 0x0077,
                                 0x0100, 0x0010, 0x0001, 0x0111, 0x0300, 0x0030, 0x0003, 0x0333};
uint16_t Host(uint16_t word) {
    const auto c = [](int v) { return v * 2 * 2; };  // 3 bits -> 5 bits (x4); green 6 bits (x8)
    const int r = word >> 8 & 7, g = word >> 4 & 7, b = word & 7;
    return static_cast<uint16_t>(c(r) << 11 | (g * 8) << 5 | c(b));
}

class RendererTest : public ::testing::Test {
protected:
    RendererTest() : snapshot_(0x10000), ram_(kRamBytes + 16), pixels_(kWidth * kHeight, 0x1234) {}

    void Event(Cycles at, uint32_t code, uint32_t value) {
        log_.push_back({at - last_, code, value});
        last_ = at;
    }
    void Palette(Cycles at) {
        for (uint32_t i = 0; i < 16; ++i) Event(at, 2 * i, kWords[i]);
    }
    void Render() {
        log_.push_back({kLogEnd, 0, 0});
        source_.log = log_.data();
        source_.snapshot = snapshot_.data();
        source_.ram = ram_.data();
        renderer_.RenderFrame(pixels_.data(), kWidth * 2, source_);
    }
    // Low resolution: a colour index for each of the 320 pixels of 200+ picture lines, stored
    // as four bitplanes per 16 pixels, plane 0 first, in host word order.
    static void EncodeLow(uint8_t* screen, int lines, const std::function<int(int, int)>& index) {
        for (int y = 0; y < lines; ++y) {
            for (int block = 0; block < 20; ++block) {
                for (int plane = 0; plane < 4; ++plane) {
                    uint16_t word = 0;
                    for (int i = 0; i < 16; ++i)
                        word |= ((index(y, block * 16 + i) >> plane) & 1) << (15 - i);
                    StoreHostWord(screen + y * 160 + block * 8 + plane * 2, word);
                }
            }
        }
    }
    // Compares the picture with one built from `expected` (emulated line 21-320, host x),
    // first host line of each pair.
    void ExpectPicture(const std::function<uint16_t(int, int)>& expected) {
        int mismatches = 0;
        for (int row = 0; row < 300 && mismatches < 5; ++row) {
            for (int x = 0; x < kWidth; ++x) {
                const uint16_t want = expected(row + 21, x), got = pixels_[(2 * row) * kWidth + x];
                if (want != got && mismatches++ < 5)
                    ADD_FAILURE() << "line " << row + 21 << " x " << x << ": want " << std::hex << want
                                  << " got " << got;
            }
        }
    }

    Renderer renderer_;
    std::vector<ShifterEvent> log_;
    Cycles last_ = 0;
    std::vector<uint8_t> snapshot_;
    std::vector<uint8_t> ram_;
    std::vector<uint16_t> pixels_;
    RenderSource source_;
};

struct ColourRow {
    uint16_t word;
    uint16_t host;
};
class HostColourTest : public ::testing::TestWithParam<ColourRow> {};

TEST_P(HostColourTest, PaletteWordBecomesR5G6B5) {
    EXPECT_EQ(Renderer::HostColour(GetParam().word), GetParam().host);
}

INSTANTIATE_TEST_SUITE_P(Colours, HostColourTest,
                         ::testing::Values(ColourRow{0x0777, 0xE71C}, ColourRow{0x0FFF, 0xF79E},
                                           ColourRow{0x0888, 0x1082}, ColourRow{0x0000, 0x0000},
                                           ColourRow{0x0700, 0xE000}, ColourRow{0x0070, 0x0700},
                                           ColourRow{0x0007, 0x001C}, ColourRow{0xF000, 0x0000},
                                           ColourRow{0x0F00, 0xF000}, ColourRow{0x0800, 0x1000}));

int Pattern(int y, int x) {
    return (x / 3 + y) & 15;
}

TEST_F(RendererTest, LowResolutionFrameWithBordersFromTheSnapshot) {
    EncodeLow(snapshot_.data(), 200, Pattern);
    Palette(4);
    Render();
    ExpectPicture([](int line, int x) {
        if (line < 63 || line > 262 || x < 80 || x >= 720) return Host(kWords[0]);
        return Host(kWords[Pattern(line - 63, (x - 80) / 2)]);
    });
    for (int x = 0; x < kWidth; ++x) ASSERT_EQ(pixels_[kWidth + x], pixels_[x]);  // Normal doubles
}

TEST_F(RendererTest, MediumResolutionShowsSixHundredFortyPixels) {
    const auto index = [](int y, int x) { return (x / 5 + y) & 3; };
    for (int y = 0; y < 200; ++y) {
        for (int group = 0; group < 40; ++group) {
            for (int plane = 0; plane < 2; ++plane) {
                uint16_t word = 0;
                for (int i = 0; i < 16; ++i) word |= ((index(y, group * 16 + i) >> plane) & 1) << (15 - i);
                StoreHostWord(snapshot_.data() + y * 160 + group * 4 + plane * 2, word);
            }
        }
    }
    Palette(4);
    Event(8, kCodeResolution, 1);
    Render();
    ExpectPicture([&](int line, int x) {
        if (line < 63 || line > 262 || x < 80 || x >= 720) return Host(kWords[0]);
        return Host(kWords[index(line - 63, x - 80)]);
    });
}

// The STE's wide screen: a bitmap of 320 bytes a line, shown from a pixel scroll with the line
// offset that takes each line to the next (the scrolled line fetches one block more).
struct ScrollRow {
    const char* name;
    bool medium;
    uint32_t scroll;
    uint32_t lineOffset;  // words
};

void PrintTo(const ScrollRow& row, std::ostream* out) {
    *out << row.name;
}

class ScrollTest : public RendererTest, public ::testing::WithParamInterface<ScrollRow> {};

TEST_P(ScrollTest, ShowsTheWideBitmapFromItsScrolledColumn) {
    const ScrollRow& row = GetParam();
    const int planes = row.medium ? 2 : 4, pixels = row.medium ? 1280 : 640;
    const auto index = [&](int y, int x) { return (x / 3 + x / 29 + 5 * y) & (row.medium ? 3 : 15); };
    for (int y = 0; y < 200; ++y) {
        for (int group = 0; group < pixels / 16; ++group) {
            for (int plane = 0; plane < planes; ++plane) {
                uint16_t word = 0;
                for (int i = 0; i < 16; ++i) word |= ((index(y, group * 16 + i) >> plane) & 1) << (15 - i);
                StoreHostWord(snapshot_.data() + y * 320 + group * 2 * planes + plane * 2, word);
            }
        }
    }
    Palette(4);
    Event(8, kCodeLineOffset, row.lineOffset);
    Event(12, kCodeScroll, row.scroll);
    if (row.medium) Event(16, kCodeResolution, 1);
    Render();
    ExpectPicture([&](int line, int x) {
        if (line < 63 || line > 262 || x < 80 || x >= 720) return Host(kWords[0]);
        const int column = row.medium ? x - 80 : (x - 80) / 2;
        return Host(kWords[index(line - 63, column + static_cast<int>(row.scroll))]);
    });
}

INSTANTIATE_TEST_SUITE_P(Ste, ScrollTest,
                         ::testing::Values(ScrollRow{"low_offset_only", false, 0, 80},
                                           ScrollRow{"low_scroll_5", false, 5, 76},
                                           ScrollRow{"low_scroll_15", false, 15, 76},
                                           ScrollRow{"medium_scroll_7", true, 7, 78}),
                         [](const auto& info) { return std::string(info.param.name); });

// With a line offset of 120 words the frame's screen is 80,000 bytes: what lies past the
// 64 KB snapshot is read from memory.
TEST_F(RendererTest, ALineOffsetScreenLargerThanTheSnapshotGoesOnInMemory) {
    constexpr uint32_t kBase = 0x20000;
    std::vector<uint8_t> line(160);
    for (int y = 0; y < 200; ++y) {
        EncodeLow(line.data(), 1, [y](int, int x) { return Pattern(y, x); });
        std::memcpy(ram_.data() + kBase + 400 * y, line.data(), 160);
    }
    std::memcpy(snapshot_.data(), ram_.data() + kBase, snapshot_.size());
    source_.snapshotBase = kBase;
    Palette(4);
    Event(8, kCodeLineOffset, 120);
    Render();
    ExpectPicture([](int line, int x) {
        if (line < 63 || line > 262 || x < 80 || x >= 720) return Host(kWords[0]);
        return Host(kWords[Pattern(line - 63, (x - 80) / 2)]);
    });
}

// In the border a change lands on its cycle; in the picture on the 4-cycle group holding it.
TEST_F(RendererTest, PaletteChangeSplitsALineWhereTheBeamWas) {
    EncodeLow(snapshot_.data(), 200, [](int, int) { return 1; });
    Palette(4);
    Event(Line(30, 200), 0x00, 0x0007);
    Event(Line(40, 0), 0x00, 0x0000);
    Event(Line(100, 182), 0x02, 0x0070);
    Event(Line(101, 0), 0x02, 0x0700);
    Render();
    ExpectPicture([](int line, int x) {
        if (line == 30 && x >= 2 * (200 - 56)) return Host(0x0007);
        if (line > 30 && line < 40) return Host(0x0007);
        if (line < 63 || line > 262 || x < 80 || x >= 720) return Host(0);
        if (line == 100 && x >= 2 * (180 - 56)) return Host(0x0070);
        return Host(0x0700);
    });
}

TEST_F(RendererTest, ResolutionChangeInsideABlockTakesEffectAtTheNextBlock) {
    EncodeLow(snapshot_.data(), 200, [](int, int x) { return x & 1 ? 3 : 0; });
    Palette(4);
    Event(Line(100, 96 + 16 * 4 + 6), kCodeResolution, 1);
    Event(Line(101, 0), kCodeResolution, 0);
    Render();
    const int row = 2 * (100 - 21);
    // Block 4 is still low resolution (two host pixels per pixel); block 5 is medium.
    EXPECT_EQ(pixels_[row * kWidth + 80 + 4 * 32 + 2], Host(kWords[3]));
    EXPECT_EQ(pixels_[row * kWidth + 80 + 4 * 32 + 3], Host(kWords[3]));
    // In medium resolution the planes 0 and 1 of pixel pairs give index 3 on every odd pixel of
    // the first group: single host pixels alternate.
    EXPECT_NE(pixels_[row * kWidth + 80 + 5 * 32 + 0], pixels_[row * kWidth + 80 + 5 * 32 + 1]);
}

TEST_F(RendererTest, OpenBottomBorderAddsFortyThreePictureLines) {
    EncodeLow(snapshot_.data(), 243, Pattern);
    Palette(4);
    source_.bottomBorderOpen = true;
    Render();
    ExpectPicture([](int line, int x) {
        if (line < 63 || line > 305 || x < 80 || x >= 720) return Host(kWords[0]);
        return Host(kWords[Pattern(line - 63, (x - 80) / 2)]);
    });
}

TEST_F(RendererTest, OpenTopBorderStartsThePictureAtLine34) {
    EncodeLow(snapshot_.data(), 229, Pattern);
    Palette(4);
    source_.topBorderOpen = true;
    Render();
    ExpectPicture([](int line, int x) {
        if (line < 34 || line > 262 || x < 80 || x >= 720) return Host(kWords[0]);
        return Host(kWords[Pattern(line - 34, (x - 80) / 2)]);
    });
}

// Right border open on line 100: 22 blocks and 8 pixels of the next, and the next line starts
// 204 bytes on (half way into a block: its planes are taken four bytes along).
TEST_F(RendererTest, OpenRightBorderShowsMoreOfItsLine) {
    for (size_t i = 0; i < snapshot_.size(); ++i) snapshot_[i] = static_cast<uint8_t>(i * 37 + (i >> 8));
    // The colour of pixel i of the 16-pixel groups that start at byte `start`.
    const auto colour = [&](int start, int i) {
        int index = 0;
        for (int plane = 0; plane < 4; ++plane) {
            const uint16_t word = LoadHostWord(snapshot_.data() + start + (i / 16) * 8 + plane * 2);
            index |= ((word >> (15 - i % 16)) & 1) << plane;
        }
        return index;
    };
    Palette(4);
    Event(Line(100, 388), kCodeRightBorder, 0);
    Render();
    ExpectPicture([&](int line, int x) {
        if (line < 63 || line > 262) return Host(kWords[0]);
        const int start = (line - 63) * 160 + (line > 100 ? 44 : 0);
        const int shown = line == 100 ? 720 : 640;
        if (x < 80 || x >= 80 + shown) return Host(kWords[0]);
        return Host(kWords[colour(start, (x - 80) / 2)]);
    });
}

TEST_F(RendererTest, CounterWriteReadsLiveMemoryFromThenOn) {
    EncodeLow(snapshot_.data(), 200, [](int, int) { return 1; });
    EncodeLow(ram_.data() + 0x30000, 200, [](int, int) { return 2; });
    Palette(4);
    Event(Line(150, 0), kCodeCounter, 0x30000);
    Render();
    ExpectPicture([](int line, int x) {
        if (line < 63 || line > 262 || x < 80 || x >= 720) return Host(kWords[0]);
        return Host(kWords[line < 150 ? 1 : 2]);
    });
}

// A counter written near the top of RAM: the picture wraps to address 0 and never reads
// outside the memory (the sanitizer build watches the last part).
TEST_F(RendererTest, CounterNearTheEndOfMemoryWrapsTo22Bits) {
    EncodeLow(ram_.data(), 100, [](int, int) { return 5; });
    EncodeLow(ram_.data() + 0x3FFF60, 1, [](int, int) { return 6; });
    Palette(4);
    Event(Line(200, 0), kCodeCounter, 0x3FFF60);
    Render();
    EXPECT_EQ(pixels_[2 * (200 - 21) * kWidth + 100], Host(kWords[6]));
    EXPECT_EQ(pixels_[2 * (201 - 21) * kWidth + 100], Host(kWords[5]));
    EXPECT_EQ(pixels_[2 * (262 - 21) * kWidth + 700], Host(kWords[5]));
}

TEST_F(RendererTest, ScreenWriteShowsOnLinesDrawnAfterIt) {
    EncodeLow(snapshot_.data(), 200, [](int, int) { return 0; });
    Palette(4);
    // At line 150, plane 0 of the first block of picture lines 80 (drawn already) and 190 is set,
    // and of 191 its second byte only.
    Event(Line(150, 10), kCodeScreenWord | 0xFFFF0000u, 0x78000 + 80 * 160);
    Event(Line(150, 14), kCodeScreenWord | 0xFFFF0000u, 0x78000 + 190 * 160);
    Event(Line(150, 18), kCodeScreenByte | 0xFF0000u, 0x78000 + 191 * 160 + 1);
    source_.snapshotBase = 0x78000;
    Render();
    const auto at = [&](int line, int x) { return pixels_[2 * (line - 21) * kWidth + x]; };
    EXPECT_EQ(at(63 + 80, 80), Host(kWords[0]));  // drawn before the write
    EXPECT_EQ(at(63 + 190, 80), Host(kWords[1]));
    EXPECT_EQ(at(63 + 190, 80 + 31), Host(kWords[1]));
    EXPECT_EQ(at(63 + 191, 80 + 15), Host(kWords[0]));  // the low byte: pixels 8-15
    EXPECT_EQ(at(63 + 191, 80 + 16), Host(kWords[1]));
}

struct ModeRow {
    LineMode mode;
    bool useTexture;
    const char* name;
};
class LineModeTest : public RendererTest, public ::testing::WithParamInterface<ModeRow> {};

TEST_P(LineModeTest, SecondHostLineOfEachPair) {
    renderer_.mode = GetParam().mode;
    renderer_.useTexture = GetParam().useTexture;
    Event(4, 0x00, 0x0777);
    Render();
    const uint16_t first = pixels_[0], second = pixels_[kWidth];
    EXPECT_EQ(first, Host(0x0777));
    if (GetParam().useTexture || GetParam().mode == LineMode::kHalf ||
        GetParam().mode == LineMode::kInterlace) {
        EXPECT_EQ(second, 0x1234);  // left as the display held it
    } else if (GetParam().mode == LineMode::kBlend) {
        EXPECT_EQ(second, static_cast<uint16_t>(((28 / 2) << 11) | ((56 / 2) << 5) | (28 / 2)));
    } else {
        EXPECT_EQ(second, first);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, LineModeTest,
                         ::testing::Values(ModeRow{LineMode::kNormal, false, "Normal"},
                                           ModeRow{LineMode::kHalf, false, "Half"},
                                           ModeRow{LineMode::kInterlace, false, "Interlace"},
                                           ModeRow{LineMode::kBlend, false, "Blend"},
                                           ModeRow{LineMode::kNormal, true, "Texture"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Border events a program repeats on one line stretch it past what the line buffer holds:
// the picture is cut, nothing is written outside (the sanitizer build watches).
TEST_F(RendererTest, RepeatedBorderEventsStayInsideTheLine) {
    for (int i = 0; i < 40; ++i) Event(Line(100, 100 + i), kCodeRightBorder, 0);
    for (int i = 0; i < 40; ++i) Event(Line(120, 8), kCodeLeftBorder, 0);
    Render();
    SUCCEED();
}

}  // namespace
}  // namespace vexil

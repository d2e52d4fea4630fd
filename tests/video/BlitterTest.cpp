// The Blitter, checked against a blit worked out here from its documented behaviour, word by
// word, and against plain bitmap copies checked pixel by pixel.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "support/Asm.h"
#include "video/Blitter.h"

namespace vexil {
namespace {

using namespace blitter;

constexpr uint32_t kSource = 0x10000, kDest = 0x30000;

// One blit's registers, as a program sets them.
struct Blit {
    uint16_t halftone[16] = {};
    int16_t srcXInc = 2, srcYInc = 2;
    uint32_t src = kSource;
    uint16_t mask1 = 0xFFFF, mask2 = 0xFFFF, mask3 = 0xFFFF;
    int16_t dstXInc = 2, dstYInc = 2;
    uint32_t dst = kDest;
    uint16_t xCount = 1, yCount = 1;
    uint8_t hop = 2, op = 3;
    uint8_t line = 0;
    bool smudge = false, fxsr = false, nfsr = false;
    uint8_t skew = 0;
};

class BlitterTest : public ::testing::Test {
protected:
    BlitterTest() : machine_(MachineSettings{1, 0}) {}
    void SetUp() override {
        uint32_t seed = 12345;
        for (uint32_t a = 0; a < 0x40000; a += 2) {
            seed = seed * 1103515245 + 12345;
            SetWord(a, static_cast<uint16_t>(seed >> 12));
        }
    }
    uint16_t Word(uint32_t a) const {
        return LoadHostWord(const_cast<Machine&>(machine_).Ram() + (a & 0x3FFFFE));
    }
    void SetWord(uint32_t a, uint16_t v) { StoreHostWord(machine_.Ram() + (a & 0x3FFFFE), v); }
    Blitter& Chip() { return machine_.GetBlitter(); }

    // Writes the registers as a program would, the control byte last; returns the cycles charged.
    Cycles Start(const Blit& b) {
        Blitter& chip = Chip();
        for (unsigned i = 0; i < 16; ++i) chip.WriteWord(0xFF8A00 + 2 * i, b.halftone[i]);
        chip.WriteWord(0xFF8A20, static_cast<uint16_t>(b.srcXInc));
        chip.WriteWord(0xFF8A22, static_cast<uint16_t>(b.srcYInc));
        chip.WriteWord(0xFF8A24, static_cast<uint16_t>(b.src >> 16));
        chip.WriteWord(0xFF8A26, static_cast<uint16_t>(b.src));
        chip.WriteWord(0xFF8A28, b.mask1);
        chip.WriteWord(0xFF8A2A, b.mask2);
        chip.WriteWord(0xFF8A2C, b.mask3);
        chip.WriteWord(0xFF8A2E, static_cast<uint16_t>(b.dstXInc));
        chip.WriteWord(0xFF8A30, static_cast<uint16_t>(b.dstYInc));
        chip.WriteWord(0xFF8A32, static_cast<uint16_t>(b.dst >> 16));
        chip.WriteWord(0xFF8A34, static_cast<uint16_t>(b.dst));
        chip.WriteWord(0xFF8A36, b.xCount);
        chip.WriteWord(0xFF8A38, b.yCount);
        chip.WriteWord(0xFF8A3A, static_cast<uint16_t>(b.hop << 8 | b.op));
        chip.WriteByte(0xFF8A3D, static_cast<uint8_t>((b.fxsr ? 0x80 : 0) | (b.nfsr ? 0x40 : 0) | b.skew));
        const Cycles before = g_cpu.clock;
        chip.WriteByte(0xFF8A3C, static_cast<uint8_t>(0x80 | (b.smudge ? 0x20 : 0) | b.line));
        return g_cpu.clock - before;
    }

    Machine machine_;
};

// ---- the reference blit ---------------------------------------------------------------------

// The sixteen operations by name.
uint16_t Operation(int op, uint16_t s, uint16_t d) {
    const std::function<int(int, int)> ops[16] = {
        [](int, int) { return 0; },           [](int s, int d) { return s & d; },
        [](int s, int d) { return s & ~d; },  [](int s, int) { return s; },
        [](int s, int d) { return ~s & d; },  [](int, int d) { return d; },
        [](int s, int d) { return s ^ d; },   [](int s, int d) { return s | d; },
        [](int s, int d) { return ~s & ~d; }, [](int s, int d) { return ~(s ^ d); },
        [](int, int d) { return ~d; },        [](int s, int d) { return s | ~d; },
        [](int s, int) { return ~s; },        [](int s, int d) { return ~s | d; },
        [](int s, int d) { return ~s | ~d; }, [](int, int) { return 0xFFFF; },
    };
    return static_cast<uint16_t>(ops[op](s, d));
}

// The blit line by line: the source words a line reads are listed first (one more with FXSR,
// one fewer with NFSR, each step the X increment, the Y increment after the last), then each
// destination word takes the 32 bits of the word read for it and the one read before it (in
// the order of the blit's direction), shifted right by the skew. Without a final read the last
// word has an empty half where the read word would be. The source counts only when HOP and OP
// use it.
std::vector<uint16_t> ReferenceBlit(const Blit& b, const std::function<uint16_t(uint32_t)>& read,
                                    uint32_t dstWords) {
    std::vector<uint16_t> memory(dstWords);
    for (uint32_t i = 0; i < dstWords; ++i) memory[i] = read(kDest + 2 * i);
    const auto dstIndex = [](uint32_t address) { return (address - kDest) / 2; };
    const bool opUsesSource = Operation(b.op, 0xFFFF, 0x00FF) != Operation(b.op, 0x0000, 0x00FF);
    const bool sourceRead = opUsesSource && (b.hop >= 2 || (b.hop == 1 && b.smudge));
    uint32_t src = b.src, dst = b.dst;
    uint16_t held = 0;  // the word that came in last: none before the blit
    int line = b.line;
    for (int y = 0; y < b.yCount; ++y) {
        std::vector<uint16_t> reads;
        if (sourceRead) {
            const int count = b.xCount + (b.fxsr ? 1 : 0) - (b.nfsr ? 1 : 0);
            for (int i = 0; i < count; ++i) {
                reads.push_back(read(src));
                src += i == count - 1 ? b.srcYInc : b.srcXInc;
            }
        }
        size_t next = 0;
        for (int x = 0; x < b.xCount; ++x) {
            uint16_t skewed = 0;
            if (sourceRead) {
                if (x == 0 && b.fxsr) held = reads.at(next++);
                const uint16_t before = held;
                held = b.nfsr && x == b.xCount - 1 ? 0 : reads.at(next++);
                const uint32_t window =
                    b.srcXInc < 0 ? (uint32_t{held} << 16 | before) : (uint32_t{before} << 16 | held);
                skewed = static_cast<uint16_t>(window >> b.skew);
            }
            const uint16_t halftone = b.halftone[b.smudge ? skewed & 15 : line];
            const uint16_t source = b.hop == 0   ? 0xFFFF
                                    : b.hop == 1 ? halftone
                                    : b.hop == 2 ? skewed
                                                 : static_cast<uint16_t>(skewed & halftone);
            const uint16_t mask = x == 0 ? b.mask1 : x == b.xCount - 1 ? b.mask3 : b.mask2;
            uint16_t& d = memory.at(dstIndex(dst));
            d = static_cast<uint16_t>((Operation(b.op, source, d) & mask) | (d & ~mask));
            dst += x == b.xCount - 1 ? b.dstYInc : b.dstXInc;
        }
        line = (line + (b.dstYInc < 0 ? -1 : 1)) & 15;
    }
    return memory;
}

constexpr uint32_t kDestWords = 0x400;

class BlitterReference : public BlitterTest {
protected:
    // Runs the blit and compares the destination area with the reference, word for word.
    void Check(const Blit& b) {
        const std::vector<uint16_t> want = ReferenceBlit(
            b, [this](uint32_t a) { return Word(a); }, kDestWords);
        Start(b);
        int mismatches = 0;
        for (uint32_t i = 0; i < kDestWords && mismatches < 5; ++i) {
            const uint16_t got = Word(kDest + 2 * i);
            if (got != want[i] && mismatches++ < 5)
                ADD_FAILURE() << "word " << i << ": want " << std::hex << want[i] << " got " << got;
        }
    }
    // A block of `lines` lines of `width` words inside a 40-word wide bitmap, at word 3 of line 2.
    static Blit Block(uint16_t width, uint16_t lines) {
        Blit b;
        b.xCount = width;
        b.yCount = lines;
        b.src = kSource + 2 * 40 * 2 + 6;
        b.dst = kDest + 2 * 40 * 2 + 6;
        b.dstYInc = static_cast<int16_t>(80 - 2 * (width - 1));
        b.srcYInc = b.dstYInc;
        b.mask1 = 0x0FF0;
        b.mask2 = 0xFFFF;
        b.mask3 = 0xF00F;
        return b;
    }
};

// Every operation with the source through HOP 2, over masked and unmasked words.
class BlitterOperation : public BlitterReference, public ::testing::WithParamInterface<int> {};

TEST_P(BlitterOperation, CombinesSourceAndDestinationAsDocumented) {
    Blit b = Block(5, 3);
    b.op = static_cast<uint8_t>(GetParam());
    b.skew = 5;
    Check(b);
}

INSTANTIATE_TEST_SUITE_P(Ops, BlitterOperation, ::testing::Range(0, 16));

// Every skew with each pair of prefetch flags, on a multi-word and a one-word line.
class BlitterSkew : public BlitterReference,
                    public ::testing::WithParamInterface<std::tuple<int, bool, bool, int>> {};

TEST_P(BlitterSkew, ShiftsTheSourceThroughItsBuffer) {
    const auto [skew, fxsr, nfsr, width] = GetParam();
    Blit b = Block(static_cast<uint16_t>(width), 4);
    b.skew = static_cast<uint8_t>(skew);
    b.fxsr = fxsr;
    b.nfsr = nfsr;
    b.op = 6;
    const int reads = width + fxsr - nfsr;
    b.srcYInc = static_cast<int16_t>(80 - 2 * (reads - 1));
    Check(b);
}

INSTANTIATE_TEST_SUITE_P(Skews, BlitterSkew,
                         ::testing::Combine(::testing::Range(0, 16), ::testing::Bool(), ::testing::Bool(),
                                            ::testing::Values(1, 6)));

struct PatternRow {
    const char* name;
    uint8_t hop, op;
    bool smudge;
    int16_t dstYInc;  // negative: the lines go up and the halftone line steps down
    uint8_t line;
};

void PrintTo(const PatternRow& row, std::ostream* out) {
    *out << row.name;
}

class BlitterPattern : public BlitterReference, public ::testing::WithParamInterface<PatternRow> {};

TEST_P(BlitterPattern, HalftoneLinesAndSmudge) {
    const PatternRow& row = GetParam();
    Blit b = Block(3, 20);
    for (int i = 0; i < 16; ++i)
        b.halftone[i] = static_cast<uint16_t>(0x1111 * (i + 1) ^ (0x8001 << (i & 7)));
    b.hop = row.hop;
    b.op = row.op;
    b.smudge = row.smudge;
    b.line = row.line;
    b.skew = 3;
    if (row.dstYInc < 0) {
        b.dst = kDest + 2 * 40 * 22 + 6;
        b.dstYInc = static_cast<int16_t>(-80 - 4);
    }
    Check(b);
}

INSTANTIATE_TEST_SUITE_P(Patterns, BlitterPattern,
                         ::testing::Values(PatternRow{"halftone_only", 1, 3, false, 80, 0},
                                           PatternRow{"halftone_from_line_9", 1, 7, false, 80, 9},
                                           PatternRow{"halftone_lines_step_down", 1, 3, false, -84, 4},
                                           PatternRow{"source_and_halftone", 3, 3, false, 80, 2},
                                           PatternRow{"all_ones", 0, 6, false, 80, 0},
                                           PatternRow{"smudge_picks_by_source", 1, 3, true, 80, 0},
                                           PatternRow{"smudge_with_source", 3, 6, true, 80, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- bitmap copies -------------------------------------------------------------------------

// A copy of a `width` x 6 pixel rectangle of a one-plane bitmap (320 pixels wide) from pixel
// column `from` to column `to`, set up as drawing software does: the skew from the columns, an
// extra first read when the first destination word needs the word before its own (from the
// left: when the source starts further into its word; from the right: when it ends no further
// into its word than the destination), no final read when that leaves one read too many.
struct CopyRow {
    int from, to, width;
    bool leftward;  // walk right to left, bottom to top
};

class BlitterCopy : public BlitterTest, public ::testing::WithParamInterface<CopyRow> {
protected:
    bool Pixel(uint32_t base, int x, int y) const {
        return (Word(base + y * 40 + x / 16 * 2) >> (15 - x % 16)) & 1;
    }
};

TEST_P(BlitterCopy, MovesEveryPixelOfTheRectangleAndNoOther) {
    const CopyRow row = GetParam();
    constexpr int kTop = 3, kLines = 6, kWrap = 40;
    const int srcFirst = row.from / 16, srcLast = (row.from + row.width - 1) / 16;
    const int dstFirst = row.to / 16, dstLast = (row.to + row.width - 1) / 16;
    const int srcWords = srcLast - srcFirst + 1, dstWords = dstLast - dstFirst + 1;
    const int fromEnd = (row.from + row.width - 1) % 16, toEnd = (row.to + row.width - 1) % 16;
    Blit b;
    b.skew = static_cast<uint8_t>((row.to - row.from) & 15);
    b.fxsr = row.leftward ? fromEnd <= toEnd : row.from % 16 > row.to % 16;
    b.nfsr = dstWords + b.fxsr > srcWords;
    const int reads = dstWords + b.fxsr - b.nfsr;
    const uint16_t left = static_cast<uint16_t>(0xFFFF >> (row.to % 16));
    const uint16_t right = static_cast<uint16_t>(0xFFFF << (15 - toEnd));
    b.xCount = static_cast<uint16_t>(dstWords);
    b.yCount = kLines;
    b.mask2 = 0xFFFF;
    if (row.leftward) {
        b.srcXInc = b.dstXInc = -2;
        b.src = kSource + (kTop + kLines - 1) * kWrap + srcLast * 2;
        b.dst = kDest + (kTop + kLines - 1) * kWrap + dstLast * 2;
        b.srcYInc = static_cast<int16_t>(-kWrap + 2 * (reads - 1));
        b.dstYInc = static_cast<int16_t>(-kWrap + 2 * (dstWords - 1));
        b.mask1 = right;
        b.mask3 = left;
    } else {
        b.src = kSource + kTop * kWrap + srcFirst * 2;
        b.dst = kDest + kTop * kWrap + dstFirst * 2;
        b.srcYInc = static_cast<int16_t>(kWrap - 2 * (reads - 1));
        b.dstYInc = static_cast<int16_t>(kWrap - 2 * (dstWords - 1));
        b.mask1 = left;
        b.mask3 = right;
    }
    if (dstWords == 1) b.mask1 = b.mask3 = left & right;
    std::vector<bool> before;
    for (int y = 0; y < kLines + 2 * kTop; ++y)
        for (int x = 0; x < 320; ++x) before.push_back(Pixel(kDest, x, y));
    Start(b);
    int mismatches = 0;
    for (int y = 0; y < kLines + 2 * kTop && mismatches < 5; ++y) {
        for (int x = 0; x < 320; ++x) {
            const bool inside = y >= kTop && y < kTop + kLines && x >= row.to && x < row.to + row.width;
            const bool want = inside ? Pixel(kSource, x - row.to + row.from, y) : before[y * 320 + x];
            if (Pixel(kDest, x, y) != want && mismatches++ < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << (inside ? " inside" : " outside");
        }
    }
    // The addresses have moved on by the lines drawn; busy and the Y count are 0.
    const int lineStep = row.leftward ? -kWrap : kWrap;
    EXPECT_EQ(Chip().ReadWord(0xFF8A26), static_cast<uint16_t>(b.src + kLines * lineStep));
    EXPECT_EQ(Chip().ReadWord(0xFF8A34), static_cast<uint16_t>(b.dst + kLines * lineStep));
    EXPECT_EQ(Chip().ReadWord(0xFF8A38), 0);
    EXPECT_EQ(Chip().ReadByte(0xFF8A3C) & 0x80, 0);
}

std::vector<CopyRow> CopyRows() {
    std::vector<CopyRow> rows;
    for (int skew = 0; skew < 16; ++skew) {
        for (int width : {5, 16, 61}) {
            rows.push_back({37, 37 + skew + 16, width, false});
            rows.push_back({70 + skew, 69, width, false});
            rows.push_back({37, 37 + skew + 16, width, true});
            rows.push_back({70 + skew, 69, width, true});
        }
    }
    return rows;
}

// A row prints as what it copies (the struct's padding bytes would not print the same twice).
void PrintTo(const CopyRow& row, std::ostream* out) {
    *out << row.width << " pixels from " << row.from << " to " << row.to << (row.leftward ? " leftward" : "");
}

INSTANTIATE_TEST_SUITE_P(Copies, BlitterCopy, ::testing::ValuesIn(CopyRows()), [](const auto& info) {
    const CopyRow& row = info.param;
    return std::to_string(row.width) + "_from_" + std::to_string(row.from) + "_to_" + std::to_string(row.to) +
           (row.leftward ? "_leftward" : "");
});

// ---- bus time, registers, the machine ------------------------------------------------------

struct CycleRow {
    const char* name;
    uint8_t hop, op;
    uint16_t mask;
    bool fxsr, nfsr;
    Cycles cycles;  // 4 for every word read or written
};

void PrintTo(const CycleRow& row, std::ostream* out) {
    *out << row.name;
}

class BlitterCycles : public BlitterTest, public ::testing::WithParamInterface<CycleRow> {};

TEST_P(BlitterCycles, FourCyclesForEveryWordMoved) {
    const CycleRow& row = GetParam();
    Blit b;
    b.xCount = 4;
    b.yCount = 2;
    b.hop = row.hop;
    b.op = row.op;
    b.mask1 = b.mask2 = b.mask3 = row.mask;
    b.fxsr = row.fxsr;
    b.nfsr = row.nfsr;
    EXPECT_EQ(Start(b), row.cycles);
}

INSTANTIATE_TEST_SUITE_P(
    Accesses, BlitterCycles,
    ::testing::Values(CycleRow{"copy", 2, 3, 0xFFFF, false, false, 4 * (8 + 8)},
                      CycleRow{"copy_masked_reads_the_destination", 2, 3, 0x0FF0, false, false,
                               4 * (8 + 8 + 8)},
                      CycleRow{"xor_reads_both", 2, 6, 0xFFFF, false, false, 4 * (8 + 8 + 8)},
                      CycleRow{"extra_first_read", 2, 3, 0xFFFF, true, false, 4 * (10 + 8)},
                      CycleRow{"no_final_read", 2, 3, 0xFFFF, false, true, 4 * (6 + 8)},
                      CycleRow{"fill_writes_only", 0, 15, 0xFFFF, false, false, 4 * 8},
                      CycleRow{"halftone_reads_no_source", 1, 3, 0xFFFF, true, false, 4 * 8},
                      CycleRow{"invert_reads_the_destination", 2, 10, 0xFFFF, false, false, 4 * (8 + 8)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BlitterTest, RegistersReadBackWithTheBitsTheyHave) {
    Blitter& chip = Chip();
    chip.WriteWord(0xFF8A20, 0xFFFF);
    chip.WriteWord(0xFF8A24, 0xFFFF);
    chip.WriteWord(0xFF8A26, 0x1235);
    chip.WriteWord(0xFF8A3A, 0xFFFF);
    chip.WriteByte(0xFF8A3D, 0xFF);
    chip.WriteByte(0xFF8A3C, 0x7F);  // not busy: nothing runs
    chip.WriteWord(0xFF8A1E, 0xBEEF);
    EXPECT_EQ(chip.ReadWord(0xFF8A20), 0xFFFE);
    EXPECT_EQ(chip.ReadWord(0xFF8A24), 0x00FF);
    EXPECT_EQ(chip.ReadWord(0xFF8A26), 0x1234);
    EXPECT_EQ(chip.ReadWord(0xFF8A3A), 0x030F);
    EXPECT_EQ(chip.ReadWord(0xFF8A3C), 0x6FCF);
    EXPECT_EQ(chip.ReadWord(0xFF8A1E), 0xBEEF);
    EXPECT_EQ(chip.ReadWord(0xFF8A3E), 0xFFFF);
}

// Software waits with TAS, which writes busy back: with a Y count of 0 that starts nothing.
TEST_F(BlitterTest, BusyWithNoLinesLeftStartsNothing) {
    Blit b;
    b.xCount = 3;
    b.yCount = 1;
    b.op = 15;
    b.hop = 0;
    b.line = 4;
    Start(b);
    EXPECT_EQ(Chip().ReadByte(0xFF8A3C), 5);  // the line number stepped
    const Cycles before = g_cpu.clock;
    SetWord(kDest + 6, 0x1234);
    Chip().WriteByte(0xFF8A3C, 0x85);
    EXPECT_EQ(g_cpu.clock, before);
    EXPECT_EQ(Word(kDest + 6), 0x1234);
    EXPECT_EQ(Chip().ReadByte(0xFF8A3C), 5);
}

// The largest blit the registers describe would move 2^32 words inside one write; it stops
// after 2^24 and ends as a whole blit does.
TEST_F(BlitterTest, AHugeBlitEndsAfterSixteenMillionWords) {
    Blit b;
    b.xCount = 0;  // 65536 words
    b.yCount = 0xFFFF;
    b.hop = 0;
    b.op = 15;
    EXPECT_EQ(Start(b), Cycles{4} << 24);
    EXPECT_EQ(Chip().ReadWord(0xFF8A38), 0);
    EXPECT_EQ(Chip().ReadByte(0xFF8A3C) & 0x80, 0);
}

// Line by line, as EmuTOS draws: each blit of one line leaves the addresses at the next.
TEST_F(BlitterTest, OneLineAtATimeGoesOnWhereTheLastLineEnded) {
    Blit b;
    b.xCount = 3;
    b.yCount = 4;
    b.srcYInc = b.dstYInc = 40 - 4;
    const std::vector<uint16_t> whole = ReferenceBlit(
        b, [this](uint32_t a) { return Word(a); }, kDestWords);
    b.yCount = 1;
    Start(b);
    for (int i = 0; i < 3; ++i) Chip().WriteWord(0xFF8A38, 1), Chip().WriteByte(0xFF8A3C, 0x80);
    for (uint32_t i = 0; i < kDestWords; ++i) ASSERT_EQ(Word(kDest + 2 * i), whole[i]) << i;
}

// ---- a program ---------------------------------------------------------------------------

// blitter-fill.s on an STE: a halftone rectangle in plane 0 through end masks, a triangle ORed
// into plane 1 with a skew of 11 and no final read, in colours only an STE shows.
TEST(BlitterProgram, FillsAndDrawsThroughMasksAndSkew) {
    const test::AsmProgram program = test::LoadAsm("blitter-fill");
    Machine machine(MachineSettings{1, 2});
    machine.LoadBytes(program.origin, program.bytes.data(), program.bytes.size());
    machine.PokeLong(0, 0x8000);
    machine.PokeLong(4, program.origin);
    ASSERT_EQ(machine.Reset(false), 0);
    std::vector<uint16_t> picture(800 * 600, 0x1234);
    machine.RenderInto(picture.data(), 800 * 2);
    ASSERT_EQ(machine.RunFrames(3), kRunBudgetSpent);

    const auto plane0 = [](int x, int y) {
        return y >= 20 && y < 50 && x >= 13 && x <= 100 && (x + y) % 2 == 0;
    };
    const auto plane1 = [](int x, int y) { return y >= 100 && y < 116 && x >= 155 + (y - 100) && x <= 170; };
    constexpr uint16_t kHost[4] = {0x0000, 0xF000, 0x0080, 0xF79E};
    int mismatches = 0;
    for (int y = 0; y < 200 && mismatches < 5; ++y) {
        for (int x = 0; x < 320; ++x) {
            const uint16_t want = kHost[(plane0(x, y) ? 1 : 0) | (plane1(x, y) ? 2 : 0)];
            const uint16_t got = picture[(2 * (y + 42)) * 800 + 80 + 2 * x];
            if (got != want && mismatches++ < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << std::hex << ": want " << want << " got " << got;
        }
    }
}

}  // namespace
}  // namespace vexil

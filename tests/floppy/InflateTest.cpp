#include <gtest/gtest.h>

#include "core/Crc32.h"
#include "floppy/FloppyTestSupport.h"
#include "floppy/Inflate.h"

namespace vexil {
namespace {

using test::Bytes;
using test::DeflateWriter;

struct Decoded {
    Bytes out;
    int feed = 0;  // first non-zero Feed result
    int end = 1;
};

// Feeds `in` in pieces of `piece` bytes (0: all at once).
Decoded Inflate(const Bytes& in, size_t piece = 0) {
    Decoded d;
    auto inflater = Inflater::Create([&](const uint8_t* data, size_t n) {
        d.out.insert(d.out.end(), data, data + n);
        return 0;
    });
    if (piece == 0) piece = in.size() + 1;
    for (size_t at = 0; at < in.size() && d.feed == 0; at += piece) {
        d.feed = inflater->Feed(in.data() + at, std::min(piece, in.size() - at));
    }
    if (in.empty()) d.feed = inflater->Feed(nullptr, 0);
    d.end = inflater->End();
    return d;
}

struct GzipCase {
    const char* name;
    Bytes (*make)();
    int firstBlockType;  // 0 stored, 1 fixed, 2 dynamic
};

Bytes Incompressible() {
    return test::RandomBytes(100000, 1);
}
Bytes ShortText() {
    return {'h', 'e', 'l', 'l', 'o', ' ', 'h', 'e', 'l', 'l', 'o', ' ', 'h', 'e', 'l', 'l', 'o'};
}
Bytes LongText() {
    return test::TextBytes(1 << 20, 2);
}
// Text, noise and text again: the stream mixes block types, and the second text reaches back
// across the noise.
Bytes Mixed() {
    Bytes b = test::TextBytes(20000, 3);
    const Bytes noise = test::RandomBytes(70000, 4);
    b.insert(b.end(), noise.begin(), noise.end());
    const Bytes tail(b.end() - 30000, b.end() - 8000);
    b.insert(b.end(), tail.begin(), tail.end());
    b.insert(b.end(), 5000, 'x');
    return b;
}

class InflateGzip : public testing::TestWithParam<GzipCase> {};

// Data compressed by gzip decodes to the original bytes and gzip's CRC-32, however the
// compressed stream is cut into pieces.
TEST_P(InflateGzip, DecodesGzipOutputInAnyPieces) {
    const Bytes original = GetParam().make();
    const test::Gzipped gz = test::Gzip(original);
    ASSERT_FALSE(gz.deflate.empty());
    EXPECT_EQ((gz.deflate[0] >> 1) & 3, GetParam().firstBlockType);
    for (size_t piece : {size_t{0}, size_t{1}, size_t{7}, size_t{8192}, size_t{65537}}) {
        if (piece == 1 && original.size() > 200000) continue;  // byte by byte is covered by the others
        SCOPED_TRACE(piece);
        const Decoded d = Inflate(gz.deflate, piece);
        EXPECT_EQ(d.feed, 0);
        EXPECT_EQ(d.end, 0);
        ASSERT_EQ(d.out.size(), original.size());
        EXPECT_TRUE(d.out == original);
        EXPECT_EQ(Crc32(d.out.data(), d.out.size()), gz.crc);
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, InflateGzip,
                         testing::Values(GzipCase{"Stored", Incompressible, 0},
                                         GzipCase{"Fixed", ShortText, 1}, GzipCase{"Dynamic", LongText, 2},
                                         GzipCase{"Mixed", Mixed, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// A stream with an empty stored block, a non-final fixed block, and a final stored block.
Bytes HandMadeStream() {
    DeflateWriter w;
    w.Bits(0, 1);  // not final, stored
    w.Bits(0, 2);
    w.AlignToByte();
    w.Bits(0x0000, 16);
    w.Bits(0xFFFF, 16);
    w.Bits(0, 1);  // not final, fixed
    w.Bits(1, 2);
    for (uint8_t c : {'a', 'b', 'c'}) w.FixedLiteral(c);
    w.FixedMatch(9, 3);
    w.FixedSymbol(256);
    w.Bits(1, 1);  // final, stored
    w.Bits(0, 2);
    w.AlignToByte();
    w.Bits(2, 16);
    w.Bits(0xFFFD, 16);
    w.Byte('!');
    w.Byte('?');
    return w.Finish();
}

TEST(Inflate, EmptyStoredBlocksAndBlockSequence) {
    const Decoded d = Inflate(HandMadeStream(), 1);
    EXPECT_EQ(d.end, 0);
    EXPECT_EQ(std::string(d.out.begin(), d.out.end()), "abcabcabcabc!?");
}

// Back-references reach exactly 32 KB back and no further; a distance before the first byte
// is refused.
TEST(Inflate, WindowReachesBack32KBAndNoFurther) {
    const Bytes head = test::RandomBytes(32768, 5);
    for (unsigned distance : {32768u, 32769u}) {
        DeflateWriter w;
        w.Bits(1, 1);
        w.Bits(1, 2);
        for (uint8_t b : head) w.FixedLiteral(b);
        w.FixedMatch(258, distance > 32768 ? 1 : distance);
        if (distance > 32768) w.FixedMatch(3, 32768);  // from 32,768 + 258 bytes: legal
        w.FixedSymbol(256);
        const Decoded d = Inflate(w.Finish(), 4093);
        ASSERT_EQ(d.end, 0) << distance;
        if (distance == 32768) {
            ASSERT_EQ(d.out.size(), 32768u + 258u);
            EXPECT_TRUE(std::equal(head.begin(), head.begin() + 258, d.out.begin() + 32768));
        }
    }
    DeflateWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    w.FixedLiteral('a');
    w.FixedMatch(3, 2);  // one byte of history only
    w.FixedSymbol(256);
    const Decoded d = Inflate(w.Finish());
    EXPECT_NE(d.feed, 0);
    EXPECT_EQ(d.out.size(), 1u);  // the bytes before the fault still come out
}

struct BadStream {
    const char* name;
    Bytes (*make)();
};

Bytes ReservedBlockType() {
    return {0x07};
}
Bytes BadStoredLength() {
    return {0x01, 0x05, 0x00, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e'};
}
Bytes FixedSymbol286() {
    DeflateWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    w.FixedSymbol(286);
    return w.Finish();
}
Bytes FixedDistance30() {
    DeflateWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    w.FixedLiteral('a');
    w.FixedSymbol(257);
    w.Code(30, 5);
    return w.Finish();
}
// Dynamic header with 287 literal/length codes (more than exist).
Bytes TooManyCodes() {
    DeflateWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(30, 5);
    w.Bits(0, 5);
    w.Bits(0, 4);
    return w.Finish();
}
// Code-length code that repeats a previous length when there is none.
Bytes RepeatWithoutPrevious() {
    DeflateWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(0, 5);
    w.Bits(0, 5);
    w.Bits(0, 4);  // 4 code-length code lengths: for 16, 17, 18, 0
    w.Bits(1, 3);  // 16: length 1 (code 0)
    w.Bits(1, 3);  // 17: length 1 (code 1)
    w.Bits(0, 3);
    w.Bits(0, 3);
    w.Code(0, 1);  // symbol 16 first
    w.Bits(0, 2);
    return w.Finish();
}
// Over-subscribed code-length code: three codes of length 1.
Bytes OverSubscribed() {
    DeflateWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(0, 5);
    w.Bits(0, 5);
    w.Bits(0, 4);
    w.Bits(1, 3);
    w.Bits(1, 3);
    w.Bits(1, 3);
    w.Bits(0, 3);
    return w.Finish();
}

class InflateBad : public testing::TestWithParam<BadStream> {};

TEST_P(InflateBad, IsRefused) {
    for (size_t piece : {size_t{0}, size_t{1}}) {
        const Decoded d = Inflate(GetParam().make(), piece);
        EXPECT_NE(d.feed, 0) << piece;
        EXPECT_NE(d.end, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, InflateBad,
                         testing::Values(BadStream{"ReservedBlockType", ReservedBlockType},
                                         BadStream{"BadStoredLength", BadStoredLength},
                                         BadStream{"FixedSymbol286", FixedSymbol286},
                                         BadStream{"FixedDistance30", FixedDistance30},
                                         BadStream{"TooManyCodes", TooManyCodes},
                                         BadStream{"RepeatWithoutPrevious", RepeatWithoutPrevious},
                                         BadStream{"OverSubscribed", OverSubscribed}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every proper prefix of a valid stream is incomplete: End says so, and nothing is invented.
TEST(Inflate, TruncatedStreamsAreIncomplete) {
    const Bytes text = test::TextBytes(3000, 7);
    for (const Bytes& stream : {test::Gzip(text).deflate, HandMadeStream()}) {
        for (size_t n = 0; n < stream.size(); ++n) {
            const Decoded d = Inflate(Bytes(stream.begin(), stream.begin() + n), 3);
            EXPECT_NE(d.end, 0) << n;
        }
    }
}

TEST(Inflate, RefusalByTheOutputStopsTheDecoder) {
    const test::Gzipped gz = test::Gzip(test::TextBytes(100000, 8));
    size_t seen = 0;
    auto inflater = Inflater::Create([&](const uint8_t*, size_t n) {
        seen += n;
        return seen > 1000 ? 1 : 0;
    });
    EXPECT_NE(inflater->Feed(gz.deflate.data(), gz.deflate.size()), 0);
    EXPECT_TRUE(inflater->Failed());
    EXPECT_NE(inflater->Feed(gz.deflate.data(), 1), 0);
    EXPECT_NE(inflater->End(), 0);
}

// Random bytes either decode or are refused; they never get the decoder stuck or out of bounds.
TEST(Inflate, RandomInputEnds) {
    for (uint32_t seed = 0; seed < 200; ++seed) {
        const Decoded d = Inflate(test::RandomBytes(1 + seed * 13, seed), 1 + seed % 17);
        if (d.feed != 0) {
            EXPECT_NE(d.end, 0);
        }
    }
}

}  // namespace
}  // namespace vexil

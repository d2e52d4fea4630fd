#include "floppy/Inflate.h"

#include <bit>
#include <cstring>
#include <new>

namespace vexil {
namespace {

// A decoding table is indexed by the next input bits (Deflate codes arrive bit-reversed, so
// the index is the code read least significant bit first). Codes up to the primary width sit
// in the first 1 << primary entries, replicated; longer codes go through a link to a
// sub-table indexed by the following bits.
struct Entry {
    uint16_t value;  // literal byte, base length or distance, code-length symbol, or sub-table offset
    uint8_t bits;    // code length (within the sub-table for sub-table entries)
    uint8_t kind;    // extra bits (0..13) for lengths and distances, or one of the flags below
};

constexpr uint8_t kInvalid = 0x10;  // no code ends here, or the code of a symbol that means nothing
constexpr uint16_t kKnownCode = 1;  // value of an invalid entry whose code length is known
constexpr uint8_t kEndBlock = 0x20;
constexpr uint8_t kLiteral = 0x40;
constexpr uint8_t kLink = 0x80;

constexpr unsigned kMaxBits = 15;
constexpr unsigned kLitPrimary = 10;
constexpr unsigned kDistPrimary = 8;
constexpr unsigned kCodePrimary = 7;  // code-length codes are at most 7 bits: no sub-tables
// A sub-table per prefix at most, and a prefix per long code at most.
constexpr size_t kLitTableSize = (1u << kLitPrimary) + 288 * (1u << (kMaxBits - kLitPrimary));
constexpr size_t kDistTableSize = (1u << kDistPrimary) + 32 * (1u << (kMaxBits - kDistPrimary));
constexpr size_t kCodeTableSize = 1u << kCodePrimary;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the lengths of the code-length code.
constexpr uint8_t kCodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum class Alphabet { kLitLen, kDist, kCodeLength };

Entry SymbolEntry(Alphabet alphabet, unsigned symbol, unsigned bits) {
    const uint8_t b = static_cast<uint8_t>(bits);
    switch (alphabet) {
        case Alphabet::kLitLen:
            if (symbol < 256) return {static_cast<uint16_t>(symbol), b, kLiteral};
            if (symbol == 256) return {0, b, kEndBlock};
            if (symbol < 286) return {kLengthBase[symbol - 257], b, kLengthExtra[symbol - 257]};
            return {kKnownCode, b, kInvalid};  // 286 and 287 take part in the fixed code but mean nothing
        case Alphabet::kDist:
            if (symbol < 30) return {kDistBase[symbol], b, kDistExtra[symbol]};
            return {kKnownCode, b, kInvalid};
        case Alphabet::kCodeLength:
            break;
    }
    return {static_cast<uint16_t>(symbol), b, 0};
}

unsigned Reverse(unsigned code, unsigned bits) {
    unsigned r = 0;
    for (unsigned i = 0; i < bits; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

// Builds the table of a canonical code from its code lengths. False for an over-subscribed
// code; an incomplete one is accepted and its unused bit patterns decode as invalid.
bool BuildTable(const uint8_t* lengths, unsigned count, Alphabet alphabet, unsigned primary, Entry* table,
                size_t tableSize) {
    unsigned lengthCount[kMaxBits + 1] = {};
    for (unsigned i = 0; i < count; ++i) ++lengthCount[lengths[i]];
    lengthCount[0] = 0;
    int left = 1;
    unsigned nextCode[kMaxBits + 1] = {};
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        left = (left << 1) - static_cast<int>(lengthCount[len]);
        if (left < 0) return false;
        code = (code + lengthCount[len - 1]) << 1;
        nextCode[len] = code;
    }
    const Entry invalid{0, 0, kInvalid};
    const unsigned primarySize = 1u << primary;
    const unsigned subBits = kMaxBits - primary;
    for (unsigned i = 0; i < primarySize; ++i) table[i] = invalid;
    size_t used = primarySize;
    for (unsigned symbol = 0; symbol < count; ++symbol) {
        const unsigned len = lengths[symbol];
        if (len == 0) continue;
        const unsigned reversed = Reverse(nextCode[len]++, len);
        if (len <= primary) {
            const Entry e = SymbolEntry(alphabet, symbol, len);
            for (unsigned i = reversed; i < primarySize; i += 1u << len) table[i] = e;
            continue;
        }
        Entry& link = table[reversed & (primarySize - 1)];
        if (link.kind != kLink) {
            if (used + (1u << subBits) > tableSize) return false;  // cannot happen with valid counts
            for (unsigned i = 0; i < (1u << subBits); ++i) table[used + i] = invalid;
            link = {static_cast<uint16_t>(used), static_cast<uint8_t>(primary), kLink};
            used += 1u << subBits;
        }
        Entry* sub = table + link.value;
        const Entry e = SymbolEntry(alphabet, symbol, len - primary);
        for (unsigned i = reversed >> primary; i < (1u << subBits); i += 1u << (len - primary)) sub[i] = e;
    }
    return true;
}

// The entry for the code at the bottom of `bits`, with `bits` set to the whole code length.
inline Entry Lookup(const Entry* table, unsigned primary, uint64_t bits) {
    Entry e = table[bits & ((1u << primary) - 1)];
    if (e.kind == kLink) {
        Entry sub = table[e.value + ((bits >> primary) & ((1u << (kMaxBits - primary)) - 1))];
        sub.bits = static_cast<uint8_t>(sub.bits + primary);
        return sub;
    }
    return e;
}

inline uint64_t Load64(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    } else {
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
        return v;
    }
}

inline uint64_t Mask(unsigned bits) {
    return (uint64_t{1} << bits) - 1;
}

// Whether an invalid entry is certainly an error with `available` bits in hand: either the
// code is complete, or there are enough bits that no longer code could be meant.
inline bool CertainlyInvalid(const Entry& e, unsigned available) {
    return available >= kMaxBits || (e.value == kKnownCode && e.bits <= available);
}

constexpr size_t kHistory = 32768;  // the farthest a distance reaches
constexpr size_t kBufferSize = 3 * kHistory;
constexpr size_t kMaxMatch = 258;
constexpr size_t kSlack = 16;      // match copies run up to 7 bytes past their end
constexpr size_t kFastInput = 16;  // input the fast loop wants in hand (8 for its loads)

enum class Step {
    kHeader,
    kStoredHeader,
    kStored,
    kTableSizes,
    kCodeLengthCode,
    kCodeLengths,
    kData,
    kDone,
    kFailed
};

}  // namespace

struct Inflater::State {
    InflateOutput output;
    Step step = Step::kHeader;
    bool finalBlock = false;
    // Bit buffer: the next input bits, least significant first. Bits above `bitCount` are
    // either zero or the true values of the input bytes not yet counted, so OR-ing those bytes
    // in again does no harm.
    uint64_t bitBuffer = 0;
    unsigned bitCount = 0;
    unsigned storedLeft = 0;
    unsigned litCount = 0, distCount = 0, codeCount = 0, index = 0;
    uint8_t lengths[286 + 30] = {};
    uint8_t codeLengths[19] = {};
    Entry litTable[kLitTableSize];
    Entry distTable[kDistTableSize];
    Entry codeTable[kCodeTableSize];
    // Output: the last kHistory bytes before `flushed`, then the bytes not yet handed over.
    size_t written = 0;
    size_t flushed = 0;
    uint8_t window[kBufferSize + kSlack];

    bool refused = false;  // the output callback said stop

    bool Fail() {
        step = Step::kFailed;
        return false;
    }
    bool Flush() {
        if (written > flushed && output(window + flushed, written - flushed) != 0) {
            refused = true;
            return Fail();
        }
        flushed = written;
        return true;
    }
    // Makes room for the longest match, sliding the history down when the buffer is full.
    bool MakeRoom() {
        if (kBufferSize - written >= kMaxMatch) return true;
        if (!Flush()) return false;
        std::memmove(window, window + written - kHistory, kHistory);
        written = flushed = kHistory;
        return true;
    }
    void Refill(const uint8_t*& in, const uint8_t* end) {
        while (bitCount < 56 && in < end) {
            bitBuffer |= uint64_t{*in++} << bitCount;
            bitCount += 8;
        }
    }
    // Takes `bits` bits if they are there; false means more input is needed.
    bool Take(unsigned bits, unsigned& value) {
        if (bitCount < bits) return false;
        value = static_cast<unsigned>(bitBuffer & Mask(bits));
        bitBuffer >>= bits;
        bitCount -= bits;
        return true;
    }
    bool BuildFixed() {
        // The fixed distance code has 32 codes of 5 bits; 30 and 31 mean nothing.
        uint8_t fixed[288 + 32];
        for (unsigned i = 0; i < 288; ++i) fixed[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        for (unsigned i = 0; i < 32; ++i) fixed[288 + i] = 5;
        return BuildTable(fixed, 288, Alphabet::kLitLen, kLitPrimary, litTable, kLitTableSize) &&
               BuildTable(fixed + 288, 32, Alphabet::kDist, kDistPrimary, distTable, kDistTableSize);
    }
    void CopyMatch(uint8_t* out, size_t distance, size_t length) {
        const uint8_t* from = out - distance;
        if (distance >= 8) {
            uint8_t* const stop = out + length;
            do {
                std::memcpy(out, from, 8);
                out += 8;
                from += 8;
            } while (out < stop);
        } else if (distance == 1) {
            std::memset(out, *from, length);
        } else {
            for (size_t i = 0; i < length; ++i) out[i] = from[i];
        }
    }

    bool Run(const uint8_t* in, const uint8_t* end);
    bool DecodeFast(const uint8_t*& in, const uint8_t* end);
    int DecodeOne();
};

// Decodes symbols while plenty of input and output room are in hand: after each refill the
// bit buffer holds at least 56 bits, enough for a length and a distance with all their extra
// bits. Returns false on a format error; stops at the end of a block or near the limits.
bool Inflater::State::DecodeFast(const uint8_t*& in, const uint8_t* end) {
    uint64_t bits = bitBuffer;
    unsigned count = bitCount;
    uint8_t* out = window + written;
    uint8_t* const outLimit = window + kBufferSize - kMaxMatch;
    bool ok = true;
    while (end - in >= static_cast<ptrdiff_t>(kFastInput) && out <= outLimit) {
        bits |= Load64(in) << count;
        in += (63 - count) >> 3;
        count |= 56;
        Entry e = Lookup(litTable, kLitPrimary, bits);
        bits >>= e.bits;
        count -= e.bits;
        if (e.kind == kLiteral) {
            *out++ = static_cast<uint8_t>(e.value);
            e = Lookup(litTable, kLitPrimary, bits);  // 41 bits are left: room for one more code
            if (e.kind != kLiteral) continue;
            bits >>= e.bits;
            count -= e.bits;
            *out++ = static_cast<uint8_t>(e.value);
            continue;
        }
        if (e.kind == kEndBlock) {
            step = finalBlock ? Step::kDone : Step::kHeader;
            break;
        }
        if (e.kind & (kInvalid | kLink)) {
            ok = false;
            break;
        }
        const size_t length = e.value + (bits & Mask(e.kind));
        bits >>= e.kind;
        count -= e.kind;
        const Entry d = Lookup(distTable, kDistPrimary, bits);
        if (d.kind & (kInvalid | kLink)) {
            ok = false;
            break;
        }
        bits >>= d.bits;
        const size_t distance = d.value + (bits & Mask(d.kind));
        bits >>= d.kind;
        count -= d.bits + d.kind;
        if (distance > static_cast<size_t>(out - window)) {
            ok = false;
            break;
        }
        CopyMatch(out, distance, length);
        out += length;
    }
    bitBuffer = bits;
    bitCount = count;
    written = static_cast<size_t>(out - window);
    return ok;
}

// Decodes one symbol from whatever bits are in hand, taking nothing unless the whole symbol
// (a length and its distance included) is there. 1 done, 0 more input needed, -1 error.
int Inflater::State::DecodeOne() {
    const Entry e = Lookup(litTable, kLitPrimary, bitBuffer);
    if (e.kind & kInvalid) return CertainlyInvalid(e, bitCount) ? -1 : 0;
    if (e.bits > bitCount) return 0;
    if (e.kind == kLiteral || e.kind == kEndBlock) {
        bitBuffer >>= e.bits;
        bitCount -= e.bits;
        if (e.kind == kEndBlock) {
            step = finalBlock ? Step::kDone : Step::kHeader;
        } else {
            window[written++] = static_cast<uint8_t>(e.value);
        }
        return 1;
    }
    unsigned used = e.bits + e.kind;
    if (used > bitCount) return 0;
    const size_t length = e.value + ((bitBuffer >> e.bits) & Mask(e.kind));
    const Entry d = Lookup(distTable, kDistPrimary, bitBuffer >> used);
    if (d.kind & kInvalid) return CertainlyInvalid(d, bitCount - used) ? -1 : 0;
    if (used + d.bits + d.kind > bitCount) return 0;
    const size_t distance = d.value + ((bitBuffer >> (used + d.bits)) & Mask(d.kind));
    used += d.bits + d.kind;
    if (distance > written) return -1;
    bitBuffer >>= used;
    bitCount -= used;
    CopyMatch(window + written, distance, length);
    written += length;
    return 1;
}

// Runs the decoder over one piece of input. False on failure; true when the piece is used up
// or the final block has ended.
bool Inflater::State::Run(const uint8_t* in, const uint8_t* end) {
    unsigned v = 0;
    for (;;) {
        Refill(in, end);
        switch (step) {
            case Step::kHeader:
                if (!Take(3, v)) return true;
                finalBlock = v & 1;
                if ((v >> 1) == 0) {
                    Take(bitCount & 7, v);  // a stored block starts on a byte boundary
                    step = Step::kStoredHeader;
                } else if ((v >> 1) == 1) {
                    if (!BuildFixed()) return Fail();
                    step = Step::kData;
                } else if ((v >> 1) == 2) {
                    step = Step::kTableSizes;
                } else {
                    return Fail();
                }
                break;
            case Step::kStoredHeader:
                if (!Take(32, v)) return true;
                if ((v & 0xFFFF) != (~v >> 16)) return Fail();
                storedLeft = v & 0xFFFF;
                step = Step::kStored;
                break;
            case Step::kStored: {
                // Whole bytes still in the bit buffer come first, then the input itself.
                while (storedLeft > 0) {
                    if (!MakeRoom()) return false;
                    while (storedLeft > 0 && bitCount >= 8 && written < kBufferSize) {
                        window[written++] = static_cast<uint8_t>(bitBuffer);
                        bitBuffer >>= 8;
                        bitCount -= 8;
                        --storedLeft;
                    }
                    if (bitCount == 0) bitBuffer = 0;  // drop the copies of input bytes above
                    if (storedLeft == 0) break;
                    if (bitCount != 0) continue;
                    size_t n = static_cast<size_t>(end - in);
                    if (n == 0) return true;
                    if (n > storedLeft) n = storedLeft;
                    if (n > kBufferSize - written) n = kBufferSize - written;
                    std::memcpy(window + written, in, n);
                    written += n;
                    in += n;
                    storedLeft -= static_cast<unsigned>(n);
                }
                step = finalBlock ? Step::kDone : Step::kHeader;
                break;
            }
            case Step::kTableSizes:
                if (!Take(14, v)) return true;
                litCount = 257 + (v & 31);
                distCount = 1 + ((v >> 5) & 31);
                codeCount = 4 + (v >> 10);
                if (litCount > 286 || distCount > 30) return Fail();
                std::memset(codeLengths, 0, sizeof codeLengths);
                index = 0;
                step = Step::kCodeLengthCode;
                break;
            case Step::kCodeLengthCode:
                while (index < codeCount) {
                    if (!Take(3, v)) return true;
                    codeLengths[kCodeOrder[index++]] = static_cast<uint8_t>(v);
                }
                if (!BuildTable(codeLengths, 19, Alphabet::kCodeLength, kCodePrimary, codeTable,
                                kCodeTableSize)) {
                    return Fail();
                }
                index = 0;
                step = Step::kCodeLengths;
                break;
            case Step::kCodeLengths: {
                const unsigned total = litCount + distCount;
                while (index < total) {
                    Refill(in, end);
                    const Entry e = Lookup(codeTable, kCodePrimary, bitBuffer);
                    if (e.kind & kInvalid) {
                        if (bitCount >= kCodePrimary) return Fail();
                        return true;
                    }
                    const unsigned symbol = e.value;
                    const unsigned extra = symbol == 16 ? 2 : symbol == 17 ? 3 : symbol == 18 ? 7 : 0;
                    if (e.bits + extra > bitCount) return true;
                    bitBuffer >>= e.bits;
                    bitCount -= e.bits;
                    unsigned repeat = 0;
                    Take(extra, repeat);
                    if (symbol < 16) {
                        lengths[index++] = static_cast<uint8_t>(symbol);
                        continue;
                    }
                    uint8_t value = 0;
                    if (symbol == 16) {
                        if (index == 0) return Fail();
                        value = lengths[index - 1];
                        repeat += 3;
                    } else {
                        repeat += symbol == 17 ? 3 : 11;
                    }
                    if (index + repeat > total) return Fail();
                    std::memset(lengths + index, value, repeat);
                    index += repeat;
                }
                if (lengths[256] == 0) return Fail();  // a block that cannot end
                if (!BuildTable(lengths, litCount, Alphabet::kLitLen, kLitPrimary, litTable, kLitTableSize) ||
                    !BuildTable(lengths + litCount, distCount, Alphabet::kDist, kDistPrimary, distTable,
                                kDistTableSize)) {
                    return Fail();
                }
                step = Step::kData;
                break;
            }
            case Step::kData:
                while (step == Step::kData) {
                    if (!MakeRoom()) return false;
                    if (end - in >= static_cast<ptrdiff_t>(kFastInput)) {
                        if (!DecodeFast(in, end)) return Fail();
                        continue;
                    }
                    Refill(in, end);
                    const int r = DecodeOne();
                    if (r < 0) return Fail();
                    if (r == 0) return true;
                }
                break;
            case Step::kDone:
                return true;
            case Step::kFailed:
                return false;
        }
    }
}

Inflater::Inflater(std::unique_ptr<State> state) : s_(std::move(state)) {}
Inflater::~Inflater() = default;

std::unique_ptr<Inflater> Inflater::Create(InflateOutput output) {
    std::unique_ptr<State> state(new (std::nothrow) State);
    if (!state) return nullptr;
    state->output = std::move(output);
    std::unique_ptr<Inflater> inflater(new (std::nothrow) Inflater(std::move(state)));
    return inflater;
}

int Inflater::Feed(const uint8_t* data, size_t length) {
    if (s_->step == Step::kFailed) return 1;
    if (s_->step == Step::kDone) return 0;
    if (!s_->Run(data, data + length)) {
        if (!s_->refused) s_->Flush();  // what came before a format error is still good output
        s_->step = Step::kFailed;
        return 1;
    }
    return s_->Flush() ? 0 : 1;
}

int Inflater::End() const {
    return s_->step == Step::kDone ? 0 : 1;
}
bool Inflater::Finished() const {
    return s_->step == Step::kDone;
}
bool Inflater::Failed() const {
    return s_->step == Step::kFailed;
}

}  // namespace vexil

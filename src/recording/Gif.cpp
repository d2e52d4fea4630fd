#include "recording/Gif.h"

#include <algorithm>
#include <cstring>

#include "recording/OutputFile.h"

namespace vexil {

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kFirstFree = 258;
constexpr uint32_t kTableFull = 4095;
constexpr uint32_t kHashSlots = 5003;  // a prime well above the 3,837 strings a table holds
constexpr uint32_t kEmpty = 0xFFFFFFFF;

// Codes into bytes, bytes into sub-blocks.
class CodeWriter {
public:
    explicit CodeWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Put(uint32_t code, int width) {
        bits_ |= code << count_;
        count_ += width;
        while (count_ >= 8) {
            Byte(static_cast<uint8_t>(bits_));
            bits_ >>= 8;
            count_ -= 8;
        }
    }
    void Finish() {
        if (count_ > 0) Byte(static_cast<uint8_t>(bits_));
        Flush();
        out_.push_back(0);
    }

private:
    void Byte(uint8_t b) {
        block_[used_++] = b;
        if (used_ == sizeof block_) Flush();
    }
    void Flush() {
        if (used_ == 0) return;
        out_.push_back(static_cast<uint8_t>(used_));
        out_.insert(out_.end(), block_, block_ + used_);
        used_ = 0;
    }
    std::vector<uint8_t>& out_;
    uint32_t bits_ = 0;
    int count_ = 0;
    uint8_t block_[255];
    int used_ = 0;
};

// The strings known so far: (prefix code, next byte) -> code, open addressing.
class StringTable {
public:
    StringTable() : keys_(kHashSlots), codes_(kHashSlots) { Clear(); }
    void Clear() { std::fill(keys_.begin(), keys_.end(), kEmpty); }
    // The slot of the key: where its code is, or the free slot where it goes.
    uint32_t Slot(uint32_t key) const {
        uint32_t slot = (key * 2654435761u) % kHashSlots;
        while (keys_[slot] != kEmpty && keys_[slot] != key) slot = slot + 1 == kHashSlots ? 0 : slot + 1;
        return slot;
    }
    bool Known(uint32_t slot) const { return keys_[slot] != kEmpty; }
    uint32_t Code(uint32_t slot) const { return codes_[slot]; }
    void Add(uint32_t slot, uint32_t key, uint32_t code) { keys_[slot] = key, codes_[slot] = code; }

private:
    std::vector<uint32_t> keys_, codes_;
};

void Lzw(CodeWriter& writer, const uint8_t* pixels, size_t count) {
    StringTable table;
    int width = 9;
    uint32_t next = kFirstFree;
    writer.Put(kClear, width);
    if (count == 0) {
        writer.Put(kEnd, width);
        return;
    }
    // A code goes out at the width the decoder reads it with; the decoder makes a new string
    // after each code but the first, so the width grows when the next free code passes it.
    const auto emit = [&](uint32_t code) {
        writer.Put(code, width);
        if (next >= (1u << width) && width < 12) ++width;
    };
    uint32_t prefix = pixels[0];
    for (size_t i = 1; i < count; ++i) {
        const uint32_t key = prefix << 8 | pixels[i];
        const uint32_t slot = table.Slot(key);
        if (table.Known(slot)) {
            prefix = table.Code(slot);
            continue;
        }
        emit(prefix);
        prefix = pixels[i];
        if (next >= kTableFull) {
            writer.Put(kClear, width);
            table.Clear();
            width = 9;
            next = kFirstFree;
        } else {
            table.Add(slot, key, next++);
        }
    }
    emit(prefix);
    writer.Put(kEnd, width);
}

}  // namespace

std::vector<uint8_t> EncodeGif(const uint8_t* indices, int width, int height, const uint8_t* palette,
                               int entries) {
    std::vector<uint8_t> file(13 + 768 + 10, 0);
    uint8_t* p = file.data();
    std::memcpy(p, "GIF87a", 6);
    StoreLe16(p + 6, static_cast<uint32_t>(width));
    StoreLe16(p + 8, static_cast<uint32_t>(height));
    p[10] = 0xF7;  // global table of 256 entries, 8-bit colour resolution
    std::memcpy(p + 13, palette, 3 * static_cast<size_t>(std::clamp(entries, 0, 256)));
    p += 13 + 768;
    p[0] = 0x2C;
    StoreLe16(p + 5, static_cast<uint32_t>(width));
    StoreLe16(p + 7, static_cast<uint32_t>(height));
    file.push_back(8);  // LZW minimum code size
    CodeWriter writer(file);
    Lzw(writer, indices, static_cast<size_t>(width) * height);
    writer.Finish();
    file.push_back(0x3B);
    return file;
}

}  // namespace vexil

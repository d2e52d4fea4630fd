// Helpers for the floppy tests: a scratch folder, files, data made by Debian's gzip and zip,
// and a small Deflate writer for streams that no compressor would produce.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace vexil::test {

using Bytes = std::vector<uint8_t>;

// A folder of this test process's own, removed when the process ends.
struct ScratchFolder {
    std::filesystem::path dir;
    ScratchFolder()
        : dir(std::filesystem::temp_directory_path() /
              ("vexil-floppy-" + std::to_string(std::random_device{}()) + "-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(dir);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

inline std::filesystem::path ScratchDir() {
    static const ScratchFolder folder;
    return folder.dir;
}

inline std::string ScratchPath(const std::string& name) {
    return (ScratchDir() / name).string();
}

inline void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

inline Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// Text-like data that compresses well and needs dynamic Huffman codes.
inline Bytes TextBytes(size_t n, uint32_t seed) {
    static const char* words[] = {"floppy ", "sector ", "track ", "side ",
                                  "Atari ",  "motor ",  "index ", "\n"};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const std::string w = words[rng() % 8];
        b.insert(b.end(), w.begin(), w.end());
        if (rng() % 5 == 0) b.push_back(static_cast<uint8_t>('0' + rng() % 10));
    }
    b.resize(n);
    return b;
}

inline bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Raw Deflate data from gzip, with the CRC-32 gzip computed.
struct Gzipped {
    Bytes deflate;
    uint32_t crc = 0;
};

inline Gzipped Gzip(const Bytes& data, int level = 9) {
    const std::string in = ScratchPath("gzip-in"), out = ScratchPath("gzip-out");
    WriteFile(in, data);
    EXPECT_TRUE(Run("gzip -c -n -" + std::to_string(level) + " " + in + " > " + out));
    const Bytes gz = ReadFile(out);
    Gzipped result;
    if (gz.size() < 18 || gz[3] != 0) {
        ADD_FAILURE() << "unexpected gzip output";
        return result;
    }
    result.deflate.assign(gz.begin() + 10, gz.end() - 8);
    const size_t t = gz.size() - 8;
    result.crc = gz[t] | gz[t + 1] << 8 | gz[t + 2] << 16 | static_cast<uint32_t>(gz[t + 3]) << 24;
    return result;
}

// Writes Deflate streams bit by bit, for streams a compressor would not make.
class DeflateWriter {
public:
    void Bits(uint32_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) Bit((value >> i) & 1);
    }
    // A Huffman code goes out most significant bit first.
    void Code(uint32_t code, unsigned length) {
        for (unsigned i = length; i-- > 0;) Bit((code >> i) & 1);
    }
    void FixedSymbol(unsigned s) {
        if (s < 144)
            Code(0x30 + s, 8);
        else if (s < 256)
            Code(0x190 + s - 144, 9);
        else if (s < 280)
            Code(s - 256, 7);
        else
            Code(0xC0 + s - 280, 8);
    }
    void FixedLiteral(uint8_t b) { FixedSymbol(b); }
    // A match with length 3..258 and distance 1..32768, in the fixed code.
    void FixedMatch(unsigned length, unsigned distance) {
        static const unsigned lbase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                         31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const unsigned lextra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        unsigned i = 28;
        while (lbase[i] > length) --i;
        FixedSymbol(257 + i);
        Bits(length - lbase[i], lextra[i]);
        unsigned d = 0, base = 1;
        for (; d < 30; ++d) {
            const unsigned extra = d < 4 ? 0 : d / 2 - 1;
            if (distance < base + (1u << extra)) {
                Code(d, 5);
                Bits(distance - base, extra);
                return;
            }
            base += 1u << extra;
        }
    }
    void AlignToByte() {
        while (bit_ != 0) Bit(0);
    }
    void Byte(uint8_t b) { Bits(b, 8); }
    Bytes Finish() {
        AlignToByte();
        return out_;
    }

private:
    void Bit(unsigned b) {
        if (bit_ == 0) out_.push_back(0);
        out_.back() |= static_cast<uint8_t>(b << bit_);
        bit_ = (bit_ + 1) & 7;
    }
    Bytes out_;
    unsigned bit_ = 0;
};

}  // namespace vexil::test

namespace vexil::test {

// The sector buffer holds 68000 words: word i = byte 2i x 256 + byte 2i + 1. `Disk` is a
// DiskImage (the header stays free of the floppy sources).
template <typename Disk>
::testing::AssertionResult SectorIs(const Disk& d, const uint8_t* expected, size_t size = 512) {
    if (d.SectorSize() != size) return ::testing::AssertionFailure() << "sector size " << d.SectorSize();
    for (size_t i = 0; i < size / 2; ++i) {
        if (d.SectorBuffer()[i] != (expected[2 * i] << 8 | expected[2 * i + 1]))
            return ::testing::AssertionFailure() << "word " << i;
    }
    return ::testing::AssertionSuccess();
}

// Makes a zip archive with Debian's zip: each file is added under its own name (no folders),
// stored when `store` is set, else deflated.
struct ZipMember {
    std::string name;
    Bytes data;
    bool store = false;
};

inline std::string MakeZip(const std::string& zipName, const std::vector<ZipMember>& members) {
    const std::string zipPath = ScratchPath(zipName);
    std::filesystem::remove(zipPath);
    const auto dir = ScratchDir() / (zipName + ".members");
    std::filesystem::create_directories(dir);
    for (const ZipMember& m : members) {
        const auto file = dir / m.name;
        std::filesystem::create_directories(file.parent_path());
        WriteFile(file.string(), m.data);
        EXPECT_TRUE(Run("cd '" + dir.string() + "' && zip -q -X " + (m.store ? "-0 '" : "-9 '") + zipPath +
                        "' '" + m.name + "'"));
    }
    return zipPath;
}

// One local file header and its data, written by hand, for archives zip would not make.
inline Bytes LocalEntry(const std::string& name, const Bytes& data, uint16_t method, uint32_t crc,
                        uint32_t uncompressedSize, uint16_t flags = 0) {
    Bytes b;
    auto put16 = [&](uint32_t v) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    put32(0x04034B50);
    put16(20);
    put16(flags);
    put16(method);
    put32(0);
    put32(crc);
    put32(static_cast<uint32_t>(data.size()));
    put32(uncompressedSize);
    put16(static_cast<uint16_t>(name.size()));
    put16(0);
    b.insert(b.end(), name.begin(), name.end());
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

}  // namespace vexil::test

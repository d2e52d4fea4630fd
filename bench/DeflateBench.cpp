// Deflate decoding speed, ours against zlib's inflate on the same data: 1 MB of text-like
// data and 1 MB of disk-like data (runs of zeros, repeated sectors and noise), compressed once
// by zlib at level 9 as raw Deflate. Throughput counts the decoded bytes.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "floppy/Inflate.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kInputSize = 1 << 20;

Bytes TextData() {
    static const char* words[] = {"floppy ", "sector ", "track ", "side ",
                                  "Atari ",  "motor ",  "index ", "\n"};
    std::mt19937 rng(1);
    Bytes b;
    while (b.size() < kInputSize) {
        const std::string w = words[rng() % 8];
        b.insert(b.end(), w.begin(), w.end());
        if (rng() % 5 == 0) b.push_back(static_cast<uint8_t>('0' + rng() % 10));
    }
    b.resize(kInputSize);
    return b;
}

Bytes DiskData() {
    std::mt19937 rng(2);
    Bytes b(kInputSize, 0);
    for (size_t sector = 0; sector < kInputSize / 512; ++sector) {
        uint8_t* s = b.data() + sector * 512;
        switch (rng() % 4) {
            case 0:
                break;  // formatted, empty
            case 1:
                for (int i = 0; i < 512; ++i) s[i] = static_cast<uint8_t>(rng());
                break;
            default:  // code and data that repeat with changes
                for (int i = 0; i < 512; ++i)
                    s[i] = static_cast<uint8_t>((i * 13 + sector % 7) ^ (rng() % 16 == 0));
        }
    }
    return b;
}

Bytes Compress(const Bytes& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, data.size()));
    z.next_in = const_cast<Bytes::value_type*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Sample {
    Bytes original;
    Bytes compressed;
};

const Sample& GetSample(int which) {
    static const Sample text{TextData(), Compress(TextData())};
    static const Sample disk{DiskData(), Compress(DiskData())};
    return which == 0 ? text : disk;
}

// Ours, fed in pieces of `range(1)` bytes (the image stream feeds 8 KB).
void BM_InflateOurs(benchmark::State& state) {
    const Sample& s = GetSample(static_cast<int>(state.range(0)));
    const size_t piece = static_cast<size_t>(state.range(1));
    Bytes out(s.original.size());
    for (auto _ : state) {
        size_t at = 0;
        auto inflater = vexil::Inflater::Create([&](const uint8_t* data, size_t n) {
            if (n > out.size() - at) return 1;
            std::copy(data, data + n, out.begin() + static_cast<ptrdiff_t>(at));
            at += n;
            return 0;
        });
        for (size_t i = 0; i < s.compressed.size(); i += piece) {
            inflater->Feed(s.compressed.data() + i, std::min(piece, s.compressed.size() - i));
        }
        if (inflater->End() != 0 || at != s.original.size()) state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.original.size()));
}
BENCHMARK(BM_InflateOurs)->ArgNames({"data", "piece"})->Args({0, 8192})->Args({1, 8192})->Args({0, 1 << 20});

// zlib's inflate on the same data, into a flat buffer in one call.
void BM_InflateZlib(benchmark::State& state) {
    const Sample& s = GetSample(static_cast<int>(state.range(0)));
    Bytes out(s.original.size());
    for (auto _ : state) {
        z_stream z{};
        inflateInit2(&z, -15);
        z.next_in = const_cast<Bytes::value_type*>(s.compressed.data());
        z.avail_in = static_cast<uInt>(s.compressed.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        if (inflate(&z, Z_FINISH) != Z_STREAM_END) state.SkipWithError("zlib failed");
        inflateEnd(&z);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.original.size()));
}
BENCHMARK(BM_InflateZlib)->ArgNames({"data"})->Arg(0)->Arg(1);

}  // namespace

// Deflate decoder: the first byte picks the size of the pieces the rest is fed in.
#include <cstddef>
#include <cstdint>

#include "floppy/Inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = data[0] == 0 ? size : data[0];
    ++data;
    --size;
    size_t produced = 0;
    auto inflater = vexil::Inflater::Create([&](const uint8_t* out, size_t n) {
        for (size_t i = 0; i < n; i += 4096) produced += out[i];  // touch the output
        produced += n;
        return produced > (64u << 20) ? 1 : 0;
    });
    for (size_t at = 0; at < size; at += piece) {
        if (inflater->Feed(data + at, piece < size - at ? piece : size - at) != 0) break;
    }
    inflater->End();
    return 0;
}

#include "recording/Tga.h"

#include <cstddef>

#include "recording/OutputFile.h"

namespace vexil {

namespace {

std::vector<uint8_t> Header(uint8_t imageType, int width, int height, uint8_t bitsPerPixel) {
    std::vector<uint8_t> file(kTgaHeaderBytes, 0);
    file[2] = imageType;
    StoreLe16(&file[12], static_cast<uint32_t>(width));
    StoreLe16(&file[14], static_cast<uint32_t>(height));
    file[16] = bitsPerPixel;
    return file;
}

// Packets of at most 128 pixels: a run of equal indices as one header byte (n - 1) | 0x80 and
// the index; pixels that do not repeat as a header byte n - 1 and the n indices.
void EncodeRow(std::vector<uint8_t>& out, const uint8_t* row, int width) {
    int literal = 0;  // pending pixels that do not repeat, just before x
    const auto flush = [&](int end) {
        while (literal > 0) {
            const int n = literal < 128 ? literal : 128;
            out.push_back(static_cast<uint8_t>(n - 1));
            out.insert(out.end(), row + end - literal, row + end - literal + n);
            literal -= n;
        }
    };
    int x = 0;
    while (x < width) {
        int run = 1;
        while (x + run < width && row[x + run] == row[x]) ++run;
        if (run == 1) {
            ++literal;
            ++x;
            continue;
        }
        flush(x);
        for (int left = run; left > 0;) {
            const int n = left < 128 ? left : 128;
            out.push_back(static_cast<uint8_t>(0x80 | (n - 1)));
            out.push_back(row[x]);
            left -= n;
        }
        x += run;
    }
    flush(x);
}

}  // namespace

std::vector<uint8_t> EncodeTga(const uint16_t* pixels, int width, int height, int pitch) {
    std::vector<uint8_t> file = Header(2, width, height, 24);
    file.reserve(kTgaHeaderBytes + static_cast<size_t>(width) * height * 3);
    for (int y = height - 1; y >= 0; --y) {
        const uint16_t* row = pixels + static_cast<ptrdiff_t>(y) * pitch;
        for (int x = 0; x < width; ++x) {
            const uint32_t p = row[x];
            const uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
            file.push_back(static_cast<uint8_t>(b * 255 / 31));
            file.push_back(static_cast<uint8_t>(g * 255 / 63));
            file.push_back(static_cast<uint8_t>(r * 255 / 31));
        }
    }
    return file;
}

bool WriteTga(const std::string& path, const uint16_t* pixels, int width, int height, int pitch,
              std::string* error) {
    return WriteWholeFile(path, EncodeTga(pixels, width, height, pitch), error);
}

std::vector<uint8_t> EncodeTga16(const uint16_t* colours, int width, int height) {
    std::vector<uint8_t> file = Header(2, width, height, 16);
    file.reserve(kTgaHeaderBytes + static_cast<size_t>(width) * height * 2);
    const auto five = [](uint32_t c) { return (c & 15) << 1 | (c & 15) >> 3; };
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = colours[static_cast<size_t>(y) * width + x];
            AppendLe16(file, five(c >> 8) << 10 | five(c >> 4) << 5 | five(c));
        }
    }
    return file;
}

std::vector<uint8_t> EncodeMappedTga(const uint8_t* indices, int width, int height, const uint8_t* palette,
                                     int entries) {
    std::vector<uint8_t> file = Header(9, width, height, 8);
    file[1] = 1;  // colour map present: from entry 0, `entries` of 24 bits
    StoreLe16(&file[5], static_cast<uint32_t>(entries));
    file[7] = 24;
    for (int i = 0; i < entries; ++i) {
        const uint8_t* rgb = palette + 3 * i;
        file.insert(file.end(), {rgb[2], rgb[1], rgb[0]});
    }
    for (int y = height - 1; y >= 0; --y) EncodeRow(file, indices + static_cast<size_t>(y) * width, width);
    return file;
}

}  // namespace vexil

#include "recording/Tga.h"

#include <cstddef>
#include <cstdio>

namespace vexil {

std::vector<uint8_t> EncodeTga(const uint16_t* pixels, int width, int height, int pitch) {
    std::vector<uint8_t> file(kTgaHeaderBytes + static_cast<size_t>(width) * height * 3);
    uint8_t* h = file.data();
    h[2] = 2;  // uncompressed true colour
    h[12] = static_cast<uint8_t>(width);
    h[13] = static_cast<uint8_t>(width >> 8);
    h[14] = static_cast<uint8_t>(height);
    h[15] = static_cast<uint8_t>(height >> 8);
    h[16] = 24;
    uint8_t* out = h + kTgaHeaderBytes;
    for (int y = height - 1; y >= 0; --y) {
        const uint16_t* row = pixels + static_cast<ptrdiff_t>(y) * pitch;
        for (int x = 0; x < width; ++x) {
            const uint32_t p = row[x];
            const uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
            *out++ = static_cast<uint8_t>(b * 255 / 31);
            *out++ = static_cast<uint8_t>(g * 255 / 63);
            *out++ = static_cast<uint8_t>(r * 255 / 31);
        }
    }
    return file;
}

bool WriteTga(const std::string& path, const uint16_t* pixels, int width, int height, int pitch,
              std::string* error) {
    const std::vector<uint8_t> file = EncodeTga(pixels, width, height, pitch);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(file.data(), 1, file.size(), f) == file.size();
    if (f != nullptr && std::fclose(f) != 0) ok = false;
    if (!ok) {
        if (f != nullptr) std::remove(path.c_str());
        if (error) *error = "cannot write the screenshot \"" + path + "\"";
    }
    return ok;
}

}  // namespace vexil

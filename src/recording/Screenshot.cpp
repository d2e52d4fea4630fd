#include "recording/Screenshot.h"

#include <algorithm>
#include <cstring>

#include "recording/Gif.h"
#include "recording/OutputFile.h"
#include "recording/Tga.h"

namespace vexil {

namespace {
constexpr size_t kPixels = static_cast<size_t>(Screenshot::kWidth) * Screenshot::kHeight;
}

Screenshot::Screenshot() : preview_(kPixels, 0), colours_(kPixels, 0), indices_(kPixels, 0) {}

void Screenshot::Capture(const uint16_t* frame, int pitch) {
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            preview_[static_cast<size_t>(y) * kWidth + x] = frame[static_cast<size_t>(2 * y) * pitch + 2 * x];
    // The index of each 12-bit colour seen so far, -1 for the others; black is always 0.
    int16_t index[4096];
    std::fill(std::begin(index), std::end(index), int16_t{-1});
    index[0] = 0;
    std::memset(palette_, 0, sizeof palette_);
    int next = 1;
    for (size_t i = 0; i < kPixels; ++i) {
        const uint32_t v = preview_[i];
        const uint16_t c = static_cast<uint16_t>((v >> 12) << 8 | ((v >> 7) & 15) << 4 | ((v >> 1) & 15));
        colours_[i] = c;
        if (index[c] < 0) {
            if (next < kPaletteEntries) {
                palette_[3 * next] = static_cast<uint8_t>((c >> 8) * 17);
                palette_[3 * next + 1] = static_cast<uint8_t>(((c >> 4) & 15) * 17);
                palette_[3 * next + 2] = static_cast<uint8_t>((c & 15) * 17);
            }
            index[c] = static_cast<int16_t>(next++);
        }
        indices_[i] = static_cast<uint8_t>(index[c]);
    }
    count_ = next;
}

std::vector<uint8_t> Screenshot::Encode(bool gif) const {
    if (count_ > kPaletteEntries) return EncodeTga16(colours_.data(), kWidth, kHeight);
    if (gif) return EncodeGif(indices_.data(), kWidth, kHeight, palette_, count_);
    return EncodeMappedTga(indices_.data(), kWidth, kHeight, palette_, count_);
}

bool Screenshot::Save(const std::string& directory, bool gif, std::string* path, std::string* error) const {
    const std::string ext = std::string(".") + Extension(gif);
    *path = NumberedFileName(directory, "Vexil_", ext.c_str());
    if (path->empty()) {
        if (error) *error = "no free file name in \"" + directory + "\"";
        return false;
    }
    return WriteWholeFile(*path, Encode(gif), error);
}

}  // namespace vexil

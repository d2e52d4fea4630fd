// The screenshot taken each time the application returns to the menu: the picture as shown,
// at half size (every second pixel of every second row of the 800 x 600 frame), with its
// colours reduced to 12 bits (the top four bits of each component).
//
// The colours are counted with black always first (index 0), then in the order the pixels
// bring them; the first 256 have palette entries, each 4-bit component c as the 8-bit c * 17.
// Saving writes "Vexil_%03d" into the shot folder: a GIF or a run-length, colour-mapped TGA
// for up to 256 colours (as chosen), else a 16-bit TGA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexil {

class Screenshot {
public:
    static constexpr int kWidth = 400;
    static constexpr int kHeight = 300;
    static constexpr int kPaletteEntries = 256;

    Screenshot();

    // Takes the picture from an 800 x 600 frame, `pitch` pixels apart.
    void Capture(const uint16_t* frame, int pitch);

    // Distinct colours, black included (so at least 1); may pass 256.
    int ColourCount() const { return count_; }
    // The preview, 400 x 300 R5G6B5 pixels as they were shown.
    const uint16_t* PreviewPixels() const { return preview_.data(); }
    // The 12-bit colours 0x0RGB, the palette indices, and the palette (red, green, blue).
    const uint16_t* Colours() const { return colours_.data(); }
    const uint8_t* Indices() const { return indices_.data(); }
    const uint8_t* Palette() const { return palette_; }

    // The file as it would be saved, and its extension ("gif" or "tga").
    std::vector<uint8_t> Encode(bool gif) const;
    const char* Extension(bool gif) const { return gif && count_ <= kPaletteEntries ? "gif" : "tga"; }
    // Writes the next numbered file into `directory`; `path` gets its name either way. False
    // (with the reason in `error`) when it could not be written; nothing is left then.
    bool Save(const std::string& directory, bool gif, std::string* path, std::string* error) const;

private:
    std::vector<uint16_t> preview_, colours_;
    std::vector<uint8_t> indices_;
    uint8_t palette_[3 * kPaletteEntries] = {};
    int count_ = 1;
};

}  // namespace vexil

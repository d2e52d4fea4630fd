// Uncompressed 24-bit TGA pictures of the R5G6B5 host frame.
//
// Layout: an 18-byte header (no image id, no colour map, image type 2, origin 0,0, width and
// height little-endian, 24 bits per pixel, descriptor 0: rows bottom-up, pixels left to right),
// then blue, green, red bytes per pixel. The 5- and 6-bit channels are scaled to 0-255 and
// rounded down, as SDL shows them in the window, so a capture of the window matches the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexil {

constexpr size_t kTgaHeaderBytes = 18;

// The whole file for `width` x `height` pixels, `pitch` pixels apart.
std::vector<uint8_t> EncodeTga(const uint16_t* pixels, int width, int height, int pitch);
// Writes it to `path`; false with the reason in `error` when the file cannot be written.
bool WriteTga(const std::string& path, const uint16_t* pixels, int width, int height, int pitch,
              std::string* error);

}  // namespace vexil

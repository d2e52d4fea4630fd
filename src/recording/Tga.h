// TGA pictures. Every kind has the 18-byte header (no image id, origin 0,0, width and height
// little-endian, descriptor 0: rows bottom-up, pixels left to right) and differs in its image
// type and pixels:
//   EncodeTga        type 2, 24 bits: blue, green, red bytes of the R5G6B5 host frame (the 5-
//                    and 6-bit channels scaled to 0-255 and rounded down, as SDL shows them, so
//                    a capture of the window matches the file)
//   EncodeTga16      type 2, 16 bits: x1r5g5b5 little-endian from 12-bit 0x0RGB colours
//   EncodeMappedTga  type 9, a colour map of 24-bit entries (blue, green, red) and 8-bit
//                    indices, run-length encoded; no packet crosses the end of a row
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

// `colours` are 0x0RGB, top row first; each 4-bit component c becomes the 5-bit c * 31 / 15.
std::vector<uint8_t> EncodeTga16(const uint16_t* colours, int width, int height);
// `indices` top row first into `palette` (`entries` red, green, blue triplets).
std::vector<uint8_t> EncodeMappedTga(const uint8_t* indices, int width, int height, const uint8_t* palette,
                                     int entries);

}  // namespace vexil

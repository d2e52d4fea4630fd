// GIF 87a pictures of up to 256 colours, compressed by our own LZW encoder.
//
// Layout: "GIF87a"; the logical screen (width, height, packed byte 0xF7: a global colour table
// of 256 entries with 8-bit resolution, background 0, aspect 0); the table (red, green, blue,
// the palette then zeros); the image descriptor 0x2C (at 0,0, the full size, no local table,
// not interlaced); LZW minimum code size 8 and the code stream in sub-blocks of up to 255
// bytes; a zero-length block; the trailer 0x3B.
//
// The code stream: clear code 256, end code 257, new strings from 258; codes of 9 to 12 bits
// packed least significant bit first. The width grows once the next free code no longer fits,
// as the decoder sees it; when the table is full (4095) a clear code starts it over.
#pragma once

#include <cstdint>
#include <vector>

namespace vexil {

// `indices` top row first into `palette` (`entries` red, green, blue triplets, at most 256).
std::vector<uint8_t> EncodeGif(const uint8_t* indices, int width, int height, const uint8_t* palette,
                               int entries);

}  // namespace vexil

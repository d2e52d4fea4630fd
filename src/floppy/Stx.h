// STX images: each track recorded as the floppy controller saw it, with its ID fields, their
// angles, the controller's status for each sector, fuzzy bits and, for some tracks, the bytes
// a Read Track returned. All numbers little-endian.
//
//   file header, 16 bytes    "RSY\0", u16 version (3), u16 tool, u16 0, u8 track records,
//                            u8 revision (any), u32 0
//   track record             u32 record size (the next record starts this many bytes after
//                            this one), u32 fuzzy mask bytes, u16 sectors, u16 flags, u16 track
//                            length, u8 track number (bit 7: side 1), u8 track type
//     flags                  bit 0 sector descriptors follow, bit 6 a track image, bit 7 the
//                            image has a sync offset word
//     sector descriptors     16 bytes each: u32 data offset (from the track data), u16 bit
//                            position of the ID from the index (4 µs cells, 50,000 a turn), u16
//                            read time of the data field in µs (0: nominal), the ID's track,
//                            side, number and size code, its CRC high byte first, u8 status
//                            (0x08 CRC error, in the ID when 0x10 is set too; 0x10 no data;
//                            0x20 deleted data; 0x80 fuzzy bits), u8 reserved
//     fuzzy masks            one per fuzzy sector, as long as the sector: a 1 bit is stable
//     track data             [u16 sync offset] u16 image size, the image; the sectors' data
//   A record without descriptors holds plain 512-byte sectors right after its 16 bytes.
//
// How the layout is read here: the bit position marks the ID's address mark (0xFE) (files are
// said to differ from their own images by a few bytes, which moves a sector's time by as
// much); the image's byte i passes the head i bytes after the index, so a sector whose data
// lies inside the image has its data mark where the image has it, and any other sector's data
// mark follows its ID after the usual 37 bytes of gap and sync. The timing record of variable
// bit widths (revision 2) is not read: a sector's read time gives its whole duration.
//
// Every offset is checked against its own record, and every record against the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "floppy/DiskImage.h"

namespace vexil {

// Fills `layout` from the file (which stays where it is: the IDs point into it). Returns null,
// or the reason the file is refused.
const char* ParseStx(const uint8_t* file, size_t size, StxLayout& layout);

}  // namespace vexil

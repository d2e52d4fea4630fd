// FDI ("Formatted Disk Image file") images: a 512-byte header with one descriptor per track
// and side, then each track's data. Two kinds of track are understood: plain tracks of 9 or 10
// sectors of 512 bytes, and decoded MFM tracks written as command bytes. Gaps, sync marks,
// raw bits and timing are skipped.
//
// Loading turns the file into a list of records per (track, side), which ReadSector searches:
//
//   ID record     5 bytes       0, track, side, sector, size code
//   data record   2 + n bytes   1, size code, then the n = 128 << size code sector bytes,
//                               in host word order
//
// A data record carries its own size so that a list can always be walked, whatever sizes the
// ID records claim. Files the machine's sector buffer or track table cannot hold (more than
// 180 track sides, sectors over 512 bytes) are refused, as are tracks whose commands run past
// their own data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexil {

constexpr uint8_t kFdiIdRecord = 0;
constexpr uint8_t kFdiDataRecord = 1;
constexpr size_t kFdiHeaderSize = 512;
constexpr size_t kFdiDescriptors = 0x98;  // offset of the first track descriptor

constexpr uint8_t kFdiPlain9 = 3;
constexpr uint8_t kFdiPlain10 = 4;
constexpr uint8_t kFdiMfm = 0xE2;

constexpr const char* kFdiNotMfm = "Only MFM Track encodeding supported.";
constexpr const char* kFdiCrcError = "CRC error in sector !";
constexpr const char* kFdiUnknownCommand = "ERROR: Unknown command byte in FDI file !";
constexpr const char* kFdiNoEnd = "ERROR: End track command (FF) not found in FDI file";
constexpr const char* kFdiBadTrackType = "Unsupported FDI Track type.";
constexpr const char* kFdiBadRecords = "FDI Track data decoding error";
constexpr const char* kFdiBadGeometry = "Unsupported FDI geometry.";
constexpr const char* kFdiTruncated = "The FDI file is shorter than its track table says.";
constexpr const char* kFdiBigSector = "FDI sectors over 512 bytes are not supported.";

}  // namespace vexil

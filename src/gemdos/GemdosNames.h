// GEMDOS's file names and the facts of a directory entry as a program sees them: the 8.3 form
// a host name takes, the wildcard match of Fsfirst, the attribute match, and the packed date
// and time.
//
// GEMDOS upper-cases a name and keeps 8 characters of it and 3 of its extension. A host name
// shows as that cut form when no other name in its folder cuts to the same; names that clash
// (those that differ only in letter case clash too) each take a suffix made from the host name
// itself, so that a name stays the same whatever else the folder holds.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace vexil::gemdos {

// Directory entry attributes.
constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrHidden = 0x02;
constexpr uint8_t kAttrSystem = 0x04;
constexpr uint8_t kAttrVolume = 0x08;
constexpr uint8_t kAttrFolder = 0x10;
constexpr uint8_t kAttrArchive = 0x20;

// "NAME.EXT" (no dot when there is no extension): upper case, 8 + 3 characters, the extension
// taken after the last dot; characters GEMDOS names cannot hold become '_'.
std::string CutName(std::string_view name);
// The 11-character form "NAME    EXT" of a cut name or a pattern, '*' filling its field with '?'.
std::string Template11(std::string_view name);
// Fsfirst's match of a pattern against a cut name, character by character on the 11-character
// forms, where '?' matches anything (a blank too).
bool NameMatches(std::string_view pattern, std::string_view name);
// The attribute match of EmuTOS's directory scan: read-only and archive are added to every
// search but a volume search; attribute-0 entries match unless the search is exactly for
// volumes or folders; otherwise search and entry must share a bit.
bool AttributeMatches(uint8_t search, uint8_t entry);

// A host entry with the name a program sees.
struct MappedName {
    std::string host;
    std::string st;
};
// The cut forms of a folder's host names, clashes suffixed, sorted by the ST name.
std::vector<MappedName> MapNames(const std::vector<std::string>& hostNames);

// GEMDOS's packed time (hours << 11 | minutes << 5 | seconds / 2) and date ((year - 1980) << 9
// | month << 5 | day) of a host time in local time, clamped to 1980-01-01 ... 2099-12-31.
uint16_t PackedTime(std::time_t when);
uint16_t PackedDate(std::time_t when);
// The host time of a packed date and time (local time).
std::time_t HostTime(uint16_t date, uint16_t time);

}  // namespace vexil::gemdos

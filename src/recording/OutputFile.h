// What the recorders share: byte order stores, the numbered names of their files, and files
// written whole under a temporary name so that a failure never leaves one that looks complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexil {

inline void StoreLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
    StoreLe16(p, v), StoreLe16(p + 2, v >> 16);
}
inline void StoreBe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8), p[1] = static_cast<uint8_t>(v);
}
inline void StoreBe32(uint8_t* p, uint32_t v) {
    StoreBe16(p, v >> 16), StoreBe16(p + 2, v);
}
inline void AppendLe16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v)), out.push_back(static_cast<uint8_t>(v >> 8));
}

// `directory`/`stem`NNN`extension` with the lowest number from 0 whose file does not exist yet
// ("%03d": numbers from 1000 on simply have more digits). Empty when every number is taken.
std::string NumberedFileName(const std::string& directory, const char* stem, const char* extension);

// Writes `bytes` to `path` + ".part", checks every step, then renames it to `path`. On failure
// nothing is left under either name and `error` (when given) says why.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

// Removes `path` if it is a regular file (never a device such as /dev/full).
void RemoveFile(const std::string& path);

// The reason for the last failed file operation, from errno.
std::string FileError(const std::string& path);

}  // namespace vexil

// Integers as files store them: little-endian (the PC's formats and our own files) and
// big-endian (the ST's own, such as MSA).
#pragma once

#include <cstdint>

namespace vexil {

inline uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t Le32(const uint8_t* p) {
    return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16;
}
inline uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline void PutLe16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value), p[1] = static_cast<uint8_t>(value >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t value) {
    PutLe16(p, value), PutLe16(p + 2, value >> 16);
}

}  // namespace vexil

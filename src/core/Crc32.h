// CRC-32 as zip archives use it: the reflected polynomial 0xEDB88320, register preset to
// 0xFFFFFFFF and inverted at the end. Crc32Update works on the raw register so that a checksum
// can be carried across pieces; Crc32 does the whole job for one buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexil {

constexpr uint32_t kCrc32Start = 0xFFFFFFFF;

// Feeds `length` bytes into a running register (start with kCrc32Start, invert when done).
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t length);

inline uint32_t Crc32(const uint8_t* data, size_t length) {
    return ~Crc32Update(kCrc32Start, data, length);
}

}  // namespace vexil

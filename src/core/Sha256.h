// SHA-256 (FIPS 180-4), for the picture regions tests compare.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vexil {

class Sha256 {
public:
    Sha256();
    void Add(const uint8_t* data, size_t length);
    std::array<uint8_t, 32> Finish();

    static std::string Hex(const std::array<uint8_t, 32>& digest);

private:
    void Block(const uint8_t* block);

    uint32_t h_[8];
    uint8_t buffer_[64];
    size_t held_ = 0;
    uint64_t length_ = 0;
};

}  // namespace vexil

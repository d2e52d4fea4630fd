#include <gtest/gtest.h>

#include <string>

#include "core/Crc32.h"

namespace vexil {
namespace {

struct CrcCase {
    std::string text;
    uint32_t crc;
};

class Crc32Check : public testing::TestWithParam<CrcCase> {};

// The standard check values of the zip CRC-32.
TEST_P(Crc32Check, MatchesPublishedCheckValue) {
    const auto& c = GetParam();
    const auto* data = reinterpret_cast<const uint8_t*>(c.text.data());
    EXPECT_EQ(Crc32(data, c.text.size()), c.crc);
    // Carried across pieces, the register gives the same result.
    uint32_t crc = kCrc32Start;
    for (size_t i = 0; i < c.text.size(); ++i) crc = Crc32Update(crc, data + i, 1);
    EXPECT_EQ(~crc, c.crc);
}

INSTANTIATE_TEST_SUITE_P(Values, Crc32Check,
                         testing::Values(CrcCase{"", 0x00000000}, CrcCase{"a", 0xE8B7BE43},
                                         CrcCase{"abc", 0x352441C2}, CrcCase{"123456789", 0xCBF43926},
                                         CrcCase{"The quick brown fox jumps over the lazy dog", 0x414FA339}));

}  // namespace
}  // namespace vexil

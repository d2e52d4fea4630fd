#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "debugger/RomListing.h"

namespace vexil {
namespace {

struct Result {
    int code;
    std::string out, err;
};

std::string ReadAll(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

Result List(const std::string& rom, const char* address, const char* count) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int code = ListRom(rom, address, count, out, err);
    return {code, ReadAll(out), ReadAll(err)};
}

// A ROM file of `length` bytes whose header names `base`.
std::string WriteRom(const std::string& name, size_t length, uint32_t base) {
    std::vector<uint8_t> bytes(length, 0x4E);
    for (size_t i = 0; i < 4 && 8 + i < length; ++i)
        bytes[8 + i] = static_cast<uint8_t>(base >> (24 - 8 * i));
    const std::string path = testing::TempDir() + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

TEST(RomListing, ListsTheBundledRomFromItsBase) {
    const Result result = List(VEXIL_EMUTOS, "0xE00000", "1000");
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_TRUE(result.err.empty());
    EXPECT_EQ(result.out.rfind("E00000  602E                      bra.s   $E00030\n", 0), 0u)
        << result.out.substr(0, 80);
    size_t lines = 0;
    for (char c : result.out) lines += c == '\n';
    EXPECT_EQ(lines, 1000u);
    // The other spellings of the address, and a listing that runs into the image's end.
    EXPECT_EQ(List(VEXIL_EMUTOS, "$e00000", "1").out, List(VEXIL_EMUTOS, "E00000", "1").out);
    const Result tail = List(VEXIL_EMUTOS, "E3FFFE", "50");
    EXPECT_EQ(tail.code, 0);
    EXPECT_EQ(tail.out.rfind("E3FFFE  ", 0), 0u);
    EXPECT_EQ(tail.out.find('\n'), tail.out.size() - 1);
}

struct BadListing {
    const char* name;
    const char* rom;  // nullptr: a file of `length` bytes naming `base`
    const char* address;
    const char* count;
    const char* message;  // part of the error text
    size_t length = 0;
    uint32_t base = 0;
};

class RomListingRefuses : public testing::TestWithParam<BadListing> {};

TEST_P(RomListingRefuses, WithAMessageAndNoListing) {
    const BadListing& c = GetParam();
    const std::string rom = c.rom ? c.rom : WriteRom(c.name, c.length, c.base);
    const Result result = List(rom, c.address, c.count);
    if (!c.rom) std::remove(rom.c_str());
    EXPECT_NE(result.code, 0);
    EXPECT_TRUE(result.out.empty());
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, RomListingRefuses,
    testing::Values(
        BadListing{"HexGarbage", VEXIL_EMUTOS, "E0000G", "1", "not a hexadecimal address"},
        BadListing{"EmptyAddress", VEXIL_EMUTOS, "", "1", "not a hexadecimal address"},
        BadListing{"PrefixOnly", VEXIL_EMUTOS, "0x", "1", "not a hexadecimal address"},
        BadListing{"DollarOnly", VEXIL_EMUTOS, "$", "1", "not a hexadecimal address"},
        BadListing{"AddressOverflow", VEXIL_EMUTOS, "100000000E00000", "1", "not a hexadecimal address"},
        BadListing{"NegativeCount", VEXIL_EMUTOS, "E00000", "-1", "not a decimal instruction count"},
        BadListing{"HexCount", VEXIL_EMUTOS, "E00000", "0x10", "not a decimal instruction count"},
        BadListing{"CountOverflow", VEXIL_EMUTOS, "E00000", "99999999999", "not a decimal instruction count"},
        BadListing{"EmptyCount", VEXIL_EMUTOS, "E00000", "", "not a decimal instruction count"},
        BadListing{"BelowImage", VEXIL_EMUTOS, "DFFFFE", "1", "outside the ROM image"},
        BadListing{"PastImage", VEXIL_EMUTOS, "E40000", "1", "outside the ROM image"},
        BadListing{"OddAddress", VEXIL_EMUTOS, "E00001", "1", "is odd"},
        BadListing{"MissingFile", "/nonexistent/tos.img", "E00000", "1", "cannot open"},
        BadListing{"Directory", "/tmp", "E00000", "1", "cannot open"},
        BadListing{"Empty", nullptr, "0", "1", "truncated", 0, 0},
        BadListing{"ShortHeader", nullptr, "0", "1", "truncated", 11, 0},
        BadListing{"OddLength", nullptr, "FC0000", "1", "truncated", 1001, 0xFC0000},
        BadListing{"Huge", nullptr, "E00000", "1", "larger than the 256 KB", 0x40002, 0xE00000},
        BadListing{"OddBase", nullptr, "FC0000", "1", "impossible base", 64, 0xFC0001},
        BadListing{"BasePastMemory", nullptr, "FFFFF0", "1", "impossible base", 64, 0xFFFFF0},
        BadListing{"BaseBeyond24Bits", nullptr, "80000000", "1", "impossible base", 64, 0x80000000}),
    [](const testing::TestParamInfo<BadListing>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

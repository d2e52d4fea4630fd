// GEMDOS names: the 8.3 form of host names, clashes, wildcards, attributes and packed dates.
#include <gtest/gtest.h>

#include <set>

#include "gemdos/GemdosNames.h"

namespace vexil::gemdos {
namespace {

struct CutCase {
    const char* host;
    const char* st;
};
class CutNameTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutNameTest, HostNameTakesGemdosForm) {
    EXPECT_EQ(CutName(GetParam().host), GetParam().st);
}

INSTANTIATE_TEST_SUITE_P(Names, CutNameTest,
                         ::testing::Values(CutCase{"readme.txt", "README.TXT"}, CutCase{"NOEXT", "NOEXT"},
                                           CutCase{"LongFileName.text", "LONGFILE.TEX"},
                                           CutCase{"archive.tar.gz", "ARCHIVE_.GZ"},
                                           CutCase{"a b+c.d", "A_B_C.D"}, CutCase{"x.", "X"},
                                           CutCase{"game-1(v2).prg", "GAME-1(V.PRG"}, CutCase{"..", ".."}));

TEST(MapNames, UniqueNamesKeepTheirCutFormAndComeSorted) {
    const auto mapped = MapNames({"zeta.txt", "Alpha.PRG", "middle"});
    ASSERT_EQ(mapped.size(), 3u);
    EXPECT_EQ(mapped[0].st, "ALPHA.PRG");
    EXPECT_EQ(mapped[0].host, "Alpha.PRG");
    EXPECT_EQ(mapped[1].st, "MIDDLE");
    EXPECT_EQ(mapped[2].st, "ZETA.TXT");
}

TEST(MapNames, ClashingNamesTakeDistinctStableSuffixes) {
    // Case alone clashes, and so do long names with a common head.
    const std::vector<std::string> hosts = {"hello.txt", "HELLO.TXT", "LongFileName1.c", "LongFileName2.c",
                                            "other"};
    const auto mapped = MapNames(hosts);
    std::set<std::string> seen;
    for (const auto& m : mapped) {
        EXPECT_TRUE(seen.insert(m.st).second) << m.st;
        const size_t dot = m.st.find('.');
        EXPECT_LE(dot == std::string::npos ? m.st.size() : dot, 8u) << m.st;
        if (m.host == "other") {
            EXPECT_EQ(m.st, "OTHER");
        } else {
            EXPECT_NE(m.st.find('~'), std::string::npos) << m.st;
        }
    }
    // Another file in the folder changes no name.
    auto more = hosts;
    more.push_back("new.txt");
    for (const auto& m : MapNames(more))
        for (const auto& before : mapped)
            if (before.host == m.host) {
                EXPECT_EQ(before.st, m.st);
            }
}

struct MatchCase {
    const char* pattern;
    const char* name;
    bool matches;
};
class NameMatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(NameMatchTest, WildcardsMatchAsFsfirst) {
    EXPECT_EQ(NameMatches(GetParam().pattern, GetParam().name), GetParam().matches)
        << GetParam().pattern << " " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, NameMatchTest,
    ::testing::Values(MatchCase{"*.*", "README.TXT", true}, MatchCase{"*.*", "NOEXT", true},
                      MatchCase{"*.PRG", "GAME.PRG", true}, MatchCase{"*.PRG", "GAME.ACC", false},
                      MatchCase{"G?ME.*", "GAME.X", true}, MatchCase{"G?ME.*", "GRIME.X", false},
                      MatchCase{"*", "NOEXT", true}, MatchCase{"*", "A.TXT", false},
                      MatchCase{"game.prg", "GAME.PRG", true}, MatchCase{"GAME", "GAMES", false},
                      MatchCase{"*.*", ".", true}, MatchCase{"ABCDEFGHIJ.TXT", "ABCDEFGH.TXT", true}));

struct AttributeCase {
    uint8_t search;
    uint8_t entry;
    bool matches;
};
class AttributeMatchTest : public ::testing::TestWithParam<AttributeCase> {};

TEST_P(AttributeMatchTest, FollowsTheDirectoryScan) {
    EXPECT_EQ(AttributeMatches(GetParam().search, GetParam().entry), GetParam().matches)
        << int(GetParam().search) << " " << int(GetParam().entry);
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, AttributeMatchTest,
    ::testing::Values(AttributeCase{0x00, 0x00, true}, AttributeCase{0x00, kAttrReadOnly, true},
                      AttributeCase{0x00, kAttrArchive, true}, AttributeCase{0x00, kAttrFolder, false},
                      AttributeCase{0x00, kAttrHidden, false}, AttributeCase{kAttrHidden, kAttrHidden, true},
                      AttributeCase{kAttrFolder, kAttrFolder, true}, AttributeCase{kAttrFolder, 0x00, true},
                      AttributeCase{kAttrVolume, 0x00, false}, AttributeCase{kAttrVolume, kAttrVolume, true},
                      AttributeCase{kAttrVolume, kAttrReadOnly, false},
                      AttributeCase{0x07, kAttrSystem, true}));

class PackedDateTest : public ::testing::Test {
protected:
    // Local time is the host's: these cases are written in UTC.
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", savedTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string savedTz_;
    bool hadTz_ = false;
};

TEST_F(PackedDateTest, DatesAreClampedTo1980Through2099) {
    EXPECT_EQ(PackedDate(0), 1 << 5 | 1);  // 1970: 1980-01-01
    EXPECT_EQ(PackedTime(0), 0);
    const std::time_t y2150 = 5680281600;  // 2150-01-01
    EXPECT_EQ(PackedDate(y2150), 119 << 9 | 12 << 5 | 31);
    // 2001-09-09 01:46:40 UTC
    EXPECT_EQ(PackedDate(1000000000), (2001 - 1980) << 9 | 9 << 5 | 9);
    EXPECT_EQ(PackedTime(1000000000), 1 << 11 | 46 << 5 | 20);
    EXPECT_EQ(HostTime(PackedDate(1000000000), PackedTime(1000000000)), 1000000000);
}

}  // namespace
}  // namespace vexil::gemdos

#include <gtest/gtest.h>

#include "RecordingTestSupport.h"
#include "recording/OutputFile.h"

namespace vexil {
namespace {

struct NumberCase {
    const char* name;
    std::vector<const char*> existing;
    const char* expected;
};

class NumberedFileNameTest : public test::RecordingTest, public ::testing::WithParamInterface<NumberCase> {};

// The lowest number whose file does not exist, gaps included; other names do not count.
TEST_P(NumberedFileNameTest, TakesTheLowestFreeNumber) {
    for (const char* name : GetParam().existing) test::WriteBytes(Path(name), {1});
    EXPECT_EQ(NumberedFileName(dir_.string(), "song_", ".wav"), Path(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, NumberedFileNameTest,
    ::testing::Values(NumberCase{"Empty", {}, "song_000.wav"},
                      NumberCase{"TwoTaken", {"song_000.wav", "song_001.wav"}, "song_002.wav"},
                      NumberCase{"GapAtTheStart", {"song_001.wav", "song_002.wav"}, "song_000.wav"},
                      NumberCase{"GapInBetween", {"song_000.wav", "song_002.wav"}, "song_001.wav"},
                      NumberCase{
                          "OtherNames", {"song_000.ym", "song_0.wav", "Song_000.wav"}, "song_000.wav"}),
    [](const auto& info) { return std::string(info.param.name); });

class OutputFileTest : public test::RecordingTest {};

TEST_F(OutputFileTest, NumbersPastNineHundredNinetyNineHaveMoreDigits) {
    for (int n = 0; n < 1000; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "Vexil_%03d.gif", n);
        test::WriteBytes(Path(name), {});
    }
    EXPECT_EQ(NumberedFileName(dir_.string(), "Vexil_", ".gif"), Path("Vexil_1000.gif"));
}

// A whole file appears only when every byte was written; a failure leaves nothing, not even
// the temporary file.
TEST_F(OutputFileTest, WholeFileAppearsOnlyWhenComplete) {
    const test::Bytes bytes(50000, 0xAB);
    std::string error;
    ASSERT_TRUE(WriteWholeFile(Path("a.ym"), bytes, &error)) << error;
    EXPECT_EQ(test::ReadAll(Path("a.ym")), bytes);
    {
        test::FileSizeLimit limit(10000);
        EXPECT_FALSE(WriteWholeFile(Path("b.ym"), bytes, &error));
    }
    EXPECT_NE(error.find("b.ym"), std::string::npos);
    EXPECT_FALSE(WriteWholeFile(Path("missing/c.ym"), bytes, &error));
    EXPECT_EQ(Names(), std::vector<std::string>{"a.ym"});
}

}  // namespace
}  // namespace vexil

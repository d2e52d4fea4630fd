#include <gtest/gtest.h>

#include "RecordingTestSupport.h"
#include "recording/WavFile.h"

namespace vexil {
namespace {

using test::Bytes;

// A WAV file as the format describes it, built here from its fields.
Bytes ExpectedWav(const std::vector<int16_t>& samples, uint32_t counted) {
    Bytes file;
    test::Text(file, "RIFF");
    test::Le(file, 36 + 2 * counted, 4);
    test::Text(file, "WAVEfmt ");
    test::Le(file, 16, 4);
    test::Le(file, 1, 2);  // PCM
    test::Le(file, 1, 2);  // one channel
    test::Le(file, 44100, 4);
    test::Le(file, 88200, 4);
    test::Le(file, 2, 2);
    test::Le(file, 16, 2);
    test::Text(file, "data");
    test::Le(file, 2 * counted, 4);
    for (int16_t s : samples) test::Le(file, static_cast<uint16_t>(s), 2);
    return file;
}

std::vector<int16_t> Ramp(int count) {
    std::vector<int16_t> samples(count);
    for (int i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(i * 37 - 20000);
    return samples;
}

class WavFileTest : public test::RecordingTest {};

TEST_F(WavFileTest, ClosedFileIsHeaderAndLittleEndianSamples) {
    const std::vector<int16_t> samples = {0, 1, -1, 32767, -32768, 0x1234};
    WavFile wav;
    std::string error;
    ASSERT_TRUE(wav.Open(Path("a.wav"), error)) << error;
    ASSERT_TRUE(wav.Write(samples.data(), 4));
    ASSERT_TRUE(wav.Write(samples.data() + 4, 2));
    ASSERT_TRUE(wav.Close(error)) << error;
    EXPECT_EQ(test::ReadAll(Path("a.wav")), ExpectedWav(samples, 6));
}

// While the recording goes on, the header is valid from the start and counts the samples of
// every whole second written so far: a file cut short there still plays.
TEST_F(WavFileTest, HeaderKeepsUpOnceASecondWhileOpen) {
    WavFile wav;
    std::string error;
    ASSERT_TRUE(wav.Open(Path("b.wav"), error)) << error;
    EXPECT_EQ(test::ReadAll(Path("b.wav")), ExpectedWav({}, 0));
    const std::vector<int16_t> samples = Ramp(44100 + 881);
    for (size_t done = 0; done < 44100; done += 882) ASSERT_TRUE(wav.Write(samples.data() + done, 882));
    const std::vector<int16_t> written(samples.begin(), samples.begin() + 50 * 882);
    EXPECT_EQ(test::ReadAll(Path("b.wav")), ExpectedWav(written, 50 * 882));
    ASSERT_TRUE(wav.Close(error));
}

struct WriteFailure {
    const char* name;
    const char* path;  // in the test's folder unless absolute
};

class WavFileFailureTest : public test::RecordingTest, public ::testing::WithParamInterface<WriteFailure> {};

// A file that cannot be created or whose first write fails is reported and nothing is left.
TEST_P(WavFileFailureTest, OpenFailsCleanly) {
    const std::string path = GetParam().path[0] == '/' ? GetParam().path : Path(GetParam().path);
    WavFile wav;
    std::string error;
    EXPECT_FALSE(wav.Open(path, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_FALSE(wav.Write(Ramp(10).data(), 10));
    EXPECT_TRUE(Names().empty());
}

INSTANTIATE_TEST_SUITE_P(Paths, WavFileFailureTest,
                         ::testing::Values(WriteFailure{"MissingFolder", "gone/a.wav"},
                                           WriteFailure{"FullDevice", "/dev/full"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

#include <gtest/gtest.h>

#include "RecordingTestSupport.h"
#include "recording/SoundRecorder.h"
#include "sound/Ym2149.h"
#include "video/Overlay.h"

namespace vexil {
namespace {

using test::Bytes;
using Format = SoundRecorder::Format;

// The YM6 file as the format describes it, built here from its fields: 14 registers per frame
// given frame after frame, stored register after register with 14 and 15 as zeros.
Bytes ExpectedYm6(const std::vector<std::array<uint8_t, 14>>& frames, const std::string& name,
                  uint32_t frameRate = 50) {
    Bytes file;
    test::Text(file, "YM6!");
    file.insert(file.end(), {0x4C, 0x65, 0x4F, 0x6E, 0x41, 0x72, 0x44, 0x21});
    test::Be(file, static_cast<uint32_t>(frames.size()), 4);
    test::Be(file, 1, 4);  // interleaved
    test::Be(file, 0, 2);
    test::Be(file, 2000000, 4);
    test::Be(file, frameRate, 2);
    test::Be(file, 0, 4);
    test::Be(file, 0, 2);
    for (const char* text : {name.c_str(), "Unknown.", "Generated with Vexil"}) {
        test::Text(file, text);
        file.push_back(0);
    }
    for (int r = 0; r < 16; ++r)
        for (const auto& frame : frames) file.push_back(r < 14 ? frame[r] : 0);
    test::Text(file, "End!");
    return file;
}

class SoundRecorderTest : public test::RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        folder_ = Path("sound");
        std::filesystem::create_directories(folder_);
    }
    // Sets the chip's registers as a frame's writes would, then hands the frame's end over.
    void Frame(SoundRecorder& recorder, std::initializer_list<std::pair<unsigned, uint8_t>> writes) {
        for (const auto& [reg, value] : writes) ym_.WriteRegister(reg, value);
        recorder.RecordFrame(samples_.data(), 881, frameCycles_, ym_, overlay_);
    }
    bool Showing(const std::string& text) const {
        for (int slot = 0; slot < StatusOverlay::kSlots; ++slot)
            if (overlay_.Active(slot) && text == overlay_.Text(slot)) return true;
        return false;
    }
    std::string folder_;
    Cycles frameCycles_ = kCyclesPerFrame;
    Ym2149 ym_;
    StatusOverlay overlay_;
    std::vector<int16_t> samples_ = std::vector<int16_t>(881, 0);
};

// The registers go into the file interleaved; the envelope shape is stored only in frames
// whose shape was written (even with the same value), 0xFF elsewhere, except the first
// frame, which holds the shape in effect so that a player starts the envelope the machine had.
TEST_F(SoundRecorderTest, YmFileHoldsTheRegistersOfEachFrame) {
    ym_.WriteRegister(13, 0x0A);  // written before the recording starts
    SoundRecorder recorder(Format::kYm, folder_, false, ym_, overlay_);
    Frame(recorder, {{0, 0x11}, {7, 0x38}, {8, 0x0F}});
    Frame(recorder, {{1, 0x02}, {13, 0x0A}});
    Frame(recorder, {{11, 0x40}, {12, 0x01}});
    Frame(recorder, {{13, 0x0E}, {10, 0x10}});
    ASSERT_TRUE(recorder.Finish(overlay_)) << recorder.Error();

    std::vector<std::array<uint8_t, 14>> frames(4);
    frames[0] = {0x11, 0, 0, 0, 0, 0, 0, 0x38, 0x0F, 0, 0, 0, 0, 0x0A};
    frames[1] = frames[0], frames[1][1] = 0x02;
    frames[2] = frames[1], frames[2][11] = 0x40, frames[2][12] = 0x01, frames[2][13] = 0xFF;
    frames[3] = frames[2], frames[3][10] = 0x10, frames[3][13] = 0x0E;
    EXPECT_EQ(test::ReadAll(folder_ + "/song_000.ym"), ExpectedYm6(frames, "sound/song_000.ym"));
    EXPECT_EQ(Names(), std::vector<std::string>{"sound"});
    EXPECT_TRUE(Showing("sound/song_000.ym is saved."));
}

// The player plays a register set per frame at the rate the machine's frames ran when the
// recording began: 50, 60 or 71 a second for 313 lines of 512 cycles, 263 of 508, 501 of 224.
class SoundRecorderRateTest : public SoundRecorderTest,
                              public testing::WithParamInterface<std::pair<Cycles, uint32_t>> {};

TEST_P(SoundRecorderRateTest, YmFileSaysTheFrameRate) {
    frameCycles_ = GetParam().first;
    SoundRecorder recorder(Format::kYm, folder_, false, ym_, overlay_);
    Frame(recorder, {{8, 0x0F}});
    frameCycles_ = kCyclesPerFrame;  // a later switch of mode leaves the file's rate
    Frame(recorder, {});
    ASSERT_TRUE(recorder.Finish(overlay_)) << recorder.Error();
    std::vector<std::array<uint8_t, 14>> frames(2);
    frames[0][7] = frames[1][7] = 0x7F;  // the mixer as the chip's reset leaves it
    frames[0][8] = frames[1][8] = 0x0F, frames[1][13] = 0xFF;
    EXPECT_EQ(test::ReadAll(folder_ + "/song_000.ym"),
              ExpectedYm6(frames, "sound/song_000.ym", GetParam().second));
}

INSTANTIATE_TEST_SUITE_P(Timings, SoundRecorderRateTest,
                         testing::Values(std::pair<Cycles, uint32_t>{313 * 512, 50},
                                         std::pair<Cycles, uint32_t>{263 * 508, 60},
                                         std::pair<Cycles, uint32_t>{501 * 224, 71}));

// "Wait YM write": frames with every tone and noise off, or with all three volumes at 0, are
// not recorded and do not count; the first audible frame starts the recording.
TEST_F(SoundRecorderTest, WaitYmWriteSkipsTheSilenceBefore) {
    SoundRecorder recorder(Format::kYm, folder_, true, ym_, overlay_);
    EXPECT_TRUE(Showing("Waiting for YM Chip access..."));
    Frame(recorder, {{7, 0x3F}, {8, 0x0F}});  // volume, but every voice off
    Frame(recorder, {{7, 0x3E}, {8, 0x00}});  // a tone on, but silent
    Frame(recorder, {{9, 0x20}});             // only the envelope bit: still 0 in the low five
    EXPECT_EQ(recorder.GetState(), SoundRecorder::State::kWaiting);
    Frame(recorder, {{10, 0x01}});
    Frame(recorder, {});
    EXPECT_EQ(recorder.Frames(), 2u);
    EXPECT_EQ(recorder.SamplesRecorded(), 2u * 881);
    EXPECT_FALSE(Showing("Waiting for YM Chip access..."));
    EXPECT_TRUE(Showing("Recording YM file. (0:00)"));
    ASSERT_TRUE(recorder.Finish(overlay_));
    const Bytes file = test::ReadAll(folder_ + "/song_000.ym");
    ASSERT_GT(file.size(), 16u);
    EXPECT_EQ(file[15], 2);  // frames
}

TEST_F(SoundRecorderTest, StoppedWhileWaitingWritesNothing) {
    SoundRecorder recorder(Format::kYm, folder_, true, ym_, overlay_);
    Frame(recorder, {{7, 0x3F}});
    EXPECT_FALSE(recorder.Finish(overlay_));
    EXPECT_TRUE(Showing("Recording canceled."));
    EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

// A WAV recording takes the frames' samples as they come and shows its time once a second.
TEST_F(SoundRecorderTest, WavFileHoldsTheFramesSamples) {
    SoundRecorder recorder(Format::kWav, folder_, true, ym_, overlay_);
    for (int i = 0; i < 881; ++i) samples_[i] = static_cast<int16_t>(i * 73);
    for (int frame = 0; frame < 52; ++frame) Frame(recorder, {});  // 51 frames make a second
    EXPECT_TRUE(Showing("Recording WAV file. (0:01)"));
    ASSERT_TRUE(recorder.Finish(overlay_)) << recorder.Error();
    const Bytes file = test::ReadAll(folder_ + "/song_000.wav");
    ASSERT_EQ(file.size(), 44u + 52 * 881 * 2);
    EXPECT_EQ(file[40] | file[41] << 8 | file[42] << 16, 52 * 881 * 2);
    EXPECT_EQ(file[44 + 2 * 880] | file[45 + 2 * 880] << 8, 880 * 73);  // the first frame's last sample
    EXPECT_TRUE(Showing("sound/song_000.wav is saved."));
}

// A file that cannot be written is reported on the message line, the recording stops, "is
// saved." is not shown and nothing that looks like a recording is left.
TEST_F(SoundRecorderTest, YmFileThatCannotBeWrittenIsReported) {
    SoundRecorder recorder(Format::kYm, Path("missing"), false, ym_, overlay_);
    Frame(recorder, {{8, 0x0F}});
    EXPECT_FALSE(recorder.Finish(overlay_));
    EXPECT_FALSE(recorder.Error().empty());
    EXPECT_TRUE(Showing("ERROR: Unable to write missing/song_000.ym !"));
    EXPECT_FALSE(Showing("missing/song_000.ym is saved."));
    EXPECT_EQ(Names(), std::vector<std::string>{"sound"});
}

TEST_F(SoundRecorderTest, WavRecordingStopsWhenTheDiskFills) {
    SoundRecorder recorder(Format::kWav, folder_, false, ym_, overlay_);
    {
        test::FileSizeLimit limit(100000);
        for (int frame = 0; frame < 200; ++frame) Frame(recorder, {});
    }
    EXPECT_EQ(recorder.GetState(), SoundRecorder::State::kStopped);
    EXPECT_TRUE(Showing("ERROR: Unable to write sound/song_000.wav !"));
    EXPECT_FALSE(Showing("Recording WAV file. (0:01)"));
    EXPECT_TRUE(std::filesystem::is_empty(folder_));
    EXPECT_FALSE(recorder.Finish(overlay_));
    EXPECT_FALSE(Showing("sound/song_000.wav is saved."));
}

}  // namespace
}  // namespace vexil

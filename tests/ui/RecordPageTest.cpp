#include <gtest/gtest.h>

#include "../recording/RecordingTestSupport.h"
#include "machine/Machine.h"
#include "ui/RecordPage.h"

namespace vexil {
namespace {

class RecordPageTest : public test::RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        std::filesystem::create_directories(dir_ / "sound");
        std::filesystem::create_directories(dir_ / "shot");
        page_.SetFolders(Path("sound"), Path("shot"));
        page_.Attach(&machine_);
    }
    void TearDown() override {
        page_.Attach(nullptr);
        RecordingTest::TearDown();
    }
    Machine machine_;
    RecordPage page_;
};

// The button starts a recording that takes the frames' blocks from the machine's frame end,
// also from a machine built anew meanwhile, and stops it with the file saved.
TEST_F(RecordPageTest, RecordsTheMachinesSoundUntilStopped) {
    EXPECT_STREQ(page_.SoundButtonCaption(), "Start Recording");
    EXPECT_FALSE(machine_.recordSink);
    page_.ToggleSoundRecording();
    const std::string file = Path("sound/song_000.wav");
    EXPECT_STREQ(page_.SoundButtonCaption(), "Stop Recording");
    EXPECT_EQ(page_.Status(), "Recording music file " + file + " ...");
    page_.Open();
    EXPECT_EQ(page_.Status(), "SOUND is actually recording !");
    const std::vector<int16_t> block(881, 100);
    ASSERT_TRUE(machine_.recordSink);
    machine_.recordSink(block.data(), 881);
    page_.Attach(nullptr);
    EXPECT_FALSE(machine_.recordSink);
    page_.Attach(&machine_);
    machine_.recordSink(block.data(), 881);
    page_.ToggleSoundRecording();
    EXPECT_FALSE(machine_.recordSink);
    EXPECT_STREQ(page_.SoundButtonCaption(), "Start Recording");
    EXPECT_EQ(page_.Status(), "Music file " + file + " saved.");
    EXPECT_EQ(test::ReadAll(file).size(), 44u + 2 * 881 * 2);
    page_.Open();
    EXPECT_EQ(page_.Status(), "");
}

// A YM recording of a machine running at 60 Hz: a register set for each frame run, played at
// 60 frames a second.
TEST_F(RecordPageTest, YmRecordingAt60HzSaysSoInItsHeader) {
    const uint8_t loop[] = {0x60, 0xFE};  // bra.s *
    machine_.LoadBytes(0x1000, loop, sizeof loop);
    machine_.PokeLong(0, 0x8000);
    machine_.PokeLong(4, 0x1000);
    machine_.Reset(false);
    machine_.GetShifter().WriteByte(0xFF820A, 0, 0);  // sync bit 1 clear: 60 Hz
    page_.wav = false;
    page_.waitYmWrite = false;
    page_.ToggleSoundRecording();
    ASSERT_EQ(machine_.RunFrames(37), kRunBudgetSpent);
    EXPECT_EQ(machine_.Scheduler().LastFrameCycles(), 263 * 508);
    page_.ToggleSoundRecording();
    const test::Bytes file = test::ReadAll(Path("sound/song_000.ym"));
    ASSERT_GT(file.size(), 34u);
    EXPECT_EQ(file[12] << 24 | file[13] << 16 | file[14] << 8 | file[15], 37);  // frames
    EXPECT_EQ(file[26] << 8 | file[27], 60);                                    // player rate
}

TEST_F(RecordPageTest, YmRecordingStoppedWhileWaitingIsCanceled) {
    page_.wav = false;
    page_.ToggleSoundRecording();
    page_.ToggleSoundRecording();
    EXPECT_EQ(page_.Status(), "Recording canceled.");
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "sound"));
}

TEST_F(RecordPageTest, ScreenshotCaptionAndSave) {
    EXPECT_EQ(page_.PreviewCaption(), "Screen Shot Preview (1 colour) :");
    std::vector<uint16_t> frame(800 * 600, 0xFFFF);
    page_.CaptureScreen(frame.data(), 800);
    EXPECT_EQ(page_.PreviewCaption(), "Screen Shot Preview (2 colours) :");
    page_.SaveScreenshot();
    EXPECT_EQ(page_.Status(), Path("shot/Vexil_000.gif") + " saved.");
    page_.SetFolders(Path("sound"), Path("missing"));
    page_.SaveScreenshot();
    EXPECT_EQ(page_.Status(), "ERROR: Unable to create " + Path("missing/Vexil_000.gif") + " !");
}

}  // namespace
}  // namespace vexil

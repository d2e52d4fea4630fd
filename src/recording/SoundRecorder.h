// The sound recorder: the machine's mixed output as a WAV file, or the YM2149's registers once
// per frame as a YM6 file, the register-dump format YM players read.
//
// A recording starts with a numbered file name ("song_%03d.wav" / ".ym", the lowest free
// number) and takes each frame's mixed samples from the frame end (881 a 50 Hz frame, fewer at
// 60 and 71 Hz). A YM file plays one register set per frame at the rate of the machine's frames
// when the recording began (50, 60 or 71 Hz, as a whole number). A WAV file is written
// as it goes (WavFile); a YM recording keeps 14 bytes per frame in memory and writes the file
// at the end, under a temporary name renamed when complete. With "Wait YM write" a YM
// recording starts at the first frame with an audible voice (a tone or noise enabled on a
// channel with a volume), so the file does not begin with silence.
//
// Progress goes to a blinking line of the status overlay, "Recording WAV file. (m:ss)"; the
// end shows "<name> is saved." only when the file was written. A failed write stops the
// recording at once and says so on the message line; what failed leaves no file behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Cycles.h"
#include "recording/WavFile.h"

namespace vexil {

class MessageSink;
class Ym2149;

namespace ym6 {
constexpr uint32_t kRegisters = 14;  // stored per frame; the file holds 16
constexpr uint32_t kClock = 2000000;
// The player's frame rate for frames of `frameCycles` CPU cycles: 50, 60 or 71 for the
// machine's three timings (50.05, 60.04 and 71.48 Hz).
constexpr uint32_t FrameRateOf(int64_t frameCycles) {
    return frameCycles > 0 ? static_cast<uint32_t>(kCpuClockHz / frameCycles) : 50;
}
constexpr uint32_t kHeaderBytes = 34;
}  // namespace ym6

// The whole YM6 file for `count` frames of 14 registers each (frame after frame), played
// `frameRate` frames a second, with `songName` as the song's name. The registers are stored interleaved:
// every frame's register 0, then every frame's register 1, ... up to 15 (14 and 15 zero).
std::vector<uint8_t> EncodeYm6(const uint8_t* frames, uint32_t count, uint32_t frameRate,
                               const std::string& songName);

class SoundRecorder {
public:
    enum class Format { kWav, kYm };
    enum class State { kWaiting, kRecording, kStopped };

    // Chooses the file name in `directory` and starts, or waits for the YM (YM format with
    // `waitForYm`). Messages go to `overlay`.
    SoundRecorder(Format format, const std::string& directory, bool waitForYm, Ym2149& ym,
                  MessageSink& overlay);
    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;

    // One frame's mixed samples and, for a YM recording, the chip's registers at the frame's
    // end; the frame lasted `frameCycles` CPU cycles. Nothing is recorded once the recording
    // has stopped.
    void RecordFrame(const int16_t* samples, int32_t count, Cycles frameCycles, Ym2149& ym,
                     MessageSink& overlay);
    // Ends the recording and writes what is still to be written. True when a file was saved.
    bool Finish(MessageSink& overlay);

    Format GetFormat() const { return format_; }
    State GetState() const { return state_; }
    // The file's path ("<directory>/song_000.wav"); empty when no number was free.
    const std::string& FileName() const { return fileName_; }
    // Why the recording stopped early or was not saved; empty while all is well.
    const std::string& Error() const { return error_; }
    uint32_t Frames() const { return frames_; }
    uint32_t SamplesRecorded() const { return samplesRecorded_; }

private:
    void Begin(MessageSink& overlay);
    void Stop(MessageSink& overlay, const std::string& error);
    void ShowProgress(MessageSink& overlay, const char* text);
    void ClearProgress(MessageSink& overlay);

    Format format_;
    State state_ = State::kWaiting;
    std::string fileName_;
    std::string error_;
    WavFile wav_;
    std::vector<uint8_t> registers_;  // 14 bytes per frame
    uint32_t frames_ = 0;
    uint32_t frameRate_ = 50;  // the YM file's, from its first frame
    uint32_t samplesRecorded_ = 0;
    int32_t lastSecond_ = -1;
    int slot_ = -1;  // the progress line's message slot
    char line_[64] = {};
};

}  // namespace vexil

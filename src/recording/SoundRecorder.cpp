#include "recording/SoundRecorder.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "core/MessageSink.h"
#include "recording/OutputFile.h"
#include "sound/Ym2149.h"

namespace vexil {

namespace {

constexpr size_t kGrowth = 0x40000;  // bytes of frames taken at a time (about six minutes)
constexpr uint32_t kMaxFrames = 0x08000000;
constexpr int32_t kSavedMilliseconds = 2000;
constexpr int32_t kErrorMilliseconds = 4000;

// "sound/song_000.ym": the name with its folder, as the messages and the song's name show it.
std::string ShortName(const std::string& path) {
    const std::filesystem::path p(path);
    const std::string folder = p.parent_path().filename().string();
    return folder.empty() ? p.filename().string() : folder + "/" + p.filename().string();
}

void Append(std::vector<uint8_t>& out, const char* text) {
    out.insert(out.end(), text, text + std::strlen(text) + 1);
}

// A voice is heard once a tone or noise is on (mixer bits 0-5 low) and a volume is not 0.
bool Audible(const uint8_t (&r)[ym6::kRegisters]) {
    return (r[7] & 0x3F) != 0x3F && ((r[8] | r[9] | r[10]) & 0x1F) != 0;
}

}  // namespace

std::vector<uint8_t> EncodeYm6(const uint8_t* frames, uint32_t count, uint32_t frameRate,
                               const std::string& songName) {
    std::vector<uint8_t> file(ym6::kHeaderBytes);
    uint8_t* h = file.data();
    std::memcpy(h, "YM6!LeOnArD!", 12);
    StoreBe32(h + 12, count);
    StoreBe32(h + 16, 1);  // attributes: registers interleaved
    StoreBe16(h + 20, 0);  // no digidrums
    StoreBe32(h + 22, ym6::kClock);
    StoreBe16(h + 26, static_cast<uint16_t>(frameRate));
    StoreBe32(h + 28, 0);  // loop frame
    StoreBe16(h + 32, 0);  // no additional data
    Append(file, songName.c_str());
    Append(file, "Unknown.");
    Append(file, "Generated with Vexil");
    const size_t data = file.size();
    file.resize(data + 16 * static_cast<size_t>(count) + 4, 0);
    for (uint32_t r = 0; r < ym6::kRegisters; ++r)
        for (uint32_t f = 0; f < count; ++f)
            file[data + static_cast<size_t>(r) * count + f] =
                frames[static_cast<size_t>(f) * ym6::kRegisters + r];
    std::memcpy(file.data() + file.size() - 4, "End!", 4);
    return file;
}

SoundRecorder::SoundRecorder(Format format, const std::string& directory, bool waitForYm, Ym2149& ym,
                             MessageSink& overlay)
    : format_(format) {
    fileName_ = NumberedFileName(directory, "song_", format == Format::kWav ? ".wav" : ".ym");
    if (fileName_.empty()) {
        Stop(overlay, "no free file name in \"" + directory + "\"");
        return;
    }
    if (format == Format::kYm && waitForYm) {
        uint8_t regs[ym6::kRegisters];
        ym.ReadRegisters(regs);
        ShowProgress(overlay, "Waiting for YM Chip access...");
        return;
    }
    Begin(overlay);
}

void SoundRecorder::Begin(MessageSink& overlay) {
    ClearProgress(overlay);
    state_ = State::kRecording;
    ShowProgress(overlay, "");
    if (format_ == Format::kWav) {
        std::string error;
        if (!wav_.Open(fileName_, error)) Stop(overlay, error);
        return;
    }
    try {
        registers_.reserve(kGrowth);
    } catch (const std::bad_alloc&) {
        Stop(overlay, "MEMORY ALLOC Error !!!");
    }
}

// Ends the recording early: the line says why, and nothing more is recorded.
void SoundRecorder::Stop(MessageSink& overlay, const std::string& error) {
    ClearProgress(overlay);
    state_ = State::kStopped;
    error_ = error;
    registers_.clear();
    registers_.shrink_to_fit();
    char text[MessageSink::kTextBytes];
    if (error == "MEMORY ALLOC Error !!!")
        overlay.ShowMessage(error.c_str(), kSavedMilliseconds, true);
    else {
        std::snprintf(text, sizeof text, "ERROR: Unable to write %s !",
                      fileName_.empty() ? "the recording" : ShortName(fileName_).c_str());
        overlay.ShowMessage(text, kErrorMilliseconds, false);
    }
}

// The progress line: shown again when it is gone (another message took its slot, or the
// machine and its overlay were built anew).
void SoundRecorder::ShowProgress(MessageSink& overlay, const char* text) {
    if (slot_ < 0 || !overlay.Active(slot_) || std::strcmp(overlay.Text(slot_), line_) != 0)
        slot_ = overlay.ShowMessage(text, -1, true);
    else
        overlay.SetMessageText(slot_, text);
    std::snprintf(line_, sizeof line_, "%s", text);
}

void SoundRecorder::ClearProgress(MessageSink& overlay) {
    if (slot_ >= 0 && overlay.Active(slot_) && std::strcmp(overlay.Text(slot_), line_) == 0)
        overlay.ClearMessage(slot_);
    slot_ = -1;
    line_[0] = 0;
}

void SoundRecorder::RecordFrame(const int16_t* samples, int32_t count, Cycles frameCycles, Ym2149& ym,
                                MessageSink& overlay) {
    if (state_ == State::kStopped || count <= 0) return;
    if (format_ == Format::kYm) {
        uint8_t regs[ym6::kRegisters];
        bool shapeWritten = false;
        ym.ReadRegisters(regs, &shapeWritten);
        if (state_ == State::kWaiting) {
            if (!Audible(regs)) return;
            Begin(overlay);
            if (state_ != State::kRecording) return;
        }
        if (frames_ >= kMaxFrames) return;  // a month of frames: the file keeps those
        if (registers_.size() + ym6::kRegisters > registers_.capacity()) {
            try {
                registers_.reserve(registers_.capacity() + kGrowth);
            } catch (const std::bad_alloc&) {
                return Stop(overlay, "MEMORY ALLOC Error !!!");
            }
        }
        // The envelope restarts only where its shape was written; the first frame holds the
        // shape in effect, so that the player starts it as the machine had it.
        if (!shapeWritten && frames_ > 0) regs[13] = 0xFF;
        if (frames_ == 0) frameRate_ = ym6::FrameRateOf(frameCycles);
        registers_.insert(registers_.end(), regs, regs + ym6::kRegisters);
        ++frames_;
    } else if (!wav_.Write(samples, count)) {
        return Stop(overlay, wav_.Error());
    }
    const int32_t seconds = static_cast<int32_t>(samplesRecorded_ / WavFile::kRate);
    if (seconds != lastSecond_) {
        char text[64];
        std::snprintf(text, sizeof text, "Recording %s file. (%d:%02d)",
                      format_ == Format::kYm ? "YM" : "WAV", seconds / 60, seconds % 60);
        ShowProgress(overlay, text);
        lastSecond_ = seconds;
    }
    samplesRecorded_ += static_cast<uint32_t>(count);
}

bool SoundRecorder::Finish(MessageSink& overlay) {
    ClearProgress(overlay);
    const State was = state_;
    state_ = State::kStopped;
    if (was == State::kWaiting) {
        overlay.ShowMessage("Recording canceled.", 1000, false);
        return false;
    }
    if (was != State::kRecording) return false;
    std::string error;
    bool saved;
    if (format_ == Format::kYm) {
        saved = WriteWholeFile(
            fileName_, EncodeYm6(registers_.data(), frames_, frameRate_, ShortName(fileName_)), &error);
        registers_.clear();
        registers_.shrink_to_fit();
    } else {
        saved = wav_.Close(error);
    }
    if (!saved) {
        Stop(overlay, error);
        return false;
    }
    char text[MessageSink::kTextBytes];
    std::snprintf(text, sizeof text, "%s is saved.", ShortName(fileName_).c_str());
    overlay.ShowMessage(text, kSavedMilliseconds, false);
    return true;
}

}  // namespace vexil

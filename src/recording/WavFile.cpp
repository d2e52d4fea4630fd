#include "recording/WavFile.h"

#include <algorithm>

#include "recording/OutputFile.h"

namespace vexil {

namespace {
// A RIFF file's lengths are 32 bits: the file stops taking samples just below 4 GB.
constexpr uint32_t kMaxSamples = (0xFFFFFFFFu - WavFile::kHeaderBytes) / 2;
}  // namespace

void WavFile::Header(uint8_t (&h)[kHeaderBytes], uint32_t samples) {
    const uint32_t dataBytes = samples * 2;
    std::copy_n("RIFF", 4, h);
    StoreLe32(h + 4, 36 + dataBytes);
    std::copy_n("WAVEfmt ", 8, h + 8);
    StoreLe32(h + 16, 16);
    StoreLe16(h + 20, 1);  // PCM
    StoreLe16(h + 22, 1);  // mono
    StoreLe32(h + 24, kRate);
    StoreLe32(h + 28, kRate * 2);
    StoreLe16(h + 32, 2);
    StoreLe16(h + 34, 16);
    std::copy_n("data", 4, h + 36);
    StoreLe32(h + 40, dataBytes);
}

WavFile::~WavFile() {
    std::string ignored;
    Close(ignored);
}

bool WavFile::Open(const std::string& path, std::string& error) {
    std::string ignored;
    Close(ignored);
    path_ = path;
    error_.clear();
    samples_ = unsynced_ = 0;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        error = "cannot create the sound file " + FileError(path);
        return false;
    }
    uint8_t h[kHeaderBytes];
    Header(h, 0);
    if (std::fwrite(h, 1, sizeof h, file_) != sizeof h || std::fflush(file_) != 0) {
        Fail();
        error = error_;
        return false;
    }
    return true;
}

// Closes and removes the file after a failed operation.
void WavFile::Fail() {
    error_ = "cannot write the sound file " + FileError(path_);
    std::fclose(file_);
    file_ = nullptr;
    RemoveFile(path_);
}

// Writes the lengths into the header and hands everything to the system.
bool WavFile::UpdateHeader() {
    uint8_t h[kHeaderBytes];
    Header(h, samples_);
    const bool ok = std::fflush(file_) == 0 && std::fseek(file_, 4, SEEK_SET) == 0 &&
                    std::fwrite(h + 4, 1, 4, file_) == 4 && std::fseek(file_, 40, SEEK_SET) == 0 &&
                    std::fwrite(h + 40, 1, 4, file_) == 4 && std::fseek(file_, 0, SEEK_END) == 0 &&
                    std::fflush(file_) == 0;
    unsynced_ = 0;
    return ok;
}

bool WavFile::Write(const int16_t* samples, int32_t count) {
    if (file_ == nullptr) return false;
    uint8_t block[2 * 1024];
    while (count > 0) {
        int32_t n = std::min<int32_t>(count, 1024);
        if (samples_ + static_cast<uint32_t>(n) > kMaxSamples) {
            error_ = "the sound file \"" + path_ + "\" has reached the 4 GB a WAV file can hold";
            std::string ignored;
            Close(ignored);
            return false;
        }
        for (int32_t i = 0; i < n; ++i) StoreLe16(block + 2 * i, static_cast<uint16_t>(samples[i]));
        if (std::fwrite(block, 2, static_cast<size_t>(n), file_) != static_cast<size_t>(n)) {
            Fail();
            return false;
        }
        samples_ += static_cast<uint32_t>(n);
        unsynced_ += static_cast<uint32_t>(n);
        samples += n;
        count -= n;
    }
    if (unsynced_ >= kRate && !UpdateHeader()) {
        Fail();
        return false;
    }
    return true;
}

bool WavFile::Close(std::string& error) {
    if (file_ == nullptr) {
        if (!error_.empty()) error = error_;
        return error_.empty();
    }
    const bool synced = UpdateHeader();
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!synced || !closed) {
        error_ = "cannot complete the sound file " + FileError(path_);
        RemoveFile(path_);
    }
    if (!error_.empty()) error = error_;
    return error_.empty();
}

}  // namespace vexil

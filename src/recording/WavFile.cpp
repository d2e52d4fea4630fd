#include "recording/WavFile.h"

#include <algorithm>

namespace vexil {

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kHeaderBytes = 44;
// A RIFF file's lengths are 32 bits: the file stops taking samples just below 4 GB.
constexpr uint32_t kMaxSamples = (0xFFFFFFFFu - kHeaderBytes) / 2;

void Le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8);
}

void Header(uint8_t (&h)[kHeaderBytes], uint32_t samples) {
    const uint32_t dataBytes = samples * 2;
    std::copy_n("RIFF", 4, h);
    Le32(h + 4, 36 + dataBytes);
    std::copy_n("WAVEfmt ", 8, h + 8);
    Le32(h + 16, 16);
    Le16(h + 20, 1);  // PCM
    Le16(h + 22, 1);  // mono
    Le32(h + 24, kRate);
    Le32(h + 28, kRate * 2);
    Le16(h + 32, 2);
    Le16(h + 34, 16);
    std::copy_n("data", 4, h + 36);
    Le32(h + 40, dataBytes);
}

}  // namespace

WavFile::~WavFile() {
    std::string ignored;
    Close(ignored);
}

bool WavFile::Open(const std::string& path, std::string& error) {
    std::string ignored;
    Close(ignored);
    path_ = path;
    samples_ = 0;
    failed_ = false;
    file_ = std::fopen(path.c_str(), "wb");
    uint8_t h[kHeaderBytes];
    Header(h, 0);
    if (file_ == nullptr || std::fwrite(h, 1, sizeof h, file_) != sizeof h) {
        error = "cannot write the sound file \"" + path + "\"";
        if (file_) std::fclose(file_), std::remove(path.c_str());
        file_ = nullptr;
        return false;
    }
    return true;
}

bool WavFile::Write(const int16_t* samples, int32_t count) {
    if (file_ == nullptr || failed_) return false;
    uint8_t block[2 * 4096];
    while (count > 0) {
        const int32_t n = count < 4096 ? count : 4096;
        if (samples_ + static_cast<uint32_t>(n) > kMaxSamples) return !(failed_ = true);
        for (int32_t i = 0; i < n; ++i) Le16(block + 2 * i, static_cast<uint16_t>(samples[i]));
        if (std::fwrite(block, 2, static_cast<size_t>(n), file_) != static_cast<size_t>(n))
            return !(failed_ = true);
        samples_ += static_cast<uint32_t>(n);
        samples += n;
        count -= n;
    }
    return true;
}

bool WavFile::Close(std::string& error) {
    if (file_ == nullptr) return true;
    uint8_t h[kHeaderBytes];
    Header(h, samples_);
    bool ok =
        !failed_ && std::fseek(file_, 0, SEEK_SET) == 0 && std::fwrite(h, 1, sizeof h, file_) == sizeof h;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok) error = "the sound file \"" + path_ + "\" could not be completed";
    return ok;
}

}  // namespace vexil

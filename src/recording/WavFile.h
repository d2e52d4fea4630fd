// A WAV file of 16-bit mono PCM at 44,100 Hz, written as the samples come: the header is
// written first with empty lengths and completed when the file is closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vexil {

class WavFile {
public:
    WavFile() = default;
    ~WavFile();
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;

    // False (with the reason in `error`) when the file cannot be created.
    bool Open(const std::string& path, std::string& error);
    // Appends samples; false once a write has failed.
    bool Write(const int16_t* samples, int32_t count);
    // Completes the header and closes the file; false when anything failed.
    bool Close(std::string& error);

    uint32_t Samples() const { return samples_; }

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    uint32_t samples_ = 0;
    bool failed_ = false;
};

}  // namespace vexil

// A WAV file of 16-bit mono PCM at 44,100 Hz, written as the samples come. The header is valid
// from the start: its lengths are brought up to date once a second of samples and at the end,
// so a file cut short by a crash still plays up to its last second. A failed write (full disk,
// folder gone) closes and removes the file at once: no truncated file is left behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vexil {

class WavFile {
public:
    static constexpr uint32_t kRate = 44100;
    static constexpr uint32_t kHeaderBytes = 44;

    WavFile() = default;
    ~WavFile();
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;

    // The 44-byte header for `samples` samples.
    static void Header(uint8_t (&h)[kHeaderBytes], uint32_t samples);

    // False (with the reason in `error`) when the file cannot be created.
    bool Open(const std::string& path, std::string& error);
    // Appends samples. False once a write has failed (the file is then gone; Error says why)
    // or the file has reached the 4 GB that its lengths can count (it is then closed, whole).
    bool Write(const int16_t* samples, int32_t count);
    // Completes the header and closes the file; false (with the reason) when anything failed.
    bool Close(std::string& error);

    bool IsOpen() const { return file_ != nullptr; }
    uint32_t Samples() const { return samples_; }
    const std::string& Error() const { return error_; }

private:
    bool UpdateHeader();
    void Fail();

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
    uint32_t samples_ = 0;
    uint32_t unsynced_ = 0;  // samples since the header was last brought up to date
};

}  // namespace vexil

// The machine's ports on the host's files: the printer's and the serial port's bytes written
// to a file or to standard output ("-"), and the serial port's input read from a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vexil {

// Bytes out, as they come, through the C library's buffer (flushed at Close).
class PortWriter {
public:
    PortWriter() = default;
    ~PortWriter();
    PortWriter(const PortWriter&) = delete;
    PortWriter& operator=(const PortWriter&) = delete;

    // "-" is standard output. False with the reason in `error`.
    bool Open(const std::string& path, std::string& error);
    void Put(uint8_t byte);
    // False when a write failed (a full disk); the reason in `error`.
    bool Close(std::string& error);
    bool IsOpen() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    bool failed_ = false;
};

// A file's bytes, read whole at Open (at most kMaxBytes) and handed out one by one.
class PortReader {
public:
    static constexpr size_t kMaxBytes = 16 << 20;
    bool Open(const std::string& path, std::string& error);
    int32_t Next() { return next_ < bytes_.size() ? bytes_[next_++] : -1; }
    bool IsOpen() const { return open_; }

private:
    std::vector<uint8_t> bytes_;
    size_t next_ = 0;
    bool open_ = false;
};

}  // namespace vexil

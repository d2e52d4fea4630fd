#include "recording/PortFiles.h"

#include <fstream>

#include "recording/OutputFile.h"

namespace vexil {

PortWriter::~PortWriter() {
    std::string ignored;
    Close(ignored);
}

bool PortWriter::Open(const std::string& path, std::string& error) {
    std::string ignored;
    Close(ignored);
    if (path == "-") {
        file_ = stdout;
    } else {
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) {
            error = FileError(path);
            return false;
        }
    }
    path_ = path;
    failed_ = false;
    return true;
}

void PortWriter::Put(uint8_t byte) {
    if (file_ != nullptr && std::fputc(byte, file_) == EOF) failed_ = true;
}

bool PortWriter::Close(std::string& error) {
    if (file_ == nullptr) return true;
    bool good = std::fflush(file_) == 0 && !failed_;
    if (file_ != stdout) good = std::fclose(file_) == 0 && good;
    file_ = nullptr;
    if (!good) error = "cannot write \"" + path_ + "\"";
    return good;
}

bool PortReader::Open(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    bytes_.assign(kMaxBytes + 1, 0);
    if (file) file.read(reinterpret_cast<char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    if (!file && (file.bad() || !file.eof())) {
        bytes_.clear();
        error = "cannot read \"" + path + "\"";
        return false;
    }
    bytes_.resize(static_cast<size_t>(file.gcount()));
    if (bytes_.size() > kMaxBytes) {
        bytes_.clear();
        error = "\"" + path + "\" is larger than 16 MB";
        return false;
    }
    next_ = 0;
    open_ = true;
    return true;
}

}  // namespace vexil

#include "recording/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace vexil {

namespace {
constexpr int kMaxNumber = 1000000;
}

std::string NumberedFileName(const std::string& directory, const char* stem, const char* extension) {
    for (int n = 0; n < kMaxNumber; ++n) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%03d%s", stem, n, extension);
        const std::string path = directory.empty() ? name : directory + "/" + name;
        std::error_code ec;
        // A dangling link or an unreadable entry still holds the name.
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return path;
    }
    return {};
}

std::string FileError(const std::string& path) {
    const int code = errno;
    return "\"" + path + "\": " + (code != 0 ? std::strerror(code) : "write failed");
}

void RemoveFile(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec)))
        std::filesystem::remove(path, ec);
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    const std::string part = path + ".part";
    errno = 0;
    std::FILE* f = std::fopen(part.c_str(), "wb");
    bool ok =
        f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
    std::string why = ok ? std::string() : FileError(f ? part : path);
    if (f != nullptr && std::fclose(f) != 0 && ok) {
        ok = false;
        why = FileError(part);
    }
    if (ok && std::rename(part.c_str(), path.c_str()) != 0) {
        ok = false;
        why = FileError(path);
    }
    if (!ok) {
        if (f != nullptr) RemoveFile(part);
        if (error) *error = "cannot write " + why;
    }
    return ok;
}

}  // namespace vexil

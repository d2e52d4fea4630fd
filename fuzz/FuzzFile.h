// Fuzz targets that parse files get their input through a scratch file of their own.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vexil::fuzz {

inline const std::string& ScratchFile(const char* extension) {
    // In memory when the system offers it: the targets write a file per run.
    static const std::string path = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                    "/vexil-fuzz-" + std::to_string(::getpid()) + extension;
    static const int removal = std::atexit([] { std::remove(path.c_str()); });
    (void)removal;
    return path;
}

inline bool WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace vexil::fuzz

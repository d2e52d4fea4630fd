#include "app/Instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vexil {

bool MakeDirectories(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

SingleInstanceLock::~SingleInstanceLock() {
    Drop();
}

SingleInstanceLock::Result SingleInstanceLock::Take(const std::string& lockPath, std::string* error) {
    Drop();
    const std::filesystem::path parent = std::filesystem::path(lockPath).parent_path();
    if (!parent.empty()) MakeDirectories(parent.string());
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = "cannot create the lock file \"" + lockPath + "\": " + std::strerror(errno);
        return Result::kUnavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int saved = errno;
        ::close(fd);
        if (saved == EWOULDBLOCK) return Result::kHeldElsewhere;
        if (error) *error = "cannot lock \"" + lockPath + "\": " + std::strerror(saved);
        return Result::kUnavailable;
    }
    fd_ = fd;
    return Result::kTaken;
}

void SingleInstanceLock::Drop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace vexil

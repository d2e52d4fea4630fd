#include "gemdos/HostFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace vexil::gemdos {

namespace {

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) return {};
    return buffer;
}

bool Within(const std::string& real, const std::string& root) {
    return real == root || (real.size() > root.size() && real.compare(0, root.size(), root) == 0 &&
                            (root == "/" || real[root.size()] == '/'));
}

void Fill(HostFolder::Entry& e, const struct stat& st) {
    e.folder = S_ISDIR(st.st_mode);
    e.readOnly = (st.st_mode & S_IWUSR) == 0;
    e.size = e.folder ? 0 : static_cast<uint32_t>(std::min<int64_t>(st.st_size, INT32_MAX));
    e.modified = st.st_mtime;
}

std::string Parent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

bool HostFolder::Open(const std::string& root, bool readOnly, std::string& error) {
    Close();
    struct stat st {};
    const std::string real = RealPath(root);
    if (real.empty() || ::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "the folder \"" + root + "\" cannot be opened as drive C:";
        return false;
    }
    root_ = real;
    readOnly_ = readOnly;
    return true;
}

void HostFolder::Close() {
    root_.clear();
}

bool HostFolder::Inside(const std::string& path) const {
    const std::string full = Full(path);
    std::string real = RealPath(full);
    if (real.empty()) {
        // Not there (yet): its folder must be inside, and the name itself no dangling link.
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0) return false;
        real = RealPath(Full(Parent(path)));
        if (real.empty()) return false;
    }
    return Within(real, root_);
}

bool HostFolder::List(const std::string& path, std::vector<Entry>& out) const {
    out.clear();
    if (!IsOpen() || !Inside(path)) return false;
    const std::string full = Full(path);
    DIR* dir = ::opendir(full.c_str());
    if (dir == nullptr) return false;
    while (const dirent* d = ::readdir(dir)) {
        if (d->d_name[0] == '.') continue;
        Entry e;
        e.name = d->d_name;
        const std::string child = path.empty() ? e.name : path + "/" + e.name;
        struct stat st {};
        if (!Inside(child)) {
            e.escapes = true;
        } else if (::stat(Full(child).c_str(), &st) == 0) {
            Fill(e, st);
        } else {
            continue;  // a dangling link
        }
        out.push_back(std::move(e));
    }
    ::closedir(dir);
    return true;
}

int32_t HostFolder::Stat(const std::string& path, Entry& out) const {
    struct stat st {};
    if (!IsOpen()) return kEFILNF;
    if (::lstat(Full(path).c_str(), &st) != 0) return kEFILNF;
    if (!Inside(path)) return kEACCDN;
    if (::stat(Full(path).c_str(), &st) != 0) return kEFILNF;
    const size_t slash = path.rfind('/');
    out.name = slash == std::string::npos ? path : path.substr(slash + 1);
    out.escapes = false;
    Fill(out, st);
    return 0;
}

int32_t HostFolder::OpenFile(const std::string& path, bool write, bool create) {
    if (!IsOpen()) return kEFILNF;
    if ((write || create) && readOnly_) return kEACCDN;
    if (!Inside(path)) return kEACCDN;
    int flags = O_CLOEXEC | (write ? O_RDWR : O_RDONLY);
    // A new file never follows a link: the name is made here, in the folder checked above.
    if (create) flags |= O_CREAT | O_TRUNC | O_NOFOLLOW;
    const int fd = ::open(Full(path).c_str(), flags, 0644);
    if (fd < 0) return errno == ENOENT ? kEFILNF : kEACCDN;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return S_ISDIR(st.st_mode) ? kEACCDN : kEFILNF;
    }
    return fd;
}

void HostFolder::CloseFile(int fd) {
    if (fd >= 0) ::close(fd);
}

int64_t HostFolder::ReadAt(int fd, uint8_t* out, uint32_t length, uint32_t offset) {
    int64_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset) + done);
        if (n < 0) return done > 0 ? done : -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t HostFolder::WriteAt(int fd, const uint8_t* in, uint32_t length, uint32_t offset) {
    int64_t done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(fd, in + done, length - done, static_cast<off_t>(offset) + done);
        if (n <= 0) return done > 0 ? done : -1;
        done += n;
    }
    return done;
}

int64_t HostFolder::Length(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : 0;
}

std::time_t HostFolder::Modified(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_mtime : 0;
}

int32_t HostFolder::SetModified(int fd, std::time_t when) const {
    if (readOnly_) return kEACCDN;
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    return ::futimens(fd, times) == 0 ? 0 : kEACCDN;
}

int32_t HostFolder::MakeFolder(const std::string& path) {
    if (readOnly_ || !Inside(path)) return kEACCDN;
    return ::mkdir(Full(path).c_str(), 0755) == 0 ? 0 : kEACCDN;
}

int32_t HostFolder::RemoveFolder(const std::string& path) {
    if (readOnly_ || path.empty() || !Inside(path)) return kEACCDN;
    return ::rmdir(Full(path).c_str()) == 0 ? 0 : kEACCDN;
}

int32_t HostFolder::RemoveFile(const std::string& path) {
    if (readOnly_ || !Inside(Parent(path))) return kEACCDN;
    struct stat st {};
    if (::lstat(Full(path).c_str(), &st) != 0) return kEFILNF;
    if (S_ISDIR(st.st_mode)) return kEACCDN;
    return ::unlink(Full(path).c_str()) == 0 ? 0 : kEACCDN;
}

int32_t HostFolder::Rename(const std::string& from, const std::string& to) {
    if (readOnly_ || !Inside(Parent(from)) || !Inside(to)) return kEACCDN;
    struct stat st {};
    if (::lstat(Full(to).c_str(), &st) == 0) return kEACCDN;  // GEMDOS never overwrites
    return ::rename(Full(from).c_str(), Full(to).c_str()) == 0 ? 0 : kEACCDN;
}

int32_t HostFolder::SetReadOnly(const std::string& path, bool readOnly) {
    if (readOnly_ || !Inside(path)) return kEACCDN;
    struct stat st {};
    if (::stat(Full(path).c_str(), &st) != 0) return kEFILNF;
    const mode_t mode = readOnly ? (st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (st.st_mode | S_IWUSR);
    return ::chmod(Full(path).c_str(), mode & 07777) == 0 ? 0 : kEACCDN;
}

bool HostFolder::Space(uint64_t& freeBytes, uint64_t& totalBytes) const {
    struct statvfs vfs {};
    if (!IsOpen() || ::statvfs(root_.c_str(), &vfs) != 0) return false;
    freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    totalBytes = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
    return true;
}

}  // namespace vexil::gemdos

// The host folder behind drive C:: every file access the GEMDOS layer makes goes through here,
// so that nothing outside the folder can be reached. Paths are relative to the folder, host
// names joined by '/' ("" is the folder itself), and never hold "." or ".." components.
// A path whose real location (symbolic links followed) lies outside the folder is refused.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vexil::gemdos {

// GEMDOS error codes.
constexpr int32_t kEINVFN = -32;  // invalid function
constexpr int32_t kEFILNF = -33;  // file not found
constexpr int32_t kEPTHNF = -34;  // path not found
constexpr int32_t kENHNDL = -35;  // no handles left
constexpr int32_t kEACCDN = -36;  // access denied
constexpr int32_t kEIHNDL = -37;  // invalid handle
constexpr int32_t kENSMEM = -39;  // insufficient memory
constexpr int32_t kEIMBA = -40;   // invalid memory block address
constexpr int32_t kEDRIVE = -46;  // invalid drive
constexpr int32_t kENSAME = -48;  // not the same drive
constexpr int32_t kENMFIL = -49;  // no more files
constexpr int32_t kERANGE = -64;  // seek out of range
constexpr int32_t kEINTRN = -65;  // internal error
constexpr int32_t kEPLFMT = -66;  // invalid program format

class HostFolder {
public:
    struct Entry {
        std::string name;
        bool folder = false;
        bool readOnly = false;
        bool escapes = false;  // a symbolic link out of the folder: listed, never opened
        uint32_t size = 0;     // clamped to 2^31 - 1
        std::time_t modified = 0;
    };

    // False with a message when `root` is not a folder that can be read.
    bool Open(const std::string& root, bool readOnly, std::string& error);
    void Close();
    bool IsOpen() const { return !root_.empty(); }
    bool ReadOnly() const { return readOnly_; }
    const std::string& Root() const { return root_; }

    // The entries of a folder but "." and "..", and names starting with a dot; false when it
    // cannot be read.
    bool List(const std::string& path, std::vector<Entry>& out) const;
    // 0 with the entry filled, or kEFILNF / kEACCDN.
    int32_t Stat(const std::string& path, Entry& out) const;

    // Files: a host descriptor (>= 0) or a GEMDOS error. Reads and writes go at an offset.
    int32_t OpenFile(const std::string& path, bool write, bool create);
    static void CloseFile(int fd);
    static int64_t ReadAt(int fd, uint8_t* out, uint32_t length, uint32_t offset);
    static int64_t WriteAt(int fd, const uint8_t* in, uint32_t length, uint32_t offset);
    static int64_t Length(int fd);
    static std::time_t Modified(int fd);
    int32_t SetModified(int fd, std::time_t when) const;

    int32_t MakeFolder(const std::string& path);
    int32_t RemoveFolder(const std::string& path);
    int32_t RemoveFile(const std::string& path);
    int32_t Rename(const std::string& from, const std::string& to);
    int32_t SetReadOnly(const std::string& path, bool readOnly);
    // Bytes free and in total on the host's file system holding the folder.
    bool Space(uint64_t& freeBytes, uint64_t& totalBytes) const;

private:
    std::string Full(const std::string& path) const { return path.empty() ? root_ : root_ + "/" + path; }
    // True when the real location of `path` (or, when it does not exist, of its folder) is
    // inside the folder.
    bool Inside(const std::string& path) const;

    std::string root_;  // canonical, without a trailing '/'
    bool readOnly_ = false;
};

}  // namespace vexil::gemdos

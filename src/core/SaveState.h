// Save states: the whole machine written to one file and read back, so that a run can stop and
// go on later exactly where it was.
//
// File layout (integers in the host's byte order, as the state structs themselves):
//   0   "VEXILSTA"            8 bytes
//   8   format version        u32 (kStateVersion)
//   12  payload length        u32
//   16  payload               sections, each: tag (4 bytes), length (u32), data
//   end CRC-32                u32 over everything before it
// The sections come in the machine's fixed order; each chip writes and reads its own. Nothing
// host-specific (pointers, paths, times) is stored, so two runs from one state stay identical.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace vexil {

constexpr uint32_t kStateVersion = 3;
constexpr char kStateMagic[8] = {'V', 'E', 'X', 'I', 'L', 'S', 'T', 'A'};

class StateWriter {
public:
    // Opens a section; the next BeginSection or Finish closes it.
    void BeginSection(const char (&tag)[5]);
    template <typename T>
    void Put(const T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        PutBytes(&value, sizeof value);
    }
    void PutBytes(const void* data, size_t length);
    // The whole file: header, sections and checksum.
    std::vector<uint8_t> Finish();

private:
    void CloseSection();
    std::vector<uint8_t> payload_;
    size_t sectionStart_ = 0;
    bool inSection_ = false;
};

class StateReader {
public:
    // Checks the header, the length and the checksum of a whole file. False with a message
    // when the file is not a state this version can read.
    bool Open(const std::vector<uint8_t>& file, std::string& error);

    // Enters the next section, which must carry `tag`; false when it does not or is cut short.
    bool BeginSection(const char (&tag)[5]);
    // True when the section just read was used up exactly.
    bool EndSection() const { return pos_ == sectionEnd_; }
    template <typename T>
    bool Get(T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        return GetBytes(&value, sizeof value);
    }
    bool GetBytes(void* data, size_t length);
    // A view of the next `length` bytes of the section (for large blocks), or null.
    const uint8_t* View(size_t length);
    bool AtEnd() const { return pos_ == end_; }

private:
    const uint8_t* data_ = nullptr;
    size_t pos_ = 0, end_ = 0, sectionEnd_ = 0;
};

// A cycle time or count read from a state is taken only within these bounds, so that later
// arithmetic on it cannot overflow.
constexpr bool PlausibleCycles(int64_t value) {
    return value > -(int64_t{1} << 30) && value < (int64_t{1} << 30);
}

}  // namespace vexil

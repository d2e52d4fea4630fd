// Save states: the whole machine written to one file and read back, so that a run can stop and
// go on later exactly where it was.
//
// File layout (every integer little-endian, whatever the host, so that a state moves between
// machines):
//   0   "VEXILSTA"            8 bytes
//   8   format version        u32 (kStateVersion)
//   12  packing               u32 (StatePacking: the sections stored as they stand, or zlib)
//   16  sections' length      u32, unpacked
//   20  packed length         u32
//   24  picture width         u16 (0: no picture)
//   26  picture height        u16
//   28  picture               width x height R5G6B5 pixels, row by row
//   ..  sections, packed      each, unpacked: tag (4 bytes), length (u32), data
//   end CRC-32                u32 over everything before it
// The header and the picture (the screen at saving, small) are read without unpacking, so
// that a file of another version is refused by its number and a list of files shows their
// pictures cheaply. The sections come in the machine's fixed order (one table in Machine.cpp);
// each chip writes and reads its own. Nothing in them depends on the host but the paths of
// the disk images in the drives, so two runs from one state stay identical.
//
// How a chip stores its state: the state is described once, by a field list that both the
// writer and the reader walk, in file order:
//
//   struct State {
//       uint8_t regs[256];
//       MfpTimer timers[4];   // a struct with a field list of its own
//       uint8_t pins;
//       template <class Archive>
//       void Fields(Archive& a) { a(regs)(timers)(pins); }
//   };
//   void Mfp::Save(StateWriter& out) const { out.BeginSection("MFP "); out(s_); }
//   bool Mfp::Load(StateReader& in, bool commit) {
//       State s;
//       if (!in.BeginSection("MFP ") || !in(s).EndSection()) return false;
//       ...check every value the code indexes, divides or counts by; false: refused...
//       if (commit) s_ = s;
//       return true;
//   }
//
// `a(field)` takes an integer or enum (stored little-endian at its own size), an array of them,
// a struct with its own `Fields` or a RawBytes block. A fields list is a plain sequence of `a(...)` calls;
// what varies in length (a log, a queue) is a count field followed by `a.Each(items, count)` once the reader
// has checked the count against its buffer. The reader is sticky: after the first short read or wrong tag
// every later read fails, and `EndSection` says whether all went well and the section was used up exactly.
// Validation stays with each chip, after the reading.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace vexil {

// A block stored as its bytes stand (memory, a picture), among the fields: the writer copies
// `length` bytes from `data`; the reader points `data` at them in the file (null when the
// section is cut short), to be copied once the whole state is checked.
struct RawBytes {
    const uint8_t* data = nullptr;
    size_t length = 0;
};

namespace state_detail {
template <class T>
concept Scalar = std::is_integral_v<T> || std::is_enum_v<T>;
template <class T>
struct UnsignedOf {
    using type = std::make_unsigned_t<T>;
};
template <class T>
requires std::is_enum_v<T>
struct UnsignedOf<T> {
    using type = std::make_unsigned_t<std::underlying_type_t<T>>;
};
template <>
struct UnsignedOf<bool> {
    using type = uint8_t;
};
template <class T>
using Unsigned = typename UnsignedOf<T>::type;

template <Scalar T>
void StoreLittle(uint8_t* out, T value) {
    auto bits = static_cast<Unsigned<T>>(value);
    for (size_t i = 0; i < sizeof(T); ++i, bits = static_cast<Unsigned<T>>(bits >> 4 >> 4))
        out[i] = static_cast<uint8_t>(bits);
}
template <Scalar T>
T LoadLittle(const uint8_t* in) {
    Unsigned<T> bits = 0;
    for (size_t i = sizeof(T); i-- > 0;) bits = static_cast<Unsigned<T>>(bits << 4 << 4 | in[i]);
    return static_cast<T>(bits);
}
}  // namespace state_detail

constexpr uint32_t kStateVersion = 5;
constexpr char kStateMagic[8] = {'V', 'E', 'X', 'I', 'L', 'S', 'T', 'A'};
constexpr size_t kStateHeaderBytes = 28;

enum class StatePacking : uint32_t { kStored = 0, kZlib = 1 };

// A small picture of the screen kept in a state's header: R5G6B5 pixels, row by row.
struct StatePicture {
    static constexpr uint16_t kMostWidth = 800, kMostHeight = 600;
    uint16_t width = 0, height = 0;
    std::vector<uint16_t> pixels;
};
// The picture `width` x `height` (`pitch` pixels a row) shrunk by `factor` each way, each
// pixel the mean of its block.
StatePicture ShrinkPicture(const uint16_t* pixels, int width, int height, int pitch, int factor);

// Checks a file's header, lengths and checksum, and unpacks its sections into `sections`; the
// unpacked length must not exceed `largest` (what the reader's largest legal state holds), so
// that a hostile file cannot make us allocate more. False with a message otherwise.
bool UnpackState(const std::vector<uint8_t>& file, size_t largest, std::vector<uint8_t>& sections,
                 std::string& error);
// The longest file a state whose sections unpack to at most `largest` bytes can be: the
// header, the largest picture, the sections packed at their worst and the checksum. A longer
// file is not one, and is not read whole.
size_t MostStateFileBytes(size_t largest);
// The header's picture of a file whose header, lengths and checksum are good, without
// unpacking the sections. False with a message otherwise.
bool ReadStatePicture(const std::vector<uint8_t>& file, StatePicture& picture, std::string& error);

class StateWriter {
public:
    // Opens a section; the next BeginSection or Finish closes it.
    void BeginSection(const char (&tag)[5]);
    // One field: an integer or enum, an array of them or a struct with a field list.
    template <typename T>
    StateWriter& operator()(const T& value) {
        if constexpr (std::is_same_v<T, RawBytes>) {
            PutBytes(value.data, value.length);
        } else if constexpr (state_detail::Scalar<T>) {
            uint8_t bytes[sizeof(T)];
            state_detail::StoreLittle(bytes, value);
            PutBytes(bytes, sizeof bytes);
        } else if constexpr (std::is_array_v<T>) {
            using Element = std::remove_extent_t<T>;
            if constexpr (sizeof(Element) == 1 && state_detail::Scalar<Element>)
                PutBytes(value, sizeof value);
            else
                for (const auto& element : value) (*this)(element);
        } else {
            // The writer only reads what the list names.
            const_cast<T&>(value).Fields(*this);
        }
        return *this;
    }
    template <typename T>
    void Each(const T* items, size_t count) {
        for (size_t i = 0; i < count; ++i) (*this)(items[i]);
    }
    template <typename T>
    void Put(const T& value) {
        (*this)(value);
    }
    // Raw bytes (memory, a picture): stored as they stand.
    void PutBytes(const void* data, size_t length);
    // The whole file: header, picture (when given), the sections packed, checksum.
    std::vector<uint8_t> Finish(StatePacking packing = StatePacking::kZlib,
                                const StatePicture* picture = nullptr);

private:
    void CloseSection();
    std::vector<uint8_t> payload_;
    size_t sectionStart_ = 0;
    bool inSection_ = false;
};

class StateReader {
public:
    StateReader() = default;
    // The reader points into the sections it unpacked: a copy would point into the original's.
    StateReader(const StateReader&) = delete;
    StateReader& operator=(const StateReader&) = delete;
    // Checks and unpacks a whole file (UnpackState). False with a message when the file is
    // not a state this version can read.
    bool Open(const std::vector<uint8_t>& file, std::string& error, size_t largest = 64u << 20);
    // A bare run of sections, with no header or checksum: for checking a part of a file.
    void OpenSections(const uint8_t* data, size_t length) {
        data_ = data;
        pos_ = sectionEnd_ = 0;
        end_ = data ? length : 0;
        failed_ = false;
    }

    // Enters the next section, which must carry `tag`; false when it does not or is cut short.
    bool BeginSection(const char (&tag)[5]);
    // True when every read so far succeeded and the section just read was used up exactly.
    bool EndSection() const { return !failed_ && pos_ == sectionEnd_; }
    // One field, as StateWriter's; a read past the section's end leaves zeros and fails.
    template <typename T>
    StateReader& operator()(T& value) {
        if constexpr (std::is_same_v<T, RawBytes>) {
            value.data = View(value.length);
        } else if constexpr (state_detail::Scalar<T>) {
            const uint8_t* bytes = View(sizeof(T));
            value = bytes ? state_detail::LoadLittle<T>(bytes) : T{};
        } else if constexpr (std::is_array_v<T>) {
            using Element = std::remove_extent_t<T>;
            if constexpr (sizeof(Element) == 1 && state_detail::Scalar<Element>)
                GetBytes(value, sizeof value);
            else
                for (auto& element : value) (*this)(element);
        } else {
            value.Fields(*this);
        }
        return *this;
    }
    // `count` items into `items`; the caller has checked that they fit.
    template <typename T>
    void Each(T* items, size_t count) {
        for (size_t i = 0; i < count && !failed_; ++i) (*this)(items[i]);
    }
    template <typename T>
    bool Get(T& value) {
        (*this)(value);
        return !failed_;
    }
    bool GetBytes(void* data, size_t length);
    // A view of the next `length` bytes of the section (for large blocks), or null.
    const uint8_t* View(size_t length);
    bool AtEnd() const { return !failed_ && pos_ == end_; }
    bool Failed() const { return failed_; }

private:
    std::vector<uint8_t> unpacked_;
    const uint8_t* data_ = nullptr;
    size_t pos_ = 0, end_ = 0, sectionEnd_ = 0;
    bool failed_ = false;
};

// A cycle time or count read from a state is taken only within these bounds, so that later
// arithmetic on it cannot overflow.
constexpr bool PlausibleCycles(int64_t value) {
    return value > -(int64_t{1} << 30) && value < (int64_t{1} << 30);
}

}  // namespace vexil

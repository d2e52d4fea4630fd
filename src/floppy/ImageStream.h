// The read-only byte stream that disk images are loaded through: a plain file, or one entry of
// a zip archive, stored or deflated.
//
// An archive is walked through its local file headers, one after another from the start of
// the file; the central directory is not read. Every step of the walk lands at least 30 bytes
// further on, so a damaged archive cannot make it go round in circles. A deflated entry is
// inflated on demand, as far as a read needs, and what has been inflated is kept (in memory
// pages, or in a temporary file for big entries) so that seeking back costs nothing.
//
// The CRC-32 of an entry is checked once the whole entry has been produced (inflated, or for a
// stored entry read from start to end); a mismatch is reported by Close, as are a damaged
// Deflate stream and an entry that cannot be read. An entry that cannot be read (encrypted, an
// unknown method) gives 0 from reads and -1 from seeks; a damaged Deflate stream stops at the
// fault, and the bytes before it stay readable. No read reaches past the entry's data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace vexil {

class Inflater;

class ImageStream {
public:
    enum class Store { kFile, kMemory, kTemporaryFile };  // where an entry's bytes are read from

    // Opens a plain file or, when it starts with a zip local header, the archive's first entry.
    // Null when the path is not a readable regular file or memory runs out.
    static std::unique_ptr<ImageStream> Open(const std::string& path);
    ~ImageStream();
    ImageStream(const ImageStream&) = delete;
    ImageStream& operator=(const ImageStream&) = delete;

    // Whole elements read; cut at the end of the entry; 0 after an error.
    size_t Read(void* buffer, size_t elementSize, size_t count);
    // origin 0 start, 1 current, 2 end. 0, or -1 for a bad origin, a target outside the entry
    // or after an error.
    int Seek(int64_t offset, int origin);
    int64_t Tell() const;
    // Closes the current entry and the file: 0, or -1 when an error was noted (the entry could
    // not be read, its Deflate data is damaged, or its CRC-32 does not match).
    int Close();

    // The current entry's stored name; null for a plain file and at the end of the archive.
    const char* EntryName() const { return hasName_ ? name_.c_str() : nullptr; }
    // Moves to the next entry: 0, or -1 at the end of the archive.
    int NextEntry();

    uint64_t Size() const { return size_; }
    Store OutputStore() const { return store_; }

private:
    ImageStream() = default;
    void ReadEntry(uint64_t headerOffset);
    void CloseEntry();
    bool MakeAvailable(uint64_t end);
    bool FeedMore();
    int Output(const uint8_t* data, size_t length);
    size_t CopyOut(uint8_t* to, uint64_t from, size_t length);

    std::FILE* file_ = nullptr;
    bool error_ = false;
    bool inArchive_ = false;  // false for a plain file
    bool atEnd_ = false;      // the walk found no further header
    uint64_t headerOffset_ = 0;
    uint64_t dataOffset_ = 0;
    uint16_t flags_ = 0;
    uint16_t method_ = 0;
    uint32_t crc_ = 0;
    uint64_t compressedSize_ = 0;
    uint64_t size_ = 0;
    std::string name_;
    bool hasName_ = false;

    uint64_t position_ = 0;
    uint64_t available_ = 0;  // bytes of the entry that can be read without inflating more
    uint64_t consumed_ = 0;   // compressed bytes fed to the inflater
    uint32_t runningCrc_ = 0;
    uint64_t crcCovered_ = 0;  // bytes from the start that went into runningCrc_
    std::unique_ptr<Inflater> inflater_;
    Store store_ = Store::kFile;
    std::FILE* temporary_ = nullptr;
    std::vector<std::unique_ptr<uint8_t[]>> pages_;
    std::unique_ptr<uint8_t[]> input_;
};

// Opens a disk image by path. A path whose folder part ends in ".zip" (any case), such as
// "games/disks.zip/GAME.ST", names an entry directly inside that archive, matched without
// regard to case; '/' and '\' both separate the parts. Any other path is a plain file.
std::unique_ptr<ImageStream> OpenImageStream(const std::string& path);

}  // namespace vexil

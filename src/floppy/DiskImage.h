// A floppy disk held entirely in host memory, loaded from a raw sector dump, an MSA archive,
// an FCopy DIM image or an FDI image, each either a plain file or an entry of a zip archive.
//
// The floppy controller reads it sector by sector through ReadSector, which leaves the sector
// in a buffer of 68000 words in host word order (as emulated memory keeps them), ready to be
// copied into RAM. Raw, MSA and DIM images are kept as a flat array of 512-byte sectors ordered
// by track, side and sector, already in host word order; FDI images as a list of ID and data
// records per track (see Fdi.h).
//
// Images are read only: files are opened for reading and nothing is ever written back.
// Every loader checks its input against the bytes that are really there: a truncated, damaged
// or hostile file is refused with a message and the drive stays empty.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vexil {

enum class DiskFormat : uint32_t { Raw = 0, Msa = 1, Dim = 2, Fdi = 3 };

struct DiskGeometry {
    uint32_t sides = 0;            // 1 or 2 (a DIM header may say 0)
    uint32_t tracks = 0;           // per side
    uint32_t sectorsPerTrack = 0;  // 0 for FDI, whose sectors are found by their ID records
    uint32_t streamSize = 0;       // bytes in the file or zip entry
    DiskFormat format = DiskFormat::Raw;
};

// Recognises the format of an image and, when `geometry` is given, describes it. The stream
// size is filled in even when the format is not recognised.
bool DetectDiskFormat(const std::string& path, DiskGeometry* geometry);

enum class InsertStatus {
    kInserted,
    kBadPath,        // shorter than 2 characters
    kCannotOpen,     // no such file, not a regular file, or no such entry in the archive
    kUnknownFormat,  // not raw, MSA, DIM or FDI
    kHighDensity,    // a raw image of a disk the ST's double-density drive cannot read
    kTooLarge,       // bigger than any disk image can be
    kUnreadable,     // the file or entry ended early, or memory ran out
    kDamagedEntry,   // the zip entry's CRC-32 or its Deflate data is wrong
    kBadImage,       // the image's own structure is damaged or unsupported
};

// The outcome of an insertion, with the text for the on-screen message line (empty when the
// image went in). The text names the file.
struct InsertResult {
    InsertStatus status = InsertStatus::kInserted;
    std::string message;
    explicit operator bool() const { return status == InsertStatus::kInserted; }
};

class DiskImage {
public:
    static constexpr size_t kSectorSize = 512;
    static constexpr size_t kTrackTableSize = 180;  // 90 tracks of two sides
    // Where the records of one (track, side) lie in the data of an FDI image.
    struct TrackRecords {
        uint32_t length = 0;
        uint32_t offset = 0;
    };
    enum class Layout : uint32_t { kFlat = 0, kRecords = 1 };

    DiskImage() = default;
    ~DiskImage() { EjectImage(); }
    DiskImage(const DiskImage&) = delete;
    DiskImage& operator=(const DiskImage&) = delete;

    // Ejects any image, then loads the file. A failed insertion leaves the drive empty.
    InsertResult InsertImage(const std::string& path);
    void EjectImage();
    // Copies one sector (sector numbers count from 1) into the sector buffer and sets the
    // sector size. False when there is no such sector or no image.
    bool ReadSector(int track, int side, int sector);

    bool Inserted() const { return inserted_; }
    DiskFormat Format() const { return format_; }
    Layout DataLayout() const { return layout_; }
    int Sides() const { return sides_; }
    int Tracks() const { return tracks_; }
    int SectorsPerTrack() const { return sectorsPerTrack_; }
    const uint8_t* Data() const { return data_.get(); }
    size_t DataSize() const { return dataSize_; }
    // Word i holds bytes 2i (high) and 2i + 1 (low) of the sector: host word order.
    const uint16_t* SectorBuffer() const { return sectorBuffer_; }
    uint32_t SectorSize() const { return sectorSize_; }
    // The last FDI decoding error, or null. Never cleared.
    const char* LastError() const { return lastError_; }
    const TrackRecords& TrackTable(size_t index) const { return trackTable_[index]; }

private:
    InsertResult Load(const std::string& path);
    bool DecodeMsa(const uint8_t* file, size_t size);
    bool DecodeFdi(const uint8_t* file, size_t size);
    bool ReadRecordSector(int track, int side, int sector);

    const char* lastError_ = nullptr;
    bool inserted_ = false;
    DiskFormat format_ = DiskFormat::Raw;
    Layout layout_ = Layout::kFlat;
    std::unique_ptr<uint8_t[]> data_;
    size_t dataSize_ = 0;
    uint32_t sectorSize_ = 0;
    int32_t sides_ = 0;
    int32_t tracks_ = 0;
    int32_t sectorsPerTrack_ = 0;
    std::array<TrackRecords, kTrackTableSize> trackTable_{};
    uint16_t sectorBuffer_[kSectorSize / 2] = {};
};

}  // namespace vexil

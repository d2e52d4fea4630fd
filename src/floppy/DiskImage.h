// A floppy disk held entirely in host memory, loaded from a raw sector dump, an MSA archive,
// an FCopy DIM image, an FDI image or an STX image (Stx.h), each either a plain file or an
// entry of a zip archive.
//
// The floppy controller reads it sector by sector through ReadSector, which leaves the sector
// in a buffer of 68000 words in host word order (as emulated memory keeps them), ready to be
// copied into RAM. Raw, MSA and DIM images are kept as a flat array of 512-byte sectors ordered
// by track, side and sector, already in host word order; FDI images as a list of ID and data
// records per track (see Fdi.h).
//
// Image files are never written: they are opened for reading only. What the controller writes
// (Write Sector, Write Track) goes to an overlay kept beside the image in memory: the tracks it
// touched, each with its own IDs and data, which replace the image's track from then on. The
// overlay is kept in a file of its own (DiskOverlay.cpp) named from the image's path and the
// SHA-256 of its bytes, and applied again at every insertion of the same image.
// Every loader checks its input against the bytes that are really there: a truncated, damaged
// or hostile file is refused with a message and the drive stays empty.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexil {

enum class DiskFormat : uint32_t { Raw = 0, Msa = 1, Dim = 2, Fdi = 3, Stx = 4 };

// A turn of the disk at 300 rpm and 250 kbit/s: 6,250 bytes of 32 µs.
constexpr uint32_t kTrackBytes = 6250;

// One ID field of a track and the data field after it, as the controller meets them.
struct SectorId {
    uint32_t position = 0;     // byte of the ID's address mark (0xFE) after the index, below kTrackBytes
    uint32_t dataGap = 0;      // bytes from the end of the ID's CRC to the data mark
    uint32_t readTime = 0;     // µs the data field takes to pass under the head; 0: 32 µs a byte
    uint32_t dataOffset = 0;   // the data in DiskImage::Data()
    uint32_t fuzzyOffset = 0;  // the fuzzy mask in Data() (kSectorFuzzy only): 1 bits are stable
    uint8_t track = 0, side = 0, number = 0, sizeCode = 0;  // the ID's four bytes
    uint16_t crc = 0;                                       // the ID's CRC as recorded
    uint8_t flags = 0;                                      // kSector... below
    uint8_t swapped = 0;  // data in host word order: byte i lies at dataOffset + (i ^ 1)
    uint32_t Size() const { return 128u << (sizeCode & 3); }
};
constexpr uint8_t kSectorIdCrcError = 0x01;    // the ID's CRC is wrong
constexpr uint8_t kSectorDataCrcError = 0x02;  // the data field's CRC is wrong
constexpr uint8_t kSectorDeleted = 0x04;       // deleted data mark (0xF8)
constexpr uint8_t kSectorNoData = 0x08;        // no data field follows the ID
constexpr uint8_t kSectorFuzzy = 0x10;         // bytes read differently each time
constexpr uint8_t kSectorWritten = 0x20;       // written since the image was made (overlay)
constexpr uint8_t kSectorOverlay = 0x40;       // the data lie in the overlay, not in Data()

// One side of one cylinder as it turns: its IDs in the order the disk holds them (not
// necessarily by angle), and the bytes a Read Track gives when the image recorded them.
struct TrackView {
    const SectorId* ids = nullptr;
    uint32_t count = 0;
    const uint8_t* image = nullptr;  // null: built from the IDs and data
    uint32_t imageSize = 0;
};

// The bytes of sync and gap between an ID's CRC and its data mark as TOS formats a track.
constexpr uint32_t kTosDataGap = 37;
// The controller gives up on an ID whose data mark comes later than this after its CRC.
constexpr uint32_t kMaxDataGap = 43;
// The place of sector `index` (from 0) of a track of `sectors` as TOS formats it: 9 or 10
// sectors after a 60-byte leader at 614-byte intervals, 11 after 10 bytes at 557 (shorter
// sync and gaps). Position and data gap only; the ID's bytes are the caller's.
SectorId TosSectorId(uint32_t sectors, uint32_t index);
// CRC-CCITT (polynomial 0x1021, from 0xFFFF) over the bytes, continuing from `crc`.
uint16_t Crc16(const uint8_t* bytes, size_t length, uint16_t crc = 0xFFFF);
// The CRC of an ID field: over A1 A1 A1 FE and its four bytes.
uint16_t IdCrc(const SectorId& id);
// Fills `out` (kTrackBytes) with one turn of a track as a Read Track gives it: gaps, sync,
// address marks, IDs and data with their CRCs, each ID at its position.
void BuildTrackBytes(const TrackView& view, const class DiskImage& disk, uint8_t* out);

// Where the data of an STX image lie: its IDs, and each track's share of them.
struct StxTrack {
    uint32_t firstId = 0, idCount = 0;
    uint32_t imageOffset = 0, imageSize = 0;  // in the file; size 0: no image
    uint8_t present = 0;
};
struct StxLayout {
    std::vector<SectorId> ids;
    StxTrack tracks[2 * 86];  // cylinder * 2 + side
};

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
    kUnknownFormat,  // not raw, MSA, DIM, FDI or STX
    kHighDensity,    // a raw image of a disk the ST's double-density drive cannot read
    kTooLarge,       // bigger than any disk image can be
    kUnreadable,     // the file or entry ended early, or memory ran out
    kDamagedEntry,   // the zip entry's CRC-32 or its Deflate data is wrong
    kBadImage,       // the image's own structure is damaged or unsupported
};

// The overlay's limits: cylinders 0-85 of both sides, each track's IDs and data bytes.
constexpr uint32_t kOverlayTracks = 2 * 86;
constexpr uint32_t kOverlayTrackIds = 64;
constexpr uint32_t kOverlayTrackData = kTrackBytes;

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
    // The IDs and data of one side of a cylinder as the controller meets them turning. A
    // raw, MSA or DIM image is laid out as TOS formats a disk (see DiskTrack.cpp). An empty
    // view when there is no such track. The view lasts until the next call or a new image.
    TrackView Track(int cylinder, int side);
    // Byte i of a sector's data as the disk holds it (fuzzy bits not applied).
    uint8_t SectorByte(const SectorId& id, uint32_t i) const {
        const uint8_t* base = (id.flags & kSectorOverlay) ? overlayData_.get() : data_.get();
        return base[id.dataOffset + (i ^ id.swapped)];
    }
    // Byte i of a fuzzy sector's mask.
    uint8_t FuzzyMask(const SectorId& id, uint32_t i) const { return data_[id.fuzzyOffset + i]; }
    // STX images are always protected, others by the setting or when their overlay file
    // cannot be written.
    bool WriteProtected() const { return format_ == DiskFormat::Stx || protect_ || overlayUnwritable_; }
    // The WriteProtectDisks setting: kept across insertions.
    void SetWriteProtect(bool on) { protect_ = on; }
    // Where overlay files are kept (empty: the overlay lives in memory only). Set before an
    // insertion.
    void SetOverlayFolder(const std::string& folder) { overlayFolder_ = folder; }
    const std::string& OverlayPath() const { return overlayPath_; }
    // What the last insertion should tell although the image went in (its overlay refused, or
    // the disk protected because its overlay cannot be written); empty when nothing.
    const std::string& Notice() const { return notice_; }
    const std::array<uint8_t, 32>& Hash() const { return hash_; }

    // ---- writes (DiskOverlay.cpp) ----
    // Replaces the data of ID `index` of the track's view (as Track gives it) with `size`
    // bytes, with a deleted or a normal data mark. False when the disk has no such ID.
    bool WriteSector(int cylinder, int side, uint32_t index, const uint8_t* bytes, bool deleted);
    // Formats a track from the byte stream a Write Track sends (F5, F6 and F7 as the controller
    // codes them), from one index pulse to the next. A layout the overlay cannot hold leaves
    // the track unformatted. Returns the stream bytes taken (F7 stands for two track bytes).
    size_t WriteTrack(int cylinder, int side, const uint8_t* stream, size_t length);
    // Sectors written since the image was made (a reformatted track counts its sectors).
    uint32_t ChangedSectors() const;
    bool Changed() const { return overlayCount_ != 0; }
    // Writes the overlay file when the overlay changed since the last write; false when it
    // could not be written (the disk is then write-protected, and `error` says why).
    bool FlushOverlay(std::string* error = nullptr);
    // Drops the overlay and deletes its file.
    void ForgetChanges();
    // The overlay in its file form, and back (false: damaged, overlay unchanged, `error`
    // says why).
    std::vector<uint8_t> OverlayBytes() const;
    bool ApplyOverlay(const uint8_t* bytes, size_t length, std::string& error, bool commit = true);
    static bool CheckOverlay(const uint8_t* bytes, size_t length, std::string& error) {
        return DiskImage().ApplyOverlay(bytes, length, error, false);
    }
    static constexpr size_t kMaxOverlayFile =
        16 + kOverlayTracks * (4 + kOverlayTrackIds * 12 + kOverlayTrackData) + 4;
    // Writes the disk as it reads now to a raw (.st) or MSA (.msa) image at `path`.
    bool SaveAsImage(const std::string& path, std::string& error);

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
    bool DecodeStx(const uint8_t* file, size_t size);
    TrackView FlatTrack(int cylinder, int side);
    TrackView RecordTrack(int cylinder, int side);
    bool ReadTrackSector(int cylinder, int side, int sector);
    void PrepareOverlay(const std::string& path);
    void ClearOverlay();
    size_t OverlayTrackIndex(int cylinder, int side) const {
        return static_cast<size_t>(cylinder * 2 + side);
    }
    bool CopyToOverlay(int cylinder, int side);
    TrackView OverlayTrack(size_t index) const;

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
    StxLayout stx_;
    static constexpr size_t kMaxTrackIds = 64;
    SectorId trackIds_[kMaxTrackIds] = {};  // a built track's IDs

    // The overlay: per track, present or not and its IDs; the IDs' data in overlayData_.
    struct OverlayEntry {
        uint8_t present = 0;
        uint8_t count = 0;
    };
    std::unique_ptr<OverlayEntry[]> overlay_;  // kOverlayTracks
    std::unique_ptr<SectorId[]> overlayIds_;   // kOverlayTracks * kOverlayTrackIds
    std::unique_ptr<uint8_t[]> overlayData_;   // kOverlayTracks * kOverlayTrackData
    std::unique_ptr<uint8_t[]> overlayFile_;   // the file's bytes, written from here
    uint32_t overlayCount_ = 0;                // tracks present
    bool overlayDirty_ = false;
    bool overlayUnwritable_ = false;
    bool protect_ = false;
    std::string overlayFolder_, overlayPath_, overlayTemp_, notice_;
    std::array<uint8_t, 32> hash_{};
};

}  // namespace vexil

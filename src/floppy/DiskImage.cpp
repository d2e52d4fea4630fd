#include "floppy/DiskImage.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/Bytes.h"
#include "core/Sha256.h"
#include "floppy/ImageStream.h"

namespace vexil {
namespace {

constexpr size_t kHeaderSize = 512;
// No image of a recognised format is bigger than an FDI file of 180 tracks of 255 × 256
// bytes each (an MSA file of 86 tracks, coded as badly as possible, stays below it too).
constexpr size_t kMaxImageSize = 12u << 20;
// The flat geometries accepted from MSA headers: more would be no floppy the machine can read.
constexpr uint32_t kMaxTracks = 86;
constexpr uint32_t kMaxSectors = 18;
// Raw images: sectors a track a boot sector may give, the largest image found by its size
// alone (83 double-sided tracks of 11 sectors), and the most sectors a track of a
// high-density disk (2.88 MB) has.
constexpr uint32_t kMaxBootSectors = 12;
constexpr uint32_t kMaxSizeOnlySectors = 1826;
constexpr uint32_t kMaxHighDensitySectors = 36;
constexpr size_t kDimHeaderSize = 32;
constexpr size_t kMsaHeaderSize = 10;

// Swaps each byte pair: file order to host word order.
void SwapPairs(uint8_t* data, size_t length) {
    for (size_t i = 0; i + 1 < length; i += 2) std::swap(data[i], data[i + 1]);
}

std::string FileName(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

int64_t MeasureStream(ImageStream& stream) {
    if (stream.Seek(0, 2) != 0) return -1;
    return stream.Tell();
}

// Recognises the header (at least 512 bytes in hand) and fills the geometry.
bool Recognise(const uint8_t* h, int64_t streamSize, DiskGeometry& g) {
    if (std::memcmp(h, "RSY\0", 4) == 0) {
        g.sides = 2;
        g.tracks = h[10];  // track records, of either side
        g.sectorsPerTrack = 0;
        g.format = DiskFormat::Stx;
        return true;
    }
    if (h[0] == 0x0E && h[1] == 0x0F && Be16(h + 6) == 0) {
        g.sides = Be16(h + 4) + 1u;
        g.tracks = Be16(h + 8) + 1u;
        g.sectorsPerTrack = Be16(h + 2);
        g.format = DiskFormat::Msa;
        return true;
    }
    if (std::memcmp(h, "Formatted Disk Image file", 25) == 0) {
        g.sides = static_cast<uint32_t>(static_cast<int8_t>(h[0x90]) + 1);
        g.tracks = Be16(h + 0x8E) + 1u;
        g.sectorsPerTrack = 0;
        g.format = DiskFormat::Fdi;
        return true;
    }
    if (Le16(h) == 0x4242 && Le16(h + 10) == 0 && Le16(h + 12) < 85 && Le16(h + 8) < 12 &&
        Le16(h + 14) <= 2) {
        g.sides = Le16(h + 14);
        g.tracks = Le16(h + 12) + 1u;
        g.sectorsPerTrack = Le16(h + 8);
        g.format = DiskFormat::Dim;
        return true;
    }
    if (streamSize < 0) return false;
    // Raw: the boot sector's own description, when it matches the file's size and lies within
    // what a double-density drive reads (12 sectors a track only when the boot sector says so).
    const uint32_t perTrack = Le16(h + 24);
    const uint32_t sides = Le16(h + 26);
    const uint32_t total = static_cast<uint32_t>(h[19] | h[20] << 8);
    if (perTrack >= 1 && perTrack <= kMaxBootSectors && (sides == 1 || sides == 2) && total > 0 &&
        total % (sides * perTrack) == 0 && total / (sides * perTrack) <= kMaxTracks &&
        static_cast<uint64_t>(streamSize) == total * 512ull) {
        g.sides = sides;
        g.sectorsPerTrack = perTrack;
        g.tracks = total / (sides * perTrack);
        g.format = DiskFormat::Raw;
        return true;
    }
    // Otherwise the size alone: 11, 10 then 9 sectors, the first that divides a side.
    if (streamSize % 512 != 0 || streamSize > kMaxSizeOnlySectors * 512) return false;
    const uint32_t sectors = static_cast<uint32_t>(streamSize / 512);
    const uint32_t sideCount = sectors < 913 ? 1 : 2;  // more than 83 single-sided tracks of 11
    const uint32_t perSide = sectors / sideCount;
    uint32_t per = 0;
    for (uint32_t n : {11u, 10u, 9u}) {
        if (perSide % n == 0) {
            per = n;
            break;
        }
    }
    if (per == 0) return false;
    g.sides = sideCount;
    g.sectorsPerTrack = per;
    g.tracks = sectors / (sideCount * per);
    g.format = DiskFormat::Raw;
    return true;
}

// 1234567 -> "1,234,567".
std::string Grouped(uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// Why an image that no format recognises is refused: its size is not whole sectors, it is a
// high-density disk (by its boot sector, or by a size of 77-86 double-sided tracks of 13 or
// more sectors), or no double-density geometry fits it.
InsertResult Refusal(const uint8_t* h, bool full, int64_t size) {
    if (size < 0) return {InsertStatus::kUnknownFormat, "Unknown image format."};
    const uint64_t bytes = static_cast<uint64_t>(size);
    if (bytes % 512 != 0) {
        return {InsertStatus::kUnknownFormat,
                "Not a disk image: " + Grouped(bytes) + " bytes is no whole number of 512-byte sectors."};
    }
    const uint64_t sectors = bytes / 512;
    uint32_t dense = 0;
    if (full) {
        const uint32_t perTrack = Le16(h + 24), sides = Le16(h + 26);
        const uint32_t total = static_cast<uint32_t>(h[19] | h[20] << 8);
        if (perTrack > kMaxBootSectors && perTrack <= kMaxHighDensitySectors && (sides == 1 || sides == 2) &&
            total == sectors)
            dense = perTrack;
    }
    for (uint32_t n = kMaxBootSectors + 1; dense == 0 && n <= kMaxHighDensitySectors; ++n) {
        const uint64_t tracks = sectors / (2 * n);
        if (sectors % (2 * n) == 0 && tracks >= 77 && tracks <= kMaxTracks) dense = n;
    }
    if (dense != 0) {
        return {InsertStatus::kHighDensity,
                "High-density image (" + std::to_string(dense) +
                    " sectors a track): the ST's drive reads double-density disks only."};
    }
    if (sectors == 0) return {InsertStatus::kUnknownFormat, "Not a disk image: the file is empty."};
    return {InsertStatus::kUnknownFormat, "Not a disk image: " + Grouped(bytes) +
                                              " bytes fit no double-density disk (up to 86 tracks, 2 sides, "
                                              "11 sectors a track)."};
}

enum class Detection { kRecognised, kCannotOpen, kUnknown };

Detection Detect(const std::string& path, DiskGeometry& g, InsertResult* refusal = nullptr) {
    g = DiskGeometry{};
    std::unique_ptr<ImageStream> stream = OpenImageStream(path);
    if (!stream) return Detection::kCannotOpen;
    uint8_t header[kHeaderSize];
    const size_t got = stream->Read(header, 1, kHeaderSize);
    // An STX file may be shorter than a sector: its 16-byte header is enough here.
    const bool full = got == kHeaderSize || (got >= 16 && std::memcmp(header, "RSY\0", 4) == 0);
    const int64_t size = MeasureStream(*stream);
    if (size >= 0) g.streamSize = static_cast<uint32_t>(std::min<int64_t>(size, UINT32_MAX));
    const bool recognised = full && Recognise(header, size, g);
    if (!recognised && refusal) *refusal = Refusal(header, full, size);
    stream->Close();  // only the header was read: what the close says is of no use here
    return recognised ? Detection::kRecognised : Detection::kUnknown;
}

}  // namespace

bool DetectDiskFormat(const std::string& path, DiskGeometry* geometry) {
    DiskGeometry g;
    const bool recognised = Detect(path, g) == Detection::kRecognised;
    if (geometry) *geometry = g;
    return recognised;
}

void DiskImage::EjectImage() {
    if (!inserted_) return;
    FlushOverlay();
    ClearOverlay();
    data_.reset();
    dataSize_ = 0;
    inserted_ = false;
}

InsertResult DiskImage::InsertImage(const std::string& path) {
    EjectImage();
    notice_.clear();
    const std::string name = FileName(path);
    InsertResult result = Load(path);
    if (!result) {
        // Nothing of a failed load stays behind.
        data_.reset();
        dataSize_ = 0;
        inserted_ = false;
        result.message = (name.empty() ? path : name) + ": " + result.message;
        return result;
    }
    PrepareOverlay(path);
    return result;
}

InsertResult DiskImage::Load(const std::string& path) {
    if (path.size() < 2) return {InsertStatus::kBadPath, "Invalid image path."};
    DiskGeometry g;
    InsertResult refusal;
    switch (Detect(path, g, &refusal)) {
        case Detection::kRecognised:
            break;
        case Detection::kCannotOpen:
            return {InsertStatus::kCannotOpen, "File not found."};
        case Detection::kUnknown:
            return refusal;
    }

    std::unique_ptr<ImageStream> stream = OpenImageStream(path);
    if (!stream) return {InsertStatus::kCannotOpen, "File not found."};
    const int64_t size = MeasureStream(*stream);
    if (size < 0 || stream->Seek(0, 0) != 0) return {InsertStatus::kUnreadable, "Cannot read the image."};
    if (static_cast<uint64_t>(size) > kMaxImageSize) {
        return {InsertStatus::kTooLarge, "Image file too large."};
    }
    std::unique_ptr<uint8_t[]> file(new (std::nothrow) uint8_t[static_cast<size_t>(size) + 1]);
    if (!file) return {InsertStatus::kUnreadable, "Out of memory."};
    const size_t got = stream->Read(file.get(), 1, static_cast<size_t>(size));
    // The whole entry has been read, so the close has checked its CRC-32: a damaged download
    // must not go in as if it were good.
    const int closed = stream->Close();
    if (closed != 0) return {InsertStatus::kDamagedEntry, "Damaged zip entry (CRC or data error)."};
    if (got != static_cast<size_t>(size)) return {InsertStatus::kUnreadable, "The image file is truncated."};
    Sha256 hash;
    hash.Add(file.get(), got);
    hash_ = hash.Finish();

    format_ = g.format;
    sides_ = static_cast<int32_t>(g.sides);
    tracks_ = static_cast<int32_t>(g.tracks);
    sectorsPerTrack_ = static_cast<int32_t>(g.sectorsPerTrack);
    layout_ = Layout::kFlat;
    const uint64_t flatSize = uint64_t{g.tracks} * g.sides * g.sectorsPerTrack * kSectorSize;

    switch (g.format) {
        case DiskFormat::Raw:
            // Detection only takes geometries that fit in the file.
            data_ = std::move(file);
            dataSize_ = static_cast<size_t>(size);
            SwapPairs(data_.get(), dataSize_);
            break;
        case DiskFormat::Dim:
            if (kDimHeaderSize + flatSize > static_cast<uint64_t>(size)) {
                return {InsertStatus::kBadImage, "The DIM image is shorter than its header says."};
            }
            dataSize_ = static_cast<size_t>(size) - kDimHeaderSize;
            std::memmove(file.get(), file.get() + kDimHeaderSize, dataSize_);
            data_ = std::move(file);
            SwapPairs(data_.get(), dataSize_);
            break;
        case DiskFormat::Msa:
            if (g.sides < 1 || g.sides > 2 || g.tracks > kMaxTracks || g.sectorsPerTrack < 1 ||
                g.sectorsPerTrack > kMaxSectors) {
                return {InsertStatus::kBadImage, "Unsupported MSA disk geometry."};
            }
            if (!DecodeMsa(file.get(), static_cast<size_t>(size))) {
                return {InsertStatus::kBadImage, "Damaged MSA image."};
            }
            break;
        case DiskFormat::Stx:
            if (!DecodeStx(file.get(), static_cast<size_t>(size))) {
                return {InsertStatus::kBadImage, lastError_ ? lastError_ : "Damaged STX image."};
            }
            data_ = std::move(file);
            dataSize_ = static_cast<size_t>(size);
            break;
        case DiskFormat::Fdi:
            layout_ = Layout::kRecords;
            if (!DecodeFdi(file.get(), static_cast<size_t>(size))) {
                return {InsertStatus::kBadImage, lastError_ ? lastError_ : "Damaged FDI image."};
            }
            break;
    }
    inserted_ = true;
    return {};
}

// MSA: a 10-byte header, then per track and side a 16-bit length and the track's data, either
// as it stands (when the length is a whole track) or run-length coded: 0xE5, value, 16-bit
// count stands for a run, any other byte for itself. A run never spills into the next track.
// A file that ends before its last track is refused.
bool DiskImage::DecodeMsa(const uint8_t* file, size_t size) {
    const size_t trackBytes = static_cast<size_t>(sectorsPerTrack_) * kSectorSize;
    const size_t blocks = static_cast<size_t>(tracks_) * static_cast<size_t>(sides_);
    std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[blocks * trackBytes]);
    if (!out) return false;
    size_t in = kMsaHeaderSize;
    for (size_t block = 0; block < blocks; ++block) {
        uint8_t* const to = out.get() + block * trackBytes;
        if (size - in < 2) return false;
        const size_t length = Be16(file + in);
        in += 2;
        if (length == trackBytes) {
            if (size - in < trackBytes) return false;
            std::memcpy(to, file + in, trackBytes);
            in += trackBytes;
            continue;
        }
        size_t done = 0;
        while (done < trackBytes) {
            if (in >= size) return false;
            const uint8_t b = file[in++];
            if (b != 0xE5) {
                to[done++] = b;
                continue;
            }
            if (size - in < 3) return false;
            const uint8_t value = file[in];
            const size_t count = Be16(file + in + 1);
            in += 3;
            const size_t n = std::min(count, trackBytes - done);
            std::memset(to + done, value, n);
            done += n;
        }
    }
    dataSize_ = blocks * trackBytes;
    data_ = std::move(out);
    SwapPairs(data_.get(), dataSize_);
    return true;
}

bool DiskImage::ReadSector(int track, int side, int sector) {
    if (overlay_ && inserted_ && track >= 0 && track <= 85 && side >= 0 && side <= 1 &&
        overlay_[OverlayTrackIndex(track, side)].present)
        return ReadTrackSector(track, side, sector);
    if (format_ == DiskFormat::Stx) return ReadTrackSector(track, side, sector);
    if (!inserted_ || side < 0 || side >= sides_ || track < 0 || track >= tracks_) return false;
    if (layout_ == Layout::kRecords) return ReadRecordSector(track, side, sector);
    if (sector < 1 || sector > sectorsPerTrack_) return false;
    const size_t offset =
        ((static_cast<size_t>(track) * sides_ + side) * sectorsPerTrack_ + (sector - 1)) * kSectorSize;
    if (offset + kSectorSize > dataSize_) return false;  // cannot happen: the loaders check the size
    std::memcpy(sectorBuffer_, data_.get() + offset, kSectorSize);
    sectorSize_ = kSectorSize;
    return true;
}

}  // namespace vexil

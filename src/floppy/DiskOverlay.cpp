// What the controller writes to a disk: the overlay of rewritten tracks, its file, and images
// written from the disk as it reads now.
//
// Overlay file (integers little-endian):
//   0   "VXOVRLAY"          8 bytes
//   8   version             u32 (1)
//   12  track count         u32, at most 172
//   16  tracks, each:       cylinder u8 (0-85), side u8 (0-1), ID count u8 (0-64), 0 u8,
//                           then per ID 12 bytes: position u16 (below 6,250), data gap u16,
//                           track, side, number, size code (0-3) u8, CRC u16, flags u8, 0 u8,
//                           then the data of each ID that has a data field, in ID order
//                           (at most 6,250 bytes a track)
//   end CRC-32              u32 over everything before it
// A track with no IDs is one a bad format left unreadable. The flags are the SectorId flags
// kSectorIdCrcError, kSectorDataCrcError, kSectorDeleted, kSectorNoData and kSectorWritten.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/Bytes.h"
#include "core/Crc32.h"
#include "core/Sha256.h"
#include "floppy/DiskImage.h"

namespace vexil {
namespace {

constexpr char kOverlayMagic[8] = {'V', 'X', 'O', 'V', 'R', 'L', 'A', 'Y'};
constexpr uint32_t kOverlayVersion = 1;
constexpr size_t kOverlayHeader = 16;
constexpr size_t kOverlayIdBytes = 12;
constexpr uint8_t kStoredFlags =
    kSectorIdCrcError | kSectorDataCrcError | kSectorDeleted | kSectorNoData | kSectorWritten;
constexpr size_t kOverlayMaxFile = DiskImage::kMaxOverlayFile;
constexpr uint8_t kAddressMark = 0xFE;

std::string BaseName(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The overlay's file name: the image's name (letters, digits, '.', '-', '_'), a hash of its
// full path and the hash of its bytes, so that another image of the same name, or the same
// file changed, finds no overlay.
std::string OverlayName(const std::string& path, const std::array<uint8_t, 32>& hash) {
    std::error_code ec;
    std::string full = std::filesystem::absolute(path, ec).lexically_normal().string();
    if (ec) full = path;
    Sha256 pathHash;
    pathHash.Add(reinterpret_cast<const uint8_t*>(full.data()), full.size());
    std::string name;
    for (const char c : BaseName(path)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '.' || c == '-' || c == '_';
        name += plain ? c : '_';
        if (name.size() == 48) break;
    }
    return name + "-" + Sha256::Hex(pathHash.Finish()).substr(0, 16) + "-" + Sha256::Hex(hash) + ".vxo";
}

}  // namespace

// ---- the overlay in memory ------------------------------------------------------------------

void DiskImage::ClearOverlay() {
    if (overlay_) std::fill(overlay_.get(), overlay_.get() + kOverlayTracks, OverlayEntry{});
    overlayCount_ = 0;
    overlayDirty_ = false;
}

TrackView DiskImage::OverlayTrack(size_t index) const {
    return {overlayIds_.get() + index * kOverlayTrackIds, overlay_[index].count, nullptr, 0};
}

// Takes the track as it reads now into the overlay, data and all; its fuzzy bits settle and
// its recorded track image is dropped (a Read Track builds the track from the IDs from now on).
bool DiskImage::CopyToOverlay(int cylinder, int side) {
    if (!overlay_ || cylinder < 0 || cylinder > 85 || side < 0 || side > 1) return false;
    const size_t index = OverlayTrackIndex(cylinder, side);
    if (overlay_[index].present) return true;
    const TrackView view = Track(cylinder, side);
    SectorId* ids = overlayIds_.get() + index * kOverlayTrackIds;
    uint8_t* data = overlayData_.get() + index * kOverlayTrackData;
    uint32_t used = 0, count = 0;
    for (uint32_t n = 0; n < view.count && count < kOverlayTrackIds; ++n) {
        SectorId id = view.ids[n];
        id.flags &= kStoredFlags;
        id.readTime = 0;
        id.fuzzyOffset = 0;
        if (!(id.flags & kSectorNoData)) {
            if (used + id.Size() > kOverlayTrackData) {
                id.flags |= kSectorNoData;
            } else {
                for (uint32_t i = 0; i < id.Size(); ++i) data[used + i] = SectorByte(view.ids[n], i);
                id.dataOffset = static_cast<uint32_t>(index * kOverlayTrackData + used);
                used += id.Size();
            }
        }
        id.swapped = 0;
        id.flags |= kSectorOverlay;
        ids[count++] = id;
    }
    overlay_[index] = {1, static_cast<uint8_t>(count)};
    ++overlayCount_;
    return true;
}

bool DiskImage::WriteSector(int cylinder, int side, uint32_t index, const uint8_t* bytes, bool deleted) {
    if (!inserted_ || !CopyToOverlay(cylinder, side)) return false;
    const size_t track = OverlayTrackIndex(cylinder, side);
    if (index >= overlay_[track].count) return false;
    SectorId& id = overlayIds_[track * kOverlayTrackIds + index];
    if (id.flags & kSectorNoData) return false;
    std::memcpy(overlayData_.get() + id.dataOffset, bytes, id.Size());
    id.flags = static_cast<uint8_t>((id.flags & ~(kSectorDataCrcError | kSectorDeleted)) | kSectorWritten |
                                    (deleted ? kSectorDeleted : 0));
    overlayDirty_ = true;
    return true;
}

// Write Track's stream: F5 is an A1 sync byte (missing clock), F6 a C2, F7 the two CRC bytes;
// every other byte stands for itself. After A1s, FE opens an ID (four bytes and its CRC), FB
// or F8 a data field (the size of the ID before it, if it came no more than 43 bytes earlier).
// An ID or a data field whose CRC is not an F7 in its place reads with a CRC error; one cut by
// the index pulse is lost or damaged.
size_t DiskImage::WriteTrack(int cylinder, int side, const uint8_t* stream, size_t length) {
    if (!inserted_ || !overlay_ || cylinder < 0 || cylinder > 85 || side < 0 || side > 1) return 0;
    const size_t index = OverlayTrackIndex(cylinder, side);
    SectorId* ids = overlayIds_.get() + index * kOverlayTrackIds;
    uint8_t* data = overlayData_.get() + index * kOverlayTrackData;
    uint32_t count = 0, used = 0, pos = 0, sync = 0;
    bool overflow = false;
    size_t i = 0;
    // The next stream byte and its place on the track; false past the index pulse.
    const auto next = [&](uint8_t& b) {
        if (i >= length || pos >= kTrackBytes) return false;
        b = stream[i++];
        pos += b == 0xF7 ? 2 : 1;
        return pos <= kTrackBytes;
    };
    uint8_t b = 0;
    while (next(b)) {
        if (b == 0xF5) {
            ++sync;
            continue;
        }
        const uint32_t mark = pos - 1;
        const bool afterSync = sync > 0;
        sync = 0;
        if (!afterSync) continue;
        if (b == kAddressMark) {
            uint8_t field[5] = {};
            bool whole = true, codes = false;
            for (uint8_t& f : field) {
                whole = whole && next(f);
                codes = codes || (&f != &field[4] && f >= 0xF5 && f <= 0xF7);
            }
            if (!whole) break;  // cut by the index pulse
            if (count == kOverlayTrackIds) {
                overflow = true;
                break;
            }
            SectorId& id = ids[count++];
            id = SectorId{};
            id.position = mark;
            id.track = field[0], id.side = field[1], id.number = field[2], id.sizeCode = field[3] & 3;
            id.crc = IdCrc(id);
            id.flags = kSectorNoData | kSectorOverlay | kSectorWritten;
            if (codes || field[4] != 0xF7)
                id.flags |= kSectorIdCrcError, id.crc = static_cast<uint16_t>(~id.crc);
            if (field[4] != 0xF7 && !next(field[4])) break;  // a second CRC byte
            continue;
        }
        if (b != 0xFB && b != 0xF8) continue;
        if (count == 0) continue;
        SectorId& id = ids[count - 1];
        const uint32_t gap = mark - (id.position + 7);
        if (!(id.flags & kSectorNoData) || mark < id.position + 7 || gap > kMaxDataGap) continue;
        if (used + id.Size() > kOverlayTrackData) {
            overflow = true;
            break;
        }
        bool damaged = false;
        uint32_t n = 0;
        for (; n < id.Size(); ++n) {
            uint8_t d = 0;
            if (!next(d)) break;
            damaged = damaged || (d >= 0xF5 && d <= 0xF7);
            data[used + n] = d;
        }
        uint8_t crc = 0;
        const bool whole = n == id.Size() && next(crc);
        for (; n < id.Size(); ++n) data[used + n] = 0x4E;
        id.flags = static_cast<uint8_t>(id.flags & ~kSectorNoData);
        if (b == 0xF8) id.flags |= kSectorDeleted;
        if (damaged || !whole || crc != 0xF7) id.flags |= kSectorDataCrcError;
        id.dataGap = gap;
        id.dataOffset = static_cast<uint32_t>(index * kOverlayTrackData + used);
        used += id.Size();
        if (!whole) break;
    }
    // More IDs than a track of the overlay holds: the track reads as unformatted.
    if (overflow) count = 0;
    if (!overlay_[index].present) ++overlayCount_;
    overlay_[index] = {1, static_cast<uint8_t>(count)};
    overlayDirty_ = true;
    // The rest of the turn, up to the index pulse, takes stream bytes too.
    while (next(b)) {
    }
    return i;
}

uint32_t DiskImage::ChangedSectors() const {
    if (!overlay_) return 0;
    uint32_t changed = 0;
    for (size_t t = 0; t < kOverlayTracks; ++t) {
        if (!overlay_[t].present) continue;
        for (uint32_t n = 0; n < overlay_[t].count; ++n)
            if (overlayIds_[t * kOverlayTrackIds + n].flags & kSectorWritten) ++changed;
    }
    return changed;
}

// ---- the overlay's file form ----------------------------------------------------------------

namespace {
// Writes the overlay into `out` (kOverlayMaxFile bytes); returns the length.
size_t Serialise(uint8_t* out, const auto& entries, const SectorId* allIds, const uint8_t* allData,
                 uint32_t present) {
    std::memcpy(out, kOverlayMagic, 8);
    PutLe32(out + 8, kOverlayVersion);
    PutLe32(out + 12, present);
    size_t p = kOverlayHeader;
    for (size_t t = 0; t < kOverlayTracks; ++t) {
        if (!entries[t].present) continue;
        const SectorId* ids = allIds + t * kOverlayTrackIds;
        out[p] = static_cast<uint8_t>(t / 2), out[p + 1] = static_cast<uint8_t>(t % 2);
        out[p + 2] = entries[t].count, out[p + 3] = 0;
        p += 4;
        for (uint32_t n = 0; n < entries[t].count; ++n, p += kOverlayIdBytes) {
            const SectorId& id = ids[n];
            PutLe16(out + p, id.position);
            PutLe16(out + p + 2, id.dataGap);
            out[p + 4] = id.track, out[p + 5] = id.side, out[p + 6] = id.number, out[p + 7] = id.sizeCode;
            PutLe16(out + p + 8, id.crc);
            out[p + 10] = id.flags & kStoredFlags, out[p + 11] = 0;
        }
        for (uint32_t n = 0; n < entries[t].count; ++n) {
            if (ids[n].flags & kSectorNoData) continue;
            std::memcpy(out + p, allData + ids[n].dataOffset, ids[n].Size());
            p += ids[n].Size();
        }
    }
    PutLe32(out + p, Crc32(out, p));
    return p + 4;
}
}  // namespace

std::vector<uint8_t> DiskImage::OverlayBytes() const {
    if (!overlay_) {
        std::vector<uint8_t> bytes(kOverlayHeader + 4);
        const OverlayEntry none[kOverlayTracks] = {};
        Serialise(bytes.data(), none, nullptr, nullptr, 0);
        return bytes;
    }
    // Sized first: a save state takes this once a second while the machine runs.
    size_t size = kOverlayHeader + 4;
    for (size_t t = 0; t < kOverlayTracks; ++t) {
        if (!overlay_[t].present) continue;
        size += 4 + overlay_[t].count * kOverlayIdBytes;
        for (uint32_t n = 0; n < overlay_[t].count; ++n) {
            const SectorId& id = overlayIds_[t * kOverlayTrackIds + n];
            if (!(id.flags & kSectorNoData)) size += id.Size();
        }
    }
    std::vector<uint8_t> bytes(size);
    Serialise(bytes.data(), overlay_, overlayIds_.get(), overlayData_.get(), overlayCount_);
    return bytes;
}

// Checks the whole file first, then takes it: a damaged file leaves the overlay as it was.
bool DiskImage::ApplyOverlay(const uint8_t* bytes, size_t length, std::string& error, bool commit) {
    if (commit && !overlay_) {
        error = "no disk in the drive";
        return false;
    }
    if (length < kOverlayHeader + 4 || std::memcmp(bytes, kOverlayMagic, 8) != 0) {
        error = "not an overlay file";
        return false;
    }
    if (Le32(bytes + 8) != kOverlayVersion) {
        error = "overlay version " + std::to_string(Le32(bytes + 8)) + " is not known";
        return false;
    }
    if (Crc32(bytes, length - 4) != Le32(bytes + length - 4)) {
        error = "its checksum is wrong";
        return false;
    }
    const uint32_t tracks = Le32(bytes + 12);
    if (tracks > kOverlayTracks) {
        error = "too many tracks";
        return false;
    }
    const size_t end = length - 4;
    for (int pass = 0; pass < (commit ? 2 : 1); ++pass) {
        bool seen[kOverlayTracks] = {};
        size_t p = kOverlayHeader;
        if (pass == 1) ClearOverlay();
        for (uint32_t t = 0; t < tracks; ++t) {
            if (end - p < 4) return error = "truncated", false;
            const uint32_t cylinder = bytes[p], side = bytes[p + 1], count = bytes[p + 2];
            if (cylinder > 85 || side > 1 || count > kOverlayTrackIds || bytes[p + 3] != 0)
                return error = "a track entry is out of range", false;
            const size_t index = cylinder * 2 + side;
            if (seen[index]) return error = "a track is stored twice", false;
            seen[index] = true;
            p += 4;
            if (end - p < count * kOverlayIdBytes) return error = "truncated", false;
            SectorId* ids = pass == 1 ? overlayIds_.get() + index * kOverlayTrackIds : nullptr;
            uint32_t used = 0;
            for (uint32_t n = 0; n < count; ++n) {
                const uint8_t* e = bytes + p + n * kOverlayIdBytes;
                SectorId id;
                id.position = Le16(e);
                id.dataGap = Le16(e + 2);
                id.track = e[4], id.side = e[5], id.number = e[6], id.sizeCode = e[7];
                id.crc = Le16(e + 8);
                id.flags = e[10];
                if (id.position >= kTrackBytes || id.sizeCode > 3 || (id.flags & ~kStoredFlags) || e[11] != 0)
                    return error = "a sector entry is out of range", false;
                if (!(id.flags & kSectorNoData)) {
                    id.dataOffset = static_cast<uint32_t>(index * kOverlayTrackData + used);
                    used += id.Size();
                }
                if (used > kOverlayTrackData) return error = "a track holds too much data", false;
                id.flags |= kSectorOverlay;
                if (pass == 1) ids[n] = id;
            }
            p += count * kOverlayIdBytes;
            if (end - p < used) return error = "truncated", false;
            if (pass == 1) {
                std::memcpy(overlayData_.get() + index * kOverlayTrackData, bytes + p, used);
                overlay_[index] = {1, static_cast<uint8_t>(count)};
                ++overlayCount_;
            }
            p += used;
        }
        if (p != end) return error = "bytes after the last track", false;
    }
    if (commit) overlayDirty_ = true;
    return true;
}

// At insertion: the hash names the overlay file; an overlay found there is applied, a damaged
// one refused (and set aside, so that it is not lost when the disk is written again).
void DiskImage::PrepareOverlay(const std::string& path) {
    if (!overlay_) {
        overlay_.reset(new (std::nothrow) OverlayEntry[kOverlayTracks]);
        overlayIds_.reset(new (std::nothrow) SectorId[kOverlayTracks * kOverlayTrackIds]);
        overlayData_.reset(new (std::nothrow) uint8_t[kOverlayTracks * kOverlayTrackData]);
        overlayFile_.reset(new (std::nothrow) uint8_t[kOverlayMaxFile]);
    }
    overlayUnwritable_ = false;
    overlayPath_.clear();
    notice_.clear();
    if (!overlay_ || !overlayIds_ || !overlayData_ || !overlayFile_) {
        overlay_.reset();
        overlayUnwritable_ = true;
        notice_ = BaseName(path) + ": write-protected: out of memory for its changes.";
        return;
    }
    ClearOverlay();
    if (overlayFolder_.empty()) return;
    overlayPath_ = overlayFolder_ + "/" + OverlayName(path, hash_);
    overlayTemp_ = overlayPath_ + ".new";
    std::error_code ec;
    std::filesystem::create_directories(overlayFolder_, ec);
    if (std::FILE* probe = std::fopen(overlayTemp_.c_str(), "wb")) {
        std::fclose(probe);
        std::remove(overlayTemp_.c_str());
    } else {
        overlayUnwritable_ = true;
        notice_ = BaseName(path) + ": write-protected: its changes cannot be kept in " + overlayFolder_ + ".";
    }
    std::ifstream in(overlayPath_, std::ios::binary);
    if (!in) return;
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    if (bytes.size() > kOverlayMaxFile) error = "too large";
    if (error.empty() && ApplyOverlay(bytes.data(), bytes.size(), error)) {
        overlayDirty_ = false;
        return;
    }
    ClearOverlay();
    in.close();
    std::rename(overlayPath_.c_str(), (overlayPath_ + ".damaged").c_str());
    notice_ = BaseName(path) + ": its changes are not applied: the overlay file is damaged (" + error +
              "); the disk reads as the image.";
}

bool DiskImage::FlushOverlay(std::string* error) {
    if (!overlayDirty_ || !overlay_) return true;
    overlayDirty_ = false;
    if (overlayPath_.empty() || overlayUnwritable_) return !overlayUnwritable_;
    if (overlayCount_ == 0) {
        std::remove(overlayPath_.c_str());
        return true;
    }
    const size_t length =
        Serialise(overlayFile_.get(), overlay_, overlayIds_.get(), overlayData_.get(), overlayCount_);
    std::FILE* out = std::fopen(overlayTemp_.c_str(), "wb");
    bool ok = out != nullptr;
    if (ok) {
        std::setvbuf(out, nullptr, _IONBF, 0);
        ok = std::fwrite(overlayFile_.get(), 1, length, out) == length;
        ok = std::fclose(out) == 0 && ok;
        ok = ok && std::rename(overlayTemp_.c_str(), overlayPath_.c_str()) == 0;
    }
    if (!ok) {
        std::remove(overlayTemp_.c_str());
        overlayUnwritable_ = true;
        if (error) *error = "Cannot write " + overlayPath_ + ": the disk is write-protected from now on.";
    }
    return ok;
}

void DiskImage::ForgetChanges() {
    ClearOverlay();
    if (!overlayPath_.empty()) std::remove(overlayPath_.c_str());
}

// ---- a new image of the disk as it reads ----------------------------------------------------

bool DiskImage::SaveAsImage(const std::string& path, std::string& error) {
    if (!inserted_) return error = "No disk in the drive.", false;
    std::error_code ec;
    if (path.size() < 2) return error = "Invalid image path.", false;
    if (std::filesystem::exists(path, ec))
        return error = BaseName(path) + " exists: choose another name.", false;
    // The geometry: the sectors numbered from 1 on the first track, and as many tracks and
    // sides as the image or its overlay has.
    uint32_t sectors = 0;
    {
        const TrackView first = Track(0, 0);
        for (bool more = true; more && sectors < 18;) {
            more = false;
            for (uint32_t n = 0; n < first.count; ++n) {
                const SectorId& id = first.ids[n];
                if (id.number == sectors + 1 && id.Size() == kSectorSize && !(id.flags & kSectorNoData)) {
                    more = true;
                    ++sectors;
                    break;
                }
            }
        }
    }
    if (sectors == 0) return error = "Track 0 has no 512-byte sectors from 1: nothing to write.", false;
    int32_t tracks = format_ == DiskFormat::Stx ? 0 : tracks_;
    int32_t sides = format_ == DiskFormat::Stx ? 1 : sides_;
    for (int32_t c = 0; c <= 85; ++c) {
        for (int32_t s = 0; s < 2; ++s) {
            const bool present = overlay_ && overlay_[OverlayTrackIndex(c, s)].present;
            const bool stxTrack = format_ == DiskFormat::Stx && Track(c, s).count != 0;
            if (present || stxTrack) tracks = std::max(tracks, c + 1), sides = std::max(sides, s + 1);
        }
    }
    const bool msa =
        path.size() > 4 && (path.substr(path.size() - 4) == ".msa" || path.substr(path.size() - 4) == ".MSA");
    const size_t trackBytes = sectors * kSectorSize;
    std::vector<uint8_t> out;
    if (msa) {
        const uint8_t header[10] = {
            0x0E, 0x0F, 0, static_cast<uint8_t>(sectors),   0, static_cast<uint8_t>(sides - 1),
            0,    0,    0, static_cast<uint8_t>(tracks - 1)};
        out.assign(header, header + 10);
    }
    for (int32_t c = 0; c < tracks; ++c) {
        for (int32_t s = 0; s < sides; ++s) {
            if (msa)
                out.push_back(static_cast<uint8_t>(trackBytes >> 8)),
                    out.push_back(static_cast<uint8_t>(trackBytes));
            const size_t at = out.size();
            out.resize(at + trackBytes, 0);
            const TrackView view = Track(c, s);
            for (uint32_t r = 1; r <= sectors; ++r) {
                for (uint32_t n = 0; n < view.count; ++n) {
                    const SectorId& id = view.ids[n];
                    if (id.number != r || id.Size() != kSectorSize || (id.flags & kSectorNoData)) continue;
                    for (uint32_t i = 0; i < kSectorSize; ++i)
                        out[at + (r - 1) * kSectorSize + i] = SectorByte(id, i);
                    break;
                }
            }
        }
    }
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    file.close();
    if (!file) {
        std::filesystem::remove(path, ec);
        return error = "Cannot write " + path + ".", false;
    }
    return true;
}

}  // namespace vexil

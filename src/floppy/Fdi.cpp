#include "floppy/Fdi.h"

#include <cstring>
#include <new>
#include <vector>

#include "floppy/DiskImage.h"

namespace vexil {
namespace {

// Writes the records of one track. Each read is checked against the end of the track's own
// data, so nothing beyond it (and so nothing beyond the file) is ever touched.
class TrackDecoder {
public:
    TrackDecoder(const uint8_t* data, size_t length, uint8_t track, uint8_t side, std::vector<uint8_t>& out)
        : p_(data), end_(data + length), track_(track), side_(side), out_(out) {}

    const char* Plain(unsigned sectors) {
        for (unsigned n = 1; n <= sectors; ++n) {
            Id(track_, side_, static_cast<uint8_t>(n), 2);
            if (const char* e = Data(2)) return e;
        }
        return nullptr;
    }

    const char* Mfm() {
        if (p_ == end_) return kFdiNoEnd;
        if (*p_++ != 0) return kFdiNotMfm;
        for (;;) {
            if (p_ >= end_) return kFdiNoEnd;
            const uint8_t command = *p_++;
            const char* error = nullptr;
            switch (command) {
                case 0x00:
                case 0x01:
                case 0x02:
                case 0x03:
                case 0x04:
                case 0x05:
                case 0x06:
                case 0x07:
                case 0x0E:
                case 0x0F:
                case 0x10:
                case 0x11:
                case 0x12:
                case 0x1E:
                case 0x1F:
                    break;  // sync and gap marks
                case 0x08:
                case 0x09:
                    error = Skip(2);
                    break;
                case 0x0A:
                case 0x0C:
                case 0x0B:
                case 0x0D: {
                    // Raw bits; the odd commands count 65,536 more.
                    if (Left() < 2) return kFdiNoEnd;
                    size_t bits = static_cast<size_t>(p_[0] << 8 | p_[1]);
                    if (command == 0x0B || command == 0x0D) bits += 65536;
                    p_ += 2;
                    error = Skip((bits + 7) / 8);
                    break;
                }
                case 0x13:
                case 0x14:
                    if (Left() < 4) return kFdiNoEnd;
                    Id(p_[0], p_[1], p_[2], p_[3]);
                    p_ += 4;
                    break;
                case 0x15:
                case 0x16:
                    if (Left() < 1) return kFdiNoEnd;
                    Id(track_, side_, *p_++, 2);
                    break;
                case 0x17:
                case 0x18:
                    return kFdiCrcError;
                case 0x19:
                    error = Data(2);
                    break;
                case 0x1A:
                case 0x1B:
                    if (Left() < 1) return kFdiNoEnd;
                    ++p_;
                    error = Data(p_[-1]);
                    if (!error && command == 0x1B) error = Skip(2);  // the sector's CRC
                    break;
                case 0x1C:
                    if (Left() < 4) return kFdiNoEnd;
                    Id(p_[0], p_[1], p_[2], p_[3]);
                    p_ += 4;
                    error = Data(p_[-1]);
                    break;
                case 0x1D:
                    if (Left() < 1) return kFdiNoEnd;
                    Id(track_, side_, *p_++, 2);
                    error = Data(2);
                    break;
                case 0xFF:
                    return nullptr;
                default:
                    return kFdiUnknownCommand;
            }
            if (error) return error;
        }
    }

private:
    size_t Left() const { return static_cast<size_t>(end_ - p_); }
    const char* Skip(size_t n) {
        if (Left() < n) return kFdiNoEnd;
        p_ += n;
        return nullptr;
    }
    void Id(uint8_t track, uint8_t side, uint8_t sector, uint8_t sizeCode) {
        out_.insert(out_.end(), {kFdiIdRecord, track, side, sector, sizeCode});
    }
    const char* Data(uint8_t sizeCode) {
        if (sizeCode > 2) return kFdiBigSector;
        const size_t n = size_t{128} << sizeCode;
        if (Left() < n) return kFdiNoEnd;
        out_.push_back(kFdiDataRecord);
        out_.push_back(sizeCode);
        const size_t at = out_.size();
        out_.resize(at + n);
        // Host word order, as the flat images keep their sectors.
        for (size_t i = 0; i < n; ++i) out_[at + (i ^ 1)] = p_[i];
        p_ += n;
        return nullptr;
    }

    const uint8_t* p_;
    const uint8_t* const end_;
    const uint8_t track_, side_;
    std::vector<uint8_t>& out_;
};

}  // namespace

bool DiskImage::DecodeFdi(const uint8_t* file, size_t size) {
    if (size < kFdiHeaderSize || sides_ < 1 || sides_ > 2 || tracks_ < 1 ||
        static_cast<size_t>(tracks_) * sides_ > kTrackTableSize) {
        lastError_ = kFdiBadGeometry;
        return false;
    }
    std::vector<uint8_t> records;
    size_t at = kFdiHeaderSize;
    try {
        records.reserve(size * 2);
        for (int t = 0; t < tracks_; ++t) {
            for (int s = 0; s < sides_; ++s) {
                const size_t index = static_cast<size_t>(t * sides_ + s);
                const uint8_t* descriptor = file + kFdiDescriptors + 2 * index;
                const size_t length = size_t{descriptor[1]} * 256;
                if (size - at < length) {
                    lastError_ = kFdiTruncated;
                    return false;
                }
                const size_t start = records.size();
                TrackDecoder track(file + at, length, static_cast<uint8_t>(t), static_cast<uint8_t>(s),
                                   records);
                const char* error = nullptr;
                switch (descriptor[0]) {
                    case kFdiPlain9:
                        error = track.Plain(9);
                        break;
                    case kFdiPlain10:
                        error = track.Plain(10);
                        break;
                    case kFdiMfm:
                        error = track.Mfm();
                        break;
                    default:
                        error = kFdiBadTrackType;
                }
                if (error) {
                    lastError_ = error;
                    return false;
                }
                trackTable_[index] = {static_cast<uint32_t>(records.size() - start),
                                      static_cast<uint32_t>(start)};
                at += length;
            }
        }
    } catch (const std::bad_alloc&) {
        lastError_ = "Out of memory.";
        return false;
    }
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[records.size() + 1]);
    if (!data) return false;
    std::memcpy(data.get(), records.data(), records.size());
    data_ = std::move(data);
    dataSize_ = records.size();
    return true;
}

// Walks the records of (track, side): an ID record that names the wanted sector makes the next
// data record the sector.
bool DiskImage::ReadRecordSector(int track, int side, int sector) {
    const TrackRecords& entry = trackTable_[static_cast<size_t>(track * sides_ + side)];
    const uint8_t* p = data_.get() + entry.offset;
    const uint8_t* const end = p + entry.length;
    bool found = false;
    while (p < end) {
        const size_t left = static_cast<size_t>(end - p);
        if (p[0] == kFdiIdRecord && left >= 5) {
            found = p[1] == track && (p[2] & 1) == side && p[3] == sector;
            p += 5;
        } else if (p[0] == kFdiDataRecord && left >= 2 && p[1] <= 2 && left - 2 >= (size_t{128} << p[1])) {
            const size_t n = size_t{128} << p[1];
            if (found) {
                std::memcpy(sectorBuffer_, p + 2, n);
                sectorSize_ = static_cast<uint32_t>(n);
                return true;
            }
            p += 2 + n;
        } else {
            lastError_ = kFdiBadRecords;
            return false;
        }
    }
    return false;
}

}  // namespace vexil

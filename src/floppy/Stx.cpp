#include "floppy/Stx.h"

#include <cstring>
#include <new>

#include "core/Bytes.h"

namespace vexil {
namespace {

constexpr size_t kFileHeader = 16;
constexpr size_t kRecordHeader = 16;
constexpr size_t kDescriptorSize = 16;
constexpr uint16_t kFlagDescriptors = 0x01, kFlagImage = 0x40, kFlagSyncOffset = 0x80;
constexpr uint8_t kStxCrcError = 0x08, kStxNoRecord = 0x10, kStxDeleted = 0x20, kStxFuzzy = 0x80;
constexpr uint32_t kMaxCylinder = 85;

}  // namespace

const char* ParseStx(const uint8_t* file, size_t size, StxLayout& layout) {
    layout = StxLayout{};
    if (size < kFileHeader || std::memcmp(file, "RSY\0", 4) != 0) return "Not an STX image.";
    if (Le16(file + 4) != 3) return "Unsupported STX version.";
    const unsigned records = file[10];
    size_t at = kFileHeader;
    try {
        for (unsigned r = 0; r < records; ++r) {
            if (size - at < kRecordHeader) return "The STX file ends inside a track record.";
            const uint8_t* const record = file + at;
            const uint32_t recordSize = Le32(record);
            if (recordSize < kRecordHeader || recordSize > size - at)
                return "An STX track record runs past the end of the file.";
            const uint32_t fuzzyBytes = Le32(record + 4);
            const uint32_t sectors = Le16(record + 8);
            const uint16_t flags = Le16(record + 10);
            const uint32_t cylinder = record[14] & 0x7F, side = record[14] >> 7;
            if (cylinder > kMaxCylinder) return "An STX track lies beyond cylinder 85.";
            StxTrack& track = layout.tracks[cylinder * 2 + side];
            track = StxTrack{};
            track.present = 1;
            track.firstId = static_cast<uint32_t>(layout.ids.size());
            const size_t end = at + recordSize;  // the record's bounds in the file
            if (!(flags & kFlagDescriptors)) {
                // Plain 512-byte sectors, laid out as TOS formats a track.
                if (uint64_t{sectors} * 512 > recordSize - kRecordHeader)
                    return "An STX track's sectors run past its record.";
                for (uint32_t n = 0; n < sectors; ++n) {
                    SectorId id = TosSectorId(sectors, n);
                    id.track = static_cast<uint8_t>(cylinder);
                    id.side = static_cast<uint8_t>(side);
                    id.number = static_cast<uint8_t>(n + 1);
                    id.sizeCode = 2;
                    id.crc = IdCrc(id);
                    id.dataOffset = static_cast<uint32_t>(at + kRecordHeader + n * 512);
                    layout.ids.push_back(id);
                }
                track.idCount = sectors;
                at = end;
                continue;
            }
            size_t p = at + kRecordHeader;
            const size_t descriptors = p;
            if (uint64_t{sectors} * kDescriptorSize > end - p)
                return "An STX track's sectors run past its record.";
            p += sectors * kDescriptorSize;
            if (fuzzyBytes > end - p) return "An STX track's fuzzy masks run past its record.";
            size_t fuzzy = p;
            const size_t fuzzyEnd = p + fuzzyBytes;
            p = fuzzyEnd;
            const size_t trackData = p;
            if (flags & kFlagImage) {
                if (flags & kFlagSyncOffset) {
                    if (end - p < 2) return "An STX track image runs past its record.";
                    p += 2;
                }
                if (end - p < 2) return "An STX track image runs past its record.";
                const uint32_t imageSize = Le16(file + p);
                p += 2;
                if (imageSize > end - p) return "An STX track image runs past its record.";
                track.imageOffset = static_cast<uint32_t>(p);
                track.imageSize = imageSize;
            }
            for (uint32_t n = 0; n < sectors; ++n) {
                const uint8_t* d = file + descriptors + n * kDescriptorSize;
                SectorId id;
                id.track = d[8];
                id.side = d[9];
                id.number = d[10];
                id.sizeCode = d[11] & 3;
                id.crc = static_cast<uint16_t>(d[12] << 8 | d[13]);
                const uint8_t status = d[14];
                id.position = (Le16(d + 4) / 8u) % kTrackBytes;
                id.readTime = Le16(d + 6);
                if (id.crc != IdCrc(id) ||
                    (status & (kStxCrcError | kStxNoRecord)) == (kStxCrcError | kStxNoRecord))
                    id.flags |= kSectorIdCrcError;
                if ((status & kStxNoRecord) && !(status & kStxCrcError)) id.flags |= kSectorNoData;
                if ((status & kStxCrcError) && !(status & kStxNoRecord)) id.flags |= kSectorDataCrcError;
                if (status & kStxDeleted) id.flags |= kSectorDeleted;
                id.dataGap = kTosDataGap;
                if (!(id.flags & kSectorNoData)) {
                    const uint32_t offset = Le32(d);
                    if (offset > end - trackData || id.Size() > end - trackData - offset)
                        return "An STX sector's data lie outside its record.";
                    id.dataOffset = static_cast<uint32_t>(trackData + offset);
                    // Data inside the image: its mark is where the image has it.
                    const uint64_t inImage = uint64_t{id.dataOffset} - track.imageOffset;
                    if (track.imageSize != 0 && id.dataOffset > track.imageOffset &&
                        inImage < track.imageSize && inImage >= uint64_t{id.position} + 8)
                        id.dataGap = static_cast<uint32_t>(inImage - 1 - (id.position + 7));
                    if (status & kStxFuzzy) {
                        if (id.Size() > fuzzyEnd - fuzzy) return "An STX track's fuzzy masks are too short.";
                        id.flags |= kSectorFuzzy;
                        id.fuzzyOffset = static_cast<uint32_t>(fuzzy);
                        fuzzy += id.Size();
                    }
                }
                layout.ids.push_back(id);
            }
            track.idCount = sectors;
            at = end;
        }
    } catch (const std::bad_alloc&) {
        return "Out of memory.";
    }
    return nullptr;
}

}  // namespace vexil

// The disk as it turns: each track's ID fields with their angles, for every kind of image.
#include <algorithm>
#include <cstring>

#include "floppy/DiskImage.h"
#include "floppy/Fdi.h"
#include "floppy/Stx.h"

namespace vexil {

SectorId TosSectorId(uint32_t sectors, uint32_t index) {
    // Per sector: sync, A1 A1 A1, the ID's 7 bytes, gap, sync, A1 A1 A1 FB, 512 bytes, CRC,
    // gap. 9 and 10 sectors: 12 + 3 + 7 + 22 + 12 + 4 + 514 + 40 = 614 bytes.
    const bool tight = sectors > 10;
    const uint32_t leader = tight ? 10 : 60, interval = tight ? 557 : 614, sync = tight ? 3 : 12;
    const uint32_t step = sectors > 11 ? (kTrackBytes - leader) / sectors : interval;
    SectorId id;
    id.position = (leader + index * step + sync + 3) % kTrackBytes;
    id.dataGap = 22 + sync + 3;
    return id;
}

uint16_t Crc16(const uint8_t* bytes, size_t length, uint16_t crc) {
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (bytes[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

uint16_t IdCrc(const SectorId& id) {
    const uint8_t bytes[8] = {0xA1, 0xA1, 0xA1, 0xFE, id.track, id.side, id.number, id.sizeCode};
    return Crc16(bytes, sizeof bytes);
}

TrackView DiskImage::Track(int cylinder, int side) {
    if (!inserted_ || cylinder < 0 || side < 0 || side > 1) return {};
    if (overlay_ && cylinder <= 85 && overlay_[OverlayTrackIndex(cylinder, side)].present)
        return OverlayTrack(OverlayTrackIndex(cylinder, side));
    if (format_ == DiskFormat::Stx) {
        if (cylinder > 85) return {};
        const StxTrack& t = stx_.tracks[cylinder * 2 + side];
        if (!t.present) return {};
        TrackView view;
        view.ids = stx_.ids.data() + t.firstId;
        view.count = t.idCount;
        view.image = t.imageSize ? data_.get() + t.imageOffset : nullptr;
        view.imageSize = t.imageSize;
        return view;
    }
    if (side >= sides_ || cylinder >= tracks_) return {};
    return layout_ == Layout::kRecords ? RecordTrack(cylinder, side) : FlatTrack(cylinder, side);
}

TrackView DiskImage::FlatTrack(int cylinder, int side) {
    const auto sectors = static_cast<uint32_t>(std::min<int32_t>(sectorsPerTrack_, kMaxTrackIds));
    for (uint32_t n = 0; n < sectors; ++n) {
        SectorId& id = trackIds_[n];
        id = TosSectorId(sectors, n);
        id.track = static_cast<uint8_t>(cylinder);
        id.side = static_cast<uint8_t>(side);
        id.number = static_cast<uint8_t>(n + 1);
        id.sizeCode = 2;
        id.crc = IdCrc(id);
        id.swapped = 1;
        id.dataOffset = static_cast<uint32_t>(
            ((static_cast<size_t>(cylinder) * sides_ + side) * sectorsPerTrack_ + n) * kSectorSize);
    }
    return {trackIds_, sectors, nullptr, 0};
}

// FDI records in their order, each ID with the data record after it, laid out at TOS's
// intervals (the file keeps no angles).
TrackView DiskImage::RecordTrack(int cylinder, int side) {
    const TrackRecords& entry = trackTable_[static_cast<size_t>(cylinder * sides_ + side)];
    const uint8_t* const base = data_.get();
    size_t p = entry.offset;
    const size_t end = entry.offset + entry.length;
    uint32_t count = 0;
    while (p < end) {
        const size_t left = end - p;
        if (base[p] == kFdiIdRecord && left >= 5) {
            if (count == kMaxTrackIds) break;
            SectorId& id = trackIds_[count++];
            id = SectorId{};
            id.track = base[p + 1], id.side = base[p + 2], id.number = base[p + 3],
            id.sizeCode = base[p + 4] & 3;
            id.crc = IdCrc(id);
            id.flags = kSectorNoData;
            p += 5;
        } else if (base[p] == kFdiDataRecord && left >= 2 && base[p + 1] <= 2 &&
                   left - 2 >= (size_t{128} << base[p + 1])) {
            if (count > 0 && (trackIds_[count - 1].flags & kSectorNoData)) {
                SectorId& id = trackIds_[count - 1];
                id.flags = 0;
                id.sizeCode = base[p + 1];
                id.dataOffset = static_cast<uint32_t>(p + 2);
                id.swapped = 1;
            }
            p += 2 + (size_t{128} << base[p + 1]);
        } else {
            break;
        }
    }
    for (uint32_t n = 0; n < count; ++n) {
        const SectorId place = TosSectorId(count, n);
        trackIds_[n].position = place.position;
        trackIds_[n].dataGap = place.dataGap;
    }
    return {trackIds_, count, nullptr, 0};
}

bool DiskImage::DecodeStx(const uint8_t* file, size_t size) {
    if (const char* error = ParseStx(file, size, stx_)) {
        lastError_ = error;
        return false;
    }
    sides_ = 2;
    tracks_ = 86;
    sectorsPerTrack_ = 0;
    return true;
}

// An STX sector by its ID (the first of that number with its data), for ReadSector.
bool DiskImage::ReadTrackSector(int cylinder, int side, int sector) {
    const TrackView view = Track(cylinder, side);
    for (uint32_t n = 0; n < view.count; ++n) {
        const SectorId& id = view.ids[n];
        if (id.number != sector || (id.flags & kSectorNoData) || id.Size() > kSectorSize) continue;
        for (uint32_t i = 0; i < id.Size(); i += 2)
            sectorBuffer_[i / 2] = static_cast<uint16_t>(SectorByte(id, i) << 8 | SectorByte(id, i + 1));
        sectorSize_ = id.Size();
        return true;
    }
    return false;
}

void BuildTrackBytes(const TrackView& view, const DiskImage& disk, uint8_t* out) {
    std::memset(out, 0x4E, kTrackBytes);
    const auto put = [&](uint32_t at, uint8_t value) { out[at % kTrackBytes] = value; };
    for (uint32_t n = 0; n < view.count; ++n) {
        const SectorId& id = view.ids[n];
        const uint32_t start = id.position + kTrackBytes - 15;  // 12 sync bytes, 3 A1
        for (uint32_t i = 0; i < 12; ++i) put(start + i, 0x00);
        for (uint32_t i = 12; i < 15; ++i) put(start + i, 0xA1);
        const uint8_t idBytes[7] = {
            0xFE, id.track, id.side, id.number, id.sizeCode, uint8_t(id.crc >> 8), uint8_t(id.crc)};
        for (uint32_t i = 0; i < 7; ++i) put(id.position + i, idBytes[i]);
        if (id.flags & kSectorNoData) continue;
        const uint32_t mark = id.position + 7 + id.dataGap;
        for (uint32_t i = 1; i <= 3; ++i) put(mark - i, 0xA1);
        for (uint32_t i = 4; i <= 15 && i + 7 <= id.dataGap + 3; ++i) put(mark - i, 0x00);
        const uint8_t markByte = (id.flags & kSectorDeleted) ? 0xF8 : 0xFB;
        put(mark, markByte);
        uint16_t crc = Crc16(&markByte, 1, 0xCDB4);  // 0xCDB4: the CRC after A1 A1 A1
        for (uint32_t i = 0; i < id.Size(); ++i) {
            const uint8_t b = disk.SectorByte(id, i);
            put(mark + 1 + i, b);
            crc = Crc16(&b, 1, crc);
        }
        if (id.flags & kSectorDataCrcError) crc = static_cast<uint16_t>(~crc);
        put(mark + 1 + id.Size(), static_cast<uint8_t>(crc >> 8));
        put(mark + 2 + id.Size(), static_cast<uint8_t>(crc));
    }
}

}  // namespace vexil

// Raw floppy images made by the tests: a boot sector with the disk's parameter block (so the
// image is recognised by its size), optionally an executable boot program, and sectors that
// either hold a pattern naming their track, side and sector or lie empty.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vexil::test {

// The byte at `offset` of a pattern sector.
inline uint8_t PatternByte(int track, int side, int sector, int offset) {
    return static_cast<uint8_t>(track * 7 + side * 131 + sector * 29 + offset * 3 + (offset >> 8));
}

// `tracks` × `sides` × `sectors` sectors of 512 bytes. With `pattern` every sector but the
// boot sector holds its pattern; otherwise the disk is empty and formatted (two FATs of 5
// sectors, 112 directory entries). A `bootProgram` goes to offset 0x1E and the boot sector's
// checksum is set so that TOS runs it.
inline std::vector<uint8_t> MakeRawDisk(int tracks, int sides, int sectors, bool pattern,
                                        const std::vector<uint8_t>& bootProgram = {}) {
    const int total = tracks * sides * sectors;
    std::vector<uint8_t> disk(static_cast<size_t>(total) * 512, 0);
    for (int track = 0; pattern && track < tracks; ++track)
        for (int side = 0; side < sides; ++side)
            for (int sector = 1; sector <= sectors; ++sector) {
                uint8_t* p =
                    &disk[(static_cast<size_t>((track * sides + side) * sectors + sector - 1)) * 512];
                for (int i = 0; i < 512; ++i) p[i] = PatternByte(track, side, sector, i);
            }
    uint8_t* boot = disk.data();
    std::fill(boot, boot + 512, 0);
    boot[0] = 0x60, boot[1] = 0x1C;  // BRA.S to 0x1E
    auto le16 = [&](int at, int v) {
        boot[at] = static_cast<uint8_t>(v), boot[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    le16(0x0B, 512);      // bytes per sector
    boot[0x0D] = 2;       // sectors per cluster
    le16(0x0E, 1);        // reserved sectors
    boot[0x10] = 2;       // FATs
    le16(0x11, 112);      // root directory entries
    le16(0x13, total);    // sectors
    boot[0x15] = 0xF9;    // media
    le16(0x16, 5);        // sectors per FAT
    le16(0x18, sectors);  // sectors per track
    le16(0x1A, sides);    // sides
    if (!pattern)
        for (int fat : {1, 6}) disk[fat * 512] = 0xF9, disk[fat * 512 + 1] = 0xFF, disk[fat * 512 + 2] = 0xFF;
    std::copy(bootProgram.begin(), bootProgram.end(), boot + 0x1E);
    if (!bootProgram.empty()) {
        uint16_t sum = 0;
        for (int i = 0; i < 510; i += 2) sum = static_cast<uint16_t>(sum + (boot[i] << 8 | boot[i + 1]));
        const uint16_t fix = static_cast<uint16_t>(0x1234 - sum);
        boot[510] = static_cast<uint8_t>(fix >> 8), boot[511] = static_cast<uint8_t>(fix);
    }
    return disk;
}

// A file for PutFatFiles: "NAME.EXT" in the root or "FOLDER\\NAME.EXT" one folder down.
struct FatFile {
    std::string path;
    std::vector<uint8_t> bytes;
};

// Writes `files` into an empty disk made by MakeRawDisk (its FAT12 layout: clusters of 2
// sectors from sector 18), each in consecutive clusters, with the folders they need.
inline void PutFatFiles(std::vector<uint8_t>& disk, const std::vector<FatFile>& files) {
    constexpr size_t kFat = 512, kRoot = 11 * 512, kData = 18 * 512, kCluster = 1024;
    int nextCluster = 2;
    auto setFat = [&](int n, int value) {  // 12-bit entries, two in three bytes, in both FATs
        for (size_t fat : {kFat, kFat + 5 * 512}) {
            uint8_t* p = &disk[fat + static_cast<size_t>(n) * 3 / 2];
            const int pair = (p[0] | p[1] << 8) & (n & 1 ? 0x000F : 0xF000);
            const int both = pair | (n & 1 ? value << 4 : value);
            p[0] = static_cast<uint8_t>(both);
            p[1] = static_cast<uint8_t>(both >> 8);
        }
    };
    // Clusters for `size` bytes (at least one), chained; the first.
    auto allocate = [&](size_t size) {
        const int first = nextCluster,
                  count = static_cast<int>(std::max<size_t>(1, (size + kCluster - 1) / kCluster));
        for (int i = 0; i < count; ++i) setFat(first + i, i + 1 < count ? first + i + 1 : 0xFFF);
        nextCluster += count;
        return first;
    };
    auto clusterAt = [&](int cluster) { return kData + static_cast<size_t>(cluster - 2) * kCluster; };
    // Adds an entry to the folder at `folder` (its first free one); 8.3 name as "NAME.EXT".
    auto addEntry = [&](size_t folder, const std::string& name, uint8_t attribute, int cluster, size_t size) {
        uint8_t* e = &disk[folder];
        while (e[0] != 0) e += 32;
        std::fill(e, e + 11, ' ');
        const size_t dot = name == "." || name == ".." ? std::string::npos : name.find('.');
        std::copy(name.begin(), dot == std::string::npos ? name.end() : name.begin() + static_cast<long>(dot),
                  e);
        if (dot != std::string::npos) std::copy(name.begin() + static_cast<long>(dot) + 1, name.end(), e + 8);
        e[11] = attribute;
        e[24] = 0x21, e[25] = 0x5C;  // 2026-01-01
        e[26] = static_cast<uint8_t>(cluster), e[27] = static_cast<uint8_t>(cluster >> 8);
        for (int i = 0; i < 4; ++i) e[28 + i] = static_cast<uint8_t>(size >> (8 * i));
    };
    std::vector<std::pair<std::string, int>> folders;
    for (const FatFile& file : files) {
        size_t folder = kRoot;
        std::string name = file.path;
        if (const size_t slash = name.find('\\'); slash != std::string::npos) {
            const std::string folderName = name.substr(0, slash);
            name = name.substr(slash + 1);
            auto known =
                std::find_if(folders.begin(), folders.end(), [&](auto& f) { return f.first == folderName; });
            if (known == folders.end()) {
                const int cluster = allocate(kCluster);
                addEntry(kRoot, folderName, 0x10, cluster, 0);
                addEntry(clusterAt(cluster), ".", 0x10, cluster, 0);
                addEntry(clusterAt(cluster), "..", 0x10, 0, 0);
                known = folders.insert(folders.end(), {folderName, cluster});
            }
            folder = clusterAt(known->second);
        }
        const int cluster = file.bytes.empty() ? 0 : allocate(file.bytes.size());
        addEntry(folder, name, 0x00, cluster, file.bytes.size());
        std::copy(file.bytes.begin(), file.bytes.end(), disk.begin() + static_cast<long>(clusterAt(cluster)));
    }
}

// The same disk as an MSA image: header, then per track a length and the data, run-length
// coded with `compress` where that is shorter.
inline std::vector<uint8_t> RawToMsa(const std::vector<uint8_t>& raw, unsigned sides, unsigned tracks,
                                     unsigned perTrack, bool compress) {
    std::vector<uint8_t> b = {
        0x0E, 0x0F, 0, static_cast<uint8_t>(perTrack),  0, static_cast<uint8_t>(sides - 1),
        0,    0,    0, static_cast<uint8_t>(tracks - 1)};
    const size_t trackBytes = perTrack * 512;
    for (size_t at = 0; at < raw.size(); at += trackBytes) {
        std::vector<uint8_t> coded;
        for (size_t i = at; i < at + trackBytes;) {
            size_t run = 1;
            while (i + run < at + trackBytes && raw[i + run] == raw[i]) ++run;
            if (run >= 4 || raw[i] == 0xE5) {
                coded.insert(coded.end(),
                             {0xE5, raw[i], static_cast<uint8_t>(run >> 8), static_cast<uint8_t>(run)});
                i += run;
            } else {
                coded.push_back(raw[i++]);
            }
        }
        if (!compress || coded.size() >= trackBytes)
            coded.assign(raw.begin() + at, raw.begin() + at + trackBytes);
        b.push_back(static_cast<uint8_t>(coded.size() >> 8));
        b.push_back(static_cast<uint8_t>(coded.size()));
        b.insert(b.end(), coded.begin(), coded.end());
    }
    return b;
}

// The same disk as an STX image of plain tracks (records without sector descriptors).
inline std::vector<uint8_t> RawToStx(const std::vector<uint8_t>& raw, int tracks, int sides, int sectors) {
    std::vector<uint8_t> file = {'R', 'S', 'Y', 0, 3, 0, 1, 0, 0, 0, static_cast<uint8_t>(tracks * sides),
                                 2,   0,   0,   0, 0};
    const uint32_t size = 16 + static_cast<uint32_t>(sectors) * 512;
    for (int t = 0; t < tracks; ++t)
        for (int s = 0; s < sides; ++s) {
            const uint8_t record[16] = {uint8_t(size),
                                        uint8_t(size >> 8),
                                        uint8_t(size >> 16),
                                        0,
                                        0,
                                        0,
                                        0,
                                        0,
                                        uint8_t(sectors),
                                        0,
                                        0,
                                        0,
                                        0x6A,
                                        0x18,
                                        uint8_t(t | s << 7),
                                        0};
            file.insert(file.end(), record, record + 16);
            const auto from = raw.begin() + static_cast<long>((t * sides + s) * sectors) * 512;
            file.insert(file.end(), from, from + sectors * 512);
        }
    return file;
}

}  // namespace vexil::test

// The overlay file of a floppy's written sectors, and the Write Track stream that makes one.
// The first byte chooses: even, the rest is an overlay file as it stands; odd, the rest is the
// tracks of one with a good header and checksum around them (so that runs get past the
// checksum); and every input is also formatted onto a track as a Write Track stream. A file
// taken is read back through every track and must write out byte for byte as it came.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzFile.h"
#include "TrackWalk.h"
#include "core/Crc32.h"
#include "floppy/DiskImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static vexil::DiskImage disk;
    static const bool inserted = [] {
        std::vector<uint8_t> image(80 * 2 * 9 * 512, 0);
        const std::string& path = vexil::fuzz::ScratchFile(".st");
        return vexil::fuzz::WriteScratch(path, image.data(), image.size()) && bool(disk.InsertImage(path));
    }();
    if (!inserted || size == 0) return 0;
    std::vector<uint8_t> file;
    if (data[0] & 1) {
        const uint8_t header[16] = {
            'V', 'X', 'O', 'V', 'R', 'L', 'A', 'Y', 1, 0, 0, 0, size > 1 ? data[1] : uint8_t(0), 0, 0, 0};
        file.assign(header, header + 16);
        if (size > 2) file.insert(file.end(), data + 2, data + size);
        const uint32_t crc = vexil::Crc32(file.data(), file.size());
        for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    } else {
        file.assign(data + 1, data + size);
    }
    disk.ForgetChanges();
    std::string error;
    if (disk.ApplyOverlay(file.data(), file.size(), error)) {
        vexil::fuzz::ReadEveryTrack(disk);
        if (disk.OverlayBytes() != file) std::abort();
    } else if (error.empty()) {
        std::abort();  // a refusal always says why
    }
    disk.WriteTrack(static_cast<int>(data[0] % 86), data[0] >> 7, data + 1, size - 1);
    const vexil::TrackView view = disk.Track(data[0] % 86, data[0] >> 7);
    if (view.count > vexil::kOverlayTrackIds) std::abort();
    for (int r = 0; r < 256; ++r) disk.ReadSector(data[0] % 86, data[0] >> 7, r);
    const std::vector<uint8_t> written = disk.OverlayBytes();
    if (!vexil::DiskImage::CheckOverlay(written.data(), written.size(), error)) std::abort();
    return 0;
}

// The STX loader and the turning disk's view of its tracks. The input follows the signature
// and version, so that every run reaches the track records.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzFile.h"
#include "floppy/DiskImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file = {'R', 'S', 'Y', 0, 3, 0};
    file.insert(file.end(), data, data + size);
    const std::string& path = vexil::fuzz::ScratchFile(".stx");
    if (!vexil::fuzz::WriteScratch(path, file.data(), file.size())) return 0;
    static vexil::DiskImage disk;
    if (!disk.InsertImage(path)) return 0;
    static uint8_t track[vexil::kTrackBytes];
    for (int c = 0; c < 86; ++c) {
        for (int s = 0; s < 2; ++s) {
            const vexil::TrackView view = disk.Track(c, s);
            if (view.count != 0) vexil::BuildTrackBytes(view, disk, track);
            for (int r = 0; r < 12; ++r) disk.ReadSector(c, s, r);
        }
    }
    return 0;
}

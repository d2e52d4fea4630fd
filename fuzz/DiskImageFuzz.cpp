// Disk image loading: format detection, raw, MSA and DIM decoding, and reading every sector
// of whatever was accepted.
#include <cstddef>
#include <cstdint>

#include "FuzzFile.h"
#include "floppy/DiskImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = vexil::fuzz::ScratchFile(".st");
    if (!vexil::fuzz::WriteScratch(path, data, size)) return 0;
    vexil::DiskGeometry g;
    vexil::DetectDiskFormat(path, &g);
    static vexil::DiskImage disk;
    if (!disk.InsertImage(path)) return 0;
    for (int t = -1; t <= disk.Tracks(); ++t) {
        for (int s = -1; s <= disk.Sides(); ++s) {
            for (int r = 0; r <= disk.SectorsPerTrack() + 1; ++r) disk.ReadSector(t, s, r);
        }
    }
    return 0;
}

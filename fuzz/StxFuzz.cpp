// The STX loader and the turning disk's view of its tracks. The input follows the signature
// and version, so that every run reaches the track records.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzFile.h"
#include "TrackWalk.h"
#include "floppy/DiskImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file = {'R', 'S', 'Y', 0, 3, 0};
    file.insert(file.end(), data, data + size);
    const std::string& path = vexil::fuzz::ScratchFile(".stx");
    if (!vexil::fuzz::WriteScratch(path, file.data(), file.size())) return 0;
    static vexil::DiskImage disk;
    if (!disk.InsertImage(path)) return 0;
    vexil::fuzz::ReadEveryTrack(disk);
    return 0;
}

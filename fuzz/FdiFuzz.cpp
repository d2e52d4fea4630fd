// FDI decoding and the record walk of ReadSector. The input is the file after the signature,
// so that every run exercises the FDI decoder.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzFile.h"
#include "floppy/DiskImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char kSignature[] = "Formatted Disk Image file";
    std::vector<uint8_t> file(kSignature, kSignature + 25);
    file.insert(file.end(), data, data + size);
    const std::string& path = vexil::fuzz::ScratchFile(".fdi");
    if (!vexil::fuzz::WriteScratch(path, file.data(), file.size())) return 0;
    static vexil::DiskImage disk;
    if (!disk.InsertImage(path)) return 0;
    for (int t = 0; t < disk.Tracks(); ++t) {
        for (int s = 0; s < disk.Sides(); ++s) {
            for (int r = 0; r < 16; ++r) disk.ReadSector(t, s, r);
        }
    }
    return 0;
}

// Writes small seed files for the disk image fuzz targets: <dir>/DiskImageFuzz holds a raw,
// an MSA (plain and coded) and a DIM image, <dir>/FdiFuzz an FDI file (without its signature,
// which the target adds) with a plain track and an MFM track that uses every command.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Write(const std::string& path, const Bytes& b) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    }
}

Bytes Sectors(size_t count) {
    Bytes b(count * 512);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i % 512 < 200 ? 0 : i * 7 + i / 512);
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 1;
    const std::string disk = std::string(argv[1]) + "/DiskImageFuzz/",
                      fdi = std::string(argv[1]) + "/FdiFuzz/";

    Bytes raw = Sectors(9);  // one side, one track of 9, described by its boot sector
    raw[19] = 9, raw[24] = 9, raw[26] = 1;
    Write(disk + "raw.st", raw);

    for (bool coded : {false, true}) {
        Bytes msa = {0x0E, 0x0F, 0, 9, 0, 0, 0, 0, 0, 0};  // 9 sectors, 1 side, track 0 only
        const Bytes track = Sectors(9);
        if (coded) {
            Bytes c;
            for (size_t i = 0; i < track.size(); ++i) {
                if (track[i] == 0 && i % 512 == 0) {
                    c.insert(c.end(), {0xE5, 0, 0, 200});
                    i += 199;
                } else {
                    c.push_back(track[i]);
                    if (track[i] == 0xE5) c.insert(c.end(), {0xE5, 0, 1});
                }
            }
            msa.insert(msa.end(), {static_cast<uint8_t>(c.size() >> 8), static_cast<uint8_t>(c.size())});
            msa.insert(msa.end(), c.begin(), c.end());
        } else {
            msa.insert(msa.end(), {0x12, 0x00});
            msa.insert(msa.end(), track.begin(), track.end());
        }
        Write(disk + (coded ? "coded.msa" : "plain.msa"), msa);
    }

    Bytes dim(32, 0);
    dim[0] = dim[1] = 0x42, dim[8] = 9, dim[14] = 1;
    const Bytes dimData = Sectors(9);
    dim.insert(dim.end(), dimData.begin(), dimData.end());
    Write(disk + "disk.dim", dim);

    Bytes f(512 - 25, 0);                 // the header after the signature
    f[0x8F - 25] = 0;                     // last track 0
    f[0x90 - 25] = 1;                     // last head 1
    f[0x98 - 25] = 3, f[0x99 - 25] = 18;  // side 0: 9 plain sectors
    Bytes mfm = {0x00, 0x01, 0x08, 1, 2, 0x0A, 0, 9, 1, 2, 0x0B, 0xFF, 0xF8, 0x13, 0, 1, 1, 0, 0x1A, 0};
    mfm.resize(mfm.size() + 128, 0x55);
    mfm.insert(mfm.end(), {0x15, 2, 0x19});
    mfm.resize(mfm.size() + 512, 0x66);
    mfm.insert(mfm.end(), {0x16, 3, 0x1B, 1});
    mfm.resize(mfm.size() + 258, 0x77);
    mfm.insert(mfm.end(), {0x1C, 0, 1, 4, 0});
    mfm.resize(mfm.size() + 128, 0x88);
    mfm.insert(mfm.end(), {0x1D, 5});
    mfm.resize(mfm.size() + 512, 0x99);
    mfm.push_back(0xFF);
    const size_t units = (mfm.size() + 255) / 256;
    mfm.resize(units * 256, 0);
    f[0x9A - 25] = 0xE2, f[0x9B - 25] = static_cast<uint8_t>(units);  // side 1: MFM commands
    const Bytes plain = Sectors(9);
    f.insert(f.end(), plain.begin(), plain.end());
    f.insert(f.end(), mfm.begin(), mfm.end());
    Write(fdi + "tracks.fdi", f);
    return 0;
}

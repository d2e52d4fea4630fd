// Makes the floppy images of the ST test programs: an empty, formatted 720 KB disk whose boot
// sector runs the program. Usage: vexil_st_disk PROGRAM.bin DISK.st
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "support/TestDisk.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vexil_st_disk PROGRAM.bin DISK.st\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> program((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    constexpr size_t kRoom = 512 - 0x1E - 2;  // between the parameter block and the checksum
    if (!in.is_open() || program.empty() || program.size() > kRoom) {
        std::fprintf(stderr, "vexil_st_disk: %s: not a boot program of 1-%zu bytes\n", argv[1], kRoom);
        return 1;
    }
    const std::vector<uint8_t> disk = vexil::test::MakeRawDisk(80, 2, 9, false, program);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(disk.data()), static_cast<std::streamsize>(disk.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "vexil_st_disk: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}

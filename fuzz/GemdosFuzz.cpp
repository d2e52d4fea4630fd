// Drive C: under hostile GEMDOS calls: the input is a small ST memory (arguments, strings,
// DTAs, basepages, program files) followed by calls, each a function number and the address
// of its arguments. Nothing may be read or written outside that memory or the scratch folder,
// and every call ends with a result (sanitizers catch the rest).
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gemdos/GemdosDrive.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMemoryBytes = 0x4000;

class FuzzMemory : public vexil::gemdos::GuestMemory {
public:
    uint8_t bytes[kMemoryBytes] = {};
    bool Read(uint32_t address, uint8_t* out, uint32_t length) const override {
        if (uint64_t{address} + length > kMemoryBytes) return false;
        std::memcpy(out, bytes + address, length);
        return true;
    }
    bool Write(uint32_t address, const uint8_t* in, uint32_t length) override {
        if (address < 0x100 || uint64_t{address} + length > kMemoryBytes) return false;
        std::memcpy(bytes + address, in, length);
        return true;
    }
};

// A scratch folder with a file, a sub folder, a program and a link out, made once.
const std::string& Folder() {
    static const std::string root = [] {
        const fs::path base = fs::path(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") /
                              ("vexil-fuzz-gemdos-" + std::to_string(::getpid()));
        fs::create_directories(base / "drive" / "SUB");
        fs::create_directories(base / "outside");
        std::ofstream(base / "drive" / "hello.txt") << "Hello";
        std::ofstream(base / "drive" / "SUB" / "inner.dat") << "inner";
        std::ofstream(base / "outside" / "secret") << "secret";
        std::error_code ec;
        fs::create_directory_symlink(base / "outside", base / "drive" / "out", ec);
        static const int removal = std::atexit([] {
            std::error_code e;
            fs::remove_all(fs::path(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") /
                               ("vexil-fuzz-gemdos-" + std::to_string(::getpid())),
                           e);
        });
        (void)removal;
        return (base / "drive").string();
    }();
    return root;
}

const uint16_t kFunctions[] = {0x00, 0x31, 0x36, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41,
                               0x42, 0x43, 0x45, 0x46, 0x47, 0x4B, 0x4C, 0x4E, 0x4F, 0x56, 0x57};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static vexil::gemdos::GemdosDrive drive;
    static bool attached = [] {
        std::string error;
        return drive.Attach(Folder(), false, error);
    }();
    if (!attached) std::abort();
    drive.Reset();
    // Fresh content every run: files the last run made are gone.
    std::error_code ec;
    for (auto& e : fs::directory_iterator(Folder(), ec)) {
        const std::string name = e.path().filename().string();
        if (name != "hello.txt" && name != "SUB" && name != "out") fs::remove_all(e.path(), ec);
    }
    // Two bytes give the length of the memory image that follows; the calls come after it,
    // 4 bytes each: function index, basepage index, argument address (a word).
    if (size < 2) return 0;
    static FuzzMemory memory;
    size_t image = static_cast<size_t>(data[0] << 8 | data[1]) % kMemoryBytes;
    if (image > size - 2) image = size - 2;
    std::memset(memory.bytes, 0, kMemoryBytes);
    std::memcpy(memory.bytes, data + 2, image);
    for (size_t at = 2 + image; at + 4 <= size; at += 4) {
        const uint16_t function = kFunctions[data[at] % std::size(kFunctions)];
        const uint32_t basepage = (data[at + 1] % 4) * 0x100 + 0x100;
        const uint32_t args = static_cast<uint32_t>(data[at + 2] << 8 | data[at + 3]) % kMemoryBytes;
        memory.WriteWord(args, function);
        const vexil::gemdos::GemdosReply reply = drive.Call(memory, args, basepage);
        if (reply.kind == vexil::gemdos::GemdosReply::Kind::kLoad)
            drive.LoadProgram(memory, basepage + 0x400);
    }
    return 0;
}

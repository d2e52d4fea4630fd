// Image stream over a zip archive: walks every entry, reads it in chunks with seeks between,
// opens an entry by its path, and lists the archive as the disk page does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzFile.h"
#include "floppy/ImageStream.h"
#include "ui/HostFolders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = vexil::fuzz::ScratchFile(".zip");
    if (!vexil::fuzz::WriteScratch(path, data, size)) return 0;
    // Reads go in chunks of a size picked from the input, into a buffer of exactly that size,
    // so that a read that returns more than it was asked for is caught.
    const size_t chunk = 1 + size % 997;
    std::vector<uint8_t> buffer(chunk);
    auto stream = vexil::ImageStream::Open(path);
    if (!stream) return 0;
    int entries = 0;
    do {
        if (++entries > 1000) __builtin_trap();  // the walk must always move on
        size_t total = 0;
        while (total < (1u << 18)) {
            const size_t n = stream->Read(buffer.data(), 1, chunk);
            if (n > chunk) __builtin_trap();
            if (n == 0) break;
            total += n;
        }
        stream->Seek(0, 0);
        stream->Read(buffer.data(), 2, chunk / 2);
        stream->Seek(-3, 2);
        stream->Tell();
    } while (stream->NextEntry() == 0);
    stream->Close();
    vexil::ListArchive(path);  // the disk page's walk and its check of the end record
    if (auto entry = vexil::OpenImageStream(path + "/GAME.ST")) {
        entry->Read(buffer.data(), 1, buffer.size());
        entry->Close();
    }
    return 0;
}

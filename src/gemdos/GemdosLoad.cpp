// The program loader of Pexec on drive C:, and the drive's part of a save state.
#include <algorithm>
#include <cstring>

#include "core/SaveState.h"
#include "gemdos/GemdosDrive.h"

namespace vexil::gemdos {

namespace {

constexpr uint32_t kTransferPiece = 64 * 1024;
constexpr uint32_t kProgramMagic = 0x601A;
constexpr uint32_t kProgramHeader = 0x1C;
constexpr uint32_t kFastLoad = 1;  // PF_FASTLOAD: only the BSS is cleared

}  // namespace

int32_t GemdosDrive::LoadProgram(GuestMemory& m, uint32_t basepage) {
    const int32_t fd = folder_.OpenFile(s_.load, false, false);
    std::memset(s_.load, 0, sizeof s_.load);
    if (fd < 0) return kEFILNF;
    struct Closer {
        int fd;
        ~Closer() { HostFolder::CloseFile(fd); }
    } closer{fd};
    uint8_t h[kProgramHeader];
    if (HostFolder::ReadAt(fd, h, kProgramHeader, 0) != kProgramHeader) return kEPLFMT;
    auto be32 = [&](int at) {
        return static_cast<uint32_t>(h[at]) << 24 | h[at + 1] << 16 | h[at + 2] << 8 | h[at + 3];
    };
    if ((h[0] << 8 | h[1]) != kProgramMagic) return kEPLFMT;
    const uint64_t text = be32(2), data = be32(6), bss = be32(10), symbols = be32(14);
    const uint32_t flags = be32(22);
    const bool absolute = (h[26] << 8 | h[27]) != 0;
    const int64_t fileLength = HostFolder::Length(fd);
    if (kProgramHeader + text + data > static_cast<uint64_t>(fileLength)) return kEPLFMT;
    uint32_t low = 0, high = 0;
    if (!m.ReadLong(basepage + bp::kLowTpa, low) || !m.ReadLong(basepage + bp::kHighTpa, high))
        return kENSMEM;
    const uint32_t textBase = basepage + bp::kSize;
    if (high < textBase || text + data + bss > high - textBase) return kENSMEM;
    // Text and data, through the transfer buffer.
    const uint32_t image = static_cast<uint32_t>(text + data);
    for (uint32_t done = 0; done < image;) {
        const uint32_t piece = std::min<uint32_t>(image - done, kTransferPiece);
        if (HostFolder::ReadAt(fd, buffer_.data(), piece, kProgramHeader + done) != piece) return kEPLFMT;
        if (!m.Write(textBase + done, buffer_.data(), piece)) return kENSMEM;
        done += piece;
    }
    // The relocation table: a first offset (0: none), then byte steps, 1 adding 254, 0 ending.
    if (!absolute) {
        uint64_t at = kProgramHeader + text + data + symbols;
        uint8_t first[4];
        if (at + 4 <= static_cast<uint64_t>(fileLength) &&
            HostFolder::ReadAt(fd, first, 4, static_cast<uint32_t>(at)) == 4) {
            at += 4;
            uint64_t offset =
                static_cast<uint32_t>(first[0]) << 24 | first[1] << 16 | first[2] << 8 | first[3];
            uint32_t pending = 0, used = 0;
            bool more = offset != 0;
            while (more) {
                if ((offset & 1) || offset + 4 > image) return kEPLFMT;
                uint32_t value = 0;
                if (!m.ReadLong(textBase + static_cast<uint32_t>(offset), value) ||
                    !m.WriteLong(textBase + static_cast<uint32_t>(offset), value + textBase))
                    return kEPLFMT;
                for (;;) {
                    if (used == pending) {
                        const int64_t n = at < static_cast<uint64_t>(fileLength)
                                              ? HostFolder::ReadAt(fd, buffer_.data(), kTransferPiece,
                                                                   static_cast<uint32_t>(at))
                                              : 0;
                        if (n <= 0) {  // the table ends with the file
                            more = false;
                            break;
                        }
                        at += static_cast<uint64_t>(n);
                        pending = static_cast<uint32_t>(n), used = 0;
                    }
                    const uint8_t step = buffer_[used++];
                    if (step == 0) {
                        more = false;
                        break;
                    }
                    if (step == 1) {
                        offset += 254;
                        continue;
                    }
                    offset += step;
                    break;
                }
            }
        }
    }
    const uint32_t dataBase = textBase + static_cast<uint32_t>(text);
    const uint32_t bssBase = dataBase + static_cast<uint32_t>(data);
    if (!m.WriteLong(basepage + bp::kTextBase, textBase) ||
        !m.WriteLong(basepage + bp::kTextLength, uint32_t(text)) ||
        !m.WriteLong(basepage + bp::kDataBase, dataBase) ||
        !m.WriteLong(basepage + bp::kDataLength, uint32_t(data)) ||
        !m.WriteLong(basepage + bp::kBssBase, bssBase) ||
        !m.WriteLong(basepage + bp::kBssLength, uint32_t(bss)))
        return kENSMEM;
    // The BSS is cleared, or the whole rest of the TPA unless the program asks for fast loading.
    const uint32_t clearEnd = (flags & kFastLoad) ? bssBase + static_cast<uint32_t>(bss) : high;
    std::fill(buffer_.begin(), buffer_.end(), 0);
    for (uint32_t at = bssBase; at < clearEnd;) {
        const uint32_t piece = std::min<uint32_t>(clearEnd - at, kTransferPiece);
        if (!m.Write(at, buffer_.data(), piece)) return kENSMEM;
        at += piece;
    }
    (void)low;
    return 0;
}

// ---- save states ----------------------------------------------------------------------------

void GemdosDrive::Save(StateWriter& out) const {
    out(s_);
}

bool GemdosDrive::Load(StateReader& in, bool commit, std::string& error) {
    State loaded;
    if (in(loaded).Failed()) {
        error = "the state's drive C: section is damaged";
        return false;
    }
    // Every string must end inside its field, every index point inside its table.
    for (const File& f : loaded.files) {
        if (f.path[kPathBytes - 1] != 0) return error = "the state's drive C: section is damaged", false;
        if (f.used && !Attached()) {
            error = "the state has files open on drive C:, which is not attached";
            return false;
        }
        if (f.used && f.virtualLength == 0) {
            HostFolder::Entry e;
            if (folder_.Stat(f.path, e) != 0 || e.folder) {
                error = std::string("the file C:\\") + f.path + " open in the state is gone";
                return false;
            }
        }
    }
    for (const Handle& h : loaded.handles)
        if (h.owner != 0 && (h.file < 0 || h.file >= kMaxFiles || !loaded.files[h.file].used))
            return error = "the state's drive C: section is damaged", false;
    for (const Forced& f : loaded.forced)
        if (f.basepage != 0 && (f.file < 0 || f.file >= kMaxFiles || !loaded.files[f.file].used))
            return error = "the state's drive C: section is damaged", false;
    for (const Search& s : loaded.searches)
        if (s.folder[kPathBytes - 1] != 0 || s.pattern[sizeof s.pattern - 1] != 0)
            return error = "the state's drive C: section is damaged", false;
    for (const Process& p : loaded.processes)
        if (p.path[kPathBytes - 1] != 0) return error = "the state's drive C: section is damaged", false;
    if (loaded.load[kPathBytes - 1] != 0 || loaded.nextSearch >= kMaxSearches)
        return error = "the state's drive C: section is damaged", false;
    if (!commit) return true;
    Reset();
    s_ = loaded;
    for (int i = 0; i < kMaxFiles; ++i) {
        File& f = s_.files[i];
        if (!f.used || f.virtualLength > 0) continue;
        const int32_t fd = folder_.OpenFile(f.path, f.write && !folder_.ReadOnly(), false);
        fds_[i] = fd >= 0 ? fd : -1;
    }
    return true;
}

}  // namespace vexil::gemdos

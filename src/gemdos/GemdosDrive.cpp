#include "gemdos/GemdosDrive.h"

#include <algorithm>
#include <cstring>

namespace vexil::gemdos {

namespace {

constexpr uint32_t kTransferPiece = 64 * 1024;
constexpr int kParentDepth = 16;  // how far a current folder is looked for up the process tree
constexpr uint32_t kClusterBytes = 1024;
constexpr uint32_t kProgramMagic = 0x601A;
constexpr uint32_t kProgramHeader = 0x1C;
constexpr char kDesktopFile[] = "EMUDESK.INF";
// The search tag in the DTA's reserved bytes: "VXC", the slot, then the serial.
constexpr uint8_t kTag[3] = {'V', 'X', 'C'};

GemdosReply Done(int32_t d0) {
    return {GemdosReply::Kind::kDone, d0, 0, 0};
}
GemdosReply Pass() {
    return {};
}

void CopyPath(char (&to)[kPathBytes], const std::string& from) {
    std::memset(to, 0, kPathBytes);
    std::memcpy(to, from.data(), std::min<size_t>(from.size(), kPathBytes - 1));
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string JoinHost(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

bool HasWildcard(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

}  // namespace

// ---- the ST's memory ------------------------------------------------------------------------

bool GuestMemory::ReadWord(uint32_t address, uint16_t& value) const {
    uint8_t b[2];
    if (!Read(address, b, 2)) return false;
    value = static_cast<uint16_t>(b[0] << 8 | b[1]);
    return true;
}
bool GuestMemory::ReadLong(uint32_t address, uint32_t& value) const {
    uint8_t b[4];
    if (!Read(address, b, 4)) return false;
    value = static_cast<uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
    return true;
}
bool GuestMemory::WriteWord(uint32_t address, uint16_t value) {
    const uint8_t b[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return Write(address, b, 2);
}
bool GuestMemory::WriteLong(uint32_t address, uint32_t value) {
    const uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return Write(address, b, 4);
}
bool GuestMemory::ReadString(uint32_t address, uint32_t limit, std::string& out) const {
    out.clear();
    for (uint32_t i = 0; i <= limit; ++i) {
        uint8_t c;
        if (!Read(address + i, &c, 1)) return false;
        if (c == 0) return true;
        out += static_cast<char>(c);
    }
    return false;
}

// ---- set-up ---------------------------------------------------------------------------------

GemdosDrive::GemdosDrive() : buffer_(kTransferPiece) {
    std::fill(std::begin(fds_), std::end(fds_), -1);
}

bool GemdosDrive::Attach(const std::string& folder, bool readOnly, std::string& error) {
    Detach();
    return folder_.Open(folder, readOnly, error);
}

void GemdosDrive::Detach() {
    Reset();
    folder_.Close();
}

void GemdosDrive::Reset() {
    for (int& fd : fds_) {
        HostFolder::CloseFile(fd);
        fd = -1;
    }
    s_ = State{};
}

int GemdosDrive::OpenFiles() const {
    return static_cast<int>(
        std::count_if(std::begin(s_.files), std::end(s_.files), [](auto& f) { return f.used; }));
}

// ---- paths ----------------------------------------------------------------------------------

bool GemdosDrive::ReadPath(GuestMemory& memory, uint32_t address, std::string& out) const {
    return memory.ReadString(address, kMaxStPath, out);
}

bool GemdosDrive::OnDriveC(const std::string& path, uint32_t basepage, GuestMemory& memory) const {
    if (path.size() >= 2 && path[1] == ':') return path[0] == 'C' || path[0] == 'c';
    uint8_t drive = 0;
    return memory.Read(basepage + bp::kCurrentDrive, &drive, 1) && drive == 2;
}

std::string GemdosDrive::CurrentFolder(uint32_t basepage, GuestMemory& memory) const {
    // A child starts in its parent's folder: the nearest process up the tree that set one.
    uint32_t at = basepage;
    for (int depth = 0; depth < kParentDepth && at != 0; ++depth) {
        for (const Process& p : s_.processes)
            if (p.basepage == at) return p.path;
        if (!memory.ReadLong(at + bp::kParent, at)) break;
    }
    return {};
}

GemdosDrive::Process* GemdosDrive::ProcessEntry(uint32_t basepage) {
    Process* free = nullptr;
    for (Process& p : s_.processes) {
        if (p.basepage == basepage) return &p;
        if (p.basepage == 0 && free == nullptr) free = &p;
    }
    if (free != nullptr) free->basepage = basepage;
    return free;
}

bool GemdosDrive::Listing(const std::string& folder, bool root, std::vector<Listed>& out) const {
    out.clear();
    std::vector<HostFolder::Entry> entries;
    if (!folder_.List(folder, entries)) return false;
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const auto& e : entries) names.push_back(e.name);
    const std::vector<MappedName> mapped = MapNames(names);
    if (!root) {
        out.push_back({".", ".", kAttrFolder, 0, 0, false});
        out.push_back({"..", "..", kAttrFolder, 0, 0, false});
    }
    for (const MappedName& m : mapped) {
        const auto e =
            std::find_if(entries.begin(), entries.end(), [&](auto& x) { return x.name == m.host; });
        Listed l{m.st, m.host, 0, e->size, e->modified, e->escapes};
        if (e->folder)
            l.attribute = kAttrFolder;
        else if (e->readOnly)
            l.attribute = kAttrReadOnly;
        out.push_back(std::move(l));
    }
    return true;
}

// Splits an ST path into names, applies "." and "..", and finds each folder on the host by
// the names a program sees. ".." above the folder, and names a host path cannot hold, are
// refused.
GemdosDrive::Resolved GemdosDrive::Resolve(const std::string& path, uint32_t basepage,
                                           GuestMemory& memory) const {
    Resolved r;
    std::string p = path;
    if (p.size() >= 2 && p[1] == ':') p = p.substr(2);
    std::vector<std::string> names;
    std::string start = (!p.empty() && p[0] == '\\') ? std::string() : CurrentFolder(basepage, memory);
    auto split = [](const std::string& s, std::vector<std::string>& into) {
        size_t at = 0;
        while (at <= s.size()) {
            const size_t end = std::min(s.find('\\', at), s.size());
            into.push_back(s.substr(at, end - at));
            at = end + 1;
        }
    };
    std::vector<std::string> parts;
    split(start, parts);
    split(p, parts);
    const bool trailing = !p.empty() && p.back() == '\\';
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& n = parts[i];
        const bool last = i + 1 == parts.size();
        if (n.empty() || n == ".") {
            if (last && !trailing && n == ".") names.emplace_back(".");
            continue;
        }
        if (n == "..") {
            if (names.empty()) {
                r.error = kEACCDN;
                return r;
            }
            names.pop_back();
            continue;
        }
        if (n.find('/') != std::string::npos || n.find(':') != std::string::npos) {
            r.error = last ? kEFILNF : kEPTHNF;
            return r;
        }
        names.push_back(Upper(n));
    }
    std::string leaf;
    if (!trailing && !names.empty()) {
        leaf = names.back();
        names.pop_back();
    }
    if (leaf == ".") leaf.clear();
    std::vector<Listed> listing;
    for (const std::string& n : names) {
        if (!Listing(r.folder, r.folder.empty(), listing)) {
            r.error = kEPTHNF;
            return r;
        }
        const std::string want = CutName(n);
        const auto hit = std::find_if(listing.begin(), listing.end(), [&](const Listed& l) {
            return l.st == want && l.st != "." && l.st != "..";
        });
        if (hit == listing.end() || !(hit->attribute & kAttrFolder)) {
            r.error = (hit != listing.end() && hit->escapes) ? kEACCDN : kEPTHNF;
            return r;
        }
        r.folder = JoinHost(r.folder, hit->host);
        r.stFolder += "\\" + hit->st;
    }
    r.leaf = leaf;
    if (leaf.empty() || HasWildcard(leaf)) return r;
    if (!Listing(r.folder, r.folder.empty(), listing)) {
        r.error = kEPTHNF;
        return r;
    }
    const std::string want = CutName(leaf);
    for (const Listed& l : listing) {
        if (l.st != want || l.st == "." || l.st == "..") continue;
        if (l.escapes) {
            r.error = kEACCDN;
            return r;
        }
        r.host = JoinHost(r.folder, l.host);
        r.entry.folder = (l.attribute & kAttrFolder) != 0;
        r.entry.readOnly = (l.attribute & kAttrReadOnly) != 0;
        r.entry.size = l.size;
        r.entry.modified = l.modified;
        break;
    }
    if (r.folder.size() + want.size() + 2 > kPathBytes) r.error = kEPTHNF;
    return r;
}

// ---- handles --------------------------------------------------------------------------------

int GemdosDrive::FileOfHandle(int32_t handle, uint32_t basepage, GuestMemory& memory) const {
    if (handle >= kFirstHandle && handle < kFirstHandle + kMaxHandles) {
        const Handle& h = s_.handles[handle - kFirstHandle];
        return h.owner != 0 ? h.file : -1;
    }
    if (handle >= 0 && handle <= 5) {
        // A standard handle forced onto one of ours, by this process or one it descends from.
        uint32_t at = basepage;
        for (int depth = 0; depth < kParentDepth && at != 0; ++depth) {
            for (const Forced& f : s_.forced)
                if (f.basepage == at && f.standard == handle) return f.file;
            if (!memory.ReadLong(at + bp::kParent, at)) break;
        }
    }
    return -1;
}

int GemdosDrive::NewFile(const std::string& path, bool write, int fd, uint32_t virtualLength) {
    for (int i = 0; i < kMaxFiles; ++i) {
        File& f = s_.files[i];
        if (f.used) continue;
        f = File{};
        f.used = 1;
        f.write = write;
        f.refs = 0;
        f.virtualLength = virtualLength;
        CopyPath(f.path, path);
        fds_[i] = fd;
        return i;
    }
    return -1;
}

int32_t GemdosDrive::NewHandle(int file, uint32_t owner) {
    for (int i = 0; i < kMaxHandles; ++i) {
        if (s_.handles[i].owner != 0) continue;
        s_.handles[i] = {owner ? owner : 1, static_cast<int16_t>(file)};
        ++s_.files[file].refs;
        return kFirstHandle + i;
    }
    return kENHNDL;
}

void GemdosDrive::ReleaseFile(int file) {
    if (file < 0 || file >= kMaxFiles) return;
    File& f = s_.files[file];
    if (f.refs > 0) --f.refs;
    if (f.refs == 0) {
        HostFolder::CloseFile(fds_[file]);
        fds_[file] = -1;
        f = File{};
    }
}

void GemdosDrive::EndProcess(uint32_t basepage) {
    for (Handle& h : s_.handles) {
        if (h.owner != basepage) continue;
        ReleaseFile(h.file);
        h = Handle{};
    }
    for (Forced& f : s_.forced) {
        if (f.basepage != basepage) continue;
        ReleaseFile(f.file);
        f = Forced{};
    }
    for (Process& p : s_.processes)
        if (p.basepage == basepage) p = Process{};
}

bool GemdosDrive::HostReady(int file) {
    return file >= 0 && file < kMaxFiles && s_.files[file].used &&
           (fds_[file] >= 0 || s_.files[file].virtualLength > 0);
}

// ---- the calls ------------------------------------------------------------------------------

GemdosReply GemdosDrive::Call(GuestMemory& m, uint32_t args, uint32_t basepage) {
    uint16_t function = 0;
    if (!Attached() || !m.ReadWord(args, function)) return Pass();
    switch (function) {
        case fn::kPterm0:
        case fn::kPterm:
        case fn::kPtermres:
            EndProcess(basepage);
            return Pass();
        case fn::kDsetpath:
            return Dsetpath(m, args, basepage);
        case fn::kDgetpath:
            return Dgetpath(m, args, basepage);
        case fn::kDfree:
            return Dfree(m, args, basepage);
        case fn::kDcreate:
            return Dcreate(m, args, basepage);
        case fn::kDdelete:
            return Ddelete(m, args, basepage);
        case fn::kFsfirst:
            return Fsfirst(m, args, basepage);
        case fn::kFsnext:
            return Fsnext(m, basepage);
        case fn::kFopen:
            return Fopen(m, args, basepage);
        case fn::kFcreate:
            return Fcreate(m, args, basepage);
        case fn::kFclose:
            return Fclose(m, args, basepage);
        case fn::kFread:
            return Transfer(m, args, basepage, false);
        case fn::kFwrite:
            return Transfer(m, args, basepage, true);
        case fn::kFseek:
            return Fseek(m, args, basepage);
        case fn::kFdelete:
            return Fdelete(m, args, basepage);
        case fn::kFrename:
            return Frename(m, args, basepage);
        case fn::kFattrib:
            return Fattrib(m, args, basepage);
        case fn::kFdatime:
            return Fdatime(m, args, basepage);
        case fn::kFdup:
            return Fdup(m, args, basepage);
        case fn::kFforce:
            return Fforce(m, args, basepage);
        case fn::kPexec:
            return Pexec(m, args, basepage);
        default:
            return Pass();
    }
}

// A call whose first argument is a path: the path, or false when the call is not ours.
#define VEXIL_PATH_ARGUMENT(offset, name)                                                \
    uint32_t name##Address = 0;                                                          \
    std::string name;                                                                    \
    if (!m.ReadLong(args + (offset), name##Address)) return Pass();                      \
    if (!ReadPath(m, name##Address, name)) {                                             \
        /* too long or outside memory: ours only when it names C: */                     \
        uint8_t head[2] = {};                                                            \
        if (m.Read(name##Address, head, 2) && head[1] == ':' && (head[0] | 0x20) == 'c') \
            return Done(kEPTHNF);                                                        \
        return Pass();                                                                   \
    }                                                                                    \
    if (!OnDriveC(name, basepage, m)) return Pass();

GemdosReply GemdosDrive::Dsetpath(GuestMemory& m, uint32_t args, uint32_t basepage) {
    VEXIL_PATH_ARGUMENT(2, path)
    Resolved r = Resolve(path, basepage, m);
    if (r.error) return Done(r.error == kEFILNF ? kEPTHNF : r.error);
    std::string st = r.stFolder;
    if (!r.leaf.empty()) {
        if (r.host.empty() || !r.entry.folder) return Done(kEPTHNF);
        st += "\\" + CutName(r.leaf);
    }
    if (st.size() >= kPathBytes) return Done(kEPTHNF);
    Process* p = ProcessEntry(basepage);
    if (p == nullptr) return Done(kENSMEM);
    CopyPath(p->path, st);
    return Done(0);
}

// The buffer of a call that names its drive by number (0 the current one, 1 A, 3 C:), or false
// when the call is not ours.
bool GemdosDrive::BufferForDriveC(GuestMemory& m, uint32_t args, uint32_t basepage, uint32_t& buffer) const {
    uint16_t drive = 0;
    uint8_t current = 0;
    if (!m.ReadLong(args + 2, buffer) || !m.ReadWord(args + 6, drive)) return false;
    m.Read(basepage + bp::kCurrentDrive, &current, 1);
    return drive == 3 || (drive == 0 && current == 2);
}

GemdosReply GemdosDrive::Dgetpath(GuestMemory& m, uint32_t args, uint32_t basepage) {
    uint32_t buffer = 0;
    if (!BufferForDriveC(m, args, basepage, buffer)) return Pass();
    const std::string path = CurrentFolder(basepage, m);
    if (!m.Write(buffer, reinterpret_cast<const uint8_t*>(path.c_str()),
                 static_cast<uint32_t>(path.size() + 1)))
        return Done(kEIMBA);
    return Done(0);
}

GemdosReply GemdosDrive::Dfree(GuestMemory& m, uint32_t args, uint32_t basepage) {
    uint32_t buffer = 0;
    if (!BufferForDriveC(m, args, basepage, buffer)) return Pass();
    uint64_t freeBytes = 0, totalBytes = 0;
    folder_.Space(freeBytes, totalBytes);
    // Totals stay below 2^31 bytes: programs multiply these in signed longs.
    constexpr uint64_t kMaxClusters = (uint64_t{1} << 31) / kClusterBytes - 1;
    const uint32_t total = static_cast<uint32_t>(std::min(totalBytes / kClusterBytes, kMaxClusters));
    const uint32_t free = static_cast<uint32_t>(std::min<uint64_t>(freeBytes / kClusterBytes, total));
    if (!m.WriteLong(buffer, free) || !m.WriteLong(buffer + 4, total) || !m.WriteLong(buffer + 8, 512) ||
        !m.WriteLong(buffer + 12, kClusterBytes / 512))
        return Done(kEIMBA);
    return Done(0);
}

GemdosReply GemdosDrive::Dcreate(GuestMemory& m, uint32_t args, uint32_t basepage) {
    VEXIL_PATH_ARGUMENT(2, path)
    Resolved r = Resolve(path, basepage, m);
    if (r.error) return Done(r.error == kEFILNF ? kEPTHNF : r.error);
    if (r.leaf.empty() || HasWildcard(r.leaf)) return Done(kEPTHNF);
    if (!r.host.empty()) return Done(kEACCDN);
    return Done(folder_.MakeFolder(JoinHost(r.folder, CutName(r.leaf))));
}

GemdosReply GemdosDrive::Ddelete(GuestMemory& m, uint32_t args, uint32_t basepage) {
    VEXIL_PATH_ARGUMENT(2, path)
    Resolved r = Resolve(path, basepage, m);
    if (r.error) return Done(r.error == kEFILNF ? kEPTHNF : r.error);
    if (r.host.empty() || !r.entry.folder) return Done(kEPTHNF);
    return Done(folder_.RemoveFolder(r.host));
}

bool GemdosDrive::FillDta(GuestMemory& m, uint32_t dta, const Listed& e) {
    uint8_t d[44] = {};
    d[21] = e.attribute;
    const uint16_t time = PackedTime(e.modified), date = PackedDate(e.modified);
    d[22] = static_cast<uint8_t>(time >> 8), d[23] = static_cast<uint8_t>(time);
    d[24] = static_cast<uint8_t>(date >> 8), d[25] = static_cast<uint8_t>(date);
    d[26] = static_cast<uint8_t>(e.size >> 24), d[27] = static_cast<uint8_t>(e.size >> 16);
    d[28] = static_cast<uint8_t>(e.size >> 8), d[29] = static_cast<uint8_t>(e.size);
    std::memcpy(d + 30, e.st.data(), std::min<size_t>(e.st.size(), 13));
    return m.Write(dta + 21, d + 21, 44 - 21);
}

GemdosReply GemdosDrive::Fsfirst(GuestMemory& m, uint32_t args, uint32_t basepage) {
    VEXIL_PATH_ARGUMENT(2, path)
    uint16_t attribute = 0;
    uint32_t dta = 0;
    if (!m.ReadWord(args + 6, attribute) || !m.ReadLong(basepage + bp::kDta, dta)) return Pass();
    uint8_t probe[44];
    if (!m.Read(dta, probe, sizeof probe)) return Done(kEIMBA);
    Resolved r = Resolve(path, basepage, m);
    if (r.error) return Done(r.error == kEFILNF ? kEPTHNF : r.error);
    std::string pattern = r.leaf.empty() ? std::string("*.*") : r.leaf;
    if (pattern.size() >= sizeof(Search::pattern)) pattern = CutName(pattern);
    Search& s = s_.searches[s_.nextSearch];
    const uint8_t slot = static_cast<uint8_t>(s_.nextSearch);
    s_.nextSearch = (s_.nextSearch + 1) % kMaxSearches;
    s = Search{};
    s.serial = s_.nextSerial++;
    if (s_.nextSerial == 0) s_.nextSerial = 1;
    s.attribute = static_cast<uint8_t>(attribute);
    s.root = r.folder.empty();
    std::strncpy(s.pattern, pattern.c_str(), sizeof s.pattern - 1);
    CopyPath(s.folder, r.folder);
    uint8_t tag[8] = {kTag[0],
                      kTag[1],
                      kTag[2],
                      slot,
                      static_cast<uint8_t>(s.serial >> 24),
                      static_cast<uint8_t>(s.serial >> 16),
                      static_cast<uint8_t>(s.serial >> 8),
                      static_cast<uint8_t>(s.serial)};
    m.Write(dta, tag, sizeof tag);
    const GemdosReply next = Fsnext(m, basepage);
    return next.d0 == kENMFIL ? Done(kEFILNF) : next;
}

GemdosReply GemdosDrive::Fsnext(GuestMemory& m, uint32_t basepage) {
    uint32_t dta = 0;
    uint8_t tag[8];
    if (!Attached() || !m.ReadLong(basepage + bp::kDta, dta) || !m.Read(dta, tag, sizeof tag)) return Pass();
    if (std::memcmp(tag, kTag, 3) != 0 || tag[3] >= kMaxSearches) return Pass();
    Search& s = s_.searches[tag[3]];
    const uint32_t serial = static_cast<uint32_t>(tag[4]) << 24 | tag[5] << 16 | tag[6] << 8 | tag[7];
    if (s.serial == 0 || s.serial != serial) return Pass();  // a search long forgotten, or not ours
    std::vector<Listed> listing;
    if (s.root && (s.attribute & kAttrVolume)) {
        // The volume label comes first, at the root only.
        const std::string& root = folder_.Root();
        std::string label = CutName(root.substr(root.rfind('/') + 1));
        label.erase(std::remove(label.begin(), label.end(), '.'), label.end());
        listing.push_back({label.substr(0, 11), "", kAttrVolume, 0, 0, false});
    }
    std::vector<Listed> entries;
    if (!Listing(s.folder, s.root, entries)) return Done(kENMFIL);
    listing.insert(listing.end(), entries.begin(), entries.end());
    while (s.next < listing.size()) {
        const Listed& e = listing[s.next++];
        if (e.attribute == kAttrVolume) {
            if (s.attribute & kAttrVolume) {
                if (!FillDta(m, dta, e)) return Done(kEIMBA);
                return Done(0);
            }
            continue;
        }
        if (!NameMatches(s.pattern, e.st) || !AttributeMatches(s.attribute, e.attribute)) continue;
        if (!FillDta(m, dta, e)) return Done(kEIMBA);
        return Done(0);
    }
    return Done(kENMFIL);
}

GemdosReply GemdosDrive::Fopen(GuestMemory& m, uint32_t args, uint32_t basepage) {
    VEXIL_PATH_ARGUMENT(2, path)
    uint16_t mode = 0;
    if (!m.ReadWord(args + 6, mode)) return Pass();
    if ((mode & 3) == 3) return Done(kEINVFN);
    const bool write = (mode & 3) != 0;
    Resolved r = Resolve(path, basepage, m);
    if (r.error) return Done(r.error);
    if (r.leaf.empty() || HasWildcard(r.leaf)) return Done(kEFILNF);
    // The desktop's start-up file, with the lines asked for added.
    if (!desktopLines_.empty() && !write && r.folder.empty() && CutName(r.leaf) == kDesktopFile) {
        desktop_.clear();
        if (!r.host.empty()) {
            const int32_t fd = folder_.OpenFile(r.host, false, false);
            if (fd >= 0) {
                const int64_t length = std::min<int64_t>(HostFolder::Length(fd), 1 << 20);
                desktop_.resize(static_cast<size_t>(length));
                desktop_.resize(static_cast<size_t>(
                    std::max<int64_t>(0, HostFolder::ReadAt(fd, reinterpret_cast<uint8_t*>(desktop_.data()),
                                                            static_cast<uint32_t>(length), 0))));
                HostFolder::CloseFile(fd);
            }
        }
        // First, since the AES reads only the start of the file.
        desktop_.insert(0, desktopLines_);
        const int file = NewFile(kDesktopFile, false, -1, static_cast<uint32_t>(desktop_.size()));
        if (file < 0) return Done(kENHNDL);
        const int32_t handle = NewHandle(file, basepage);
        if (handle < 0) ReleaseFile(file);
        return Done(handle);
    }
    if (r.host.empty() || r.entry.folder) return Done(kEFILNF);
    if (write && (r.entry.readOnly || folder_.ReadOnly())) return Done(kEACCDN);
    return OpenHandle(r.host, write, false, false, basepage);
}

GemdosReply GemdosDrive::Fcreate(GuestMemory& m, uint32_t args, uint32_t basepage) {
    VEXIL_PATH_ARGUMENT(2, path)
    uint16_t attribute = 0;
    if (!m.ReadWord(args + 6, attribute)) return Pass();
    Resolved r = Resolve(path, basepage, m);
    if (r.error) return Done(r.error);
    if (r.leaf.empty() || HasWildcard(r.leaf)) return Done(kEFILNF);
    if (attribute & (kAttrVolume | kAttrFolder)) return Done(kEACCDN);
    if (folder_.ReadOnly()) return Done(kEACCDN);
    if (!r.host.empty() && (r.entry.folder || r.entry.readOnly)) return Done(kEACCDN);
    const std::string host = r.host.empty() ? JoinHost(r.folder, CutName(r.leaf)) : r.host;
    return OpenHandle(host, true, true, (attribute & kAttrReadOnly) != 0, basepage);
}

// A handle for `basepage` on the host file `host`, opened (made anew with `create`): the
// handle, or ENHNDL when none is free, or the host's refusal.
GemdosReply GemdosDrive::OpenHandle(const std::string& host, bool write, bool create, bool makeReadOnly,
                                    uint32_t basepage) {
    if (std::none_of(std::begin(s_.handles), std::end(s_.handles), [](auto& h) { return h.owner == 0; }))
        return Done(kENHNDL);
    const int32_t fd = folder_.OpenFile(host, write, create);
    if (fd < 0) return Done(fd);
    // A file made read-only is so on the host at once; this handle may still write it.
    if (makeReadOnly) folder_.SetReadOnly(host, true);
    const int file = NewFile(host, write, fd, 0);
    if (file < 0) {
        HostFolder::CloseFile(fd);
        return Done(kENHNDL);
    }
    const int32_t handle = NewHandle(file, basepage);
    if (handle < 0) ReleaseFile(file);
    return Done(handle);
}

GemdosReply GemdosDrive::Fclose(GuestMemory& m, uint32_t args, uint32_t basepage) {
    uint16_t word = 0;
    if (!m.ReadWord(args + 2, word)) return Pass();
    const int16_t handle = static_cast<int16_t>(word);
    if (handle >= kFirstHandle && handle < kFirstHandle + kMaxHandles) {
        Handle& h = s_.handles[handle - kFirstHandle];
        if (h.owner == 0) return Done(kEIHNDL);
        ReleaseFile(h.file);
        h = Handle{};
        return Done(0);
    }
    if (handle >= 0 && handle <= 5) {
        // Closing a standard handle forced onto our file ends the forcing (for this process).
        for (Forced& f : s_.forced) {
            if (f.basepage != basepage || f.standard != handle) continue;
            ReleaseFile(f.file);
            f = Forced{};
            return Done(0);
        }
    }
    return Pass();
}

// The open file behind a handle of ours, or -1 with the reply: EIHNDL for a handle in our range
// that is closed or whose host file is gone, TOS's own handling for any other.
int GemdosDrive::ReadyFile(int16_t handle, uint32_t basepage, GuestMemory& m, GemdosReply& refused) {
    const int file = FileOfHandle(handle, basepage, m);
    const bool ours = handle >= kFirstHandle && handle < kFirstHandle + kMaxHandles;
    if (file >= 0 && HostReady(file)) return file;
    refused = file >= 0 || ours ? Done(kEIHNDL) : Pass();
    return -1;
}

GemdosReply GemdosDrive::Transfer(GuestMemory& m, uint32_t args, uint32_t basepage, bool write) {
    uint16_t word = 0;
    uint32_t count = 0, buffer = 0;
    if (!m.ReadWord(args + 2, word) || !m.ReadLong(args + 4, count) || !m.ReadLong(args + 8, buffer))
        return Pass();
    GemdosReply refused;
    const int file = ReadyFile(static_cast<int16_t>(word), basepage, m, refused);
    if (file < 0) return refused;
    File& f = s_.files[file];
    if (static_cast<int32_t>(count) < 0) return Done(kERANGE);
    if (write && !f.write) return Done(kEACCDN);
    if (!write) {
        const int64_t length =
            f.virtualLength > 0 ? int64_t{f.virtualLength} : HostFolder::Length(fds_[file]);
        count = static_cast<uint32_t>(std::clamp<int64_t>(length - f.offset, 0, count));
    }
    // The whole buffer must lie in the ST's memory before anything moves.
    if (count > 0) {
        uint8_t edge;
        if (!m.Read(buffer, &edge, 1) || !m.Read(buffer + count - 1, &edge, 1) || buffer + count < buffer)
            return Done(kEIMBA);
    }
    uint32_t done = 0;
    while (done < count) {
        const uint32_t piece = std::min<uint32_t>(count - done, kTransferPiece);
        if (write) {
            if (!m.Read(buffer + done, buffer_.data(), piece)) return Done(done ? int32_t(done) : kEIMBA);
            const int64_t n = HostFolder::WriteAt(fds_[file], buffer_.data(), piece, f.offset);
            if (n <= 0) break;
            f.offset += static_cast<uint32_t>(n);
            done += static_cast<uint32_t>(n);
            if (n < piece) break;
        } else {
            int64_t n = 0;
            if (f.virtualLength > 0) {
                // The served text is made again when the file is opened; after a state's
                // load it may be shorter than the length recorded.
                const int64_t length =
                    std::min<int64_t>(f.virtualLength, static_cast<int64_t>(desktop_.size()));
                n = std::min<int64_t>(piece, length - f.offset);
                std::memcpy(buffer_.data(), desktop_.data() + f.offset,
                            static_cast<size_t>(std::max<int64_t>(n, 0)));
            } else {
                n = HostFolder::ReadAt(fds_[file], buffer_.data(), piece, f.offset);
            }
            if (n <= 0) break;
            if (!m.Write(buffer + done, buffer_.data(), static_cast<uint32_t>(n)))
                return Done(done ? int32_t(done) : kEIMBA);
            f.offset += static_cast<uint32_t>(n);
            done += static_cast<uint32_t>(n);
            if (n < piece) break;
        }
    }
    return Done(static_cast<int32_t>(done));
}

GemdosReply GemdosDrive::Fseek(GuestMemory& m, uint32_t args, uint32_t basepage) {
    uint32_t offset = 0;
    uint16_t word = 0, mode = 0;
    if (!m.ReadLong(args + 2, offset) || !m.ReadWord(args + 6, word) || !m.ReadWord(args + 8, mode))
        return Pass();
    GemdosReply refused;
    const int file = ReadyFile(static_cast<int16_t>(word), basepage, m, refused);
    if (file < 0) return refused;
    File& f = s_.files[file];
    const int64_t length = f.virtualLength > 0 ? int64_t{f.virtualLength} : HostFolder::Length(fds_[file]);
    int64_t base = 0;
    switch (mode) {
        case 0:
            base = 0;
            break;
        case 1:
            base = f.offset;
            break;
        case 2:
            base = length;
            break;
        default:
            return Done(kEINVFN);
    }
    const int64_t target = base + static_cast<int32_t>(offset);
    if (target < 0 || target > length) return Done(kERANGE);
    f.offset = static_cast<uint32_t>(target);
    return Done(static_cast<int32_t>(target));
}

GemdosReply GemdosDrive::Fdelete(GuestMemory& m, uint32_t args, uint32_t basepage) {
    VEXIL_PATH_ARGUMENT(2, path)
    Resolved r = Resolve(path, basepage, m);
    if (r.error) return Done(r.error);
    if (r.leaf.empty() || HasWildcard(r.leaf) || r.host.empty() || r.entry.folder) return Done(kEFILNF);
    if (r.entry.readOnly) return Done(kEACCDN);
    return Done(folder_.RemoveFile(r.host));
}

GemdosReply GemdosDrive::Frename(GuestMemory& m, uint32_t args, uint32_t basepage) {
    VEXIL_PATH_ARGUMENT(4, from)
    uint32_t toAddress = 0;
    std::string to;
    if (!m.ReadLong(args + 8, toAddress) || !ReadPath(m, toAddress, to)) return Done(kEPTHNF);
    if (!OnDriveC(to, basepage, m)) return Done(kENSAME);
    Resolved a = Resolve(from, basepage, m);
    if (a.error) return Done(a.error);
    if (a.leaf.empty() || HasWildcard(a.leaf) || a.host.empty()) return Done(kEFILNF);
    Resolved b = Resolve(to, basepage, m);
    if (b.error) return Done(b.error);
    if (b.leaf.empty() || HasWildcard(b.leaf)) return Done(kEACCDN);
    if (!b.host.empty()) return Done(kEACCDN);
    if (a.entry.readOnly) return Done(kEACCDN);
    return Done(folder_.Rename(a.host, JoinHost(b.folder, CutName(b.leaf))));
}

GemdosReply GemdosDrive::Fattrib(GuestMemory& m, uint32_t args, uint32_t basepage) {
    VEXIL_PATH_ARGUMENT(2, path)
    uint16_t set = 0, attribute = 0;
    if (!m.ReadWord(args + 6, set) || !m.ReadWord(args + 8, attribute)) return Pass();
    Resolved r = Resolve(path, basepage, m);
    if (r.error) return Done(r.error);
    if (r.leaf.empty() || HasWildcard(r.leaf) || r.host.empty() || r.entry.folder) return Done(kEFILNF);
    if (set == 0) return Done(r.entry.readOnly ? kAttrReadOnly : 0);
    if (attribute & ~(kAttrReadOnly | kAttrArchive)) return Done(kEACCDN);
    const int32_t result = folder_.SetReadOnly(r.host, (attribute & kAttrReadOnly) != 0);
    return Done(result < 0 ? result : attribute & kAttrReadOnly);
}

GemdosReply GemdosDrive::Fdatime(GuestMemory& m, uint32_t args, uint32_t basepage) {
    uint32_t pointer = 0;
    uint16_t word = 0, set = 0;
    if (!m.ReadLong(args + 2, pointer) || !m.ReadWord(args + 6, word) || !m.ReadWord(args + 8, set))
        return Pass();
    GemdosReply refused;
    const int file = ReadyFile(static_cast<int16_t>(word), basepage, m, refused);
    if (file < 0) return refused;
    if (set == 0) {
        const std::time_t when = fds_[file] >= 0 ? HostFolder::Modified(fds_[file]) : 0;
        if (!m.WriteWord(pointer, PackedTime(when)) || !m.WriteWord(pointer + 2, PackedDate(when)))
            return Done(kEIMBA);
        return Done(0);
    }
    uint16_t time = 0, date = 0;
    if (!m.ReadWord(pointer, time) || !m.ReadWord(pointer + 2, date)) return Done(kEIMBA);
    if (fds_[file] < 0 || !s_.files[file].write) return Done(kEACCDN);
    return Done(folder_.SetModified(fds_[file], HostTime(date, time)));
}

GemdosReply GemdosDrive::Fdup(GuestMemory& m, uint32_t args, uint32_t basepage) {
    uint16_t word = 0;
    if (!m.ReadWord(args + 2, word)) return Pass();
    const int16_t standard = static_cast<int16_t>(word);
    if (standard < 0 || standard > 5) return Pass();
    const int file = FileOfHandle(standard, basepage, m);
    if (file < 0) return Pass();
    return Done(NewHandle(file, basepage));
}

GemdosReply GemdosDrive::Fforce(GuestMemory& m, uint32_t args, uint32_t basepage) {
    uint16_t stdWord = 0, word = 0;
    if (!m.ReadWord(args + 2, stdWord) || !m.ReadWord(args + 4, word)) return Pass();
    const int16_t standard = static_cast<int16_t>(stdWord), handle = static_cast<int16_t>(word);
    const bool ours = handle >= kFirstHandle && handle < kFirstHandle + kMaxHandles;
    if (standard < 0 || standard > 5) return ours ? Done(kEIHNDL) : Pass();
    // Whatever the standard handle pointed at in this process is replaced.
    for (Forced& f : s_.forced) {
        if (f.basepage != basepage || f.standard != standard) continue;
        ReleaseFile(f.file);
        f = Forced{};
    }
    if (!ours) return Pass();
    const Handle& h = s_.handles[handle - kFirstHandle];
    if (h.owner == 0) return Done(kEIHNDL);
    for (Forced& f : s_.forced) {
        if (f.basepage != 0) continue;
        f = {basepage, standard, h.file};
        ++s_.files[h.file].refs;
        return Done(0);
    }
    return Done(kENHNDL);
}

GemdosReply GemdosDrive::Pexec(GuestMemory& m, uint32_t args, uint32_t basepage) {
    uint16_t mode = 0;
    if (!m.ReadWord(args + 2, mode) || (mode != 0 && mode != 3)) return Pass();
    VEXIL_PATH_ARGUMENT(4, path)
    Resolved r = Resolve(path, basepage, m);
    if (r.error) return Done(r.error);
    if (r.leaf.empty() || HasWildcard(r.leaf) || r.host.empty() || r.entry.folder) return Done(kEFILNF);
    const int32_t fd = folder_.OpenFile(r.host, false, false);
    if (fd < 0) return Done(fd);
    uint8_t header[kProgramHeader];
    const int64_t n = HostFolder::ReadAt(fd, header, kProgramHeader, 0);
    HostFolder::CloseFile(fd);
    if (n != kProgramHeader || (header[0] << 8 | header[1]) != kProgramMagic) return Done(kEPLFMT);
    CopyPath(s_.load, r.host);
    GemdosReply reply;
    reply.kind = GemdosReply::Kind::kLoad;
    reply.mode = mode;
    reply.prgFlags =
        static_cast<uint32_t>(header[22]) << 24 | header[23] << 16 | header[24] << 8 | header[25];
    return reply;
}

#undef VEXIL_PATH_ARGUMENT

}  // namespace vexil::gemdos

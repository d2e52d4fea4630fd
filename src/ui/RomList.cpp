#include "ui/RomList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace vexil {

namespace {

bool SamePath(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsCartridge(RomKind kind) {
    return kind == kRomDiagnostic || kind == kRomApplication;
}

}  // namespace

RomKind RomKindOf(const uint8_t* header, size_t length) {
    if (length >= 2 && header[0] == 0x60 && (header[1] == 0x2E || header[1] == 0x1E)) return kRomTos;
    if (length < 4) return kRomUnknown;
    const uint32_t magic =
        uint32_t(header[0]) << 24 | uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
    if (magic == 0xFA52235F) return kRomDiagnostic;
    if (magic == 0xABCDEF42) return kRomApplication;
    return kRomUnknown;
}

int32_t RomList::Add(const std::string& path, RomRefusal* why) {
    const auto refuse = [why](RomRefusal reason) {
        if (why) *why = reason;
        return -1;
    };
    if (path.empty()) return refuse(RomRefusal::kUnreadable);
    if (path.size() > kMaxPath) return refuse(RomRefusal::kPathTooLong);
    for (const Entry& e : entries_) {
        if (SamePath(e.path, path)) return refuse(RomRefusal::kAlreadyListed);
    }
    // Only plain files: a device or a pipe named in the settings could block or never end.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return refuse(RomRefusal::kUnreadable);
    Entry entry;
    std::ifstream file(path, std::ios::binary);
    if (!file) return refuse(RomRefusal::kUnreadable);
    file.read(reinterpret_cast<char*>(entry.header), kHeaderBytes);
    if (file.bad()) return refuse(RomRefusal::kUnreadable);
    entry.kind = RomKindOf(entry.header, static_cast<size_t>(file.gcount()));
    if (entry.kind == kRomUnknown) return refuse(RomRefusal::kNotRom);
    if (why) *why = RomRefusal::kNone;
    entry.path = path;
    entry.id = nextId_++;
    entries_.insert(entries_.begin(), std::move(entry));
    return static_cast<int32_t>(entries_.front().id);
}

void RomList::Remove(int32_t id) {
    std::erase_if(entries_, [id](const Entry& e) { return static_cast<int32_t>(e.id) == id; });
}

int32_t RomList::IdAt(int32_t position) const {
    if (position < 0 || position >= Count()) return -1;
    return static_cast<int32_t>(entries_[static_cast<size_t>(position)].id);
}

const RomList::Entry* RomList::Find(int32_t id) const {
    for (const Entry& e : entries_) {
        if (static_cast<int32_t>(e.id) == id) return &e;
    }
    return nullptr;
}

RomKind RomList::Kind(int32_t id) const {
    const Entry* e = Find(id);
    return e ? e->kind : kRomUnknown;
}

bool RomList::IsActive(int32_t id) const {
    const Entry* e = Find(id);
    return e && e->active;
}

void RomList::SetActive(int32_t id) {
    Entry* target = nullptr;
    for (Entry& e : entries_) {
        if (static_cast<int32_t>(e.id) == id) target = &e;
    }
    if (!target) {
        for (Entry& e : entries_) {
            if (IsCartridge(e.kind)) e.active = false;
        }
        return;
    }
    target->active = IsCartridge(target->kind) ? !target->active : true;
    for (Entry& e : entries_) {
        if (&e != target && IsCartridge(e.kind) == IsCartridge(target->kind)) e.active = false;
    }
}

int32_t RomList::FindActive(bool cartridge) const {
    for (const Entry& e : entries_) {
        if (e.active && IsCartridge(e.kind) == cartridge) return static_cast<int32_t>(e.id);
    }
    return -1;
}

void RomList::Clear() {
    entries_.clear();
    nextId_ = 0;
}

}  // namespace vexil

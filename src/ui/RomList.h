// The user's collection of TOS ROM and cartridge images: at most one active TOS ROM and at most
// one active cartridge. The settings file persists it; start-up picks the ROM and the cartridge
// from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexil {

enum RomKind : int32_t { kRomTos = 0, kRomDiagnostic = 1, kRomApplication = 2, kRomUnknown = -1 };

// The kind named by an image's first bytes: a 68000 branch (0x60 0x2E or 0x60 0x1E) is a TOS
// ROM, 0xFA52235F a diagnostic cartridge, 0xABCDEF42 an application cartridge.
RomKind RomKindOf(const uint8_t* header, size_t length);

// Why an image was not added to the list.
enum class RomRefusal { kNone, kAlreadyListed, kPathTooLong, kUnreadable, kNotRom };

class RomList {
public:
    static constexpr size_t kHeaderBytes = 64;
    static constexpr size_t kMaxPath = 255;  // the path buffer holds 256 bytes with its terminator

    struct Entry {
        uint32_t id = 0;  // the number of entries added before this one
        bool active = false;
        RomKind kind = kRomTos;
        std::string path;
        uint8_t header[kHeaderBytes] = {};  // bytes past the end of a short file are zero
    };

    // Puts a new inactive entry at the front and returns its id, or -1 when the path is already
    // in the list (letter case aside), too long, unreadable, or not a ROM or cartridge image.
    int32_t Add(const std::string& path, RomRefusal* why = nullptr);
    void Remove(int32_t id);
    int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
    // The id at a position counted from the front, or -1.
    int32_t IdAt(int32_t position) const;
    const Entry* Find(int32_t id) const;
    RomKind Kind(int32_t id) const;
    bool IsActive(int32_t id) const;
    // A TOS ROM becomes the active one; a cartridge toggles. Every other entry of the same class
    // is made inactive. An id that is not in the list makes every cartridge inactive.
    void SetActive(int32_t id);
    // The first active entry from the front of the wanted class, or -1.
    int32_t FindActive(bool cartridge) const;
    void Clear();

private:
    std::vector<Entry> entries_;  // front first
    uint32_t nextId_ = 0;
};

}  // namespace vexil

#include "gemdos/GemdosNames.h"

#include <algorithm>
#include <map>

namespace vexil::gemdos {

namespace {

char NameChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') return static_cast<char>(u - 'a' + 'A');
    if ((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u >= 0x80) return c;
    static constexpr std::string_view kAllowed = "!#$%&'()-@^_`{}~";
    return kAllowed.find(c) != std::string_view::npos ? c : '_';
}

// FNV-1a over the host name: the source of a clashing name's suffix.
uint32_t NameHash(std::string_view name, uint32_t salt) {
    uint32_t h = 2166136261u ^ salt;
    for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h;
}

std::string Join(std::string_view base, std::string_view ext) {
    std::string out(base);
    if (!ext.empty()) out.append(".").append(ext);
    return out;
}

}  // namespace

std::string CutName(std::string_view name) {
    // "." and ".." are names of their own; other leading dots belong to the name.
    if (name == "." || name == "..") return std::string(name);
    const size_t dot = name.rfind('.');
    std::string_view base = name, ext;
    if (dot != std::string_view::npos && dot > 0) base = name.substr(0, dot), ext = name.substr(dot + 1);
    std::string b, e;
    for (char c : base.substr(0, 8)) b += NameChar(c);
    for (char c : ext.substr(0, 3)) e += NameChar(c);
    if (b.empty()) b.push_back('_');
    return Join(b, e);
}

std::string Template11(std::string_view name) {
    std::string out(11, ' ');
    if (name == "." || name == "..") {
        out.replace(0, name.size(), name);
        return out;
    }
    const size_t dot = name.rfind('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view ext = dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
    auto fill = [&](std::string_view part, size_t at, size_t width) {
        for (size_t i = 0; i < width && i < part.size(); ++i) {
            if (part[i] == '*') {
                for (size_t j = i; j < width; ++j) out[at + j] = '?';
                return;
            }
            const char c = part[i];
            out[at + i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
    };
    fill(base, 0, 8);
    fill(ext, 8, 3);
    return out;
}

bool NameMatches(std::string_view pattern, std::string_view name) {
    const std::string p = Template11(pattern), n = Template11(name);
    // A pattern never matches "." or ".." through its first character alone unless it is a
    // wildcard there, as for every other name.
    for (size_t i = 0; i < 11; ++i)
        if (p[i] != '?' && p[i] != n[i]) return false;
    return true;
}

bool AttributeMatches(uint8_t search, uint8_t entry) {
    if (search != kAttrVolume) search |= kAttrArchive | kAttrReadOnly;
    if (search != kAttrVolume && search != kAttrFolder && entry == 0) return true;
    return (search & entry) != 0;
}

std::vector<MappedName> MapNames(const std::vector<std::string>& hostNames) {
    std::map<std::string, int> counts;
    std::vector<MappedName> out;
    out.reserve(hostNames.size());
    for (const std::string& host : hostNames) {
        out.push_back({host, CutName(host)});
        ++counts[out.back().st];
    }
    std::map<std::string, int> taken;
    for (const MappedName& m : out)
        if (counts[m.st] == 1) taken[m.st] = 1;
    // Clashing names, in host name order so that the rare second try is stable too.
    std::vector<MappedName*> clashing;
    for (MappedName& m : out)
        if (counts[m.st] > 1) clashing.push_back(&m);
    std::sort(clashing.begin(), clashing.end(), [](auto* a, auto* b) { return a->host < b->host; });
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (MappedName* m : clashing) {
        const size_t dot = m->st.find('.');
        const std::string base = m->st.substr(0, std::min<size_t>(dot, 4));
        const std::string ext = dot == std::string::npos ? "" : m->st.substr(dot + 1);
        for (uint32_t salt = 0;; ++salt) {
            const uint32_t h = NameHash(m->host, salt);
            const std::string name =
                Join(base + '~' + kHex[(h >> 8) & 15] + kHex[(h >> 4) & 15] + kHex[h & 15], ext);
            if (taken.emplace(name, 1).second) {
                m->st = name;
                break;
            }
        }
    }
    std::sort(out.begin(), out.end(), [](const MappedName& a, const MappedName& b) { return a.st < b.st; });
    return out;
}

uint16_t PackedTime(std::time_t when) {
    std::tm t{};
    if (localtime_r(&when, &t) == nullptr) return 0;
    if (t.tm_year < 80) return 0;
    if (t.tm_year > 199) return static_cast<uint16_t>(23 << 11 | 59 << 5 | 29);
    return static_cast<uint16_t>(t.tm_hour << 11 | t.tm_min << 5 | std::min(t.tm_sec, 59) / 2);
}

uint16_t PackedDate(std::time_t when) {
    std::tm t{};
    if (localtime_r(&when, &t) == nullptr) return 1 << 5 | 1;
    if (t.tm_year < 80) return 1 << 5 | 1;
    if (t.tm_year > 199) return static_cast<uint16_t>(119 << 9 | 12 << 5 | 31);
    return static_cast<uint16_t>((t.tm_year - 80) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday);
}

std::time_t HostTime(uint16_t date, uint16_t time) {
    std::tm t{};
    t.tm_year = 80 + (date >> 9);
    t.tm_mon = std::clamp((date >> 5) & 15, 1, 12) - 1;
    t.tm_mday = std::clamp(date & 31, 1, 31);
    t.tm_hour = std::min(time >> 11, 23);
    t.tm_min = std::min((time >> 5) & 63, 59);
    t.tm_sec = std::min((time & 31) * 2, 58);
    t.tm_isdst = -1;
    return std::mktime(&t);
}

}  // namespace vexil::gemdos

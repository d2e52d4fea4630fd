#include "app/Config.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace vexil {

namespace {

constexpr size_t kMaxFileBytes = 1 << 20;

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-' || c == ' ';
}

bool ValidName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), IsNameChar);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A number token, or false when it is not one (too large counts as not one).
bool ParseNumber(std::string_view s, uint32_t& out) {
    uint64_t value = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        if (s.size() > 10) return false;
        for (char c : s.substr(2)) {
            const int d = HexDigit(c);
            if (d < 0) return false;
            value = value * 16 + static_cast<uint64_t>(d);
        }
    } else {
        if (s.empty() || s.size() > 10) return false;
        for (char c : s) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<uint64_t>(c - '0');
        }
        if (value > 0xFFFFFFFF) return false;
    }
    out = static_cast<uint32_t>(value);
    return true;
}

// A quoted string starting at s[0] == '"'. Returns false on a syntax error; `rest` gets what
// follows the closing quote.
bool ParseQuoted(std::string_view s, std::string& out, std::string_view& rest) {
    out.clear();
    for (size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            rest = s.substr(i + 1);
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= s.size()) return false;
        switch (s[i]) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                if (i + 2 >= s.size()) return false;
                const int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
                if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;  // strings end at a zero
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return false;  // no closing quote
}

void AppendQuoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return ".";
}

// An XDG base directory: the variable when it holds an absolute path, else the fallback.
std::string XdgDirectory(const char* variable, const char* fallback) {
    if (const char* dir = std::getenv(variable); dir && dir[0] == '/') return dir;
    return HomeDirectory() + "/" + fallback;
}

struct Field {
    const char* section;
    const char* name;
    uint32_t MachineConfig::*field;
};

// The DWORD values held in 32 bits, in file order.
constexpr Field kNumberFields[] = {
    {"Graphics", "ForceVBLSync", &MachineConfig::ForceVBLSync},
    {"Graphics", "FrameSkip", &MachineConfig::FrameSkip},
    {"Graphics", "VideoDevice", &MachineConfig::VideoDevice},
    {"Graphics", "VideoAdapter", &MachineConfig::VideoAdapter},
    {"Graphics", "VideoRefresh", &MachineConfig::VideoRefresh},
    {"Machine", "RAMSize", &MachineConfig::RAMSize},
    {"Machine", "FastDisk", &MachineConfig::FastDisk},
    {"Machine", "YMSound", &MachineConfig::YMSound},
    {"Machine", "bDACSound", &MachineConfig::bDacSound},
    {"Machine", "bLowPass", &MachineConfig::bLowPass},
    {"Machine", "bProfile", &MachineConfig::bProfile},
    {"Machine", "bSoundDebug", &MachineConfig::bSoundDebug},
    {"Machine", "DiskSound", &MachineConfig::DiskSound},
    {"Machine", "DriveBConnected", &MachineConfig::DriveBConnected},
    {"Machine", "Machine", &MachineConfig::Machine},
    {"Machine", "Monitor", &MachineConfig::Monitor},
    {"Machine", "bDontShow", &MachineConfig::bDontShow},
    {"Machine", "bUseJoystick", &MachineConfig::bUseJoystick},
    {"Machine", "bArrowForJoystick", &MachineConfig::bArrowForJoystick},
    {"Machine", "SteJoypad", &MachineConfig::SteJoypad},
    {"Machine", "bUseTexture", &MachineConfig::bUseTexture},
    {"Machine", "g_softwareMode", &MachineConfig::g_softwareMode},
    {"Disks", "AutoInsertDiskA", &MachineConfig::AutoInsertDiskA},
    {"Disks", "WriteProtectDisks", &MachineConfig::WriteProtectDisks},
};

struct ByteField {
    const char* section;
    const char* name;
    uint8_t MachineConfig::*field;
};

constexpr ByteField kByteFields[] = {
    {"Graphics", "bFullscreen", &MachineConfig::bFullscreen},
    {"Graphics", "bAskFullscreen", &MachineConfig::bAskFullscreen},
    {"Machine", "bUseTextureFiltering", &MachineConfig::bUseTextureFiltering},
};

struct PathField {
    const char* name;
    std::string MachineConfig::*field;
};

constexpr PathField kPathFields[] = {
    {"DriveA", &MachineConfig::DriveA},
    {"DriveB", &MachineConfig::DriveB},
    {"Directory", &MachineConfig::Directory},
    {"FolderDrive", &MachineConfig::FolderDrive},
};

// The index of a "ROM%d" or "Active%d" name, written as printf writes it, or -1.
int64_t IndexAfter(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || !SameName(name.substr(0, prefix.size()), prefix)) return -1;
    const std::string_view digits = name.substr(prefix.size());
    if (digits.size() > 1 && digits[0] == '0') return -1;
    if (digits.find_first_not_of("0123456789") != std::string_view::npos) return -1;
    uint32_t value = 0;
    if (!ParseNumber(digits, value)) return -1;
    return value;
}

}  // namespace

bool SettingsFile::Parse(std::string_view text, std::string* error) {
    sections_.clear();
    auto fail = [&](size_t line, const char* what) {
        if (error) *error = "line " + std::to_string(line) + ": " + what;
        sections_.clear();
        return false;
    };
    Section* current = nullptr;
    size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        for (char c : line) {
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
                return fail(lineNumber, "control character");
        }
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            if (close == std::string_view::npos) return fail(lineNumber, "section without ']'");
            const std::string_view name = Trim(line.substr(1, close - 1));
            const std::string_view rest = Trim(line.substr(close + 1));
            if (!ValidName(name)) return fail(lineNumber, "bad section name");
            if (!rest.empty() && rest[0] != ';' && rest[0] != '#')
                return fail(lineNumber, "text after a section");
            current = &Open(name);
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) return fail(lineNumber, "neither a section nor a value");
        if (!current) return fail(lineNumber, "value before any section");
        const std::string_view name = Trim(line.substr(0, equals));
        if (!ValidName(name)) return fail(lineNumber, "bad value name");
        std::string_view raw = Trim(line.substr(equals + 1));
        SettingsValue value;
        value.name = std::string(name);
        if (!raw.empty() && raw[0] == '"') {
            std::string_view rest;
            if (!ParseQuoted(raw, value.text, rest))
                return fail(lineNumber, "unterminated or badly escaped string");
            rest = Trim(rest);
            if (!rest.empty() && rest[0] != ';' && rest[0] != '#')
                return fail(lineNumber, "text after a string");
            value.type = SettingsValue::Type::kString;
        } else {
            const size_t comment = raw.find_first_of(";#");
            if (comment != std::string_view::npos) raw = Trim(raw.substr(0, comment));
            if (ParseNumber(raw, value.number)) {
                value.type = SettingsValue::Type::kNumber;
            } else {
                value.type = SettingsValue::Type::kOther;
                value.text = std::string(raw);
            }
        }
        current->values.push_back(std::move(value));
    }
    return true;
}

std::string SettingsFile::Format() const {
    std::string out = "; Vexil settings\n";
    for (const Section& section : sections_) {
        out += "\n[" + section.name + "]\n";
        for (const SettingsValue& v : section.values) {
            out += v.name + " = ";
            if (v.type == SettingsValue::Type::kNumber)
                out += std::to_string(v.number);
            else
                AppendQuoted(out, v.text);
            out += '\n';
        }
    }
    return out;
}

const SettingsFile::Section* SettingsFile::Find(std::string_view section) const {
    for (const Section& s : sections_) {
        if (SameName(s.name, section)) return &s;
    }
    return nullptr;
}

const SettingsValue* SettingsFile::Find(std::string_view section, std::string_view name) const {
    const SettingsValue* found = nullptr;
    for (const Section& s : sections_) {
        if (!SameName(s.name, section)) continue;
        for (const SettingsValue& v : s.values) {
            if (SameName(v.name, name)) found = &v;
        }
    }
    return found;
}

uint32_t SettingsFile::Number(std::string_view section, std::string_view name, uint32_t fallback) const {
    const SettingsValue* v = Find(section, name);
    return v && v->type == SettingsValue::Type::kNumber ? v->number : fallback;
}

void SettingsFile::ReadString(std::string_view section, std::string_view name, size_t maxLength,
                              std::string& out) const {
    const SettingsValue* v = Find(section, name);
    if (v && v->type == SettingsValue::Type::kString && v->text.size() <= maxLength) out = v->text;
}

SettingsFile::Section& SettingsFile::Open(std::string_view section) {
    for (Section& s : sections_) {
        if (SameName(s.name, section)) return s;
    }
    sections_.push_back({std::string(section), {}});
    return sections_.back();
}

void SettingsFile::SetNumber(std::string_view section, std::string_view name, uint32_t value) {
    SettingsValue v;
    v.name = std::string(name);
    v.type = SettingsValue::Type::kNumber;
    v.number = value;
    Open(section).values.push_back(std::move(v));
}

void SettingsFile::SetString(std::string_view section, std::string_view name, std::string_view value) {
    SettingsValue v;
    v.name = std::string(name);
    v.type = SettingsValue::Type::kString;
    v.text = std::string(value);
    Open(section).values.push_back(std::move(v));
}

void LoadConfigFrom(const SettingsFile& file, MachineConfig& config, RomList& roms) {
    // The ROM list: from the last position to the first, since each add goes to the front.
    roms.Clear();
    const uint32_t count = file.Number("ROMS", "Count", 0);
    if (const SettingsFile::Section* section = file.Find("ROMS")) {
        // Only positions that have a value can change the list: walking those alone keeps a
        // huge Count from taking forever.
        std::set<uint32_t, std::greater<>> positions;
        for (const SettingsValue& v : section->values) {
            for (const char* prefix : {"ROM", "Active"}) {
                const int64_t index = IndexAfter(v.name, prefix);
                if (index >= 0 && index < count) positions.insert(static_cast<uint32_t>(index));
            }
        }
        for (const uint32_t i : positions) {
            std::string path;
            file.ReadString("ROMS", "ROM" + std::to_string(i), RomList::kMaxPath, path);
            const int32_t id = roms.Add(path);
            if (file.Number("ROMS", "Active" + std::to_string(i), 0) != 0) roms.SetActive(id);
        }
    }

    for (const Field& f : kNumberFields) config.*f.field = file.Number(f.section, f.name, config.*f.field);
    for (const ByteField& f : kByteFields)
        config.*f.field = file.Number(f.section, f.name, config.*f.field) != 0;
    for (const PathField& f : kPathFields) file.ReadString("Disks", f.name, kMaxConfigPath, config.*f.field);
    config.RecentImages.clear();
    for (size_t i = 0; i < kRecentImages; ++i) {
        std::string path;
        file.ReadString("Disks", "Recent" + std::to_string(i), kMaxConfigPath, path);
        if (!path.empty()) config.RecentImages.push_back(path);
    }

    // Values a damaged or hostile file could push out of their range.
    if (config.RAMSize > kLastRamSize) config.RAMSize &= 3;
    config.bUseTexture = config.bUseTexture != 0;
    config.FastDisk = config.FastDisk != 0;
    config.DriveBConnected = config.DriveBConnected != 0;
    config.WriteProtectDisks = config.WriteProtectDisks != 0;
    if (config.Machine > 1) config.Machine = MachineConfig{}.Machine;
    if (config.Monitor > 1) config.Monitor = MachineConfig{}.Monitor;
    if (config.FrameSkip > 9) config.FrameSkip = 9;
    if (config.g_softwareMode > 3) config.g_softwareMode = MachineConfig{}.g_softwareMode;
    ApplyRamSize(config, config.RAMSize);
}

ConfigLoad LoadConfig(const std::string& path, MachineConfig& config, RomList& roms) {
    ConfigLoad result;
    config = MachineConfig{};
    roms.Clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT) return result;
        result.status = ConfigStatus::kDamaged;
        result.message = "cannot read the settings file \"" + path + "\": " + std::strerror(errno);
        return result;
    }
    std::string text(kMaxFileBytes + 1, '\0');
    const size_t length = std::fread(text.data(), 1, text.size(), f);
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    text.resize(length);
    std::string why;
    SettingsFile file;
    if (readError)
        why = "read error";
    else if (length > kMaxFileBytes)
        why = "larger than 1 MB";
    else if (!file.Parse(text, &why))
        why = "damaged at " + why;
    if (!why.empty()) {
        result.status = ConfigStatus::kDamaged;
        result.message = "the settings file \"" + path + "\" is not usable (" + why + "); using the defaults";
        ApplyRamSize(config, config.RAMSize);
        return result;
    }
    LoadConfigFrom(file, config, roms);
    result.status = ConfigStatus::kLoaded;
    return result;
}

SettingsFile SettingsOf(const MachineConfig& config, const RomList& roms) {
    SettingsFile file;
    const int32_t count = roms.Count();
    file.SetNumber("ROMS", "Count", static_cast<uint32_t>(count));
    for (int32_t i = count - 1; i >= 0; --i) {
        const RomList::Entry* e = roms.Find(roms.IdAt(i));
        file.SetString("ROMS", "ROM" + std::to_string(i), e->path);
        file.SetNumber("ROMS", "Active" + std::to_string(i), e->active ? 1 : 0);
    }
    for (const Field& f : kNumberFields) {
        if (std::strcmp(f.section, "Graphics") == 0) file.SetNumber(f.section, f.name, config.*f.field);
    }
    for (const ByteField& f : kByteFields) {
        if (std::strcmp(f.section, "Graphics") == 0)
            file.SetNumber(f.section, f.name, config.*f.field ? 1 : 0);
    }
    for (const Field& f : kNumberFields) {
        if (std::strcmp(f.section, "Machine") == 0) file.SetNumber(f.section, f.name, config.*f.field);
    }
    file.SetNumber("Machine", "bUseTextureFiltering", config.bUseTextureFiltering ? 1 : 0);
    for (const PathField& f : kPathFields) file.SetString("Disks", f.name, config.*f.field);
    file.SetNumber("Disks", "AutoInsertDiskA", config.AutoInsertDiskA);
    file.SetNumber("Disks", "WriteProtectDisks", config.WriteProtectDisks);
    for (size_t i = 0; i < config.RecentImages.size() && i < kRecentImages; ++i)
        file.SetString("Disks", "Recent" + std::to_string(i), config.RecentImages[i]);
    return file;
}

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string* error) {
    const std::string temporary = path + ".new";
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + " \"" + temporary + "\": " + std::strerror(errno);
        return false;
    };
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail("cannot create");
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int saved = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(temporary.c_str());
            errno = saved;
            return fail("cannot write");
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return fail("cannot write");
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return fail("cannot rename");
    }
    return true;
}

bool SaveConfig(const std::string& path, const MachineConfig& config, const RomList& roms,
                std::string* error) {
    return WriteFileAtomically(path, SettingsOf(config, roms).Format(), error);
}

MachineSettings MachineSettingsOf(const MachineConfig& config) {
    MachineSettings settings;
    settings.Machine = config.Machine;
    settings.RAMSize = config.RAMSize;
    settings.Monitor = config.Monitor;
    settings.DriveB = config.DriveB;
    settings.FolderDrive = config.FolderDrive;
    settings.FastDisk = config.FastDisk != 0;
    settings.YMSound = config.YMSound != 0;
    settings.DiskSound = config.DiskSound != 0;
    settings.DriveBConnected = config.DriveBConnected != 0;
    settings.bLowPass = config.bLowPass != 0;
    settings.WriteProtectDisks = config.WriteProtectDisks != 0;
    settings.OverlayFolder = DataDirectory() + "/disks";
    return settings;
}

std::string DefaultConfigPath() {
    return XdgDirectory("XDG_CONFIG_HOME", ".config") + "/vexil/vexil.ini";
}

std::string DataDirectory() {
    return XdgDirectory("XDG_DATA_HOME", ".local/share") + "/vexil";
}

}  // namespace vexil

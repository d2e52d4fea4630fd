// The user's settings: one record held for the whole run, read from the settings file at
// start-up and written back after a normal quit.
//
// The file is plain text in sections, one value a line:
//
//     [Machine]
//     RAMSize = 2          ; a DWORD: decimal, or hexadecimal after 0x
//     [Disks]
//     DriveA = "/home/me/disks/game.st"   ; a string: double-quoted, \\ \" \t \n \xHH escapes
//
// Section and value names match without regard to case; of two values with one name the
// later counts. A value of the wrong type (a string where a number belongs, a number too large
// for 32 bits, an unquoted word) is read as missing, so its default holds. A file that breaks
// the syntax (a line that is no section, value or comment, an unterminated string, a control
// character) is not used at all.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "machine/Machine.h"
#include "ui/RomList.h"
#include "ui/Settings.h"

namespace vexil {

// One value of the settings file.
struct SettingsValue {
    enum class Type { kNumber, kString, kOther };
    std::string name;
    Type type = Type::kOther;
    uint32_t number = 0;
    std::string text;
};

// The parsed file: sections in file order, values in file order within each.
class SettingsFile {
public:
    struct Section {
        std::string name;
        std::vector<SettingsValue> values;
    };

    // False (with the reason, naming the line) when the text breaks the syntax.
    bool Parse(std::string_view text, std::string* error);
    std::string Format() const;

    const Section* Find(std::string_view section) const;
    // The last value of that name, or null.
    const SettingsValue* Find(std::string_view section, std::string_view name) const;
    // The number, or `fallback` when the value is missing or not a number.
    uint32_t Number(std::string_view section, std::string_view name, uint32_t fallback) const;
    // Sets `out` from a string value of at most `maxLength` bytes; leaves it otherwise.
    void ReadString(std::string_view section, std::string_view name, size_t maxLength,
                    std::string& out) const;

    void SetNumber(std::string_view section, std::string_view name, uint32_t value);
    void SetString(std::string_view section, std::string_view name, std::string_view value);

private:
    Section& Open(std::string_view section);
    std::vector<Section> sections_;
};

enum class ConfigStatus { kLoaded, kMissing, kDamaged };

struct ConfigLoad {
    ConfigStatus status = ConfigStatus::kMissing;
    std::string message;  // why a damaged or unreadable file was not used
};

// Reads the settings into `config` and `roms` (defaults first; a ROM path whose file is missing,
// unreadable, already listed or not an image is dropped). A file that is missing, unreadable or
// damaged leaves every default.
ConfigLoad LoadConfig(const std::string& path, MachineConfig& config, RomList& roms);
void LoadConfigFrom(const SettingsFile& file, MachineConfig& config, RomList& roms);
SettingsFile SettingsOf(const MachineConfig& config, const RomList& roms);
// Writes the settings to a new file beside `path` and renames it over `path`, so that a failed
// write leaves the old file whole. False with the reason on failure.
bool SaveConfig(const std::string& path, const MachineConfig& config, const RomList& roms,
                std::string* error);
bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string* error);

// The settings a machine is built with, as the configuration gives them.
MachineSettings MachineSettingsOf(const MachineConfig& config);

// Where the settings and the program's output folders live: $XDG_CONFIG_HOME/vexil/vexil.ini
// (else ~/.config/vexil/vexil.ini) and $XDG_DATA_HOME/vexil (else ~/.local/share/vexil).
std::string DefaultConfigPath();
std::string DataDirectory();

}  // namespace vexil

#include "ui/OptionsPage.h"

#include <algorithm>
#include <cstdio>

#include "machine/Machine.h"

namespace vexil {

namespace {

constexpr const char* kCountries[17] = {"USA",
                                        "Germany",
                                        "France",
                                        "United Kingdom",
                                        "Spain",
                                        "Italy",
                                        "Sweden",
                                        "Switzerland - French)",
                                        "Switzerland - German)",
                                        "Turkey",
                                        "Finland",
                                        "Norway",
                                        "Denmark",
                                        "Saudi Arabia",
                                        "Holland",
                                        "Czechoslovakia",
                                        "Hungary"};

constexpr const char* kKindNames[3] = {"TOS ROM", "Diagnostic", "Application"};

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

const char* RefusalText(RomRefusal why) {
    switch (why) {
        case RomRefusal::kAlreadyListed:
            return "This image is already in the ROM list.";
        case RomRefusal::kPathTooLong:
            return "The path of this file is too long for the ROM list (255 characters at most).";
        case RomRefusal::kUnreadable:
            return "This file cannot be read.";
        case RomRefusal::kNotRom:
        case RomRefusal::kNone:
            break;
    }
    return "This file is not a TOS ROM or cartridge image.";
}

}  // namespace

OptionsPage::OptionsPage(PageHost& app) : app_(app) {}

void OptionsPage::Open() {
    selectedRow_ = -1;
    notices.clear();
}

void OptionsPage::SetHostChoices(HostChoices choices) {
    host_ = std::move(choices);
}

namespace {
// The RAM buttons in the order shown, and the `RAMSize` value each sets.
constexpr uint32_t kRamSizeOfChoice[5] = {0, 1, 2, 4, 3};
}  // namespace

int OptionsPage::ChoiceCount(Group group) {
    constexpr int kCounts[kGroups] = {2, 5, 2, 2, 4, 2};
    return group >= 0 && group < kGroups ? kCounts[group] : 0;
}

const char* OptionsPage::ChoiceLabel(Group group, int index) {
    static const char* const kLabels[kGroups][5] = {
        {"STFM", "STE"},
        {"512K", "1MB", "2MB", "2.5MB", "4MB"},
        {"Real Time", "Ultra Fast"},
        {"CPU Rendering", "GPU (Texture)"},
        {"Normal", "Half", "Interlace", "Blend"},
        {"Colour", "Mono"},
    };
    if (index < 0 || index >= ChoiceCount(group)) return "";
    return kLabels[group][index];
}

int OptionsPage::Choice(Group group) const {
    const MachineConfig& c = app_.Config();
    switch (group) {
        case kModel:
            return static_cast<int>(c.Machine & 1);
        case kRam:
            for (int i = 0; i < 5; ++i)
                if (kRamSizeOfChoice[i] == c.RAMSize) return i;
            return 2;
        case kDiskSpeed:
            return c.FastDisk ? 1 : 0;
        case kRenderPath:
            return c.bUseTexture ? 1 : 0;
        case kLineMode:
            return static_cast<int>(c.g_softwareMode & 3);
        case kMonitor:
            return static_cast<int>(c.Monitor & 1);
        case kGroups:
            break;
    }
    return 0;
}

bool OptionsPage::ChoiceEnabled(Group group, int index) const {
    if (index < 0 || index >= ChoiceCount(group)) return false;
    switch (group) {
        case kRam:
            return true;
        case kRenderPath:
            return index == 0 ? host_.cpuPath : host_.texturePath;
        case kLineMode:
            return app_.Config().bUseTexture == 0;
        default:
            return true;
    }
}

void OptionsPage::Choose(Group group, int index) {
    if (!ChoiceEnabled(group, index)) return;
    MachineConfig& c = app_.Config();
    const auto value = static_cast<uint32_t>(index);
    switch (group) {
        case kModel:
            c.Machine = value;  // at the next cold reset
            break;
        case kRam:
            ApplyRamSize(c, kRamSizeOfChoice[index]);  // at the next cold reset
            break;
        case kDiskSpeed:
            c.FastDisk = value;
            app_.ApplySettings();
            break;
        case kRenderPath:
            c.bUseTexture = value;  // at the next start
            break;
        case kLineMode:
            c.g_softwareMode = value;
            app_.ApplySettings();
            break;
        case kMonitor:
            c.Monitor = value;  // at the next cold reset
            break;
        case kGroups:
            break;
    }
}

const char* OptionsPage::BoxLabel(Box box) {
    static const char* const kLabels[kBoxes] = {"YM2149",
                                                "STE DAC",
                                                "Disk Drive",
                                                "Low Pass filter",
                                                "Display profiling infos",
                                                "Display sound engine output",
                                                "Use PC Joystick",
                                                "Use arrow keys as joystick",
                                                "Joystick on the STE joypad port A",
                                                "Bilinear Filtering",
                                                "Run Vexil in fullscreen",
                                                "Ask fullscreen-mode at startup",
                                                "Force PC Video sync.",
                                                "Drive B connected",
                                                "Write-protect floppies"};
    return box >= 0 && box < kBoxes ? kLabels[box] : "";
}

bool OptionsPage::Checked(Box box) const {
    const MachineConfig& c = app_.Config();
    switch (box) {
        case kYm:
            return c.YMSound != 0;
        case kDac:
            return c.bDacSound != 0;
        case kDiskNoise:
            return c.DiskSound != 0;
        case kLowPass:
            return c.bLowPass != 0;
        case kProfile:
            return c.bProfile != 0;
        case kSoundDebug:
            return c.bSoundDebug != 0;
        case kJoystick:
            return c.bUseJoystick != 0;
        case kArrows:
            return c.bArrowForJoystick != 0;
        case kSteJoypad:
            return c.SteJoypad != 0;
        case kFiltering:
            return c.bUseTextureFiltering != 0;
        case kFullscreen:
            return c.bFullscreen != 0;
        case kAskFullscreen:
            return c.bAskFullscreen != 0;
        case kVblSync:
            return c.ForceVBLSync != 0;
        case kDriveB:
            return c.DriveBConnected != 0;
        case kWriteProtect:
            return c.WriteProtectDisks != 0;
        case kBoxes:
            break;
    }
    return false;
}

bool OptionsPage::BoxEnabled(Box box) const {
    const MachineConfig& c = app_.Config();
    switch (box) {
        case kDac:
            return c.Machine == 1;
        case kJoystick:
            return host_.joystick;
        case kFiltering:
            return c.bUseTexture != 0;
        case kVblSync:
            return c.bFullscreen != 0;
        case kBoxes:
            return false;
        default:
            return true;
    }
}

void OptionsPage::SetChecked(Box box, bool on) {
    if (!BoxEnabled(box) || Checked(box) == on) return;
    MachineConfig& c = app_.Config();
    const uint32_t value = on ? 1 : 0;
    switch (box) {
        case kYm:
            c.YMSound = value;
            app_.ApplySettings();
            break;
        case kDac:
            c.bDacSound = value;
            break;
        case kDiskNoise:
            c.DiskSound = value;
            break;
        case kLowPass:
            c.bLowPass = value;
            break;
        case kProfile:
            c.bProfile = value;
            app_.ApplySettings();
            break;
        case kSoundDebug:
            c.bSoundDebug = value;
            app_.ApplySettings();
            break;
        case kJoystick:
            c.bUseJoystick = value;  // read at every frame
            break;
        case kArrows:
            c.bArrowForJoystick = value;  // read at every frame
            break;
        case kSteJoypad:
            c.SteJoypad = value;  // read at every frame
            break;
        case kFiltering:
            c.bUseTextureFiltering = static_cast<uint8_t>(value);
            break;
        case kFullscreen:
            c.bFullscreen = static_cast<uint8_t>(value);
            Restart();
            break;
        case kAskFullscreen:
            c.bAskFullscreen = static_cast<uint8_t>(value);
            break;
        case kVblSync:
            c.ForceVBLSync = value;
            break;
        case kDriveB:
            c.DriveBConnected = value;  // TOS counts its drives at the next reset
            app_.ApplySettings();
            break;
        case kWriteProtect:
            c.WriteProtectDisks = value;  // TOS sees it at its next disk-change check
            app_.ApplySettings();
            break;
        case kBoxes:
            break;
    }
}

void OptionsPage::Restart() {
    notices.push_back({kRestartCaption, kRestartText});
}

uint32_t OptionsPage::Adapter() const {
    return app_.Config().VideoAdapter;
}

void OptionsPage::ChooseAdapter(uint32_t adapter) {
    if (adapter >= host_.adapters.size() || adapter == Adapter()) return;
    app_.Config().VideoAdapter = adapter;
    // The new adapter's rates: the one chosen if it offers it, else its first.
    const std::vector<uint32_t>& rates = Rates();
    if (!rates.empty() && std::find(rates.begin(), rates.end(), Refresh()) == rates.end())
        app_.Config().VideoRefresh = rates.front();
    Restart();
}

const std::vector<uint32_t>& OptionsPage::Rates() const {
    static const std::vector<uint32_t> kNone;
    const uint32_t adapter = Adapter();
    return adapter < host_.refreshRates.size() ? host_.refreshRates[adapter] : kNone;
}

uint32_t OptionsPage::Refresh() const {
    return app_.Config().VideoRefresh;
}

bool OptionsPage::RefreshEnabled() const {
    return app_.Config().bFullscreen != 0;
}

void OptionsPage::ChooseRefresh(uint32_t hz) {
    if (!RefreshEnabled() || hz == Refresh()) return;
    const std::vector<uint32_t>& rates = Rates();
    if (std::find(rates.begin(), rates.end(), hz) == rates.end()) return;
    app_.Config().VideoRefresh = hz;
    Restart();
}

bool OptionsPage::FrameSkipShown() const {
    return app_.Config().ForceVBLSync != 0;
}

bool OptionsPage::FrameSkipEnabled() const {
    return app_.Config().bFullscreen != 0 && app_.Config().ForceVBLSync != 0;
}

uint32_t OptionsPage::FrameSkip() const {
    return app_.Config().FrameSkip;
}

void OptionsPage::StepFrameSkip(int delta) {
    if (!FrameSkipEnabled()) return;
    const int value = std::clamp(static_cast<int>(FrameSkip()) + delta, 0, 9);
    app_.Config().FrameSkip = static_cast<uint32_t>(value);
}

std::vector<OptionsPage::RomRow> OptionsPage::Rows() const {
    const RomList& roms = app_.Roms();
    std::vector<RomRow> rows;
    for (int32_t position = 0; position < roms.Count(); ++position)
        rows.push_back(RowOf(*roms.Find(roms.IdAt(position))));
    return rows;
}

OptionsPage::RomRow OptionsPage::RowOf(const RomList::Entry& entry) {
    RomRow row;
    row.id = static_cast<int32_t>(entry.id);
    const size_t slash = entry.path.find_last_of('/');
    row.file = slash == std::string::npos ? entry.path : entry.path.substr(slash + 1);
    row.type = entry.kind >= 0 && entry.kind <= 2 ? kKindNames[entry.kind] : "";
    row.active = entry.active ? "Yes" : "";
    if (entry.kind != kRomTos) {
        row.base = "$FA0000";
        return row;
    }
    const uint8_t* h = entry.header;
    row.base = Format("$%X", uint32_t(h[8]) << 24 | uint32_t(h[9]) << 16 | uint32_t(h[10]) << 8 | h[11]);
    row.version = Format("%X.%X", h[2], h[3]);
    row.date = Format("%X/%X/%X%X", h[25], h[24], h[26], h[27]);
    // Bit 0 PAL, bits 1-15 the country; codes past the table are shown by number.
    const unsigned config = unsigned(h[28]) << 8 | h[29];
    const unsigned country = config >> 1;
    row.country = (country < 17 ? std::string(kCountries[country]) : Format("Country %u", country)) +
                  ((config & 1) ? " (PAL)" : " (NTSC)");
    return row;
}

void OptionsPage::SelectRow(int row) {
    selectedRow_ = row >= 0 && row < app_.Roms().Count() ? row : -1;
}

void OptionsPage::Add(const std::string& path) {
    RomRefusal why = RomRefusal::kNone;
    const int32_t id = app_.Roms().Add(path, &why);
    if (id < 0) {
        notices.push_back({"Note", RefusalText(why)});
        return;
    }
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos) pickerFolder_ = path.substr(0, slash + 1);
    selectedRow_ = 0;  // the new row is on top
    const uint8_t* h = app_.Roms().Find(id)->header;
    if (!(h[2] == 0x01 && h[3] == 0x00))
        notices.push_back({"TOS Warning !",
                           "Vexil prefer TOS 1.00 version. If you encounter problems, please use a TOS 1.00 "
                           "instead."});
    notices.push_back({"Note", "Don't forget to activate the new ROM by clicking on the Set-Active button"});
}

void OptionsPage::SetActive() {
    const int32_t id = app_.Roms().IdAt(selectedRow_);
    if (id < 0) {
        notices.push_back(
            {"Note", "Please select a line in the ROM-List before clicking on the SET-Active button."});
        return;
    }
    // The list first, so that the cold reset loads the new TOS ROM or cartridge (or clears the
    // cartridge area) before the machine starts again.
    app_.Roms().SetActive(id);
    app_.ResetMachine(true);
    if (app_.Roms().Kind(id) == kRomTos && !app_.RomLoaded())
        notices.push_back({"Note", "This TOS ROM cannot be used: " + app_.RomProblem() + "."});
}

void OptionsPage::Delete() {
    const int32_t id = app_.Roms().IdAt(selectedRow_);
    if (id < 0) return;
    app_.Roms().Remove(id);
    selectedRow_ = -1;
}

void OptionsPage::OpenPicker() {
    picker.Open(pickerFolder_.empty() ? HomeFolder() : pickerFolder_);
}

}  // namespace vexil

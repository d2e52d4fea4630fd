// The options page of the control bar: the settings of the machine, the sound, the input and
// the display, and the list of TOS ROM and cartridge images.
//
// Every change lands in the settings at once. The drive speed, the sound chip, the line mode,
// the overlays and the joystick choices act at once; the model and the RAM size at the next
// cold reset (which rebuilds the machine); the display's adapter, refresh rate, window or
// fullscreen, path, filtering and vertical blank sync at the next start. Activating a ROM
// list entry cold-resets the machine with the new TOS ROM or cartridge loaded first.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "ui/HostFolders.h"
#include "ui/PageHost.h"
#include "ui/RomList.h"

namespace vexil {

class OptionsPage {
public:
    static constexpr const char* kRestartText = "You must restart Vexil to validate that change.";
    static constexpr const char* kRestartCaption = "Vexil Message";

    // What the host offers; the view fills it in, tests set it.
    struct HostChoices {
        std::vector<std::string> adapters;
        std::vector<std::vector<uint32_t>> refreshRates;  // per adapter, in Hz
        bool joystick = false;                            // a joystick or game controller was found
        bool cpuPath = true;
        bool texturePath = true;
    };

    // Groups of buttons of which one is chosen.
    enum Group { kModel, kRam, kDiskSpeed, kRenderPath, kLineMode, kMonitor, kGroups };
    // Check boxes.
    enum Box {
        kYm,
        kDac,
        kDiskNoise,
        kLowPass,
        kProfile,
        kSoundDebug,
        kJoystick,
        kArrows,
        kSteJoypad,
        kFiltering,
        kFullscreen,
        kAskFullscreen,
        kVblSync,
        kDriveB,
        kWriteProtect,
        kBoxes
    };

    // A message for the user, shown one at a time with an OK button.
    struct Notice {
        std::string caption;
        std::string text;
    };

    // One line of the ROM list, cells as shown.
    struct RomRow {
        int32_t id = -1;
        std::string file, type, base, version, date, country, active;
    };

    explicit OptionsPage(PageHost& app);

    // Starts the page afresh, as each showing does.
    void Open();
    void SetHostChoices(HostChoices choices);
    const HostChoices& Host() const { return host_; }

    static int ChoiceCount(Group group);
    static const char* ChoiceLabel(Group group, int index);
    int Choice(Group group) const;
    bool ChoiceEnabled(Group group, int index) const;
    void Choose(Group group, int index);

    static const char* BoxLabel(Box box);
    bool Checked(Box box) const;
    bool BoxEnabled(Box box) const;
    void SetChecked(Box box, bool on);

    uint32_t Adapter() const;
    void ChooseAdapter(uint32_t adapter);
    // The rates of the chosen adapter, and whether the list can be changed (fullscreen only).
    const std::vector<uint32_t>& Rates() const;
    uint32_t Refresh() const;
    bool RefreshEnabled() const;
    void ChooseRefresh(uint32_t hz);
    // Frame skip: kept within 0-9; shown only with ForceVBLSync, changed only in fullscreen too.
    bool FrameSkipShown() const;
    bool FrameSkipEnabled() const;
    uint32_t FrameSkip() const;
    void StepFrameSkip(int delta);

    // The ROM list, first added on top.
    std::vector<RomRow> Rows() const;
    // One entry's cells, from its path and the first bytes of its file.
    static RomRow RowOf(const RomList::Entry& entry);
    int SelectedRow() const { return selectedRow_; }
    void SelectRow(int row);
    // Adds an image picked in the file picker; a file that is not a ROM or cartridge image
    // (or is listed already, or cannot be read) is refused with a notice and changes nothing.
    void Add(const std::string& path);
    // Activates the selected image and cold-resets the machine, which loads it first.
    void SetActive();
    // Removes the selected image; what is loaded stays until it is replaced.
    void Delete();

    // The file picker of "&Add".
    FileBrowser picker;
    void OpenPicker();

    std::deque<Notice> notices;

private:
    void Restart();

    PageHost& app_;
    HostChoices host_;
    int selectedRow_ = -1;
    std::string pickerFolder_;  // where the picker opens: the folder of the last image added
};

}  // namespace vexil

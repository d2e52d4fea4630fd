// The State page of the control bar: the ten save-state slots of the current disk (or TOS),
// each with the time it was saved and the small picture of the screen its file holds, the
// current slot, and Save and Load for each. The page reads only the files' headers and
// pictures; a file that cannot be read is listed as damaged with the reason, never loaded.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vexil {

// What the page reaches of the application: where each slot's file lies, the current slot,
// and saving and loading, which say how it went (the overlay shows the same words).
class StateSlots {
public:
    virtual std::string SlotPath(int slot) const = 0;
    virtual int Slot() const = 0;
    virtual void ChooseSlot(int slot) = 0;
    virtual std::string SaveToSlot(int slot) = 0;
    virtual std::string LoadFromSlot(int slot) = 0;

protected:
    ~StateSlots() = default;
};

class StatePage {
public:
    static constexpr int kSlots = 10;
    // A slot's picture on the page: the saved one scaled to this size (1/8 of the screen).
    static constexpr int kPictureWidth = 100, kPictureHeight = 75;

    enum class Kind { kEmpty, kSaved, kDamaged };
    struct Slot {
        Kind kind = Kind::kEmpty;
        std::string time;    // "2026-12-08 19:45:02", local time of the file's last write
        std::string reason;  // why a damaged file cannot be used
        bool picture = false;
    };

    explicit StatePage(StateSlots& slots);

    // Reads the ten files again; the page calls it when it comes into view and after a save.
    void Refresh();
    const Slot& At(int slot) const {
        return slots_[static_cast<size_t>(slot < 0 || slot >= kSlots ? 0 : slot)];
    }
    // The file name all slots share, without the number ("NAME-N.vxs").
    const std::string& Name() const { return name_; }
    int Current() const { return host_.Slot(); }
    void Choose(int slot);
    void Save(int slot);
    void Load(int slot);
    // The last save's or load's outcome.
    const std::string& Status() const { return status_; }

    // The slots' pictures one above the other: kPictureWidth x (kPictureHeight * kSlots)
    // R5G6B5 pixels; slot N's starts at row N * kPictureHeight. Black where there is none.
    const uint16_t* Pictures() const { return pictures_.data(); }

private:
    StateSlots& host_;
    std::array<Slot, kSlots> slots_{};
    std::vector<uint16_t> pictures_;
    std::string name_, status_;
};

}  // namespace vexil

// The control bar's state: which page lies under the bar, which one was picked last, and
// whether the debugger item is offered. The host's view draws it; the application acts on
// the items picked.
#pragma once

#include <cstdint>
#include <string>

namespace vexil {

class DebuggerPage;
class DiskPage;
class OptionsPage;
class RecordPage;
class StatePage;

// The pages' logic: what each control does to the machine and the settings. The host's view
// draws a page from its object and calls it for what the user does; null while a page has none.
struct ControlPages {
    DebuggerPage* debugger = nullptr;
    DiskPage* disks = nullptr;
    OptionsPage* options = nullptr;
    RecordPage* record = nullptr;
    StatePage* state = nullptr;
};

enum ControlItem : int32_t {
    kItemDebugger = 0,  // only with -debug
    kItemDisks = 1,
    kItemOptions = 2,
    kItemRecord = 3,
    kItemState = 4,
    kItemRun = 5,
    kItemQuit = 6,
    kControlItems = 7,
};

class ControlBar {
public:
    // The item's caption on the bar.
    static const char* Caption(int item);

    explicit ControlBar(bool debug = false) : debug_(debug) {}
    bool Debug() const { return debug_; }
    bool Offers(int item) const { return item >= (debug_ ? 0 : 1) && item < kControlItems; }

    // -1 when the bar is hidden, else the page shown under it (0-4).
    int CurrentPage() const { return currentPage_; }
    int LastPage() const { return lastPage_; }
    bool Shown() const { return currentPage_ >= 0; }
    // Shows page 0-4 (and the bar), or hides both with -1.
    void ShowPage(int item) { currentPage_ = item; }
    // A page picked on the bar: shown, and remembered for the next return to the menu.
    void PickPage(int item) {
        lastPage_ = item;
        ShowPage(item);
    }

    // A line shown above the page, such as a settings file that could not be used.
    std::string notice;
    ControlPages pages;

private:
    bool debug_;
    int currentPage_ = -1;
    int lastPage_ = kItemDisks;
};

}  // namespace vexil

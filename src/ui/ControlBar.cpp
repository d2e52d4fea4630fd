#include "ui/ControlBar.h"

namespace vexil {

const char* ControlBar::Caption(int item) {
    static const char* const kCaptions[kControlItems] = {"Debugger", "Disks", "Options", "Record",
                                                         "State",    "Run",   "Quit"};
    return item >= 0 && item < kControlItems ? kCaptions[item] : "";
}

}  // namespace vexil

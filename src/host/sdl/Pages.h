// The control bar's pages, drawn with Dear ImGui inside the page window the bar opens. Each
// draws its page object's state and calls it for what the user does; the logic stays in the
// object, so it is tested without a window.
#pragma once

#include <cstdint>

#include "ui/ControlBar.h"

namespace vexil::host {

void DrawDebuggerPage(DebuggerPage& page);
void DrawDiskPage(DiskPage& page);
void DrawOptionsPage(OptionsPage& page);
void DrawRecordPage(RecordPage& page);
void DrawStatePage(StatePage& page);

// A picture for a page: `width` x `height` R5G6B5 pixels uploaded into the bar's texture for
// pictures, to be drawn with ImGui::Image this turn. Null without a display.
void* PagePicture(const uint16_t* pixels, int width, int height);

// The current page of the bar, or a line saying it is not there.
void DrawPage(const ControlBar& bar);

}  // namespace vexil::host

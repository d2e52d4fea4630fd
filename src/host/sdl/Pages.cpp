#include "host/sdl/Pages.h"

#include <imgui.h>

namespace vexil::host {

namespace {

template <typename Page>
void DrawIf(Page* page, void (*draw)(Page&)) {
    if (page != nullptr)
        draw(*page);
    else
        ImGui::TextUnformatted("This page is not built yet.");
}

}  // namespace

void DrawPage(const ControlBar& bar) {
    const ControlPages& pages = bar.pages;
    switch (bar.CurrentPage()) {
        case kItemDebugger:
            DrawIf(pages.debugger, DrawDebuggerPage);
            break;
        case kItemDisks:
            DrawIf(pages.disks, DrawDiskPage);
            break;
        case kItemOptions:
            DrawIf(pages.options, DrawOptionsPage);
            break;
        case kItemRecord:
            DrawIf(pages.record, DrawRecordPage);
            break;
        case kItemState:
            DrawIf(pages.state, DrawStatePage);
            break;
        default:
            break;
    }
}

}  // namespace vexil::host

#include <imgui.h>

#include "host/sdl/Pages.h"

namespace vexil::host {

void DrawDebuggerPage(DebuggerPage&) {}

}  // namespace vexil::host

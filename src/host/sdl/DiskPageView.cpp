#include <imgui.h>

#include "host/sdl/Pages.h"

namespace vexil::host {

void DrawDiskPage(DiskPage&) {}

}  // namespace vexil::host

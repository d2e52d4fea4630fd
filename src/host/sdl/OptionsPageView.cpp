#include <imgui.h>

#include "host/sdl/Pages.h"

namespace vexil::host {

void DrawOptionsPage(OptionsPage&) {}

}  // namespace vexil::host

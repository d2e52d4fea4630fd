#include <imgui.h>

#include "host/sdl/Pages.h"

namespace vexil::host {

void DrawRecordPage(RecordPage&) {}

}  // namespace vexil::host

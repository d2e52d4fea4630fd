// The SDL2 back end: the window, its picture and the control bar drawn with Dear ImGui, the
// keyboard, message boxes and the sound device.
#pragma once

#include <cstdio>

#include "app/App.h"

namespace vexil::host {

// Runs the application in a window. Without a display it says so on `err` and returns 1.
int RunWindowed(const AppOptions& options, std::FILE* out, std::FILE* err);

}  // namespace vexil::host

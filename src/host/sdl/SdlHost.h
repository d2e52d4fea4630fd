// The SDL2 back end: the window, its picture and the control bar drawn with Dear ImGui, the
// keyboard, message boxes and the sound device.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "host/Host.h"

namespace vexil::host {

// What the application reports of a window run: its exit status, and the frames it ran in how
// many seconds of running (not paused at the bar).
struct WindowedRun {
    int status = 0;
    int64_t frames = 0;
    double running = 0;
    double machineSeconds = 0;  // the machine time the frames took
};

// Opens SDL and hands its devices to `run` (the application). Without a display it says so on
// `err` and returns 1. With `reportPace`, a run that ends well prints its pace on `out`.
int RunWindowed(const std::function<WindowedRun(const Devices&)>& run, bool reportPace, std::FILE* out,
                std::FILE* err);

}  // namespace vexil::host

// The host devices the application drives, each behind a narrow interface: the window and its
// message pump, the display, the keyboard and mouse, the sound output, message boxes, and the
// control bar drawn over the picture while the machine is stopped.
//
// Two back ends implement them: SDL2 with Dear ImGui (src/host/sdl/, linked only into the
// program) and a headless one (HeadlessHost.h) for scripted runs and tests. Nothing else in
// the emulator knows which it talks to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexil {
class ControlBar;
}

namespace vexil::host {

// The keys the application itself reads, as PC (set 1) scan codes; the keyboard processor
// maps the others to the ST's.
constexpr uint8_t kKeyLeftShift = 0x2A;
constexpr uint8_t kKeyRightShift = 0x36;
constexpr uint8_t kKeyF11 = 0x57;
constexpr uint8_t kKeyF12 = 0x58;
constexpr uint8_t kKeyReturn = 0x1C;
constexpr uint8_t kKeyRightControl = 0x9D;  // the host's own modifier: never the ST's

// What happened at the window since the last poll, in order: a key went down or up (auto-repeat
// is not a press), or a file was dropped on the window (with Shift held or not).
struct HostEvent {
    enum class Type { kKeyDown, kKeyUp, kDropFile };
    Type type = Type::kKeyDown;
    uint8_t key = 0;
    bool shift = false;
    std::string path;
};

// The emulated picture: 800 x 600 host pixels, R5G6B5.
constexpr int kFrameWidth = 800;
constexpr int kFrameHeight = 600;

class Window {
public:
    virtual ~Window() = default;
    // Creates and shows the main window, "Vexil 1.00". False with the reason on failure.
    virtual bool Create(bool fullscreen, std::string* error) = 0;
    virtual void Destroy() = 0;
    // Handles every pending window event; true once the user has asked to quit (the window
    // was closed).
    virtual bool PumpMessages() = 0;
    // Switches between the window and the whole screen while running.
    virtual void SetFullscreen(bool fullscreen) { (void)fullscreen; }
};

// The display settings, named after their configuration values. InitDisplay writes back the
// adapter, refresh rate and path it settled on.
struct DisplaySettings {
    uint32_t VideoAdapter = 0;  // the host display the picture goes to
    uint32_t VideoRefresh = 0;  // Hz, for fullscreen; 0 the display's first rate
    uint32_t bUseTexture = 0;   // 0 CPU rendering, 1 GPU (texture)
    uint32_t bUseTextureFiltering = 0;
    uint32_t ForceVBLSync = 0;  // present in step with the host's vertical blank
    uint32_t FrameSkip = 0;     // vertical blanks waited per frame with ForceVBLSync
};

class Display {
public:
    virtual ~Display() = default;
    // The settings InitDisplay uses; it may correct them (an adapter or rate the host lacks).
    virtual void Configure(DisplaySettings* settings) { (void)settings; }
    virtual bool InitDisplay(std::string* error) = 0;
    virtual void ShutdownDisplay() = 0;
    // The back buffer the renderer fills, `pitch` in pixels; null when there is none.
    virtual uint16_t* LockFrame(int* pitch) = 0;
    // Shows the finished frame. A window back end holds the machine to its frame rate here
    // when the sound output does not pace it (no sound device).
    virtual void PresentFrame() = 0;
    // The frame's length in machine time (the pace without sound), and whether the renderer
    // fills every host line (the monochrome monitor: the texture path then takes all 600).
    virtual void SetFramePeriod(int64_t microseconds) { (void)microseconds; }
    virtual void SetFullHeight(bool full) { (void)full; }
    // Clears the picture to black and shows it.
    virtual void ClearScreen() = 0;
    // Copies the last picture as shown, 800 x 600 pixels, into `out`; false when there is none.
    virtual bool CopyFrame(uint16_t* out) = 0;
};

// The mouse since the last sample: relative motion (positive dy downwards) and its buttons.
struct MouseSample {
    int32_t dx = 0, dy = 0;
    bool left = false, right = false;
};

// The keyboard by PC key code (0xE0-prefixed keys with bit 7 set), the mouse, and the first
// game controller or joystick (two axes at -1,000 ... 1,000, past 500 a direction, and a button).
class Input {
public:
    virtual ~Input() = default;
    virtual bool InitInput(std::string* error) = 0;
    virtual void ReleaseInput() = 0;
    // While acquired (the machine runs) the keyboard and mouse belong to the machine.
    virtual void Acquire() = 0;
    virtual void Unacquire() = 0;
    // Samples the keyboard; KeyDown answers from the last sample, TakeEvents hands over the
    // events that came before it (and empties `events` first).
    virtual void PollInput() = 0;
    virtual bool KeyDown(uint8_t scanCode) const = 0;
    virtual void TakeEvents(std::vector<HostEvent>& events) = 0;
    // The mouse while acquired; nothing otherwise.
    virtual MouseSample TakeMouse() = 0;
    // Reads the joystick: 0x01 up 0x02 down 0x04 left 0x08 right 0x80 fire; 0 without one.
    virtual uint8_t PollJoystick() = 0;
    // The game controller's buttons as joypad::HostButton bits (read after PollJoystick); 0
    // without one.
    virtual uint32_t PollPadButtons() { return 0; }
};

// Mono 16-bit samples at 44,100 Hz into a queue of about 93 ms (4,096 samples) that plays
// while the machine runs (StartSound empties it, StopSound pauses it). In the normal mode the
// wait for room in the queue holds the machine to real time; with `ForceVBLSync` the display
// paces and each frame takes the samples the device played since the frame before.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // False with the message for the user when there is no usable device; the program then
    // runs silent (and every other call does nothing).
    virtual bool InitSound(std::string* error) = 0;
    virtual void ReleaseSound() = 0;
    virtual void StartSound() = 0;
    virtual void StopSound() = 0;
    // The display-paced mode's count for this frame: what the device played since the last
    // call, 0 the first time after a start; 881 without a device.
    virtual int32_t FrameSampleCount() { return 881; }
    // Queues one frame's samples; with `wait` it first waits for room (a bounded wait), and so
    // paces the machine. Nothing waits or is queued while the device is stopped.
    virtual void WriteFrame(const int16_t* samples, int count, bool wait) = 0;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void Message(const std::string& caption, const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
};

// The control bar with its six items and the page below it.
class ControlBarView {
public:
    virtual ~ControlBarView() = default;
    // Draws the bar and its current page over the picture for one turn of the menu and shows
    // them. Returns the item the user picked during this turn, or -1.
    virtual int Draw(const ControlBar& bar) = 0;
};

// The window's caption, which its message boxes carry too.
constexpr const char* kWindowTitle = "Vexil 1.00";

// The devices of one back end. The application owns none of them.
struct Devices {
    Window* window = nullptr;
    Display* display = nullptr;
    Input* input = nullptr;
    SoundOutput* sound = nullptr;
    Dialogs* dialogs = nullptr;
    ControlBarView* controlBar = nullptr;
};

}  // namespace vexil::host

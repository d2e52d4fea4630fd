#include "host/sdl/SdlHost.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "host/sdl/Pages.h"
#include "host/sdl/SdlSound.h"
#include "input/ExtendedPorts.h"
#include "ui/ControlBar.h"

namespace vexil::host {

namespace {

// SDL scan codes (the key's place, whatever the layout prints on it) to the PC key codes of
// the host key state; the keyboard processor maps those to the ST's keys.
struct KeyMapping {
    SDL_Scancode sdl;
    uint8_t code;
};
constexpr KeyMapping kKeys[] = {
    {SDL_SCANCODE_ESCAPE, 0x01},
    {SDL_SCANCODE_1, 0x02},
    {SDL_SCANCODE_2, 0x03},
    {SDL_SCANCODE_3, 0x04},
    {SDL_SCANCODE_4, 0x05},
    {SDL_SCANCODE_5, 0x06},
    {SDL_SCANCODE_6, 0x07},
    {SDL_SCANCODE_7, 0x08},
    {SDL_SCANCODE_8, 0x09},
    {SDL_SCANCODE_9, 0x0A},
    {SDL_SCANCODE_0, 0x0B},
    {SDL_SCANCODE_MINUS, 0x0C},
    {SDL_SCANCODE_EQUALS, 0x0D},
    {SDL_SCANCODE_BACKSPACE, 0x0E},
    {SDL_SCANCODE_TAB, 0x0F},
    {SDL_SCANCODE_Q, 0x10},
    {SDL_SCANCODE_W, 0x11},
    {SDL_SCANCODE_E, 0x12},
    {SDL_SCANCODE_R, 0x13},
    {SDL_SCANCODE_T, 0x14},
    {SDL_SCANCODE_Y, 0x15},
    {SDL_SCANCODE_U, 0x16},
    {SDL_SCANCODE_I, 0x17},
    {SDL_SCANCODE_O, 0x18},
    {SDL_SCANCODE_P, 0x19},
    {SDL_SCANCODE_LEFTBRACKET, 0x1A},
    {SDL_SCANCODE_RIGHTBRACKET, 0x1B},
    {SDL_SCANCODE_RETURN, 0x1C},
    {SDL_SCANCODE_LCTRL, 0x1D},
    {SDL_SCANCODE_A, 0x1E},
    {SDL_SCANCODE_S, 0x1F},
    {SDL_SCANCODE_D, 0x20},
    {SDL_SCANCODE_F, 0x21},
    {SDL_SCANCODE_G, 0x22},
    {SDL_SCANCODE_H, 0x23},
    {SDL_SCANCODE_J, 0x24},
    {SDL_SCANCODE_K, 0x25},
    {SDL_SCANCODE_L, 0x26},
    {SDL_SCANCODE_SEMICOLON, 0x27},
    {SDL_SCANCODE_APOSTROPHE, 0x28},
    {SDL_SCANCODE_GRAVE, 0x29},
    {SDL_SCANCODE_LSHIFT, kKeyLeftShift},
    {SDL_SCANCODE_BACKSLASH, 0x2B},
    {SDL_SCANCODE_NONUSHASH, 0x2B},
    {SDL_SCANCODE_Z, 0x2C},
    {SDL_SCANCODE_X, 0x2D},
    {SDL_SCANCODE_C, 0x2E},
    {SDL_SCANCODE_V, 0x2F},
    {SDL_SCANCODE_B, 0x30},
    {SDL_SCANCODE_N, 0x31},
    {SDL_SCANCODE_M, 0x32},
    {SDL_SCANCODE_COMMA, 0x33},
    {SDL_SCANCODE_PERIOD, 0x34},
    {SDL_SCANCODE_SLASH, 0x35},
    {SDL_SCANCODE_RSHIFT, kKeyRightShift},
    {SDL_SCANCODE_KP_MULTIPLY, 0x37},
    {SDL_SCANCODE_LALT, 0x38},
    {SDL_SCANCODE_SPACE, 0x39},
    {SDL_SCANCODE_CAPSLOCK, 0x3A},
    {SDL_SCANCODE_F1, 0x3B},
    {SDL_SCANCODE_F2, 0x3C},
    {SDL_SCANCODE_F3, 0x3D},
    {SDL_SCANCODE_F4, 0x3E},
    {SDL_SCANCODE_F5, 0x3F},
    {SDL_SCANCODE_F6, 0x40},
    {SDL_SCANCODE_F7, 0x41},
    {SDL_SCANCODE_F8, 0x42},
    {SDL_SCANCODE_F9, 0x43},
    {SDL_SCANCODE_F10, 0x44},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x45},
    {SDL_SCANCODE_SCROLLLOCK, 0x46},
    {SDL_SCANCODE_KP_7, 0x47},
    {SDL_SCANCODE_KP_8, 0x48},
    {SDL_SCANCODE_KP_9, 0x49},
    {SDL_SCANCODE_KP_MINUS, 0x4A},
    {SDL_SCANCODE_KP_4, 0x4B},
    {SDL_SCANCODE_KP_5, 0x4C},
    {SDL_SCANCODE_KP_6, 0x4D},
    {SDL_SCANCODE_KP_PLUS, 0x4E},
    {SDL_SCANCODE_KP_1, 0x4F},
    {SDL_SCANCODE_KP_2, 0x50},
    {SDL_SCANCODE_KP_3, 0x51},
    {SDL_SCANCODE_KP_0, 0x52},
    {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56},
    {SDL_SCANCODE_F11, kKeyF11},
    {SDL_SCANCODE_F12, kKeyF12},
    {SDL_SCANCODE_KP_ENTER, 0x9C},
    {SDL_SCANCODE_RCTRL, 0x9D},
    {SDL_SCANCODE_KP_DIVIDE, 0xB5},
    {SDL_SCANCODE_PRINTSCREEN, 0xB7},
    {SDL_SCANCODE_RALT, 0xB8},
    {SDL_SCANCODE_HOME, 0xC7},
    {SDL_SCANCODE_UP, 0xC8},
    {SDL_SCANCODE_PAGEUP, 0xC9},
    {SDL_SCANCODE_LEFT, 0xCB},
    {SDL_SCANCODE_RIGHT, 0xCD},
    {SDL_SCANCODE_END, 0xCF},
    {SDL_SCANCODE_DOWN, 0xD0},
    {SDL_SCANCODE_PAGEDOWN, 0xD1},
    {SDL_SCANCODE_INSERT, 0xD2},
    {SDL_SCANCODE_DELETE, 0xD3},
};

// Joystick axes are read on -1,000 ... 1,000; past 500 is a direction.
constexpr int kAxisRange = 1000;
constexpr int kAxisDeadZone = 500;
// The host key code of an SDL scan code; 0 for a key that has none.
uint8_t KeyCodeOf(SDL_Scancode scancode) {
    for (const KeyMapping& k : kKeys)
        if (k.sdl == scancode) return k.code;
    return 0;
}

int ScaledAxis(Sint16 value) {
    return static_cast<int>(value) * kAxisRange / 32768;
}

class SdlHost;
SdlHost* g_pageHost = nullptr;  // the host whose renderer draws the pages' pictures

constexpr uint32_t kFrameMilliseconds = 20;  // 50 frames a second, until the machine says
constexpr uint32_t kMenuMilliseconds = 16;

class SdlHost final : public Window,
                      public Display,
                      public Input,
                      public SoundOutput,
                      public Dialogs,
                      public ControlBarView {
public:
    Devices AllDevices() { return {this, this, this, this, this, this}; }
    double SoundDeviceRate() const { return sound_.MeasuredRate(); }
    ~SdlHost() override {
        ReleaseInput();
        ShutdownDisplay();
        ReleaseSound();
        Destroy();
    }

    bool Create(bool fullscreen, std::string* error) override {
        const Uint32 flags = SDL_WINDOW_RESIZABLE | (fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
        window_ = SDL_CreateWindow(kWindowTitle, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                   kFrameWidth, kFrameHeight, flags);
        if (!window_) *error = std::string("cannot create the window: ") + SDL_GetError();
        return window_ != nullptr;
    }
    void Destroy() override {
        if (window_) SDL_DestroyWindow(window_);
        window_ = nullptr;
    }
    bool PumpMessages() override {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (imgui_) ImGui_ImplSDL2_ProcessEvent(&event);
            Note(event);
            // The device was lost and reset (or its render targets were): the textures are made
            // again; the picture is uploaded whole at every present anyway.
            if ((event.type == SDL_RENDER_DEVICE_RESET || event.type == SDL_RENDER_TARGETS_RESET) &&
                renderer_) {
                if (texture_) SDL_DestroyTexture(texture_);
                texture_ = nullptr;
                CreateTexture();
                if (imgui_) ImGui_ImplSDLRenderer_DestroyDeviceObjects();
                DestroyPicture();
            }
        }
        return quit_;
    }

    void SetFullscreen(bool fullscreen) override {
        if (window_) SDL_SetWindowFullscreen(window_, fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    }

    void Configure(DisplaySettings* settings) override { settings_ = settings; }

    // The two paths map onto SDL's renderers: "CPU Rendering" is SDL's software renderer, which
    // scales the 800 x 600 picture on the processor into the window's surface; "GPU (Texture)"
    // is an accelerated renderer with an 800 x 300 texture, one row per emulated line, that the
    // graphics card stretches to the window, point-sampled or bilinear. Without an accelerated
    // renderer the CPU path is used. Adapters are SDL's displays.
    bool InitDisplay(std::string* error) override {
        DisplaySettings fallback;
        DisplaySettings& settings = settings_ ? *settings_ : fallback;
        ChooseAdapter(settings);
        SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, settings.bUseTextureFiltering ? "linear" : "nearest");
        const Uint32 vsync = settings.ForceVBLSync ? SDL_RENDERER_PRESENTVSYNC : 0;
        if (settings.bUseTexture) {
            renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED | vsync);
            if (!renderer_) settings.bUseTexture = 0;
        }
        if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE | vsync);
        gpu_ = settings.bUseTexture != 0;
        vsync_ = vsync != 0;
        frameSkip_ = static_cast<int>(settings.FrameSkip);
        if (renderer_ && !CreateTexture()) {
            SDL_DestroyRenderer(renderer_);
            renderer_ = nullptr;
        }
        if (!renderer_) {
            *error = std::string("cannot start the display: ") + SDL_GetError();
            ShutdownDisplay();
            return false;
        }
        frame_.assign(static_cast<size_t>(kFrameWidth) * kFrameHeight, 0);
        IMGUI_CHECKVERSION();
        ImGui::CreateContext();
        ImGui::GetIO().IniFilename = nullptr;                              // the bar's layout is fixed
        ImGui::GetIO().ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;  // Tab, arrows, Space
        ImGui::StyleColorsDark();
        ImGui_ImplSDL2_InitForSDLRenderer(window_);
        ImGui_ImplSDLRenderer_Init(renderer_);
        imgui_ = true;
        g_pageHost = this;
        return true;
    }
    void ShutdownDisplay() override {
        if (g_pageHost == this) g_pageHost = nullptr;
        DestroyPicture();
        if (imgui_) {
            ImGui_ImplSDLRenderer_Shutdown();
            ImGui_ImplSDL2_Shutdown();
            ImGui::DestroyContext();
            imgui_ = false;
        }
        if (texture_) SDL_DestroyTexture(texture_);
        if (renderer_) SDL_DestroyRenderer(renderer_);
        texture_ = nullptr;
        renderer_ = nullptr;
    }
    uint16_t* LockFrame(int* pitch) override {
        if (frame_.empty()) return nullptr;
        *pitch = kFrameWidth;
        return frame_.data();
    }
    void PresentFrame() override {
        DrawPicture();
        SDL_RenderPresent(renderer_);
        // In step with the host's vertical blank: each present waits for one, and fullscreen
        // waits FrameSkip of them per frame. Otherwise the loop holds itself to 50 frames.
        if (vsync_) {
            const bool fullscreen = (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN) != 0;
            for (int i = 1; fullscreen && i < frameSkip_; ++i) SDL_RenderPresent(renderer_);
        } else if (!sound_.Pacer().Playing()) {
            Pace(frameMilliseconds_);  // the sound device paces when it plays
        }
    }
    void SetFramePeriod(int64_t microseconds) override {
        frameMilliseconds_ = static_cast<uint32_t>(std::clamp<int64_t>((microseconds + 500) / 1000, 1, 100));
    }
    void SetFullHeight(bool full) override {
        if (full == fullHeight_) return;
        fullHeight_ = full;
        if (!renderer_) return;
        if (texture_) SDL_DestroyTexture(texture_);
        texture_ = nullptr;
        CreateTexture();
    }
    void ClearScreen() override {
        std::fill(frame_.begin(), frame_.end(), 0);
        DrawPicture();
        SDL_RenderPresent(renderer_);
    }
    bool CopyFrame(uint16_t* out) override {
        if (frame_.empty()) return false;
        if (!HalfTexture()) {
            std::copy(frame_.begin(), frame_.end(), out);
            return true;
        }
        // The texture path fills the first line of each pair; the card doubles it.
        for (int y = 0; y < kFrameHeight; ++y)
            std::copy_n(frame_.data() + static_cast<size_t>(y & ~1) * kFrameWidth, kFrameWidth,
                        out + static_cast<size_t>(y) * kFrameWidth);
        return true;
    }

    // The keyboard and mouse come with the window; a joystick is optional and its absence silent.
    bool InitInput(std::string*) override {
        if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER | SDL_INIT_JOYSTICK) == 0) {
            joystickUp_ = true;
            for (int i = 0; i < SDL_NumJoysticks() && !controller_ && !joystick_; ++i) {
                if (SDL_IsGameController(i))
                    controller_ = SDL_GameControllerOpen(i);
                else
                    joystick_ = SDL_JoystickOpen(i);
            }
        }
        return true;
    }
    void ReleaseInput() override {
        Unacquire();
        if (controller_) SDL_GameControllerClose(controller_);
        if (joystick_) SDL_JoystickClose(joystick_);
        controller_ = nullptr;
        joystick_ = nullptr;
        if (joystickUp_) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER | SDL_INIT_JOYSTICK);
        joystickUp_ = false;
    }
    // While the machine runs the pointer is held in the window and only motion is reported.
    void Acquire() override {
        acquired_ = true;
        keys_.fill(false);
        SDL_SetRelativeMouseMode(SDL_TRUE);
        SDL_GetRelativeMouseState(nullptr, nullptr);  // motion from before does not count
    }
    void Unacquire() override {
        if (acquired_) SDL_SetRelativeMouseMode(SDL_FALSE);
        acquired_ = false;
    }
    void PollInput() override {
        const Uint8* state = SDL_GetKeyboardState(nullptr);
        keys_.fill(false);
        for (const KeyMapping& k : kKeys) keys_[k.code] = keys_[k.code] || state[k.sdl] != 0;
        polled_.insert(polled_.end(), pending_.begin(), pending_.end());
        pending_.clear();
    }
    bool KeyDown(uint8_t scanCode) const override { return keys_[scanCode]; }
    void TakeEvents(std::vector<HostEvent>& events) override {
        events.clear();
        events.swap(polled_);
    }
    MouseSample TakeMouse() override {
        if (!acquired_) return {};
        MouseSample sample;
        const Uint32 buttons = SDL_GetRelativeMouseState(&sample.dx, &sample.dy);
        sample.left = (buttons & SDL_BUTTON_LMASK) != 0;
        sample.right = (buttons & SDL_BUTTON_RMASK) != 0;
        return sample;
    }
    uint8_t PollJoystick() override {
        int x = 0, y = 0;
        bool fire = false;
        if (controller_) {
            x = ScaledAxis(SDL_GameControllerGetAxis(controller_, SDL_CONTROLLER_AXIS_LEFTX));
            y = ScaledAxis(SDL_GameControllerGetAxis(controller_, SDL_CONTROLLER_AXIS_LEFTY));
            fire = SDL_GameControllerGetButton(controller_, SDL_CONTROLLER_BUTTON_A) != 0;
        } else if (joystick_) {
            x = ScaledAxis(SDL_JoystickGetAxis(joystick_, 0));
            y = ScaledAxis(SDL_JoystickGetAxis(joystick_, 1));
            fire = SDL_JoystickGetButton(joystick_, 0) != 0;
        } else {
            return 0;
        }
        uint8_t bits = 0;
        if (y < -kAxisDeadZone) bits |= 0x01;
        if (y > kAxisDeadZone) bits |= 0x02;
        if (x < -kAxisDeadZone) bits |= 0x04;
        if (x > kAxisDeadZone) bits |= 0x08;
        if (fire) bits |= 0x80;
        return bits;
    }
    uint32_t PollPadButtons() override {
        using namespace joypad;
        struct Pair {
            SDL_GameControllerButton button;
            uint32_t bit;
        };
        static constexpr Pair kButtons[] = {
            {SDL_CONTROLLER_BUTTON_A, kHostA},
            {SDL_CONTROLLER_BUTTON_B, kHostB},
            {SDL_CONTROLLER_BUTTON_X, kHostX},
            {SDL_CONTROLLER_BUTTON_Y, kHostY},
            {SDL_CONTROLLER_BUTTON_BACK, kHostBack},
            {SDL_CONTROLLER_BUTTON_START, kHostStart},
            {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, kHostLeftShoulder},
            {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, kHostRightShoulder},
        };
        uint32_t bits = 0;
        if (controller_) {
            for (const Pair& p : kButtons)
                if (SDL_GameControllerGetButton(controller_, p.button)) bits |= p.bit;
        } else if (joystick_) {
            // A plain joystick's buttons in the controller's order.
            const int count = std::min(SDL_JoystickNumButtons(joystick_), 8);
            for (int i = 0; i < count; ++i)
                if (SDL_JoystickGetButton(joystick_, i)) bits |= 1u << i;
        }
        return bits;
    }

    bool InitSound(std::string* error) override { return sound_.Open(error); }
    void ReleaseSound() override { sound_.Close(); }
    void StartSound() override { sound_.Start(); }
    void StopSound() override { sound_.Stop(); }
    int32_t FrameSampleCount() override { return sound_.IsOpen() ? sound_.Pacer().FrameSampleCount() : 881; }
    void WriteFrame(const int16_t* samples, int count, bool wait) override {
        if (sound_.IsOpen()) sound_.Pacer().WriteFrame(samples, count, wait);
    }

    void Message(const std::string& caption, const std::string& text) override {
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_WARNING, caption.c_str(), text.c_str(), window_);
    }
    // In the window, the question is drawn there and the program's own loop waits for the
    // answer, so that a request to quit (the window closed, SIGTERM) answers No and stays
    // seen; before there is a window, SDL's message box asks.
    bool AskYesNo(const std::string& caption, const std::string& text) override {
        if (imgui_) return AskInWindow(caption, text);
        const SDL_MessageBoxButtonData buttons[] = {
            {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "No"},
            {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"},
        };
        const SDL_MessageBoxData box{
            SDL_MESSAGEBOX_INFORMATION, window_, caption.c_str(), text.c_str(), 2, buttons, nullptr};
        int answer = 0;
        return SDL_ShowMessageBox(&box, &answer) == 0 && answer == 1;
    }

    int Draw(const ControlBar& bar) override {
        ImGui_ImplSDLRenderer_NewFrame();
        ImGui_ImplSDL2_NewFrame();
        ImGui::NewFrame();
        int picked = -1;
        const ImGuiWindowFlags fixed = ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                       ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoSavedSettings;
        const float width = ImGui::GetIO().DisplaySize.x;
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(width, 0));
        ImGui::Begin("Vexil", nullptr,
                     fixed | ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_AlwaysAutoResize);
        ImGui::TextUnformatted("VEXIL");
        for (int item = 0; item < kControlItems; ++item) {
            if (!bar.Offers(item)) continue;
            ImGui::SameLine();
            const bool current = item == bar.CurrentPage();
            if (current)
                ImGui::PushStyleColor(ImGuiCol_Button, ImGui::GetStyleColorVec4(ImGuiCol_ButtonActive));
            if (ImGui::Button(ControlBar::Caption(item), ImVec2(96, 32))) picked = item;
            if (current) ImGui::PopStyleColor();
        }
        const float barHeight = ImGui::GetWindowHeight();
        ImGui::End();
        if (bar.CurrentPage() >= 0) {
            ImGui::SetNextWindowPos(ImVec2(16, barHeight + 8));
            ImGui::SetNextWindowSize(ImVec2(width - 32, 0));
            // The debugger's page takes the arrows and Tab itself (panes, memory cursor).
            const ImGuiWindowFlags ownKeys =
                bar.CurrentPage() == kItemDebugger ? ImGuiWindowFlags_NoNavInputs : 0;
            ImGui::Begin(ControlBar::Caption(bar.CurrentPage()), nullptr,
                         fixed | ImGuiWindowFlags_AlwaysAutoResize | ownKeys);
            if (!bar.notice.empty()) ImGui::TextWrapped("%s", bar.notice.c_str());
            DrawPage(bar);
            ImGui::End();
        }
        ImGui::Render();
        DrawPicture();
        ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
        SDL_RenderPresent(renderer_);
        Pace(kMenuMilliseconds);
        return picked;
    }

    void* Picture(const uint16_t* pixels, int width, int height) {
        if (picture_ && (pictureWidth_ != width || pictureHeight_ != height)) DestroyPicture();
        if (!picture_)
            picture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING,
                                         width, height);
        if (!picture_) return nullptr;
        pictureWidth_ = width, pictureHeight_ = height;
        SDL_UpdateTexture(picture_, nullptr, pixels, width * 2);
        return picture_;
    }

private:
    // Keeps what the application asks for from one window event: a quit, the keys that went
    // down or up (not the auto-repeat) and files dropped on the window.
    void Note(const SDL_Event& event) {
        if (event.type == SDL_QUIT) quit_ = true;
        if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) quit_ = true;
        if ((event.type == SDL_KEYDOWN && !event.key.repeat) || event.type == SDL_KEYUP) {
            const uint8_t code = KeyCodeOf(event.key.keysym.scancode);
            if (code != 0 && pending_.size() < kMostEvents)
                pending_.push_back(
                    {event.type == SDL_KEYDOWN ? HostEvent::Type::kKeyDown : HostEvent::Type::kKeyUp,
                     code,
                     false,
                     {}});
        }
        if (event.type == SDL_DROPFILE && event.drop.file) {
            if (pending_.size() < kMostEvents)
                pending_.push_back(
                    {HostEvent::Type::kDropFile, 0, (SDL_GetModState() & KMOD_SHIFT) != 0, event.drop.file});
            SDL_free(event.drop.file);
        }
    }
    bool AskInWindow(const std::string& caption, const std::string& text) {
        for (;;) {
            SDL_Event event;
            while (SDL_PollEvent(&event)) {
                ImGui_ImplSDL2_ProcessEvent(&event);
                Note(event);
            }
            pending_.clear();
            if (quit_) return false;
            ImGui_ImplSDLRenderer_NewFrame();
            ImGui_ImplSDL2_NewFrame();
            ImGui::NewFrame();
            const ImVec2 size = ImGui::GetIO().DisplaySize;
            ImGui::SetNextWindowPos(ImVec2(size.x / 2, size.y / 2), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
            ImGui::Begin(caption.c_str(), nullptr,
                         ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoCollapse |
                             ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_AlwaysAutoResize);
            ImGui::TextUnformatted(text.c_str());
            int answer = -1;
            if (ImGui::Button("Yes", ImVec2(96, 32)) ||
                ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Enter)))
                answer = 1;
            ImGui::SameLine();
            if (ImGui::Button("No", ImVec2(96, 32)) ||
                ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape)))
                answer = 0;
            ImGui::End();
            ImGui::Render();
            SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
            SDL_RenderClear(renderer_);
            ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
            SDL_RenderPresent(renderer_);
            Pace(kMenuMilliseconds);
            if (answer >= 0) return answer == 1;
        }
    }
    void DestroyPicture() {
        if (picture_) SDL_DestroyTexture(picture_);
        picture_ = nullptr;
    }
    // The texture path's colour picture is one texture row per emulated line, doubled by the
    // card; a monochrome picture has a host line per emulated line already.
    bool HalfTexture() const { return gpu_ && !fullHeight_; }
    bool CreateTexture() {
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING,
                                     kFrameWidth, HalfTexture() ? kFrameHeight / 2 : kFrameHeight);
        return texture_ != nullptr;
    }
    // The adapter is one of SDL's displays: the configured one, else the first; the refresh
    // rate one that display offers, else its first. The window moves to that display.
    void ChooseAdapter(DisplaySettings& settings) {
        const int displays = SDL_GetNumVideoDisplays();
        if (displays <= 0) return;
        if (settings.VideoAdapter >= static_cast<uint32_t>(displays)) settings.VideoAdapter = 0;
        const int adapter = static_cast<int>(settings.VideoAdapter);
        int first = 0;
        bool offered = false;
        for (int i = 0; i < SDL_GetNumDisplayModes(adapter); ++i) {
            SDL_DisplayMode mode;
            if (SDL_GetDisplayMode(adapter, i, &mode) != 0 || mode.refresh_rate <= 0) continue;
            if (first == 0) first = mode.refresh_rate;
            if (static_cast<uint32_t>(mode.refresh_rate) == settings.VideoRefresh) offered = true;
        }
        if (!offered) settings.VideoRefresh = static_cast<uint32_t>(first);
        int current = SDL_GetWindowDisplayIndex(window_);
        if (current != adapter)
            SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED_DISPLAY(adapter),
                                  SDL_WINDOWPOS_CENTERED_DISPLAY(adapter));
    }
    // The picture fills the window as far as its 4:3 shape allows, centred on black.
    void DrawPicture() {
        if (!texture_) return;
        // The texture path takes every second line: the renderer wrote one per emulated line.
        SDL_UpdateTexture(texture_, nullptr, frame_.data(), kFrameWidth * 2 * (HalfTexture() ? 2 : 1));
        int w = 0, h = 0;
        SDL_GetRendererOutputSize(renderer_, &w, &h);
        SDL_Rect target{0, 0, w, h};
        if (w * kFrameHeight > h * kFrameWidth)
            target.w = h * kFrameWidth / kFrameHeight;
        else
            target.h = w * kFrameHeight / kFrameWidth;
        target.x = (w - target.w) / 2;
        target.y = (h - target.h) / 2;
        SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
        SDL_RenderClear(renderer_);
        SDL_RenderCopy(renderer_, texture_, nullptr, &target);
    }
    // Holds the loop to one turn per period.
    void Pace(uint32_t milliseconds) {
        const Uint32 due = lastTurn_ + milliseconds;
        const Uint32 now = SDL_GetTicks();
        if (static_cast<int32_t>(due - now) > 0 &&
            static_cast<int32_t>(due - now) <= static_cast<int32_t>(milliseconds))
            SDL_Delay(due - now);
        lastTurn_ = SDL_GetTicks();
    }

    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    SDL_Texture* picture_ = nullptr;  // a page's picture
    int pictureWidth_ = 0, pictureHeight_ = 0;
    DisplaySettings* settings_ = nullptr;
    bool gpu_ = false;
    bool fullHeight_ = false;
    uint32_t frameMilliseconds_ = kFrameMilliseconds;
    bool vsync_ = false;
    int frameSkip_ = 0;
    SdlSound sound_;
    bool imgui_ = false;
    bool quit_ = false;
    bool acquired_ = false;
    bool joystickUp_ = false;
    SDL_GameController* controller_ = nullptr;
    SDL_Joystick* joystick_ = nullptr;
    std::array<bool, 256> keys_{};
    static constexpr size_t kMostEvents = 256;  // more between two polls are dropped
    std::vector<HostEvent> pending_, polled_;
    std::vector<uint16_t> frame_;
    Uint32 lastTurn_ = 0;
};

}  // namespace

void* PagePicture(const uint16_t* pixels, int width, int height) {
    return g_pageHost ? g_pageHost->Picture(pixels, width, height) : nullptr;
}

int RunWindowed(const std::function<WindowedRun(const Devices&)>& run, bool reportPace, std::FILE* out,
                std::FILE* err) {
    // SDL falls back to drivers that draw nowhere; only a user who asks for one gets it.
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    bool ready = SDL_Init(SDL_INIT_VIDEO) == 0;
    std::string why = ready ? "" : SDL_GetError();
    if (ready && !(asked && *asked)) {
        const char* driver = SDL_GetCurrentVideoDriver();
        if (!driver || !std::strcmp(driver, "offscreen") || !std::strcmp(driver, "dummy")) {
            ready = false;
            why = "no window system found";
            SDL_Quit();
        }
    }
    if (!ready) {
        std::fprintf(err, "vexil: no display available (%s); use --headless to run without a window\n",
                     why.c_str());
        return 1;
    }
    int status = 0;
    int64_t frames = 0;
    double running = 0, machineSeconds = 0, deviceRate = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        SdlHost host;
        const WindowedRun result = run(host.AllDevices());
        status = result.status;
        frames = result.frames;
        running = result.running;
        machineSeconds = result.machineSeconds;
        deviceRate = host.SoundDeviceRate();
    }
    SDL_Quit();
    if (reportPace && status == 0) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The pace of the machine itself: the frames over the time they took, and the rate at
        // which the sound device took samples meanwhile.
        std::fprintf(out,
                     "%lld frames (%.1f s of machine time) in %.2f s; running %.2f s, %.2f frames/s; "
                     "sound device %.0f samples/s\n",
                     static_cast<long long>(frames), machineSeconds, seconds, running,
                     running > 0 ? static_cast<double>(frames) / running : 0.0, deviceRate);
    }
    return status;
}

}  // namespace vexil::host

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

#include "app/ControlBar.h"

namespace vexil::host {

namespace {

// The host keys the application reads, by SDL scan code (the keyboard issue adds the rest).
struct KeyMapping {
    SDL_Scancode sdl;
    uint8_t code;
};
constexpr KeyMapping kKeys[] = {
    {SDL_SCANCODE_LSHIFT, kKeyLeftShift},
    {SDL_SCANCODE_RSHIFT, kKeyRightShift},
    {SDL_SCANCODE_F11, kKeyF11},
    {SDL_SCANCODE_F12, kKeyF12},
};

constexpr uint32_t kFrameMilliseconds = 20;  // 50 frames a second
constexpr uint32_t kMenuMilliseconds = 16;

class SdlHost final : public Window,
                      public Display,
                      public Input,
                      public SoundOutput,
                      public Dialogs,
                      public ControlBarView {
public:
    Devices AllDevices() { return {this, this, this, this, this, this}; }
    ~SdlHost() override {
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
            if (event.type == SDL_QUIT) quit_ = true;
            if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) quit_ = true;
            // The device was lost and reset (or its render targets were): the textures are made
            // again; the picture is uploaded whole at every present anyway.
            if ((event.type == SDL_RENDER_DEVICE_RESET || event.type == SDL_RENDER_TARGETS_RESET) &&
                renderer_) {
                if (texture_) SDL_DestroyTexture(texture_);
                texture_ = nullptr;
                CreateTexture();
                if (imgui_) ImGui_ImplSDLRenderer_DestroyDeviceObjects();
            }
        }
        return quit_;
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
        ImGui::GetIO().IniFilename = nullptr;  // the bar's layout is fixed
        ImGui::StyleColorsDark();
        ImGui_ImplSDL2_InitForSDLRenderer(window_);
        ImGui_ImplSDLRenderer_Init(renderer_);
        imgui_ = true;
        return true;
    }
    void ShutdownDisplay() override {
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
        } else {
            Pace(kFrameMilliseconds);
        }
    }
    void ClearScreen() override {
        std::fill(frame_.begin(), frame_.end(), 0);
        DrawPicture();
        SDL_RenderPresent(renderer_);
    }
    bool CopyFrame(uint16_t* out) override {
        if (frame_.empty()) return false;
        if (!gpu_) {
            std::copy(frame_.begin(), frame_.end(), out);
            return true;
        }
        // The texture path fills the first line of each pair; the card doubles it.
        for (int y = 0; y < kFrameHeight; ++y)
            std::copy_n(frame_.data() + static_cast<size_t>(y & ~1) * kFrameWidth, kFrameWidth,
                        out + static_cast<size_t>(y) * kFrameWidth);
        return true;
    }

    bool InitInput(std::string*) override { return true; }
    void ReleaseInput() override { acquired_ = false; }
    void Acquire() override {
        acquired_ = true;
        keys_.fill(false);
    }
    void Unacquire() override { acquired_ = false; }
    void PollInput() override {
        const Uint8* state = SDL_GetKeyboardState(nullptr);
        keys_.fill(false);
        for (const KeyMapping& k : kKeys) keys_[k.code] = state[k.sdl] != 0;
    }
    bool KeyDown(uint8_t scanCode) const override { return keys_[scanCode]; }

    bool InitSound(std::string* error) override {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            *error = std::string("no sound device: ") + SDL_GetError();
            return false;
        }
        SDL_AudioSpec want{};
        want.freq = 44100;
        want.format = AUDIO_S16SYS;
        want.channels = 1;
        want.samples = 1024;
        audio_ = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
        if (audio_ == 0) {
            *error = std::string("no sound device: ") + SDL_GetError();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        return true;
    }
    void ReleaseSound() override {
        if (audio_ != 0) {
            SDL_CloseAudioDevice(audio_);
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        audio_ = 0;
    }
    void StartSound() override {
        if (audio_ == 0) return;
        SDL_ClearQueuedAudio(audio_);
        SDL_PauseAudioDevice(audio_, 0);
    }
    void StopSound() override {
        if (audio_ != 0) SDL_PauseAudioDevice(audio_, 1);
    }
    void WriteFrame(const int16_t* samples, int count) override {
        if (audio_ != 0) SDL_QueueAudio(audio_, samples, static_cast<Uint32>(count) * sizeof(int16_t));
    }

    void Message(const std::string& caption, const std::string& text) override {
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_WARNING, caption.c_str(), text.c_str(), window_);
    }
    bool AskYesNo(const std::string& caption, const std::string& text) override {
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
            ImGui::Begin(ControlBar::Caption(bar.CurrentPage()), nullptr,
                         fixed | ImGuiWindowFlags_AlwaysAutoResize);
            if (!bar.notice.empty()) ImGui::TextWrapped("%s", bar.notice.c_str());
            ImGui::TextUnformatted("This page is not built yet.");
            ImGui::End();
        }
        ImGui::Render();
        DrawPicture();
        ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
        SDL_RenderPresent(renderer_);
        Pace(kMenuMilliseconds);
        return picked;
    }

private:
    bool CreateTexture() {
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING,
                                     kFrameWidth, gpu_ ? kFrameHeight / 2 : kFrameHeight);
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
        SDL_UpdateTexture(texture_, nullptr, frame_.data(), kFrameWidth * 2 * (gpu_ ? 2 : 1));
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
    DisplaySettings* settings_ = nullptr;
    bool gpu_ = false;
    bool vsync_ = false;
    int frameSkip_ = 0;
    SDL_AudioDeviceID audio_ = 0;
    bool imgui_ = false;
    bool quit_ = false;
    bool acquired_ = false;
    std::array<bool, 256> keys_{};
    std::vector<uint16_t> frame_;
    Uint32 lastTurn_ = 0;
};

}  // namespace

int RunWindowed(const AppOptions& options, std::FILE* out, std::FILE* err) {
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
    const auto start = std::chrono::steady_clock::now();
    {
        SdlHost host;
        App app(options, host.AllDevices(), err);
        status = app.Run();
        frames = app.FramesRun();
    }
    SDL_Quit();
    if (options.frames >= 0 && status == 0) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(out, "%lld frames (%.1f s of machine time) in %.2f s\n", static_cast<long long>(frames),
                     static_cast<double>(frames) / 50.0, seconds);
    }
    return status;
}

}  // namespace vexil::host

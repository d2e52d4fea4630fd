// The headless back end: every device exists and does nothing visible. Scripted runs use it,
// and tests drive the application through it: they hold keys down, pick control bar items,
// answer questions and close the window, and read back what the application asked for.
#pragma once

#include <array>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "host/Host.h"

namespace vexil::host {

class HeadlessHost final : public Window,
                           public Display,
                           public Input,
                           public SoundOutput,
                           public Dialogs,
                           public ControlBarView {
public:
    explicit HeadlessHost(std::FILE* messages = nullptr) : messages_(messages) {}
    Devices AllDevices() { return {this, this, this, this, this, this}; }

    // What the tests set. A key that changes, and a dropped file, also make an event that the
    // next PollInput hands over.
    void SetKey(uint8_t scanCode, bool down);
    void DropFile(const std::string& path, bool shift) {
        pending_.push_back({HostEvent::Type::kDropFile, 0, shift, path});
    }
    MouseSample mouse;        // handed out once by TakeMouse while acquired
    uint8_t joystick = 0;     // what PollJoystick reads
    uint32_t padButtons = 0;  // what PollPadButtons reads
    void RequestQuit() { quit_ = true; }
    void QueuePick(int item) { picks_.push_back(item); }
    bool answer = true;        // to every yes/no question
    bool failDisplay = false;  // InitDisplay fails
    bool failSound = false;    // InitSound fails

    // What the tests read.
    int presents = 0;
    int clears = 0;
    bool fullscreen = false;
    int barDraws = 0;
    bool acquired = false;
    bool soundPlaying = false;
    int64_t samplesTaken = 0;  // by the sound output while playing
    int waitsAsked = 0;        // frames written with the normal mode's wait
    bool windowOpen = false;
    std::vector<std::string> shownMessages;  // caption: text

    // Window
    bool Create(bool fullscreen, std::string* error) override;
    void Destroy() override { windowOpen = false; }
    bool PumpMessages() override { return quit_; }
    void SetFullscreen(bool on) override { fullscreen = on; }
    // Display
    bool InitDisplay(std::string* error) override;
    void ShutdownDisplay() override {}
    uint16_t* LockFrame(int* pitch) override;
    void PresentFrame() override { ++presents; }
    void ClearScreen() override;
    bool CopyFrame(uint16_t* out) override;
    // Input
    bool InitInput(std::string*) override { return true; }
    void ReleaseInput() override { acquired = false; }
    void Acquire() override { acquired = true; }
    void Unacquire() override { acquired = false; }
    void PollInput() override;
    bool KeyDown(uint8_t scanCode) const override { return sampled_[scanCode]; }
    void TakeEvents(std::vector<HostEvent>& events) override;
    MouseSample TakeMouse() override;
    uint8_t PollJoystick() override { return joystick; }
    uint32_t PollPadButtons() override { return padButtons; }
    // Sound
    bool InitSound(std::string* error) override;
    void ReleaseSound() override { soundPlaying = false; }
    void StartSound() override { soundPlaying = true; }
    void StopSound() override { soundPlaying = false; }
    // Takes every sample at once: headless runs go as fast as the host allows.
    void WriteFrame(const int16_t*, int count, bool wait) override {
        if (soundPlaying) samplesTaken += count, waitsAsked += wait ? 1 : 0;
    }
    // Dialogs
    void Message(const std::string& caption, const std::string& text) override;
    bool AskYesNo(const std::string& caption, const std::string& text) override;
    // Control bar
    int Draw(const ControlBar& bar) override;

private:
    std::FILE* messages_;
    bool quit_ = false;
    std::array<bool, 256> keys_{};
    std::array<bool, 256> sampled_{};
    std::vector<HostEvent> pending_, polled_;
    std::deque<int> picks_;
    std::vector<uint16_t> frame_;
};

}  // namespace vexil::host

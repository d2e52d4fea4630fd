#include "host/HeadlessHost.h"

#include <algorithm>

#include "ui/ControlBar.h"

namespace vexil::host {

bool HeadlessHost::Create(bool, std::string*) {
    windowOpen = true;
    return true;
}

bool HeadlessHost::InitDisplay(std::string* error) {
    if (failDisplay) {
        if (error) *error = "no display device";
        return false;
    }
    frame_.assign(static_cast<size_t>(kFrameWidth) * kFrameHeight, 0);
    return true;
}

uint16_t* HeadlessHost::LockFrame(int* pitch) {
    if (frame_.empty()) return nullptr;
    if (pitch) *pitch = kFrameWidth;
    return frame_.data();
}

void HeadlessHost::SetKey(uint8_t scanCode, bool down) {
    if (keys_[scanCode] != down)
        pending_.push_back({down ? HostEvent::Type::kKeyDown : HostEvent::Type::kKeyUp, scanCode, false, {}});
    keys_[scanCode] = down;
}

void HeadlessHost::PollInput() {
    sampled_ = keys_;
    polled_.insert(polled_.end(), pending_.begin(), pending_.end());
    pending_.clear();
}

void HeadlessHost::TakeEvents(std::vector<HostEvent>& events) {
    events.clear();
    events.swap(polled_);
}

MouseSample HeadlessHost::TakeMouse() {
    if (!acquired) return {};
    MouseSample sample = mouse;
    mouse.dx = mouse.dy = 0;
    return sample;
}

void HeadlessHost::ClearScreen() {
    ++clears;
    std::fill(frame_.begin(), frame_.end(), 0);
}

bool HeadlessHost::CopyFrame(uint16_t* out) {
    if (frame_.empty()) return false;
    std::copy(frame_.begin(), frame_.end(), out);
    return true;
}

bool HeadlessHost::InitSound(std::string* error) {
    if (failSound) {
        if (error) *error = "no sound device";
        return false;
    }
    return true;
}

void HeadlessHost::Message(const std::string& caption, const std::string& text) {
    shownMessages.push_back(caption + ": " + text);
    if (messages_) std::fprintf(messages_, "%s: %s\n", caption.c_str(), text.c_str());
}

bool HeadlessHost::AskYesNo(const std::string& caption, const std::string& text) {
    shownMessages.push_back(caption + ": " + text);
    return answer;
}

int HeadlessHost::Draw(const ControlBar&) {
    ++barDraws;
    if (picks_.empty()) return -1;
    const int item = picks_.front();
    picks_.pop_front();
    return item;
}

}  // namespace vexil::host

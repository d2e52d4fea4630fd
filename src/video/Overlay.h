// The status overlay: short lines of text over the picture, the profile timers, and the sound
// waveform.
//
// Eight message slots, drawn one per 16 host lines from the top in an 8 x 8 font doubled to
// 16 x 16 host pixels:
//   slot 0     the floppy controller's activity line (permanent)
//   slot 1     the profiling line "T:%2.2f C:%2.2f G:%2.2f S:%2.2f" (permanent)
//   slots 2-7  timed messages; when all are taken the oldest gives way
// Timed messages expire by a monotonic millisecond clock whether or not the overlay is shown;
// a blinking one is hidden for the upper half of every 256 ms.
#pragma once

#include <cstdint>

#include "core/MessageSink.h"

namespace vexil {

// A monotonic clock in milliseconds; tests hand the overlay one they drive.
using MillisecondClock = int64_t (*)();
int64_t MonotonicMilliseconds();

class StatusOverlay final : public MessageSink {
public:
    static constexpr int kSlots = 8;
    static constexpr int kFloppySlot = 0;
    static constexpr int kProfileSlot = 1;

    explicit StatusOverlay(MillisecondClock clock = &MonotonicMilliseconds);

    // Puts `text` into a free timed slot (2-7; the oldest when none is free) for `milliseconds`
    // (below 0: for good). Returns the slot. Text longer than a slot is cut.
    int ShowMessage(const char* text, int32_t milliseconds, bool blink) override;
    // Replaces the text of an active slot; other slots and numbers are ignored.
    void SetMessageText(int slot, const char* text) override;
    void ClearMessage(int slot) override;
    // Removes the timed messages whose time has come.
    void ExpireMessages();
    // Draws every active slot with text (`pitch` in 16-bit pixels), then expires.
    void DrawMessages(uint16_t* pixels, int32_t pitch);
    // The waveform of the last synthesised frame; fewer than 8 samples draw a flat line.
    void DrawSoundWaveform(uint16_t* pixels, int32_t pitchBytes, const int16_t* samples, int32_t count) const;

    bool Active(int slot) const override { return slot >= 0 && slot < kSlots && slots_[slot].active; }
    const char* Text(int slot) const override { return slots_[slot].text; }

    // The 8 rows of a character's glyph (bit 7 leftmost), or null for codes without one.
    static const uint8_t* Glyph(unsigned char code);
    // One line of text with its top at host line `top` (`pitch` in 16-bit pixels).
    void DrawText(uint16_t* pixels, int32_t pitch, int top, const char* text) const;

private:
    struct Slot {
        bool active = false;
        char text[kTextBytes] = {};
        int64_t expiry = -1;  // milliseconds, -1 never
        bool blink = false;
        uint64_t shown = 0;  // order of showing, to find the oldest
    };

    MillisecondClock clock_;
    Slot slots_[kSlots];
    uint64_t shownCount_ = 0;
};

// How the host's time is spent per frame. Start measures the period since the previous
// start; Stop the share of that period since this start.
class ProfileTimer {
public:
    void Start();
    void Stop();
    float Percent() const { return percent_; }

private:
    uint64_t period_ = 0, started_ = 0, stopped_ = 0;
    float percent_ = 0;
};

// The profiling line for slot 1 from the three timers' shares, T capped at 99.99.
void FormatProfileLine(char* out, int size, float frame, float graphics, float sound);

}  // namespace vexil

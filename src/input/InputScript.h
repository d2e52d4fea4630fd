// Scripted input for headless runs: what the keyboard, mouse and joystick do, frame by frame,
// so that a run can be repeated exactly.
//
// One event a line; `#` starts a comment; blank lines are skipped. FRAME is the number of the
// frame before which the event happens (0 is the first):
//
//   FRAME key down|up NAME-OR-CODE   an ST key by name (see Keys.h) or code (1-127, 0x01-0x7F)
//   FRAME mouse DX DY [left] [right] mouse motion, and the buttons held from now on
//   FRAME joy BITS                   joystick 1: 0x01 up 0x02 down 0x04 left 0x08 right 0x80 fire
//   FRAME type "TEXT"                each character's key pressed and released (with Shift
//                                    where the US layout needs it), one every six frames;
//                                    \n Return, \t Tab, \" and \\ inside the quotes
//   FRAME clock YYYY-MM-DD HH:MM:SS  sets the keyboard processor's clock
//
// Without a clock line the clock starts at Ikbd::kDefaultClock (2000-01-01 12:00:00).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "input/Ikbd.h"

namespace vexil {

struct ScriptEvent {
    enum Kind : uint8_t { kKey, kMouse, kJoystick, kClock };
    int32_t frame = 0;
    Kind kind = kKey;
    uint8_t code = 0;  // key: the ST key code; joystick: the bits; mouse: the buttons
    uint8_t down = 0;  // key
    int32_t dx = 0, dy = 0;
    int64_t clock = 0;  // seconds since 1970 (SecondsOf)
    bool operator==(const ScriptEvent&) const = default;
};

constexpr int32_t kMaxScriptFrame = 10000000;
constexpr size_t kMaxScriptEvents = 1000000;
constexpr size_t kMaxScriptBytes = 16 << 20;

// Splits a line into words; a word starting with a double quote runs to the closing quote
// (escapes kept for the caller), `#` outside quotes ends the line. False when a quote is not
// closed.
bool SplitScriptWords(std::string_view line, std::vector<std::string_view>& words);
// Calls `each(words, lineNumber, why)` with the words of every line of `text` that holds any; false with
// "line N: reason" in `error` at the first line that has a control character (other than tab
// and carriage return), a quote not closed, or that `each` refuses (returning false with its
// reason in `why`).
template <class Each>
bool ForEachScriptLine(std::string_view text, std::string& error, Each each) {
    std::vector<std::string_view> words;
    std::string why;
    int lineNumber = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        words.clear();
        why.clear();
        const bool control = std::any_of(line.begin(), line.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r';
        });
        if (control)
            why = "a control character";
        else if (!SplitScriptWords(line, words))
            why = "a quote is not closed";
        else if (words.empty() || each(words, lineNumber, why))
            continue;
        error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    }
    return true;
}
// A whole word as a number: decimal with an optional sign, or 0x hexadecimal.
bool ScriptNumber(std::string_view word, int64_t& value);
// Adds the events of one line's words (the frame first); false with the reason in `why`.
bool ParseScriptEvent(const std::vector<std::string_view>& words, std::vector<ScriptEvent>& events,
                      std::string& why);
// What one event does to the keyboard processor's input.
void ApplyScriptEvent(const ScriptEvent& event, Ikbd& keyboard);

class InputScript {
public:
    // Parses a whole script. On a bad line returns false with "line N: reason" in `error` and
    // keeps no events.
    bool Parse(std::string_view text, std::string& error);
    // Reads and parses a file; the error names the file.
    bool Load(const std::string& path, std::string& error);

    // Applies every event of frames up to `frame` not applied yet, in order.
    void Apply(int32_t frame, Ikbd& keyboard);

    // The events as script lines, one a line, which parse to the same events.
    std::string Format() const;

    const std::vector<ScriptEvent>& Events() const { return events_; }

private:
    std::vector<ScriptEvent> events_;  // by frame; in file order within a frame
    size_t next_ = 0;
};

}  // namespace vexil

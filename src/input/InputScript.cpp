#include "input/InputScript.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>

#include "input/Keys.h"

namespace vexil {

namespace {

constexpr int32_t kMaxMotion = 100000;
constexpr int32_t kTypeFrames = 6;  // frames per typed character

}  // namespace

bool SplitScriptWords(std::string_view line, std::vector<std::string_view>& words) {
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        const size_t start = i;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') i += line[i] == '\\' ? 2 : 1;
            if (i >= line.size()) return false;
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#')
                ++i;
        }
        words.push_back(line.substr(start, i - start));
    }
    return true;
}

bool ScriptNumber(std::string_view word, int64_t& value) {
    if (word.empty()) return false;
    int base = 10;
    size_t start = 0;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) base = 16, start = 2;
    const char* first = word.data() + start;
    const char* last = word.data() + word.size();
    if (base == 10 && *first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, last, value, base);
    return ec == std::errc() && end == last && first != last;
}

namespace {

bool Digits(std::string_view text, size_t at, size_t count, int32_t& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY-MM-DD" and "HH:MM:SS" as seconds; false for a date that does not exist.
bool ParseClock(std::string_view date, std::string_view time, int64_t& seconds) {
    ClockTime t;
    if (date.size() != 10 || time.size() != 8 || date[4] != '-' || date[7] != '-' || time[2] != ':' ||
        time[5] != ':' || !Digits(date, 0, 4, t.year) || !Digits(date, 5, 2, t.month) ||
        !Digits(date, 8, 2, t.day) || !Digits(time, 0, 2, t.hour) || !Digits(time, 3, 2, t.minute) ||
        !Digits(time, 6, 2, t.second))
        return false;
    if (t.year < 1980 || t.year > 2079 || t.hour > 23 || t.minute > 59 || t.second > 59) return false;
    seconds = SecondsOf(t);
    const ClockTime back = TimeOf(seconds);
    return back.month == t.month && back.day == t.day;  // no 31 February
}

}  // namespace

bool ParseScriptEvent(const std::vector<std::string_view>& words, std::vector<ScriptEvent>& events,
                      std::string& why) {
    const auto Fail = [](std::string& out, const std::string& reason) {
        out = reason;
        return false;
    };
    int64_t frame = 0;
    if (words.empty() || !ScriptNumber(words[0], frame) || frame < 0 || frame > kMaxScriptFrame)
        return Fail(why, "a line starts with a frame number (0-" + std::to_string(kMaxScriptFrame) + ")");
    if (words.size() < 2) return Fail(why, "an event follows the frame number");
    ScriptEvent event;
    event.frame = static_cast<int32_t>(frame);
    const std::string_view what = words[1];
    if (what == "key") {
        int64_t code = 0;
        if (words.size() != 4 || (words[2] != "down" && words[2] != "up"))
            return Fail(why, "key down|up NAME-OR-CODE");
        if (!ScriptNumber(words[3], code)) code = StKeyByName(words[3]);
        if (code < 1 || code >= ikbd::kKeys) return Fail(why, "no ST key \"" + std::string(words[3]) + "\"");
        event.kind = ScriptEvent::kKey;
        event.code = static_cast<uint8_t>(code);
        event.down = words[2] == "down";
        events.push_back(event);
    } else if (what == "mouse") {
        int64_t dx = 0, dy = 0;
        if (words.size() < 4 || words.size() > 6 || !ScriptNumber(words[2], dx) ||
            !ScriptNumber(words[3], dy))
            return Fail(why, "mouse DX DY [left] [right]");
        if (dx < -kMaxMotion || dx > kMaxMotion || dy < -kMaxMotion || dy > kMaxMotion)
            return Fail(why, "mouse motion beyond " + std::to_string(kMaxMotion));
        event.kind = ScriptEvent::kMouse;
        event.dx = static_cast<int32_t>(dx);
        event.dy = static_cast<int32_t>(dy);
        for (size_t i = 4; i < words.size(); ++i) {
            const uint8_t bit = words[i] == "left"    ? ikbd::kLeftButton
                                : words[i] == "right" ? ikbd::kRightButton
                                                      : 0;
            if (bit == 0 || (event.code & bit)) return Fail(why, "mouse buttons are left and right");
            event.code |= bit;
        }
        events.push_back(event);
    } else if (what == "joy") {
        int64_t bits = 0;
        if (words.size() != 3 || !ScriptNumber(words[2], bits) || bits < 0 || bits > 0xFF)
            return Fail(why, "joy BITS (0-255)");
        event.kind = ScriptEvent::kJoystick;
        event.code = static_cast<uint8_t>(bits);
        events.push_back(event);
    } else if (what == "clock") {
        if (words.size() != 4 || !ParseClock(words[2], words[3], event.clock))
            return Fail(why, "clock YYYY-MM-DD HH:MM:SS (1980-2079)");
        event.kind = ScriptEvent::kClock;
        events.push_back(event);
    } else if (what == "type") {
        if (words.size() != 3 || words[2].size() < 2 || words[2].front() != '"')
            return Fail(why, "type \"TEXT\"");
        const std::string_view quoted = words[2].substr(1, words[2].size() - 2);
        int64_t at = frame;
        for (size_t i = 0; i < quoted.size(); ++i) {
            char c = quoted[i];
            if (c == '\\') {
                const char e = ++i < quoted.size() ? quoted[i] : '\0';
                c = e == 'n' ? '\n' : e == 't' ? '\t' : e == '"' || e == '\\' ? e : '\0';
                if (c == '\0') return Fail(why, "escapes in text are \\n \\t \\\" \\\\");
            }
            const TypedKey key = StKeyForChar(c);
            if (key.code == 0) return Fail(why, std::string("no key types '") + c + "'");
            if (at + kTypeFrames > kMaxScriptFrame) return Fail(why, "the text runs past the last frame");
            ScriptEvent press{};
            press.kind = ScriptEvent::kKey;
            auto add = [&](int64_t f, uint8_t code, bool down) {
                press.frame = static_cast<int32_t>(f);
                press.code = code;
                press.down = down;
                events.push_back(press);
            };
            // Shift goes down a frame before the key, so the key is seen shifted.
            if (key.shift) add(at, kStLeftShift, true);
            add(at + 1, key.code, true);
            add(at + 3, key.code, false);
            if (key.shift) add(at + 4, kStLeftShift, false);
            at += kTypeFrames;
            if (events.size() > kMaxScriptEvents) break;
        }
    } else {
        return Fail(why, "no event \"" + std::string(what) + "\" (key, mouse, joy, type, clock)");
    }
    return true;
}

bool InputScript::Parse(std::string_view text, std::string& error) {
    events_.clear();
    next_ = 0;
    if (text.size() > kMaxScriptBytes) {
        error = "the script is larger than " + std::to_string(kMaxScriptBytes >> 20) + " MB";
        return false;
    }
    std::vector<ScriptEvent> events;
    const bool parsed = ForEachScriptLine(
        text, error, [&](const std::vector<std::string_view>& words, int, std::string& why) {
            if (!ParseScriptEvent(words, events, why)) return false;
            if (events.size() <= kMaxScriptEvents) return true;
            why = "more than " + std::to_string(kMaxScriptEvents) + " events";
            return false;
        });
    if (!parsed) return false;
    std::stable_sort(events.begin(), events.end(),
                     [](const ScriptEvent& a, const ScriptEvent& b) { return a.frame < b.frame; });
    events_ = std::move(events);
    return true;
}

bool InputScript::Load(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    if (file) {
        text.resize(kMaxScriptBytes + 1);
        file.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(file.gcount()));
    }
    if (!file && (!file.eof() || file.bad())) {
        error = "cannot read the input script \"" + path + "\"";
        return false;
    }
    if (!Parse(text, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

void InputScript::Apply(int32_t frame, Ikbd& keyboard) {
    for (; next_ < events_.size() && events_[next_].frame <= frame; ++next_)
        ApplyScriptEvent(events_[next_], keyboard);
}

void ApplyScriptEvent(const ScriptEvent& e, Ikbd& keyboard) {
    IkbdInput& input = keyboard.input;
    switch (e.kind) {
        case ScriptEvent::kKey:
            input.keys[e.code & 0x7F] = e.down;
            break;
        case ScriptEvent::kMouse:
            input.mouseDx += e.dx;
            input.mouseDy += e.dy;
            input.buttons = e.code;
            break;
        case ScriptEvent::kJoystick:
            input.joystick = e.code;
            break;
        case ScriptEvent::kClock:
            keyboard.SetClock(e.clock);
            break;
    }
}

std::string InputScript::Format() const {
    std::string text;
    char line[96];
    for (const ScriptEvent& e : events_) {
        switch (e.kind) {
            case ScriptEvent::kKey:
                std::snprintf(line, sizeof line, "%d key %s 0x%02X\n", e.frame, e.down ? "down" : "up",
                              e.code);
                break;
            case ScriptEvent::kMouse:
                std::snprintf(line, sizeof line, "%d mouse %d %d%s%s\n", e.frame, e.dx, e.dy,
                              (e.code & ikbd::kLeftButton) ? " left" : "",
                              (e.code & ikbd::kRightButton) ? " right" : "");
                break;
            case ScriptEvent::kJoystick:
                std::snprintf(line, sizeof line, "%d joy 0x%02X\n", e.frame, e.code);
                break;
            case ScriptEvent::kClock: {
                const ClockTime t = TimeOf(e.clock);
                std::snprintf(line, sizeof line, "%d clock %04d-%02d-%02d %02d:%02d:%02d\n", e.frame, t.year,
                              t.month, t.day, t.hour, t.minute, t.second);
                break;
            }
        }
        text += line;
    }
    return text;
}

}  // namespace vexil

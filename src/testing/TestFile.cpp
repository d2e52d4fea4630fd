#include "testing/TestFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace vexil {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted word's text: the quotes gone, \n \t \" \\ replaced. False for another escape.
bool Unquote(std::string_view word, std::string& text) {
    if (word.size() < 2 || word.front() != '"' || word.back() != '"') return false;
    text.clear();
    for (size_t i = 1; i + 1 < word.size(); ++i) {
        char c = word[i];
        if (c == '\\') {
            const char e = word[++i];
            c = e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e == '"' || e == '\\' ? e : '\0';
            if (c == '\0') return false;
        }
        text += c;
    }
    return !text.empty();
}

bool Address(std::string_view word, uint32_t& address) {
    int64_t value = 0;
    if (!ScriptNumber(word, value) || value < 0 || value > 0xFFFFFF) return false;
    address = static_cast<uint32_t>(value);
    return true;
}

bool Count(std::string_view word, int64_t low, int64_t high, int64_t& value) {
    return ScriptNumber(word, value) && value >= low && value <= high;
}

std::string Resolve(const std::string& directory, std::string_view path) {
    const std::filesystem::path p(path);
    if (p.is_absolute() || directory.empty() || path == "-") return std::string(path);
    return (std::filesystem::path(directory) / p).lexically_normal().string();
}

class Parser {
public:
    Parser(const std::string& directory, TestFile& test) : directory_(directory), test_(test) {}

    // One line's words; false with the reason.
    bool Line(const std::vector<std::string_view>& words, int line, std::string& why) {
        line_ = line;
        why_ = &why;
        int64_t frame = 0;
        if (ScriptNumber(words[0], frame)) {
            if (frame < 0 || frame > kMaxTestFrames)
                return Fail("a frame number is 0-" + std::to_string(kMaxTestFrames));
            if (words.size() < 2) return Fail("a step follows the frame number");
            if (words[1] == "until") return Wait(words, 2, static_cast<int32_t>(frame));
            return Step(words, static_cast<int32_t>(frame));
        }
        if (words[0] == "until") return Wait(words, 1, -1);
        return Setting(words);
    }

    void Finish() {
        if (stretch_.empty() && test_.stretches.empty()) {
            TestStep exit;
            exit.kind = TestStep::kUntilExit;
            exit.frame = -1;
            stretch_.push_back(exit);
        }
        Close();
    }

    size_t Steps() const { return steps_; }

private:
    bool Fail(const std::string& reason) {
        *why_ = reason;
        return false;
    }

    bool Path(std::string_view word, std::string& path) {
        if (word.empty() || word.front() == '"') {
            std::string text;
            if (!Unquote(word, text)) return false;
            path = Resolve(directory_, text);
            return true;
        }
        path = Resolve(directory_, word);
        return true;
    }

    bool Setting(const std::vector<std::string_view>& words) {
        const std::string_view key = words[0];
        const std::string_view value = words.size() > 1 ? words[1] : std::string_view();
        const bool one = words.size() == 2;
        int64_t number = 0;
        if (key == "machine") {
            if (!one || (value != "st" && value != "ste")) return Fail("machine st|ste");
            test_.machine = value == "ste";
        } else if (key == "ram") {
            if (!one || (value != "512" && value != "1024" && value != "2048" && value != "4096"))
                return Fail("ram 512|1024|2048|4096 (KB)");
            test_.ramSize = value == "512" ? 0 : value == "1024" ? 1 : value == "2048" ? 2 : 3;
        } else if (key == "rom" || key == "disk" || key == "disk-b" || key == "folder" || key == "printer" ||
                   key == "serial" || key == "serial-in") {
            std::string path;
            if (!one || !Path(value, path)) return Fail(std::string(key) + " FILE");
            if (path == "-" && key != "printer" && key != "serial")
                return Fail(std::string(key) + " takes a file, not standard output");
            if (key == "rom") test_.rom = path;
            if (key == "disk") test_.disk = path;
            if (key == "disk-b") test_.diskB = path;
            if (key == "printer") test_.printer = path;
            if (key == "serial") test_.serial = path;
            if (key == "serial-in") test_.serialIn = path;
            if (key == "folder") test_.folder = path, test_.folderLine = line_;
        } else if (key == "boot") {
            if (!one || (value != "a" && value != "c")) return Fail("boot a|c");
            test_.boot = value[0];
        } else if (key == "frames") {
            if (!one || !Count(value, 1, kMaxTestFrames, number))
                return Fail("frames N (1-" + std::to_string(kMaxTestFrames) + ")");
            test_.frames = static_cast<int32_t>(number);
        } else if (key == "natfeats") {
            if (!one || (value != "on" && value != "off")) return Fail("natfeats on|off");
            test_.natfeats = value == "on";
        } else if (key == "expect") {
            if (words.size() != 3 || words[1] != "exit" || !Count(words[2], INT32_MIN, INT32_MAX, number))
                return Fail("expect exit N (other checks take a frame: FRAME expect ...)");
            test_.expectedExit = static_cast<int32_t>(number);
        } else {
            return Fail(
                "no setting \"" + std::string(key) +
                "\" (machine, ram, rom, disk, disk-b, folder, boot, frames, natfeats, printer, serial, "
                "serial-in, expect exit); steps start with a frame number");
        }
        return true;
    }

    bool Step(const std::vector<std::string_view>& words, int32_t frame) {
        TestStep step;
        step.line = line_;
        step.frame = frame;
        const std::string_view what = words[1];
        const size_t n = words.size();
        int64_t number = 0;
        if (what == "screenshot") {
            if (n != 3 || !Path(words[2], step.path)) return Fail("screenshot FILE");
            step.kind = TestStep::kScreenshot;
        } else if (what == "dump") {
            if (n != 6 || words[2] != "ram" || !Address(words[3], step.address) ||
                !Count(words[4], 1, kMaxDumpBytes, number) || !Path(words[5], step.path))
                return Fail("dump ram ADDR LEN FILE (LEN 1-4 MB)");
            step.kind = TestStep::kDumpRam;
            step.length = static_cast<uint32_t>(number);
        } else if (what == "expect") {
            if (!Expect(words, step)) return false;
        } else {
            std::vector<ScriptEvent> events;
            std::string why;
            if (!ParseScriptEvent(words, events, why)) {
                if (what == "key" || what == "mouse" || what == "joy" || what == "type" || what == "clock")
                    return Fail(why);
                return Fail("no step \"" + std::string(what) +
                            "\" (key, mouse, joy, type, clock, screenshot, dump, expect, until)");
            }
            step.kind = TestStep::kInput;
            for (const ScriptEvent& event : events) {
                step.event = event;
                step.frame = event.frame;
                Add(step);
            }
            return true;
        }
        Add(step);
        return true;
    }

    bool Expect(const std::vector<std::string_view>& words, TestStep& step) {
        const size_t n = words.size();
        const std::string_view what = n > 2 ? words[2] : std::string_view();
        int64_t v[4] = {};
        std::vector<uint8_t> bytes;
        if (what == "pixel") {
            if (n != 6 || !Count(words[3], 0, 799, v[0]) || !Count(words[4], 0, 599, v[1]) ||
                !ParseHexBytes(words[5], bytes, 3) || bytes.size() != 3)
                return Fail("expect pixel X Y RRGGBB (X 0-799, Y 0-599)");
            step.kind = TestStep::kExpectPixel;
            step.x = static_cast<int32_t>(v[0]);
            step.y = static_cast<int32_t>(v[1]);
            step.rgb = static_cast<uint32_t>(bytes[0] << 16 | bytes[1] << 8 | bytes[2]);
        } else if (what == "region") {
            if (n != 8 || !Count(words[3], 0, 799, v[0]) || !Count(words[4], 0, 599, v[1]) ||
                !Count(words[5], 1, 800 - v[0], v[2]) || !Count(words[6], 1, 600 - v[1], v[3]) ||
                !ParseHexBytes(words[7], bytes, 32) || bytes.size() != 32)
                return Fail("expect region X Y W H SHA256 (inside the 800 x 600 picture, 64 hex digits)");
            step.kind = TestStep::kExpectRegion;
            step.x = static_cast<int32_t>(v[0]);
            step.y = static_cast<int32_t>(v[1]);
            step.w = static_cast<int32_t>(v[2]);
            step.h = static_cast<int32_t>(v[3]);
            std::copy(bytes.begin(), bytes.end(), step.sha256.begin());
        } else if (what == "ram") {
            if (n != 5 || !Address(words[3], step.address) || !ParseHexBytes(words[4], step.bytes, 4096))
                return Fail("expect ram ADDR HEXBYTES (up to 4096 bytes)");
            step.kind = TestStep::kExpectRam;
        } else if (what == "output") {
            if (n != 4 || !Unquote(words[3], step.text))
                return Fail("expect output \"TEXT\" (escapes \\n \\r \\t \\\" \\\\)");
            step.kind = TestStep::kExpectOutput;
        } else if (what == "sound" || what == "silence") {
            if (n != 3) return Fail("expect sound|silence");
            step.kind = what == "sound" ? TestStep::kExpectSound : TestStep::kExpectSilence;
        } else if (what == "exit") {
            return Fail("expect exit N is a setting: it takes no frame");
        } else {
            return Fail("expect pixel|region|ram|output|sound|silence");
        }
        return true;
    }

    bool Wait(const std::vector<std::string_view>& words, size_t at, int32_t frame) {
        TestStep step;
        step.line = line_;
        step.frame = frame;
        const size_t n = words.size() - at;
        const std::string_view what = n > 0 ? words[at] : std::string_view();
        if (what == "ram") {
            if (n != 4 || !Address(words[at + 1], step.address) || words[at + 2] != "==" ||
                !ParseHexBytes(words[at + 3], step.bytes, 4096))
                return Fail("until ram ADDR == HEXBYTES");
            step.kind = TestStep::kUntilRam;
        } else if (what == "output") {
            if (n != 2 || !Unquote(words[at + 1], step.text))
                return Fail("until output \"TEXT\" (escapes \\n \\r \\t \\\" \\\\)");
            step.kind = TestStep::kUntilOutput;
        } else if (what == "pc") {
            if (n != 2 || !Address(words[at + 1], step.address) || (step.address & 1))
                return Fail("until pc ADDR (even)");
            step.kind = TestStep::kUntilPc;
        } else if (what == "exit") {
            if (n != 1) return Fail("until exit");
            step.kind = TestStep::kUntilExit;
        } else {
            return Fail("until ram|output|pc|exit");
        }
        Add(step);
        Close();
        return true;
    }

    void Add(const TestStep& step) {
        stretch_.push_back(step);
        ++steps_;
    }

    // Ends a stretch: its steps by frame, the wait (if any) last.
    void Close() {
        if (stretch_.empty()) return;
        const auto end = stretch_.back().IsWait() ? stretch_.end() - 1 : stretch_.end();
        std::stable_sort(stretch_.begin(), end,
                         [](const TestStep& a, const TestStep& b) { return a.frame < b.frame; });
        test_.stretches.push_back(std::move(stretch_));
        stretch_.clear();
    }

    const std::string& directory_;
    TestFile& test_;
    std::vector<TestStep> stretch_;
    size_t steps_ = 0;
    int line_ = 0;
    std::string* why_ = nullptr;
};

}  // namespace

bool ParseHexBytes(std::string_view text, std::vector<uint8_t>& bytes, size_t limit) {
    bytes.clear();
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > limit) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

bool ParseTestFile(std::string_view text, const std::string& directory, TestFile& test, std::string& error) {
    TestFile parsed;
    parsed.path = test.path;
    parsed.name = test.name;
    Parser parser(directory, parsed);
    if (text.size() > kMaxTestFileBytes) {
        error = "the test file is larger than 1 MB";
        return false;
    }
    const bool read = ForEachScriptLine(
        text, error, [&](const std::vector<std::string_view>& words, int line, std::string& why) {
            if (!parser.Line(words, line, why)) return false;
            if (parser.Steps() <= kMaxTestSteps) return true;
            why = "more than " + std::to_string(kMaxTestSteps) + " steps";
            return false;
        });
    if (!read) return false;
    parser.Finish();
    test = std::move(parsed);
    return true;
}

bool LoadTestFile(const std::string& path, TestFile& test, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    if (file) {
        text.resize(kMaxTestFileBytes + 1);
        file.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(file.gcount()));
    }
    if (!file && (!file.is_open() || file.bad() || !file.eof())) {
        error = path + ": cannot read the test file";
        return false;
    }
    test.path = path;
    test.name = std::filesystem::path(path).stem().string();
    if (!ParseTestFile(text, std::filesystem::path(path).parent_path().string(), test, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace vexil

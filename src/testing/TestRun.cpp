#include "testing/TestRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
#include "recording/OutputFile.h"
#include "recording/PortFiles.h"
#include "recording/Tga.h"
#include "core/Sha256.h"

namespace vexil {

namespace {

constexpr int kWidth = 800, kHeight = 600;
constexpr size_t kOutputLimit = 1 << 20;  // bytes kept of each output
constexpr int kLevelFrames = 50;          // "the last second"

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "$%0*X", digits, value);
    return text;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    char pair[4];
    for (const uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        text += pair;
    }
    return text;
}

// What a check found, quoted for the report: printable ASCII as it is, the rest escaped, cut
// short after `limit` characters.
std::string Quote(const std::string& text, size_t limit = 200) {
    std::string out = "\"";
    const size_t start = text.size() > limit ? text.size() - limit : 0;
    if (start > 0) out += "...";
    char escaped[8];
    for (size_t i = start; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '"' || c == '\\') {
            out += '\\', out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

uint32_t Rgb888(uint16_t p) {
    const uint32_t r = (p >> 11) * 255 / 31, g = ((p >> 5) & 63) * 255 / 63, b = (p & 31) * 255 / 31;
    return r << 16 | g << 8 | b;
}

class Output {
public:
    Output() { text_.reserve(kOutputLimit); }
    void Add(const char* text, size_t length) {
        text_.append(text, std::min(length, kOutputLimit - text_.size()));
    }
    const std::string& Text() const { return text_; }
    bool Contains(const std::string& wanted) const { return text_.find(wanted) != std::string::npos; }

private:
    std::string text_;
};

class Runner {
public:
    Runner(const TestFile& test, const TestRunOptions& options, TestResult& result)
        : test_(test),
          options_(options),
          result_(result),
          picture_(static_cast<size_t>(kWidth) * kHeight, 0) {}

    void Run();
    // The result's figures and outputs; a failed run's picture to the failure folder; the last
    // picture to `lastPicture` when given.
    void Finish(std::vector<uint16_t>* lastPicture);

private:
    bool Start();
    bool Advance();
    bool StepToPc(uint32_t pc);
    void FrameEnded();
    void Do(const TestStep& step);
    bool Holds(const TestStep& wait);
    std::string Describe(const TestStep& wait) const;
    void Fail(const TestStep& step, const std::string& what) {
        result_.messages.push_back("line " + std::to_string(step.line) + ": " + what);
    }
    void Error(const std::string& what) {
        result_.status = TestResult::kError;
        result_.messages.push_back(what);
    }
    bool OutputContains(const std::string& text) const {
        return serial_.Contains(text) || printer_.Contains(text) || program_.Contains(text);
    }
    bool RamEquals(uint32_t address, const std::vector<uint8_t>& bytes, std::vector<uint8_t>* found) const;
    bool Level() const {
        return std::any_of(levels_, levels_ + kLevelFrames, [](int32_t l) { return l >= kSoundLevel; });
    }

    const TestFile& test_;
    const TestRunOptions& options_;
    TestResult& result_;
    std::unique_ptr<Machine> machine_;
    std::vector<uint16_t> picture_;
    Output serial_, printer_, program_, tos_;
    PortWriter printerFile_, serialFile_;
    PortReader serialIn_;
    int64_t frames_ = 0;
    bool stopped_ = false;  // exited, or the processor stopped: nothing more runs
    int32_t levels_[kLevelFrames] = {};
};

bool Runner::Start() {
    std::string error;
    if (!test_.printer.empty() && !printerFile_.Open(test_.printer, error)) return Error(error), false;
    if (!test_.serial.empty() && !serialFile_.Open(test_.serial, error)) return Error(error), false;
    if (!test_.serialIn.empty() && !serialIn_.Open(test_.serialIn, error)) return Error(error), false;
    MachineSettings settings;
    settings.Machine = test_.machine;
    settings.RAMSize = test_.ramSize;
    settings.DriveA = test_.disk;
    settings.DriveB = test_.diskB;
    settings.FolderDrive = test_.folder;
    settings.BootDrive = test_.boot;
    machine_ = std::make_unique<Machine>(settings);
    if (!machine_->SettingsFolderError().empty())
        return Error("line " + std::to_string(test_.folderLine) + ": " + machine_->SettingsFolderError()),
               false;
    for (int drive = 0; drive < 2; ++drive) {
        const InsertResult& insert = machine_->SettingsInsertResult(drive);
        if (!insert) return Error(std::string("drive ") + char('A' + drive) + ": " + insert.message), false;
    }
    const RomLoad rom = LoadTosRom(*machine_, test_.rom.empty() ? options_.defaultRom : test_.rom);
    if (!rom.ok) return Error(rom.message), false;
    machine_->RenderInto(picture_.data(), kWidth * 2);
    machine_->soundSink = [this](const int16_t* samples, int32_t count) {
        int32_t low = 0, high = 0;
        if (count > 0) {
            const auto [min, max] = std::minmax_element(samples, samples + count);
            low = *min, high = *max;
        }
        levels_[frames_ % kLevelFrames] = high - low;
    };
    machine_->SetPrinter([this](uint8_t byte) {
        printer_.Add(reinterpret_cast<const char*>(&byte), 1);
        printerFile_.Put(byte);
    });
    machine_->SetSerial(
        [this](uint8_t byte) {
            serial_.Add(reinterpret_cast<const char*>(&byte), 1);
            serialFile_.Put(byte);
        },
        serialIn_.IsOpen() ? std::function<int32_t()>([this] { return serialIn_.Next(); }) : nullptr);
    NativeFeatures& natFeats = machine_->NatFeats();
    natFeats.fullName = options_.fullName.c_str();
    natFeats.output.context = this;
    natFeats.output.write = [](void* c, const char* text, size_t length, bool fromRom) {
        Runner& r = *static_cast<Runner*>(c);
        (fromRom ? r.tos_ : r.program_).Add(text, length);
    };
    machine_->SetNativeFeatures(test_.natfeats);
    if (machine_->Reset(true) != 0) return Error("the ROM's reset vectors do not start the processor"), false;
    return true;
}

void Runner::FrameEnded() {
    ++frames_;
    if (machine_->NatFeats().Exited()) stopped_ = true;
}

// One frame, unless the run has ended or reached the time limit.
bool Runner::Advance() {
    if (stopped_ || frames_ >= test_.frames) return false;
    const uint32_t cpu = machine_->RunFrame();
    if (cpu != kRunBudgetSpent) {
        stopped_ = true;
        result_.messages.push_back(cpu == kRunHalted
                                       ? "the processor halted after a double bus or address error"
                                   : cpu == kRunFetchFault ? "the program ran into an address with no memory"
                                                           : "RESET with nothing to reset");
        return false;
    }
    FrameEnded();
    return true;
}

// One instruction at a time until the PC is `pc`: slow, for this wait alone.
bool Runner::StepToPc(uint32_t pc) {
    while ((g_cpu.pc & kAddressMask) != pc) {
        if (stopped_ || frames_ >= test_.frames) return false;
        const Machine::Step step = machine_->StepInstruction();
        if (step.frameEnded) FrameEnded();
        if (step.cpu != kRunBudgetSpent) {
            stopped_ = true;
            result_.messages.push_back("the processor stopped before the PC reached " + Hex(pc, 6));
            return false;
        }
        if (machine_->NatFeats().Exited()) stopped_ = true;
    }
    return true;
}

bool Runner::RamEquals(uint32_t address, const std::vector<uint8_t>& bytes,
                       std::vector<uint8_t>* found) const {
    bool equal = true;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t b = machine_->PeekByte(address + static_cast<uint32_t>(i));
        if (found) found->push_back(b);
        equal = equal && b == bytes[i];
    }
    return equal;
}

void Runner::Do(const TestStep& step) {
    std::string error;
    switch (step.kind) {
        case TestStep::kInput:
            if (!stopped_) ApplyScriptEvent(step.event, machine_->Keyboard());
            return;
        case TestStep::kScreenshot:
            if (!WriteTga(step.path, picture_.data(), kWidth, kHeight, kWidth, &error)) Fail(step, error);
            return;
        case TestStep::kDumpRam: {
            std::vector<uint8_t> bytes(step.length);
            for (uint32_t i = 0; i < step.length; ++i) bytes[i] = machine_->PeekByte(step.address + i);
            if (!WriteWholeFile(step.path, bytes, &error)) Fail(step, error);
            return;
        }
        case TestStep::kExpectPixel: {
            const uint32_t found = Rgb888(picture_[static_cast<size_t>(step.y) * kWidth + step.x]);
            if (found != step.rgb) {
                char text[96];
                std::snprintf(text, sizeof text, "pixel %d,%d: expected %06X, found %06X", step.x, step.y,
                              step.rgb, found);
                Fail(step, text);
            }
            return;
        }
        case TestStep::kExpectRegion: {
            const std::array<uint8_t, 32> found = RegionHash(picture_.data(), step.x, step.y, step.w, step.h);
            if (found != step.sha256)
                Fail(step, "region " + std::to_string(step.x) + "," + std::to_string(step.y) + " " +
                               std::to_string(step.w) + "x" + std::to_string(step.h) + ": expected " +
                               Sha256::Hex(step.sha256) + ", found " + Sha256::Hex(found));
            return;
        }
        case TestStep::kExpectRam: {
            std::vector<uint8_t> found;
            if (!RamEquals(step.address, step.bytes, &found))
                Fail(step, "ram " + Hex(step.address, 6) + ": expected " + HexBytes(step.bytes) + ", found " +
                               HexBytes(found));
            return;
        }
        case TestStep::kExpectOutput:
            if (!OutputContains(step.text))
                Fail(step, "output: expected " + Quote(step.text) + ", found serial " +
                               Quote(serial_.Text()) + ", printer " + Quote(printer_.Text()) +
                               ", NF_STDERR " + Quote(program_.Text()));
            return;
        case TestStep::kExpectSound:
        case TestStep::kExpectSilence: {
            const bool sound = Level();
            const bool wanted = step.kind == TestStep::kExpectSound;
            if (sound != wanted) {
                const int32_t loudest = *std::max_element(levels_, levels_ + kLevelFrames);
                Fail(step, std::string("expected ") + (wanted ? "sound" : "silence") +
                               " over the last second, found a level of " + std::to_string(loudest));
            }
            return;
        }
        default:
            return;
    }
}

bool Runner::Holds(const TestStep& wait) {
    switch (wait.kind) {
        case TestStep::kUntilRam:
            return RamEquals(wait.address, wait.bytes, nullptr);
        case TestStep::kUntilOutput:
            return OutputContains(wait.text);
        case TestStep::kUntilPc:
            return (g_cpu.pc & kAddressMask) == wait.address;
        case TestStep::kUntilExit:
            return machine_->NatFeats().Exited();
        default:
            return true;
    }
}

std::string Runner::Describe(const TestStep& wait) const {
    switch (wait.kind) {
        case TestStep::kUntilRam:
            return "until ram " + Hex(wait.address, 6) + " == " + HexBytes(wait.bytes);
        case TestStep::kUntilOutput:
            return "until output " + Quote(wait.text);
        case TestStep::kUntilPc:
            return "until pc " + Hex(wait.address, 6);
        default:
            return "until exit";
    }
}

void Runner::Run() {
    if (!Start()) return;
    bool timeUp = false;
    for (const std::vector<TestStep>& stretch : test_.stretches) {
        const int64_t base = frames_;
        int32_t lastFrame = 0;
        for (const TestStep& step : stretch) {
            if (step.IsWait()) break;
            while (frames_ < base + step.frame && Advance()) {
            }
            if (frames_ < base + step.frame && !stopped_) {
                Fail(step, "the time limit of " + std::to_string(test_.frames) + " frames came first");
                timeUp = true;
                break;
            }
            lastFrame = std::max(lastFrame, step.frame);
            Do(step);
        }
        if (timeUp) break;
        const TestStep& wait = stretch.back();
        if (!wait.IsWait()) continue;
        const int64_t start = base + std::max(lastFrame, wait.frame);
        while (frames_ < start && Advance()) {
        }
        bool held = false;
        if (wait.kind == TestStep::kUntilPc && !stopped_) {
            held = StepToPc(wait.address);
        } else {
            while (!(held = Holds(wait)) && Advance()) {
            }
        }
        if (!held) {
            if (stopped_ && machine_->NatFeats().Exited())
                Fail(wait, Describe(wait) + ": the program exited first");
            else if (!stopped_)
                Fail(wait, Describe(wait) + ": not reached within the time limit of " +
                               std::to_string(test_.frames) + " frames");
            else
                Fail(wait, Describe(wait) + ": the processor stopped first");
            break;
        }
    }
    const NativeFeatures& natFeats = machine_->NatFeats();
    result_.exited = natFeats.Exited();
    result_.exitCode = natFeats.ExitCode();
    const int32_t wanted = test_.expectedExit.value_or(0);
    if (test_.expectedExit && !result_.exited)
        result_.messages.push_back("expected exit code " + std::to_string(wanted) +
                                   ", the program did not exit");
    else if (result_.exited && result_.exitCode != wanted)
        result_.messages.push_back("expected exit code " + std::to_string(wanted) + ", found " +
                                   std::to_string(result_.exitCode));
    std::string error;
    if (!printerFile_.Close(error)) result_.messages.push_back(error);
    if (!serialFile_.Close(error)) result_.messages.push_back(error);
}

void Runner::Finish(std::vector<uint16_t>* lastPicture) {
    result_.frames = frames_;
    result_.output = serial_.Text() + printer_.Text() + program_.Text();
    result_.tosOutput = tos_.Text();
    if (result_.status != TestResult::kError && !result_.messages.empty()) {
        result_.status = TestResult::kFail;
        if (!options_.failureDirectory.empty()) {
            const std::string path =
                (std::filesystem::path(options_.failureDirectory) / (test_.name + ".fail.tga")).string();
            std::string error;
            if (WriteTga(path, picture_.data(), kWidth, kHeight, kWidth, &error))
                result_.screenshot = path;
            else
                result_.messages.push_back(error);
        }
    }
    if (lastPicture) *lastPicture = std::move(picture_);
}

}  // namespace

std::array<uint8_t, 32> RegionHash(const uint16_t* picture, int x, int y, int w, int h) {
    Sha256 sha;
    uint8_t row[3 * kWidth];
    for (int line = y; line < y + h; ++line) {
        for (int i = 0; i < w; ++i) {
            const uint32_t rgb = Rgb888(picture[static_cast<size_t>(line) * kWidth + x + i]);
            row[3 * i] = static_cast<uint8_t>(rgb);
            row[3 * i + 1] = static_cast<uint8_t>(rgb >> 8);
            row[3 * i + 2] = static_cast<uint8_t>(rgb >> 16);
        }
        sha.Add(row, static_cast<size_t>(3 * w));
    }
    return sha.Finish();
}

namespace {

TestResult RunWith(const TestFile& test, const TestRunOptions& options, std::vector<uint16_t>* lastPicture) {
    TestResult result;
    result.name = test.name;
    result.path = test.path;
    const auto start = std::chrono::steady_clock::now();
    Runner runner(test, options, result);
    runner.Run();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    runner.Finish(lastPicture);
    return result;
}

}  // namespace

TestResult RunTest(const TestFile& test, const TestRunOptions& options) {
    return RunWith(test, options, nullptr);
}

bool LastFrameRegionHash(const TestFile& test, const TestRunOptions& options, int x, int y, int w, int h,
                         std::string& hash, std::string& error) {
    if (x < 0 || y < 0 || w < 1 || h < 1 || x + w > kWidth || y + h > kHeight) {
        error = "the region lies outside the 800 x 600 picture";
        return false;
    }
    std::vector<uint16_t> picture;
    const TestResult result = RunWith(test, options, &picture);
    if (result.status == TestResult::kError) {
        error = result.messages.empty() ? "the test did not run" : result.messages.front();
        return false;
    }
    hash = Sha256::Hex(RegionHash(picture.data(), x, y, w, h));
    return true;
}

}  // namespace vexil

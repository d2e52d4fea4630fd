#include "app/TestCommand.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "input/InputScript.h"
#include "recording/OutputFile.h"

namespace vexil {

namespace {

constexpr int kMaxJobs = 256;

const char* StatusWord(TestResult::Status status) {
    return status == TestResult::kPass ? "PASS" : status == TestResult::kFail ? "FAIL" : "ERROR";
}

void PrintResult(const TestResult& r, std::FILE* out) {
    std::fprintf(out, "%-24s %-5s %7lld frames %7.2f s\n", r.name.c_str(), StatusWord(r.status),
                 static_cast<long long>(r.frames), r.seconds);
    for (const std::string& message : r.messages) std::fprintf(out, "    %s\n", message.c_str());
    if (!r.screenshot.empty()) std::fprintf(out, "    last picture: %s\n", r.screenshot.c_str());
    std::fflush(out);
}

// ---- result packing -----------------------------------------------------------------------------

void PutBytes(std::vector<uint8_t>& out, const void* data, size_t length) {
    if (length == 0) return;
    const size_t at = out.size();
    out.resize(at + length);
    std::memcpy(out.data() + at, data, length);
}
void PutString(std::vector<uint8_t>& out, const std::string& text) {
    const uint32_t length = static_cast<uint32_t>(text.size());
    PutBytes(out, &length, sizeof length);
    PutBytes(out, text.data(), text.size());
}

class Unpacker {
public:
    explicit Unpacker(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    template <typename T>
    bool Get(T& value) {
        if (bytes_.size() - at_ < sizeof value) return false;
        std::memcpy(&value, bytes_.data() + at_, sizeof value);
        at_ += sizeof value;
        return true;
    }
    bool GetString(std::string& text) {
        uint32_t length = 0;
        if (!Get(length) || bytes_.size() - at_ < length) return false;
        text.assign(reinterpret_cast<const char*>(bytes_.data() + at_), length);
        at_ += length;
        return true;
    }
    bool AtEnd() const { return at_ == bytes_.size(); }

private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

// ---- JUnit ----------------------------------------------------------------------------------

// Text for XML: the five special characters as entities; control characters and bytes
// outside ASCII, which need not be valid UTF-8, as '?'.
std::string Xml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += (c < 0x20 && c != '\n' && c != '\t') || c >= 0x7F ? '?' : ch;
        }
    }
    return out;
}

// ---- processes ------------------------------------------------------------------------------

struct Job {
    pid_t pid = -1;
    int fd = -1;
    size_t index = 0;
    std::vector<uint8_t> bytes;
};

// Runs `test` in a child process that writes its packed result into a pipe.
bool StartJob(const TestFile& test, const TestRunOptions& options, size_t index, Job& job) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        const std::vector<uint8_t> bytes = PackResult(RunTest(test, options));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fds[1], bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) _exit(1);
            done += static_cast<size_t>(n);
        }
        std::fflush(nullptr);
        _exit(0);
    }
    close(fds[1]);
    job = Job{pid, fds[0], index, {}};
    return true;
}

// Runs the tests, `jobs` at a time, and hands each result on in the order given.
void RunAll(const std::vector<TestFile>& tests, const TestRunOptions& options, int jobs,
            std::vector<TestResult>& results, const std::vector<bool>& runnable, std::FILE* out) {
    std::vector<bool> done(tests.size(), false);
    size_t next = 0, printed = 0;
    std::vector<Job> running;
    const auto printReady = [&] {
        while (printed < tests.size() && done[printed]) PrintResult(results[printed++], out);
    };
    for (size_t i = 0; i < tests.size(); ++i)
        if (!runnable[i]) done[i] = true;
    printReady();
    for (;;) {
        while (static_cast<int>(running.size()) < jobs && next < tests.size()) {
            if (!runnable[next]) {
                ++next;
                continue;
            }
            Job job;
            if (jobs > 1 && StartJob(tests[next], options, next, job)) {
                running.push_back(std::move(job));
            } else {
                results[next] = RunTest(tests[next], options);  // in this process
                done[next] = true;
            }
            ++next;
        }
        printReady();
        if (running.empty()) {
            if (next >= tests.size()) break;
            continue;
        }
        std::vector<pollfd> fds;
        for (const Job& job : running) fds.push_back({job.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
        for (size_t i = running.size(); i-- > 0;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Job& job = running[i];
            uint8_t buffer[65536];
            const ssize_t n = read(job.fd, buffer, sizeof buffer);
            if (n > 0) {
                job.bytes.insert(job.bytes.end(), buffer, buffer + n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            close(job.fd);
            int status = 0;
            waitpid(job.pid, &status, 0);
            TestResult& result = results[job.index];
            if (!UnpackResult(job.bytes, result)) {
                result.name = tests[job.index].name;
                result.path = tests[job.index].path;
                result.status = TestResult::kFail;
                result.messages = {"the test's process ended without a result (status " +
                                   std::to_string(status) + ")"};
            }
            done[job.index] = true;
            running.erase(running.begin() + static_cast<ptrdiff_t>(i));
        }
    }
    printReady();
}

bool Number(const std::string& word, int64_t low, int64_t high, int64_t& value) {
    return ScriptNumber(word, value) && value >= low && value <= high;
}

int Usage(std::FILE* err, const std::string& why) {
    std::fprintf(err,
                 "vexil: %s\n"
                 "usage: vexil test [-j N] [--junit FILE] [--rom FILE] FILE...\n"
                 "       vexil test [--rom FILE] --print-region X Y W H FILE\n",
                 why.c_str());
    return 2;
}

}  // namespace

std::vector<uint8_t> PackResult(const TestResult& r) {
    std::vector<uint8_t> out;
    const uint8_t status = r.status, exited = r.exited;
    PutBytes(out, &status, 1);
    PutBytes(out, &r.frames, sizeof r.frames);
    PutBytes(out, &r.seconds, sizeof r.seconds);
    PutBytes(out, &exited, 1);
    PutBytes(out, &r.exitCode, sizeof r.exitCode);
    for (const std::string* text : {&r.name, &r.path, &r.screenshot, &r.output, &r.tosOutput})
        PutString(out, *text);
    const uint32_t count = static_cast<uint32_t>(r.messages.size());
    PutBytes(out, &count, sizeof count);
    for (const std::string& message : r.messages) PutString(out, message);
    return out;
}

bool UnpackResult(const std::vector<uint8_t>& bytes, TestResult& result) {
    Unpacker in(bytes);
    TestResult r;
    uint8_t status = 0, exited = 0;
    uint32_t count = 0;
    if (!in.Get(status) || status > TestResult::kError || !in.Get(r.frames) || !in.Get(r.seconds) ||
        !in.Get(exited) || exited > 1 || !in.Get(r.exitCode))
        return false;
    for (std::string* text : {&r.name, &r.path, &r.screenshot, &r.output, &r.tosOutput})
        if (!in.GetString(*text)) return false;
    if (!in.Get(count) || count > bytes.size()) return false;
    r.messages.resize(count);
    for (std::string& message : r.messages)
        if (!in.GetString(message)) return false;
    if (!in.AtEnd()) return false;
    r.status = static_cast<TestResult::Status>(status);
    r.exited = exited != 0;
    result = std::move(r);
    return true;
}

std::string JunitReport(const std::vector<TestResult>& results) {
    int failures = 0, errors = 0;
    double seconds = 0;
    for (const TestResult& r : results) {
        failures += r.status == TestResult::kFail;
        errors += r.status == TestResult::kError;
        seconds += r.seconds;
    }
    char head[256];
    std::snprintf(head, sizeof head, "tests=\"%zu\" failures=\"%d\" errors=\"%d\" time=\"%.3f\"",
                  results.size(), failures, errors, seconds);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += std::string("<testsuites ") + head + ">\n";
    xml += std::string("  <testsuite name=\"vexil\" ") + head + ">\n";
    for (const TestResult& r : results) {
        char time[32];
        std::snprintf(time, sizeof time, "%.3f", r.seconds);
        xml += "    <testcase classname=\"vexil\" name=\"" + Xml(r.name) + "\" file=\"" + Xml(r.path) +
               "\" time=\"" + time + "\">\n";
        if (r.status != TestResult::kPass) {
            std::string all;
            for (const std::string& message : r.messages) all += message + "\n";
            const std::string first = r.messages.empty() ? std::string() : r.messages.front();
            const char* tag = r.status == TestResult::kFail ? "failure" : "error";
            xml += std::string("      <") + tag + " message=\"" + Xml(first) + "\">" + Xml(all) + "</" + tag +
                   ">\n";
        }
        if (!r.output.empty()) xml += "      <system-out>" + Xml(r.output) + "</system-out>\n";
        if (!r.tosOutput.empty()) xml += "      <system-err>" + Xml(r.tosOutput) + "</system-err>\n";
        xml += "    </testcase>\n";
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

int RunTestCommand(const std::vector<std::string>& args, const std::string& defaultRom,
                   const std::string& fullName, std::FILE* out, std::FILE* err) {
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    int jobs = cores > 0 ? static_cast<int>(std::min<long>(cores, kMaxJobs)) : 1;
    std::string junit, rom = defaultRom;
    int64_t region[4] = {};
    bool printRegion = false;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        int64_t value = 0;
        if (arg == "-j" || arg == "--jobs") {
            if (!hasValue || !Number(args[++i], 1, kMaxJobs, value))
                return Usage(err, "-j takes a number of processes (1-256)");
            jobs = static_cast<int>(value);
        } else if (arg.rfind("-j", 0) == 0 && arg.size() > 2) {
            if (!Number(arg.substr(2), 1, kMaxJobs, value))
                return Usage(err, "-j takes a number of processes (1-256)");
            jobs = static_cast<int>(value);
        } else if (arg == "--junit" || arg == "--rom") {
            if (!hasValue || args[i + 1].empty()) return Usage(err, arg + " needs a file name");
            (arg == "--junit" ? junit : rom) = args[++i];
        } else if (arg == "--print-region") {
            if (i + 4 >= args.size() || !Number(args[i + 1], 0, 799, region[0]) ||
                !Number(args[i + 2], 0, 599, region[1]) || !Number(args[i + 3], 1, 800, region[2]) ||
                !Number(args[i + 4], 1, 600, region[3]))
                return Usage(err, "--print-region takes X Y W H inside the 800 x 600 picture");
            i += 4;
            printRegion = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage(err, "unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return Usage(err, "no test file");
    TestRunOptions options;
    options.defaultRom = rom;
    options.fullName = fullName;
    if (printRegion) {
        if (files.size() != 1) return Usage(err, "--print-region takes one test file");
        TestFile test;
        std::string error, hash;
        if (!LoadTestFile(files[0], test, error)) {
            std::fprintf(err, "vexil: %s\n", error.c_str());
            return 2;
        }
        if (!LastFrameRegionHash(test, options, static_cast<int>(region[0]), static_cast<int>(region[1]),
                                 static_cast<int>(region[2]), static_cast<int>(region[3]), hash, error)) {
            std::fprintf(err, "vexil: %s: %s\n", files[0].c_str(), error.c_str());
            return 2;
        }
        std::fprintf(out, "%s\n", hash.c_str());
        return 0;
    }
    if (!junit.empty()) {
        const std::filesystem::path folder = std::filesystem::path(junit).parent_path();
        options.failureDirectory = folder.empty() ? "." : folder.string();
    } else {
        options.failureDirectory = ".";
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<TestFile> tests(files.size());
    std::vector<TestResult> results(files.size());
    std::vector<bool> runnable(files.size(), true);
    for (size_t i = 0; i < files.size(); ++i) {
        std::string error;
        if (!LoadTestFile(files[i], tests[i], error)) {
            runnable[i] = false;
            results[i].name = std::filesystem::path(files[i]).stem().string();
            results[i].path = files[i];
            results[i].status = TestResult::kError;
            results[i].messages = {error};
        }
    }
    RunAll(tests, options, jobs, results, runnable, out);
    int passed = 0, failed = 0, errors = 0;
    for (const TestResult& r : results) {
        passed += r.status == TestResult::kPass;
        failed += r.status == TestResult::kFail;
        errors += r.status == TestResult::kError;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(out, "%zu tests: %d passed, %d failed, %d errors in %.2f s\n", results.size(), passed,
                 failed, errors, seconds);
    if (!junit.empty()) {
        const std::string xml = JunitReport(results);
        std::string error;
        if (!WriteWholeFile(junit, std::vector<uint8_t>(xml.begin(), xml.end()), &error)) {
            std::fprintf(err, "vexil: %s\n", error.c_str());
            if (errors == 0) errors = 1;
        }
    }
    return errors > 0 ? 2 : failed > 0 ? 1 : 0;
}

}  // namespace vexil

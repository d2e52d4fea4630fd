// `vexil test`: statuses, the order of the report, results across the pipe, and the JUnit
// file read back by an XML reader of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/TestCommand.h"
#include "support/Asm.h"
#include "support/TestDisk.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

// A small, strict XML reader: elements, attributes and text, with the five entities; false for
// anything that is not well formed.
struct XmlNode {
    std::string name, text;
    std::map<std::string, std::string> attributes;
    std::vector<XmlNode> children;
};

class XmlReader {
public:
    explicit XmlReader(const std::string& text) : s_(text) {}
    bool Read(XmlNode& root) {
        if (s_.rfind("<?xml", 0) == 0) {
            const size_t end = s_.find("?>");
            if (end == std::string::npos) return false;
            at_ = end + 2;
        }
        Space();
        if (!Element(root)) return false;
        Space();
        return at_ == s_.size();
    }

private:
    void Space() {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
    }
    bool Name(std::string& name) {
        const size_t start = at_;
        while (at_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '-' ||
                                   s_[at_] == '_' || s_[at_] == ':'))
            ++at_;
        name = s_.substr(start, at_ - start);
        return !name.empty();
    }
    bool Text(char end, std::string& out) {
        while (at_ < s_.size() && s_[at_] != end) {
            const char c = s_[at_];
            if (c == '<' || (c == '>' && end == '"')) return false;
            if (c == '&') {
                static const std::pair<const char*, char> kEntities[] = {
                    {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
                bool known = false;
                for (const auto& [entity, ch] : kEntities) {
                    if (s_.compare(at_, std::strlen(entity), entity) == 0) {
                        out += ch;
                        at_ += std::strlen(entity);
                        known = true;
                        break;
                    }
                }
                if (!known) return false;
                continue;
            }
            if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' && c != '\r') return false;
            out += c;
            ++at_;
        }
        return at_ < s_.size();
    }
    bool Element(XmlNode& node) {
        if (at_ >= s_.size() || s_[at_++] != '<' || !Name(node.name)) return false;
        for (;;) {
            Space();
            if (at_ >= s_.size()) return false;
            if (s_.compare(at_, 2, "/>") == 0) {
                at_ += 2;
                return true;
            }
            if (s_[at_] == '>') break;
            std::string key, value;
            if (!Name(key)) return false;
            Space();
            if (at_ + 1 >= s_.size() || s_[at_] != '=' || s_[at_ + 1] != '"') return false;
            at_ += 2;
            if (!Text('"', value)) return false;
            ++at_;
            if (!node.attributes.emplace(key, value).second) return false;
        }
        ++at_;
        for (;;) {
            if (!Text('<', node.text)) return false;
            if (s_.compare(at_, 2, "</") == 0) {
                at_ += 2;
                std::string name;
                if (!Name(name) || name != node.name || at_ >= s_.size() || s_[at_] != '>') return false;
                ++at_;
                return true;
            }
            node.children.emplace_back();
            if (!Element(node.children.back())) return false;
        }
    }
    const std::string& s_;
    size_t at_ = 0;
};

class TestCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("vexil-testcmd-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        const auto image = test::MakeRawDisk(80, 2, 9, false, test::LoadAsm("hello").bytes);
        std::ofstream(folder_ / "hello.st", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        Write("pass.test", "disk hello.st\nframes 2000\nexpect exit 3\nuntil exit\n0 expect output \"ST\"\n");
        Write("fail.test", "disk hello.st\nframes 2000\nexpect exit 3\n0 expect output \"<&'\\\"/>\"\n");
        Write("bad.test", "disk hello.st\n\nframes forever\n");
        Write("missing.test", "disk nowhere.st\n");
        out_ = std::tmpfile();
        err_ = std::tmpfile();
    }
    void TearDown() override {
        std::fclose(out_);
        std::fclose(err_);
        fs::remove_all(folder_);
    }
    void Write(const std::string& name, const std::string& text) { std::ofstream(folder_ / name) << text; }
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    int Command(std::vector<std::string> args) {
        return RunTestCommand(args, VEXIL_EMUTOS, "Vexil test", out_, err_);
    }
    static std::string Text(std::FILE* file) {
        std::rewind(file);
        std::string text;
        for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
        return text;
    }
    fs::path folder_;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
};

TEST_F(TestCommandTest, StatusesFollowTheWorstResult) {
    EXPECT_EQ(Command({"-j", "1", Path("pass.test")}), 0);
    EXPECT_EQ(Command({"-j1", Path("pass.test"), Path("fail.test")}), 1);
    EXPECT_EQ(Command({Path("missing.test")}), 2);
    EXPECT_EQ(Command({"-j", "0", Path("pass.test")}), 2);
    EXPECT_EQ(Command({"--frobnicate", Path("pass.test")}), 2);
    EXPECT_EQ(Command({}), 2);
}

TEST_F(TestCommandTest, AMalformedFileIsNamedWithItsLineAndRunsNothing) {
    EXPECT_EQ(Command({"-j", "1", Path("bad.test")}), 2);
    const std::string out = Text(out_);
    EXPECT_NE(out.find("bad                      ERROR       0 frames"), std::string::npos) << out;
    EXPECT_NE(out.find(Path("bad.test") + ": line 3: frames N"), std::string::npos) << out;
}

TEST_F(TestCommandTest, ParallelRunsReportInTheOrderGivenAndTheJunitFileReadsBack) {
    const std::string junit = Path("report.xml");
    EXPECT_EQ(Command({"-j", "2", "--junit", junit, Path("fail.test"), Path("bad.test"), Path("pass.test")}),
              2);
    const std::string out = Text(out_);
    const size_t fail = out.find("fail "), bad = out.find("bad "), pass = out.find("pass ");
    ASSERT_NE(pass, std::string::npos) << out;
    EXPECT_LT(fail, bad);
    EXPECT_LT(bad, pass);
    EXPECT_NE(out.find("3 tests: 1 passed, 1 failed, 1 errors"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(folder_ / "fail.fail.tga"));  // beside the report

    std::ifstream in(junit);
    const std::string xml{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    XmlNode root;
    ASSERT_TRUE(XmlReader(xml).Read(root)) << xml;
    EXPECT_EQ(root.name, "testsuites");
    EXPECT_EQ(root.attributes["tests"], "3");
    EXPECT_EQ(root.attributes["failures"], "1");
    EXPECT_EQ(root.attributes["errors"], "1");
    ASSERT_EQ(root.children.size(), 1u);
    const XmlNode& suite = root.children[0];
    ASSERT_EQ(suite.children.size(), 3u);
    EXPECT_EQ(suite.children[0].attributes.at("name"), "fail");
    EXPECT_EQ(suite.children[0].children[0].name, "failure");
    // The expected text comes back whole, its XML characters escaped on the way.
    EXPECT_NE(suite.children[0].children[0].attributes.at("message").find("<&'\\\"/>"), std::string::npos);
    EXPECT_EQ(suite.children[1].children[0].name, "error");
    EXPECT_EQ(suite.children[2].attributes.at("name"), "pass");
    // The program's output, and apart from it what EmuTOS itself sent to NF_STDERR.
    ASSERT_EQ(suite.children[2].children.size(), 2u);
    EXPECT_EQ(suite.children[2].children[0].name, "system-out");
    EXPECT_EQ(suite.children[2].children[0].text, "Hello from the ST\none by one\n");
    EXPECT_EQ(suite.children[2].children[1].name, "system-err");
}

TEST_F(TestCommandTest, PrintRegionGivesTheLastPicturesHash) {
    EXPECT_EQ(Command({"--print-region", "0", "0", "800", "600", Path("pass.test")}), 0);
    const std::string out = Text(out_);
    ASSERT_EQ(out.size(), 65u) << out;
    EXPECT_EQ(Command({"--print-region", "700", "0", "200", "1", Path("pass.test")}), 2);
    EXPECT_EQ(Command({"--print-region", "0", "0", "8", "8", Path("bad.test")}), 2);
}

TEST(TestResultPackingTest, RoundTripsAndRefusesDamagedBytes) {
    TestResult r;
    r.status = TestResult::kFail;
    r.name = "a";
    r.path = "/p/a.test";
    r.frames = 1234;
    r.seconds = 0.5;
    r.messages = {"one", std::string(1000, 'x')};
    r.output = std::string("\0\xFF", 2);
    r.exited = true;
    r.exitCode = -7;
    const std::vector<uint8_t> bytes = PackResult(r);
    TestResult back;
    ASSERT_TRUE(UnpackResult(bytes, back));
    EXPECT_EQ(back.name, r.name);
    EXPECT_EQ(back.messages, r.messages);
    EXPECT_EQ(back.output, r.output);
    EXPECT_EQ(back.exitCode, -7);
    EXPECT_EQ(back.frames, 1234);
    for (size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_FALSE(UnpackResult(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut), back)) << cut;
    std::mt19937 random(7);
    for (int round = 0; round < 500; ++round) {
        std::vector<uint8_t> noise(random() % 200);
        for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
        UnpackResult(noise, back);  // refused or taken, never read beyond the bytes
    }
}

}  // namespace
}  // namespace vexil

// Whole-machine runs of test files: EmuTOS boots the ST programs of tests/st from the boot
// sectors of disks made here, and the runner's steps, checks and waits meet them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/Asm.h"
#include "support/TestDisk.h"
#include "testing/TestRun.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

class TestRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("vexil-testrun-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        for (const char* program : {"hello", "draw", "echo", "count"}) {
            const auto image = test::MakeRawDisk(80, 2, 9, false, test::LoadAsm(program).bytes);
            std::ofstream(folder_ / (std::string(program) + ".st"), std::ios::binary)
                .write(reinterpret_cast<const char*>(image.data()),
                       static_cast<std::streamsize>(image.size()));
        }
        options_.defaultRom = VEXIL_EMUTOS;
        options_.failureDirectory = folder_.string();
    }
    void TearDown() override { fs::remove_all(folder_); }

    TestResult Run(const std::string& text, const std::string& name = "t") {
        TestFile test;
        test.name = name;
        std::string error;
        EXPECT_TRUE(ParseTestFile(text, folder_.string(), test, error)) << error;
        return RunTest(test, options_);
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(folder_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string Messages(const TestResult& r) {
        std::string all;
        for (const std::string& m : r.messages) all += m + "\n";
        return all;
    }

    fs::path folder_;
    TestRunOptions options_;
};

TEST_F(TestRunTest, NativeFeaturesCarryTheProgramsTextAndExitCode) {
    const TestResult r = Run("disk hello.st\nframes 2000\nexpect exit 3\n");
    EXPECT_EQ(r.status, TestResult::kPass) << Messages(r);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.output, "Hello from the ST\none by one\n");
    // Without `expect exit`, an exit code other than 0 fails the test.
    const TestResult plain = Run("disk hello.st\nframes 2000\n");
    EXPECT_EQ(plain.status, TestResult::kFail);
    EXPECT_NE(Messages(plain).find("expected exit code 0, found 3"), std::string::npos) << Messages(plain);
}

TEST_F(TestRunTest, WithTheCallsOffTheWordsAreIllegalAndTheWaitMeetsTheTimeLimit) {
    const TestResult r = Run("disk hello.st\nframes 900\nnatfeats off\nuntil exit\n");
    EXPECT_EQ(r.status, TestResult::kFail);
    EXPECT_EQ(r.frames, 900);
    EXPECT_FALSE(r.exited);
    EXPECT_TRUE(r.output.empty());
    EXPECT_NE(Messages(r).find("line 4: until exit: not reached within the time limit of 900 frames"),
              std::string::npos)
        << Messages(r);
    EXPECT_TRUE(fs::exists(folder_ / "t.fail.tga"));  // the picture of the failed run
}

TEST_F(TestRunTest, PixelsRegionsScreenshotsAndDumps) {
    const TestResult r = Run(
        "disk draw.st\nframes 2000\nuntil ram 0x100000 == 44524157\n"
        "2 expect pixel 400 300 A4A100\n"
        "2 expect region 80 100 640 400 e7a025ecb1d55ba75b607448e17b2ba67566bb3b5baa701e709a9d9b852bdfde\n"
        "2 screenshot shot.tga\n2 dump ram 0x100000 4 marker.bin\n"
        "2 expect pixel 400 300 FFFFFF\n"
        "2 expect ram 0x100000 44524156\n");
    EXPECT_EQ(r.status, TestResult::kFail);
    ASSERT_EQ(r.messages.size(), 2u) << Messages(r);
    EXPECT_EQ(r.messages[0], "line 8: pixel 400,300: expected FFFFFF, found A4A100");
    EXPECT_EQ(r.messages[1], "line 9: ram $100000: expected 44524156, found 44524157");
    EXPECT_EQ(Read("marker.bin"), "DRAW");
    EXPECT_EQ(fs::file_size(folder_ / "shot.tga"), 18u + 800u * 600u * 3u);
}

TEST_F(TestRunTest, TypedLineEchoedToSerialAndPrinterByteForByte) {
    const TestResult r =
        Run("disk echo.st\nframes 2000\nserial serial.out\nprinter printer.out\n"
            "until ram 0x100000 == 52454459\n5 type \"Vexil 42\\n\"\nuntil output \"<end>\"\n"
            "0 expect output \"42\\r<end>\"\n");
    EXPECT_EQ(r.status, TestResult::kPass) << Messages(r);
    EXPECT_EQ(Read("serial.out"), "Vexil 42\r<end>");
    EXPECT_EQ(Read("printer.out"), "Vexil 42\r<end>");
}

TEST_F(TestRunTest, WaitsOnMemoryAndPcCountFramesFromTheirEnd) {
    const TestResult r =
        Run("disk count.st\nframes 2000\nuntil ram 0x100000 == 00000032\n"
            "10 expect ram 0x100000 0000003C\nuntil pc 0x110000\n0 expect ram 0x100004 434F554E\n");
    EXPECT_EQ(r.status, TestResult::kPass) << Messages(r);
}

TEST_F(TestRunTest, SoundAndSilence) {
    // EmuTOS's start-up is silent; the hello program makes no sound either.
    const TestResult r = Run("disk hello.st\nframes 400\n300 expect silence\n300 expect sound\n");
    EXPECT_EQ(r.status, TestResult::kFail);
    ASSERT_EQ(r.messages.size(), 1u) << Messages(r);
    EXPECT_NE(r.messages[0].find("line 4: expected sound"), std::string::npos);
}

TEST_F(TestRunTest, MissingMediaAndFolderDrivesAreErrors) {
    const struct {
        std::string text;
        std::string message;
    } rows[] = {
        {"disk nothing.st\n", "nothing.st"},
        {"rom /nonexistent/tos.img\n", "/nonexistent/tos.img"},
        {"frames 10\nfolder host\n", "line 2: the folder"},
        {"serial-in /nonexistent/in.bin\n", "/nonexistent/in.bin"},
    };
    for (const auto& row : rows) {
        const TestResult r = Run(row.text);
        EXPECT_EQ(r.status, TestResult::kError) << row.text;
        EXPECT_EQ(r.frames, 0);
        EXPECT_NE(Messages(r).find(row.message), std::string::npos) << Messages(r);
    }
}

TEST_F(TestRunTest, SameResultEveryRun) {
    const std::string text = "disk draw.st\nframes 2000\nuntil ram 0x100000 == 44524157\n";
    const TestResult a = Run(text), b = Run(text);
    EXPECT_EQ(a.frames, b.frames);
    TestFile test;
    std::string error, first, second;
    ASSERT_TRUE(ParseTestFile(text + "3 expect sound\n", folder_.string(), test, error));
    ASSERT_TRUE(LastFrameRegionHash(test, options_, 0, 0, 800, 600, first, error)) << error;
    ASSERT_TRUE(LastFrameRegionHash(test, options_, 0, 0, 800, 600, second, error)) << error;
    EXPECT_EQ(first, second);
}

}  // namespace
}  // namespace vexil

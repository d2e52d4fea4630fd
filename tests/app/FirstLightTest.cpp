// The bundled EmuTOS reaches its desktop headless, and the screenshot shows it: the menu bar,
// its underline and the green desktop pattern where EmuTOS 1.3 draws them. The bundled ROM is
// a US one: it runs the colour monitor at 60 Hz, whose picture starts at host row 100; on the
// monochrome monitor it shows 640 x 400 black on white at 71 Hz.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Headless.h"
#include "machine/Machine.h"
#include "machine/Rom.h"

namespace vexil {
namespace {

struct Rgb {
    uint8_t r, g, b;
};

class Screenshot {
public:
    explicit Screenshot(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    bool Valid() const { return bytes_.size() == 18 + kWidth * kHeight * 3 && (bytes_[17] & 0x20) == 0; }
    // Row y counted from the top; the file stores its rows bottom-up.
    Rgb At(int x, int y) const {
        const uint8_t* p = bytes_.data() + 18 + ((kHeight - 1 - y) * kWidth + x) * 3;
        return {p[2], p[1], p[0]};
    }
    // Pixels of row y across the picture (the 640 host pixels inside the side borders) that
    // `match` accepts.
    template <typename Match>
    int Count(int y, Match match, int from = 80, int to = 720) const {
        int n = 0;
        for (int x = from; x < to; ++x) n += match(At(x, y)) ? 1 : 0;
        return n;
    }
    static constexpr int kWidth = 800, kHeight = 600;

private:
    std::vector<uint8_t> bytes_;
};

bool Black(Rgb c) {
    return c.r < 16 && c.g < 16 && c.b < 16;
}
bool Green(Rgb c) {
    return c.r < 16 && c.g > 200 && c.b < 16;
}
bool Light(Rgb c) {
    return c.r > 200 && c.g > 200 && c.b > 200;
}

// A headless run of the bundled EmuTOS, with an input script when one is given.
Screenshot RunEmuTos(int frames, const std::string& script = "", uint32_t machine = 0, uint32_t monitor = 0) {
    const std::string base =
        (std::filesystem::temp_directory_path() / ("vexil-desk-" + std::to_string(::getpid()))).string();
    HeadlessOptions run;
    run.romPath = VEXIL_EMUTOS;
    run.frames = frames;
    run.Machine = machine;
    run.Monitor = monitor;
    run.screenshot = base + ".tga";
    if (!script.empty()) {
        run.inputScript = base + ".txt";
        std::ofstream(run.inputScript) << script;
    }
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(RunHeadless(run, out, err), 0);
    std::fclose(out);
    std::fclose(err);
    Screenshot shot(run.screenshot);
    std::filesystem::remove(run.screenshot);
    if (!script.empty()) std::filesystem::remove(run.inputScript);
    return shot;
}

// The ST, and the STE, where EmuTOS finds the Blitter and draws its console with it.
class FirstLight : public ::testing::TestWithParam<uint32_t> {};

// With no disk, EmuTOS reads the empty drive A through its time-outs before the desktop.
constexpr int kDesktopFrames = 1700;

TEST_P(FirstLight, EmuTosShowsItsDesktopWithTheDriveIcons) {
    const Screenshot shot = RunEmuTos(kDesktopFrames, "", GetParam());
    ASSERT_TRUE(shot.Valid());
    // The menu bar: light with the black letters of "Desk File View Options".
    for (int y : {106, 111}) {
        EXPECT_GT(shot.Count(y, Light), 400) << y;
        EXPECT_GT(shot.Count(y, Black), 60) << y;
    }
    // Its underline, then the desktop between the icons: every other pixel green.
    EXPECT_EQ(shot.Count(120, Black), 640);
    for (int y = 226; y < 396; y += 50) EXPECT_GE(shot.Count(y, Green), 280) << y;
    // The labels of the icons of drives A and B, light boxes below the top left of the desktop.
    EXPECT_GT(shot.Count(199, Light, 80, 230), 100) << "drive A";
    EXPECT_GT(shot.Count(199, Light, 240, 390), 100) << "drive B";
    // The border around the picture is colour 0; the 60 Hz frame has fewer border lines than
    // the screen has room for, and black above and below them.
    EXPECT_TRUE(Light(shot.At(40, 300)));
    EXPECT_TRUE(Light(shot.At(400, 550)));
    EXPECT_TRUE(Black(shot.At(400, 20)));
    EXPECT_TRUE(Black(shot.At(400, 590)));
}

INSTANTIATE_TEST_SUITE_P(Machines, FirstLight, ::testing::Values(0u, 1u), [](const auto& info) {
    return info.param ? std::string("Ste") : std::string("St");
});

// The mouse, moved by a script into the top left corner and then onto the first title, opens
// the Desk menu: the title shows inverted and the menu covers the desktop below it.
TEST(FirstLightMouse, AScriptedMouseOpensTheDeskMenu) {
    const Screenshot plain = RunEmuTos(kDesktopFrames + 120);
    const Screenshot menu = RunEmuTos(kDesktopFrames + 120, "1720 mouse -400 -300\n1760 mouse 40 2\n");
    ASSERT_TRUE(plain.Valid() && menu.Valid());
    const auto deskTitle = [](const Screenshot& shot) {
        int black = 0;
        for (int x = 116; x < 204; ++x) black += Black(shot.At(x, 108)) ? 1 : 0;
        return black;
    };
    EXPECT_LT(deskTitle(plain), 40);
    EXPECT_GT(deskTitle(menu), 50);
    EXPECT_GE(plain.Count(126, Green), 280);
    EXPECT_LT(menu.Count(126, Green), 200);
}

// On the monochrome monitor EmuTOS starts in high resolution: 640 x 400 black on white in the
// middle of the screen, one host row per line, inside a black border.
TEST(FirstLightMono, EmuTosShowsItsDesktopBlackOnWhite) {
    const Screenshot shot = RunEmuTos(1500, "", 0, 1);  // past its reads of the empty drives
    ASSERT_TRUE(shot.Valid());
    // The menu bar (host rows 100-118): white with the black letters of its titles.
    for (int y : {105, 110}) {
        EXPECT_GT(shot.Count(y, Light), 500) << y;
        EXPECT_GT(shot.Count(y, Black), 20) << y;
    }
    EXPECT_EQ(shot.Count(101, Light), 640);
    // The desktop: a pattern of single black and white pixels, every row.
    for (int y = 130; y < 440; y += 37) {
        EXPECT_GT(shot.Count(y, Black), 200) << y;
        EXPECT_GT(shot.Count(y, Light), 200) << y;
    }
    // The black border: above, below and beside the 640 x 400 picture.
    for (int x : {0, 79, 400, 720, 799}) {
        EXPECT_TRUE(Black(shot.At(x, 99))) << x;
        EXPECT_TRUE(Black(shot.At(x, 500))) << x;
    }
    EXPECT_TRUE(Black(shot.At(79, 300)));
    EXPECT_TRUE(Black(shot.At(720, 300)));
}

// The bundled EmuTOS on the machine itself: its frames, its 200 Hz timer in machine time, and
// the resolution it chose (the system variable sshiftmd at 0x44C, which Getrez returns).
struct EmuTosRow {
    const char* name;
    uint32_t monitor;
    Cycles frameCycles;
    uint8_t resolution;
};

class EmuTosTiming : public ::testing::TestWithParam<EmuTosRow> {};

TEST_P(EmuTosTiming, RunsAtTheRateOfItsMonitor) {
    const EmuTosRow& row = GetParam();
    Machine machine(MachineSettings{.Monitor = row.monitor});
    ASSERT_TRUE(LoadTosRom(machine, VEXIL_EMUTOS).ok);
    ASSERT_EQ(machine.Reset(true), 0);
    ASSERT_EQ(machine.RunFrames(300), kRunBudgetSpent);
    const int64_t startCycles = machine.Scheduler().CyclesRun();
    const uint32_t startTicks = machine.PeekLong(0x4BA);  // _hz_200
    ASSERT_EQ(machine.RunFrames(300), kRunBudgetSpent);
    EXPECT_EQ(machine.Scheduler().LastFrameCycles(), row.frameCycles);
    const double seconds = static_cast<double>(machine.Scheduler().CyclesRun() - startCycles) / kCpuClockHz;
    EXPECT_NEAR(machine.PeekLong(0x4BA) - startTicks, 200.0 * seconds, 2.0);
    EXPECT_EQ(machine.PeekByte(0x44C), row.resolution);
}

INSTANTIATE_TEST_SUITE_P(Monitors, EmuTosTiming,
                         ::testing::Values(EmuTosRow{"colour_60hz", 0, 133604, 0},
                                           EmuTosRow{"mono_71hz", 1, 112224, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

// The bundled EmuTOS reaches its desktop headless, and the screenshot shows it: the menu bar,
// its underline and the green desktop pattern where EmuTOS 1.3 draws them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Headless.h"

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
Screenshot RunEmuTos(int frames, const std::string& script = "", uint32_t machine = 0) {
    const std::string base =
        (std::filesystem::temp_directory_path() / ("vexil-desk-" + std::to_string(::getpid()))).string();
    HeadlessOptions run;
    run.romPath = std::string(VEXIL_SOURCE_DIR) + "/roms/etos256us.img";
    run.frames = frames;
    run.Machine = machine;
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
    for (int y : {90, 95}) {
        EXPECT_GT(shot.Count(y, Light), 400) << y;
        EXPECT_GT(shot.Count(y, Black), 60) << y;
    }
    // Its underline, then the desktop between the icons: every other pixel green.
    EXPECT_EQ(shot.Count(104, Black), 640);
    for (int y = 210; y < 380; y += 50) EXPECT_GE(shot.Count(y, Green), 280) << y;
    // The labels of the icons of drives A and B, light boxes below the top left of the desktop.
    EXPECT_GT(shot.Count(183, Light, 80, 230), 100) << "drive A";
    EXPECT_GT(shot.Count(183, Light, 240, 390), 100) << "drive B";
    // The border around the picture is colour 0.
    EXPECT_TRUE(Light(shot.At(40, 300)));
    EXPECT_TRUE(Light(shot.At(400, 550)));
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
        for (int x = 116; x < 204; ++x) black += Black(shot.At(x, 92)) ? 1 : 0;
        return black;
    };
    EXPECT_LT(deskTitle(plain), 40);
    EXPECT_GT(deskTitle(menu), 50);
    EXPECT_GE(plain.Count(110, Green), 280);
    EXPECT_LT(menu.Count(110, Green), 200);
}

}  // namespace
}  // namespace vexil

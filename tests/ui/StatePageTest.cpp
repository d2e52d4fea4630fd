// The State page's listing: each slot empty, saved (with its time and picture) or damaged with
// the reason, whatever lies in its file; Save and Load reach the application for that slot.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/SaveState.h"
#include "ui/StatePage.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;

class Slots final : public StateSlots {
public:
    explicit Slots(fs::path folder) : folder_(std::move(folder)) {}
    std::string SlotPath(int slot) const override {
        return (folder_ / ("GAME-" + std::to_string(slot) + ".vxs")).string();
    }
    int Slot() const override { return slot_; }
    void ChooseSlot(int slot) override { slot_ = slot; }
    std::string SaveToSlot(int slot) override {
        slot_ = slot;
        StateWriter out;
        out.BeginSection("TEST");
        out(uint32_t{1});
        StatePicture picture{2, 1, {0xF800, 0x001F}};  // red, blue
        const std::vector<uint8_t> file = out.Finish(StatePacking::kZlib, &picture);
        std::ofstream(SlotPath(slot), std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), file.size());
        return "Saved to slot " + std::to_string(slot);
    }
    std::string LoadFromSlot(int slot) override {
        slot_ = slot;
        ++loads;
        return "Loaded slot " + std::to_string(slot);
    }
    int loads = 0;

private:
    fs::path folder_;
    int slot_ = 0;
};

// The times are shown in local time: the zone is fixed here, and put back afterwards.
class StatePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ")) oldZone_ = zone, hadZone_ = true;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        fs::create_directories(folder_);
    }
    void TearDown() override {
        fs::remove_all(folder_);
        if (hadZone_)
            ::setenv("TZ", oldZone_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    void Write(int slot, const std::vector<uint8_t>& bytes) {
        std::ofstream(slots_.SlotPath(slot), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<uint8_t> State(const StatePicture* picture) {
        StateWriter out;
        out.BeginSection("TEST");
        out(uint64_t{42});
        return out.Finish(StatePacking::kZlib, picture);
    }

    fs::path folder_ = fs::temp_directory_path() / ("vexil-statepage-" + std::to_string(::getpid()));
    Slots slots_{folder_};
    std::string oldZone_;
    bool hadZone_ = false;
};

struct Listing {
    const char* name;
    std::vector<uint8_t> (*file)();  // null: no file
    StatePage::Kind kind;
    const char* reason;  // part of it
};

const Listing kListings[] = {
    {"NoFile", nullptr, StatePage::Kind::kEmpty, ""},
    {"Empty", [] { return std::vector<uint8_t>{}; }, StatePage::Kind::kDamaged, "cannot be read"},
    {"Truncated",
     [] {
         StateWriter out;
         out.BeginSection("TEST");
         std::vector<uint8_t> file = out.Finish();
         file.resize(file.size() - 3);
         return file;
     },
     StatePage::Kind::kDamaged, "cut short"},
    {"Random",
     [] {
         std::mt19937 random(3);
         std::vector<uint8_t> file(5000);
         for (auto& b : file) b = static_cast<uint8_t>(random());
         return file;
     },
     StatePage::Kind::kDamaged, "not a Vexil save state"},
    {"OlderVersion",
     [] {
         StateWriter out;
         std::vector<uint8_t> file = out.Finish();
         file[8] = 4;
         return file;
     },
     StatePage::Kind::kDamaged, "format version 4"},
    {"ChecksumWrong",
     [] {
         StateWriter out;
         out.BeginSection("TEST");
         std::vector<uint8_t> file = out.Finish();
         file[kStateHeaderBytes + 2] ^= 1;
         return file;
     },
     StatePage::Kind::kDamaged, "checksum"},
    {"NoPicture",
     [] {
         StateWriter out;
         return out.Finish();
     },
     StatePage::Kind::kSaved, ""},
};

class StatePageListing : public StatePageTest, public ::testing::WithParamInterface<Listing> {};

TEST_P(StatePageListing, ShowsWhatTheFileIs) {
    if (GetParam().file) Write(4, GetParam().file());
    StatePage page(slots_);
    page.Refresh();
    const StatePage::Slot& slot = page.At(4);
    EXPECT_EQ(slot.kind, GetParam().kind);
    EXPECT_NE(slot.reason.find(GetParam().reason), std::string::npos) << slot.reason;
    EXPECT_FALSE(slot.picture);
    EXPECT_EQ(slot.time.empty(), GetParam().file == nullptr);
    for (int n = 0; n < StatePage::kSlots; ++n)
        if (n != 4) {
            EXPECT_EQ(page.At(n).kind, StatePage::Kind::kEmpty) << n;
        }
}

INSTANTIATE_TEST_SUITE_P(Files, StatePageListing, ::testing::ValuesIn(kListings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatePageTest, ASavedSlotShowsItsTimeAndPictureScaledToItsPlace) {
    // 4 x 2: the left half red, the right half green.
    StatePicture picture{4, 2, {0xF800, 0xF800, 0x07E0, 0x07E0, 0xF800, 0xF800, 0x07E0, 0x07E0}};
    Write(7, State(&picture));
    const auto when = std::chrono::sys_days{std::chrono::year{2026} / 3 / 14} + std::chrono::hours{15} +
                      std::chrono::minutes{9} + std::chrono::seconds{26};
    fs::last_write_time(slots_.SlotPath(7), std::chrono::file_clock::from_sys(when));
    // A directory where a slot's file should be is no file to load.
    fs::create_directory(slots_.SlotPath(8));
    StatePage page(slots_);
    page.Refresh();
    EXPECT_EQ(page.Name(), "GAME");
    const StatePage::Slot& slot = page.At(7);
    EXPECT_EQ(slot.kind, StatePage::Kind::kSaved);
    EXPECT_EQ(slot.time, "2026-03-14 15:09:26");
    EXPECT_TRUE(slot.picture);
    EXPECT_EQ(page.At(8).kind, StatePage::Kind::kDamaged);
    const uint16_t* mine = page.Pictures() + 7 * StatePage::kPictureWidth * StatePage::kPictureHeight;
    EXPECT_EQ(mine[0], 0xF800);
    EXPECT_EQ(mine[StatePage::kPictureWidth - 1], 0x07E0);
    EXPECT_EQ(mine[(StatePage::kPictureHeight - 1) * StatePage::kPictureWidth], 0xF800);
    EXPECT_EQ(page.Pictures()[0], 0);  // slot 0 has none: black
}

TEST_F(StatePageTest, SaveAndLoadActOnTheirSlotAndTheListingFollows) {
    StatePage page(slots_);
    page.Refresh();
    EXPECT_EQ(page.At(2).kind, StatePage::Kind::kEmpty);
    page.Save(2);
    EXPECT_EQ(page.Status(), "Saved to slot 2");
    EXPECT_EQ(page.Current(), 2);
    EXPECT_EQ(page.At(2).kind, StatePage::Kind::kSaved);
    EXPECT_TRUE(page.At(2).picture);
    const uint16_t* picture = page.Pictures() + 2 * StatePage::kPictureWidth * StatePage::kPictureHeight;
    EXPECT_EQ(picture[0], 0xF800);
    EXPECT_EQ(picture[StatePage::kPictureWidth - 1], 0x001F);
    page.Load(5);
    EXPECT_EQ(page.Status(), "Loaded slot 5");
    EXPECT_EQ(page.Current(), 5);
    EXPECT_EQ(slots_.loads, 1);
    page.Choose(9);
    EXPECT_EQ(page.Current(), 9);
    page.Choose(10);  // no such slot
    page.Load(-1);
    EXPECT_EQ(page.Current(), 9);
    EXPECT_EQ(slots_.loads, 1);
}

}  // namespace
}  // namespace vexil

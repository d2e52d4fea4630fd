// The overlay of written sectors: kept in a file beside nothing the user owns, applied again at
// the next insertion of the same image, refused when damaged, and written out as a new image.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/Crc32.h"
#include "core/Sha256.h"
#include "floppy/DiskImage.h"
#include "floppy/FloppyTestSupport.h"
#include "support/TestDisk.h"

namespace vexil {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// Each test has a folder of its own for the image and the overlays.
class DiskOverlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test::ScratchDir() / ("overlay-" + std::to_string(++counter_));
        fs::create_directories(dir_ / "overlays");
        image_ = (dir_ / "game.st").string();
        original_ = test::MakeRawDisk(80, 2, 9, true);
        test::WriteFile(image_, original_);
        disk_.SetOverlayFolder((dir_ / "overlays").string());
        ASSERT_TRUE(disk_.InsertImage(image_));
        EXPECT_TRUE(disk_.Notice().empty());
    }

    // Writes sector `sector` of a track with bytes from `seed`.
    void WriteSector(int track, int side, int sector, uint8_t seed) {
        const TrackView view = disk_.Track(track, side);
        for (uint32_t n = 0; n < view.count; ++n) {
            if (view.ids[n].number != sector) continue;
            uint8_t bytes[512];
            for (int i = 0; i < 512; ++i) bytes[i] = uint8_t(seed + i);
            ASSERT_TRUE(disk_.WriteSector(track, side, n, bytes, false));
            return;
        }
        FAIL() << "no sector " << sector;
    }
    ::testing::AssertionResult Reads(int track, int side, int sector, uint8_t seed) {
        if (!disk_.ReadSector(track, side, sector)) return ::testing::AssertionFailure() << "not found";
        uint8_t expected[512];
        for (int i = 0; i < 512; ++i) expected[i] = uint8_t(seed + i);
        return test::SectorIs(disk_, expected);
    }
    ::testing::AssertionResult ReadsAsTheImage(int track, int side, int sector) {
        if (!disk_.ReadSector(track, side, sector)) return ::testing::AssertionFailure() << "not found";
        uint8_t expected[512];
        for (int i = 0; i < 512; ++i) expected[i] = test::PatternByte(track, side, sector, i);
        return test::SectorIs(disk_, expected);
    }
    std::string Sha256Hex() const {
        Sha256 hash;
        hash.Add(original_.data(), original_.size());
        return Sha256::Hex(hash.Finish());
    }
    // The checksum an overlay file ends with: over everything before it.
    static uint32_t Crc(const Bytes& file) { return Crc32(file.data(), file.size() - 4); }
    std::vector<fs::path> OverlayFiles() const {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(dir_ / "overlays")) files.push_back(e.path());
        return files;
    }

    static inline int counter_ = 0;
    fs::path dir_;
    std::string image_;
    Bytes original_;
    DiskImage disk_;
};

TEST_F(DiskOverlayTest, WrittenSectorsComeBackAtTheNextInsertionAndTheImageNeverChanges) {
    WriteSector(3, 1, 4, 0x21);
    WriteSector(0, 0, 9, 0x42);
    EXPECT_EQ(disk_.ChangedSectors(), 2u);
    ASSERT_TRUE(disk_.FlushOverlay());
    ASSERT_EQ(OverlayFiles().size(), 1u);
    const std::string name = OverlayFiles()[0].filename().string();
    EXPECT_EQ(name.rfind("game.st-", 0), 0u) << name;  // named after the image
    EXPECT_NE(name.find(Sha256Hex()), std::string::npos) << name;
    disk_.EjectImage();
    ASSERT_TRUE(disk_.InsertImage(image_));
    EXPECT_EQ(disk_.ChangedSectors(), 2u);
    EXPECT_TRUE(Reads(3, 1, 4, 0x21));
    EXPECT_TRUE(Reads(0, 0, 9, 0x42));
    EXPECT_TRUE(ReadsAsTheImage(3, 1, 5));
    EXPECT_TRUE(ReadsAsTheImage(3, 0, 4));
    EXPECT_EQ(test::ReadFile(image_), original_);
    // Nothing but the image and the overlays' folder beside it.
    size_t besideImage = 0;
    for (const auto& e : fs::directory_iterator(dir_)) besideImage += e.path().filename() != "overlays";
    EXPECT_EQ(besideImage, 1u);
}

TEST_F(DiskOverlayTest, AnotherImageOrTheSameImageChangedFindsNoOverlay) {
    WriteSector(1, 0, 1, 0x10);
    disk_.EjectImage();  // writes the overlay
    // The same bytes under another name.
    const std::string copy = (dir_ / "copy.st").string();
    test::WriteFile(copy, original_);
    ASSERT_TRUE(disk_.InsertImage(copy));
    EXPECT_EQ(disk_.ChangedSectors(), 0u);
    EXPECT_TRUE(ReadsAsTheImage(1, 0, 1));
    // The same name with other bytes.
    Bytes changed = original_;
    changed[5000] ^= 1;
    test::WriteFile(image_, changed);
    ASSERT_TRUE(disk_.InsertImage(image_));
    EXPECT_EQ(disk_.ChangedSectors(), 0u);
    // And back: the overlay is still there for the image it was made for.
    test::WriteFile(image_, original_);
    ASSERT_TRUE(disk_.InsertImage(image_));
    EXPECT_EQ(disk_.ChangedSectors(), 1u);
    EXPECT_TRUE(Reads(1, 0, 1, 0x10));
}

struct DamageCase {
    const char* name;
    int kind;  // 0 truncated, 1 random, 2 a data byte changed (wrong CRC), 3 empty, 4 other version
};

class DamagedOverlay : public DiskOverlayTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedOverlay, IsRefusedWithAMessageAndTheImageReadsAsItIs) {
    WriteSector(2, 0, 3, 0x77);
    disk_.EjectImage();
    ASSERT_EQ(OverlayFiles().size(), 1u);
    const std::string file = OverlayFiles()[0].string();
    Bytes bytes = test::ReadFile(file);
    switch (GetParam().kind) {
        case 0:
            bytes.resize(bytes.size() / 2);
            break;
        case 1:
            bytes = test::RandomBytes(bytes.size(), 7);
            break;
        case 2:
            bytes[bytes.size() / 2] ^= 0x10;
            break;
        case 3:
            bytes.clear();
            break;
        default:
            bytes[8] = 2;
            break;
    }
    test::WriteFile(file, bytes);
    const InsertResult result = disk_.InsertImage(image_);
    ASSERT_TRUE(result);
    EXPECT_NE(disk_.Notice().find("overlay file is damaged"), std::string::npos) << disk_.Notice();
    EXPECT_EQ(disk_.ChangedSectors(), 0u);
    EXPECT_TRUE(ReadsAsTheImage(2, 0, 3));
    EXPECT_FALSE(disk_.WriteProtected());
    // The damaged file is set aside, not lost.
    EXPECT_TRUE(fs::exists(file + ".damaged"));
    EXPECT_EQ(test::ReadFile(image_), original_);
}

INSTANTIATE_TEST_SUITE_P(Overlays, DamagedOverlay,
                         ::testing::Values(DamageCase{"Truncated", 0}, DamageCase{"Random", 1},
                                           DamageCase{"WrongCrc", 2}, DamageCase{"Empty", 3},
                                           DamageCase{"OtherVersion", 4}),
                         [](const auto& info) { return std::string(info.param.name); });

// Overlay files that pass their checksum but describe what no track holds.
TEST_F(DiskOverlayTest, OverlaysOutOfRangeAreRefusedAndChangeNothing) {
    WriteSector(0, 0, 1, 0x33);
    const Bytes good = disk_.OverlayBytes();
    struct {
        const char* name;
        size_t at;
        uint8_t value;
    } rows[] = {{"track count", 12, 200}, {"cylinder", 16, 86},     {"side", 17, 2},
                {"ID count", 18, 65},     {"size code", 20 + 7, 4}, {"flags", 20 + 10, 0x80}};
    for (const auto& row : rows) {
        Bytes bad = good;
        bad[row.at] = row.value;
        const uint32_t crc = Crc(bad);
        for (int i = 0; i < 4; ++i) bad[bad.size() - 4 + i] = uint8_t(crc >> (8 * i));
        std::string error;
        EXPECT_FALSE(disk_.ApplyOverlay(bad.data(), bad.size(), error)) << row.name;
        EXPECT_FALSE(error.empty()) << row.name;
        EXPECT_TRUE(Reads(0, 0, 1, 0x33)) << row.name;
    }
    // Random bytes behind a good header and checksum never get in unchecked.
    int tried = 0;
    for (uint32_t seed = 0; seed < 200; ++seed) {
        Bytes bad(good.begin(), good.begin() + 16);
        const Bytes noise = test::RandomBytes(seed * 37 % 2000, seed);
        bad.insert(bad.end(), noise.begin(), noise.end());
        bad[12] = uint8_t(seed % 3), bad[13] = bad[14] = bad[15] = 0;
        const uint32_t crc = Crc32(bad.data(), bad.size());
        for (int i = 0; i < 4; ++i) bad.push_back(uint8_t(crc >> (8 * i)));
        std::string error;
        if (disk_.ApplyOverlay(bad.data(), bad.size(), error)) {
            ASSERT_TRUE(disk_.ApplyOverlay(good.data(), good.size(), error));  // taken whole: back
        } else {
            ASSERT_FALSE(error.empty());
            ASSERT_TRUE(Reads(0, 0, 1, 0x33)) << seed;
        }
        ++tried;
    }
    EXPECT_EQ(tried, 200);
}

TEST_F(DiskOverlayTest, AnOverlayThatCannotBeWrittenProtectsTheDisk) {
    // The overlays' folder lies under a plain file: it can never be made.
    const std::string blocker = (dir_ / "blocker").string();
    test::WriteFile(blocker, {1});
    DiskImage disk;
    disk.SetOverlayFolder(blocker + "/overlays");
    ASSERT_TRUE(disk.InsertImage(image_));
    EXPECT_TRUE(disk.WriteProtected());
    EXPECT_NE(disk.Notice().find("write-protected"), std::string::npos) << disk.Notice();
    EXPECT_TRUE(disk.ReadSector(1, 0, 1));
}

TEST_F(DiskOverlayTest, TheSettingAndStxImagesProtect) {
    EXPECT_FALSE(disk_.WriteProtected());
    disk_.SetWriteProtect(true);
    EXPECT_TRUE(disk_.WriteProtected());
    ASSERT_TRUE(disk_.InsertImage(image_));
    EXPECT_TRUE(disk_.WriteProtected());  // the setting outlives the insertion
    disk_.SetWriteProtect(false);
    const std::string stx = (dir_ / "game.stx").string();
    test::WriteFile(stx, test::RawToStx(test::MakeRawDisk(10, 1, 9, true), 10, 1, 9));
    ASSERT_TRUE(disk_.InsertImage(stx));
    EXPECT_TRUE(disk_.WriteProtected());
}

TEST_F(DiskOverlayTest, ForgetChangesDropsTheOverlayAndItsFile) {
    WriteSector(5, 1, 2, 0x55);
    ASSERT_TRUE(disk_.FlushOverlay());
    ASSERT_EQ(OverlayFiles().size(), 1u);
    disk_.ForgetChanges();
    EXPECT_EQ(disk_.ChangedSectors(), 0u);
    EXPECT_FALSE(disk_.Changed());
    EXPECT_TRUE(OverlayFiles().empty());
    EXPECT_TRUE(ReadsAsTheImage(5, 1, 2));
}

struct SaveCase {
    const char* name;
    const char* file;
};

class SaveAsImage : public DiskOverlayTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SaveAsImage, WritesTheDiskAsItReadsNow) {
    WriteSector(79, 1, 9, 0x99);
    WriteSector(0, 0, 2, 0x12);
    const std::string path = (dir_ / GetParam().file).string();
    std::string error;
    ASSERT_TRUE(disk_.SaveAsImage(path, error)) << error;
    EXPECT_FALSE(disk_.SaveAsImage(path, error));  // never over an existing file
    EXPECT_NE(error.find("exists"), std::string::npos);
    DiskImage copy;
    ASSERT_TRUE(copy.InsertImage(path));
    EXPECT_EQ(copy.Tracks(), 80);
    EXPECT_EQ(copy.Sides(), 2);
    EXPECT_EQ(copy.SectorsPerTrack(), 9);
    EXPECT_EQ(copy.ChangedSectors(), 0u);
    for (int track : {0, 40, 79}) {
        for (int side : {0, 1}) {
            for (int sector = 1; sector <= 9; ++sector) {
                ASSERT_TRUE(copy.ReadSector(track, side, sector));
                ASSERT_TRUE(disk_.ReadSector(track, side, sector));
                for (int i = 0; i < 256; ++i)
                    ASSERT_EQ(copy.SectorBuffer()[i], disk_.SectorBuffer()[i]) << track << side << sector;
            }
        }
    }
    EXPECT_EQ(test::ReadFile(image_), original_);
}

INSTANTIATE_TEST_SUITE_P(Overlays, SaveAsImage,
                         ::testing::Values(SaveCase{"Raw", "saved.st"}, SaveCase{"Msa", "saved.msa"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexil

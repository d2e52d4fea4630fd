#include <gtest/gtest.h>

#include <cstring>

#include "floppy/DiskImage.h"
#include "floppy/FloppyTestSupport.h"
#include "support/TestDisk.h"

namespace vexil {
namespace {

using test::Bytes;
using test::SectorIs;

// A raw image whose every sector is different, with a boot sector that describes it when
// `bootSector` is set (and all zero otherwise).
Bytes RawImage(size_t sectors, uint16_t perTrack = 0, uint16_t sides = 0, uint16_t total = 0) {
    Bytes b = test::RandomBytes(sectors * 512, static_cast<uint32_t>(sectors));
    std::fill(b.begin(), b.begin() + std::min<size_t>(b.size(), 512), 0);
    if (b.size() >= 512 && perTrack != 0) {
        b[19] = static_cast<uint8_t>(total);
        b[20] = static_cast<uint8_t>(total >> 8);
        b[24] = static_cast<uint8_t>(perTrack);
        b[26] = static_cast<uint8_t>(sides);
    }
    return b;
}

// Reads every sector of a flat image back and compares it with the file order of `raw`.
void ExpectFlatContents(DiskImage& d, const Bytes& raw) {
    size_t offset = 0;
    for (int t = 0; t < d.Tracks(); ++t) {
        for (int s = 0; s < d.Sides(); ++s) {
            for (int r = 1; r <= d.SectorsPerTrack(); ++r, offset += 512) {
                ASSERT_TRUE(d.ReadSector(t, s, r)) << t << " " << s << " " << r;
                ASSERT_TRUE(SectorIs(d, raw.data() + offset)) << t << " " << s << " " << r;
            }
        }
    }
}

struct RawCase {
    const char* name;
    size_t sectors;
    uint16_t bootPerTrack, bootSides, bootTotal;  // 0: a zeroed boot sector
    bool recognised;
    uint32_t sides, tracks, perTrack;
    const char* refusal = "";  // the message of a refused image, after its name
};

constexpr const char* kHighDensity18 =
    "High-density image (18 sectors a track): the ST's drive reads double-density disks only.";
#define VEXIL_NO_GEOMETRY(bytes) \
    "Not a disk image: " bytes   \
    " bytes fit no double-density disk (up to 86 tracks, 2 sides, 11 sectors a track)."
constexpr const char* kNoGeometry1827 = VEXIL_NO_GEOMETRY("935,424");
constexpr const char* kNoGeometry1914 = VEXIL_NO_GEOMETRY("979,968");
constexpr const char* kNoGeometry913 = VEXIL_NO_GEOMETRY("467,456");
constexpr const char* kNoGeometry912 = VEXIL_NO_GEOMETRY("466,944");
#undef VEXIL_NO_GEOMETRY

class RawGeometry : public testing::TestWithParam<RawCase> {};

TEST_P(RawGeometry, IsRecognisedAndRead) {
    const RawCase& c = GetParam();
    const Bytes raw = RawImage(c.sectors, c.bootPerTrack, c.bootSides, c.bootTotal);
    const std::string path = test::ScratchPath(std::string("raw-") + c.name + ".st");
    test::WriteFile(path, raw);
    DiskGeometry g;
    ASSERT_EQ(DetectDiskFormat(path, &g), c.recognised);
    EXPECT_EQ(g.streamSize, raw.size());
    DiskImage d;
    const InsertResult r = d.InsertImage(path);
    ASSERT_EQ(static_cast<bool>(r), c.recognised) << r.message;
    if (!c.recognised) {
        const bool dense = std::strncmp(c.refusal, "High-density", 12) == 0;
        EXPECT_EQ(r.status, dense ? InsertStatus::kHighDensity : InsertStatus::kUnknownFormat);
        EXPECT_EQ(r.message, "raw-" + std::string(c.name) + ".st: " + c.refusal);
        EXPECT_FALSE(d.Inserted());
        return;
    }
    EXPECT_EQ(g.format, DiskFormat::Raw);
    EXPECT_EQ(g.sides, c.sides);
    EXPECT_EQ(g.tracks, c.tracks);
    EXPECT_EQ(g.sectorsPerTrack, c.perTrack);
    EXPECT_EQ(d.Format(), DiskFormat::Raw);
    ExpectFlatContents(d, raw);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, RawGeometry,
    testing::Values(RawCase{"DS80x9Boot", 1440, 9, 2, 1440, true, 2, 80, 9},
                    RawCase{"DS72x10NoBoot", 1440, 0, 0, 0, true, 2, 72, 10},
                    RawCase{"DS80x10Boot", 1600, 10, 2, 1600, true, 2, 80, 10},
                    RawCase{"DS82x11Boot", 1804, 11, 2, 1804, true, 2, 82, 11},
                    RawCase{"SS80x9Boot", 720, 9, 1, 720, true, 1, 80, 9},
                    RawCase{"SS72x10NoBoot", 720, 0, 0, 0, true, 1, 72, 10},
                    RawCase{"SS90x10NoBoot", 900, 0, 0, 0, true, 1, 90, 10},
                    RawCase{"SS81x9NoBoot", 729, 0, 0, 0, true, 1, 81, 9},
                    RawCase{"Largest", 1826, 0, 0, 0, true, 2, 83, 11},
                    RawCase{"BootTooBig", 1440, 9, 2, 1441, true, 2, 72, 10},
                    // Real formatters' disks up to 86 tracks and 12 sectors.
                    RawCase{"DS86x11Boot", 1892, 11, 2, 1892, true, 2, 86, 11},
                    RawCase{"DS84x12Boot", 2016, 12, 2, 2016, true, 2, 84, 12},
                    RawCase{"SS86x11Boot", 946, 11, 1, 946, true, 1, 86, 11},
                    RawCase{"SS40x8Boot", 320, 8, 1, 320, true, 1, 40, 8},
                    RawCase{"OneTooMany", 1827, 0, 0, 0, false, 0, 0, 0, kNoGeometry1827},
                    RawCase{"Boot87Tracks", 1914, 11, 2, 1914, false, 0, 0, 0, kNoGeometry1914},
                    RawCase{"Sides456", 913, 0, 0, 0, false, 0, 0, 0, kNoGeometry913},
                    RawCase{"Odd912", 912, 0, 0, 0, false, 0, 0, 0, kNoGeometry912},
                    RawCase{"HighDensity18Boot", 2880, 18, 2, 2880, false, 0, 0, 0, kHighDensity18},
                    RawCase{"HighDensity18NoBoot", 2880, 0, 0, 0, false, 0, 0, 0, kHighDensity18},
                    RawCase{"HighDensity14NoBoot", 2240, 0, 0, 0, false, 0, 0, 0,
                            "High-density image (14 sectors a track): the ST's "
                            "drive reads double-density disks only."},
                    RawCase{"Empty", 0, 0, 0, 0, false, 0, 0, 0, "Not a disk image: the file is empty."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DiskImage, AnImageOfNoWholeSectorsIsRefusedWithItsSize) {
    const std::string path = test::ScratchPath("cut.st");
    test::WriteFile(path, test::RandomBytes(123457, 7));
    DiskImage d;
    const InsertResult r = d.InsertImage(path);
    EXPECT_EQ(r.status, InsertStatus::kUnknownFormat);
    EXPECT_EQ(r.message, "cut.st: Not a disk image: 123,457 bytes is no whole number of 512-byte sectors.");
    EXPECT_FALSE(d.Inserted());
}

TEST(DiskImage, ReadSectorRefusesSectorsNotOnTheDisk) {
    const std::string path = test::ScratchPath("bounds.st");
    test::WriteFile(path, RawImage(720, 9, 1, 720));
    DiskImage d;
    EXPECT_FALSE(d.ReadSector(0, 0, 1));  // nothing inserted
    ASSERT_TRUE(d.InsertImage(path));
    const int bad[][3] = {{0, 0, 0}, {0, 0, 10}, {0, 1, 1}, {0, -1, 1}, {-1, 0, 1}, {80, 0, 1}};
    for (const auto& b : bad) EXPECT_FALSE(d.ReadSector(b[0], b[1], b[2])) << b[0] << b[1] << b[2];
    EXPECT_TRUE(d.ReadSector(79, 0, 9));
    d.EjectImage();
    EXPECT_FALSE(d.Inserted());
    EXPECT_FALSE(d.ReadSector(0, 0, 1));
}

// Disk contents with runs, literal 0xE5 bytes and noise, so that tracks come out both coded
// and plain.
Bytes DiskContents(size_t bytes, uint32_t seed) {
    Bytes b = test::RandomBytes(bytes, seed);
    for (size_t i = 0; i + 9216 <= bytes; i += 9216) {
        if ((i / 9216) % 3 != 0)
            std::fill(b.begin() + i, b.begin() + i + 4000, static_cast<uint8_t>(i / 9216));
        b[i + 4001] = 0xE5;
    }
    return b;
}

TEST(DiskImage, MsaTracksPlainAndCoded) {
    const Bytes raw = DiskContents(80 * 2 * 9 * 512, 40);
    for (bool compress : {false, true}) {
        const std::string path = test::ScratchPath(compress ? "coded.msa" : "plain.msa");
        test::WriteFile(path, test::RawToMsa(raw, 2, 80, 9, compress));
        DiskGeometry g;
        ASSERT_TRUE(DetectDiskFormat(path, &g));
        EXPECT_EQ(g.format, DiskFormat::Msa);
        EXPECT_EQ(g.sides, 2u);
        EXPECT_EQ(g.tracks, 80u);
        EXPECT_EQ(g.sectorsPerTrack, 9u);
        DiskImage d;
        ASSERT_TRUE(d.InsertImage(path));
        EXPECT_EQ(d.DataSize(), raw.size());
        ExpectFlatContents(d, raw);
    }
}

// A run longer than its track is cut at the track's end; the next track's length follows the
// run directly.
TEST(DiskImage, MsaRunsStopAtTheTrackEnd) {
    Bytes msa = {0x0E, 0x0F, 0, 1, 0, 0, 0, 0, 0, 1};
    msa.insert(msa.end(), {0, 4, 0xE5, 0x11, 0x10, 0x00});  // 4096 bytes of 0x11 for a 512-byte track
    msa.insert(msa.end(), {0, 4, 0xE5, 0x22, 0x02, 0x00});
    const std::string path = test::ScratchPath("runs.msa");
    test::WriteFile(path, msa);
    DiskImage d;
    // The file is shorter than 512 bytes, so it is not even recognised.
    EXPECT_FALSE(d.InsertImage(path));
    msa.resize(600, 0);
    test::WriteFile(path, msa);
    ASSERT_TRUE(d.InsertImage(path));
    const Bytes first(512, 0x11), second(512, 0x22);
    ASSERT_TRUE(d.ReadSector(0, 0, 1));
    EXPECT_TRUE(SectorIs(d, first.data()));
    ASSERT_TRUE(d.ReadSector(1, 0, 1));
    EXPECT_TRUE(SectorIs(d, second.data()));
}

// Cut anywhere, an MSA file is refused: nothing is read past its end or taken as zero.
TEST(DiskImage, TruncatedMsaIsRefused) {
    const Bytes raw = DiskContents(10 * 2 * 9 * 512, 41);
    const Bytes msa = test::RawToMsa(raw, 2, 10, 9, true);
    const std::string path = test::ScratchPath("cut.msa");
    DiskImage d;
    for (size_t length = 512; length < msa.size(); length += 131) {
        test::WriteFile(path, Bytes(msa.begin(), msa.begin() + static_cast<ptrdiff_t>(length)));
        const InsertResult r = d.InsertImage(path);
        EXPECT_FALSE(r) << length;
        EXPECT_EQ(r.status, InsertStatus::kBadImage);
        EXPECT_EQ(r.message, "cut.msa: Damaged MSA image.");
    }
}

struct MsaHeaderCase {
    uint16_t perTrack, lastSide, lastTrack;
};

class MsaGeometry : public testing::TestWithParam<MsaHeaderCase> {};

// Geometries no floppy has are refused before anything is allocated for them.
TEST_P(MsaGeometry, ImpossibleGeometryIsRefused) {
    const auto& c = GetParam();
    Bytes msa(4096, 0);
    msa[0] = 0x0E;
    msa[1] = 0x0F;
    msa[2] = static_cast<uint8_t>(c.perTrack >> 8);
    msa[3] = static_cast<uint8_t>(c.perTrack);
    msa[4] = static_cast<uint8_t>(c.lastSide >> 8);
    msa[5] = static_cast<uint8_t>(c.lastSide);
    msa[8] = static_cast<uint8_t>(c.lastTrack >> 8);
    msa[9] = static_cast<uint8_t>(c.lastTrack);
    const std::string path = test::ScratchPath("geometry.msa");
    test::WriteFile(path, msa);
    DiskImage d;
    const InsertResult r = d.InsertImage(path);
    EXPECT_EQ(r.status, InsertStatus::kBadImage);
    EXPECT_FALSE(d.Inserted());
}

INSTANTIATE_TEST_SUITE_P(Headers, MsaGeometry,
                         testing::Values(MsaHeaderCase{0, 1, 79}, MsaHeaderCase{19, 1, 79},
                                         MsaHeaderCase{9, 2, 79}, MsaHeaderCase{9, 0xFFFF, 79},
                                         MsaHeaderCase{9, 1, 86}, MsaHeaderCase{0xFFFF, 0xFFFF, 0xFFFF}));

// FCopy DIM: a 32-byte header (little-endian words) before the sectors.
Bytes Dim(const Bytes& raw, uint16_t sides, uint16_t lastTrack, uint16_t perTrack) {
    Bytes b(32 + raw.size(), 0);
    std::copy(raw.begin(), raw.end(), b.begin() + 32);
    b[0] = b[1] = 0x42;
    b[8] = static_cast<uint8_t>(perTrack);
    b[12] = static_cast<uint8_t>(lastTrack);
    b[14] = static_cast<uint8_t>(sides);
    return b;
}

TEST(DiskImage, DimImage) {
    const Bytes raw = DiskContents(82 * 2 * 10 * 512, 42);
    const std::string path = test::ScratchPath("disk.dim");
    test::WriteFile(path, Dim(raw, 2, 81, 10));
    DiskGeometry g;
    ASSERT_TRUE(DetectDiskFormat(path, &g));
    EXPECT_EQ(g.format, DiskFormat::Dim);
    EXPECT_EQ(g.tracks, 82u);
    DiskImage d;
    ASSERT_TRUE(d.InsertImage(path));
    ExpectFlatContents(d, raw);
    // A header that promises more sectors than the file holds is refused.
    test::WriteFile(path, Dim(Bytes(raw.begin(), raw.end() - 1), 2, 81, 10));
    const InsertResult r = d.InsertImage(path);
    EXPECT_EQ(r.status, InsertStatus::kBadImage);
    EXPECT_FALSE(d.Inserted());
}

// An MSA header whose first track is not 0 is no MSA file: with a size no raw image has, the
// file is not recognised at all.
TEST(DiskImage, MsaStartingPastTrackZeroIsNotMsa) {
    Bytes msa = test::RawToMsa(DiskContents(2 * 9 * 512, 43), 1, 2, 9, false);
    msa[7] = 1;
    const std::string path = test::ScratchPath("late.msa");
    test::WriteFile(path, msa);
    EXPECT_FALSE(DetectDiskFormat(path, nullptr));
}

TEST(DiskImage, ImagesInsideZipArchives) {
    const Bytes raw = RawImage(1440, 9, 2, 1440);
    const Bytes msaRaw = DiskContents(80 * 2 * 9 * 512, 44);
    const std::string zip =
        test::MakeZip("disks.zip", {{"GAME.ST", raw, false},
                                    {"STORED.ST", raw, true},
                                    {"Demo.MSA", test::RawToMsa(msaRaw, 2, 80, 9, true), false}});
    DiskImage d;
    for (const char* entry : {"/game.st", "/STORED.ST"}) {
        ASSERT_TRUE(d.InsertImage(zip + entry)) << entry;
        EXPECT_EQ(d.Tracks(), 80);
        ExpectFlatContents(d, raw);
    }
    ASSERT_TRUE(d.InsertImage(zip + "/DEMO.msa"));
    EXPECT_EQ(d.Format(), DiskFormat::Msa);
    ExpectFlatContents(d, msaRaw);
    const InsertResult missing = d.InsertImage(zip + "/OTHER.ST");
    EXPECT_EQ(missing.status, InsertStatus::kCannotOpen);
    EXPECT_FALSE(d.Inserted());  // a failed insertion leaves the drive empty
}

// A damaged download: the entry's CRC-32 does not match its data. It is not inserted, and the
// message names the file.
TEST(DiskImage, ZipEntryWithBadCrcIsNotInserted) {
    const Bytes raw = RawImage(720, 9, 1, 720);
    for (bool store : {true, false}) {
        const std::string zip = test::MakeZip(store ? "bad0.zip" : "bad8.zip", {{"GAME.ST", raw, store}});
        Bytes b = test::ReadFile(zip);
        b[14] ^= 0x80;  // the local header's CRC-32
        test::WriteFile(zip, b);
        // A good disk goes in first: the failed insertion must not leave it there.
        const std::string good = test::ScratchPath("good.st");
        test::WriteFile(good, raw);
        DiskImage d;
        ASSERT_TRUE(d.InsertImage(good));
        const InsertResult r = d.InsertImage(zip + "/GAME.ST");
        EXPECT_EQ(r.status, InsertStatus::kDamagedEntry) << store;
        EXPECT_NE(r.message.find("GAME.ST"), std::string::npos) << r.message;
        EXPECT_FALSE(d.Inserted());
        EXPECT_FALSE(d.ReadSector(0, 0, 1));
    }
}

TEST(DiskImage, InsertionFailuresHaveStatusAndMessage) {
    DiskImage d;
    EXPECT_EQ(d.InsertImage("a").status, InsertStatus::kBadPath);
    const InsertResult missing = d.InsertImage(test::ScratchPath("nothing.st"));
    EXPECT_EQ(missing.status, InsertStatus::kCannotOpen);
    EXPECT_EQ(missing.message, "nothing.st: File not found.");
    // An MSA header on 13 MB: bigger than any disk image can be.
    Bytes huge(13u << 20, 0);
    huge[0] = 0x0E;
    huge[1] = 0x0F;
    huge[3] = 9;
    huge[9] = 79;
    const std::string path = test::ScratchPath("huge.msa");
    test::WriteFile(path, huge);
    EXPECT_EQ(d.InsertImage(path).status, InsertStatus::kTooLarge);
    std::filesystem::remove(path);
}

// Disk images are only ever read: the file is the same afterwards.
TEST(DiskImage, FilesAreNeverWritten) {
    const Bytes raw = RawImage(720, 9, 1, 720);
    const std::string path = test::ScratchPath("readonly.st");
    test::WriteFile(path, raw);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    const auto before = std::filesystem::last_write_time(path);
    {
        DiskImage d;
        ASSERT_TRUE(d.InsertImage(path));
        ExpectFlatContents(d, raw);
    }
    EXPECT_EQ(std::filesystem::last_write_time(path), before);
    EXPECT_TRUE(test::ReadFile(path) == raw);
}

}  // namespace
}  // namespace vexil

#include <gtest/gtest.h>

#include <cstring>

#include "floppy/DiskImage.h"
#include "floppy/Fdi.h"
#include "floppy/FloppyTestSupport.h"

namespace vexil {
namespace {

using test::Bytes;
using test::SectorIs;

struct Track {
    uint8_t type;
    Bytes data;  // padded to whole 256-byte units by Fdi()
};

Bytes Fdi(unsigned lastTrack, uint8_t lastHead, const std::vector<Track>& tracks) {
    Bytes b(kFdiHeaderSize, 0);
    std::memcpy(b.data(), "Formatted Disk Image file", 25);
    b[0x8E] = static_cast<uint8_t>(lastTrack >> 8);
    b[0x8F] = static_cast<uint8_t>(lastTrack);
    b[0x90] = lastHead;
    for (size_t i = 0; i < tracks.size(); ++i) {
        Bytes data = tracks[i].data;
        data.resize((data.size() + 255) / 256 * 256, 0);
        b[kFdiDescriptors + 2 * i] = tracks[i].type;
        b[kFdiDescriptors + 2 * i + 1] = static_cast<uint8_t>(data.size() / 256);
        b.insert(b.end(), data.begin(), data.end());
    }
    return b;
}

std::string WriteFdi(const Bytes& fdi, const std::string& name = "disk.fdi") {
    const std::string path = test::ScratchPath(name);
    test::WriteFile(path, fdi);
    return path;
}

// Plain tracks of 9 and 10 sectors, on two sides.
TEST(Fdi, PlainTracks) {
    std::vector<Track> tracks;
    for (int i = 0; i < 4; ++i) {
        const uint8_t type = i % 2 ? kFdiPlain10 : kFdiPlain9;
        tracks.push_back({type, test::RandomBytes((type == kFdiPlain9 ? 9 : 10) * 512, 50 + i)});
    }
    const std::string path = WriteFdi(Fdi(1, 1, tracks));
    DiskGeometry g;
    ASSERT_TRUE(DetectDiskFormat(path, &g));
    EXPECT_EQ(g.format, DiskFormat::Fdi);
    EXPECT_EQ(g.sides, 2u);
    EXPECT_EQ(g.tracks, 2u);
    EXPECT_EQ(g.sectorsPerTrack, 0u);
    DiskImage d;
    const InsertResult r = d.InsertImage(path);
    ASSERT_TRUE(r) << r.message;
    for (int t = 0; t < 2; ++t) {
        for (int s = 0; s < 2; ++s) {
            const Track& track = tracks[static_cast<size_t>(t * 2 + s)];
            const int sectors = track.type == kFdiPlain9 ? 9 : 10;
            for (int n = 1; n <= sectors; ++n) {
                ASSERT_TRUE(d.ReadSector(t, s, n)) << t << s << n;
                EXPECT_TRUE(SectorIs(d, track.data.data() + (n - 1) * 512, 512));
            }
            EXPECT_FALSE(d.ReadSector(t, s, 0));
            EXPECT_FALSE(d.ReadSector(t, s, sectors + 1));
        }
    }
    EXPECT_FALSE(d.ReadSector(2, 0, 1));
}

void Append(Bytes& b, std::initializer_list<uint8_t> bytes) {
    b.insert(b.end(), bytes);
}
void Append(Bytes& b, const Bytes& bytes) {
    b.insert(b.end(), bytes.begin(), bytes.end());
}

// One MFM track that uses every command kind.
TEST(Fdi, MfmTrackWithEveryCommand) {
    const Bytes s1 = test::RandomBytes(256, 60), s2 = test::RandomBytes(512, 61),
                s3 = test::RandomBytes(128, 62), s4 = test::RandomBytes(256, 63),
                s5 = test::RandomBytes(512, 64), s6 = test::RandomBytes(512, 65);
    Bytes m = {0x00};  // MFM
    for (uint8_t gap :
         {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x1E, 0x1F}) {
        m.push_back(gap);
    }
    Append(m, {0x08, 0xAA, 0xBB, 0x09, 0xCC, 0xDD});
    Append(m, {0x0A, 0x00, 0x11, 1, 2, 3});  // 17 raw bits: 3 bytes
    Append(m, {0x0C, 0x00, 0x08, 4});
    Append(m, {0x0B, 0x00, 0x00});  // 65,536 raw bits
    m.resize(m.size() + 8192, 0x19);
    Append(m, {0x0D, 0x00, 0x01});  // 65,537 raw bits
    m.resize(m.size() + 8193, 0xFF);
    Append(m, {0x13, 0, 0, 1, 1, 0x1A, 1});
    Append(m, s1);
    Append(m, {0x14, 0, 0, 2, 2, 0x19});
    Append(m, s2);
    Append(m, {0x15, 3, 0x1B, 0});
    Append(m, s3);
    Append(m, {0xEE, 0xEE, 0x16, 4, 0x1B, 1});
    Append(m, s4);
    Append(m, {0xEE, 0xEE, 0x1C, 0, 0, 5, 2});
    Append(m, s5);
    Append(m, {0x1D, 6});
    Append(m, s6);
    Append(m, {0xFF});
    DiskImage d;
    const InsertResult r = d.InsertImage(WriteFdi(Fdi(0, 0, {{kFdiMfm, m}})));
    ASSERT_TRUE(r) << r.message;
    const Bytes* expected[] = {&s1, &s2, &s3, &s4, &s5, &s6};
    for (int n = 1; n <= 6; ++n) {
        ASSERT_TRUE(d.ReadSector(0, 0, n)) << n;
        EXPECT_TRUE(SectorIs(d, expected[n - 1]->data(), expected[n - 1]->size())) << n;
    }
    EXPECT_FALSE(d.ReadSector(0, 0, 7));
    EXPECT_FALSE(d.ReadSector(0, 1, 1));
}

// ID records match on the lowest bit of their side byte and on their own track number.
TEST(Fdi, IdRecordsMatchTheirOwnNumbers) {
    const Bytes s = test::RandomBytes(512, 66);
    Bytes m = {0x00, 0x13, 7, 3, 9, 2, 0x19};
    Append(m, s);
    Append(m, {0x13, 0, 1, 9, 2});  // an ID with no data after it
    Append(m, {0xFF});
    DiskImage d;
    std::vector<Track> tracks(16, {kFdiMfm, {0, 0xFF}});
    tracks[15] = {kFdiMfm, m};  // track 7, side 1
    ASSERT_TRUE(d.InsertImage(WriteFdi(Fdi(7, 1, tracks))));
    ASSERT_TRUE(d.ReadSector(7, 1, 9));
    EXPECT_TRUE(SectorIs(d, s.data(), 512));
    EXPECT_FALSE(d.ReadSector(0, 1, 9));
}

struct BadTrack {
    const char* name;
    uint8_t type;
    Bytes data;
    const char* message;
};

class FdiBadTrack : public testing::TestWithParam<BadTrack> {};

TEST_P(FdiBadTrack, IsRefusedWithItsMessage) {
    const BadTrack& c = GetParam();
    DiskImage d;
    const InsertResult r = d.InsertImage(WriteFdi(Fdi(0, 0, {{c.type, c.data}}), "bad.fdi"));
    EXPECT_EQ(r.status, InsertStatus::kBadImage);
    EXPECT_EQ(r.message, std::string("bad.fdi: ") + c.message);
    ASSERT_NE(d.LastError(), nullptr);
    EXPECT_STREQ(d.LastError(), c.message);
    EXPECT_FALSE(d.Inserted());
}

Bytes Mfm(std::initializer_list<uint8_t> commands, size_t zeros = 0) {
    Bytes b = {0x00};
    b.insert(b.end(), commands);
    b.resize(b.size() + zeros, 0);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, FdiBadTrack,
    testing::Values(BadTrack{"NotMfm", kFdiMfm, {0x01, 0xFF}, kFdiNotMfm},
                    BadTrack{"NoEnd", kFdiMfm, Mfm({0x00, 0x01}), kFdiNoEnd},
                    BadTrack{"EmptyTrack", kFdiMfm, {}, kFdiNoEnd},
                    BadTrack{"CrcError17", kFdiMfm, Mfm({0x15, 1, 0x17, 0xFF}), kFdiCrcError},
                    BadTrack{"CrcError18", kFdiMfm, Mfm({0x18, 0xFF}), kFdiCrcError},
                    BadTrack{"UnknownCommand", kFdiMfm, Mfm({0x20, 0xFF}), kFdiUnknownCommand},
                    BadTrack{"TrackType5", 5, Mfm({0xFF}), kFdiBadTrackType},
                    BadTrack{"Sector1024", kFdiMfm, Mfm({0x1A, 3, 0xFF}, 1100), kFdiBigSector},
                    BadTrack{"IdAndSector1024", kFdiMfm, Mfm({0x1C, 0, 0, 1, 3}, 1100), kFdiBigSector},
                    BadTrack{"DataPastTrackEnd", kFdiMfm, Mfm({0x00, 0x19}, 200), kFdiNoEnd},
                    BadTrack{"RawBitsPastTrackEnd", kFdiMfm, Mfm({0x0B, 0x00, 0x00, 0xFF}), kFdiNoEnd},
                    BadTrack{"ShortPlainTrack", kFdiPlain9, Bytes(4096, 0), kFdiNoEnd}),
    [](const auto& info) { return std::string(info.param.name); });

struct GeometryCase {
    unsigned lastTrack;
    uint8_t lastHead;
    bool accepted;
};

class FdiGeometry : public testing::TestWithParam<GeometryCase> {};

// The header holds 180 track descriptors and a floppy has two sides: anything else is refused.
TEST_P(FdiGeometry, OnlyWhatTheTrackTableHolds) {
    const auto& c = GetParam();
    const size_t sides = static_cast<size_t>(static_cast<int8_t>(c.lastHead) + 1);
    const size_t count = std::min<size_t>((c.lastTrack + 1) * std::max<size_t>(sides, 1), 180);
    DiskImage d;
    const InsertResult r = d.InsertImage(
        WriteFdi(Fdi(c.lastTrack, c.lastHead, std::vector<Track>(count, {kFdiMfm, {0, 0xFF}}))));
    EXPECT_EQ(static_cast<bool>(r), c.accepted) << r.message;
    if (!c.accepted) {
        EXPECT_STREQ(d.LastError(), kFdiBadGeometry);
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, FdiGeometry,
                         testing::Values(GeometryCase{89, 1, true}, GeometryCase{179, 0, true},
                                         GeometryCase{90, 1, false}, GeometryCase{180, 0, false},
                                         GeometryCase{0, 2, false}, GeometryCase{0, 0xFF, false},
                                         GeometryCase{0xFFFF, 0x7F, false}));

// Cut anywhere, an FDI file is refused: the descriptors promise more than is there.
TEST(Fdi, TruncatedFilesAreRefused) {
    Bytes m = Mfm({0x15, 1, 0x19});
    Append(m, test::RandomBytes(512, 67));
    Append(m, {0xFF});
    const Bytes fdi = Fdi(1, 0, {{kFdiPlain9, test::RandomBytes(4608, 68)}, {kFdiMfm, m}});
    DiskImage d;
    for (size_t length = kFdiHeaderSize; length < fdi.size(); length += 61) {
        const InsertResult r =
            d.InsertImage(WriteFdi(Bytes(fdi.begin(), fdi.begin() + static_cast<ptrdiff_t>(length))));
        EXPECT_FALSE(r) << length;
        EXPECT_STREQ(d.LastError(), kFdiTruncated);
    }
    EXPECT_TRUE(d.InsertImage(WriteFdi(fdi)));
}

}  // namespace
}  // namespace vexil

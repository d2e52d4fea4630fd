// STX images built here: the loader's refusals, and the controller reading protected tracks
// as they turn (CRC errors, deleted marks, fuzzy bytes, duplicate IDs, read times).
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "floppy/DiskImage.h"
#include "floppy/FloppyController.h"
#include "floppy/FloppyTestSupport.h"
#include "floppy/Stx.h"
#include "machine/Machine.h"
#include "support/TestDisk.h"

namespace vexil {
namespace {

using namespace fdc;
using test::Bytes;

struct StxSector {
    uint8_t number;
    uint32_t position;  // byte of the ID mark after the index
    uint8_t status = 0;
    uint8_t sizeCode = 2;
    uint8_t side = 0;
    uint16_t readTime = 0;
    bool badIdCrc = false;
    Bytes mask = {};       // fuzzy mask (status 0x80)
    int dataInImage = -1;  // where the data lie in the track image; -1: after it
    uint8_t fill = 0;      // the data: fill + i
};

struct StxTrackSpec {
    uint8_t cylinder = 0, side = 0;
    std::vector<StxSector> sectors;
    Bytes image;           // a track image, when not empty
    int plainSectors = 0;  // a track without descriptors: this many 512-byte sectors
    Bytes plainData;
};

void Put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF), Put16(b, v >> 16);
}

uint8_t DataByte(const StxSector& s, uint32_t i) {
    return uint8_t(s.fill + i);
}

Bytes MakeStx(const std::vector<StxTrackSpec>& tracks) {
    Bytes file = {'R', 'S', 'Y', 0};
    Put16(file, 3), Put16(file, 1), Put16(file, 0);
    file.push_back(uint8_t(tracks.size())), file.push_back(2);
    Put32(file, 0);
    for (const StxTrackSpec& t : tracks) {
        Bytes rec, descriptors, fuzzy, data;
        uint16_t flags = 0;
        const uint8_t number = uint8_t(t.cylinder | (t.side << 7));
        if (t.plainSectors) {
            data = t.plainData;
        } else {
            flags = 0x01;
            if (!t.image.empty()) {
                flags |= 0x40;
                Put16(data, uint32_t(t.image.size()));
                data.insert(data.end(), t.image.begin(), t.image.end());
                if (data.size() & 1) data.push_back(0);
            }
            for (const StxSector& s : t.sectors) {
                const uint32_t size = 128u << s.sizeCode;
                uint32_t offset;
                if (s.dataInImage >= 0) {
                    offset = 2 + uint32_t(s.dataInImage);
                } else {
                    offset = uint32_t(data.size());
                    for (uint32_t i = 0; i < size; ++i) data.push_back(DataByte(s, i));
                }
                SectorId id;
                id.track = t.cylinder, id.side = s.side, id.number = s.number, id.sizeCode = s.sizeCode;
                uint16_t crc = IdCrc(id);
                if (s.badIdCrc) crc ^= 0x5555;
                Put32(descriptors, offset);
                Put16(descriptors, s.position * 8);
                Put16(descriptors, s.readTime);
                for (uint8_t v : {id.track, id.side, id.number, id.sizeCode, uint8_t(crc >> 8), uint8_t(crc),
                                  s.status, uint8_t(0)})
                    descriptors.push_back(v);
                fuzzy.insert(fuzzy.end(), s.mask.begin(), s.mask.end());
            }
        }
        const uint32_t size = uint32_t(16 + descriptors.size() + fuzzy.size() + data.size());
        Put32(rec, size), Put32(rec, uint32_t(fuzzy.size()));
        Put16(rec, t.plainSectors ? uint32_t(t.plainSectors) : uint32_t(t.sectors.size()));
        Put16(rec, flags), Put16(rec, 6250);
        rec.push_back(number), rec.push_back(0);
        rec.insert(rec.end(), descriptors.begin(), descriptors.end());
        rec.insert(rec.end(), fuzzy.begin(), fuzzy.end());
        rec.insert(rec.end(), data.begin(), data.end());
        file.insert(file.end(), rec.begin(), rec.end());
    }
    return file;
}

std::string WriteStx(const std::string& name, const Bytes& file) {
    const std::string path = test::ScratchPath(name + "-" + std::to_string(::getpid()) + ".stx");
    test::WriteFile(path, file);
    return path;
}

// A track of 9 plain sectors: reads as the raw image with the same sectors.
StxTrackSpec PlainTrack(uint8_t cylinder, uint8_t side) {
    StxTrackSpec t;
    t.cylinder = cylinder, t.side = side, t.plainSectors = 9;
    for (int n = 1; n <= 9; ++n)
        for (int i = 0; i < 512; ++i) t.plainData.push_back(test::PatternByte(cylinder, side, n, i));
    return t;
}

// ---- the loader -------------------------------------------------------------------------------

TEST(StxImage, PlainTracksReadAsARawImage) {
    DiskImage disk;
    ASSERT_TRUE(
        disk.InsertImage(WriteStx("plain", MakeStx({PlainTrack(0, 0), PlainTrack(0, 1), PlainTrack(1, 0)}))));
    EXPECT_EQ(disk.Format(), DiskFormat::Stx);
    for (int c : {0, 1}) {
        for (int n = 1; n <= 9; ++n) {
            ASSERT_TRUE(disk.ReadSector(c, 0, n));
            uint8_t expected[512];
            for (int i = 0; i < 512; ++i) expected[i] = test::PatternByte(c, 0, n, i);
            EXPECT_TRUE(test::SectorIs(disk, expected));
        }
    }
    EXPECT_FALSE(disk.ReadSector(1, 1, 1));  // no such record
    EXPECT_FALSE(disk.ReadSector(0, 0, 10));
}

struct BrokenCase {
    const char* name;
    size_t at;  // the byte changed, or the length cut to
    int value;  // the new byte; -1: cut the file there
    const char* message;
};

class BrokenStx : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenStx, IsRefusedWithItsReason) {
    StxTrackSpec t;
    t.sectors = {{1, 100}, {2, 700}};
    t.sectors[1].status = 0x80;
    t.sectors[1].mask = Bytes(512, 0xF0);
    Bytes file = MakeStx({t});
    const BrokenCase& c = GetParam();
    if (c.value < 0)
        file.resize(c.at);
    else
        file[c.at] = uint8_t(c.value);
    DiskImage disk;
    const InsertResult result = disk.InsertImage(WriteStx("broken", file));
    EXPECT_FALSE(result);
    EXPECT_FALSE(disk.Inserted());
    EXPECT_NE(result.message.find(c.message), std::string::npos) << result.message;
}

// The record starts at 16: size at 16, fuzzy bytes at 20, first descriptor at 32 (its data
// offset at 32-35), the second's at 48.
INSTANTIATE_TEST_SUITE_P(
    Loader, BrokenStx,
    ::testing::Values(BrokenCase{"Magic", 1, 'X', "Not a disk image"},
                      BrokenCase{"Version", 4, 2, "Unsupported STX version"},
                      BrokenCase{"TruncatedRecord", 600, -1, "runs past the end of the file"},
                      BrokenCase{"RecordSizeTooLarge", 19, 0x7F, "runs past the end of the file"},
                      BrokenCase{"DataOffsetOutside", 35, 0x40, "outside its record"},
                      BrokenCase{"FuzzyMaskTooShort", 21, 0, "fuzzy masks are too short"},
                      BrokenCase{"FuzzyPastRecord", 23, 0x10, "fuzzy masks run past"},
                      BrokenCase{"CylinderTooFar", 30, 90, "beyond cylinder 85"}),
    [](const auto& info) { return std::string(info.param.name); });

// Random and truncated files never read outside the file: each is refused or goes in.
TEST(StxImage, DamagedFilesAreRefusedOrReadSafely) {
    StxTrackSpec t;
    t.sectors = {{1, 100}, {2, 700, 0x80, 2, 0, 0, false, Bytes(512, 0x0F)}, {3, 1300, 0x20}};
    t.image = Bytes(6250, 0x4E);
    const Bytes good = MakeStx({t, PlainTrack(1, 0)});
    DiskImage disk;
    for (size_t cut = 0; cut < good.size(); cut += 97) {
        Bytes file(good.begin(), good.begin() + long(cut));
        if (disk.InsertImage(WriteStx("cut", file)))
            for (int n = 0; n < 12; ++n) disk.ReadSector(0, 0, n);
    }
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        Bytes file = good;
        Bytes noise = test::RandomBytes(8, seed);
        for (size_t i = 0; i < 8; ++i)
            file[(noise[i] * 131u + seed * 977u) % file.size()] = noise[(i + 1) % 8];
        if (disk.InsertImage(WriteStx("noise", file))) {
            for (int c = 0; c < 86; ++c) {
                const TrackView view = disk.Track(c, 0);
                for (uint32_t n = 0; n < view.count; ++n)
                    for (uint32_t i = 0; i < view.ids[n].Size(); ++i) (void)disk.SectorByte(view.ids[n], i);
            }
        }
    }
}

TEST(StxImage, GoesInFromAZip) {
    const std::string zip = test::MakeZip("stx-" + std::to_string(::getpid()) + ".zip",
                                          {{"GAME.STX", MakeStx({PlainTrack(0, 0)})}});
    DiskImage disk;
    ASSERT_TRUE(disk.InsertImage(zip));
    EXPECT_EQ(disk.Format(), DiskFormat::Stx);
    EXPECT_TRUE(disk.ReadSector(0, 0, 9));
}

// ---- the controller on a protected track ------------------------------------------------------

constexpr uint16_t kModeCommand = 0x80, kModeTrack = 0x82, kModeSector = 0x84, kModeCount = 0x90;
constexpr uint32_t kBuffer = 0x10000;

class StxController : public ::testing::Test {
protected:
    void Insert(const std::vector<StxTrackSpec>& tracks) {
        machine_ = std::make_unique<Machine>();
        ASSERT_TRUE(machine_->InsertDisk(0, WriteStx("fdc", MakeStx(tracks))));
        g_cpu.clock = 0;
        machine_->Ym().ports.WriteByte(0xFF8800, 14, 0);
        machine_->Ym().ports.WriteByte(0xFF8802, 0x05, 0);  // drive A, side 0
        Write(kModeCommand, 0xD0);                          // the motor turns, the disk at its index
        Read(kModeCommand);
    }
    FloppyController& Fdc() { return machine_->Fdc(); }
    Cycles Now() const { return g_cpu.clock; }
    void Write(uint16_t mode, uint16_t value) {
        Fdc().WriteWord(0x06, mode, Now());
        Fdc().WriteWord(0x04, value, Now());
    }
    uint16_t Read(uint16_t mode) {
        Fdc().WriteWord(0x06, mode, Now());
        return Fdc().ReadWord(0x04, Now());
    }
    bool Interrupt() const { return !machine_->GetMfp().InputLine(mfp::kGpipFloppy); }
    int64_t RunToInterrupt(int64_t limit = 20'000'000) {
        const int64_t start = g_cpu.clock;
        int64_t frames = 0;
        for (;;) {
            const Cycles before = g_cpu.clock;
            const int32_t budget = machine_->Scheduler().ServiceEvents();
            if (Interrupt()) return frames * kCyclesPerFrame + before - start;
            if (budget < 0) {
                ++frames;
                continue;
            }
            const int64_t elapsed = frames * kCyclesPerFrame + g_cpu.clock - start;
            if (elapsed >= limit) return -1;
            g_cpu.clock += static_cast<Cycles>(std::min<int64_t>(budget, limit - elapsed));
        }
    }
    // Reads one sector into the buffer: the status, and the cycles it took.
    uint16_t ReadSector(uint8_t number, int64_t* cycles = nullptr, uint8_t track = 0) {
        Fdc().WriteByte(0x09, uint8_t(kBuffer >> 16)), Fdc().WriteByte(0x0B, uint8_t(kBuffer >> 8));
        Fdc().WriteByte(0x0D, uint8_t(kBuffer));
        Write(kModeTrack, track);
        Write(kModeCount, 1);
        Write(kModeSector, number);
        Write(kModeCommand, 0x88);
        const int64_t took = RunToInterrupt();
        if (cycles) *cycles = took;
        return Read(kModeCommand);
    }
    void WaitUntilAngle(Cycles angle) {
        const Cycles now = Fdc().SinceIndex(Now());
        Idle((angle - now + kTurn) % kTurn);
    }
    void Idle(int64_t cycles) {
        int64_t left = cycles;
        while (left > 0) {
            const int32_t budget = machine_->Scheduler().ServiceEvents();
            if (budget <= 0) continue;
            const int32_t step = static_cast<int32_t>(std::min<int64_t>(budget, left));
            g_cpu.clock += step;
            left -= step;
        }
    }
    uint8_t Ram(uint32_t offset) { return machine_->PeekByte(kBuffer + offset); }

    std::unique_ptr<Machine> machine_;
};

struct StatusCase {
    const char* name;
    StxSector sector;
    uint16_t status;
    bool stored;  // the data reach RAM
};

class StxStatus : public StxController, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StxStatus, ReadSectorReportsAsTheChipDoes) {
    StxTrackSpec t;
    t.sectors = {GetParam().sector};
    Insert({t});
    machine_->PokeLong(kBuffer, 0xDEADBEEF);
    int64_t cycles = 0;
    EXPECT_EQ(ReadSector(GetParam().sector.number, &cycles), GetParam().status);
    if (GetParam().stored) {
        for (uint32_t i = 0; i < (128u << GetParam().sector.sizeCode); ++i)
            ASSERT_EQ(Ram(i), DataByte(GetParam().sector, i)) << i;
    } else {
        EXPECT_EQ(machine_->PeekLong(kBuffer), 0xDEADBEEFu);
        EXPECT_GT(cycles, 4 * kTurn);  // at the fifth index pulse
        EXPECT_LE(cycles, 5 * kTurn + 4);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sectors, StxStatus,
    ::testing::Values(StatusCase{"Good", {1, 300}, kMotorOn, true},
                      StatusCase{"DataCrcError", {1, 300, 0x08}, kMotorOn | kCrcError, true},
                      StatusCase{"DeletedMark", {1, 300, 0x20}, kMotorOn | kRecordType, true},
                      StatusCase{"IdCrcError",
                                 {1, 300, 0x18, 2, 0, 0, true},
                                 kMotorOn | kRecordNotFoundBit | kCrcError,
                                 false},
                      StatusCase{"WrongSideByteIsStillRead", {1, 300, 0, 2, 1}, kMotorOn, true},
                      StatusCase{"Size1024", {1, 300, 0, 3}, kMotorOn, true},
                      StatusCase{"Size128", {1, 300, 0, 0}, kMotorOn, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StxController, AMissingSectorIsNotFoundAtTheFifthIndexPulse) {
    StxTrackSpec t;
    t.sectors = {{1, 300}};
    Insert({t});
    int64_t cycles = 0;
    EXPECT_EQ(ReadSector(2, &cycles), kMotorOn | kRecordNotFoundBit);
    EXPECT_GT(cycles, 4 * kTurn);
    EXPECT_LT(Fdc().SinceIndex(Now()), 8);
    EXPECT_EQ(ReadSector(1, nullptr, 5), kMotorOn | kRecordNotFoundBit);  // the track register counts
}

// Sector 3 at 10% and at 60% of a turn, with different data: whichever passes first is read.
TEST_F(StxController, DuplicateIdsGiveWhicheverPassesFirst) {
    StxTrackSpec t;
    t.sectors = {{3, 625, 0, 2, 0, 0, false, {}, -1, 0x10}, {3, 3750, 0, 2, 0, 0, false, {}, -1, 0x80}};
    Insert({t});
    WaitUntilAngle(0);
    ReadSector(3);
    EXPECT_EQ(Ram(0), 0x10);
    WaitUntilAngle(BytesToCycles(1500));
    ReadSector(3);
    EXPECT_EQ(Ram(0), 0x80);
}

// An ID whose data mark lies 60 bytes after it (in the track image) is passed over; the next
// ID of the same number is read.
TEST_F(StxController, AnIdWhoseDataMarkComesTooLateIsSkipped) {
    StxTrackSpec t;
    t.image = Bytes(6250, 0x4E);
    const uint32_t late = 200 + 7 + 60 + 1;  // data of the first ID, in the image
    for (uint32_t i = 0; i < 512; ++i) t.image[late + i] = 0x33;
    t.sectors = {{1, 200, 0, 2, 0, 0, false, {}, int(late)}, {1, 3000, 0, 2, 0, 0, false, {}, -1, 0x44}};
    Insert({t});
    WaitUntilAngle(0);
    EXPECT_EQ(ReadSector(1), kMotorOn);
    EXPECT_EQ(Ram(0), 0x44);
}

TEST_F(StxController, ALongReadTimeEndsLater) {
    StxTrackSpec t;
    t.sectors = {{1, 300}, {2, 300, 0, 2, 0, 16384 * 102 / 100}};  // 2% over 512 x 32 µs
    t.sectors[1].number = 2;
    Insert({t});
    int64_t nominal = 0, slow = 0;
    WaitUntilAngle(0);
    ReadSector(1, &nominal);
    WaitUntilAngle(0);
    ReadSector(2, &slow);
    const int64_t data = BytesToCycles(512);
    EXPECT_NEAR(slow - nominal, data * 2 / 100, 8);
}

// Stable bits read as stored; the others differ between reads, and follow the generator's
// seed through a save state.
TEST_F(StxController, FuzzyBytesFollowTheirMaskAndTheSavedSeed) {
    StxTrackSpec t;
    t.sectors = {{1, 300, 0x80, 2, 0, 0, false, Bytes(512, 0xF0)}};
    Insert({t});
    ReadSector(1);
    Bytes first(512), second(512);
    for (uint32_t i = 0; i < 512; ++i) first[i] = Ram(i);
    const std::vector<uint8_t> state = machine_->SaveState();
    ReadSector(1);
    for (uint32_t i = 0; i < 512; ++i) second[i] = Ram(i);
    int differ = 0;
    for (uint32_t i = 0; i < 512; ++i) {
        ASSERT_EQ(first[i] & 0xF0, DataByte(t.sectors[0], i) & 0xF0) << i;
        ASSERT_EQ(second[i] & 0xF0, DataByte(t.sectors[0], i) & 0xF0) << i;
        differ += first[i] != second[i];
    }
    EXPECT_GT(differ, 400);
    std::string error;
    ASSERT_TRUE(machine_->LoadState(state, error)) << error;
    ReadSector(1);
    for (uint32_t i = 0; i < 512; ++i) ASSERT_EQ(Ram(i), second[i]) << i;
}

TEST_F(StxController, ReadAddressGivesTheIdsInAngularOrderAtTheirTimes) {
    StxTrackSpec t;
    t.sectors = {{7, 4000}, {5, 1000}, {6, 2500}};
    Insert({t});
    WaitUntilAngle(0);
    for (uint8_t expected : {5, 6, 7, 5}) {
        Fdc().WriteByte(0x09, uint8_t(kBuffer >> 16)), Fdc().WriteByte(0x0B, uint8_t(kBuffer >> 8));
        Fdc().WriteByte(0x0D, uint8_t(kBuffer));
        Write(kModeCommand, 0xC8);
        ASSERT_GE(RunToInterrupt(), 0);
        EXPECT_EQ(Read(kModeCommand), kMotorOn);
        EXPECT_EQ(Ram(2), expected);
        EXPECT_EQ(Read(kModeSector), 0);  // the ID's track byte
        const uint32_t position = expected == 5 ? 1000 : expected == 6 ? 2500 : 4000;
        EXPECT_NEAR(Fdc().SinceIndex(Now()), BytesToCycles(position + 7), 40);
    }
}

TEST_F(StxController, ReadTrackGivesTheImage) {
    StxTrackSpec t;
    t.image = test::RandomBytes(6250, 7);
    t.sectors = {{1, 300}};
    Insert({t});
    Fdc().WriteByte(0x09, uint8_t(kBuffer >> 16)), Fdc().WriteByte(0x0B, uint8_t(kBuffer >> 8));
    Fdc().WriteByte(0x0D, uint8_t(kBuffer));
    Write(kModeCommand, 0xE8);
    const int64_t cycles = RunToInterrupt();
    EXPECT_GE(cycles, kTurn - 8);  // from the next index pulse to the one after
    EXPECT_LE(cycles, 2 * kTurn + 8);
    for (uint32_t i = 0; i < 6250; ++i) ASSERT_EQ(Ram(i), t.image[i]) << i;
}

TEST_F(StxController, WritesEndWriteProtected) {
    Insert({PlainTrack(0, 0)});
    Write(kModeSector, 1);
    Write(0x180, 0xA8);
    EXPECT_GE(RunToInterrupt(), 0);
    EXPECT_EQ(Fdc().ReadWord(0x04, Now()), kMotorOn | kWriteProtect);
}

}  // namespace
}  // namespace vexil

// The WD1772 and its DMA in a machine with no program running: commands written to the
// registers, time moved on through the frame scheduler, results read from the registers, RAM
// and MFP input 5.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "floppy/DiskImage.h"
#include "floppy/FloppyController.h"
#include "floppy/FloppyTestSupport.h"
#include "machine/Machine.h"
#include "support/TestDisk.h"

namespace vexil {
namespace {

using namespace fdc;

constexpr uint16_t kModeCommand = 0x80, kModeTrack = 0x82, kModeSector = 0x84, kModeData = 0x86;
constexpr uint16_t kModeCount = 0x90;
constexpr uint32_t kBuffer = 0x10000;
// Port A: side 0 (bit 0 high), drive A selected (bit 1 low), drive B not (bit 2 high).
constexpr uint8_t kDriveASide0 = 0x05, kDriveASide1 = 0x04, kDriveBSide0 = 0x03, kNoDriveSelected = 0x07;

class FloppyControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        disk_ = test::ScratchPath("fdc-" + std::to_string(::getpid()) + ".st");
        test::WriteFile(disk_, test::MakeRawDisk(80, 1, 9, true));  // single-sided, 9 sectors
        machine_ = std::make_unique<Machine>();
        ASSERT_TRUE(machine_->InsertDisk(0, disk_));
        g_cpu.clock = 0;
        SelectDrive(kDriveASide0);
    }

    FloppyController& Fdc() { return machine_->Fdc(); }
    Cycles Now() const { return g_cpu.clock; }
    void SelectDrive(uint8_t portA) {
        machine_->Ym().ports.WriteByte(0xFF8800, 14, Now());
        machine_->Ym().ports.WriteByte(0xFF8802, portA, Now());
    }
    void Write(uint16_t mode, uint16_t value) {
        Fdc().WriteWord(0x06, mode, Now());
        Fdc().WriteWord(0x04, value, Now());
    }
    uint16_t Read(uint16_t mode) {
        Fdc().WriteWord(0x06, mode, Now());
        return Fdc().ReadWord(0x04, Now());
    }
    void SetDma(uint32_t address) {
        Fdc().WriteByte(0x09, uint8_t(address >> 16));
        Fdc().WriteByte(0x0B, uint8_t(address >> 8));
        Fdc().WriteByte(0x0D, uint8_t(address));
    }
    uint32_t Dma() const {
        auto& fdc = machine_->Fdc();
        return uint32_t(fdc.ReadByte(0x09)) << 16 | fdc.ReadByte(0x0B) << 8 | fdc.ReadByte(0x0D);
    }
    bool Interrupt() const { return !machine_->GetMfp().InputLine(mfp::kGpipFloppy); }
    // Moves the head of the selected drive to `track` (and the track register with it) with a
    // seek from where it is; the interrupt is read away.
    void PlaceHead(int track) {
        Write(kModeData, uint16_t(track));
        Write(kModeCommand, 0x1B);
        RunToInterrupt();
        Read(kModeCommand);
    }
    // Lets the motor stop: ten index pulses without a command.
    void StopMotor() { Idle(int64_t{kIdlePulses} * kTurn + 8); }
    // Where the data field of sector n (from 1) of a 9-sector track has passed, in cycles
    // after the index: TOS's layout puts its ID mark at 75 + 614 (n - 1), and 7 bytes of ID, 37
    // of gap and sync, the data mark, 512 bytes and 2 of CRC follow.
    static Cycles DataEnd(int n) { return BytesToCycles(75 + 614 * uint64_t(n - 1) + 7 + 37 + 1 + 512 + 2); }

    // Moves time on through the scheduler (no instructions run) until input 5 goes low or
    // `limit` cycles have passed. Returns the cycles from the call to the event that pulled
    // it low, or -1. With `stopAtInterrupt` false it only lets the time pass.
    int64_t RunToInterrupt(int64_t limit = 40'000'000, bool stopAtInterrupt = true) {
        const int64_t start = g_cpu.clock;
        int64_t frames = 0;
        for (;;) {
            const Cycles before = g_cpu.clock;
            const int32_t budget = machine_->Scheduler().ServiceEvents();
            if (stopAtInterrupt && Interrupt()) return frames * kCyclesPerFrame + before - start;
            if (budget < 0) {
                ++frames;
                continue;
            }
            const int64_t elapsed = frames * kCyclesPerFrame + g_cpu.clock - start;
            if (elapsed >= limit) return -1;
            g_cpu.clock += static_cast<Cycles>(std::min<int64_t>(budget, limit - elapsed));
        }
    }
    void Idle(int64_t cycles) { RunToInterrupt(cycles, false); }

    std::string disk_;
    std::unique_ptr<Machine> machine_;
};

// ---- type I ---------------------------------------------------------------------------------

struct TypeOneCase {
    const char* name;
    int startTrack;
    uint8_t data;  // seek target
    uint8_t command;
    int64_t cycles;
    int endTrack;
    uint8_t status;
    int noise;  // the drive's noise (DriveNoise) as the command starts; -1 silence
};

class TypeOne : public FloppyControllerTest, public ::testing::WithParamInterface<TypeOneCase> {};

TEST_P(TypeOne, MovesTheHeadInTheDataSheetsTime) {
    const TypeOneCase& c = GetParam();
    PlaceHead(c.startTrack);
    StopMotor();
    Write(kModeData, c.data);
    Write(kModeCommand, c.command);
    EXPECT_EQ(Read(kModeCommand) & kBusy, kBusy);
    DriveNoise noise;
    if (c.noise >= 0) {
        EXPECT_TRUE(machine_->DriveNoises().Sounding(&noise) && int(noise) == c.noise);
    }
    EXPECT_NEAR(RunToInterrupt(), c.cycles, 4);
    EXPECT_EQ(Read(kModeTrack), c.endTrack);
    EXPECT_EQ(Read(kModeCommand) & ~kIndex, c.status);
}

// Rates 0-3: 6, 12, 2 and 3 ms a step; head settle 15 ms; spin-up to the 6th index pulse unless
// h (0x08); the disk stopped at its index. The disk is writable: no write protect.
// Moves of 1-5 tracks sound as a step, longer ones as a seek; a motor start drowns either.
constexpr int kStepNoise = int(DriveNoise::kStep), kSeekNoise = int(DriveNoise::kSeek);
INSTANTIATE_TEST_SUITE_P(
    Commands, TypeOne,
    ::testing::Values(TypeOneCase{"SeekFiveToZero", 5, 0, 0x18, 5 * 48000 + 120000, 0, 0xA4, kStepNoise},
                      TypeOneCase{"SeekUpAtRate2", 3, 40, 0x1A, 37 * 16000 + 120000, 40, 0xA0, kSeekNoise},
                      TypeOneCase{"SeekSixWithoutSpinUp", 6, 0, 0x1B, 6 * 24000 + 120000, 0, 0xA4,
                                  kSeekNoise},
                      TypeOneCase{"RestoreFromFortyWithSpinUp", 40, 0, 0x03, 40 * 24000 + 120000 + 6 * kTurn,
                                  0, 0xA4, int(DriveNoise::kMotorStart)},
                      TypeOneCase{"StepIn", 10, 0, 0x59, 96000, 11, 0xA0, kStepNoise},
                      TypeOneCase{"StepInWithoutUpdate", 10, 0, 0x49, 96000, 10, 0xA0, kStepNoise},
                      TypeOneCase{"StepOutToZero", 1, 0, 0x78, 48000, 0, 0xA4, kStepNoise},
                      TypeOneCase{"StepOutAtTrackZeroOnlyClearsTheRegister", 0, 0, 0x78, 0, 0, 0xA4, -1},
                      TypeOneCase{"SeekToWhereItIs", 7, 7, 0x18, 120000, 7, 0xA0, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FloppyControllerTest, StepGoesTheWayTheLastMoveWent) {
    PlaceHead(5);
    Write(kModeData, 2);
    Write(kModeCommand, 0x18);  // seek out
    RunToInterrupt();
    Write(kModeCommand, 0x38);  // step, track register updated
    RunToInterrupt();
    EXPECT_EQ(Read(kModeTrack), 1);
    Write(kModeCommand, 0x58);  // step in
    RunToInterrupt();
    Write(kModeCommand, 0x38);
    RunToInterrupt();
    EXPECT_EQ(Read(kModeTrack), 3);
}

TEST_F(FloppyControllerTest, ARunningMotorShowsAsSpunUpAndCostsNoSpinUp) {
    Write(kModeCommand, 0x00);  // restore, motor starts: six index pulses
    EXPECT_NEAR(RunToInterrupt(), 6 * kTurn + 120000, 4);
    Write(kModeCommand, 0x00);
    EXPECT_EQ(Read(kModeCommand) & kSpinUpDone, kSpinUpDone);
    EXPECT_NEAR(RunToInterrupt(), 120000, 4);
    // Nine idle index pulses later the motor still runs; at the tenth it stops.
    Idle(9 * kTurn - 120000);
    EXPECT_EQ(Read(kModeCommand) & kMotorOn, kMotorOn);
    Idle(kTurn);
    EXPECT_EQ(Read(kModeCommand), kTrack0);  // idle: a writable disk
    DriveNoise noise;
    EXPECT_TRUE(machine_->DriveNoises().Sounding(&noise) && noise == DriveNoise::kMotorStop);
    Write(kModeCommand, 0x00);
    EXPECT_NEAR(RunToInterrupt(), 6 * kTurn + 120000, 4);
}

// ---- drives without a disk, and a machine with one drive ------------------------------------

struct EmptyDriveCase {
    const char* name;
    bool driveBConnected;
    uint8_t command;
    int64_t cycles;  // to the interrupt; -1: still busy after 40,000,000
    uint8_t status;  // after the interrupt, or after Force Interrupt when it stayed busy
};

class EmptyDrive : public FloppyControllerTest, public ::testing::WithParamInterface<EmptyDriveCase> {};

// Drive B has no disk. A drive is a drive: its head and track-0 sensor work, but no index pulse
// and no ID field ever comes, so whatever waits for one waits until Force Interrupt. A write
// meets the write-protect line first, which an empty drive holds active.
TEST_P(EmptyDrive, AnswersAsTheDriveWould) {
    const EmptyDriveCase& c = GetParam();
    Fdc().DriveBConnected = c.driveBConnected;
    SelectDrive(kDriveBSide0);
    Write(kModeTrack, 3);
    Write(kModeData, 5);
    Write(kModeSector, 1);
    Write(kModeCount, 1);
    Write(kModeCommand, c.command);
    EXPECT_EQ(RunToInterrupt(40'000'000), c.cycles);
    if (c.cycles < 0) {
        EXPECT_EQ(Read(kModeCommand) & kBusy, kBusy);
        Write(kModeCommand, 0xD0);
    }
    EXPECT_EQ(Read(kModeCommand), c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, EmptyDrive,
    ::testing::Values(
        // EmuTOS's probe: Restore with h, no verify; the head is already at track 0.
        EmptyDriveCase{"RestoreWithH", true, 0x08, 120000, kMotorOn | kWriteProtect | kSpinUpDone | kTrack0},
        EmptyDriveCase{"SeekWithH", true, 0x18, 120000 + 2 * 48000, kMotorOn | kWriteProtect | kSpinUpDone},
        EmptyDriveCase{"RestoreSpinningUp", true, 0x00, -1, kMotorOn | kWriteProtect | kTrack0},
        EmptyDriveCase{"RestoreVerifying", true, 0x0C, -1, kMotorOn | kWriteProtect | kSpinUpDone | kTrack0},
        EmptyDriveCase{"ReadSector", true, 0x88, -1, kMotorOn},
        EmptyDriveCase{"ReadSectorSpinningUp", true, 0x80, -1, kMotorOn},
        EmptyDriveCase{"WriteSector", true, 0xA8, 0, kMotorOn | kWriteProtect},
        // Not there: no track 0, so 255 steps; a seek error only when verifying.
        EmptyDriveCase{"RestoreWithoutDrive", false, 0x08, 255 * 48000 + 120000, kMotorOn | kSpinUpDone},
        EmptyDriveCase{"RestoreWithoutDriveVerifying", false, 0x0C, 255 * 48000 + 120000,
                       kMotorOn | kSpinUpDone | kRecordNotFoundBit}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FloppyControllerTest, AnEmptyDrivesMotorNeverRunsDown) {
    SelectDrive(kDriveBSide0);
    Write(kModeCommand, 0x08);
    RunToInterrupt();
    Idle(40'000'000);
    EXPECT_EQ(Read(kModeCommand) & kMotorOn, kMotorOn);
    DriveNoise noise;
    EXPECT_FALSE(machine_->DriveNoises().Sounding(&noise) && noise == DriveNoise::kMotorStop);
}

// The idle status shows the lines of whichever drive is selected when it is read: TOS selects
// each drive in turn and sees a disk change as a write-protect transition.
TEST_F(FloppyControllerTest, IdleStatusFollowsTheSelectedDrive) {
    PlaceHead(2);  // drive A's head leaves track 0, drive B's stays there
    struct {
        uint8_t portA;
        uint16_t status;
    } rows[] = {{kDriveASide0, kMotorOn | kSpinUpDone},
                {kDriveBSide0, kMotorOn | kSpinUpDone | kWriteProtect | kTrack0},
                {kNoDriveSelected, kMotorOn | kSpinUpDone}};
    for (const auto& row : rows) {
        SelectDrive(row.portA);
        EXPECT_EQ(Read(kModeCommand), row.status) << int(row.portA);
    }
    Fdc().DriveBConnected = false;
    SelectDrive(kDriveBSide0);
    EXPECT_EQ(Read(kModeCommand), kMotorOn | kSpinUpDone);
}

// ---- reads ----------------------------------------------------------------------------------

void ExpectSector(Machine& m, uint32_t address, int track, int side, int sector) {
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(m.PeekByte(address + i), test::PatternByte(track, side, sector, i))
            << "track " << track << " sector " << sector << " byte " << i;
}

TEST_F(FloppyControllerTest, ReadSectorStoresItInRamAndInterruptsWhenDone) {
    machine_->GetMfp().WriteByte(mfp::kIerb, 0x80, 0);  // channel 7 enabled, as TOS has it
    Write(kModeTrack, 0);
    Write(kModeData, 4);
    Write(kModeCommand, 0x18);
    RunToInterrupt();
    SetDma(kBuffer);
    Fdc().WriteWord(0x06, 0x190, Now());  // the DMA's toggle, then count 1
    Write(kModeCount, 1);
    Write(kModeSector, 3);
    Write(kModeCommand, 0x88);
    EXPECT_FALSE(Interrupt());                  // the command write released it
    EXPECT_EQ(machine_->PeekByte(kBuffer), 0);  // nothing yet: the sector is still on its way
    EXPECT_GT(RunToInterrupt(), 0);
    // When its data field has passed; the DMA's bursts then hold the bus for 1,024 cycles.
    EXPECT_NEAR(Fdc().SinceIndex(Now()) - 1024, DataEnd(3), 8);
    ExpectSector(*machine_, kBuffer, 4, 0, 3);
    EXPECT_EQ(Dma(), kBuffer + 512);
    EXPECT_EQ(Read(kModeSector), 3);
    EXPECT_EQ(machine_->GetMfp().Register(mfp::kIprb) & 0x80, 0x80);  // channel 7 requested
    EXPECT_EQ(Read(kModeCommand), kMotorOn);
    EXPECT_FALSE(Interrupt());                       // reading the status released it
    EXPECT_EQ(Fdc().ReadWord(0x06, Now()), 0xFFFF);  // DMA status: no error
}

TEST_F(FloppyControllerTest, AMultiSectorReadInterruptsOnceAtTheEnd) {
    PlaceHead(1);
    SetDma(kBuffer);
    Write(kModeCount, 9);
    Write(kModeSector, 1);
    Write(kModeCommand, 0x98);               // m, h
    EXPECT_LT(RunToInterrupt(), 2 * kTurn);  // one after the other as they pass
    EXPECT_NEAR(Fdc().SinceIndex(Now()) - 1024, DataEnd(9), 8);
    for (int sector = 1; sector <= 9; ++sector)
        ExpectSector(*machine_, kBuffer + (sector - 1) * 512, 1, 0, sector);
    EXPECT_EQ(Read(kModeSector), 10);
    EXPECT_EQ(Dma(), kBuffer + 9 * 512);
    EXPECT_EQ(Read(kModeCommand), kMotorOn);
}

struct MissingCase {
    const char* name;
    uint8_t portA;
    int track, sector;
};

class RecordNotFound : public FloppyControllerTest, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(RecordNotFound, AfterFiveTurnsAndNothingStored) {
    SelectDrive(GetParam().portA);
    PlaceHead(GetParam().track);
    SetDma(kBuffer);
    Write(kModeCount, 1);
    Write(kModeSector, uint16_t(GetParam().sector));
    Write(kModeCommand, 0x88);
    // At the fifth index pulse: four to five turns.
    const int64_t cycles = RunToInterrupt();
    EXPECT_GT(cycles, 4 * kTurn);
    EXPECT_LE(cycles, 5 * kTurn + 4);
    EXPECT_LT(Fdc().SinceIndex(Now()), 8);
    EXPECT_EQ(Read(kModeCommand), kMotorOn | kRecordNotFoundBit);
    EXPECT_EQ(Dma(), kBuffer);
    for (int i = 0; i < 512; ++i) ASSERT_EQ(machine_->PeekByte(kBuffer + i), 0);
}

INSTANTIATE_TEST_SUITE_P(Reads, RecordNotFound,
                         ::testing::Values(MissingCase{"SectorTen", kDriveASide0, 0, 10},
                                           MissingCase{"SectorZero", kDriveASide0, 0, 0},
                                           MissingCase{"TrackEighty", kDriveASide0, 80, 1},
                                           MissingCase{"WrongSide", kDriveASide1, 0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FloppyControllerTest, DriveBReadsItsOwnImage) {
    const std::string other = test::ScratchPath("fdc-b-" + std::to_string(::getpid()) + ".st");
    test::WriteFile(other, test::MakeRawDisk(80, 2, 9, true));
    ASSERT_TRUE(machine_->InsertDisk(1, other));
    EXPECT_FALSE(machine_->Drive(0).Format() != DiskFormat::Raw);
    SelectDrive(kDriveBSide0 & ~1);  // drive B, side 1
    SetDma(kBuffer);
    Write(kModeCount, 1);
    Write(kModeSector, 2);
    Write(kModeCommand, 0x88);
    EXPECT_GT(RunToInterrupt(), 0);
    ExpectSector(*machine_, kBuffer, 0, 1, 2);
}

TEST_F(FloppyControllerTest, FastDiskCompletesEveryCommandAfter1024Cycles) {
    machine_->SetFastDisk(true);
    SetDma(kBuffer);
    Write(kModeCount, 3);
    Write(kModeSector, 1);
    Write(kModeCommand, 0x90);  // multi-sector, motor off: no spin-up wait either
    // The DMA's bus time (a sector's bursts) pushes the clock on past the last sector's due time.
    const int64_t cycles = RunToInterrupt();
    EXPECT_GE(cycles, 3 * 1024);
    EXPECT_LT(cycles, 6 * 1024);
    Write(kModeTrack, 40);
    Write(kModeCommand, 0x00);
    EXPECT_EQ(RunToInterrupt(), 1024);
    ExpectSector(*machine_, kBuffer + 1024, 0, 0, 3);
}

// ---- writes to a protected disk ----------------------------------------------------------------

TEST_F(FloppyControllerTest, WritesToAProtectedDiskEndWriteProtectedAndChangeNothing) {
    machine_->SetWriteProtectDisks(true);
    const test::Bytes before = test::ReadFile(disk_);
    machine_->PokeLong(kBuffer, 0x12345678);
    for (uint8_t command : {uint8_t(0xA8), uint8_t(0xF8)}) {
        SetDma(kBuffer);
        Write(kModeSector, 1);
        Write(0x190, 1);  // towards the disk: the sector count
        Write(0x180, command);
        EXPECT_EQ(RunToInterrupt(), 0);  // at once: the disk is protected
        EXPECT_EQ(Fdc().ReadWord(0x04, Now()), kMotorOn | kWriteProtect) << std::hex << int(command);
        EXPECT_STREQ(Fdc().ActivityText(), command == 0xA8 ? "FDC WRITE SECTOR" : "FDC WRITE TRACK");
    }
    EXPECT_EQ(machine_->PeekLong(kBuffer), 0x12345678u);
    EXPECT_TRUE(test::ReadFile(disk_) == before);
    // The disk still reads as it did.
    SetDma(kBuffer);
    Write(kModeSector, 1);
    Write(kModeCount, 1);
    Write(kModeCommand, 0x88);
    RunToInterrupt();
    EXPECT_EQ(machine_->PeekByte(kBuffer), 0x60);  // the boot sector's branch
}

// ---- writes --------------------------------------------------------------------------------

// Where the ID of sector n (from 1) of a 9- or 10-sector TOS track has passed its CRC.
Cycles IdEnd(int n) {
    return BytesToCycles(75 + 614 * uint64_t(n - 1) + 7);
}

void FillPattern(Machine& m, uint32_t address, uint32_t length, uint8_t seed) {
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; ++i) bytes[i] = uint8_t(seed + i * 5 + (i >> 8));
    m.LoadBytes(address, bytes.data(), std::min<uint32_t>(length, kRamBytes - address));
}

void Load(Machine& m, uint32_t address, const std::vector<uint8_t>& bytes) {
    m.LoadBytes(address, bytes.data(), bytes.size());
}

struct WriteCase {
    const char* name;
    uint8_t command;
    uint16_t mode;     // DMA mode: 0x100 towards the disk, 0x40 DMA off
    uint32_t address;  // where the DMA takes the data
    int sector;
    bool protect;          // WriteProtectDisks
    uint8_t status;        // at the end
    Cycles endAfterIndex;  // where the command ends (-1: not checked)
    int written;           // sectors that now read as written, from `sector` on
    bool deleted;          // they read with the deleted mark (status bit 5)
    uint8_t sectorAfter;
};

class WriteSector : public FloppyControllerTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteSector, FollowsTheDataSheet) {
    const WriteCase& c = GetParam();
    if (c.address >= 0x200000) {
        // A 4 MB machine, so that the DMA runs into the end of RAM.
        MachineSettings settings;
        settings.RAMSize = 3;
        machine_.reset();
        machine_ = std::make_unique<Machine>(settings);
        ASSERT_TRUE(machine_->InsertDisk(0, disk_));
        SelectDrive(kDriveASide0);
    }
    machine_->SetWriteProtectDisks(c.protect);
    PlaceHead(4);
    FillPattern(*machine_, c.address, 2 * 512, 0x40);
    SetDma(c.address);
    Fdc().WriteWord(0x06, c.mode | 0x90, Now());
    Fdc().WriteWord(0x04, 2, Now());  // sector count
    Fdc().WriteWord(0x06, c.mode | 0x84, Now());
    Fdc().WriteWord(0x04, uint16_t(c.sector), Now());
    Fdc().WriteWord(0x06, c.mode | 0x80, Now());
    Fdc().WriteWord(0x04, c.command, Now());
    ASSERT_GE(RunToInterrupt(), 0);
    if (c.endAfterIndex >= 0) {
        EXPECT_NEAR(Fdc().SinceIndex(Now()), c.endAfterIndex, 1100);
    }
    EXPECT_EQ(Read(kModeCommand), c.status);
    EXPECT_EQ(Read(kModeSector), c.sectorAfter);
    EXPECT_EQ(machine_->Drive(0).ChangedSectors(), uint32_t(c.written));
    // Read back: written sectors hold the DMA's bytes (zeros past the end of RAM), the others
    // their pattern.
    for (int n = c.sector; n < c.sector + 2 && n <= 9; ++n) {
        Write(kModeSector, uint16_t(n));
        SetDma(kBuffer + 0x4000);
        Write(kModeCount, 1);
        Write(kModeCommand, 0x88);
        RunToInterrupt();
        const bool written = n - c.sector < c.written;
        EXPECT_EQ(Read(kModeCommand), kMotorOn | (written && c.deleted ? kRecordType : 0)) << n;
        for (uint32_t i = 0; i < 512; ++i) {
            const uint32_t from = c.address + (n - c.sector) * 512 + i;
            const uint8_t want = !written           ? test::PatternByte(4, 0, n, int(i))
                                 : from < kRamBytes ? machine_->PeekByte(from)
                                                    : uint8_t(0);
            ASSERT_EQ(machine_->PeekByte(kBuffer + 0x4000 + i), want) << "sector " << n << " byte " << i;
        }
    }
    EXPECT_TRUE(test::ReadFile(disk_) == test::MakeRawDisk(80, 1, 9, true));  // the image file never changes
}

constexpr Cycles kSecondEnd = BytesToCycles(75 + 614 + 7 + 11 + 16 + 512 + 3);

INSTANTIATE_TEST_SUITE_P(
    Writes, WriteSector,
    ::testing::Values(
        WriteCase{"OneSector", 0xA8, 0x100, kBuffer, 2, false, kMotorOn, kSecondEnd, 1, false, 2},
        WriteCase{"DeletedMark", 0xA9, 0x100, kBuffer, 2, false, kMotorOn, kSecondEnd, 1, true, 2},
        WriteCase{"ProtectedEndsAtOnce", 0xA8, 0x100, kBuffer, 2, true, kMotorOn | kWriteProtect, -1, 0,
                  false, 2},
        WriteCase{"DmaOffIsLostData", 0xA8, 0x140, kBuffer, 2, false, kMotorOn | kLostData,
                  IdEnd(2) + BytesToCycles(11), 0, false, 2},
        WriteCase{"DmaTowardsRamIsLostData", 0xA8, 0x000, kBuffer, 2, false, kMotorOn | kLostData,
                  IdEnd(2) + BytesToCycles(11), 0, false, 2},
        WriteCase{"BytesPastRamAreZerosAndLostData", 0xA8, 0x100, kRamBytes - 256, 2, false,
                  kMotorOn | kLostData, -1, 1, false, 2},
        WriteCase{"MultipleUntilRecordNotFound", 0xB8, 0x100, kBuffer, 8, false,
                  kMotorOn | kRecordNotFoundBit, -1, 2, false, 10},
        WriteCase{"NoSuchSector", 0xA8, 0x100, kBuffer, 12, false, kMotorOn | kRecordNotFoundBit, 0, 0, false,
                  12}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FloppyControllerTest, WriteProtectIsTestedAfterTheSettlingDelay) {
    machine_->SetWriteProtectDisks(true);
    SetDma(kBuffer);
    Write(0x190, 1);
    Write(0x184, 1);
    Write(0x180, 0xAC);  // h, e
    EXPECT_EQ(RunToInterrupt(), kSettle);
    EXPECT_EQ(Read(kModeCommand), kMotorOn | kWriteProtect);
}

// Sector data of a format: never F5-F7, which the stream reserves.
uint8_t FormatByte(int n, int i) {
    return uint8_t((n * 3 + i) % 0xF0);
}

// EmuTOS's format: 60 x 4E, then per sector 12 x 00, 3 x F5, FE, track, side, sector, 02, F7,
// 22 x 4E, 12 x 00, 3 x F5, FB, 512 bytes, F7, 40 x 4E; the rest 4E.
// Eleven sectors need the shorter leader and sync of tight formats (10 x 4E, 3 x 00).
std::vector<uint8_t> FormatStream(int track, int side, int sectors, int gap3, bool goodCrc, bool tight) {
    std::vector<uint8_t> s(tight ? 10 : 60, 0x4E);
    const auto put = [&](size_t n, uint8_t b) { s.insert(s.end(), n, b); };
    const size_t sync = tight ? 3 : 12;
    for (int n = 1; n <= sectors; ++n) {
        put(sync, 0), put(3, 0xF5), put(1, 0xFE);
        s.push_back(uint8_t(track)), s.push_back(uint8_t(side)), s.push_back(uint8_t(n)), s.push_back(2);
        put(1, goodCrc ? 0xF7 : 0x00);
        put(22, 0x4E), put(sync, 0), put(3, 0xF5), put(1, 0xFB);
        for (int i = 0; i < 512; ++i) s.push_back(FormatByte(n, i));
        put(1, 0xF7), put(size_t(gap3), 0x4E);
    }
    s.resize(6400, 0x4E);
    return s;
}

struct FormatCase {
    const char* name;
    int sectors, gap3;
    bool goodCrc, tight;
    int readable;  // sectors 1 to this one read back; the others end with `failStatus`
    uint8_t failStatus;
};

class WriteTrack : public FloppyControllerTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(WriteTrack, FormatsTheTrackFromIndexToIndex) {
    const FormatCase& c = GetParam();
    PlaceHead(7);
    const std::vector<uint8_t> stream = FormatStream(7, 0, c.sectors, c.gap3, c.goodCrc, c.tight);
    Load(*machine_, kBuffer, stream);
    SetDma(kBuffer);
    Write(0x190, 13);
    Write(0x180, 0xF8);
    const int64_t cycles = RunToInterrupt();
    // From the next index pulse to the one after it.
    EXPECT_GT(cycles, kTurn);
    EXPECT_LT(cycles, 2 * kTurn + 2000);
    EXPECT_LT(Fdc().SinceIndex(Now()), 2000 + 12512);  // and the DMA's bursts
    EXPECT_EQ(Read(kModeCommand), kMotorOn);
    for (int n = 1; n <= c.sectors; ++n) {
        Write(kModeSector, uint16_t(n));
        SetDma(kBuffer + 0x8000);
        Write(kModeCount, 1);
        Write(kModeCommand, 0x88);
        RunToInterrupt();
        const bool readable = n <= c.readable;
        EXPECT_EQ(Read(kModeCommand), readable ? kMotorOn : c.failStatus) << "sector " << n;
        if (!readable) continue;
        for (int i = 0; i < 512; ++i)
            ASSERT_EQ(machine_->PeekByte(kBuffer + 0x8000 + uint32_t(i)), FormatByte(n, i)) << n;
    }
    // The other tracks are as they were.
    Write(kModeSector, 1);
    PlaceHead(6);
    SetDma(kBuffer + 0x8000);
    Write(kModeCount, 1);
    Write(kModeCommand, 0x88);
    RunToInterrupt();
    ExpectSector(*machine_, kBuffer + 0x8000, 6, 0, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, WriteTrack,
    ::testing::Values(FormatCase{"NineSectors", 9, 40, true, false, 9, 0},
                      FormatCase{"TenSectors", 10, 40, true, false, 10, 0},
                      FormatCase{"ElevenTightSectors", 11, 1, true, true, 11, 0},
                      // IDs whose CRC was not written by F7: Record Not Found with the CRC bit.
                      FormatCase{"BadIdCrc", 9, 40, false, false, 0,
                                 kMotorOn | kRecordNotFoundBit | kCrcError},
                      // More sectors than a turn holds: those the index pulse cut are not there.
                      FormatCase{"TooMany", 12, 40, true, false, 10, kMotorOn | kRecordNotFoundBit}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FloppyControllerTest, ALayoutTheOverlayCannotHoldLeavesTheTrackUnreadable) {
    PlaceHead(3);
    // 70 IDs of 128-byte sectors with no gaps: more IDs than a track of the overlay keeps.
    std::vector<uint8_t> s;
    for (int n = 1; n <= 70; ++n) {
        s.insert(s.end(), {0xF5, 0xF5, 0xF5, 0xFE, 3, 0, uint8_t(n), 0, 0xF7});
    }
    s.resize(6400, 0x4E);
    Load(*machine_, kBuffer, s);
    SetDma(kBuffer);
    Write(0x190, 13);
    Write(0x180, 0xF8);
    RunToInterrupt();
    EXPECT_EQ(Read(kModeCommand), kMotorOn);  // no write-fault status on this chip
    Write(kModeSector, 1);
    SetDma(kBuffer + 0x8000);
    Write(kModeCount, 1);
    Write(kModeCommand, 0x88);
    RunToInterrupt();
    EXPECT_EQ(Read(kModeCommand), kMotorOn | kRecordNotFoundBit);
}

TEST_F(FloppyControllerTest, WriteTrackWithoutTheDmasBytesIsLostData) {
    SetDma(kBuffer);
    Write(0x040 | 0x80, 0xF8);  // DMA off
    RunToInterrupt();
    EXPECT_EQ(Read(kModeCommand), kMotorOn | kLostData);
    EXPECT_EQ(machine_->Drive(0).ChangedSectors(), 0u);
}

TEST_F(FloppyControllerTest, WrittenSectorsTravelWithTheSaveState) {
    FillPattern(*machine_, kBuffer, 512, 0x11);
    SetDma(kBuffer);
    Write(0x190, 1);
    Write(0x184, 5);
    Write(0x180, 0xA9);
    RunToInterrupt();
    const std::vector<uint8_t> state = machine_->SaveState();
    std::vector<uint16_t> written(256);
    for (int i = 0; i < 512; i += 2)
        written[i / 2] = uint16_t(machine_->PeekByte(kBuffer + i) << 8 | machine_->PeekByte(kBuffer + i + 1));
    // Another machine with the same image, fresh from it: the state brings the write along.
    machine_.reset();
    machine_ = std::make_unique<Machine>();
    ASSERT_TRUE(machine_->InsertDisk(0, disk_));
    EXPECT_EQ(machine_->Drive(0).ChangedSectors(), 0u);
    std::string error;
    ASSERT_TRUE(machine_->LoadState(state, error)) << error;
    EXPECT_EQ(machine_->Drive(0).ChangedSectors(), 1u);
    ASSERT_TRUE(machine_->Drive(0).ReadSector(0, 0, 5));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(machine_->Drive(0).SectorBuffer()[i], written[i]) << i;
    EXPECT_TRUE(machine_->SaveState() == state);
    // A state with a damaged overlay is refused whole.
    std::vector<uint8_t> bad = state;
    const uint8_t magic[] = {'V', 'X', 'O', 'V', 'R', 'L', 'A', 'Y'};
    auto at = std::search(bad.begin(), bad.end(), std::begin(magic), std::end(magic));
    ASSERT_NE(at, bad.end());
    at[20] ^= 0xFF;  // inside the overlay: its CRC no longer matches
    EXPECT_FALSE(machine_->LoadState(bad, error));
}

// ---- the interrupt line -----------------------------------------------------------------------

TEST_F(FloppyControllerTest, ForceInterruptWithoutConditionStopsQuietly) {
    PlaceHead(40);
    Write(kModeCommand, 0x03);  // restore: long
    Idle(100000);
    Write(kModeCommand, 0xD0);
    EXPECT_EQ(RunToInterrupt(20'000'000), -1);
    EXPECT_EQ(Read(kModeCommand) & kBusy, 0);
}

TEST_F(FloppyControllerTest, ForceInterruptWithAConditionInterruptsAtOnce) {
    Write(kModeCommand, 0xD8);
    EXPECT_EQ(RunToInterrupt(), 0);
    Write(kModeCommand, 0xD0);  // a command write releases the line
    EXPECT_FALSE(Interrupt());
}

TEST_F(FloppyControllerTest, TheNextCommandWaitsForItsOwnCompletion) {
    Write(kModeCommand, 0x08);
    RunToInterrupt();
    EXPECT_TRUE(Interrupt());  // nobody read the status
    Write(kModeData, 10);
    Write(kModeCommand, 0x18);
    EXPECT_FALSE(Interrupt());
    EXPECT_EQ(RunToInterrupt(), 10 * 48000 + 120000);
}

TEST_F(FloppyControllerTest, CommandsWrittenWhileBusyAreIgnoredButSeek) {
    PlaceHead(20);
    Write(kModeCommand, 0x08);  // restore: 20 steps
    Write(kModeSector, 1);
    Write(kModeCommand, 0x88);  // ignored
    EXPECT_EQ(RunToInterrupt(), 20 * 48000 + 120000);
    EXPECT_EQ(Read(kModeCommand) & kTrack0, kTrack0);
}

TEST_F(FloppyControllerTest, AMachineResetStopsAReadInFlight) {
    SetDma(kBuffer);
    Write(kModeCount, 9);
    Write(kModeSector, 1);
    Write(kModeCommand, 0x98);
    Idle(3 * 160000 + 100);  // three sectors stored
    machine_->Io().Reset();
    EXPECT_FALSE(Interrupt());
    EXPECT_EQ(RunToInterrupt(20'000'000), -1);
    EXPECT_EQ(machine_->PeekByte(kBuffer + 3 * 512), 0);
    EXPECT_EQ(Fdc().State().phase, kFdcIdle);
    EXPECT_EQ(Read(kModeCommand), kTrack0);
}

// Bit 3 of the DMA mode alone selects the hard-disk bus; bit 7 only routes the data request.
TEST_F(FloppyControllerTest, ModeBitThreeSelectsTheHardDiskBus) {
    struct {
        uint16_t mode;
        bool floppy;
    } rows[] = {{0x80, true}, {0x00, true}, {0x82, true}, {0x88, false}, {0x08, false}, {0x198, false}};
    for (const auto& row : rows) {
        Write(kModeTrack, 0);
        Write(uint16_t(row.mode | 0x02), 0x42);
        EXPECT_EQ(Read(kModeTrack), row.floppy ? 0x42 : 0) << std::hex << row.mode;
    }
    // A status read on the hard-disk bus reads nothing and leaves the floppy's interrupt low.
    Write(kModeCommand, 0xD8);
    RunToInterrupt();
    ASSERT_TRUE(Interrupt());
    EXPECT_EQ(Read(0x88), 0xFFFF);
    EXPECT_TRUE(Interrupt());
    Read(kModeCommand);
    EXPECT_FALSE(Interrupt());
}

TEST_F(FloppyControllerTest, TheHardDiskBusAnswersNothingAndRamStaysAsItWas) {
    SetDma(kBuffer);
    machine_->PokeLong(kBuffer, 0xCAFEF00D);
    Write(kModeCount, 4);
    Fdc().WriteWord(0x06, 0x88, Now());  // the hard-disk bus
    Fdc().WriteWord(0x04, 0x08, Now());
    EXPECT_EQ(machine_->PeekLong(kBuffer), 0xCAFEF00Du);
    EXPECT_EQ(RunToInterrupt(1'000'000), -1);
}

TEST_F(FloppyControllerTest, DmaIntoTheVectorsLeavesThemAlone) {
    machine_->PokeLong(0, 0x00001234);
    SetDma(0);
    Write(kModeCount, 1);
    Write(kModeSector, 2);
    Write(kModeCommand, 0x88);
    RunToInterrupt();
    EXPECT_EQ(machine_->PeekLong(0), 0x00001234u);
    EXPECT_EQ(machine_->PeekByte(8), test::PatternByte(0, 0, 2, 8));
    EXPECT_EQ(Dma(), 512u);
}

// ---- the machine's drives and its save state --------------------------------------------------

TEST(MachineDrives, EachDriveHoldsItsOwnImage) {
    const std::string path = test::ScratchPath("drives.st");
    test::WriteFile(path, test::MakeRawDisk(80, 1, 9, true));
    MachineSettings settings;
    settings.DriveA = path;
    Machine machine(settings);
    EXPECT_TRUE(machine.SettingsInsertResult(0));
    EXPECT_TRUE(machine.Drive(0).Inserted());
    EXPECT_FALSE(machine.Drive(1).Inserted());
    EXPECT_FALSE(machine.InsertDisk(1, path + ".missing"));
    EXPECT_FALSE(machine.Drive(1).Inserted());
}

TEST_F(FloppyControllerTest, AReadCutByASaveStateEndsTheSameWhenLoaded) {
    SetDma(kBuffer);
    Write(kModeCount, 4);
    Write(kModeSector, 1);
    Write(kModeCommand, 0x98);
    Idle(2 * 160000 + 50);
    const std::vector<uint8_t> state = machine_->SaveState();
    RunToInterrupt();
    const std::vector<uint8_t> whole = machine_->SaveState();
    std::string error;
    ASSERT_TRUE(machine_->LoadState(state, error)) << error;
    machine_->PokeLong(kBuffer + 3 * 512, 0);
    RunToInterrupt();
    EXPECT_TRUE(machine_->SaveState() == whole);
}

}  // namespace
}  // namespace vexil

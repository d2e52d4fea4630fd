// The WD1772 and its DMA in a machine with no program running: commands written to the
// registers, time moved on through the frame scheduler, results read from the registers, RAM
// and MFP input 5.
#include <gtest/gtest.h>

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
    Write(kModeTrack, uint16_t(c.startTrack));
    Write(kModeData, c.data);
    Write(kModeCommand, c.command);
    EXPECT_EQ(Read(kModeCommand) & kBusy, kBusy);
    DriveNoise noise;
    EXPECT_EQ(machine_->DriveNoises().Sounding(&noise) ? int(noise) : -1, c.noise);
    EXPECT_EQ(RunToInterrupt(), c.cycles);
    EXPECT_EQ(Read(kModeTrack), c.endTrack);
    EXPECT_EQ(Read(kModeCommand), c.status);
}

// Rates 0-3: 6, 12, 2 and 3 ms a step; head settle 15 ms; spin-up 1.2 s unless h (0x08).
// Moves of 1-5 tracks sound as a step, longer ones as a seek; a motor start drowns either.
constexpr int kStepNoise = int(DriveNoise::kStep), kSeekNoise = int(DriveNoise::kSeek);
INSTANTIATE_TEST_SUITE_P(
    Commands, TypeOne,
    ::testing::Values(TypeOneCase{"SeekFiveToZero", 5, 0, 0x18, 5 * 48000 + 120000, 0, 0xE4, kStepNoise},
                      TypeOneCase{"SeekUpAtRate2", 3, 40, 0x1A, 37 * 16000 + 120000, 40, 0xE0, kSeekNoise},
                      TypeOneCase{"SeekSixWithoutSpinUp", 6, 0, 0x1B, 6 * 24000 + 120000, 0, 0xE4,
                                  kSeekNoise},
                      TypeOneCase{"RestoreFromFortyWithSpinUp", 40, 0, 0x03, 40 * 24000 + 120000 + 9600000, 0,
                                  0xE4, int(DriveNoise::kMotorStart)},
                      TypeOneCase{"StepIn", 10, 0, 0x49, 96000, 11, 0xE0, kStepNoise},
                      TypeOneCase{"StepOutToZero", 1, 0, 0x68, 48000, 0, 0xE4, kStepNoise},
                      TypeOneCase{"SeekToWhereItIs", 7, 7, 0x18, 120000, 7, 0xE0, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FloppyControllerTest, StepGoesTheWayTheLastMoveWent) {
    Write(kModeTrack, 5);
    Write(kModeData, 2);
    Write(kModeCommand, 0x18);  // seek out
    RunToInterrupt();
    Write(kModeCommand, 0x28);  // step
    RunToInterrupt();
    EXPECT_EQ(Read(kModeTrack), 1);
    Write(kModeCommand, 0x48);  // step in
    RunToInterrupt();
    Write(kModeCommand, 0x28);
    RunToInterrupt();
    EXPECT_EQ(Read(kModeTrack), 3);
}

TEST_F(FloppyControllerTest, ARunningMotorShowsAsSpunUpAndCostsNoSpinUp) {
    Write(kModeCommand, 0x00);  // restore, motor starts
    EXPECT_EQ(RunToInterrupt(), 120000 + 9600000);
    Write(kModeCommand, 0x00);
    EXPECT_EQ(Read(kModeCommand) & kSpinUpDone, kSpinUpDone);
    EXPECT_EQ(RunToInterrupt(), 120000);
    // After the motor has run down (2 s without a command) the spin-up is paid again.
    Idle(14'400'000 + 4);
    EXPECT_EQ(Read(kModeCommand), kWriteProtect);  // idle: a protected disk
    DriveNoise noise;
    EXPECT_TRUE(machine_->DriveNoises().Sounding(&noise) && noise == DriveNoise::kMotorStop);
    Write(kModeCommand, 0x00);
    EXPECT_EQ(RunToInterrupt(), 120000 + 9600000);
}

TEST_F(FloppyControllerTest, WithoutADiskThereIsNoTrackZeroAndRestoreGivesUp) {
    for (uint8_t port : {kNoDriveSelected, kDriveBSide0}) {
        SelectDrive(port);
        Write(kModeTrack, 3);
        Write(kModeCommand, 0x0B);
        EXPECT_EQ(RunToInterrupt(), 255 * 24000 + 120000);
        EXPECT_EQ(Read(kModeCommand), kMotorOn | kWriteProtect | kSpinUpDone | kRecordNotFoundBit);
        Write(kModeCommand, 0x18);  // seek to 0: still no track-0 signal
        RunToInterrupt();
        EXPECT_EQ(Read(kModeCommand) & kTrack0, 0);
    }
}

// ---- reads ----------------------------------------------------------------------------------

void ExpectSector(Machine& m, uint32_t address, int track, int side, int sector) {
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(m.PeekByte(address + i), test::PatternByte(track, side, sector, i))
            << "track " << track << " sector " << sector << " byte " << i;
}

TEST_F(FloppyControllerTest, ReadSectorStoresItInRamAndInterruptsWhenDone) {
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
    EXPECT_EQ(RunToInterrupt(), 160000);
    ExpectSector(*machine_, kBuffer, 4, 0, 3);
    EXPECT_EQ(Dma(), kBuffer + 512);
    EXPECT_EQ(Read(kModeSector), 3);
    EXPECT_EQ(machine_->GetMfp().Register(mfp::kIprb) & 0x80, 0x80);  // channel 7 requested
    EXPECT_EQ(Read(kModeCommand), kMotorOn);
    EXPECT_FALSE(Interrupt());                       // reading the status released it
    EXPECT_EQ(Fdc().ReadWord(0x06, Now()), 0xFFFF);  // DMA status: no error
}

TEST_F(FloppyControllerTest, AMultiSectorReadInterruptsOnceAtTheEnd) {
    Write(kModeTrack, 1);
    SetDma(kBuffer);
    Write(kModeCount, 9);
    Write(kModeSector, 1);
    Write(kModeCommand, 0x98);  // m, h
    EXPECT_EQ(RunToInterrupt(), 9 * 160000);
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
    Write(kModeTrack, uint16_t(GetParam().track));
    SetDma(kBuffer);
    Write(kModeCount, 1);
    Write(kModeSector, uint16_t(GetParam().sector));
    Write(kModeCommand, 0x88);
    EXPECT_EQ(RunToInterrupt(), 6400000);
    EXPECT_EQ(Read(kModeCommand), kMotorOn | kRecordNotFoundBit);
    EXPECT_EQ(Dma(), kBuffer);
    for (int i = 0; i < 512; ++i) ASSERT_EQ(machine_->PeekByte(kBuffer + i), 0);
}

INSTANTIATE_TEST_SUITE_P(Reads, RecordNotFound,
                         ::testing::Values(MissingCase{"SectorTen", kDriveASide0, 0, 10},
                                           MissingCase{"SectorZero", kDriveASide0, 0, 0},
                                           MissingCase{"TrackEighty", kDriveASide0, 80, 1},
                                           MissingCase{"WrongSide", kDriveASide1, 0, 1},
                                           MissingCase{"EmptyDriveB", kDriveBSide0, 0, 1},
                                           MissingCase{"NoDriveSelected", kNoDriveSelected, 0, 1}),
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
    EXPECT_EQ(RunToInterrupt(), 160000);
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
    EXPECT_LT(cycles, 4 * 1024);
    Write(kModeTrack, 40);
    Write(kModeCommand, 0x00);
    EXPECT_EQ(RunToInterrupt(), 1024);
    ExpectSector(*machine_, kBuffer + 1024, 0, 0, 3);
}

// ---- writes: the images are read only ---------------------------------------------------------

TEST_F(FloppyControllerTest, WritesEndWriteProtectedAndChangeNothing) {
    const test::Bytes before = test::ReadFile(disk_);
    machine_->PokeLong(kBuffer, 0x12345678);
    for (uint8_t command : {uint8_t(0xA8), uint8_t(0xF8)}) {
        SetDma(kBuffer);
        Write(kModeSector, 1);
        Write(0x190, 1);  // towards the disk: the sector count
        Write(0x180, command);
        EXPECT_EQ(RunToInterrupt(), command == 0xA8 ? 160000 : 1600000);
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

// ---- the interrupt line -----------------------------------------------------------------------

TEST_F(FloppyControllerTest, ForceInterruptWithoutConditionStopsQuietly) {
    Write(kModeTrack, 40);
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
    Write(kModeTrack, 20);
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
    EXPECT_EQ(Read(kModeCommand), kWriteProtect);
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

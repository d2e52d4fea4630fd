// WD1772 floppy disk controller and the DMA chip in front of it, at 0xFF8600.
//
// The disk turns under the head: 300 rpm, one turn of 6,250 bytes in 1,604,249 cycles, an
// index pulse at the start of each turn from a drive that holds a disk. The head's angle is
// the time since the last index pulse, kept by an event on the frame scheduler that comes
// once a turn while the motor runs. Commands are chains of events: spin-up until the 6th index
// pulse (h clear, motor off), steps at the step rate, ID fields met in the order they pass the
// head, data fields that end when they have passed. Sector data reach RAM through the device
// bus when the sector has passed. Completion pulls MFP input 5 low; reading the status
// register or writing a command releases it.
//
// Registers (words unless said; other offsets of the page read all ones and ignore writes):
//   0xFF8604  by register select: 0 status / command, 1 track, 2 sector, 3 data, 4 sector count
//   0xFF8606  read: DMA status (0xFFFF, no error)   write: DMA mode
//   0xFF8609, 0xFF860B, 0xFF860D (bytes; also as the low byte of the word below them): DMA
//             address bits 16-23, 8-15, 0-7
// DMA mode: bit 8 direction (1: to the disk), bit 6 DMA off, bit 4 sector count register,
// bits 2-1 controller register, bit 3 the hard-disk bus (1) instead of the floppy controller
// (bit 7 routes the data request). Nothing answers on the hard-disk bus: its reads give all
// ones and leave the controller's interrupt alone, its writes go nowhere.
//
// Commands (upper four bits; the low bits are flags):
//   0 restore  1 seek  2-3 step  4-5 step in  6-7 step out     type I
//   8-9 read sector  A-B write sector                          type II
//   C read address  E read track  F write track                type III
//   D force interrupt (0xD0: stop without interrupt; any condition bit: interrupt now)
//
// Timing (CPU cycles at 8,021,247 Hz): step 6/12/2/3 ms by rate bits (48,000/96,000/16,000/
// 24,000), head settle 120,000 (restore, seek, the e flag of type II and III); spin-up to the
// 6th index pulse; the motor stops at the 10th index pulse without a command. Read Sector
// compares the track and sector registers with each ID that passes (not the side byte); an ID
// with a bad CRC sets the CRC bit and the search goes on, one whose data mark comes more than
// 43 bytes after it is passed over; Record Not Found at the 5th index pulse (the 6th for Read
// Address, and for the verify of type I, which looks for the track register's number). A data
// field ends after its bytes (32 µs each) or its recorded read time. CRC errors in data, the
// deleted mark and lost data (DMA off or turned towards the disk) show in the status; the data
// of a CRC-error sector reach RAM and end even a multi-sector read. Fuzzy bytes take their
// unstable bits from a generator kept in the save state. `FastDisk` makes every wait 1,024
// cycles (a turn's search included) and needs no index pulses to spin up.
//
// The drive is heard (DriveSound.h): the motor start when a spin-up begins, a step when a type
// I command moves the head by 1-5 tracks, a seek for 6 or more (a motor start in the same
// command wins), the motor stop when the motor stops.
//
// Drives: YM2149 port A bit 1 low selects drive A, bit 2 low drive B (bit 1 wins when both are
// low); bit 0 low selects side 1. Drive A is always there, drive B unless `DriveBConnected`
// says the machine has one drive. Each drive's head has its own cylinder, apart from the track
// register; its track-0 sensor works with or without a disk, and a drive that is not there
// never reports track 0. Without a disk there are no index pulses and no ID fields, so a
// spin-up, a verify and every read wait until Force Interrupt (a write meets the write-protect
// line first), and the motor, which stops on index pulses, keeps running.
//
// The write-protect bit of type I and idle status follows the drive selected when it is read:
// the disk's own protection (DiskImage::WriteProtected), 1 for no disk (TOS notices disk swaps
// through that bit), 0 with no drive selected; the track-0 and index bits likewise.
//
// Writes (data sheet): Write Sector tests write protect once spun up and settled, before the
// ID search (a protected disk or an empty drive ends it at once with WP). The search is Read
// Sector's; 2 bytes after the ID's CRC the chip asks for its first byte, and ends with Lost
// Data 9 bytes later when the DMA gives none (DMA off or turned towards RAM). Otherwise it
// writes 12 bytes of 00, A1 A1 A1, the data mark (F8 deleted with a0 = 1, else FB), the data
// and the CRC; a byte the DMA cannot fetch (past the end of RAM) is written as 0 with Lost
// Data. With m = 1 the next sector follows until none is found: Record Not Found. Write Track
// starts at the next index pulse and writes until the following one, the DMA's bytes coded
// as DiskImage::WriteTrack reads them. What is written goes to the disk's overlay, never to
// the image file.
//
// The disk images are not part of a save state, but what was written to them is: section
// "FDO " follows "FDC " with each drive's overlay in its file form. A state keeps the registers, the heads,
// the disk's angle (through the scheduler's index event), the fuzzy generator and the command in progress;
// the sector being read is found again in the image inserted when it falls due, so a state loaded with
// another disk goes on with that disk, or ends with Record Not Found.
#pragma once

#include <cstdint>

#include "core/Cycles.h"
#include "floppy/DiskImage.h"
#include "sound/DriveSound.h"

namespace vexil {

class DeviceBus;
class EventList;
class StateWriter;
class StateReader;
struct IoChip;

namespace fdc {
constexpr Cycles kStepTime[4] = {48000, 96000, 16000, 24000};
constexpr Cycles kSettle = 120000;
constexpr Cycles kTurn = 1604249;           // 200 ms at 8,021,247 Hz
constexpr Cycles kIndexPulseWidth = 16000;  // about 2 ms of index hole
constexpr int kSpinUpPulses = 6;
constexpr int kIdlePulses = 10;    // the motor stops at the 10th index pulse without a command
constexpr int kSectorPulses = 5;   // Record Not Found for sector commands and verify
constexpr int kAddressPulses = 6;  // Record Not Found for Read Address
constexpr Cycles kFast = 1024;
constexpr int32_t kLastCylinder = 85;  // the head's inner end stop
constexpr uint8_t kMotorOn = 0x80, kWriteProtect = 0x40, kSpinUpDone = 0x20, kRecordType = 0x20;
constexpr uint8_t kRecordNotFoundBit = 0x10, kCrcError = 0x08, kTrack0 = 0x04, kLostData = 0x04;
constexpr uint8_t kIndex = 0x02, kBusy = 0x01;
constexpr uint32_t kNoDrive = 2;
// YM2149 port A lines the controller reads: side select, drive A and drive B select (active low).
constexpr uint8_t kPortASide0 = 0x01, kPortADriveA = 0x02, kPortADriveB = 0x04;
// Cycles for `bytes` bytes of a turn.
constexpr Cycles BytesToCycles(uint64_t bytes) {
    return static_cast<Cycles>(bytes * kTurn / kTrackBytes);
}
}  // namespace fdc

enum FdcPhase : uint32_t {
    kFdcIdle = 0,
    kFdcCompletionDue = 1,   // the command ends with finalStatus
    kFdcSpinUp = 2,          // counting index pulses before the command starts
    kFdcSectorDue = 3,       // a sector's data field has passed: transfer it
    kFdcVerifyDue = 4,       // the head has settled: look for an ID of its track
    kFdcSearchDue = 5,       // spun up and settled: look for the sector
    kFdcAddressDue = 6,      // an ID has passed: hand over its bytes
    kFdcTrackDue = 7,        // a turn from index to index has passed: hand it over
    kFdcWaiting = 8,         // waits for what never comes (no disk): until Force Interrupt
    kFdcWriteSearchDue = 9,  // spun up and settled: look for the sector to write
    kFdcWriteDue = 10,       // the written data field has passed: store it
    kFdcFormatDue = 11,      // the turn of a Write Track has passed: store it
};

struct FdcState {
    uint32_t status = 0;
    uint32_t finalStatus = 0;  // the status when the pending command completes
    int32_t track = 0;         // track register
    uint32_t sector = 0, data = 0;
    uint32_t sectorCount = 0;  // DMA sector count register, 16 bits
    uint32_t dmaAddress = 0;   // 24 bits
    uint32_t directionWrite = 0, dmaOff = 0;
    uint32_t registerSelect = 0;  // 0 command/status, 1 track, 2 sector, 3 data, 4 sector count
    uint32_t hardDiskSelect = 0;
    Cycles eventTime = 0;  // frame cycle of the phase's event
    uint32_t phase = kFdcIdle;
    uint32_t motor = 0;
    uint32_t stepDirection = 1;  // 1 in (towards higher tracks), 0 out
    int32_t sectorsRemaining = 0;
    uint32_t command = 0;            // the command in progress
    uint32_t drive = fdc::kNoDrive;  // 0 A, 1 B, kNoDrive: latched from port A at the command
    uint32_t side = 0;
    uint32_t interruptReleased = 1;  // level of MFP input 5 as the controller drives it
    uint32_t typeOneStatus = 1;      // the status shows the drive's lines (type I, or idle)
    int32_t cylinder[2] = {0, 0};    // each drive's head
    uint32_t pulses = 0;             // index pulses counted by the spin-up or the idle motor
    Cycles stoppedAngle = 0;         // where the disk stood still when the motor stopped
    uint32_t foundId = 0;            // the ID being read, in its track's list
    uint32_t random = 0x2545F491;    // the fuzzy bits' generator (xorshift32), never 0
    template <class Archive>
    void Fields(Archive& a) {
        a(status)(finalStatus)(sector)(data)(sectorCount)(dmaAddress)(directionWrite)(dmaOff)(registerSelect);
        a(hardDiskSelect)(phase)(motor)(stepDirection)(command)(drive)(side)(interruptReleased);
        a(typeOneStatus)(pulses)(foundId)(random);
        a(track)(eventTime)(sectorsRemaining)(cylinder)(stoppedAngle);
    }
};

class FloppyController {
public:
    // The controller's wires: port A of the sound chip (drive and side select) and MFP input 5.
    // The drive's noises go to `noise` (none: silent drive).
    struct Lines {
        uint8_t (*portA)(void* context) = nullptr;
        void (*interrupt)(void* context, bool high) = nullptr;
        void (*noise)(void* context, DriveNoise noise) = nullptr;
        void* context = nullptr;
    };

    // Registers its events with the scheduler. `drives` are drive A and B.
    FloppyController(EventList& events, const DeviceBus& bus, DiskImage* driveA, DiskImage* driveB,
                     Lines lines);
    FloppyController(const FloppyController&) = delete;
    FloppyController& operator=(const FloppyController&) = delete;

    // Machine reset: no command, no transfer, motor off, input 5 released.
    void Reset();

    uint16_t ReadWord(unsigned offset, Cycles now);
    uint8_t ReadByte(unsigned offset) const;
    // The byte at an offset of the page as a byte or word read gives it, the status read
    // leaving the interrupt line as it is (for the debugger).
    uint8_t PeekByte(unsigned offset) const;
    void WriteWord(unsigned offset, uint16_t value, Cycles now);
    void WriteByte(unsigned offset, uint8_t value);

    // The due actions: the command's event and the index pulse.
    void Due(Cycles due);
    void IndexDue(Cycles due);

    const FdcState& State() const { return s_; }
    // The disk's angle: cycles since the last index pulse (below one turn).
    Cycles SinceIndex(Cycles now) const;
    // The activity line for the status overlay (message slot 0); empty when there is none.
    const char* ActivityText() const { return activity_; }

    bool FastDisk = false;
    // A machine with one drive: drive B answers nothing (no track 0, no index pulses).
    bool DriveBConnected = true;

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

private:
    void Command(uint8_t value, Cycles now);
    void Execute(Cycles now);
    void TypeOne(Cycles now);
    int32_t Steps(unsigned kind, uint8_t value);
    void StartMotor(Cycles now);
    void StopMotor(Cycles now);
    void Noise(DriveNoise noise);
    void LatchDrive();
    DiskImage* Drive() const;
    bool Connected() const;
    bool Connected(uint32_t drive) const;
    uint32_t SelectedDrive() const;
    bool Track0(uint32_t drive) const;
    bool WriteProtected(uint32_t drive) const;
    uint32_t Status(Cycles now) const;
    Cycles LastIndex(Cycles now) const;
    Cycles NextPass(Cycles now, uint32_t position) const;
    void Search(Cycles now, FdcPhase found, int pulses);
    const SectorId* FoundAgain(DiskImage* disk, Cycles now);
    void SectorPassed(Cycles now);
    void AddressPassed(Cycles now);
    void TrackPassed(Cycles now);
    void SectorWritten(Cycles now);
    bool LoadOverlays(StateReader& in, bool commit);
    void TrackWritten(Cycles now);
    bool DmaWrites() const { return !s_.dmaOff && s_.directionWrite; }
    uint32_t DmaFromRam(uint8_t* bytes, uint32_t length);
    void Complete(Cycles at, uint32_t status);
    void Schedule(Cycles at, FdcPhase phase);
    void Wait();
    uint8_t Fuzzy(uint8_t data, uint8_t mask);
    void Dma(const uint8_t* bytes, uint32_t length);
    void SetInterrupt(bool released);

    FdcState s_;
    EventList& events_;
    const DeviceBus& bus_;
    DiskImage* drives_[2];
    Lines lines_;
    int event_ = -1;
    int indexEvent_ = -1;
    const char* activity_ = "";
    uint8_t buffer_[kTrackBytes] = {};  // bytes on their way to RAM (a sector, a built track)
};

IoChip FloppyControllerIoChip(FloppyController& fdc);

}  // namespace vexil

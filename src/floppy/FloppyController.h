// WD1772 floppy disk controller and the DMA chip in front of it, at 0xFF8600.
//
// The controller does not turn a disk: each command is worked out against the selected
// drive's image when it is written, and what the program sees of time is a chain of events on
// the frame scheduler (head movement, spin-up, sectors passing under the head, completion,
// the motor running down). Sector data reaches RAM through the device bus when the sector has
// passed under the head. Completion pulls MFP input 5 low; reading the status register or
// writing a command releases it.
//
// Registers (words unless said; other offsets of the page read all ones and ignore writes):
//   0xFF8604  by register select: 0 status / command, 1 track, 2 sector, 3 data, 4 sector count
//   0xFF8606  read: DMA status (0xFFFF, no error)   write: DMA mode
//   0xFF8609, 0xFF860B, 0xFF860D (bytes; also as the low byte of the word below them): DMA
//             address bits 16-23, 8-15, 0-7
// DMA mode: bit 8 direction (1: to the disk), bit 6 DMA off, bit 4 sector count register,
// bits 2-1 controller register; bit 7 set with bit 3 clear selects the floppy controller,
// anything else the hard-disk bus, where nothing answers.
//
// Commands (upper four bits; the low bits are flags):
//   0 restore  1 seek  2-3 step  4-5 step in  6-7 step out     type I
//   8-9 read sector  A-B write sector                          type II
//   C read address  E read track  F write track                type III
//   D force interrupt (0xD0: stop without interrupt; any condition bit: interrupt now)
//
// The drive is heard (DriveSound.h): the motor start when the motor is switched on, a step
// when a type I command moves the head by 1-5 tracks, a seek for 6 or more (a motor start in
// the same command wins), the motor stop when the motor has run down.
//
// Timing (CPU cycles at 8 MHz): step 6/12/2/3 ms by rate bits (48,000/96,000/16,000/24,000),
// spin-up 9,600,000 (h flag clear, motor off), head settle 120,000 (restore, seek, the e flag
// of type II), 160,000 per 512 bytes of sector, record not found after 6,400,000, one turn
// 1,600,000, motor run-down 14,400,000 after completion. `FastDisk` makes every command take
// 1,024 cycles.
//
// Drives: YM2149 port A bit 1 low selects drive A, bit 2 low drive B (bit 1 wins when both are
// low); bit 0 low selects side 1. A drive with no image, or none selected, gives no track-0
// signal to type I commands and record-not-found to sector commands.
//
// Images are read only. The write-protect bit reads 1 in the status of type I commands and of
// the idle controller, as for a protected disk (TOS notices disk swaps through that bit), and
// write sector and write track end after their timing with write protect (0xC0), writing
// nothing. Not modelled: read address and read track data (both complete after 1,024 cycles
// with no data), CRC errors, lost data, the DMA's FIFO and sector counting, the hard-disk bus.
//
// The disk images are not part of a save state. A state keeps the registers, the head
// position and the command in progress; a sector read in flight is read again from the image
// inserted when it falls due, so a state loaded with another disk goes on with that disk (or
// ends the read with record not found where the disk has no such sector), and TOS, which sees
// the write-protect bit, checks the disk's boot sector before it trusts its cached FAT.
#pragma once

#include <cstdint>

#include "core/Cycles.h"
#include "sound/DriveSound.h"

namespace vexil {

class DiskImage;
class DeviceBus;
class EventList;
class StateWriter;
class StateReader;
struct IoChip;

namespace fdc {
constexpr Cycles kStepTime[4] = {48000, 96000, 16000, 24000};
constexpr Cycles kSpinUp = 9600000;
constexpr Cycles kSettle = 120000;
constexpr Cycles kSectorTime = 160000;  // per 512 bytes
constexpr Cycles kRecordNotFound = 6400000;
constexpr Cycles kTrackTime = 1600000;  // one turn at 300 rpm
constexpr Cycles kFast = 1024;
constexpr Cycles kMotorRunDown = 14400000;
constexpr int kRestoreSteps = 255;  // a restore gives up after this many steps without track 0
constexpr uint8_t kMotorOn = 0x80, kWriteProtect = 0x40, kSpinUpDone = 0x20, kRecordNotFoundBit = 0x10;
constexpr uint8_t kTrack0 = 0x04, kBusy = 0x01;
constexpr uint32_t kNoDrive = 2;
// YM2149 port A lines the controller reads: side select, drive A and drive B select (active low).
constexpr uint8_t kPortASide0 = 0x01, kPortADriveA = 0x02, kPortADriveB = 0x04;
}  // namespace fdc

enum FdcPhase : uint32_t {
    kFdcIdle = 0,
    kFdcCompletionDue = 1,
    kFdcMotorRunningDown = 2,
    kFdcSectorDue = 3,  // a sector is passing under the head: transfer it when it has
};

struct FdcState {
    uint32_t status = fdc::kWriteProtect;
    uint32_t finalStatus = 0;  // the status when the pending command completes
    int32_t track = 0;         // track register, also the head position
    uint32_t sector = 0, data = 0;
    uint32_t sectorCount = 0;  // DMA sector count register, 16 bits
    uint32_t dmaAddress = 0;   // 24 bits
    uint32_t directionWrite = 0, dmaOff = 0;
    uint32_t registerSelect = 0;  // 0 command/status, 1 track, 2 sector, 3 data, 4 sector count
    uint32_t hardDiskSelect = 1;
    Cycles eventTime = 0;  // frame cycle of the phase's event
    uint32_t phase = kFdcIdle;
    uint32_t motor = 0;
    uint32_t stepDirection = 1;  // 1 in (towards higher tracks), 0 out
    int32_t sectorsRemaining = 0;
    uint32_t command = 0;            // the command in progress
    uint32_t drive = fdc::kNoDrive;  // 0 A, 1 B, kNoDrive: latched from port A at the command
    uint32_t side = 0;
    uint32_t interruptReleased = 1;  // level of MFP input 5 as the controller drives it
    template <class Archive>
    void Fields(Archive& a) {
        a(status)(finalStatus)(sector)(data)(sectorCount)(dmaAddress)(directionWrite)(dmaOff)(registerSelect);
        a(hardDiskSelect)(phase)(motor)(stepDirection)(command)(drive)(side)(interruptReleased);
        a(track)(eventTime)(sectorsRemaining);
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

    // Registers its event with the scheduler. `drives` are drive A and B.
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

    // The due action: the event of the current phase.
    void Due(Cycles due);

    const FdcState& State() const { return s_; }
    // The activity line for the status overlay (message slot 0); empty when there is none.
    const char* ActivityText() const { return activity_; }

    bool FastDisk = false;

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

private:
    void Command(uint8_t value, Cycles now);
    void TypeOne(uint8_t value, Cycles now);
    void ReadSector(uint8_t value, Cycles now);
    void WriteCommand(uint8_t value, Cycles now);
    void ForceInterrupt(uint8_t value, Cycles now);
    void SpinUp(uint8_t value, bool typeOne);
    void Noise(DriveNoise noise);
    void LatchDrive();
    DiskImage* Drive() const;
    bool FindSector();
    Cycles SectorTime() const;
    void Finish(Cycles now, FdcPhase phase = kFdcCompletionDue);
    void SectorPassed(Cycles now);
    void Transfer();
    void SetInterrupt(bool released);
    void Arm();

    FdcState s_;
    EventList& events_;
    const DeviceBus& bus_;
    DiskImage* drives_[2];
    Lines lines_;
    int event_ = -1;
    const char* activity_ = "";
};

IoChip FloppyControllerIoChip(FloppyController& fdc);

}  // namespace vexil

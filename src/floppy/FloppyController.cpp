#include "floppy/FloppyController.h"

#include <algorithm>
#include <cstdlib>

#include "core/EventList.h"
#include "core/SaveState.h"
#include "cpu/Cpu.h"
#include "floppy/DiskImage.h"
#include "io/IoDispatch.h"
#include "memory/DeviceBus.h"

namespace vexil {

using namespace fdc;

namespace {
// Bus time of a DMA transfer: the chip takes the bus for bursts of 16 bytes, 8 word accesses
// of one 4-cycle slot each.
constexpr Cycles kBurstCycles = 32;
}  // namespace

FloppyController::FloppyController(EventList& events, const DeviceBus& bus, DiskImage* driveA,
                                   DiskImage* driveB, Lines lines)
    : events_(events), bus_(bus), drives_{driveA, driveB}, lines_(lines) {
    event_ = events_.RegisterEvent(
        kEventFdc, [](void* c, Cycles due) { static_cast<FloppyController*>(c)->Due(due); }, this);
    SetInterrupt(true);
}

void FloppyController::Reset() {
    if (event_ >= 0) events_.Cancel(event_);
    s_.phase = kFdcIdle;
    s_.motor = 0;
    s_.status = kWriteProtect;
    s_.sectorsRemaining = 0;
    s_.command = 0;
    SetInterrupt(true);
}

void FloppyController::SetInterrupt(bool released) {
    s_.interruptReleased = released ? 1 : 0;
    if (lines_.interrupt) lines_.interrupt(lines_.context, released);
}

// The scheduler's budget was handed out before this command; the CPU stops after the current
// instruction so that the new event is seen in time.
void FloppyController::Arm() {
    if (event_ >= 0) events_.Schedule(event_, s_.eventTime);
    if (CpuRunning()) CpuEndSlice();
}

// ---- registers ------------------------------------------------------------------------------

uint16_t FloppyController::ReadWord(unsigned offset, Cycles) {
    switch (offset & 0xFE) {
        case 0x04:
            switch (s_.registerSelect) {
                case 0:
                    SetInterrupt(true);  // reading the status clears INTRQ
                    return static_cast<uint16_t>(s_.status);
                case 1:
                    return static_cast<uint16_t>(s_.track);
                case 2:
                    return static_cast<uint16_t>(s_.sector);
                case 3:
                    return static_cast<uint16_t>(s_.data);
                default:
                    return static_cast<uint16_t>(s_.sectorCount);
            }
        case 0x06:
            return 0xFFFF;  // DMA status: no error
        default:
            return static_cast<uint16_t>(0xFF00 | ReadByte(offset | 1));
    }
}

uint8_t FloppyController::ReadByte(unsigned offset) const {
    switch (offset & 0xFF) {
        case 0x09:
            return static_cast<uint8_t>(s_.dmaAddress >> 16);
        case 0x0B:
            return static_cast<uint8_t>(s_.dmaAddress >> 8);
        case 0x0D:
            return static_cast<uint8_t>(s_.dmaAddress);
        default:
            return 0xFF;
    }
}

uint8_t FloppyController::PeekByte(unsigned offset) const {
    offset &= 0xFF;
    if ((offset & 0xFE) != 0x04) return (offset & 0xFE) == 0x06 ? 0xFF : ReadByte(offset);
    const uint32_t values[5] = {s_.status, static_cast<uint32_t>(s_.track), s_.sector, s_.data,
                                s_.sectorCount};
    const uint32_t value = values[std::min<uint32_t>(s_.registerSelect, 4)] & 0xFFFF;
    return static_cast<uint8_t>((offset & 1) ? value : value >> 8);
}

void FloppyController::WriteByte(unsigned offset, uint8_t value) {
    const unsigned shift = (offset & 0xFF) == 0x09   ? 16
                           : (offset & 0xFF) == 0x0B ? 8
                           : (offset & 0xFF) == 0x0D ? 0
                                                     : 99;
    if (shift == 99) return;
    s_.dmaAddress = (s_.dmaAddress & ~(0xFFu << shift)) | (uint32_t{value} << shift);
}

void FloppyController::WriteWord(unsigned offset, uint16_t value, Cycles now) {
    switch (offset & 0xFE) {
        case 0x04:
            // Nothing answers on the hard-disk bus: the write goes nowhere.
            if (s_.hardDiskSelect) return;
            switch (s_.registerSelect) {
                case 0:
                    Command(static_cast<uint8_t>(value), now);
                    break;
                case 1:
                    s_.track =
                        static_cast<int32_t>((static_cast<uint32_t>(s_.track) & ~0xFFu) | (value & 0xFF));
                    break;
                case 2:
                    s_.sector = (s_.sector & ~0xFFu) | (value & 0xFF);
                    break;
                case 3:
                    s_.data = value;
                    break;
                default:
                    s_.sectorCount = value;
                    break;
            }
            break;
        case 0x06:
            s_.directionWrite = (value >> 8) & 1;
            s_.dmaOff = (value >> 6) & 1;
            s_.hardDiskSelect = ((value & 0x80) && !(value & 0x08)) ? 0 : 1;
            s_.registerSelect = (value & 0x10) ? 4 : (value >> 1) & 3;
            break;
        default:
            WriteByte(offset | 1, static_cast<uint8_t>(value));
            break;
    }
}

// ---- commands -------------------------------------------------------------------------------

void FloppyController::Command(uint8_t value, Cycles now) {
    SetInterrupt(true);  // loading the command register clears INTRQ
    const unsigned kind = value >> 4;
    if (kind == 0xD) return ForceInterrupt(value, now);
    if ((s_.status & kBusy) && kind != 0x1) return;  // busy: only seek gets through
    s_.command = value;
    LatchDrive();
    if (kind <= 0x7) return TypeOne(value, now);
    if (kind <= 0x9) return ReadSector(value, now);
    if (kind <= 0xB || kind == 0xF) return WriteCommand(value, now);
    // Read address and read track: no data, done after a fixed short time.
    if (kind == 0xE) activity_ = "FDC READ TRACK !";
    s_.status = s_.finalStatus = 0xA0;
    s_.eventTime = now + kFast;
    Finish(now);
}

void FloppyController::LatchDrive() {
    const uint8_t port = lines_.portA ? lines_.portA(lines_.context) : 0xFF;
    s_.drive = !(port & kPortADriveA) ? 0 : !(port & kPortADriveB) ? 1 : kNoDrive;
    s_.side = (port & kPortASide0) ? 0 : 1;
}

DiskImage* FloppyController::Drive() const {
    if (s_.drive >= kNoDrive) return nullptr;
    DiskImage* drive = drives_[s_.drive];
    return drive != nullptr && drive->Inserted() ? drive : nullptr;
}

// The motor starts unless the h flag says it is known to run; a running motor shows as
// spin-up complete in type I status.
void FloppyController::SpinUp(uint8_t value, bool typeOne) {
    if (value & 0x08) return;
    if (s_.motor == 0) {
        s_.eventTime += kSpinUp;
        s_.motor = 1;
        Noise(DriveNoise::kMotorStart);
    } else if (typeOne) {
        s_.status |= kSpinUpDone;
    }
}

void FloppyController::Noise(DriveNoise noise) {
    if (lines_.noise) lines_.noise(lines_.context, noise);
}

void FloppyController::Finish(Cycles now, FdcPhase phase) {
    s_.phase = phase;
    if (FastDisk) s_.eventTime = now + kFast;
    Arm();
}

void FloppyController::TypeOne(uint8_t value, Cycles now) {
    const bool present = Drive() != nullptr;
    const Cycles step = kStepTime[value & 3];
    s_.status = kMotorOn | kWriteProtect | kBusy | (present && s_.track == 0 ? kTrack0 : 0);
    s_.eventTime = now;
    const unsigned kind = value >> 4;
    // The head's movement is heard before the motor: a motor start replaces it.
    const int32_t distance = kind == 0x0   ? s_.track
                             : kind == 0x1 ? s_.track - static_cast<int32_t>(s_.data & 0xFF)
                                           : 1;
    if (distance != 0) Noise(std::abs(distance) <= 5 ? DriveNoise::kStep : DriveNoise::kSeek);
    SpinUp(value, true);
    if (kind == 0x0) {
        // Restore steps out until the drive reports track 0; without one it gives up.
        if (present) {
            s_.eventTime += step * (s_.track > 0 ? s_.track : 0) + kSettle;
            s_.finalStatus = kMotorOn | kWriteProtect | kSpinUpDone | kTrack0;
        } else {
            s_.eventTime += step * kRestoreSteps + kSettle;
            s_.finalStatus = kMotorOn | kWriteProtect | kSpinUpDone | kRecordNotFoundBit;
        }
        s_.track = 0;
        return Finish(now);
    }
    if (kind == 0x1) {
        if (s_.track > static_cast<int32_t>(s_.data & 0xFF)) s_.stepDirection = 0;
        if (s_.track < static_cast<int32_t>(s_.data & 0xFF)) s_.stepDirection = 1;
        s_.eventTime += step * std::abs(s_.track - static_cast<int32_t>(s_.data & 0xFF)) + kSettle;
        s_.track = static_cast<int32_t>(s_.data & 0xFF);
    } else {
        if (kind >= 0x4) s_.stepDirection = kind <= 0x5 ? 1 : 0;
        s_.eventTime += step;
        s_.track += s_.stepDirection ? 1 : -1;  // stepping out of track 0 is never found
    }
    s_.finalStatus = kMotorOn | kWriteProtect | kSpinUpDone | (present && s_.track == 0 ? kTrack0 : 0);
    Finish(now);
}

bool FloppyController::FindSector() {
    DiskImage* drive = Drive();
    return drive != nullptr &&
           drive->ReadSector(s_.track, static_cast<int>(s_.side), static_cast<int>(s_.sector));
}

Cycles FloppyController::SectorTime() const {
    const uint32_t size = drives_[s_.drive]->SectorSize();
    return static_cast<Cycles>(size * static_cast<uint32_t>(kSectorTime) / 512);
}

void FloppyController::ReadSector(uint8_t value, Cycles now) {
    s_.status = kMotorOn | kBusy;
    s_.eventTime = now;
    SpinUp(value, false);
    if (value & 0x04) s_.eventTime += kSettle;
    s_.sectorsRemaining = (value & 0x10) ? static_cast<int32_t>(s_.sectorCount) : 1;
    if (!FindSector()) {
        s_.eventTime += kRecordNotFound;
        s_.finalStatus = kMotorOn | kRecordNotFoundBit;
        return Finish(now);
    }
    s_.eventTime += SectorTime();
    Finish(now, kFdcSectorDue);
}

// Write sector and write track: the disk is protected, so each ends, once the sector or the
// track would have been written, with write protect and nothing written.
void FloppyController::WriteCommand(uint8_t value, Cycles now) {
    const bool track = (value >> 4) == 0xF;
    activity_ = track ? "FDC WRITE TRACK" : "FDC WRITE SECTOR";
    s_.status = kMotorOn | kBusy;
    s_.eventTime = now;
    SpinUp(value, false);
    if (value & 0x04) s_.eventTime += kSettle;
    if (track ? Drive() == nullptr : !FindSector()) {
        s_.eventTime += kRecordNotFound;
        s_.finalStatus = kMotorOn | kRecordNotFoundBit;
        return Finish(now);
    }
    s_.eventTime += track ? kTrackTime : SectorTime();
    s_.finalStatus = kMotorOn | kWriteProtect;
    Finish(now);
}

// 0xD0 ends any command without an interrupt; with a condition bit the interrupt follows at
// once (the index pulse condition is taken as immediate too).
void FloppyController::ForceInterrupt(uint8_t value, Cycles now) {
    s_.sectorsRemaining = 0;
    const bool track0 = Drive() != nullptr && s_.track == 0;
    const uint32_t status = kMotorOn | kWriteProtect | kSpinUpDone | (track0 ? kTrack0 : 0);
    if ((value & 0x0C) == 0) {
        s_.status = status;
        s_.phase = kFdcMotorRunningDown;
        s_.eventTime = now + kMotorRunDown;
        Arm();
        return;
    }
    s_.finalStatus = status;
    s_.eventTime = now;
    s_.phase = kFdcCompletionDue;
    Arm();
}

// ---- events ---------------------------------------------------------------------------------

void FloppyController::Due(Cycles due) {
    switch (s_.phase) {
        case kFdcCompletionDue:
            s_.status = s_.finalStatus;
            SetInterrupt(false);
            s_.phase = kFdcMotorRunningDown;
            s_.eventTime = due + kMotorRunDown;
            Arm();
            break;
        case kFdcSectorDue:
            SectorPassed(due);
            break;
        case kFdcMotorRunningDown:
            s_.phase = kFdcIdle;
            s_.motor = 0;
            s_.status = kWriteProtect;
            Noise(DriveNoise::kMotorStop);
            break;
        default:
            break;
    }
}

// A sector has passed under the head: its data goes to RAM, then the next one is looked for
// or the command completes. The sector is read again here, so that a state saved while it was
// on its way takes it from the image inserted now.
void FloppyController::SectorPassed(Cycles now) {
    if (!FindSector()) {
        s_.finalStatus = kMotorOn | kRecordNotFoundBit;
        s_.eventTime = now;
        s_.phase = kFdcCompletionDue;
        return Due(now);
    }
    Transfer();
    --s_.sectorsRemaining;
    const bool multiple = (s_.command & 0x10) != 0;
    if (multiple) s_.sector = (s_.sector + 1) & 0xFF;
    s_.eventTime = now;
    if (multiple && s_.sectorsRemaining > 0) {
        if (FindSector()) {
            s_.eventTime += SectorTime();
            return Finish(now, kFdcSectorDue);
        }
        s_.eventTime += kRecordNotFound;
        s_.finalStatus = kMotorOn | kRecordNotFoundBit;
        return Finish(now);
    }
    s_.finalStatus = kMotorOn;
    s_.phase = kFdcCompletionDue;
    Due(now);
}

// DMA from the sector buffer into RAM. Nothing moves with DMA off or set to write to the disk;
// the transfer stops at the end of the RAM area, and the bus keeps what it refuses (the
// vectors at 0-7) unchanged. The address counter moves on by what was transferred.
void FloppyController::Transfer() {
    if (s_.dmaOff || s_.directionWrite || s_.dmaAddress >= kRamBytes) return;
    const DiskImage& drive = *drives_[s_.drive];
    const uint32_t length = std::min<uint32_t>(drive.SectorSize(), kRamBytes - (s_.dmaAddress & ~1u));
    const uint32_t base = s_.dmaAddress & ~1u;
    for (uint32_t i = 0; i < length; i += 2) bus_.WriteWord(base + i, drive.SectorBuffer()[i / 2]);
    s_.dmaAddress = (base + length) & 0xFFFFFF;
    bus_.Charge(static_cast<Cycles>((length + 15) / 16) * kBurstCycles);
}

// ---- save state -----------------------------------------------------------------------------

void FloppyController::Save(StateWriter& out) const {
    out.BeginSection("FDC ");
    out(s_);
}

bool FloppyController::Load(StateReader& in, bool commit) {
    FdcState s;
    if (!in.BeginSection("FDC ") || !in(s).EndSection()) return false;
    if (s.status > 0xFF || s.finalStatus > 0xFF || s.sector > 0xFF || s.data > 0xFFFF ||
        s.sectorCount > 0xFFFF || s.dmaAddress > 0xFFFFFF || s.directionWrite > 1 || s.dmaOff > 1 ||
        s.registerSelect > 4 || s.hardDiskSelect > 1 || s.phase > kFdcSectorDue || s.motor > 1 ||
        s.stepDirection > 1 || s.command > 0xFF || s.drive > kNoDrive || s.side > 1 ||
        s.interruptReleased > 1 || !PlausibleCycles(s.track) || !PlausibleCycles(s.eventTime) ||
        s.sectorsRemaining < 0 || s.sectorsRemaining > 0xFFFF)
        return false;
    if (commit) s_ = s;
    return true;
}

// ---- the I/O page ---------------------------------------------------------------------------

IoChip FloppyControllerIoChip(FloppyController& fdc) {
    IoChip io = MakeIoChip("DMA and floppy controller", 0xFF8600, fdc);
    for (IoOffsets* bytes : {&io.readBytes, &io.writeBytes}) bytes->Add(0x09, 0x0D, 2);
    for (IoOffsets* words : {&io.readWords, &io.writeWords}) words->Add(0x04, 0x0C, 2);
    return io;
}

}  // namespace vexil

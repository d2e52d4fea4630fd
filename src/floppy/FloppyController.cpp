#include "floppy/FloppyController.h"

#include <algorithm>
#include <cstring>

#include "core/EventList.h"
#include "core/SaveState.h"
#include "cpu/Cpu.h"
#include "io/IoDispatch.h"
#include "memory/DeviceBus.h"
#include "memory/Memory.h"

namespace vexil {

using namespace fdc;

namespace {
// Bus time of a DMA transfer: the chip takes the bus for bursts of 16 bytes, 8 word accesses
// of one 4-cycle slot each.
constexpr Cycles kBurstCycles = 32;
// An ID field from its address mark: FE, track, side, sector, size, CRC (2).
constexpr uint32_t kIdBytes = 7;

Cycles Microseconds(uint32_t us) {
    return static_cast<Cycles>(uint64_t{us} * 8021247 / 1000000);
}
}  // namespace

FloppyController::FloppyController(EventList& events, const DeviceBus& bus, DiskImage* driveA,
                                   DiskImage* driveB, Lines lines)
    : events_(events), bus_(bus), drives_{driveA, driveB}, lines_(lines) {
    event_ = events_.RegisterEvent(
        kEventFdc, [](void* c, Cycles due) { static_cast<FloppyController*>(c)->Due(due); }, this);
    indexEvent_ = events_.RegisterEvent(
        kEventFdc, [](void* c, Cycles due) { static_cast<FloppyController*>(c)->IndexDue(due); }, this);
    SetInterrupt(true);
}

void FloppyController::Reset() {
    if (s_.motor) StopMotor(g_cpu.clock);
    if (event_ >= 0) events_.Cancel(event_);
    s_.phase = kFdcIdle;
    s_.status = 0;
    s_.typeOneStatus = 1;
    s_.sectorsRemaining = 0;
    s_.command = 0;
    SetInterrupt(true);
}

void FloppyController::SetInterrupt(bool released) {
    s_.interruptReleased = released ? 1 : 0;
    if (lines_.interrupt) lines_.interrupt(lines_.context, released);
}

// ---- the turning disk -----------------------------------------------------------------------

// While the motor runs, the index event is due at the next index pulse.
Cycles FloppyController::LastIndex(Cycles now) const {
    if (indexEvent_ < 0 || !events_.Scheduled(indexEvent_)) return now - s_.stoppedAngle;
    return events_.Due(indexEvent_) - kTurn;
}

Cycles FloppyController::SinceIndex(Cycles now) const {
    const Cycles angle = (now - LastIndex(now)) % kTurn;
    return angle < 0 ? angle + kTurn : angle;
}

// The first time from `now` on at which byte `position` of the turn is under the head.
Cycles FloppyController::NextPass(Cycles now, uint32_t position) const {
    Cycles t = LastIndex(now) + BytesToCycles(position % kTrackBytes);
    while (t < now) t += kTurn;
    return t;
}

void FloppyController::StartMotor(Cycles now) {
    s_.pulses = 0;
    if (s_.motor) return;
    s_.motor = 1;
    if (indexEvent_ >= 0) events_.Schedule(indexEvent_, now + kTurn - s_.stoppedAngle);
    if (CpuRunning()) CpuEndSlice();
}

void FloppyController::StopMotor(Cycles now) {
    s_.stoppedAngle = (now - LastIndex(now)) % kTurn;
    if (s_.stoppedAngle < 0) s_.stoppedAngle += kTurn;
    s_.motor = 0;
    if (indexEvent_ >= 0) events_.Cancel(indexEvent_);
    s_.status &= ~static_cast<uint32_t>(kMotorOn | kSpinUpDone);
}

// An index pulse comes only from a selected drive that holds a disk. It ends a spin-up at the
// 6th, and stops an idle motor at the 10th.
void FloppyController::IndexDue(Cycles due) {
    if (indexEvent_ >= 0) events_.Schedule(indexEvent_, due + kTurn);
    const uint32_t drive = SelectedDrive();
    if (!Connected(drive) || drives_[drive & 1] == nullptr || !drives_[drive & 1]->Inserted()) return;
    ++s_.pulses;
    if (s_.phase == kFdcSpinUp && s_.pulses >= kSpinUpPulses) {
        if (s_.typeOneStatus) s_.status |= kSpinUpDone;
        return Execute(due);
    }
    if (!(s_.status & kBusy) && s_.pulses >= kIdlePulses) {
        StopMotor(due);
        Noise(DriveNoise::kMotorStop);
    }
}

// ---- registers ------------------------------------------------------------------------------

uint16_t FloppyController::ReadWord(unsigned offset, Cycles now) {
    switch (offset & 0xFE) {
        case 0x04:
            // Nothing answers on the hard-disk bus: the lines float high.
            if (s_.hardDiskSelect) return 0xFFFF;
            switch (s_.registerSelect) {
                case 0:
                    SetInterrupt(true);  // reading the status clears INTRQ
                    return static_cast<uint16_t>(Status(now));
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
    if (s_.hardDiskSelect) return 0xFF;
    const uint32_t values[5] = {Status(g_cpu.clock), static_cast<uint32_t>(s_.track), s_.sector, s_.data,
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
                    s_.track = static_cast<int32_t>(value & 0xFF);
                    break;
                case 2:
                    s_.sector = value & 0xFF;
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
            s_.hardDiskSelect = (value >> 3) & 1;
            s_.registerSelect = (value & 0x10) ? 4 : (value >> 1) & 3;
            break;
        default:
            WriteByte(offset | 1, static_cast<uint8_t>(value));
            break;
    }
}

// ---- drives ---------------------------------------------------------------------------------

void FloppyController::LatchDrive() {
    const uint8_t port = lines_.portA ? lines_.portA(lines_.context) : 0xFF;
    s_.drive = SelectedDrive();
    s_.side = (port & kPortASide0) ? 0 : 1;
}

DiskImage* FloppyController::Drive() const {
    if (!Connected()) return nullptr;
    DiskImage* drive = drives_[s_.drive & 1];
    return drive != nullptr && drive->Inserted() ? drive : nullptr;
}

bool FloppyController::Connected(uint32_t drive) const {
    return drive == 0 || (drive == 1 && DriveBConnected);
}

bool FloppyController::Connected() const {
    return Connected(s_.drive);
}

uint32_t FloppyController::SelectedDrive() const {
    const uint8_t port = lines_.portA ? lines_.portA(lines_.context) : 0xFF;
    return !(port & kPortADriveA) ? 0 : !(port & kPortADriveB) ? 1 : kNoDrive;
}

// The drive's track-0 sensor works with or without a disk.
bool FloppyController::Track0(uint32_t drive) const {
    return Connected(drive) && s_.cylinder[drive & 1] == 0;
}

// The sensor sees no disk as a protected one. With no drive selected the line stays inactive.
bool FloppyController::WriteProtected(uint32_t drive) const {
    if (!Connected(drive)) return false;
    const DiskImage* disk = drives_[drive & 1];
    return disk == nullptr || !disk->Inserted() || disk->WriteProtected();
}

// Type I status shows the lines of the drive selected when it is read; the others hold what
// the command left.
uint32_t FloppyController::Status(Cycles now) const {
    if (!s_.typeOneStatus) return s_.status;
    const uint32_t drive = SelectedDrive();
    uint32_t status = s_.status & ~static_cast<uint32_t>(kWriteProtect | kTrack0 | kIndex);
    if (WriteProtected(drive)) status |= kWriteProtect;
    if (Track0(drive)) status |= kTrack0;
    const DiskImage* disk = Connected(drive) ? drives_[drive & 1] : nullptr;
    if (s_.motor && disk != nullptr && disk->Inserted() && now - LastIndex(now) < kIndexPulseWidth)
        status |= kIndex;
    return status;
}

void FloppyController::Noise(DriveNoise noise) {
    if (lines_.noise) lines_.noise(lines_.context, noise);
}

// ---- commands -------------------------------------------------------------------------------

void FloppyController::Command(uint8_t value, Cycles now) {
    SetInterrupt(true);  // loading the command register clears INTRQ
    const unsigned kind = value >> 4;
    if (kind == 0xD) {
        // 0xD0 ends any command without an interrupt; with a condition bit the interrupt
        // follows at once (the index pulse condition is taken as immediate too). Stopped while
        // idle, the status becomes type I's; while busy it keeps what it had.
        if (!(s_.status & kBusy)) s_.typeOneStatus = 1;
        const uint32_t status = (s_.status & ~kBusy) | kMotorOn;
        s_.sectorsRemaining = 0;
        s_.pulses = 0;
        StartMotor(now);
        if ((value & 0x0C) == 0) {
            s_.status = status;
            s_.phase = kFdcIdle;
            if (event_ >= 0) events_.Cancel(event_);
            return;
        }
        return Complete(now, status);
    }
    if ((s_.status & kBusy) && kind != 0x1) return;  // busy: only seek gets through
    s_.command = value;
    LatchDrive();
    s_.typeOneStatus = kind <= 0x7 ? 1 : 0;
    s_.status = kMotorOn | kBusy;
    if (kind == 0xE) activity_ = "FDC READ TRACK !";
    if (kind == 0xA || kind == 0xB) activity_ = "FDC WRITE SECTOR";
    if (kind == 0xF) activity_ = "FDC WRITE TRACK";
    const bool wasRunning = s_.motor != 0;
    StartMotor(now);
    // Without h, a motor that was off spins up first: six index pulses.
    if (!(value & 0x08) && !wasRunning && !FastDisk) {
        Noise(DriveNoise::kMotorStart);
        s_.phase = kFdcSpinUp;
        if (event_ >= 0) events_.Cancel(event_);
        return;
    }
    if (s_.typeOneStatus && (wasRunning || (value & 0x08))) s_.status |= kSpinUpDone;
    Execute(now);
}

void FloppyController::Schedule(Cycles at, FdcPhase phase) {
    s_.phase = phase;
    s_.eventTime = at;
    if (event_ >= 0) events_.Schedule(event_, at);
    if (CpuRunning()) CpuEndSlice();  // the budget was handed out before this event
}

void FloppyController::Complete(Cycles at, uint32_t status) {
    s_.finalStatus = status;
    Schedule(at, kFdcCompletionDue);
}

// Nothing that the command waits for will come: busy until Force Interrupt.
void FloppyController::Wait() {
    s_.phase = kFdcWaiting;
    if (event_ >= 0) events_.Cancel(event_);
}

// The command proper, once the motor runs.
void FloppyController::Execute(Cycles now) {
    const unsigned kind = (s_.command >> 4) & 0xF;
    const Cycles settle = (s_.command & 0x04) ? kSettle : 0;
    if (kind <= 0x7) return TypeOne(now);
    const Cycles start = now + (FastDisk ? 0 : settle);
    const bool write = kind == 0xA || kind == 0xB || kind == 0xF;
    if (write && Connected() && WriteProtected(s_.drive))
        return Complete(FastDisk ? now + kFast : start, kMotorOn | kWriteProtect);
    if (Drive() == nullptr) return Wait();  // no index pulses to count, no IDs to find
    switch (kind) {
        case 0x8:
        case 0x9:
            s_.sectorsRemaining = (s_.command & 0x10) ? static_cast<int32_t>(s_.sectorCount) : 1;
            if (FastDisk || settle == 0) return Search(now, kFdcSectorDue, kSectorPulses);
            return Schedule(start, kFdcSearchDue);
        case 0xC:
            return Search(start, kFdcAddressDue, kAddressPulses);
        case 0xE: {
            // From one index pulse to the next.
            const Cycles index = NextPass(start, 0);
            return Schedule(FastDisk ? now + kFast : index + kTurn, kFdcTrackDue);
        }
        case 0xA:
        case 0xB:
            if (FastDisk || settle == 0) return Search(now, kFdcWriteDue, kSectorPulses);
            return Schedule(start, kFdcWriteSearchDue);
        default: {
            // Write Track: from the next index pulse; without the DMA's first byte it gives up
            // 3 bytes later.
            const Cycles index = NextPass(start, 0);
            if (!DmaWrites())
                return Complete(FastDisk ? now + kFast : index + BytesToCycles(3), kMotorOn | kLostData);
            return Schedule(FastDisk ? now + kFast : index + kTurn, kFdcFormatDue);
        }
    }
}

// The data sheet's type I sequence: restore is a seek to 0 from track 255. Each step first
// checks the drive's track-0 line: stepping out with the head at track 0 sets the track
// register to 0 and ends the stepping without a pulse. A drive that is not there never
// reports track 0, so a restore gives up after 255 steps.
int32_t FloppyController::Steps(unsigned kind, uint8_t value) {
    const bool connected = Connected();
    int32_t& cylinder = s_.cylinder[s_.drive & 1];
    const auto stepOut = [&] {
        if (connected && cylinder == 0) {
            s_.track = 0;
            return false;
        }
        return true;
    };
    int32_t steps = 0;
    const auto pulse = [&] {
        ++steps;
        if (connected) cylinder = std::clamp(cylinder + (s_.stepDirection ? 1 : -1), 0, kLastCylinder);
    };
    if (kind >= 0x2) {
        if (kind >= 0x4) s_.stepDirection = kind <= 0x5 ? 1 : 0;
        if (value & 0x10) s_.track = (s_.track + (s_.stepDirection ? 1 : -1)) & 0xFF;
        if (s_.stepDirection || stepOut()) pulse();
        return steps;
    }
    if (kind == 0x0) {
        s_.track = 0xFF;
        s_.data = 0;
    }
    const int32_t target = static_cast<int32_t>(s_.data & 0xFF);
    while (s_.track != target) {
        s_.stepDirection = target > s_.track ? 1 : 0;
        s_.track += s_.stepDirection ? 1 : -1;
        if (!s_.stepDirection && !stepOut()) break;
        pulse();
    }
    return steps;
}

void FloppyController::TypeOne(Cycles now) {
    const unsigned kind = (s_.command >> 4) & 0xF;
    const uint8_t value = static_cast<uint8_t>(s_.command);
    const int32_t steps = Steps(kind, value);
    // The head's movement is heard unless the motor has just started.
    if (steps != 0 && Connected() && s_.phase != kFdcSpinUp)
        Noise(steps <= 5 ? DriveNoise::kStep : DriveNoise::kSeek);
    const Cycles moved = now + kStepTime[value & 3] * steps + (kind <= 0x1 ? kSettle : 0);
    if (!(value & 0x04)) return Complete(FastDisk ? now + kFast : moved, s_.status & ~kBusy);
    // Verify: an ID of the track register's number on this cylinder. A drive that is not
    // there gives up at once; one without a disk waits for ever.
    if (!Connected())
        return Complete(FastDisk ? now + kFast : moved, (s_.status & ~kBusy) | kRecordNotFoundBit);
    Schedule(FastDisk ? now + kFast : moved, kFdcVerifyDue);
}

// Walks the IDs in the order they pass the head from `now`, up to the `pulses`th index pulse.
// A found ID leads to `found` at the end of its ID (Read Address, verify) or of its data
// field (Read Sector); none to Record Not Found at that pulse.
void FloppyController::Search(Cycles now, FdcPhase found, int pulses) {
    DiskImage* disk = Drive();
    if (disk == nullptr) return Wait();
    const TrackView view = disk->Track(s_.cylinder[s_.drive & 1], static_cast<int>(s_.side));
    const Cycles deadline = LastIndex(now) + kTurn * pulses;
    const bool write = found == kFdcWriteDue;
    const bool sector = found == kFdcSectorDue || write;
    Cycles best = deadline;
    uint32_t bestId = 0;
    bool badCrc = false;
    Cycles firstBadCrc = deadline;
    for (uint32_t n = 0; n < view.count; ++n) {
        const SectorId& id = view.ids[n];
        const bool match = found == kFdcAddressDue ||
                           (id.track == (s_.track & 0xFF) && (!sector || id.number == (s_.sector & 0xFF)));
        if (!match) continue;
        const Cycles idEnd = NextPass(now, id.position + kIdBytes);
        if (idEnd >= deadline) continue;
        if ((id.flags & kSectorIdCrcError) && found != kFdcAddressDue) {
            badCrc = true;
            firstBadCrc = std::min(firstBadCrc, idEnd);
            continue;
        }
        if (sector && !write && ((id.flags & kSectorNoData) || id.dataGap > kMaxDataGap)) continue;
        if (idEnd < best) best = idEnd, bestId = n;
    }
    const uint32_t motor = s_.status & (kMotorOn | kSpinUpDone);
    if (best == deadline) {
        const uint32_t crc = badCrc ? kCrcError : 0;
        return Complete(FastDisk ? now + kFast : deadline, motor | kRecordNotFoundBit | crc);
    }
    s_.foundId = bestId;
    if (badCrc && firstBadCrc < best) s_.status |= kCrcError;
    const SectorId& id = view.ids[bestId];
    Cycles at = best;
    if (write) {
        // DRQ 2 bytes after the CRC; Lost Data 9 bytes later without a byte. Then 12 bytes of
        // 00, A1 A1 A1 and the mark, the data, the CRC and one byte of FF.
        if (!DmaWrites()) return Complete(FastDisk ? now + kFast : at + BytesToCycles(11), motor | kLostData);
        at += BytesToCycles(11 + 16 + id.Size() + 3);
    } else if (sector) {
        at += BytesToCycles(id.dataGap + 1) +
              (id.readTime ? Microseconds(id.readTime) : BytesToCycles(id.Size())) + BytesToCycles(2);
    }
    if (found == kFdcVerifyDue) return Complete(FastDisk ? now + kFast : at, motor);
    Schedule(FastDisk ? now + kFast : at, found);
}

// ---- events ---------------------------------------------------------------------------------

void FloppyController::Due(Cycles due) {
    switch (s_.phase) {
        case kFdcCompletionDue:
            s_.status = s_.finalStatus;
            s_.phase = kFdcIdle;
            s_.pulses = 0;
            SetInterrupt(false);
            break;
        case kFdcSearchDue:
            Search(due, kFdcSectorDue, kSectorPulses);
            break;
        case kFdcVerifyDue:
            Search(due, kFdcVerifyDue, kSectorPulses);
            break;
        case kFdcSectorDue:
            SectorPassed(due);
            break;
        case kFdcAddressDue:
            AddressPassed(due);
            break;
        case kFdcTrackDue:
            TrackPassed(due);
            break;
        case kFdcWriteSearchDue:
            Search(due, kFdcWriteDue, kSectorPulses);
            break;
        case kFdcWriteDue:
            SectorWritten(due);
            break;
        case kFdcFormatDue:
            TrackWritten(due);
            break;
        default:
            break;
    }
}

uint8_t FloppyController::Fuzzy(uint8_t data, uint8_t mask) {
    uint32_t x = s_.random;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s_.random = x;
    return static_cast<uint8_t>((data & mask) | (x & ~mask));
}

// The ID the search found, looked up again on the disk in the drive now; null, with the command
// ended by Record Not Found, when that disk has no such ID.
const SectorId* FloppyController::FoundAgain(DiskImage* disk, Cycles now) {
    const uint32_t notFound = (s_.status & kMotorOn) | kRecordNotFoundBit;
    if (disk == nullptr) return Complete(now, notFound), nullptr;
    const TrackView view = disk->Track(s_.cylinder[s_.drive & 1], static_cast<int>(s_.side));
    if (s_.foundId >= view.count) return Complete(now, notFound), nullptr;
    return &view.ids[s_.foundId];
}

// A sector's data field has passed: its bytes go to RAM, then the next sector is looked for
// or the command completes. The ID is found again here, so that a state saved while it was on
// its way takes it from the image inserted now.
void FloppyController::SectorPassed(Cycles now) {
    DiskImage* disk = Drive();
    const SectorId* found = FoundAgain(disk, now);
    if (found == nullptr) return;
    const SectorId& id = *found;
    const uint32_t size = id.Size();
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t b = disk->SectorByte(id, i);
        buffer_[i] = (id.flags & kSectorFuzzy) ? Fuzzy(b, disk->FuzzyMask(id, i)) : b;
    }
    Dma(buffer_, size);
    uint32_t status = s_.status & (kMotorOn | kCrcError);
    if (s_.dmaOff || s_.directionWrite) status |= kLostData;
    if (id.flags & kSectorDeleted) status |= kRecordType;
    if (id.flags & kSectorDataCrcError) status |= kCrcError;
    --s_.sectorsRemaining;
    const bool multiple = (s_.command & 0x10) != 0;
    if (multiple) s_.sector = (s_.sector + 1) & 0xFF;
    if (multiple && s_.sectorsRemaining > 0 && !(status & kCrcError)) {
        s_.status = (s_.status & ~kCrcError) | (status & (kRecordType | kLostData));
        return Search(now, kFdcSectorDue, kSectorPulses);
    }
    Complete(now, status);
}

void FloppyController::AddressPassed(Cycles now) {
    const SectorId* found = FoundAgain(Drive(), now);
    if (found == nullptr) return;
    const SectorId& id = *found;
    const uint8_t bytes[6] = {id.track,       id.side, id.number, id.sizeCode, uint8_t(id.crc >> 8),
                              uint8_t(id.crc)};
    Dma(bytes, 6);
    s_.sector = id.track;
    Complete(now, (s_.status & kMotorOn) | ((id.flags & kSectorIdCrcError) ? kCrcError : 0));
}

void FloppyController::TrackPassed(Cycles now) {
    DiskImage* disk = Drive();
    const uint32_t motor = s_.status & kMotorOn;
    if (disk == nullptr) return Complete(now, motor);
    const TrackView view = disk->Track(s_.cylinder[s_.drive & 1], static_cast<int>(s_.side));
    if (view.image != nullptr) {
        Dma(view.image, std::min<uint32_t>(view.imageSize, sizeof buffer_));
    } else if (view.count != 0) {
        BuildTrackBytes(view, *disk, buffer_);
        Dma(buffer_, kTrackBytes);
    } else {
        // An unformatted track: noise.
        for (uint32_t i = 0; i < kTrackBytes; ++i) buffer_[i] = Fuzzy(0, 0);
        Dma(buffer_, kTrackBytes);
    }
    Complete(now, motor | ((s_.dmaOff || s_.directionWrite) ? kLostData : 0));
}

// The written sector's data field has passed: its bytes, fetched from RAM, go to the disk.
void FloppyController::SectorWritten(Cycles now) {
    DiskImage* disk = Drive();
    const SectorId* found = FoundAgain(disk, now);
    if (found == nullptr) return;
    const uint32_t size = std::min<uint32_t>(found->Size(), sizeof buffer_);
    const bool late = DmaFromRam(buffer_, size) < size;
    disk->WriteSector(s_.cylinder[s_.drive & 1], static_cast<int>(s_.side), s_.foundId, buffer_,
                      (s_.command & 0x01) != 0);
    const uint32_t motor = s_.status & kMotorOn;
    if (late) return Complete(now, motor | kLostData);
    if (s_.command & 0x10) {
        s_.sector = (s_.sector + 1) & 0xFF;
        return Search(now, kFdcWriteDue, kSectorPulses);
    }
    Complete(now, motor);
}

// A turn of Write Track has passed: the stream, fetched from RAM, formats the track.
void FloppyController::TrackWritten(Cycles now) {
    DiskImage* disk = Drive();
    const uint32_t motor = s_.status & kMotorOn;
    if (disk == nullptr) return Complete(now, motor);
    const uint32_t start = s_.dmaAddress;
    const uint32_t fetched = DmaFromRam(buffer_, kTrackBytes);
    const size_t used =
        disk->WriteTrack(s_.cylinder[s_.drive & 1], static_cast<int>(s_.side), buffer_, kTrackBytes);
    // The DMA's FIFO has fetched up to 16 bytes beyond what the controller took.
    s_.dmaAddress =
        (start + std::min<uint32_t>(kTrackBytes, (static_cast<uint32_t>(used) + 15) & ~15u)) & 0xFFFFFF;
    Complete(now, motor | (fetched < used ? kLostData : 0));
}

// DMA from RAM towards the controller: `length` bytes from the DMA address on, which moves on
// by them. Bytes that no RAM gives are zeros; the result counts the bytes before the first.
uint32_t FloppyController::DmaFromRam(uint8_t* bytes, uint32_t length) {
    const uint32_t base = s_.dmaAddress & ~1u;
    uint32_t whole = length;
    for (uint32_t i = 0; i < length; i += 2) {
        uint16_t word = 0;
        const uint32_t address = base + i;
        if (address >= kRamBytes || !bus_.ReadWord(address, word)) {
            word = 0;
            whole = std::min(whole, i);
        }
        bytes[i] = static_cast<uint8_t>(word >> 8);
        if (i + 1 < length) bytes[i + 1] = static_cast<uint8_t>(word);
    }
    s_.dmaAddress = (base + length) & 0xFFFFFF;
    bus_.Charge(static_cast<Cycles>((length + 15) / 16) * kBurstCycles);
    return whole;
}

// DMA from the controller into RAM. Nothing moves with DMA off or set to write to the disk;
// the transfer stops at the end of the RAM area, and the bus keeps what it refuses (the
// vectors at 0-7) unchanged. The address counter moves on by what was transferred.
void FloppyController::Dma(const uint8_t* bytes, uint32_t length) {
    if (s_.dmaOff || s_.directionWrite || s_.dmaAddress >= kRamBytes) return;
    const uint32_t base = s_.dmaAddress & ~1u;
    length = std::min<uint32_t>(length & ~1u, kRamBytes - base);
    for (uint32_t i = 0; i < length; i += 2)
        bus_.WriteWord(base + i, static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]));
    s_.dmaAddress = (base + length) & 0xFFFFFF;
    bus_.Charge(static_cast<Cycles>((length + 15) / 16) * kBurstCycles);
}

// ---- save state -----------------------------------------------------------------------------

// Each drive's overlay follows, in its file form (empty for an empty drive).
void FloppyController::Save(StateWriter& out) const {
    out.BeginSection("FDC ");
    out(s_);
    out.BeginSection("FDO ");
    for (const DiskImage* drive : drives_) {
        const std::vector<uint8_t> bytes =
            drive != nullptr && drive->Inserted() ? drive->OverlayBytes() : std::vector<uint8_t>{};
        out(static_cast<uint32_t>(bytes.size()));
        out.PutBytes(bytes.data(), bytes.size());
    }
}

// An overlay goes to the disk in the drive when the state is loaded; a drive that is empty
// then leaves it aside.
bool FloppyController::LoadOverlays(StateReader& in, bool commit) {
    if (!in.BeginSection("FDO ")) return false;
    for (DiskImage* drive : drives_) {
        uint32_t length = 0;
        if (!in.Get(length) || length > DiskImage::kMaxOverlayFile) return false;
        const uint8_t* bytes = length ? in.View(length) : nullptr;
        if (length && bytes == nullptr) return false;
        std::string error;
        // The check pass has found each overlay whole: the commit only applies it.
        if (!commit) {
            if (length && !DiskImage::CheckOverlay(bytes, length, error)) return false;
            continue;
        }
        if (drive == nullptr || !drive->Inserted()) continue;
        if (length == 0) {
            drive->ForgetChanges();
        } else {
            drive->ApplyOverlay(bytes, length, error);
        }
    }
    return in.EndSection();
}

bool FloppyController::Load(StateReader& in, bool commit) {
    FdcState s;
    if (!in.BeginSection("FDC ") || !in(s).EndSection()) return false;
    if (!LoadOverlays(in, commit)) return false;
    if (s.status > 0xFF || s.finalStatus > 0xFF || s.sector > 0xFF || s.data > 0xFFFF ||
        s.sectorCount > 0xFFFF || s.dmaAddress > 0xFFFFFF || s.directionWrite > 1 || s.dmaOff > 1 ||
        s.registerSelect > 4 || s.hardDiskSelect > 1 || s.phase > kFdcFormatDue || s.motor > 1 ||
        s.stepDirection > 1 || s.command > 0xFF || s.drive > kNoDrive || s.side > 1 ||
        s.interruptReleased > 1 || s.typeOneStatus > 1 || s.pulses > 0xFFFF || s.random == 0 || s.track < 0 ||
        s.track > 0xFF || !PlausibleCycles(s.eventTime) || s.sectorsRemaining < 0 ||
        s.sectorsRemaining > 0xFFFF || s.cylinder[0] < 0 || s.cylinder[0] > kLastCylinder ||
        s.cylinder[1] < 0 || s.cylinder[1] > kLastCylinder || s.stoppedAngle < 0 || s.stoppedAngle >= kTurn)
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

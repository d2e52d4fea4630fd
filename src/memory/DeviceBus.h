// The bus as the machine's DMA devices see it (the floppy controller's DMA, the Blitter, DMA
// sound): emulated memory reached without the CPU's access routines, so that what lies outside
// memory never turns into a CPU exception. It follows the machine's map:
//   RAM up to the installed size     read and write, through the memory controller's bank
//                                    decoding (MemoryController) like the CPU's accesses
//   ROM and cartridge                read; writes change nothing
//   0-7                              reads give the ROM's reset vectors; writes change nothing
//   RAM area beyond the installed    reads give all ones; writes land (as the CPU's do) where
//                                    nothing reads them
//   anything else (I/O page, holes)  reads give all ones, writes change nothing; the device is
//                                    told, so it can act as its chip does on a bus error
// Bus time a device takes is charged to the processor.
#pragma once

#include <cstdint>

#include "memory/Memory.h"
#include "memory/MemoryController.h"

namespace vexil {

class DeviceBus {
public:
    // `charge` takes the bus time devices use from the processor (none: nobody is charged).
    // `banks`, when given, decodes RAM addresses while its configuration differs from the
    // fitted RAM (the tables then hold RAM as a handler region); `ram` is the RAM it decodes into.
    using ChargeRoutine = void (*)(Cycles cycles);
    explicit DeviceBus(const MachineTables& tables, ChargeRoutine charge = nullptr,
                       const MemoryController* banks = nullptr, uint8_t* ram = nullptr)
        : tables_(tables), charge_(charge), banks_(banks), ram_(ram) {}

    // Reads return false (with all ones in `value`) where no memory answers.
    bool ReadWord(uint32_t address, uint16_t& value) const;
    bool ReadByte(uint32_t address, uint8_t& value) const;
    // Writes return false where no memory takes them. A word write given its frame cycle
    // `time` also reaches the screen watch, as the CPU's writes do, so that a device's writes
    // to the screen show in the frame being drawn where the beam has not passed them yet.
    static constexpr Cycles kUnwatched = INT32_MIN;
    bool WriteWord(uint32_t address, uint16_t value, Cycles time = kUnwatched) const;
    bool WriteByte(uint32_t address, uint8_t value) const;

    // Bus cycles a device takes from the processor: inside an access handler (a Blitter
    // started by a register write) they lengthen that access; between runs (a DMA transfer
    // at an event) the processor's clock moves on by them.
    void Charge(Cycles cycles) const;

private:
    static const MemoryRegion* Direct(const RegionTable& table, uint32_t address, bool write);
    // The RAM offset of `address` while the banks decode (kNoRam where no RAM answers), or -1
    // when the tables serve it.
    int64_t Decoded(uint32_t address) const {
        if (banks_ == nullptr || banks_->Identity() || address >= kRamBytes) return -1;
        return banks_->Decode(address);
    }
    const MachineTables& tables_;
    ChargeRoutine charge_;
    const MemoryController* banks_;
    uint8_t* ram_;
};

}  // namespace vexil

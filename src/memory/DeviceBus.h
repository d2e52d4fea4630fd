// The bus as the machine's DMA devices see it (the floppy controller's DMA, the Blitter, DMA
// sound): emulated memory reached without the CPU's access routines, so that what lies outside
// memory never turns into a CPU exception. It follows the machine's map:
//   RAM up to the installed size     read and write
//   ROM and cartridge                read; writes change nothing
//   0-7                              reads give the ROM's reset vectors; writes change nothing
//   RAM area beyond the installed    reads give all ones; writes land (as the CPU's do)
//   anything else (I/O page, holes)  reads give all ones, writes change nothing; the device is
//                                    told, so it can act as its chip does on a bus error
// Bus time a device takes is charged to the processor.
#pragma once

#include <cstdint>

#include "memory/Memory.h"

namespace vexil {

class DeviceBus {
public:
    // `charge` takes the bus time devices use from the processor (none: nobody is charged).
    using ChargeRoutine = void (*)(Cycles cycles);
    explicit DeviceBus(const MachineTables& tables, ChargeRoutine charge = nullptr)
        : tables_(tables), charge_(charge) {}

    // Reads return false (with all ones in `value`) where no memory answers.
    bool ReadWord(uint32_t address, uint16_t& value) const;
    bool ReadByte(uint32_t address, uint8_t& value) const;
    // Writes return false where no memory takes them.
    bool WriteWord(uint32_t address, uint16_t value) const;
    bool WriteByte(uint32_t address, uint8_t value) const;

    // Bus cycles a device takes from the processor: inside an access handler (a Blitter
    // started by a register write) they lengthen that access; between runs (a DMA transfer
    // at an event) the processor's clock moves on by them.
    void Charge(Cycles cycles) const;

private:
    static const MemoryRegion* Direct(const RegionTable& table, uint32_t address, bool write);
    const MachineTables& tables_;
    ChargeRoutine charge_;
};

}  // namespace vexil

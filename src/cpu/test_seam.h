// A seam for running single instructions in tests and benchmarks: a flat 16 MB RAM map and
// direct access to the register file. Only tests and benchmarks use it.
#pragma once

#include <cstdint>

#include "memory/Memory.h"

namespace vexil::cpu_seam {

// All 16 MB of the address space as plain RAM backed by `ram` (0x800000 host-order words),
// for supervisor and user mode alike; no I/O, ROM or bus-error regions, no reset hook. The
// caller keeps `tables` (the CPU reaches memory through them) for as long as it runs.
void MapFlatRam(MachineTables& tables, uint16_t* ram);

struct Registers {
    uint32_t d[8], a[8], usp, ssp;
    uint16_t sr;
    uint32_t pc;
};

// a[7] is ignored on set and reads back as the active stack pointer. Setting clears the
// stopped and halted state and any prefetch override.
void SetRegisters(const Registers& registers);
Registers GetRegisters();

// Runs one instruction (or one exception entry) and returns the cycles it cost.
int Step();
// CpuRun with this budget; returns the cycles executed.
int64_t Run(int64_t cycles);

}  // namespace vexil::cpu_seam

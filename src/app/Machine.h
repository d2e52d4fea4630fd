// One emulated ST/STE with no host devices: memory, CPU, I/O chips and the frame scheduler,
// wired together. The headless mode and the tests drive the machine through it.
//
// The CPU, the region tables and the I/O state area are singletons, so only one Machine may
// exist at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "memory/Memory.h"
#include "video/FrameScheduler.h"

namespace vexil {

// The settings the machine is built with, named after their configuration values.
struct MachineSettings {
    uint32_t Machine = 0;  // 0 ST, 1 STE
    uint32_t RAMSize = 2;  // 0 512 KB, 1 1 MB, 2 (and 3) 2 MB
};

// RAM bytes for a `RAMSize` value.
uint32_t RamBytesFor(uint32_t ramSize);

class Machine {
public:
    explicit Machine(const MachineSettings& settings = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // A cold reset first clears RAM from address 8 to the end of the 4 MB area; then both
    // kinds reset the CPU and the I/O chips. Returns CpuReset's status.
    int32_t Reset(bool cold);
    // Runs until the frame ends. Returns kRunBudgetSpent, or the CPU's result when it stopped
    // (fetch fault, halt, RESET without a hook); the frame is then left unfinished.
    uint32_t RunFrame();
    // Runs `frames` frames; stops early on a CPU stop and returns its result.
    uint32_t RunFrames(int frames);

    // Emulated RAM in host word order, and copies into it of big-endian bytes.
    uint8_t* Ram() { return block_->Ram(); }
    void LoadBytes(uint32_t address, const uint8_t* bytes, size_t length);
    uint8_t PeekByte(uint32_t address) const { return block_->bytes[(address & 0x3FFFFF) ^ 1]; }
    uint32_t PeekLong(uint32_t address) const { return LoadHostLong(block_->bytes + (address & 0x3FFFFE)); }
    void PokeLong(uint32_t address, uint32_t value) {
        StoreHostLong(block_->bytes + (address & 0x3FFFFE), value);
    }

    EmulatedMemoryBlock& Memory() { return *block_; }
    MachineTables& Tables() { return *tables_; }
    FrameScheduler& Scheduler() { return scheduler_; }
    const MachineSettings& Settings() const { return settings_; }

private:
    MachineSettings settings_;
    std::unique_ptr<EmulatedMemoryBlock> block_;
    std::unique_ptr<MachineTables> tables_;
    FrameScheduler scheduler_;
};

}  // namespace vexil

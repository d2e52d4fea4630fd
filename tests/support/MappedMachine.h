// A CPU on the machine's own memory map (MemoryInstall: 512 KB of RAM, ROM, cartridge, the
// I/O page when handlers are given) for tests of what the flat map cannot show: bus errors,
// fetch regions, I/O handlers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "memory/Memory.h"
#include "support/Asm.h"

namespace vexil::test {

class MappedMachine {
public:
    explicit MappedMachine(const MemoryHandlers& handlers = {})
        : block_(std::make_unique<EmulatedMemoryBlock>()) {
        CpuBuildDispatchTable();
        MemoryInstall(tables_, *block_, kRam, handlers);
        CpuInstallTables(tables_);
        g_cpu.resetHook = nullptr;
    }
    // Copies the program into RAM at its origin; PC at `entry`, supervisor mode, SR 0x2700,
    // SSP 0x70000, USP 0x60000, nothing pending.
    void Load(const AsmProgram& program, const std::string& entry) {
        for (size_t i = 0; i < program.bytes.size(); ++i)
            SetByte(program.origin + uint32_t(i), program.bytes[i]);
        cpu_seam::Registers r{};
        r.ssp = 0x70000;
        r.usp = 0x60000;
        r.sr = 0x2700;
        r.pc = program.Symbol(entry);
        cpu_seam::SetRegisters(r);
        g_cpu.pending = 0;
    }
    // Host bytes of emulated address `address` (RAM, ROM or cartridge), in host word order.
    uint8_t* Host(uint32_t address) {
        if (address >= 0xFC0000) return block_->Rom() + (address - 0xFC0000);
        if (address >= 0xFA0000) return block_->Cartridge() + (address - 0xFA0000);
        return block_->Ram() + address;
    }
    void SetByte(uint32_t address, uint8_t v) { Host(address ^ 1)[0] = v; }
    void SetWord(uint32_t address, uint16_t v) { StoreHostWord(Host(address), v); }
    void SetLong(uint32_t address, uint32_t v) { StoreHostLong(Host(address), v); }
    uint16_t Word(uint32_t address) { return LoadHostWord(Host(address)); }
    uint32_t Long(uint32_t address) { return LoadHostLong(Host(address)); }

    EmulatedMemoryBlock& Block() { return *block_; }

    static constexpr uint32_t kRam = 0x80000;

private:
    std::unique_ptr<EmulatedMemoryBlock> block_;
    MachineTables tables_;
};

}  // namespace vexil::test

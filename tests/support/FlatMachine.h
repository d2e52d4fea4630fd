// A CPU over 16 MB of flat RAM for instruction-level tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "support/Asm.h"

namespace vexil::test {

class FlatMachine {
public:
    FlatMachine();
    // Copies the program to its origin and points PC at `entry` (default: the origin),
    // supervisor mode, SSP 0x80000, SR 0x2700.
    void Load(const AsmProgram& program, uint32_t entry = 0);
    void Load(const AsmProgram& program, const std::string& entry) { Load(program, program.Symbol(entry)); }

    uint8_t Byte(uint32_t address) const { return bytes()[(address & 0xFFFFFF) ^ 1]; }
    uint16_t Word(uint32_t address) const { return ram_[(address & 0xFFFFFF) >> 1]; }
    uint32_t Long(uint32_t address) const { return uint32_t(Word(address)) << 16 | Word(address + 2); }
    void SetByte(uint32_t address, uint8_t v) { bytes()[(address & 0xFFFFFF) ^ 1] = v; }
    void SetWord(uint32_t address, uint16_t v) { ram_[(address & 0xFFFFFF) >> 1] = v; }
    void SetLong(uint32_t address, uint32_t v) {
        SetWord(address, uint16_t(v >> 16));
        SetWord(address + 2, uint16_t(v));
    }
    // Runs until PC reaches `address` or `maxInstructions` have run; returns the cycles taken.
    int64_t RunTo(uint32_t address, int maxInstructions = 1000000);

private:
    uint8_t* bytes() const { return reinterpret_cast<uint8_t*>(const_cast<uint16_t*>(ram_.data())); }
    std::vector<uint16_t> ram_;
    MachineTables tables_;
};

// A fixture that runs the labelled cases of one assembled program on flat RAM.
class ProgramTest : public ::testing::Test {
protected:
    explicit ProgramTest(const char* program) : program_(LoadAsm(program)) { g_cpu.clock = 0; }
    // Loads the program and starts at `label` in the given SR (supervisor stack 0x80000).
    void StartAt(const std::string& label, uint16_t sr) {
        m_.Load(program_, label);
        auto r = cpu_seam::GetRegisters();
        r.sr = sr;
        cpu_seam::SetRegisters(r);
    }
    AsmProgram program_;
    FlatMachine m_;
};

}  // namespace vexil::test

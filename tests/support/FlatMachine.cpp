#include "support/FlatMachine.h"

namespace vexil::test {

FlatMachine::FlatMachine() : ram_(0x800000) {
    cpu_seam::MapFlatRam(tables_, ram_.data());
}

void FlatMachine::Load(const AsmProgram& program, uint32_t entry) {
    for (size_t i = 0; i < program.bytes.size(); ++i) SetByte(program.origin + uint32_t(i), program.bytes[i]);
    cpu_seam::Registers r{};
    r.ssp = 0x80000;
    r.usp = 0x70000;
    r.sr = 0x2700;
    r.pc = entry ? entry : program.origin;
    cpu_seam::SetRegisters(r);
    g_cpu.pending = 0;  // no interrupt left over from an earlier test
}

int64_t FlatMachine::RunTo(uint32_t address, int maxInstructions) {
    int64_t cycles = 0;
    for (int i = 0; i < maxInstructions && g_cpu.pc != address; ++i) cycles += cpu_seam::Step();
    return cycles;
}

}  // namespace vexil::test

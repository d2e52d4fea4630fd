// The opcode table against the debugger's disassembler, written apart from it from the
// instruction set: both must agree on which of the 65536 values are MC68000 instructions.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "cpu/Cpu.h"
#include "cpu/Dispatch.h"
#include "debugger/Disassembler.h"

namespace vexil {
namespace {

// Where the two part ways, on purpose.
struct KnownDifference {
    uint16_t mask, value;
    const char* why;
};
constexpr KnownDifference kDifferences[] = {
    {0xF038, 0x1008, "MOVE.B from an address register runs here like any other MOVE"},
    {0xFFFF, 0x083C, "BTST #n,#imm runs here, testing a bit of the immediate byte"},
    {0xFFC0, 0x42C0, "MOVE from CCR is a 68010 instruction, an illegal one here"},
    {0xFFFF, 0x4E74, "RTD is a 68010 instruction"},
    {0xFFFE, 0x4E7A, "MOVEC is a 68010 instruction"},
};

TEST(OpcodeTable, ClaimsTheOpcodesTheDisassemblerKnows) {
    CpuBuildDispatchTable();
    uint16_t opcode = 0;
    Disassembler disassembler([&](uint32_t address) { return address == 0 ? opcode : 0u; });
    std::map<std::string, int> differences;
    for (uint32_t value = 0; value < 65536; ++value) {
        opcode = static_cast<uint16_t>(value);
        const std::string family = OpcodeTableEntry(opcode).family;
        const bool runs = family != "illegal" && family != "line A" && family != "line F";
        disassembler.SetAddress(0);
        disassembler.DisassembleOne();
        if (runs == disassembler.LastDefined()) continue;
        bool known = false;
        for (const KnownDifference& k : kDifferences) known = known || (opcode & k.mask) == k.value;
        if (!known) ++differences[family];
    }
    std::ostringstream text;
    for (const auto& [family, count] : differences) text << family << ": " << count << "\n";
    EXPECT_TRUE(differences.empty()) << text.str();
}

}  // namespace
}  // namespace vexil

// Loads a 68000 test program assembled at build time (tests/**/*.s -> VEXIL_ASM_DIR).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vexil::test {

struct AsmProgram {
    std::vector<uint8_t> bytes;               // big-endian, as the 68000 sees them
    std::map<std::string, uint32_t> symbols;  // from nm
    uint32_t origin = 0x1000;

    uint32_t Symbol(const std::string& name) const;  // fails the test when missing
};

AsmProgram LoadAsm(const std::string& name);

// A program assembled at origin 0 as a GEMDOS program file: the header, its bytes up to the
// symbol `program_end` as text (no data, no BSS), and a relocation table of the longs at
// `fixups` (ascending symbols' values; none: a table that says so).
std::vector<uint8_t> ProgramFile(const AsmProgram& program, const std::vector<std::string>& fixups = {});

}  // namespace vexil::test

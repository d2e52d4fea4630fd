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

}  // namespace vexil::test

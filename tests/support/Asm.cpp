#include "support/Asm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vexil::test {

uint32_t AsmProgram::Symbol(const std::string& name) const {
    const auto it = symbols.find(name);
    EXPECT_NE(it, symbols.end()) << "no symbol " << name;
    return it == symbols.end() ? 0 : it->second;
}

AsmProgram LoadAsm(const std::string& name) {
    AsmProgram p;
    const std::string base = std::string(VEXIL_ASM_DIR) + "/" + name;
    std::ifstream bin(base + ".bin", std::ios::binary);
    EXPECT_TRUE(bin) << "missing " << base << ".bin";
    p.bytes.assign(std::istreambuf_iterator<char>(bin), {});
    std::ifstream sym(base + ".sym");
    std::string line;
    while (std::getline(sym, line)) {
        std::istringstream fields(line);
        std::string value, kind, symbol;
        if (fields >> value >> kind >> symbol)
            p.symbols[symbol] = static_cast<uint32_t>(std::stoul(value, nullptr, 16));
    }
    const auto text = p.symbols.find("_start");
    if (text != p.symbols.end()) p.origin = text->second;
    return p;
}

std::vector<uint8_t> ProgramFile(const AsmProgram& program, const std::vector<std::string>& fixups) {
    auto put32 = [](std::vector<uint8_t>& v, size_t at, uint32_t x) {
        for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (24 - 8 * i));
    };
    const uint32_t text = (program.Symbol("program_end") + 1) & ~1u;
    std::vector<uint8_t> file(0x1C + std::max<size_t>(text, program.bytes.size()), 0);
    file[0] = 0x60, file[1] = 0x1A;
    put32(file, 2, text);
    std::copy(program.bytes.begin(), program.bytes.end(), file.begin() + 0x1C);
    file.resize(0x1C + text + 4);
    if (fixups.empty()) return file;  // the table's first long 0: nothing to relocate
    uint32_t at = program.Symbol(fixups.front());
    put32(file, file.size() - 4, at);
    for (size_t i = 1; i < fixups.size(); ++i) {
        const uint32_t next = program.Symbol(fixups[i]);
        EXPECT_GT(next, at) << "fixups out of order";
        for (uint32_t step = next - at; step > 0;) {
            const uint32_t piece = step > 254 ? 254 : step;
            file.push_back(step > 254 ? 1 : static_cast<uint8_t>(step));
            step -= piece;
        }
        at = next;
    }
    file.push_back(0);
    return file;
}

}  // namespace vexil::test

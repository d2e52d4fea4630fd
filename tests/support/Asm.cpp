#include "support/Asm.h"

#include <gtest/gtest.h>

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

}  // namespace vexil::test

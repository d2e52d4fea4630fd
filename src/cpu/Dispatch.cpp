// The opcode chart. Each group of instructions lists its rows in its own file under ops/;
// the builder expands them in the order below, and every opcode no row claims runs the
// illegal-instruction handler.
#include "cpu/Dispatch.h"

#include <cstdlib>

#include "cpu/OpcodeTable.h"

namespace vexil {

// A process global with g_cpu (see Cpu.cpp): the run loop indexes it once per instruction.
OpcodeHandler g_dispatch[65536];

namespace {

OpcodeInfo g_table[65536];

struct Pattern {
    uint16_t fixedMask = 0, fixedValue = 0;
    int sizeKind = 0;  // 0 none, 1 "ss" at 7-6, 2 "zz" at 13-12, 3 "a" single bit
    int sizeBit = 0;   // position of the lowest size bit
    bool hasEa = false, hasDest = false;
};

Pattern Parse(std::string_view text) {
    Pattern p;
    int bit = 15;
    for (char ch : text) {
        if (ch == ' ') continue;
        const uint16_t mask = static_cast<uint16_t>(1u << bit);
        switch (ch) {
            case '0':
                p.fixedMask |= mask;
                break;
            case '1':
                p.fixedMask |= mask;
                p.fixedValue |= mask;
                break;
            case 's':
                p.sizeKind = 1;
                p.sizeBit = bit;
                break;
            case 'z':
                p.sizeKind = 2;
                p.sizeBit = bit;
                break;
            case 'a':
                p.sizeKind = 3;
                p.sizeBit = bit;
                break;
            case 'm':
                p.hasEa = true;
                break;
            case 'M':
                p.hasDest = true;
                break;
            default:
                break;
        }
        --bit;
    }
    if (bit != -1) std::abort();  // a malformed row is a programming error
    return p;
}

// Mode of a (mode, register) field pair, or kNoMode when the pair encodes nothing.
Mode DecodeMode(unsigned mode, unsigned reg) {
    if (mode < 7) return static_cast<Mode>(mode);
    switch (reg) {
        case 0:
            return kAbsW;
        case 1:
            return kAbsL;
        case 2:
            return kPcDisp;
        case 3:
            return kPcIndex;
        case 4:
            return kImm;
        default:
            return kNoMode;
    }
}

int DecodeSize(const Pattern& p, uint16_t op) {
    switch (p.sizeKind) {
        case 1: {
            const unsigned s = (op >> p.sizeBit) & 3;
            return s == 0 ? kByte : s == 1 ? kWord : s == 2 ? kLong : 0;
        }
        case 2: {
            const unsigned s = (op >> p.sizeBit) & 3;
            return s == 1 ? kByte : s == 3 ? kWord : s == 2 ? kLong : 0;
        }
        case 3:
            return ((op >> p.sizeBit) & 1) ? kLong : kWord;
        default:
            return -1;
    }
}

void IllegalInstruction(uint32_t) {
    RaiseInstructionException(4);
}

}  // namespace

void ClaimOpcodes(std::string_view text, const char* family, const HandlerGrid& grid, uint32_t sizes,
                  uint32_t modes, uint32_t destModes) {
    const Pattern p = Parse(text);
    for (uint32_t value = 0; value < 65536; ++value) {
        const uint16_t op = static_cast<uint16_t>(value);
        if ((op & p.fixedMask) != p.fixedValue || g_table[op].family != nullptr) continue;
        int size = DecodeSize(p, op);
        if (size == 0) continue;
        if (size < 0) {  // no size field: the row names one size
            size = (sizes & kWord) ? kWord : (sizes & kLong) ? kLong : kByte;
        }
        if (!(sizes & static_cast<uint32_t>(size))) continue;
        const Mode m = p.hasEa ? DecodeMode((op >> 3) & 7, op & 7) : kNoMode;
        const Mode d = p.hasDest ? DecodeMode((op >> 6) & 7, (op >> 9) & 7) : kNoMode;
        if (!(modes & Bit(m)) || !(destModes & Bit(d))) continue;
        const OpcodeHandler h = grid[SizeIndex(static_cast<Size>(size))][m][d];
        if (h == nullptr) continue;
        g_table[op] = {h, family};
    }
}

void ClaimConditionOpcodes(std::string_view text, const char* family, const OpcodeHandler (&handlers)[16]) {
    const Pattern p = Parse(text);
    for (uint32_t value = 0; value < 65536; ++value) {
        const uint16_t op = static_cast<uint16_t>(value);
        if ((op & p.fixedMask) != p.fixedValue || g_table[op].family != nullptr) continue;
        g_table[op] = {handlers[(op >> 8) & 15], family};
    }
}

int32_t CpuBuildDispatchTable() {
    static bool built = false;
    if (!built) {
        AddMoveRows();
        AddArithmeticRows();
        AddLogicRows();
        AddShiftBitRows();
        AddBranchRows();
        AddSystemRows();
        for (auto& e : g_table)
            if (e.family == nullptr) e = {&IllegalInstruction, "illegal"};
        built = true;
    }
    for (uint32_t op = 0; op < 65536; ++op) g_dispatch[op] = g_table[op].handler;
    return 0;
}

const OpcodeInfo& OpcodeTableEntry(uint16_t opcode) {
    return g_table[opcode];
}

}  // namespace vexil

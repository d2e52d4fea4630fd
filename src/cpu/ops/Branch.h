// Program flow: Bcc, BRA, BSR, DBcc, Scc, JMP, JSR, RTS, RTR.
#pragma once

#include "cpu/OpcodeTable.h"

namespace vexil {

// Condition codes 0-15 (T F HI LS CC CS NE EQ VC VS PL MI GE LT GT LE).
inline bool ConditionTrue(unsigned cc) {
    const bool n = g_run.n < 0, z = g_run.z == 0, v = g_run.v != 0, c = g_run.c != 0;
    switch (cc & 15) {
        case 0:
            return true;
        case 1:
            return false;
        case 2:
            return !c && !z;
        case 3:
            return c || z;
        case 4:
            return !c;
        case 5:
            return c;
        case 6:
            return !z;
        case 7:
            return z;
        case 8:
            return !v;
        case 9:
            return v;
        case 10:
            return !n;
        case 11:
            return n;
        case 12:
            return n == v;
        case 13:
            return n != v;
        case 14:
            return !z && n == v;
        default:
            return z || n != v;
    }
}

// A jump to an odd address is an address error at the target.
inline void JumpTo(uint32_t target) {
    if (target & 1) [[unlikely]] {
        EnterGroupZero(3, target);
        return;
    }
    g_cpu.pc = target;
}

// Branch target: the displacement counts from the word after the opcode.
inline uint32_t BranchTarget(uint16_t op, bool& wordForm) {
    const uint32_t base = g_cpu.pc;
    int32_t displacement = static_cast<int8_t>(op & 0xFF);
    wordForm = displacement == 0;
    if (wordForm) displacement = static_cast<int16_t>(FetchWord());
    return base + static_cast<uint32_t>(displacement);
}

struct BranchIf {
    template <Size, Mode, Mode>
    static void Run(uint16_t op) {
        bool wordForm;
        const uint32_t target = BranchTarget(op, wordForm);
        if (ConditionTrue(op >> 8)) {
            // A taken short branch shares a bus slot with an instruction of 4n+2 cycles before it.
            if (!wordForm) g_run.remaining += static_cast<int32_t>(g_run.lastCycles & 3);
            JumpTo(target);
            Finish(10);
        } else {
            Finish(wordForm ? 12 : 8);
        }
    }
};

struct BranchAlways {
    template <Size, Mode, Mode>
    static void Run(uint16_t op) {
        bool wordForm;
        JumpTo(BranchTarget(op, wordForm));
        Finish(10);
    }
};

inline void AddBranchRows() {
    Row<BranchAlways>("0110 0000 dddd dddd", "BRA");
    Row<BranchIf>("0110 cccc dddd dddd", "Bcc");
}

}  // namespace vexil

// Program flow: Bcc, BRA, BSR, DBcc, JMP, JSR, RTS, RTR.
//
// A jump only sets PC (JumpTo): the dispatch looks the new PC up in the fetch table whenever it
// leaves the current region. An odd target is an address error taken at the target.
//
// Instructions that push a return address or pop one check g_run.groupZeroCount: when the
// push or pop faulted, the bus or address error has been entered (and may have switched to the
// supervisor stack), so the stack pointer update and the jump are skipped.
#include "cpu/OpcodeTable.h"

namespace vexil {
namespace {

// Branch displacement, counted from the word after the opcode (`base`).
struct Displacement {
    uintptr_t base;
    int32_t bytes;
    bool wordForm;
};
inline Displacement BranchDisplacement(uint32_t op) {
    Displacement d{g_run.ip, static_cast<int8_t>(op & 0xFF), false};
    d.wordForm = d.bytes == 0;
    if (d.wordForm) d.bytes = static_cast<int16_t>(FetchWord());
    return d;
}

// Jumps `bytes` from `base` and ends the instruction with `cycles`.
inline void BranchBy(uintptr_t base, int32_t bytes, int32_t cycles) {
    if (bytes & 1) [[unlikely]]
        return BranchToOddAddress(base, bytes, cycles);
    JumpBy(base, bytes);
    Finish(cycles);
}

struct BranchIf {
    template <unsigned Cc>
    static void Run(uint32_t op) {
        const bool wordForm = (op & 0xFF) == 0;
        if (!Condition<Cc>()) {
            if (wordForm) g_run.ip += 2;
            Finish(wordForm ? 12 : 8);
            return;
        }
        // A taken short branch shares a bus slot with an instruction of 4n+2 cycles before it.
        if (!wordForm) g_run.remaining += static_cast<int32_t>(g_run.lastCycles & 3);
        const Displacement d = BranchDisplacement(op);
        BranchBy(d.base, d.bytes, 10);
    }
};

struct BranchAlways {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
        const Displacement d = BranchDisplacement(op);
        BranchBy(d.base, d.bytes, 10);
    }
};

// The return address is pushed before the target is fetched, so an odd target faults with
// the return address already on the stack.
struct BranchToSubroutine {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
        const Displacement d = BranchDisplacement(op);
        const uint32_t faults = g_run.groupZeroCount;
        g_cpu.a[7] -= 4;
        WriteLong(g_cpu.a[7], Pc());
        if (faults != g_run.groupZeroCount) return Finish(18);
        BranchBy(d.base, d.bytes, 18);
    }
};

//   condition true                      12
//   false, counter decremented, branch  10
//   false, counter expired (-1)         14
struct DecrementAndBranch {
    template <unsigned Cc>
    static void Run(uint32_t op) {
        const uintptr_t base = g_run.ip;
        const int16_t displacement = static_cast<int16_t>(FetchWord());
        if (Condition<Cc>()) {
            Finish(12);
            return;
        }
        const unsigned dn = op & 7;
        const uint32_t counter = (D<kWord>(dn) - 1) & 0xFFFF;
        SetD<kWord>(dn, counter);
        if (counter == 0xFFFF) {
            Finish(14);
            return;
        }
        BranchBy(base, displacement, 10);
    }
};

// JMP times per control mode; JSR takes 8 more for the push.
template <Mode M>
constexpr int kJumpCycles = M == kInd                      ? 8
                            : M == kIndex || M == kPcIndex ? 14
                            : M == kAbsL                   ? 12
                                                           : 10;  // (d16,An), (xxx).W, (d16,PC)

struct Jump {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        JumpTo(EaAddress<kLong, M>(op & 7));
        Finish(kJumpCycles<M>);
    }
};

// An odd target faults before anything is pushed.
struct JumpToSubroutine {
    template <Size, Mode M, Mode>
    static void Run(uint32_t op) {
        const uint32_t target = EaAddress<kLong, M>(op & 7);
        if (target & 1) {
            JumpTo(target);
        } else {
            const uint32_t faults = g_run.groupZeroCount;
            g_cpu.a[7] -= 4;
            WriteLong(g_cpu.a[7], Pc());
            if (faults == g_run.groupZeroCount) JumpTo(target);
        }
        Finish(kJumpCycles<M> + 8);
    }
};

struct ReturnFromSubroutine {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t target = ReadLong(g_cpu.a[7]);
        if (faults == g_run.groupZeroCount) {
            g_cpu.a[7] += 4;
            JumpTo(target);
        }
        Finish(16);
    }
};

// Pops the condition codes (low byte of the word; the system byte is untouched), then the PC.
struct ReturnAndRestoreCcr {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t sp = g_cpu.a[7];
        const uint16_t ccr = ReadWord(sp);
        if (faults == g_run.groupZeroCount) {
            const uint32_t target = ReadLong(sp + 2);
            if (faults == g_run.groupZeroCount) {
                g_cpu.a[7] = sp + 6;
                UnpackCcr(ccr & 0x1F);
                JumpTo(target);
            }
        }
        Finish(20);
    }
};

}  // namespace

void AddBranchRows() {
    Row<BranchAlways>("0110 0000 dddd dddd", "BRA");
    Row<BranchToSubroutine>("0110 0001 dddd dddd", "BSR");
    ConditionRow<BranchIf>("0110 cccc dddd dddd", "Bcc");
    ConditionRow<DecrementAndBranch>("0101 cccc 1100 1rrr", "DBcc");
    Row<Jump, kW, kControlModes>("0100 1110 11mm mxxx", "JMP");
    Row<JumpToSubroutine, kW, kControlModes>("0100 1110 10mm mxxx", "JSR");
    Row<ReturnFromSubroutine>("0100 1110 0111 0101", "RTS");
    Row<ReturnAndRestoreCcr>("0100 1110 0111 0111", "RTR");
}

}  // namespace vexil

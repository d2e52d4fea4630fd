// Program flow: Bcc, BRA, BSR, DBcc, Scc, JMP, JSR, RTS, RTR.
#include "cpu/OpcodeTable.h"

namespace vexil {
namespace {

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

}  // namespace

void AddBranchRows() {
    Row<BranchAlways>("0110 0000 dddd dddd", "BRA");
    Row<BranchIf>("0110 cccc dddd dddd", "Bcc");
}

}  // namespace vexil

// System control: NOP, STOP, RESET, EXG, and the opcodes that trap (line A, line F).
#include "cpu/OpcodeTable.h"

namespace vexil {
namespace {

struct Nop {
    template <Size, Mode, Mode>
    static void Run(uint16_t) {
        Finish(4);
    }
};

struct Stop {
    template <Size, Mode, Mode>
    static void Run(uint16_t) {
        if (!RequireSupervisor()) return;
        SetSr(FetchWord());
        g_cpu.pending |= 1;
        g_run.fetchSpan = -1;
        Finish(4);
        // The rest of the budget passes while the processor waits.
        if (g_run.remaining > 0) g_run.remaining = 0;
    }
};

struct Reset {
    template <Size, Mode, Mode>
    static void Run(uint16_t) {
        if (!RequireSupervisor()) return;
        if (g_cpu.resetHook == nullptr) {
            g_cpu.pc -= 2;
            g_run.exitResult = g_cpu.pc & kAddressMask;
            g_run.remaining -= g_run.budget;  // the unused budget is dropped
            g_run.budget = 0;
            return;
        }
        g_run.countdown = g_run.remaining - 1;
        g_cpu.resetHook();
        g_run.remaining = g_run.countdown + 1;
        g_run.countdown = -1;
        if (g_run.busErrorRequest) {
            g_run.busErrorRequest = 0;
            EnterGroupZero(2, g_cpu.pc - 2);
        }
        Finish(132);
    }
};

// EXG's 6 cycles leave 2 unused in its last bus slot, which a following MOVE can use.
struct Exchange {
    template <Size, Mode, Mode>
    static void Run(uint16_t op) {
        const unsigned rx = (op >> 9) & 7, ry = op & 7;
        uint32_t* x = nullptr;
        uint32_t* y = nullptr;
        switch ((op >> 3) & 0x1F) {
            case 0x08:
                x = &g_cpu.d[rx];
                y = &g_cpu.d[ry];
                break;  // Dx,Dy
            case 0x09:
                x = &g_cpu.a[rx];
                y = &g_cpu.a[ry];
                break;  // Ax,Ay
            default:
                x = &g_cpu.d[rx];
                y = &g_cpu.a[ry];
                break;  // Dx,Ay
        }
        const uint32_t t = *x;
        *x = *y;
        *y = t;
        g_run.pairingCredit = 4;
        Finish(6);
    }
};

struct LineA {
    template <Size, Mode, Mode>
    static void Run(uint16_t) {
        RaiseInstructionException(10);
    }
};

struct LineF {
    template <Size, Mode, Mode>
    static void Run(uint16_t) {
        RaiseInstructionException(11);
    }
};

}  // namespace

void AddSystemRows() {
    Row<Nop>("0100 1110 0111 0001", "NOP");
    Row<Stop>("0100 1110 0111 0010", "STOP");
    Row<Reset>("0100 1110 0111 0000", "RESET");
    Row<Exchange>("1100 rrr1 0100 0yyy", "EXG");
    Row<Exchange>("1100 rrr1 0100 1yyy", "EXG");
    Row<Exchange>("1100 rrr1 1000 1yyy", "EXG");
    Row<LineA>("1010 xxxx xxxx xxxx", "line A");
    Row<LineF>("1111 xxxx xxxx xxxx", "line F");
}

}  // namespace vexil

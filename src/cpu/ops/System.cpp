// System control: NOP, STOP, RESET, RTE, EXG, LINK, UNLK, and the instructions that trap
// (TRAP, TRAPV, ILLEGAL, line A, line F).
#include "cpu/OpcodeTable.h"

namespace vexil {
namespace {

struct Nop {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        Finish(4);
    }
};

struct Stop {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        if (!RequireSupervisor()) return;
        SetSr(FetchWord());
        g_cpu.pending |= 1;
        ForceSlowFetch();
        Finish(4);
        // The rest of the budget passes while the processor waits.
        if (g_run.remaining > 0) g_run.remaining = 0;
    }
};

struct Reset {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        if (!RequireSupervisor()) return;
        if (g_cpu.resetHook == nullptr) {
            g_run.ip -= 2;
            g_run.exitResult = Pc() & kAddressMask;
            g_run.remaining -= g_run.budget;  // the unused budget is dropped
            g_run.budget = 0;
            return;
        }
        g_run.countdown = g_run.remaining - 1;
        g_cpu.pc = Pc();
        g_cpu.resetHook(g_cpu.resetContext);
        g_run.remaining = g_run.countdown + 1;
        g_run.countdown = -1;
        if (g_run.busErrorRequest) {
            g_run.busErrorRequest = 0;
            EnterGroupZero(2, Pc() - 2);
        }
        Finish(132);
    }
};

// EXG's 6 cycles leave 2 unused in its last bus slot, which a following MOVE can use.
struct Exchange {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
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

// RTE (privileged, 20 cycles) pops SR, then PC, always 6 bytes: a bus or address error handler
// removes the 8 further bytes of its frame itself. The run then ends, so that the next run
// examines the new interrupt mask and T bit; the unused budget is dropped, not counted.
struct ReturnFromException {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        if (!RequireSupervisor()) return;
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t sp = g_cpu.a[7];
        const uint16_t sr = ReadWord(sp);
        if (faults == g_run.groupZeroCount) {
            const uint32_t target = ReadLong(sp + 2);
            if (faults == g_run.groupZeroCount) {
                g_cpu.a[7] = sp + 6;  // the supervisor stack, before SetSr may switch to the user's
                SetSr(sr);
                JumpTo(target);
            }
        }
        Finish(20);
        const int32_t unused = g_run.remaining + g_run.deferred;
        if (unused > 0) {
            g_run.budget -= unused;
            g_run.remaining = 0;
            g_run.deferred = 0;
        }
    }
};

// TRAP #n: vector 32 + n, the next instruction's address pushed.
struct Trap {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
        EnterException(32 + (op & 15));
        Finish(34);
    }
};

//   V clear  4
//   V set    38, the exception entry included
struct TrapOnOverflow {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        if (g_run.v) {
            EnterException(7);
            Finish(38);
        } else {
            Finish(4);
        }
    }
};

// ILLEGAL (0x4AFC), line A and line F: the exception of the vector, with the instruction's own
// PC pushed (ILLEGAL's vector is that of every opcode that is no instruction).
template <int Vector>
struct InstructionTrap {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        RaiseInstructionException(Vector);
    }
};

// ILLEGAL: from the host call's own addresses it goes to the hook (see HostCallHook), anywhere
// else, or when the hook declines, it takes the exception as the 68000 does.
struct Illegal {
    template <Size, Mode, Mode>
    static void Run(uint32_t) {
        if (g_cpu.hostCall != nullptr) [[unlikely]] {
            const uint32_t at = Pc() - 2;
            if (at - g_cpu.hostCallFirst < g_cpu.hostCallSpan) {
                const HostCallResult result = g_cpu.hostCall(g_cpu.hostCallContext, at);
                if (result.taken) {
                    JumpTo(result.next);
                    Finish(result.cycles);
                    return;
                }
            }
        }
        RaiseInstructionException(4);
    }
};

// LINK An,#d: push An, An = SP, SP += d. LINK A7 pushes A7 as it was before the push.
struct Link {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
        const unsigned an = op & 7;
        const uint32_t displacement = static_cast<uint32_t>(static_cast<int16_t>(FetchWord()));
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t sp = g_cpu.a[7] - 4;
        WriteLong(sp, g_cpu.a[an]);
        if (faults == g_run.groupZeroCount) {
            g_cpu.a[an] = sp;
            g_cpu.a[7] = sp + displacement;
        }
        Finish(16);
    }
};

// UNLK An: SP = An + 4 and An = the long at An; UNLK A7 leaves A7 = the long popped.
struct Unlink {
    template <Size, Mode, Mode>
    static void Run(uint32_t op) {
        const unsigned an = op & 7;
        const uint32_t faults = g_run.groupZeroCount;
        const uint32_t frame = g_cpu.a[an];
        const uint32_t saved = ReadLong(frame);
        if (faults == g_run.groupZeroCount) {
            g_cpu.a[7] = frame + 4;
            g_cpu.a[an] = saved;
        }
        Finish(12);
    }
};

}  // namespace

void AddSystemRows() {
    Row<Nop>("0100 1110 0111 0001", "NOP");
    Row<Stop>("0100 1110 0111 0010", "STOP");
    Row<Reset>("0100 1110 0111 0000", "RESET");
    Row<ReturnFromException>("0100 1110 0111 0011", "RTE");
    Row<TrapOnOverflow>("0100 1110 0111 0110", "TRAPV");
    Row<Trap>("0100 1110 0100 vvvv", "TRAP");
    Row<Link>("0100 1110 0101 0rrr", "LINK");
    Row<Unlink>("0100 1110 0101 1rrr", "UNLK");
    Row<Illegal>("0100 1010 1111 1100", "ILLEGAL");
    Row<Exchange>("1100 rrr1 0100 0yyy", "EXG");
    Row<Exchange>("1100 rrr1 0100 1yyy", "EXG");
    Row<Exchange>("1100 rrr1 1000 1yyy", "EXG");
    Row<InstructionTrap<10>>("1010 xxxx xxxx xxxx", "line A");
    Row<InstructionTrap<11>>("1111 xxxx xxxx xxxx", "line F");
}

}  // namespace vexil

// The processor's part of a save state: its registers and what an instruction boundary
// between two runs carries over (the captured prefetch, the bus-slot pairing, a due trace).
#include "app/SaveState.h"
#include "cpu/CpuCore.h"

namespace vexil {

namespace {
struct SavedCpu {
    uint32_t d[8], a[8], otherSp, pc, lastCycles;
    int32_t clock, pairingCredit;
    uint16_t sr, prefetched[2];
    uint8_t pending, levelVector[8], prefetchOverride, tracePending, traceDue, fetchDead, spare;
};
}  // namespace
static_assert(sizeof(SavedCpu) == 104, "no padding: the file holds every byte as written");

void CpuSaveState(StateWriter& out) {
    SavedCpu s;
    std::memset(&s, 0, sizeof s);
    std::memcpy(s.d, g_cpu.d, sizeof s.d);
    std::memcpy(s.a, g_cpu.a, sizeof s.a);
    std::memcpy(s.levelVector, g_cpu.levelVector, sizeof s.levelVector);
    std::memcpy(s.prefetched, g_run.prefetched, sizeof s.prefetched);
    s.otherSp = g_cpu.otherSp;
    s.pc = g_cpu.pc;
    s.lastCycles = g_run.lastCycles;
    s.clock = g_cpu.clock;
    s.pairingCredit = g_run.pairingCredit;
    s.sr = g_cpu.sr;
    s.pending = g_cpu.pending;
    s.prefetchOverride = g_run.prefetchOverride;
    s.tracePending = g_run.tracePending;
    s.traceDue = g_run.traceDue;
    s.fetchDead = g_run.fetchDead;
    out.BeginSection("CPU ");
    out.Put(s);
}

bool CpuLoadState(StateReader& in, bool commit) {
    SavedCpu s;
    if (!in.BeginSection("CPU ") || !in.Get(s) || !in.EndSection()) return false;
    if (!PlausibleCycles(s.clock) || s.pairingCredit < 0 || s.pairingCredit > 64) return false;
    if (!commit) return true;
    std::memcpy(g_cpu.d, s.d, sizeof s.d);
    std::memcpy(g_cpu.a, s.a, sizeof s.a);
    std::memcpy(g_cpu.levelVector, s.levelVector, sizeof s.levelVector);
    std::memcpy(g_run.prefetched, s.prefetched, sizeof s.prefetched);
    g_cpu.otherSp = s.otherSp;
    g_cpu.pc = s.pc;
    g_run.lastCycles = s.lastCycles;
    g_cpu.clock = s.clock;
    g_run.pairingCredit = s.pairingCredit;
    g_cpu.sr = s.sr & (kSrSystemBits | 0x1F);
    g_cpu.current = (g_cpu.sr & kSrSupervisor) ? g_cpu.supervisor : g_cpu.user;
    g_cpu.pending = s.pending;
    g_run.prefetchOverride = s.prefetchOverride != 0;
    g_run.tracePending = s.tracePending != 0;
    g_run.traceDue = s.traceDue != 0;
    g_run.fetchDead = s.fetchDead != 0;
    g_run.flags = 0;
    ForceSlowFetch();
    return true;
}

}  // namespace vexil

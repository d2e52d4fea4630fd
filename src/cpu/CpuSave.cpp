// The processor's part of a save state: its registers and what an instruction boundary
// between two runs carries over (the captured prefetch, the bus-slot pairing, a due trace).
#include "core/SaveState.h"
#include "cpu/CpuCore.h"

namespace vexil {

namespace {
struct SavedCpu {
    uint32_t d[8], a[8], otherSp, pc, lastCycles;
    int32_t clock, pairingCredit;
    uint16_t sr, prefetched[2];
    uint8_t pending, levelVector[8], prefetchOverride, tracePending, traceDue, fetchDead, spare;
    template <class Archive>
    void Fields(Archive& f) {  // `a` names the address registers here
        f(d)(a)(otherSp)(pc)(lastCycles)(clock)(pairingCredit)(sr)(prefetched)(pending)(levelVector);
        f(prefetchOverride)(tracePending)(traceDue)(fetchDead)(spare);
    }
};

// Every saved field beside the processor's own, one list for both directions.
template <typename Copy>
void EachField(SavedCpu& s, Copy copy) {
    copy(s.d, g_cpu.d);
    copy(s.a, g_cpu.a);
    copy(s.otherSp, g_cpu.otherSp);
    copy(s.pc, g_cpu.pc);
    copy(s.lastCycles, g_run.lastCycles);
    copy(s.clock, g_cpu.clock);
    copy(s.pairingCredit, g_run.pairingCredit);
    copy(s.sr, g_cpu.sr);
    copy(s.prefetched, g_run.prefetched);
    copy(s.pending, g_cpu.pending);
    copy(s.levelVector, g_cpu.levelVector);
    copy(s.prefetchOverride, g_run.prefetchOverride);
    copy(s.tracePending, g_run.tracePending);
    copy(s.traceDue, g_run.traceDue);
    copy(s.fetchDead, g_run.fetchDead);
}
}  // namespace

void CpuSaveState(StateWriter& out) {
    SavedCpu s;
    std::memset(&s, 0, sizeof s);
    EachField(s, [](auto& saved, const auto& live) {
        static_assert(sizeof saved == sizeof live);
        std::memcpy(&saved, &live, sizeof saved);
    });
    out.BeginSection("CPU ");
    out.Put(s);
}

bool CpuLoadState(StateReader& in, bool commit) {
    SavedCpu s;
    if (!in.BeginSection("CPU ") || !in.Get(s) || !in.EndSection()) return false;
    if (!PlausibleCycles(s.clock) || s.pairingCredit < 0 || s.pairingCredit > 64) return false;
    if (!commit) return true;
    EachField(s, [](const auto& saved, auto& live) { std::memcpy(&live, &saved, sizeof live); });
    g_cpu.sr &= kSrSystemBits | 0x1F;
    g_cpu.current = (g_cpu.sr & kSrSupervisor) ? g_cpu.supervisor : g_cpu.user;
    g_run.prefetchOverride = g_run.prefetchOverride != 0;
    g_run.tracePending = g_run.tracePending != 0;
    g_run.traceDue = g_run.traceDue != 0;
    g_run.fetchDead = g_run.fetchDead != 0;
    g_run.flags = 0;
    ForceSlowFetch();
    return true;
}

}  // namespace vexil

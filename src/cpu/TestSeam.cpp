#include <initializer_list>

#include "cpu/CpuCore.h"
#include "cpu/test_seam.h"

namespace vexil::cpu_seam {

void MapFlatRam(MachineTables& flat, uint16_t* ram) {
    CpuBuildDispatchTable();
    uint8_t* host = reinterpret_cast<uint8_t*>(ram);
    flat.fetch.Clear();
    flat.fetch.Add({0, kAddressMask, reinterpret_cast<intptr_t>(host)});
    for (RegionTable* t : {&flat.readByte, &flat.readWord, &flat.writeByte, &flat.writeWord}) {
        t->Clear();
        t->Add({0, kAddressMask, nullptr, nullptr, host});
    }
    g_cpu.supervisor = flat.Set();
    g_cpu.user = flat.Set();
    g_cpu.current = flat.Set();
    g_cpu.resetHook = nullptr;
}

void SetRegisters(const Registers& r) {
    for (int i = 0; i < 8; ++i) g_cpu.d[i] = r.d[i];
    for (int i = 0; i < 7; ++i) g_cpu.a[i] = r.a[i];
    g_cpu.sr = r.sr & (kSrSystemBits | 0x1F);
    const bool s = (g_cpu.sr & kSrSupervisor) != 0;
    g_cpu.a[7] = s ? r.ssp : r.usp;
    g_cpu.otherSp = s ? r.usp : r.ssp;
    g_cpu.current = s ? g_cpu.supervisor : g_cpu.user;
    g_cpu.pc = r.pc;
    g_cpu.pending &= 0xFE;
    g_run.prefetchOverride = 0;
    g_run.pairingCredit = 0;
    g_run.traceDue = 0;
    g_run.lastCycles = 0;
    g_run.flags = 0;
}

Registers GetRegisters() {
    Registers r{};
    for (int i = 0; i < 8; ++i) r.d[i] = g_cpu.d[i];
    for (int i = 0; i < 8; ++i) r.a[i] = g_cpu.a[i];
    r.sr = CpuGetSr();
    const bool s = (r.sr & kSrSupervisor) != 0;
    r.ssp = s ? g_cpu.a[7] : g_cpu.otherSp;
    r.usp = s ? g_cpu.otherSp : g_cpu.a[7];
    r.pc = g_cpu.pc;
    return r;
}

int Step() {
    const Cycles before = g_cpu.clock;
    if (g_run.traceDue) {
        g_run.traceDue = 0;
        g_run.lastCycles = 0;
        EnterExceptionBetweenRuns(9, 36);
    } else {
        g_run.stopBeforeTrace = 1;
        CpuRun(4);
        g_run.stopBeforeTrace = 0;
    }
    return g_cpu.clock - before;
}

int64_t Run(int64_t cycles) {
    const Cycles before = g_cpu.clock;
    CpuRun(static_cast<int32_t>(cycles));
    return g_cpu.clock - before;
}

}  // namespace vexil::cpu_seam

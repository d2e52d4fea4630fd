// Every opcode of the table, run with its memory access faulting: an odd address for word and
// long accesses, and a region where every access of every size is a bus error. Whatever the
// instruction does after its access faulted, the next step must run the handler's first
// opcode, on the 14-byte frame: status word, access address, instruction register word, SR,
// PC. The opcodes that are no instruction enter their vector with their own address pushed.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cpu/Cpu.h"
#include "cpu/Dispatch.h"
#include "cpu/test_seam.h"
#include "memory/Memory.h"

namespace vexil {
namespace {

constexpr uint32_t kProgram = 0x1000;   // the opcode, then five extension words
constexpr uint32_t kHandlers = 0x2000;  // vector v leads to kHandlers + 4v: moveq #v,d7; nop
constexpr uint32_t kSsp = 0x7F00;
constexpr uint32_t kRamEnd = 0x7FFF;     // the bus error map: RAM up to here, faults above
constexpr uint32_t kFaultZone = 0x8000;  // the first address of the faulting region
constexpr uint32_t kLastPushedPc = kProgram + 10;

constexpr uint32_t Handler(int vector) {
    return kHandlers + 4 * static_cast<uint32_t>(vector);
}

// One setup of the registers and extension words. Each extension word is `extension`: it is
// the displacement, the absolute address (twice for .L), the index word (D0 or A0 as a word,
// with its 8-bit displacement), the immediate and the MOVEM mask.
struct FaultSetup {
    const char* name;
    bool busErrors;      // the map with the faulting region, else flat RAM
    uint32_t addresses;  // A0-A6 and the user stack pointer
    uint16_t extension;
};

// Bus errors: every address an operand can name lies in the faulting region, the supervisor
// stack's too (the index word 0x8002 is A0.W = -0x8000 plus 2, for An and PC alike).
constexpr FaultSetup kBusErrors{"bus error", true, 0x208000, 0x8002};
// Odd addresses take two setups: odd address registers with even displacements (the index
// word 0x0002 is D0.W = 0 plus 2), then even address registers with odd displacements and
// absolute addresses, which also make PC-relative addresses odd.
constexpr FaultSetup kOddRegisters{"odd registers", false, 0x208001, 0x0002};
constexpr FaultSetup kOddExtensions{"odd extension words", false, 0x208000, 0x0001};

uint32_t BusErrorRead(uint32_t, const MemoryRegion&, Cycles) {
    CpuSignalBusError();
    return 0xFFFF;
}
void BusErrorWrite(uint32_t, uint32_t, const MemoryRegion&, Cycles) {
    CpuSignalBusError();
}

class FaultSweepTest : public ::testing::Test {
protected:
    FaultSweepTest() : ram_(0x800000) {}
    void SetUp() override {
        saved_ = g_cpu;
        CpuBuildDispatchTable();
        uint8_t* host = reinterpret_cast<uint8_t*>(ram_.data());
        busMap_.fetch.Add({0, kRamEnd, reinterpret_cast<intptr_t>(host)});
        for (RegionTable* t :
             {&busMap_.readByte, &busMap_.readWord, &busMap_.writeByte, &busMap_.writeWord}) {
            t->Add({0, kRamEnd, nullptr, nullptr, host});
            t->Add({kFaultZone, kAddressMask, &BusErrorRead, &BusErrorWrite, nullptr});
        }
    }
    void TearDown() override {
        g_cpu = saved_;
        cpu_seam::Registers r{};
        cpu_seam::SetRegisters(r);  // clears the run's prefetch and trace state
        g_cpu = saved_;
    }

    void SetWord(uint32_t address, uint16_t v) { ram_[address >> 1] = v; }
    uint16_t Word(uint32_t address) const { return ram_[address >> 1]; }
    uint32_t Long(uint32_t address) const { return uint32_t{Word(address)} << 16 | Word(address + 2); }

    // Runs `opcode` once in the mode `sr` gives; returns the vector of the group 0 exception it
    // entered (2 or 3), or 0. `otherVector` is that of another exception, else -1. A jump into
    // the faulting region takes one more step, whose opcode fetch is the bus error (`target`).
    int RunOnce(const FaultSetup& s, uint16_t opcode, uint16_t sr, int* otherVector, uint32_t* target) {
        for (int v = 0; v < 64; ++v) {
            SetWord(4 * v, static_cast<uint16_t>(Handler(v) >> 16));
            SetWord(4 * v + 2, static_cast<uint16_t>(Handler(v)));
            SetWord(Handler(v), static_cast<uint16_t>(0x7E00 | v));  // moveq #v,d7
            SetWord(Handler(v) + 2, 0x4E71);
        }
        SetWord(kProgram, opcode);
        for (uint32_t a = kProgram + 2; a <= kLastPushedPc; a += 2) SetWord(a, s.extension);
        cpu_seam::Registers r{};
        for (int i = 0; i < 7; ++i) r.a[i] = s.addresses;
        r.usp = s.addresses;
        r.ssp = kSsp;
        r.sr = sr;
        r.pc = kProgram;
        cpu_seam::SetRegisters(r);
        g_cpu.pending = 0;
        cpu_seam::Step();
        *otherVector = -1;
        *target = 0;
        for (int v = 0; v < 64; ++v)
            if (g_cpu.pc == Handler(v) && g_cpu.a[7] == kSsp - 6) *otherVector = v;
        if (s.busErrors && g_cpu.pc >= kFaultZone && !CpuHalted()) {
            // The fetch's bus error and the handler's first opcode make one step.
            *target = g_cpu.pc;
            g_cpu.d[7] = 0xFFFFFFFF;
            cpu_seam::Step();
            return g_cpu.pc == Handler(2) + 2 && g_cpu.d[7] == 2 ? 2 : 0;
        }
        if (g_cpu.pc == Handler(2)) return 2;
        if (g_cpu.pc == Handler(3)) return 3;
        return 0;
    }

    // What the handler must find after the fault, and that its first opcode runs next.
    std::string CheckFault(const FaultSetup& s, int vector, uint16_t sr, uint32_t target) {
        std::ostringstream out;
        const uint32_t frame = kSsp - 14;
        if (g_cpu.a[7] != frame) {
            out << " A7 not on the frame: " << g_cpu.a[7];
            return out.str();
        }
        const uint32_t access = Long(frame + 2), pushedPc = Long(frame + 10);
        if ((CpuGetSr() & 0xA700) != (0x2000 | (sr & 0x0700))) out << " SR " << CpuGetSr();
        if (Word(frame) != 0 || Word(frame + 6) != 0) out << " status or instruction word";
        if ((Word(frame + 8) & 0xFF00) != (sr & 0xFF00)) out << " SR pushed " << Word(frame + 8);
        if (target != 0 && (access != target || pushedPc != target))
            out << " fetch at " << target << ": access " << access << ", PC pushed " << pushedPc;
        if (target == 0 && (pushedPc < kProgram + 2 || pushedPc > kLastPushedPc))
            out << " PC pushed " << pushedPc;
        if (vector == 3 && (access & 1) == 0) out << " even access address " << access;
        if (vector == 2 && (!s.busErrors || access < kFaultZone)) out << " bus error at " << access;
        if (target != 0) return out.str();
        g_cpu.d[7] = 0xFFFFFFFF;
        cpu_seam::Step();
        if (g_cpu.pc != Handler(vector) + 2 || g_cpu.d[7] != static_cast<uint32_t>(vector))
            out << " next step did not run the handler's first opcode (PC " << g_cpu.pc << ")";
        if (g_cpu.a[7] != frame) out << " A7 left the frame: " << g_cpu.a[7];
        return out.str();
    }

    // Sweeps all 65536 opcodes in user mode, and the privileged ones again in supervisor mode.
    // Returns the opcodes that faulted; every check that failed goes to `failures`.
    std::set<uint16_t> Sweep(const FaultSetup& s, std::vector<std::string>& failures) {
        if (s.busErrors) {
            g_cpu.supervisor = g_cpu.user = g_cpu.current = busMap_.Set();
        } else {
            cpu_seam::MapFlatRam(flat_, ram_.data());
        }
        g_cpu.resetHook = nullptr;
        std::set<uint16_t> faulted;
        for (uint32_t value = 0; value < 65536; ++value) {
            const auto op = static_cast<uint16_t>(value);
            const std::string_view family = OpcodeTableEntry(op).family;
            for (const uint16_t sr : {uint16_t{0x0000}, uint16_t{0x2000}}) {
                int other;
                uint32_t target;
                const int vector = RunOnce(s, op, sr, &other, &target);
                const auto fail = [&](const std::string& problem) {
                    std::ostringstream where;
                    where << s.name << ": " << family << " " << std::hex << op << (sr ? " (supervisor)" : "")
                          << ":" << problem;
                    failures.push_back(where.str());
                };
                if (CpuHalted()) fail(" halted");
                if (vector != 0) {
                    faulted.insert(op);
                    const std::string problems = CheckFault(s, vector, sr, target);
                    if (!problems.empty()) fail(problems);
                }
                // Opcodes that are no instruction push their own address.
                const int own = family == "line A"                             ? 10
                                : family == "line F"                           ? 11
                                : (family == "illegal" || family == "ILLEGAL") ? 4
                                                                               : -1;
                if (own >= 0 && (other != own || Long(kSsp - 4) != kProgram))
                    fail(" not entered through its vector");
                // Only a privilege violation is worth a second run in supervisor mode.
                if (other != 8) break;
            }
        }
        return faulted;
    }

    std::vector<uint16_t> ram_;
    MachineTables flat_;
    MachineTables busMap_;
    CpuState saved_;
};

std::string FirstOf(const std::vector<std::string>& failures) {
    std::ostringstream text;
    text << failures.size() << " failures\n";
    for (size_t i = 0; i < failures.size() && i < 30; ++i) text << failures[i] << "\n";
    return text.str();
}

TEST_F(FaultSweepTest, EveryFaultingAccessRunsItsHandlerNext) {
    std::vector<std::string> failures;
    const std::set<uint16_t> busFaults = Sweep(kBusErrors, failures);
    std::set<uint16_t> oddFaults = Sweep(kOddRegisters, failures);
    oddFaults.merge(Sweep(kOddExtensions, failures));
    EXPECT_TRUE(failures.empty()) << FirstOf(failures);

    // Every access and every jump away from the program faults on the bus error map, so every
    // opcode that faulted at an odd address faulted there too.
    std::ostringstream missing;
    for (uint16_t op : oddFaults)
        if (!busFaults.count(op)) missing << " " << std::hex << op;
    EXPECT_TRUE(missing.str().empty()) << "faulted only at an odd address:" << missing.str();
    // ADD.W D0,(A0), SUB.L D1,(A0)+, AND.B D2,-(A1), MOVEM.L (A0)+,<list>, RTS.
    for (uint16_t op : {0xD150, 0x9398, 0xC521, 0x4CD8, 0x4E75}) {
        EXPECT_TRUE(busFaults.count(op)) << std::hex << op;
    }
    for (uint16_t op : {0xD150, 0x9398, 0x4CD8, 0x4E75}) {
        EXPECT_TRUE(oddFaults.count(op)) << std::hex << op;
    }
    EXPECT_FALSE(oddFaults.count(0xC521)) << "a byte access at an odd address";
}

}  // namespace
}  // namespace vexil

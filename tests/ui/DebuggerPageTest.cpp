// The debugger page's commands on assembled programs, driven as the page's view drives them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "support/Asm.h"
#include "ui/DebuggerPage.h"

namespace vexil {
namespace {

class DebuggerPageTest : public ::testing::Test {
protected:
    DebuggerPageTest() : program_(test::LoadAsm("debugger")), page_(Links()) {
        machine_.LoadBytes(program_.origin, program_.bytes.data(), program_.bytes.size());
        machine_.PokeLong(0, 0x8000);
    }

    DebuggerPage::Links Links() {
        DebuggerPage::Links links;
        links.machine = [this] { return &machine_; };
        links.run = [this] { ++runs_; };
        links.coldReset = [this] { ++coldResets_; };
        return links;
    }
    uint32_t Symbol(const char* name) const { return program_.Symbol(name); }
    uint32_t Long(const char* name) const { return machine_.PeekLong(Symbol(name)); }
    static std::string Hex(uint32_t address) {
        char text[16];
        std::snprintf(text, sizeof text, "%X", address);
        return text;
    }

    void Start(const char* entry) {
        machine_.PokeLong(4, Symbol(entry));
        ASSERT_EQ(machine_.Reset(false), 0);
        page_.Refresh();
    }
    // Steps until the PC reaches `label`.
    void StepTo(const char* label) {
        for (int i = 0; i < 200 && g_cpu.pc != Symbol(label); ++i) page_.Step();
        ASSERT_EQ(g_cpu.pc, Symbol(label));
    }
    // The debugger-run state until a stop condition holds; false when none did.
    bool RunToStop(int64_t turns = 4000000) {
        for (int64_t i = 0; i < turns; ++i) {
            const DebuggerPage::Outcome outcome = page_.RunTurn().outcome;
            if (outcome == DebuggerPage::Outcome::kCpuStopped) return false;
            if (outcome == DebuggerPage::Outcome::kStop) return true;
        }
        return false;
    }

    Machine machine_;
    test::AsmProgram program_;
    DebuggerPage page_;
    int runs_ = 0;
    int coldResets_ = 0;
};

TEST_F(DebuggerPageTest, ABreakpointStopsBeforeItsInstruction) {
    Start("loop");
    ASSERT_TRUE(page_.ToggleBreakpoint(Symbol("bp_here")));
    page_.Run();
    EXPECT_EQ(runs_, 1);
    ASSERT_TRUE(RunToStop());
    EXPECT_EQ(g_cpu.pc, Symbol("bp_here"));
    EXPECT_EQ(g_cpu.d[1], 1u);
    EXPECT_EQ(Long("counter"), 0u);  // the store at the breakpoint has not run
    // Resuming runs the instruction at the breakpoint and stops there the next time round.
    ASSERT_TRUE(RunToStop());
    EXPECT_EQ(g_cpu.d[1], 2u);
    EXPECT_EQ(Long("counter"), 1u);
    // A second toggle takes it away; the list holds at most 256.
    ASSERT_TRUE(page_.ToggleBreakpoint(Symbol("bp_here")));
    EXPECT_TRUE(page_.Breakpoints().empty());
    for (uint32_t n = 0; n < 256; ++n) ASSERT_TRUE(page_.ToggleBreakpoint(0x100000 + 2 * n));
    EXPECT_FALSE(page_.ToggleBreakpoint(0x200000));
    EXPECT_EQ(page_.Breakpoints().size(), 256u);
}

struct StepOverRow {
    const char* site;
    const char* end;
    bool runs;  // run to the next instruction, else one step
};

class StepOverTest : public DebuggerPageTest, public ::testing::WithParamInterface<StepOverRow> {};

TEST_P(StepOverTest, CallsRunToTheNextInstructionWithTheStackAsItWas) {
    const StepOverRow& row = GetParam();
    Start("calls");
    StepTo(row.site);
    const uint32_t stack = g_cpu.a[7];
    const uint16_t sr = g_cpu.sr;
    page_.StepOver();
    EXPECT_EQ(runs_, row.runs ? 1 : 0);
    if (row.runs) {
        ASSERT_TRUE(RunToStop(10000));
    }
    EXPECT_EQ(g_cpu.pc, Symbol(row.end));
    EXPECT_EQ(g_cpu.a[7], stack);
    EXPECT_EQ(g_cpu.sr & kSrSystemBits, sr & kSrSystemBits);
}

INSTANTIATE_TEST_SUITE_P(Instructions, StepOverTest,
                         ::testing::Values(StepOverRow{"call_jsr", "after_jsr", true},
                                           StepOverRow{"call_bsr", "after_bsr", true},
                                           StepOverRow{"call_dbra", "after_dbra", true},
                                           StepOverRow{"call_trap", "after_trap", true},
                                           StepOverRow{"call_bra", "bra_target", false},
                                           StepOverRow{"call_moveq", "after_moveq", false}));

TEST_F(DebuggerPageTest, StepOverAJsrRunsTheWholeCall) {
    Start("calls");
    StepTo("call_jsr");
    page_.StepOver();
    ASSERT_TRUE(RunToStop(10000));
    EXPECT_EQ(g_cpu.d[2], 2u);  // sub and inner ran
}

TEST_F(DebuggerPageTest, SkipMovesThePcByTheInstructionsLength) {
    Start("prefetch");
    StepTo("victim");
    const uint32_t d6 = g_cpu.d[6];
    page_.Skip();  // moveq: 2 bytes
    EXPECT_EQ(g_cpu.pc, Symbol("victim") + 2);
    EXPECT_EQ(g_cpu.d[6], d6);
    page_.Skip();  // moveq
    page_.Skip();  // move.l #imm,d5: 6 bytes
    EXPECT_EQ(g_cpu.pc, Symbol("after_long"));
    EXPECT_EQ(g_cpu.d[5], 0u);
}

TEST_F(DebuggerPageTest, SkipDropsTheOpcodeCapturedBeforeAWrite) {
    Start("prefetch");
    StepTo("victim");  // the OR has captured "moveq #1,d6"
    page_.Skip();
    page_.Step();
    EXPECT_EQ(g_cpu.d[6], 0u) << "the skipped opcode ran at the new PC";
    EXPECT_EQ(g_cpu.d[7], 2u);
    EXPECT_EQ(g_cpu.pc, Symbol("victim") + 4);
}

TEST_F(DebuggerPageTest, AnEditedInstructionRunsAsEdited) {
    Start("prefetch");
    StepTo("victim");
    ASSERT_TRUE(page_.ShowMemory(Hex(Symbol("victim") + 1)));
    page_.Key(DebugKey::kCtrlTab);
    page_.TypeDigit(0);
    page_.TypeDigit(5);  // moveq #5,d6
    page_.Step();
    EXPECT_EQ(g_cpu.d[6], 5u);
}

struct EditRow {
    const char* keys;  // hex digits typed; '>' '<' move the cursor, 'x' is Backspace
    uint8_t bytes[4];
    uint32_t cursor;  // from the first byte
    int half;
};

class MemoryEditTest : public DebuggerPageTest, public ::testing::WithParamInterface<EditRow> {};

TEST_P(MemoryEditTest, AByteIsWrittenWithItsSecondDigit) {
    const EditRow& row = GetParam();
    Start("nops");
    const uint32_t data = Symbol("data");
    ASSERT_TRUE(page_.ShowMemory(Hex(data)));
    page_.Key(DebugKey::kCtrlTab);
    ASSERT_EQ(page_.ActivePane(), DebuggerPage::kMemoryPane);
    for (const char* k = row.keys; *k; ++k) {
        if (*k == '>')
            page_.Key(DebugKey::kRight);
        else if (*k == '<')
            page_.Key(DebugKey::kLeft);
        else if (*k == 'x')
            page_.Key(DebugKey::kBackspace);
        else
            page_.TypeDigit(static_cast<unsigned>(std::stoi(std::string(1, *k), nullptr, 16)));
    }
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(machine_.PeekByte(data + i), row.bytes[i]) << "byte " << i;
    EXPECT_EQ(page_.Cursor(), data + row.cursor);
    EXPECT_EQ(page_.HalfDigit(), row.half);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, MemoryEditTest,
    ::testing::Values(EditRow{"1", {0, 0, 0, 0}, 0, 1}, EditRow{"1F", {0x1F, 0, 0, 0}, 1, -1},
                      EditRow{"1F2", {0x1F, 0, 0, 0}, 1, 2}, EditRow{"1>", {0, 0, 0, 0}, 1, -1},
                      EditRow{"1>2A", {0, 0x2A, 0, 0}, 2, -1}, EditRow{"1x3C", {0x3C, 0, 0, 0}, 1, -1},
                      EditRow{">>AB<", {0, 0, 0xAB, 0}, 2, -1}));

struct InterruptRow {
    int source;              // the switch turned on, -1 none
    const char* breakpoint;  // or a breakpoint there
    const char* handler;     // where it stops, before the handler's first instruction
    const char* count;       // the handler's count, still 0
    uint16_t level;
};

class BreakOnInterruptTest : public DebuggerPageTest, public ::testing::WithParamInterface<InterruptRow> {};

TEST_P(BreakOnInterruptTest, StopsAtTheHandlersEntry) {
    const InterruptRow& row = GetParam();
    Start("interrupts");
    if (row.source >= 0) page_.SetBreakOn(row.source, true);
    if (row.breakpoint) page_.ToggleBreakpoint(Symbol(row.breakpoint));
    ASSERT_TRUE(RunToStop());
    EXPECT_EQ(g_cpu.pc, Symbol(row.handler));
    EXPECT_EQ(Long(row.count), 0u);
    EXPECT_EQ((g_cpu.sr >> 8) & 7, row.level);
}

INSTANTIATE_TEST_SUITE_P(Sources, BreakOnInterruptTest,
                         ::testing::Values(InterruptRow{kBreakTimerB, nullptr, "timer_b", "timer_bs", 6},
                                           InterruptRow{kBreakVbl, nullptr, "vbl", "vbls", 4},
                                           InterruptRow{-1, "timer_b", "timer_b", "timer_bs", 6},
                                           InterruptRow{-1, "vbl", "vbl", "vbls", 4}));

TEST_F(DebuggerPageTest, AMaskedInterruptNeverBreaks) {
    Start("interrupts");
    page_.SetBreakOn(kBreakHbl, true);  // posted every line, masked at IPL 3
    ASSERT_TRUE(page_.RunForNops("100000"));
    ASSERT_TRUE(RunToStop());
    EXPECT_EQ(page_.NopTarget(), 0);  // the NOP count stopped it
    EXPECT_GT(Long("vbls"), 1u);
    EXPECT_EQ(Long("hbls"), 0u);
}

struct NopRow {
    const char* text;
    bool accepted;
    int64_t cycles;
};

class RunForNopsTest : public DebuggerPageTest, public ::testing::WithParamInterface<NopRow> {};

TEST_P(RunForNopsTest, StopsOnceTheCountFromTheStartIsReached) {
    const NopRow& row = GetParam();
    Start("nops");
    EXPECT_EQ(page_.RunForNops(row.text), row.accepted);
    EXPECT_EQ(runs_, row.accepted ? 1 : 0);
    if (!row.accepted) {
        EXPECT_FALSE(page_.Message().empty());
        return;
    }
    ASSERT_TRUE(RunToStop());
    EXPECT_GE(page_.CyclesRun(), row.cycles);
    EXPECT_LT(page_.CyclesRun(), row.cycles + 12);
}

INSTANTIATE_TEST_SUITE_P(Counts, RunForNopsTest,
                         ::testing::Values(NopRow{"100", true, 400}, NopRow{" 500000 ", true, 2000000},
                                           NopRow{"", false, 0}, NopRow{"abc", false, 0},
                                           NopRow{"-5", false, 0}, NopRow{"0", false, 0},
                                           NopRow{"12x", false, 0}, NopRow{"2305843009213693952", false, 0},
                                           NopRow{"9999999999999999999", false, 0},
                                           NopRow{"99999999999999999999", false, 0}));

TEST_F(DebuggerPageTest, TypedAddressesAreMaskedTo24Bits) {
    Start("nops");
    ASSERT_TRUE(page_.GoTo("1FC0001"));
    EXPECT_EQ(page_.Lines()[0].address, 0xFC0000u);
    ASSERT_TRUE(page_.ToggleBreakpointAt("$FF001003"));
    ASSERT_EQ(page_.Breakpoints().size(), 1u);
    EXPECT_EQ(page_.Breakpoints()[0], 0x1002u);
    ASSERT_TRUE(page_.ShowMemory("0x1234567"));
    EXPECT_EQ(page_.MemoryBase(), 0x234567u);
    EXPECT_EQ(page_.Cursor(), 0x234567u);
    for (const char* bad : {"", "xyz", "123456789", "$", "12 34"}) {
        EXPECT_FALSE(page_.GoTo(bad)) << bad;
        EXPECT_FALSE(page_.ToggleBreakpointAt(bad)) << bad;
    }
    EXPECT_EQ(page_.Breakpoints().size(), 1u);
}

TEST_F(DebuggerPageTest, TheDisassemblyFollowsThePcWhenNoLineStartsAtIt) {
    Start("misaligned");
    page_.Step();
    const uint32_t pc = Symbol("misaligned_next");
    ASSERT_EQ(g_cpu.pc, pc);
    ASSERT_TRUE(page_.GoTo(Hex(pc - 2)));  // decodes a jsr over the PC
    for (const DebuggerPage::Line& line : page_.Lines()) ASSERT_NE(line.address, pc);
    page_.Refresh();
    EXPECT_EQ(page_.Lines()[0].address, pc);
    EXPECT_TRUE(page_.Lines()[0].pc);
}

TEST_F(DebuggerPageTest, TheViewsReadTheIoPageWithoutActing) {
    Start("nops");
    // A byte waits in the keyboard ACIA: reading its data register would take it.
    machine_.GetAcias().Receive(0x42);
    EXPECT_EQ(page_.PeekByte(0xFFFC02), 0x42);
    EXPECT_EQ(page_.PeekByte(0xFFFC02), 0x42);
    EXPECT_TRUE(machine_.GetAcias().KeyboardStatus() & 1);
    // The floppy controller has completed a command: reading its status would release INTRQ.
    machine_.Fdc().WriteWord(0x06, 0x80, g_cpu.clock);
    machine_.Fdc().WriteWord(0x04, 0xD8, g_cpu.clock);
    ASSERT_EQ(machine_.RunFrame(), kRunBudgetSpent);
    ASSERT_EQ(machine_.Fdc().State().interruptReleased, 0u);
    EXPECT_NE(page_.PeekByte(0xFF8605), -1);
    EXPECT_EQ(machine_.Fdc().State().interruptReleased, 0u);
    // A page with no chip is a bus error to the processor; the view shows nothing there.
    EXPECT_EQ(page_.PeekByte(0xFF8E00), -1);
}

struct RegisterEdit {
    const char* name;
    const char* text;
    bool taken;
};

class RegisterEditTest : public DebuggerPageTest, public ::testing::WithParamInterface<RegisterEdit> {};

// A refused value leaves every register as it was.
TEST_P(RegisterEditTest, AValueIsTakenOrRefusedWholly) {
    const RegisterEdit& e = GetParam();
    Start("prefetch");
    const CpuState before = g_cpu;
    EXPECT_EQ(page_.SetRegister(e.name, e.text), e.taken) << page_.Message();
    if (e.taken) {
        uint32_t value = 0;
        std::sscanf(e.text, "%x", &value);
        EXPECT_EQ(page_.RegisterText(e.name),
                  (std::string(e.name) == "SR" ? std::string(e.text)
                                               : std::string(8 - std::strlen(e.text), '0') + e.text));
    } else {
        EXPECT_FALSE(page_.Message().empty());
        EXPECT_EQ(std::memcmp(g_cpu.d, before.d, sizeof before.d), 0);
        EXPECT_EQ(std::memcmp(g_cpu.a, before.a, sizeof before.a), 0);
        EXPECT_EQ(g_cpu.pc, before.pc);
        EXPECT_EQ(CpuGetSr(), before.sr);
    }
}

INSTANTIATE_TEST_SUITE_P(Registers, RegisterEditTest,
                         ::testing::Values(RegisterEdit{"D3", "DEADBEEF", true},
                                           RegisterEdit{"A6", "123456", true},
                                           RegisterEdit{"A7'", "7FF0", true},
                                           RegisterEdit{"SR", "2315", true},
                                           RegisterEdit{"SR", "0700", false},  // leaves supervisor mode
                                           RegisterEdit{"SR", "A700", false},  // trace
                                           RegisterEdit{"PC", "1001", false},  // odd
                                           RegisterEdit{"D8", "1", false}, RegisterEdit{"D0", "xyz", false},
                                           RegisterEdit{"D0", "100000000", false}));

TEST_F(DebuggerPageTest, AnEditedPcRunsFromThere) {
    Start("prefetch");
    StepTo("victim");
    ASSERT_TRUE(page_.SetRegister("PC", Hex(Symbol("victim") + 4)));  // over both moveq
    page_.Step();                                                     // move.l #imm,d5
    EXPECT_EQ(g_cpu.pc, Symbol("after_long"));
    EXPECT_EQ(g_cpu.d[5], 0x12345678u);
    EXPECT_NE(g_cpu.d[6], 1u);
}

// A click lands on the register whose name and value the row shows there.
TEST_F(DebuggerPageTest, AClickFindsTheRegisterTheRowShowsThere) {
    Start("prefetch");
    const std::vector<std::string> rows = page_.RegisterRows();
    int found = 0;
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        for (int column = 0; column < static_cast<int>(rows[row].size()); ++column) {
            const std::string reg = DebuggerPage::RegisterAt(row, column);
            if (reg.empty()) continue;
            ++found;
            const std::string shown = rows[row];
            const size_t at = shown.find(reg + (reg == "A7'" ? "" : " "));
            ASSERT_NE(at, std::string::npos) << reg << " in " << shown;
            EXPECT_LE(at, static_cast<size_t>(column)) << reg;
            EXPECT_NE(shown.find(page_.RegisterText(reg), at), std::string::npos) << reg;
        }
    }
    EXPECT_EQ(found, 8 * 22 + 11 + 7 + 11);
}

}  // namespace
}  // namespace vexil

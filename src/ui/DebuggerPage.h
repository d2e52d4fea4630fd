// The debugger page: the 68000's registers, sixteen lines of disassembly, a memory dump that
// is edited in place, the floppy controller's and its DMA's state, breakpoints and the eight
// break-on-interrupt switches; from it the machine is stepped, or run in the debugger-run
// state, where one instruction at a time is executed and the stop conditions are checked
// after each.
//
// This is the page's logic; the host draws it from the state below and calls the commands for
// what the user does. Everything it reads goes through the debug read, which acts on nothing
// (the I/O page shows what the chips hold), and every change it makes (skip, memory edits)
// drops a word the processor captured before a write, so the next instruction is the one
// that now stands at the PC.
//
// Keys (the host passes them while the page has the keyboard):
//   Ctrl+Tab  disassembly / memory pane     G  go to an address (disassembly)
//   M  memory address    T  run for a number of NOP-equivalent cycles    B  toggle a breakpoint
//   F5 run   F6 step   F7 step over (JSR, BSR, TRAP, DBcc; else a step)   F8 skip
//   disassembly pane: Up, Down one instruction, Page Up, Page Down sixteen, Home the PC
//   memory pane: arrows, Page Up, Page Down move the cursor; hex digits edit the byte (it is
//   written when its second digit is typed); Backspace and Delete drop a half-typed digit
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/Disassembler.h"

namespace vexil {

class Machine;

// The break-on-interrupt switches, in the page's order.
enum BreakSource : int32_t {
    kBreakTimerA = 0,
    kBreakTimerB,
    kBreakTimerC,
    kBreakTimerD,
    kBreakVbl,
    kBreakHbl,
    kBreakAcia,
    kBreakFdc,
    kBreakSources,
};
const char* BreakSourceCaption(int source);
// The source of an interrupt the processor took at `level` through `vector`; -1 for none of
// the eight (the MFP's other channels).
int BreakSourceOf(int32_t level, int32_t vector);

enum class DebugKey {
    kCtrlTab,
    kUp,
    kDown,
    kLeft,
    kRight,
    kPageUp,
    kPageDown,
    kHome,
    kBackspace,
    kRun,       // F5
    kStep,      // F6
    kStepOver,  // F7
    kSkip,      // F8
};

class DebuggerPage {
public:
    static constexpr int kLines = 16;
    static constexpr int kMemoryColumns = 8;
    static constexpr int kMemoryRows = 16;
    static constexpr uint32_t kMemoryBytes = kMemoryColumns * kMemoryRows;
    static constexpr int kMaxBreakpoints = 256;
    enum Pane : int32_t { kDisassemblyPane = 0, kMemoryPane = 1 };

    // How the page reaches the rest of the program: the machine in use (it may be rebuilt at a
    // cold reset), the debugger-run state (hides the bar and enters it), and a cold reset
    // for a processor that stopped during a step.
    struct Links {
        std::function<Machine*()> machine;
        std::function<void()> run;
        std::function<void()> coldReset;
    };
    explicit DebuggerPage(Links links);

    // ---- what the page shows
    struct Line {
        uint32_t address = 0;
        char text[48] = {};
        bool pc = false;
        bool breakpoint = false;
    };
    const std::array<Line, kLines>& Lines() const { return lines_; }
    Pane ActivePane() const { return pane_; }
    uint32_t MemoryBase() const { return memoryBase_; }
    uint32_t Cursor() const { return cursor_; }
    // The digit typed for the cursor's byte, -1 when none is pending.
    int HalfDigit() const { return half_; }
    // The byte at an address as a read gives it, acting on nothing; -1 where a read is a bus
    // error or nothing is mapped.
    int32_t PeekByte(uint32_t address) const;
    const std::vector<uint32_t>& Breakpoints() const { return breakpoints_; }
    bool BreakOn(int source) const { return breakOn_[source & 7]; }
    // The register pane's rows: D0-D7 beside A0-A7 with the memory they point at, A7', SR, PC,
    // the cycle clock.
    std::vector<std::string> RegisterRows() const;
    // The register a character of the register pane's rows stands in ("D3", "A7'", "SR", "PC";
    // empty where there is none), for a click that edits it.
    static std::string RegisterAt(int row, int column);
    // The register's value as its edit starts, in hex.
    std::string RegisterText(std::string_view name) const;
    // Sets a register from hex text; false (with Message) when the name or the value is refused:
    // an odd PC, or an SR that changes the trace or supervisor bit.
    bool SetRegister(std::string_view name, std::string_view text);
    // The floppy controller group's rows.
    std::vector<std::string> FloppyRows() const;
    // Why the last typed value was refused; empty when it was taken.
    const std::string& Message() const { return message_; }

    // ---- commands
    // The page is shown again after a stop: the disassembly follows the PC.
    void Refresh();
    void Key(DebugKey key);
    // A hex digit 0-15 typed in the memory pane.
    void TypeDigit(unsigned digit);
    void SetPane(Pane pane) { pane_ = pane; }
    // The text typed for G, M, B and T; false (with Message) when it is not a number.
    bool GoTo(std::string_view text);
    bool ShowMemory(std::string_view text);
    bool ToggleBreakpointAt(std::string_view text);
    bool RunForNops(std::string_view text);
    // A click in the memory pane (row 0-15, column 0-7) moves the cursor there.
    void ClickByte(int row, int column);
    // A click in the disassembly pane's margin toggles the breakpoint of that line.
    void ToggleLineBreakpoint(int line);
    // False when 256 are set and the address is not one of them.
    bool ToggleBreakpoint(uint32_t address);
    void SetBreakOn(int source, bool on) { breakOn_[source & 7] = on; }
    void Run();
    void Step();
    void StepOver();
    void Skip();

    // ---- the debugger-run state
    enum class Outcome { kGoOn, kStop, kCpuStopped };
    struct Turn {
        Outcome outcome = Outcome::kGoOn;
        bool frameEnded = false;  // the frame's picture is ready
    };
    // One instruction (or the entry of an interrupt the processor takes first), then the stop
    // conditions: an interrupt taken whose switch is on, the step-over address reached with the
    // stack back where it was, the NOP target reached, a breakpoint at the PC.
    Turn RunTurn();
    // Cycles run since the last run for NOP-equivalent cycles started.
    int64_t CyclesRun() const { return cyclesRun_; }
    int64_t NopTarget() const { return nopTarget_; }

private:
    struct Advance {
        uint32_t cpu = 0x80000000;  // CpuRun's result
        bool frameEnded = false;
        int source = -1;  // the interrupt taken, as a break source
        bool interrupt = false;
    };
    Advance AdvanceOne(Machine& machine);
    // Debug accesses to the machine in use (none: unmapped).
    uint32_t PeekWord(uint32_t address) const;
    int32_t PokeByte(uint32_t address, uint8_t value);
    void Fill();
    void FollowPc();
    void Scroll(int instructions);
    void MoveCursor(int64_t bytes);
    void SetCursor(uint32_t address);
    void Edited();
    bool Stopped();

    Links links_;
    Disassembler disassembler_;
    std::array<Line, kLines> lines_{};
    uint32_t top_ = 0;
    Pane pane_ = kDisassemblyPane;
    uint32_t memoryBase_ = 0;
    uint32_t cursor_ = 0;
    int half_ = -1;
    std::vector<uint32_t> breakpoints_;
    bool breakOn_[kBreakSources] = {};
    int64_t runTo_ = -1;
    uint32_t runToStack_ = 0;
    int64_t nopTarget_ = 0;
    int64_t cyclesRun_ = 0;
    std::string message_;
};

}  // namespace vexil

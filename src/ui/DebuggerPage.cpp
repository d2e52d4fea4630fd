#include "ui/DebuggerPage.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "cpu/Cpu.h"
#include "io/Mfp.h"
#include "machine/Machine.h"

namespace vexil {

namespace {

constexpr uint32_t kCodeMask = kAddressMask & ~1u;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// A hexadecimal address, with or without "$" or "0x" in front; at most 32 bits.
bool ParseHex(std::string_view text, uint32_t& out) {
    text = Trim(text);
    if (!text.empty() && text.front() == '$')
        text.remove_prefix(1);
    else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 8) return false;
    uint32_t value = 0;
    for (const char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        value = value << 4 | digit;
    }
    out = value;
    return true;
}

// A positive decimal count whose cycles (four per NOP) fit in 64 bits.
bool ParseNops(std::string_view text, int64_t& out) {
    text = Trim(text);
    if (text.empty() || text.size() > 19) return false;
    constexpr int64_t kMost = INT64_MAX / 4;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (value > (kMost - digit) / 10) return false;  // past the largest count, before it overflows
        value = value * 10 + digit;
    }
    if (value < 1) return false;
    out = value;
    return true;
}

bool IsCall(uint16_t opcode) {
    return (opcode & 0xFFC0) == 0x4E80      // jsr
           || (opcode & 0xFF00) == 0x6100   // bsr
           || (opcode & 0xFFF0) == 0x4E40   // trap
           || (opcode & 0xF0F8) == 0x50C8;  // dbcc
}

}  // namespace

const char* BreakSourceCaption(int source) {
    static const char* const kCaptions[kBreakSources] = {"Timer A", "Timer B", "Timer C", "Timer D",
                                                         "VBL",     "HBL",     "ACIA",    "FDC"};
    return source >= 0 && source < kBreakSources ? kCaptions[source] : "";
}

int BreakSourceOf(int32_t level, int32_t vector) {
    switch (level) {
        case 2:
            return kBreakHbl;
        case 4:
            return kBreakVbl;
        case 6:
            switch (vector & 0x0F) {
                case mfp::kChannelTimerA:
                    return kBreakTimerA;
                case mfp::kChannelTimerB:
                    return kBreakTimerB;
                case mfp::kChannelTimerC:
                    return kBreakTimerC;
                case mfp::kChannelTimerD:
                    return kBreakTimerD;
                case mfp::kChannelAcia:
                    return kBreakAcia;
                case mfp::kChannelFloppy:
                    return kBreakFdc;
                default:
                    return -1;
            }
        default:
            return -1;
    }
}

uint32_t DebuggerPage::PeekWord(uint32_t address) const {
    Machine* machine = links_.machine ? links_.machine() : nullptr;
    return machine ? DebugReadWord(machine->Tables(), address, CpuCurrentCycle()) : 0xFFFFFFFF;
}

int32_t DebuggerPage::PokeByte(uint32_t address, uint8_t value) {
    Machine* machine = links_.machine ? links_.machine() : nullptr;
    return machine ? DebugWriteByte(machine->Tables(), address, value, CpuCurrentCycle()) : -1;
}

DebuggerPage::DebuggerPage(Links links)
    : links_(std::move(links)), disassembler_([this](uint32_t address) { return PeekWord(address); }) {
    breakpoints_.reserve(kMaxBreakpoints);
}

bool DebuggerPage::Stopped() {
    return links_.machine == nullptr || links_.machine() == nullptr;
}

int32_t DebuggerPage::PeekByte(uint32_t address) const {
    const uint32_t word = PeekWord(address & kCodeMask);
    if (word > 0xFFFF) return -1;
    return static_cast<int32_t>((address & 1) ? word & 0xFF : word >> 8);
}

// ---- the disassembly --------------------------------------------------------------------------

void DebuggerPage::Fill() {
    if (Stopped()) return;
    const uint32_t pc = g_cpu.pc & kAddressMask;
    disassembler_.SetAddress(top_);
    for (Line& line : lines_) {
        line.address = disassembler_.GetAddress() & kAddressMask;
        std::snprintf(line.text, sizeof line.text, "%-44.44s", disassembler_.DisassembleOne());
        line.pc = line.address == pc;
        line.breakpoint =
            std::find(breakpoints_.begin(), breakpoints_.end(), line.address) != breakpoints_.end();
    }
}

void DebuggerPage::FollowPc() {
    Fill();
    const uint32_t pc = g_cpu.pc & kAddressMask;
    if (std::none_of(lines_.begin(), lines_.end(), [pc](const Line& line) { return line.address == pc; })) {
        top_ = pc;
        Fill();
    }
}

void DebuggerPage::Refresh() {
    if (Stopped()) return;
    FollowPc();
}

void DebuggerPage::Scroll(int instructions) {
    if (Stopped()) return;
    for (; instructions < 0; ++instructions)
        top_ = disassembler_.PreviousInstructionAddress(top_) & kAddressMask;
    for (; instructions > 0; --instructions) top_ = disassembler_.NextInstructionAddress(top_) & kAddressMask;
    Fill();
}

bool DebuggerPage::GoTo(std::string_view text) {
    uint32_t address;
    if (!ParseHex(text, address)) {
        message_ = "Not an address: " + std::string(Trim(text));
        return false;
    }
    message_.clear();
    top_ = address & kCodeMask;
    Fill();
    return true;
}

// ---- breakpoints ------------------------------------------------------------------------------

bool DebuggerPage::ToggleBreakpoint(uint32_t address) {
    address &= kAddressMask;
    const auto found = std::find(breakpoints_.begin(), breakpoints_.end(), address);
    if (found != breakpoints_.end()) {
        breakpoints_.erase(found);
    } else if (breakpoints_.size() < kMaxBreakpoints) {
        breakpoints_.push_back(address);
    } else {
        message_ = "No more than 256 breakpoints";
        return false;
    }
    Fill();
    return true;
}

void DebuggerPage::ToggleLineBreakpoint(int line) {
    if (line < 0 || line >= kLines) return;
    pane_ = kDisassemblyPane;
    ToggleBreakpoint(lines_[line].address);
}

bool DebuggerPage::ToggleBreakpointAt(std::string_view text) {
    uint32_t address;
    if (!ParseHex(text, address)) {
        message_ = "Not an address: " + std::string(Trim(text));
        return false;
    }
    message_.clear();
    return ToggleBreakpoint(address & kCodeMask);
}

// ---- the memory dump --------------------------------------------------------------------------

void DebuggerPage::SetCursor(uint32_t address) {
    half_ = -1;
    cursor_ = address & kAddressMask;
}

void DebuggerPage::MoveCursor(int64_t bytes) {
    half_ = -1;
    cursor_ = static_cast<uint32_t>(cursor_ + bytes) & kAddressMask;
    if (((cursor_ - memoryBase_) & kAddressMask) >= kMemoryBytes)
        memoryBase_ = static_cast<uint32_t>(memoryBase_ + bytes) & kAddressMask;
}

bool DebuggerPage::ShowMemory(std::string_view text) {
    uint32_t address;
    if (!ParseHex(text, address)) {
        message_ = "Not an address: " + std::string(Trim(text));
        return false;
    }
    message_.clear();
    memoryBase_ = address & kAddressMask;
    SetCursor(address);
    return true;
}

void DebuggerPage::ClickByte(int row, int column) {
    if (row < 0 || row >= kMemoryRows || column < 0 || column >= kMemoryColumns) return;
    pane_ = kMemoryPane;
    SetCursor(memoryBase_ + static_cast<uint32_t>(row * kMemoryColumns + column));
}

void DebuggerPage::TypeDigit(unsigned digit) {
    if (pane_ != kMemoryPane || digit > 15 || Stopped()) return;
    if (half_ < 0) {
        half_ = static_cast<int>(digit);  // written with the second digit
        return;
    }
    const uint8_t value = static_cast<uint8_t>(half_ << 4 | digit);
    half_ = -1;
    if (PokeByte(cursor_, value) < 0) {
        char text[48];
        std::snprintf(text, sizeof text, "Nothing to write at %06X", cursor_);
        message_ = text;
    } else {
        message_.clear();
    }
    Edited();
    MoveCursor(1);
}

// Memory or the PC changed under the processor: a word it captured before a write no longer
// stands for the next instruction.
void DebuggerPage::Edited() {
    CpuDiscardPrefetch();
    Fill();
}

// ---- keys -------------------------------------------------------------------------------------

void DebuggerPage::Key(DebugKey key) {
    switch (key) {
        case DebugKey::kCtrlTab:
            pane_ = pane_ == kDisassemblyPane ? kMemoryPane : kDisassemblyPane;
            return;
        case DebugKey::kRun:
            Run();
            return;
        case DebugKey::kStep:
            Step();
            return;
        case DebugKey::kStepOver:
            StepOver();
            return;
        case DebugKey::kSkip:
            Skip();
            return;
        default:
            break;
    }
    if (pane_ == kDisassemblyPane) {
        switch (key) {
            case DebugKey::kUp:
                Scroll(-1);
                break;
            case DebugKey::kDown:
                Scroll(1);
                break;
            case DebugKey::kPageUp:
                Scroll(-kLines);
                break;
            case DebugKey::kPageDown:
                Scroll(kLines);
                break;
            case DebugKey::kHome:
                top_ = g_cpu.pc & kAddressMask;
                Fill();
                break;
            default:
                break;
        }
        return;
    }
    switch (key) {
        case DebugKey::kPageUp:
        case DebugKey::kPageDown: {
            const uint32_t step = key == DebugKey::kPageUp ? 0u - kMemoryBytes : kMemoryBytes;
            memoryBase_ = (memoryBase_ + step) & kAddressMask;
            SetCursor(cursor_ + step);
            break;
        }
        case DebugKey::kUp:
            MoveCursor(-kMemoryColumns);
            break;
        case DebugKey::kDown:
            MoveCursor(kMemoryColumns);
            break;
        case DebugKey::kLeft:
            MoveCursor(-1);
            break;
        case DebugKey::kRight:
            MoveCursor(1);
            break;
        case DebugKey::kBackspace:
            half_ = -1;
            break;
        default:
            break;
    }
}

// ---- running ----------------------------------------------------------------------------------

void DebuggerPage::Run() {
    runTo_ = -1;
    if (links_.run) links_.run();
}

bool DebuggerPage::RunForNops(std::string_view text) {
    int64_t nops;
    if (!ParseNops(text, nops)) {
        message_ = "Not a number of NOPs: " + std::string(Trim(text));
        return false;
    }
    message_.clear();
    nopTarget_ = nops * 4;
    cyclesRun_ = 0;
    Run();
    return true;
}

void DebuggerPage::Step() {
    if (Stopped()) return;
    const Advance advance = AdvanceOne(*links_.machine());
    if (advance.cpu != kRunBudgetSpent && links_.coldReset) links_.coldReset();
    FollowPc();
}

void DebuggerPage::StepOver() {
    if (Stopped()) return;
    const uint32_t pc = g_cpu.pc & kAddressMask;
    disassembler_.SetAddress(pc);
    disassembler_.DisassembleOne();
    const uint32_t next = disassembler_.GetAddress() & kAddressMask;
    if (!disassembler_.LastDefined() || !IsCall(static_cast<uint16_t>(PeekWord(pc)))) {
        Step();
        return;
    }
    runTo_ = next;
    runToStack_ = g_cpu.a[7];
    if (links_.run) links_.run();
}

void DebuggerPage::Skip() {
    if (Stopped()) return;
    g_cpu.pc = disassembler_.NextInstructionAddress(g_cpu.pc & kAddressMask);
    Edited();
    FollowPc();
}

// One instruction, or the entry of an interrupt that is due before it: the debugger sees the
// handler's first instruction before it runs.
DebuggerPage::Advance DebuggerPage::AdvanceOne(Machine& machine) {
    const Machine::Step step = machine.StepInstruction();
    cyclesRun_ += step.cycles;
    Advance advance;
    advance.cpu = step.cpu;
    advance.frameEnded = step.frameEnded;
    if (step.interrupt) {
        advance.interrupt = true;
        advance.source = BreakSourceOf(step.taken.level, step.taken.vector);
    }
    return advance;
}

DebuggerPage::Turn DebuggerPage::RunTurn() {
    Turn turn;
    if (Stopped()) {
        turn.outcome = Outcome::kStop;
        return turn;
    }
    const Advance advance = AdvanceOne(*links_.machine());
    turn.frameEnded = advance.frameEnded;
    if (advance.cpu != kRunBudgetSpent) {
        turn.outcome = Outcome::kCpuStopped;
        return turn;
    }
    const uint32_t pc = g_cpu.pc & kAddressMask;
    bool stop = advance.interrupt && advance.source >= 0 && breakOn_[advance.source];
    if (runTo_ >= 0 && pc == static_cast<uint32_t>(runTo_) && g_cpu.a[7] >= runToStack_) stop = true;
    if (nopTarget_ > 0 && cyclesRun_ >= nopTarget_) {
        nopTarget_ = 0;
        stop = true;
    }
    if (std::find(breakpoints_.begin(), breakpoints_.end(), pc) != breakpoints_.end()) stop = true;
    if (stop) {
        runTo_ = -1;
        turn.outcome = Outcome::kStop;
    }
    return turn;
}

// ---- the register and floppy panes ------------------------------------------------------------

std::vector<std::string> DebuggerPage::RegisterRows() const {
    std::vector<std::string> rows;
    if (links_.machine == nullptr || links_.machine() == nullptr) return rows;
    // The five words from an address (a byte first when it is odd).
    const auto words = [this](uint32_t address) {
        std::string text;
        char item[8];
        address &= kAddressMask;
        if (address & 1) {
            const int32_t byte = PeekByte(address);
            std::snprintf(item, sizeof item, byte < 0 ? " --" : " %02X", static_cast<unsigned>(byte));
            text += item;
            ++address;
        }
        for (int i = 0; i < 5; ++i, address += 2) {
            const uint32_t word = PeekWord(address & kAddressMask);
            std::snprintf(item, sizeof item, word > 0xFFFF ? " ----" : " %04X", static_cast<unsigned>(word));
            text += item;
        }
        return text;
    };
    char row[96];
    for (int n = 0; n < 8; ++n) {
        std::snprintf(row, sizeof row, "D%d %08X  A%d %08X ", n, g_cpu.d[n], n, g_cpu.a[n]);
        rows.push_back(row + words(g_cpu.a[n]));
    }
    std::snprintf(row, sizeof row, "%14sA7'%08X ", "", g_cpu.otherSp);
    rows.push_back(row + words(g_cpu.otherSp));
    std::snprintf(row, sizeof row, "SR %04X  PC %08X  CS %08X", CpuGetSr(), g_cpu.pc,
                  static_cast<uint32_t>(g_cpu.clock));
    rows.push_back(row);
    return rows;
}

// The rows read "Dn xxxxxxxx  An xxxxxxxx ...", then "A7'xxxxxxxx" from column 14, then
// "SR xxxx  PC xxxxxxxx".
std::string DebuggerPage::RegisterAt(int row, int column) {
    if (row >= 0 && row < 8) {
        const char digit = static_cast<char>('0' + row);
        if (column >= 0 && column < 11) return std::string{'D', digit};
        if (column >= 13 && column < 24) return std::string{'A', digit};
    } else if (row == 8 && column >= 14 && column < 25) {
        return "A7'";
    } else if (row == 9) {
        if (column >= 0 && column < 7) return "SR";
        if (column >= 9 && column < 20) return "PC";
    }
    return {};
}

namespace {

// The register a name stands for, or null.
uint32_t* RegisterOf(std::string_view name) {
    if (name.size() == 2 && name[1] >= '0' && name[1] <= '7') {
        if (name[0] == 'D') return &g_cpu.d[name[1] - '0'];
        if (name[0] == 'A') return &g_cpu.a[name[1] - '0'];
    }
    if (name == "A7'") return &g_cpu.otherSp;
    if (name == "PC") return &g_cpu.pc;
    return nullptr;
}

}  // namespace

std::string DebuggerPage::RegisterText(std::string_view name) const {
    char text[16] = {};
    if (name == "SR")
        std::snprintf(text, sizeof text, "%04X", CpuGetSr());
    else if (const uint32_t* reg = RegisterOf(name))
        std::snprintf(text, sizeof text, "%08X", *reg);
    return text;
}

bool DebuggerPage::SetRegister(std::string_view name, std::string_view text) {
    uint32_t value;
    if (!ParseHex(text, value)) {
        message_ = "Not a value: " + std::string(Trim(text));
        return false;
    }
    if (name == "SR") {
        // The trace and supervisor bits choose tables and stacks: only a run changes them.
        const uint16_t sr = CpuGetSr();
        if (value > 0xFFFF || ((value ^ sr) & (kSrTrace | kSrSupervisor)) != 0) {
            message_ = "Only the mask and the condition codes of SR can be changed";
            return false;
        }
        g_cpu.sr = static_cast<uint16_t>(value & (kSrSystemBits | 0x1F));
    } else if (uint32_t* reg = RegisterOf(name)) {
        if (name == "PC" && (value & 1)) {
            message_ = "The PC must be even";
            return false;
        }
        *reg = value;
    } else {
        message_ = "No such register: " + std::string(name);
        return false;
    }
    message_.clear();
    Edited();
    if (name == "PC") FollowPc();
    return true;
}

std::vector<std::string> DebuggerPage::FloppyRows() const {
    std::vector<std::string> rows;
    Machine* machine = links_.machine ? links_.machine() : nullptr;
    if (machine == nullptr) return rows;
    const FdcState& s = machine->Fdc().State();
    char row[64];
    std::snprintf(row, sizeof row, "Track %d  Sector %u  Data %u", s.track, s.sector, s.data);
    rows.push_back(row);
    std::snprintf(row, sizeof row, "DMA %s  Address %08X", s.directionWrite ? "Write" : "Read", s.dmaAddress);
    rows.push_back(row);
    std::snprintf(row, sizeof row, "DMA enabled %s  Block size %u", s.dmaOff ? "No" : "Yes", s.sectorCount);
    rows.push_back(row);
    return rows;
}

}  // namespace vexil

// The debugger page: buttons for every command along the top, the disassembly and the memory
// dump on the left, the registers, the floppy controller, the breakpoints and the
// break-on-interrupt switches on the right, and a small dialog for typed values. Keys reach
// the page while it is shown and no text is being typed.
#include <SDL.h>
#include <imgui.h>

#include <cstdio>

#include "cpu/Cpu.h"
#include "host/sdl/Pages.h"
#include "ui/DebuggerPage.h"

namespace vexil::host {

namespace {

const ImVec4 kText(200 / 255.f, 200 / 255.f, 1.f, 1.f);
const ImVec4 kDim(66 / 255.f, 66 / 255.f, 85 / 255.f, 1.f);
const ImU32 kPcBackground = IM_COL32(50, 50, 127, 255);
const ImU32 kActiveTitle = IM_COL32(255, 50, 63, 255);
const ImU32 kBreakpoint = IM_COL32(255, 0, 0, 255);

// The typed value the dialog asks for.
enum class Ask { kNone, kGoTo, kMemory, kBreakpoint, kNops, kRegister };
struct Dialog {
    Ask ask = Ask::kNone;
    bool open = false;
    bool refused = false;  // the last value typed was refused: say why, type again
    bool focus = false;    // the text field takes the keys at the next frame
    char text[32] = {};
    std::string reg;  // the register being edited
};
Dialog g_dialog;  // the view's own: which dialog is up and what has been typed

const char* Caption(Ask ask) {
    switch (ask) {
        case Ask::kNops:
            return "NOP to reach (decimal)";
        case Ask::kBreakpoint:
            return "Breakpoint address";
        case Ask::kRegister:
            return "Register value (hex)";
        default:
            return "Set Memory Address";
    }
}

void Open(Ask ask, const char* initial = "") {
    g_dialog.ask = ask;
    g_dialog.open = true;
    g_dialog.refused = false;
    std::snprintf(g_dialog.text, sizeof g_dialog.text, "%s", initial);
}

void OpenBreakpoint() {
    char pc[16];
    std::snprintf(pc, sizeof pc, "%06X", g_cpu.pc & 0xFFFFFF);
    Open(Ask::kBreakpoint, pc);
}

bool Submit(DebuggerPage& page) {
    switch (g_dialog.ask) {
        case Ask::kGoTo:
            return page.GoTo(g_dialog.text);
        case Ask::kMemory:
            return page.ShowMemory(g_dialog.text);
        case Ask::kBreakpoint:
            return page.ToggleBreakpointAt(g_dialog.text);
        case Ask::kNops:
            return page.RunForNops(g_dialog.text);
        case Ask::kRegister:
            return page.SetRegister(g_dialog.reg, g_dialog.text);
        default:
            return true;
    }
}

void DrawDialog(DebuggerPage& page) {
    if (g_dialog.open) {
        ImGui::OpenPopup(Caption(g_dialog.ask));
        g_dialog.open = false;
    }
    if (!ImGui::BeginPopupModal(Caption(g_dialog.ask), nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
    if (ImGui::IsWindowAppearing() || g_dialog.focus) ImGui::SetKeyboardFocusHere();
    g_dialog.focus = false;
    bool done = ImGui::InputText("##value", g_dialog.text, sizeof g_dialog.text,
                                 ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll);
    if (g_dialog.refused) ImGui::TextColored(ImVec4(1, 0.4f, 0.4f, 1), "%s", page.Message().c_str());
    done = ImGui::Button("OK") || done;
    ImGui::SameLine();
    if (ImGui::Button("Cancel") || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape))) {
        g_dialog.ask = Ask::kNone;
        ImGui::CloseCurrentPopup();
    } else if (done) {
        const Ask ask = g_dialog.ask;
        if (Submit(page) || ask == Ask::kNone) {
            g_dialog.ask = Ask::kNone;
            ImGui::CloseCurrentPopup();
        } else {
            g_dialog.refused = true;
            g_dialog.focus = true;
        }
    }
    ImGui::EndPopup();
}

// Held keys repeat only where that means more of the same (stepping, moving).
bool Pressed(SDL_Scancode code, bool repeat = false) {
    return ImGui::IsKeyPressed(code, repeat);
}

// The keys of the page, while no dialog is up and nothing is being typed.
void HandleKeys(DebuggerPage& page) {
    const ImGuiIO& io = ImGui::GetIO();
    if (io.WantTextInput || ImGui::IsPopupOpen(nullptr, ImGuiPopupFlags_AnyPopupId)) return;
    if (io.KeyCtrl) {
        if (Pressed(SDL_SCANCODE_TAB)) page.Key(DebugKey::kCtrlTab);
        for (int n = 0; n < kBreakSources; ++n)
            if (Pressed(static_cast<SDL_Scancode>(SDL_SCANCODE_1 + n))) page.SetBreakOn(n, !page.BreakOn(n));
        return;
    }
    struct Binding {
        SDL_Scancode code;
        DebugKey key;
        bool repeat = true;
    };
    static const Binding kBindings[] = {
        {SDL_SCANCODE_F5, DebugKey::kRun, false},
        {SDL_SCANCODE_F6, DebugKey::kStep},
        {SDL_SCANCODE_F7, DebugKey::kStepOver, false},
        {SDL_SCANCODE_F8, DebugKey::kSkip},
        {SDL_SCANCODE_UP, DebugKey::kUp},
        {SDL_SCANCODE_DOWN, DebugKey::kDown},
        {SDL_SCANCODE_LEFT, DebugKey::kLeft},
        {SDL_SCANCODE_RIGHT, DebugKey::kRight},
        {SDL_SCANCODE_PAGEUP, DebugKey::kPageUp},
        {SDL_SCANCODE_PAGEDOWN, DebugKey::kPageDown},
        {SDL_SCANCODE_HOME, DebugKey::kHome},
        {SDL_SCANCODE_BACKSPACE, DebugKey::kBackspace},
        {SDL_SCANCODE_DELETE, DebugKey::kBackspace},
    };
    for (const Binding& b : kBindings)
        if (Pressed(b.code, b.repeat)) page.Key(b.key);
    if (Pressed(SDL_SCANCODE_G)) Open(Ask::kGoTo);
    if (Pressed(SDL_SCANCODE_M)) Open(Ask::kMemory);
    if (Pressed(SDL_SCANCODE_T)) Open(Ask::kNops);
    if (Pressed(SDL_SCANCODE_F9)) OpenBreakpoint();
    if (page.ActivePane() != DebuggerPage::kMemoryPane) return;
    for (unsigned digit = 0; digit < 16; ++digit) {
        const SDL_Scancode main = digit == 0   ? SDL_SCANCODE_0
                                  : digit < 10 ? static_cast<SDL_Scancode>(SDL_SCANCODE_1 + digit - 1)
                                               : static_cast<SDL_Scancode>(SDL_SCANCODE_A + digit - 10);
        const SDL_Scancode pad = digit == 0   ? SDL_SCANCODE_KP_0
                                 : digit < 10 ? static_cast<SDL_Scancode>(SDL_SCANCODE_KP_1 + digit - 1)
                                              : SDL_SCANCODE_UNKNOWN;
        if (Pressed(main) || (pad != SDL_SCANCODE_UNKNOWN && Pressed(pad))) page.TypeDigit(digit);
    }
}

void Title(const char* text, bool active) {
    const ImVec2 at = ImGui::GetCursorScreenPos();
    const ImVec2 size = ImGui::CalcTextSize(text);
    if (active)
        ImGui::GetWindowDrawList()->AddRectFilled(at, ImVec2(at.x + size.x, at.y + size.y), kActiveTitle);
    ImGui::TextUnformatted(text);
}

void DrawDisassembly(DebuggerPage& page) {
    Title("  Disassembly :  ", page.ActivePane() == DebuggerPage::kDisassemblyPane);
    const float row = ImGui::GetTextLineHeightWithSpacing();
    const float margin = ImGui::CalcTextSize("O ").x;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    int line = 0;
    for (const DebuggerPage::Line& l : page.Lines()) {
        ImGui::PushID(line);
        const ImVec2 at = ImGui::GetCursorScreenPos();
        // The margin toggles the line's breakpoint; the rest makes the pane active.
        if (ImGui::InvisibleButton("margin", ImVec2(margin, row))) page.ToggleLineBreakpoint(line);
        if (l.breakpoint)
            draw->AddCircleFilled(ImVec2(at.x + margin / 2, at.y + row / 2), row / 3, kBreakpoint);
        ImGui::SameLine(0, 0);
        char text[64];
        std::snprintf(text, sizeof text, "%06X  %s", l.address, l.text);
        if (l.pc) {
            const ImVec2 from = ImGui::GetCursorScreenPos();
            const ImVec2 size = ImGui::CalcTextSize(text);
            draw->AddRectFilled(from, ImVec2(from.x + size.x, from.y + size.y), kPcBackground);
            ImGui::TextColored(ImVec4(1, 1, 1, 1), "%s", text);
        } else {
            ImGui::TextColored(kText, "%s", text);
        }
        if (ImGui::IsItemClicked()) page.SetPane(DebuggerPage::kDisassemblyPane);
        ImGui::PopID();
        ++line;
    }
}

void DrawMemory(DebuggerPage& page) {
    Title("  Memory Dump :  ", page.ActivePane() == DebuggerPage::kMemoryPane);
    const float cell = ImGui::CalcTextSize("00 ").x;
    for (int r = 0; r < DebuggerPage::kMemoryRows; ++r) {
        const uint32_t rowAddress = (page.MemoryBase() + static_cast<uint32_t>(r * 8)) & 0xFFFFFF;
        ImGui::TextColored(kText, "%06X ", rowAddress);
        char characters[DebuggerPage::kMemoryColumns + 1] = {};
        for (int c = 0; c < DebuggerPage::kMemoryColumns; ++c) {
            const uint32_t address = (rowAddress + static_cast<uint32_t>(c)) & 0xFFFFFF;
            const int32_t value = page.PeekByte(address);
            char text[16];
            const bool atCursor = address == page.Cursor();
            if (atCursor && page.HalfDigit() >= 0)
                std::snprintf(text, sizeof text, "%X_", static_cast<unsigned>(page.HalfDigit()) & 15);
            else if (value < 0)
                std::snprintf(text, sizeof text, "--");
            else
                std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value) & 0xFF);
            characters[c] = value >= 32 && value < 127 ? static_cast<char>(value) : '.';
            ImGui::SameLine();
            ImGui::PushID(r * 8 + c);
            const bool shown = atCursor && page.ActivePane() == DebuggerPage::kMemoryPane;
            if (shown) ImGui::PushStyleColor(ImGuiCol_Header, ImGui::GetColorU32(kActiveTitle));
            if (ImGui::Selectable(text, atCursor, 0, ImVec2(cell - 8, 0))) page.ClickByte(r, c);
            if (shown) ImGui::PopStyleColor();
            ImGui::PopID();
        }
        ImGui::SameLine();
        ImGui::TextColored(kText, " %s", characters);
    }
}

void DrawRegisters(DebuggerPage& page) {
    Title("  Registers :  ", false);
    // A click on a register edits it, as a click in the memory pane edits a byte.
    const float charWidth = ImGui::CalcTextSize("0").x;
    int index = 0;
    for (const std::string& row : page.RegisterRows()) {
        const ImVec2 origin = ImGui::GetCursorScreenPos();
        ImGui::TextColored(kText, "%s", row.c_str());
        if (ImGui::IsItemClicked()) {
            const int column = static_cast<int>((ImGui::GetIO().MousePos.x - origin.x) / charWidth);
            const std::string reg = DebuggerPage::RegisterAt(index, column);
            if (!reg.empty()) {
                g_dialog.reg = reg;
                Open(Ask::kRegister, page.RegisterText(reg).c_str());
            }
        }
        ++index;
    }
    const uint16_t sr = CpuGetSr();
    static const char kFlags[] = "CVZNX        S T";
    for (int bit = 15; bit >= 0; --bit) {
        if (kFlags[bit] == ' ') continue;
        char letter[2] = {kFlags[bit], 0};
        ImGui::TextColored((sr >> bit) & 1 ? kText : kDim, "%s", letter);
        ImGui::SameLine();
    }
    ImGui::NewLine();
}

void DrawSide(DebuggerPage& page) {
    DrawRegisters(page);
    ImGui::Separator();
    ImGui::TextUnformatted("Floppy controller");
    for (const std::string& row : page.FloppyRows()) ImGui::TextColored(kText, "%s", row.c_str());
    ImGui::Separator();
    ImGui::TextUnformatted("Break on interrupt (Ctrl+1 to Ctrl+8)");
    for (int n = 0; n < kBreakSources; ++n) {
        bool on = page.BreakOn(n);
        if (n % 4) ImGui::SameLine();
        if (ImGui::Checkbox(BreakSourceCaption(n), &on)) page.SetBreakOn(n, on);
    }
    ImGui::Separator();
    ImGui::Text("Breakpoints (%zu)", page.Breakpoints().size());
    ImGui::SameLine();
    if (ImGui::SmallButton("Toggle... (F9)")) OpenBreakpoint();
    if (ImGui::BeginListBox("##breakpoints", ImVec2(-1, ImGui::GetTextLineHeightWithSpacing() * 5))) {
        for (const uint32_t address : page.Breakpoints()) {
            char text[16];
            std::snprintf(text, sizeof text, "%06X", address);
            ImGui::PushID(static_cast<int>(address));
            // A click shows its code (its margin then removes it).
            if (ImGui::Selectable(text, false)) page.GoTo(text);
            ImGui::PopID();
        }
        ImGui::EndListBox();
    }
}

}  // namespace

void DrawDebuggerPage(DebuggerPage& page) {
    if (ImGui::IsWindowAppearing()) ImGui::SetWindowFocus();  // the keys go to the page
    HandleKeys(page);
    struct Command {
        const char* caption;
        void (*act)(DebuggerPage&);
    };
    static const Command kCommands[] = {
        {"Run F5", [](DebuggerPage& p) { p.Run(); }},
        {"Step F6", [](DebuggerPage& p) { p.Step(); }},
        {"Step over F7", [](DebuggerPage& p) { p.StepOver(); }},
        {"Skip F8", [](DebuggerPage& p) { p.Skip(); }},
        {"NOPs T", [](DebuggerPage&) { Open(Ask::kNops); }},
        {"Go to G", [](DebuggerPage&) { Open(Ask::kGoTo); }},
        {"Memory M", [](DebuggerPage&) { Open(Ask::kMemory); }},
        {"Pane Ctrl+Tab", [](DebuggerPage& p) { p.Key(DebugKey::kCtrlTab); }},
    };
    for (const Command& command : kCommands) {
        if (&command != kCommands) ImGui::SameLine();
        if (ImGui::SmallButton(command.caption)) command.act(page);
    }
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(6, 0));
    if (ImGui::BeginTable("debugger", 2, ImGuiTableFlags_SizingFixedFit)) {
        ImGui::TableSetupColumn("code", ImGuiTableColumnFlags_WidthFixed, ImGui::CalcTextSize("O ").x * 27);
        ImGui::TableSetupColumn("state", ImGuiTableColumnFlags_WidthStretch);
        ImGui::TableNextColumn();
        DrawDisassembly(page);
        DrawMemory(page);
        ImGui::TableNextColumn();
        DrawSide(page);
        ImGui::EndTable();
    }
    ImGui::PopStyleVar();
    DrawDialog(page);
}

}  // namespace vexil::host

#include <SDL.h>
#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "host/sdl/Pages.h"
#include "ui/OptionsPage.h"

namespace vexil::host {

namespace {

// The host's displays with their refresh rates, the joystick and the renderers SDL offers.
OptionsPage::HostChoices AskHost() {
    OptionsPage::HostChoices choices;
    for (int display = 0; display < SDL_GetNumVideoDisplays(); ++display) {
        const char* name = SDL_GetDisplayName(display);
        choices.adapters.push_back(name ? name : "Display " + std::to_string(display));
        std::vector<uint32_t> rates;
        for (int i = 0; i < SDL_GetNumDisplayModes(display); ++i) {
            SDL_DisplayMode mode;
            if (SDL_GetDisplayMode(display, i, &mode) != 0 || mode.refresh_rate <= 0) continue;
            const auto hz = static_cast<uint32_t>(mode.refresh_rate);
            if (std::find(rates.begin(), rates.end(), hz) == rates.end()) rates.push_back(hz);
        }
        choices.refreshRates.push_back(std::move(rates));
    }
    choices.joystick = SDL_NumJoysticks() > 0;
    choices.texturePath = false;
    for (int i = 0; i < SDL_GetNumRenderDrivers(); ++i) {
        SDL_RendererInfo info;
        if (SDL_GetRenderDriverInfo(i, &info) == 0 && (info.flags & SDL_RENDERER_ACCELERATED))
            choices.texturePath = true;
    }
    return choices;
}

void Group(OptionsPage& page, OptionsPage::Group group) {
    for (int i = 0; i < OptionsPage::ChoiceCount(group); ++i) {
        if (i > 0) ImGui::SameLine();
        ImGui::BeginDisabled(!page.ChoiceEnabled(group, i));
        if (ImGui::RadioButton(OptionsPage::ChoiceLabel(group, i), page.Choice(group) == i))
            page.Choose(group, i);
        ImGui::EndDisabled();
    }
}

void Box(OptionsPage& page, OptionsPage::Box box) {
    bool on = page.Checked(box);
    ImGui::BeginDisabled(!page.BoxEnabled(box));
    if (ImGui::Checkbox(OptionsPage::BoxLabel(box), &on)) page.SetChecked(box, on);
    ImGui::EndDisabled();
}

void DrawRomList(OptionsPage& page) {
    ImGui::TextUnformatted("ROM Images :");
    const ImGuiTableFlags flags = ImGuiTableFlags_Borders | ImGuiTableFlags_RowBg | ImGuiTableFlags_ScrollY;
    if (ImGui::BeginTable("roms", 7, flags, ImVec2(0, 130))) {
        const char* columns[7] = {"Filename", "Type", "Base", "Ver", "Date", "Country", "Active"};
        const float widths[7] = {150, 80, 60, 40, 70, 150, 50};
        for (int c = 0; c < 7; ++c)
            ImGui::TableSetupColumn(columns[c], ImGuiTableColumnFlags_WidthFixed, widths[c]);
        ImGui::TableSetupScrollFreeze(0, 1);
        ImGui::TableHeadersRow();
        const std::vector<OptionsPage::RomRow> rows = page.Rows();
        for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
            const OptionsPage::RomRow& row = rows[static_cast<size_t>(r)];
            ImGui::TableNextRow();
            ImGui::TableNextColumn();
            ImGui::PushID(r);
            if (ImGui::Selectable(row.file.c_str(), r == page.SelectedRow(),
                                  ImGuiSelectableFlags_SpanAllColumns))
                page.SelectRow(r);
            ImGui::PopID();
            for (const std::string* cell :
                 {&row.type, &row.base, &row.version, &row.date, &row.country, &row.active}) {
                ImGui::TableNextColumn();
                ImGui::TextUnformatted(cell->c_str());
            }
        }
        ImGui::EndTable();
    }
    if (ImGui::Button("Add")) {
        page.OpenPicker();
        ImGui::OpenPopup("Add a ROM image");
    }
    ImGui::SameLine();
    if (ImGui::Button("Set Active")) page.SetActive();
    ImGui::SameLine();
    if (ImGui::Button("Delete")) page.Delete();
}

// The file picker: one folder at a time; a folder opens on a click, a file is added on a
// double click or with "Open".
void DrawPicker(OptionsPage& page) {
    ImGui::SetNextWindowSize(ImVec2(520, 400), ImGuiCond_Appearing);
    if (!ImGui::BeginPopupModal("Add a ROM image", nullptr)) return;
    FileBrowser& picker = page.picker;
    std::string& chosen = picker.selected;
    // The folder shown, or a path typed over it: a folder opens, a file is added.
    char typed[512];
    std::snprintf(typed, sizeof typed, "%s", picker.Folder().c_str());
    ImGui::SetNextItemWidth(-1);
    bool typedFile = false;
    if (ImGui::InputText("##path", typed, sizeof typed, ImGuiInputTextFlags_EnterReturnsTrue))
        typedFile = !picker.Go(typed);
    if (!picker.Listing().problem.empty())
        ImGui::TextWrapped("This folder cannot be read whole (%s).", picker.Listing().problem.c_str());
    ImGui::BeginChild("files", ImVec2(0, -ImGui::GetFrameHeightWithSpacing()), true);
    std::string enter;
    bool up = false, add = false;
    if (picker.Folder() != "/" && ImGui::Selectable("../")) up = true;
    for (const std::string& folder : picker.Listing().folders) {
        if (ImGui::Selectable((folder + "/").c_str())) enter = folder;
    }
    for (const std::string& file : picker.Listing().files) {
        if (ImGui::Selectable(file.c_str(), file == chosen, ImGuiSelectableFlags_AllowDoubleClick)) {
            chosen = file;
            if (ImGui::IsMouseDoubleClicked(0)) add = true;
        }
    }
    ImGui::EndChild();
    if (up)
        picker.Up();
    else if (!enter.empty())
        picker.Enter(enter);
    ImGui::BeginDisabled(chosen.empty());
    if (ImGui::Button("Open")) add = true;
    ImGui::EndDisabled();
    ImGui::SameLine();
    if (ImGui::Button("Cancel")) {
        chosen.clear();
        ImGui::CloseCurrentPopup();
    }
    if (typedFile) {
        ImGui::CloseCurrentPopup();
        page.Add(typed);
    } else if (add && !chosen.empty()) {
        const std::string path = picker.PathOf(chosen);
        chosen.clear();
        ImGui::CloseCurrentPopup();
        if (path.empty())
            page.notices.push_back({"Note", "The path of this file is too long."});
        else
            page.Add(path);
    }
    ImGui::EndPopup();
}

void DrawNotice(OptionsPage& page) {
    if (page.notices.empty()) return;
    const OptionsPage::Notice& notice = page.notices.front();
    const std::string id = notice.caption + "###notice";
    if (!ImGui::IsPopupOpen(id.c_str())) ImGui::OpenPopup(id.c_str());
    if (ImGui::BeginPopupModal(id.c_str(), nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::TextUnformatted(notice.text.c_str());
        if (ImGui::Button("OK", ImVec2(80, 0))) {
            page.notices.pop_front();
            ImGui::CloseCurrentPopup();
        }
        ImGui::SetItemDefaultFocus();
        ImGui::EndPopup();
    }
}

}  // namespace

void DrawOptionsPage(OptionsPage& page) {
    if (page.Host().adapters.empty()) page.SetHostChoices(AskHost());

    ImGui::BeginGroup();
    ImGui::TextUnformatted("Machine");
    Group(page, OptionsPage::kModel);
    Group(page, OptionsPage::kRam);
    Group(page, OptionsPage::kMonitor);
    ImGui::TextDisabled("(model and memory at the next cold reset)");
    ImGui::TextUnformatted("Disk drive");
    Group(page, OptionsPage::kDiskSpeed);
    ImGui::TextUnformatted("Sound");
    Box(page, OptionsPage::kYm);
    ImGui::SameLine();
    Box(page, OptionsPage::kDac);
    ImGui::SameLine();
    Box(page, OptionsPage::kDiskNoise);
    Box(page, OptionsPage::kDriveB);
    Box(page, OptionsPage::kWriteProtect);
    Box(page, OptionsPage::kLowPass);
    Box(page, OptionsPage::kProfile);
    Box(page, OptionsPage::kSoundDebug);
    Box(page, OptionsPage::kJoystick);
    Box(page, OptionsPage::kArrows);
    Box(page, OptionsPage::kSteJoypad);
    ImGui::EndGroup();
    ImGui::SameLine(0, 40);

    ImGui::BeginGroup();
    ImGui::TextUnformatted("Hardware Adapter:");
    const std::vector<std::string>& adapters = page.Host().adapters;
    const uint32_t adapter = page.Adapter();
    ImGui::SetNextItemWidth(260);
    if (ImGui::BeginCombo("##adapter", adapter < adapters.size() ? adapters[adapter].c_str() : "")) {
        for (uint32_t i = 0; i < adapters.size(); ++i) {
            if (ImGui::Selectable(adapters[i].c_str(), i == adapter)) page.ChooseAdapter(i);
        }
        ImGui::EndCombo();
    }
    Group(page, OptionsPage::kRenderPath);
    Group(page, OptionsPage::kLineMode);
    Box(page, OptionsPage::kFiltering);
    Box(page, OptionsPage::kFullscreen);
    Box(page, OptionsPage::kAskFullscreen);
    Box(page, OptionsPage::kVblSync);
    ImGui::BeginDisabled(!page.FrameSkipEnabled());
    ImGui::TextUnformatted("Frame Skip");
    ImGui::SameLine();
    if (page.FrameSkipShown())
        ImGui::Text("%u", page.FrameSkip());
    else
        ImGui::TextUnformatted(" ");
    ImGui::SameLine();
    ImGui::PushButtonRepeat(true);
    if (ImGui::ArrowButton("##skipdown", ImGuiDir_Down)) page.StepFrameSkip(-1);
    ImGui::SameLine();
    if (ImGui::ArrowButton("##skipup", ImGuiDir_Up)) page.StepFrameSkip(1);
    ImGui::PopButtonRepeat();
    ImGui::EndDisabled();
    ImGui::BeginDisabled(!page.RefreshEnabled());
    ImGui::TextUnformatted("Refresh Rate");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(100);
    const std::string current = std::to_string(page.Refresh()) + " Hz";
    if (ImGui::BeginCombo("##refresh", current.c_str())) {
        for (uint32_t hz : page.Rates()) {
            const std::string label = std::to_string(hz) + " Hz";
            if (ImGui::Selectable(label.c_str(), hz == page.Refresh())) page.ChooseRefresh(hz);
        }
        ImGui::EndCombo();
    }
    ImGui::EndDisabled();
    ImGui::TextDisabled("(display settings at the next start)");
    ImGui::EndGroup();

    ImGui::Separator();
    DrawRomList(page);
    DrawPicker(page);
    DrawNotice(page);
    ImGui::Separator();
    ImGui::TextDisabled(
        "While running, with right Ctrl: S save, L load, 0-9 slot, F fast-forward, P pause, "
        "R rewind, Return fullscreen, G screenshot");
}

}  // namespace vexil::host

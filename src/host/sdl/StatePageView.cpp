#include <imgui.h>

#include <string>

#include "host/sdl/Pages.h"
#include "ui/StatePage.h"

namespace vexil::host {

// Two columns of five slots: each its picture, its number (the current one marked), the time
// it was saved or why its file is no use, and Save and Load.
void DrawStatePage(StatePage& page) {
    ImGui::Text("Save states for %s (right Ctrl + S/L saves and loads the current slot, 0-9 chooses it)",
                page.Name().c_str());
    ImGui::Separator();
    void* pictures =
        PagePicture(page.Pictures(), StatePage::kPictureWidth, StatePage::kPictureHeight * StatePage::kSlots);
    const ImVec2 size(StatePage::kPictureWidth, StatePage::kPictureHeight);
    const float step = 1.0f / StatePage::kSlots;
    for (int n = 0; n < StatePage::kSlots; ++n) {
        const StatePage::Slot& slot = page.At(n);
        ImGui::PushID(n);
        if (n % 2 == 1) ImGui::SameLine(420);
        ImGui::BeginGroup();
        if (pictures != nullptr && slot.picture)
            ImGui::Image(pictures, size, ImVec2(0, step * n), ImVec2(1, step * (n + 1)));
        else
            ImGui::Dummy(size);
        ImGui::SameLine();
        ImGui::BeginGroup();
        const std::string label = "Slot " + std::to_string(n) + (page.Current() == n ? "  (current)" : "");
        if (ImGui::Selectable(label.c_str(), page.Current() == n, 0, ImVec2(260, 0))) page.Choose(n);
        switch (slot.kind) {
            case StatePage::Kind::kEmpty:
                ImGui::TextDisabled("empty");
                break;
            case StatePage::Kind::kSaved:
                ImGui::TextUnformatted(slot.time.c_str());
                break;
            case StatePage::Kind::kDamaged:
                ImGui::TextColored(ImVec4(1.0f, 0.45f, 0.35f, 1.0f), "damaged: %s", slot.reason.c_str());
                break;
        }
        if (ImGui::Button("Save")) page.Save(n);
        ImGui::SameLine();
        const bool loadable = slot.kind == StatePage::Kind::kSaved;
        if (!loadable) ImGui::BeginDisabled();
        if (ImGui::Button("Load")) page.Load(n);
        if (!loadable) ImGui::EndDisabled();
        ImGui::EndGroup();
        ImGui::EndGroup();
        ImGui::PopID();
    }
    if (!page.Status().empty()) {
        ImGui::Separator();
        ImGui::TextWrapped("%s", page.Status().c_str());
    }
}

}  // namespace vexil::host

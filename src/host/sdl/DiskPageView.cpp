#include <imgui.h>

#include <cstdio>
#include <string>

#include "host/sdl/Pages.h"
#include "ui/DiskPage.h"

namespace vexil::host {

namespace {

// What programs wrote to each drive's disk: save it as a new image, or forget it.
void DrawChanges(DiskPage& page) {
    for (int drive = 0; drive < 2; ++drive) {
        const std::string changed = page.ChangedText(drive);
        if (changed.empty()) continue;
        ImGui::PushID(drive);
        ImGui::Text("Drive %c: %s", drive ? 'B' : 'A', changed.c_str());
        char typed[512];
        std::snprintf(typed, sizeof typed, "%s", page.newImagePath[drive].c_str());
        ImGui::SetNextItemWidth(260);
        if (ImGui::InputText("##newimage", typed, sizeof typed)) page.newImagePath[drive] = typed;
        ImGui::SameLine();
        if (ImGui::Button("Save as new image...")) page.SaveAsNewImage(drive);
        ImGui::SameLine();
        if (ImGui::Button("Forget changes")) page.ForgetChanges(drive);
        ImGui::PopID();
    }
    if (!page.ChangesMessage().empty()) ImGui::TextWrapped("%s", page.ChangesMessage().c_str());
}

void DrawNode(DiskPage& page, int index) {
    const DiskPage::Node& node = page.Nodes()[static_cast<size_t>(index)];
    ImGuiTreeNodeFlags flags = ImGuiTreeNodeFlags_OpenOnArrow | ImGuiTreeNodeFlags_OpenOnDoubleClick |
                               ImGuiTreeNodeFlags_SpanAvailWidth;
    if (!node.hasChildren) flags |= ImGuiTreeNodeFlags_Leaf;
    if (index == page.SelectedNode()) flags |= ImGuiTreeNodeFlags_Selected;
    // A folder on the way to the saved one is shown open.
    if (node.expanded && !node.children.empty()) ImGui::SetNextItemOpen(true, ImGuiCond_Once);
    const bool open = ImGui::TreeNodeEx(reinterpret_cast<void*>(static_cast<intptr_t>(index)), flags, "%s%s",
                                        node.name.c_str(), node.archive ? " [zip]" : "");
    if (index == page.SelectedNode() && page.revealSelection) {
        ImGui::SetScrollHereY(0.3f);
        page.revealSelection = false;
    }
    if (ImGui::IsItemClicked() && !ImGui::IsItemToggledOpen()) page.Select(index);
    if (ImGui::IsItemFocused() && ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Enter))) page.Select(index);
    if (!node.problem.empty() && ImGui::IsItemHovered()) ImGui::SetTooltip("%s", node.problem.c_str());
    if (!open) return;
    page.Expand(index);
    // Expanding may add nodes: walk the children by index, afresh.
    const std::vector<int> children = page.Nodes()[static_cast<size_t>(index)].children;
    for (int child : children) DrawNode(page, child);
    ImGui::TreePop();
}

void Field(const char* caption, const std::string& value) {
    ImGui::TextUnformatted(caption);
    ImGui::SameLine(110);
    ImGui::TextUnformatted(value.c_str());
}

}  // namespace

void DrawDiskPage(DiskPage& page) {
    const float height = 300;
    ImGui::BeginChild("tree", ImVec2(280, height), true, ImGuiWindowFlags_HorizontalScrollbar);
    ImGui::PushID(page.Generation());
    for (int root : page.Roots()) DrawNode(page, root);
    ImGui::PopID();
    ImGui::EndChild();
    ImGui::SameLine();

    ImGui::BeginChild("images", ImVec2(170, height), true);
    ImGui::TextDisabled("Filename");
    ImGui::Separator();
    if (!page.ListProblem().empty()) ImGui::TextWrapped("%s", page.ListProblem().c_str());
    for (int i = 0; i < static_cast<int>(page.Images().size()); ++i) {
        ImGui::PushID(i);
        if (ImGui::Selectable(page.Images()[static_cast<size_t>(i)].c_str(), i == page.SelectedImage()) &&
            i != page.SelectedImage())
            page.SelectImage(i);
        ImGui::PopID();
    }
    ImGui::EndChild();
    ImGui::SameLine();

    ImGui::BeginGroup();
    const DiskPage::Description& d = page.Described();
    Field("Filename :", d.fileName);
    Field("File Size :", d.fileSize);
    Field("File Format :", d.fileFormat);
    Field("Tracks :", d.tracks);
    Field("Sectors :", d.sectors);
    Field("Sides :", d.sides);
    Field("Capacity :", d.capacity);
    Field("Compression :", d.compression);
    Field("Boot Sector :", d.bootSector);
    ImGui::Spacing();
    bool holds = page.DriveAHoldsImage();
    ImGui::BeginDisabled(!holds);
    ImGui::Checkbox("##drive", &holds);
    ImGui::EndDisabled();
    ImGui::SameLine();
    ImGui::TextUnformatted(holds ? "[ disk in drive A ]" : "[ drive A empty ]");
    Field("Image :", page.DriveAName());
    if (ImGui::Button("Insert")) page.Insert();
    ImGui::SameLine();
    if (ImGui::Button("Eject")) page.Eject();
    if (!page.RecentImages().empty()) {
        ImGui::SameLine();
        if (ImGui::BeginCombo("##recent", "Recent", ImGuiComboFlags_NoArrowButton)) {
            for (size_t i = 0; i < page.RecentImages().size(); ++i) {
                ImGui::PushID(static_cast<int>(i));
                if (ImGui::Selectable(page.RecentImages()[i].c_str())) page.InsertRecent(i);
                ImGui::PopID();
            }
            ImGui::EndCombo();
        }
    }
    if (!page.InsertProblem().empty()) ImGui::TextWrapped("%s", page.InsertProblem().c_str());
    DrawChanges(page);
    bool autoInsert = page.AutoInsert();
    if (ImGui::Checkbox("Auto-insert image in drive A:", &autoInsert)) page.SetAutoInsert(autoInsert);
    ImGui::Spacing();
    Field("Drive C: :", page.DriveCFolder().empty() ? std::string("[ none ]") : page.DriveCFolder());
    if (ImGui::Button("Use folder as C:")) page.UseFolderAsDriveC();
    ImGui::SameLine();
    if (ImGui::Button("No drive C:")) page.RemoveDriveC();
    ImGui::EndGroup();

    ImGui::Spacing();
    if (ImGui::Button("Warm Reset ( F11 )")) page.WarmReset();
    ImGui::SameLine();
    if (ImGui::Button("Cold Reset ( Shift F11 )")) page.ColdReset();
    ImGui::SameLine();
    ImGui::TextUnformatted(DiskPage::kHint);
}

}  // namespace vexil::host

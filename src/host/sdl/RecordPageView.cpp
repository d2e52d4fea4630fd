#include <imgui.h>

#include "host/sdl/Pages.h"
#include "ui/RecordPage.h"

namespace vexil::host {

void DrawRecordPage(RecordPage& page) {
    const Screenshot& shot = page.Shot();
    ImGui::BeginGroup();
    ImGui::TextUnformatted(page.PreviewCaption().c_str());
    if (void* picture = PagePicture(shot.PreviewPixels(), Screenshot::kWidth, Screenshot::kHeight))
        ImGui::Image(picture, ImVec2(Screenshot::kWidth, Screenshot::kHeight));
    else
        ImGui::Dummy(ImVec2(Screenshot::kWidth, Screenshot::kHeight));
    int format = page.gif ? 0 : 1;
    ImGui::RadioButton("GIF", &format, 0);
    ImGui::SameLine();
    ImGui::RadioButton("TGA", &format, 1);
    page.gif = format == 0;
    ImGui::SameLine();
    if (ImGui::Button("Save Screenshot")) page.SaveScreenshot();
    ImGui::EndGroup();

    ImGui::SameLine();
    ImGui::BeginGroup();
    ImGui::TextUnformatted("Sound Recorder");
    ImGui::Separator();
    const bool recording = page.Recording();
    if (recording) ImGui::BeginDisabled();
    ImGui::TextUnformatted("Sound Format");
    int sound = page.wav ? 0 : 1;
    ImGui::RadioButton("WAV", &sound, 0);
    ImGui::SameLine();
    ImGui::RadioButton("YM", &sound, 1);
    page.wav = sound == 0;
    ImGui::Checkbox("Wait YM write", &page.waitYmWrite);
    if (recording) ImGui::EndDisabled();
    if (ImGui::Button(page.SoundButtonCaption(), ImVec2(160, 0))) page.ToggleSoundRecording();

    ImGui::Spacing();
    ImGui::TextUnformatted("Movie Recorder :");
    ImGui::Separator();
    ImGui::BeginDisabled();
    ImGui::Button("Start Recording##movie", ImVec2(160, 0));
    bool includeSound = false;
    ImGui::Checkbox("Include sound", &includeSound);
    ImGui::EndDisabled();
    ImGui::EndGroup();

    const std::string status = page.Status();
    if (!status.empty()) ImGui::TextWrapped("%s", status.c_str());
}

}  // namespace vexil::host

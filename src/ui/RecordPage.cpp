#include "ui/RecordPage.h"

#include "machine/Machine.h"

namespace vexil {

RecordPage::RecordPage() = default;
RecordPage::~RecordPage() {
    Attach(nullptr);
}

void RecordPage::SetFolders(const std::string& sound, const std::string& shot) {
    soundFolder_ = sound;
    shotFolder_ = shot;
}

void RecordPage::Attach(Machine* machine) {
    if (machine_ != nullptr) machine_->recordSink = nullptr;
    machine_ = machine;
    if (machine_ != nullptr && recorder_ != nullptr)
        machine_->recordSink = [this](const int16_t* samples, int32_t count) { RecordFrame(samples, count); };
}

void RecordPage::CaptureScreen(const uint16_t* frame, int pitch) {
    shot_.Capture(frame, pitch);
}

void RecordPage::Open() {
    status_ = Recording() ? "SOUND is actually recording !" : "";
}

void RecordPage::Shutdown() {
    if (recorder_ != nullptr) StopSound();
}

std::string RecordPage::PreviewCaption() const {
    const int count = shot_.ColourCount();
    return "Screen Shot Preview (" + std::to_string(count) + (count == 1 ? " colour) :" : " colours) :");
}

void RecordPage::SaveScreenshot() {
    std::string path, error;
    if (shot_.Save(shotFolder_, gif, &path, &error))
        status_ = path + " saved.";
    else
        status_ = "ERROR: Unable to create " + (path.empty() ? shotFolder_ : path) + " !";
}

bool RecordPage::Recording() const {
    return recorder_ != nullptr && recorder_->GetState() != SoundRecorder::State::kStopped;
}

void RecordPage::ToggleSoundRecording() {
    if (Recording())
        StopSound();
    else
        StartSound();
}

std::string RecordPage::Status() const {
    // A recording that stopped on its own (a write failed) says why until the next action.
    if (recorder_ != nullptr && !Recording() && !recorder_->Error().empty())
        return "ERROR: recording stopped: " + recorder_->Error();
    return status_;
}

void RecordPage::StartSound() {
    if (machine_ == nullptr) return;
    recorder_.reset();
    const auto format = wav ? SoundRecorder::Format::kWav : SoundRecorder::Format::kYm;
    recorder_ = std::make_unique<SoundRecorder>(format, soundFolder_, waitYmWrite, machine_->Ym().synth,
                                                machine_->Overlay());
    status_ = "Recording music file " + recorder_->FileName() + " ...";
    Attach(machine_);
}

void RecordPage::StopSound() {
    if (machine_ != nullptr) machine_->recordSink = nullptr;
    StatusOverlay fallback;
    StatusOverlay& overlay = machine_ != nullptr ? machine_->Overlay() : fallback;
    const bool waiting = recorder_->GetState() == SoundRecorder::State::kWaiting;
    if (recorder_->Finish(overlay))
        status_ = "Music file " + recorder_->FileName() + " saved.";
    else if (waiting)
        status_ = "Recording canceled.";
    else
        status_ = "ERROR: Unable to write " + recorder_->FileName() + " ! " + recorder_->Error();
    recorder_.reset();
}

void RecordPage::RecordFrame(const int16_t* samples, int32_t count) {
    if (recorder_ != nullptr && machine_ != nullptr)
        recorder_->RecordFrame(samples, count, machine_->Scheduler().LastFrameCycles(), machine_->Ym().synth,
                               machine_->Overlay());
}

}  // namespace vexil

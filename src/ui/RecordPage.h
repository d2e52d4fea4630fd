// The recording page of the control bar: the screenshot taken at the last return to the menu,
// with its preview, colour count and "Save Screenshot", and the sound recorder's controls.
// The choices (GIF or TGA, WAV or YM, "Wait YM write") start as GIF, WAV and on and hold
// until the program ends; they are not saved. A sound recording goes on across any number of
// returns to the menu until "Stop Recording" or the program's end, and takes frames only
// while the machine runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "recording/Screenshot.h"
#include "recording/SoundRecorder.h"

namespace vexil {

class Machine;

class RecordPage {
public:
    RecordPage();
    ~RecordPage();

    // The folders the files go to.
    void SetFolders(const std::string& sound, const std::string& shot);
    // The machine whose sound is recorded; the application attaches each machine it builds
    // and detaches (null) before destroying one.
    void Attach(Machine* machine);
    // The picture as shown when the menu is entered, 800 x 600 pixels `pitch` apart.
    void CaptureScreen(const uint16_t* frame, int pitch);
    // The page comes into view: its status text starts afresh.
    void Open();
    // The program ends: a recording in progress is finished and saved.
    void Shutdown();

    const Screenshot& Shot() const { return shot_; }
    // "Screen Shot Preview (2 colours) :"
    std::string PreviewCaption() const;
    void SaveScreenshot();

    bool Recording() const;
    const char* SoundButtonCaption() const { return Recording() ? "Stop Recording" : "Start Recording"; }
    void ToggleSoundRecording();
    std::string Status() const;

    bool gif = true;
    bool wav = true;
    bool waitYmWrite = true;

private:
    void StartSound();
    void StopSound();
    void RecordFrame(const int16_t* samples, int32_t count);

    std::string soundFolder_ = "sound", shotFolder_ = "shot";
    Machine* machine_ = nullptr;
    Screenshot shot_;
    std::unique_ptr<SoundRecorder> recorder_;
    std::string status_;
};

}  // namespace vexil

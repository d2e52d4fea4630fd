// The floppy drive heard: the motor starting, running and stopping, the head stepping and
// seeking. Five recordings of our own drive (made by DriveRecordings, below) at 44,100 Hz, the
// output rate, are played sample for sample into the frame's mix, one at a time; each player
// chains to a follower when it ends:
//
//   noise          samples  length   follower            peak
//   motor start     17420   0.395 s  motor running       31700
//   motor running   43252   0.981 s  itself (a loop)      1900
//   step             2211   0.050 s  motor running       13300
//   seek            13539   0.307 s  motor running       17300
//   motor stop      13182   0.299 s  none (silence)       2300
//
// The floppy controller chooses what plays: the motor start when it switches the motor on,
// a step for a head movement of 1-5 tracks, a seek for 6 or more, the motor stop when the
// motor has run down. Playing a noise starts it from its beginning and cuts the current one
// short. The positions are not part of the machine's state: a reset leaves them, and while the
// noises are not mixed (`DiskSound` off, `FastDisk` on) nothing advances.
#pragma once

#include <array>
#include <cstdint>

namespace vexil {

enum class DriveNoise : uint8_t { kMotorStart, kMotorRunning, kStep, kSeek, kMotorStop };
constexpr int kDriveNoises = 5;

struct DriveRecording {
    const int16_t* samples = nullptr;
    uint32_t length = 0;
};
using DriveRecordingSet = std::array<DriveRecording, kDriveNoises>;  // indexed by DriveNoise

// Our drive's five recordings, synthesised at the first call and kept for the process.
const DriveRecordingSet& DriveRecordings();

struct DriveSoundPlayer {
    DriveRecording recording;
    uint32_t position = 0;                 // the next sample to play
    DriveSoundPlayer* follower = nullptr;  // what plays when this one ends; none: silence
};

class DriveSounds {
public:
    DriveSounds() : DriveSounds(DriveRecordings()) {}
    explicit DriveSounds(const DriveRecordingSet& recordings);
    DriveSounds(const DriveSounds&) = delete;
    DriveSounds& operator=(const DriveSounds&) = delete;

    // The noise plays from its beginning, in place of the current one.
    void Play(DriveNoise noise);
    // Adds the next `count` samples of the current noise and its followers to `mix`.
    void Mix(int32_t* mix, int32_t count);

    // The noise that sounds, and its position; false when the drive is silent.
    bool Sounding(DriveNoise* noise = nullptr, uint32_t* position = nullptr) const;

private:
    DriveSoundPlayer players_[kDriveNoises];
    DriveSoundPlayer* current_ = nullptr;
};

}  // namespace vexil

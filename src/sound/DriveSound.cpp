#include "sound/DriveSound.h"

#include <algorithm>

namespace vexil {

DriveSounds::DriveSounds(const DriveRecordingSet& recordings) {
    for (int i = 0; i < kDriveNoises; ++i) players_[i].recording = recordings[static_cast<size_t>(i)];
    DriveSoundPlayer& running = players_[static_cast<int>(DriveNoise::kMotorRunning)];
    running.follower = &running;
    for (DriveNoise lead : {DriveNoise::kMotorStart, DriveNoise::kStep, DriveNoise::kSeek})
        players_[static_cast<int>(lead)].follower = &running;
}

// The motor stop too starts from its beginning each time: a stop cut short by a new command
// and heard again later plays whole, not its remainder.
void DriveSounds::Play(DriveNoise noise) {
    current_ = &players_[static_cast<int>(noise)];
    current_->position = 0;
}

void DriveSounds::Mix(int32_t* mix, int32_t count) {
    int32_t done = 0;
    while (current_ != nullptr && done < count) {
        DriveSoundPlayer& player = *current_;
        // A recording with no samples stops the drive's sound, rather than have a loop of
        // nothing spin for ever.
        if (player.recording.length == 0 || player.recording.samples == nullptr) {
            current_ = nullptr;
            break;
        }
        const uint32_t n =
            std::min(player.recording.length - player.position, static_cast<uint32_t>(count - done));
        const int16_t* samples = player.recording.samples + player.position;
        for (uint32_t i = 0; i < n; ++i) mix[done + static_cast<int32_t>(i)] += samples[i];
        done += static_cast<int32_t>(n);
        player.position += n;
        if (player.position >= player.recording.length) {
            player.position = 0;
            current_ = player.follower;
        }
    }
}

bool DriveSounds::Sounding(DriveNoise* noise, uint32_t* position) const {
    if (current_ == nullptr) return false;
    if (noise) *noise = static_cast<DriveNoise>(current_ - players_);
    if (position) *position = current_->position;
    return true;
}

}  // namespace vexil

#include "sound/SoundPacer.h"

#include <algorithm>

#include "sound/SoundMix.h"

namespace vexil {

void SoundPacer::Start() {
    playing_ = true;
    havePrevious_ = false;
}

int32_t SoundPacer::FrameSampleCount() {
    const int64_t played = device_.Played();
    if (played < 0) {
        havePrevious_ = false;
        return 0;
    }
    const int64_t count = havePrevious_ ? played - previous_ : 0;
    previous_ = played;
    havePrevious_ = true;
    return count >= 0 && count <= sound::kMaxBlockSamples ? static_cast<int32_t>(count) : 0;
}

// Room in samples; a queue that cannot be read is taken as empty.
int32_t SoundPacer::Room() {
    const int32_t queued = device_.Queued();
    return kQueueSamples - std::clamp(queued, 0, kQueueSamples);
}

bool SoundPacer::WriteFrame(const int16_t* samples, int32_t count, bool wait) {
    if (!playing_ || count < 1 || count > kQueueSamples) return false;
    int32_t room = Room();
    if (wait && room < count) {
        // As long as the device needs to play the missing room, and a frame more.
        const int64_t missing = count - room + std::max(device_.Period(), 1);
        const int64_t deadline = device_.NowMicros() + missing * 1000000 / sound::kOutputRate + kFrameMicros;
        while (room < count) {
            const int64_t now = device_.NowMicros();
            if (now >= deadline) break;
            device_.Sleep(std::min<int64_t>(1000, deadline - now));
            room = Room();
        }
    } else if (!wait && room == kQueueSamples && count + kCushionSamples <= kQueueSamples) {
        static constexpr int16_t kSilence[kCushionSamples] = {};
        device_.Queue(kSilence, kCushionSamples);
        room -= kCushionSamples;
    }
    if (room < count) {
        ++dropped_;
        return false;
    }
    device_.Queue(samples, count);
    return true;
}

}  // namespace vexil

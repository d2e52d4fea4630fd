#include "host/sdl/SdlSound.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "sound/SoundMix.h"

namespace vexil::host {

namespace {
// Samples SDL asks for per callback: about 23 ms, short beside the ring's 93 ms. SDL's dummy
// driver, which plays nothing, sleeps this long between callbacks and its sleeps overshoot by
// a millisecond or more; it gets a longer period so that its clock stays near real time.
constexpr int kDevicePeriod = 1024;
constexpr int kDummyPeriod = 2048;
}  // namespace

// The steps of the start-up with the texts the user sees when one fails; SDL's reason goes to
// the log.
bool SdlSound::Open(std::string* error) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        SDL_LogWarn(SDL_LOG_CATEGORY_APPLICATION, "audio: %s", SDL_GetError());
        *error = "Unable to create Direct Sound device.";
        return false;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    SDL_AudioSpec want{};
    want.freq = sound::kOutputRate;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = driver && !std::strcmp(driver, "dummy") ? kDummyPeriod : kDevicePeriod;
    want.callback = &SdlSound::Callback;
    want.userdata = this;
    // Without allowed changes SDL converts to whatever the device wants.
    SDL_AudioSpec have{};
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    period_ = have.samples;
    if (device_ == 0) {
        SDL_LogWarn(SDL_LOG_CATEGORY_APPLICATION, "audio: %s", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        *error = "Unable to create secondary audio buffer.";
        return false;
    }
    return true;
}

void SdlSound::Close() {
    if (device_ == 0) return;
    Stop();
    if (pacer_.DroppedBlocks() > 0 || dry_.load() > 0)
        SDL_LogWarn(SDL_LOG_CATEGORY_APPLICATION,
                    "audio: %lld blocks dropped for want of room, %lld periods ran dry",
                    static_cast<long long>(pacer_.DroppedBlocks()), static_cast<long long>(dry_.load()));
    SDL_CloseAudioDevice(device_);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    device_ = 0;
    pacer_.Stop();
}

void SdlSound::Start() {
    if (device_ == 0) return;
    if (pacer_.Playing()) Account();
    SDL_LockAudioDevice(device_);
    written_.store(0);
    taken_.store(0);
    played_.store(0);
    lastCallback_ = NowMicros();
    SDL_UnlockAudioDevice(device_);
    startMicros_ = lastCallback_;
    pacer_.Start();
    SDL_PauseAudioDevice(device_, 0);
}

void SdlSound::Stop() {
    if (device_ == 0 || !pacer_.Playing()) return;
    SDL_PauseAudioDevice(device_, 1);
    pacer_.Stop();
    Account();
}

void SdlSound::Account() {
    playedTotal_ += played_.load();
    playingMicros_ += NowMicros() - startMicros_;
}

double SdlSound::MeasuredRate() const {
    return playingMicros_ > 0 ? static_cast<double>(playedTotal_) * 1e6 / static_cast<double>(playingMicros_)
                              : 0;
}

int32_t SdlSound::Queued() {
    return static_cast<int32_t>(written_.load(std::memory_order_relaxed) -
                                taken_.load(std::memory_order_acquire));
}

void SdlSound::Queue(const int16_t* samples, int32_t count) {
    const int64_t written = written_.load(std::memory_order_relaxed);
    const int64_t room = kRingSamples - (written - taken_.load(std::memory_order_acquire));
    count = static_cast<int32_t>(std::min<int64_t>(count, room));
    for (int32_t i = 0; i < count; ++i) ring_[(written + i) & (kRingSamples - 1)] = samples[i];
    written_.store(written + count, std::memory_order_release);
}

void SdlSound::Callback(void* self, Uint8* stream, int bytes) {
    SdlSound& sound = *static_cast<SdlSound*>(self);
    int16_t* out = reinterpret_cast<int16_t*>(stream);
    const int64_t wanted = bytes / 2;
    const int64_t taken = sound.taken_.load(std::memory_order_relaxed);
    const int64_t ready = std::min(wanted, sound.written_.load(std::memory_order_acquire) - taken);
    for (int64_t i = 0; i < ready; ++i) out[i] = sound.ring_[(taken + i) & (kRingSamples - 1)];
    std::fill(out + ready, out + wanted, int16_t{0});
    if (ready < wanted && taken > 0) sound.dry_.fetch_add(1, std::memory_order_relaxed);
    sound.taken_.store(taken + ready, std::memory_order_release);
    sound.played_.fetch_add(wanted, std::memory_order_release);
    sound.lastCallback_ = sound.NowMicros();
}

int64_t SdlSound::Played() {
    if (device_ == 0) return -1;
    SDL_LockAudioDevice(device_);
    const int64_t played = played_.load(std::memory_order_relaxed);
    const int64_t since = NowMicros() - lastCallback_;
    SDL_UnlockAudioDevice(device_);
    if (!pacer_.Playing()) return played;
    return played + std::clamp<int64_t>(since * sound::kOutputRate / 1000000, 0, period_);
}

int64_t SdlSound::NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SdlSound::Sleep(int64_t micros) {
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

}  // namespace vexil::host

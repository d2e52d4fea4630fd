#include "ui/StatePage.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "core/SaveState.h"
#include "machine/Machine.h"

namespace vexil {

namespace fs = std::filesystem;

namespace {

std::string LocalTime(fs::file_time_type when) {
    const auto system = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
        std::chrono::file_clock::to_sys(when));
    const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
    std::tm local{};
    char text[32] = {};
    if (localtime_r(&seconds, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
        return "?";
    return text;
}

}  // namespace

StatePage::StatePage(StateSlots& slots)
    : host_(slots), pictures_(static_cast<size_t>(kPictureWidth) * kPictureHeight * kSlots, 0) {}

void StatePage::Refresh() {
    std::fill(pictures_.begin(), pictures_.end(), 0);
    const std::string first = fs::path(host_.SlotPath(0)).filename().string();
    const size_t cut = first.rfind("-0");
    name_ = cut == std::string::npos ? first : first.substr(0, cut);
    for (int n = 0; n < kSlots; ++n) {
        Slot& slot = slots_[static_cast<size_t>(n)];
        slot = {};
        const std::string path = host_.SlotPath(n);
        std::error_code error;
        if (!fs::exists(path, error)) continue;
        slot.kind = Kind::kDamaged;
        const fs::file_time_type written = fs::last_write_time(path, error);
        slot.time = error ? "?" : LocalTime(written);
        const uintmax_t size = fs::is_regular_file(path, error) ? fs::file_size(path, error) : 0;
        const size_t most = MostStateFileBytes(kLargestState);
        if (error || size == 0 || size > most) {
            slot.reason = size > most ? "not a Vexil save state" : "cannot be read";
            continue;
        }
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        std::ifstream file(path, std::ios::binary);
        if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
            slot.reason = "cannot be read";
            continue;
        }
        StatePicture picture;
        if (!ReadStatePicture(bytes, picture, slot.reason)) continue;
        slot.kind = Kind::kSaved;
        slot.picture = picture.width != 0;
        if (!slot.picture) continue;
        // Nearest pixels into the slot's place, whatever size the file's picture has.
        uint16_t* out = pictures_.data() + static_cast<size_t>(n) * kPictureWidth * kPictureHeight;
        for (int y = 0; y < kPictureHeight; ++y)
            for (int x = 0; x < kPictureWidth; ++x)
                out[y * kPictureWidth + x] =
                    picture.pixels[static_cast<size_t>(y * picture.height / kPictureHeight) * picture.width +
                                   static_cast<size_t>(x * picture.width / kPictureWidth)];
    }
}

void StatePage::Choose(int slot) {
    if (slot >= 0 && slot < kSlots) host_.ChooseSlot(slot);
}

void StatePage::Save(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    status_ = host_.SaveToSlot(slot);
    Refresh();
}

void StatePage::Load(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    status_ = host_.LoadFromSlot(slot);
    Refresh();
}

}  // namespace vexil

// The settings file: parsing, reading every value into the settings and the ROM list, and
// writing them back out, which must parse again to the same settings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/Config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexil::SettingsFile file;
    if (!file.Parse(std::string_view(reinterpret_cast<const char*>(data), size), nullptr)) return 0;
    vexil::MachineConfig config;
    vexil::RomList roms;
    vexil::LoadConfigFrom(file, config, roms);
    const std::string text = vexil::SettingsOf(config, roms).Format();
    vexil::SettingsFile again;
    if (!again.Parse(text, nullptr)) std::abort();
    vexil::MachineConfig reread;
    vexil::RomList rereadRoms;
    vexil::LoadConfigFrom(again, reread, rereadRoms);
    if (vexil::SettingsOf(reread, rereadRoms).Format() != text) std::abort();
    return 0;
}

// TOS ROM and cartridge images: the loaders into the machine's memory, the ROM list's
// recognition of an image and its row on the options page, and a reset from whatever ROM was accepted.
#include <cstddef>
#include <cstdint>

#include "FuzzFile.h"
#include "machine/Machine.h"
#include "machine/Rom.h"
#include "ui/OptionsPage.h"
#include "ui/RomList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = vexil::fuzz::ScratchFile(".img");
    if (!vexil::fuzz::WriteScratch(path, data, size)) return 0;
    static vexil::Machine machine;
    if (vexil::LoadTosRom(machine, path).ok) machine.Reset(false);
    vexil::LoadCartridge(machine, path);
    vexil::RomList roms;
    const int32_t id = roms.Add(path);
    roms.SetActive(id);
    if (const vexil::RomList::Entry* entry = roms.Find(id)) vexil::OptionsPage::RowOf(*entry);
    return 0;
}

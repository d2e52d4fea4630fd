// Save state loading: the chips' sections of a state this build wrote (the drives' among
// them), changed by the input (bytes overwritten, or cut short) or taken from it, checked on
// their own; the input as a file's header, picture and packed sections behind the magic and
// version, unpacked and checked; and now and then the same loaded as a whole file (its
// checksum made good again, so that the checks behind it are reached). A refused state must
// leave the machine exactly as it was; an accepted one must run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/Crc32.h"
#include "core/SaveState.h"
#include "cpu/Cpu.h"
#include "machine/Machine.h"

namespace {

// A machine with a small program in RAM that keeps the CPU busy: a loop at 0x1000.
vexil::Machine& TheMachine() {
    static vexil::Machine* machine = [] {
        auto* m = new vexil::Machine();
        const uint8_t loop[] = {0x52, 0x80, 0x60, 0xFC};  // addq.l #1,d0; bra.s *-2
        m->LoadBytes(0x1000, loop, sizeof loop);
        m->PokeLong(0, 0x8000);
        m->PokeLong(4, 0x1000);
        m->Reset(false);
        m->RunFrames(2);
        return m;
    }();
    return *machine;
}

// Where the chips' sections start in the unpacked sections: the machine section, the memory
// section (a 2 MB machine's RAM, then the ROM and cartridge areas).
constexpr size_t kChipSections = (8 + 16) + (8 + 0x200000 + vexil::kEmulatedMemoryBytes - vexil::kRomOffset);

void FixChecksum(std::vector<uint8_t>& file) {
    const uint32_t crc = vexil::Crc32(file.data(), file.size() - 4);
    for (int i = 0; i < 4; ++i) file[file.size() - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
}

}  // namespace

// Most inputs only reach the chips' sections, checked in place without the memory, the packing
// and the checksum around them (thousands a second); every 256th run, the first included (so
// that an input found failing fails again alone), loads the input whole and runs it. The turn
// is not taken from the input: the fuzzer would favour whole loads for their coverage and
// spend its time in them.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexil::Machine& machine = TheMachine();
    static const std::vector<uint8_t> good = machine.SaveState();
    static const std::vector<uint8_t> goodSnapshot = machine.Snapshot();
    static unsigned runs = 0;
    static const std::vector<uint8_t> goodSections = [] {
        std::vector<uint8_t> sections;
        std::string error;
        if (!vexil::UnpackState(good, vexil::kLargestState, sections, error)) std::abort();
        return sections;
    }();
    if (size < 1) return 0;
    static std::vector<uint8_t> file;  // kept: a fresh block of megabytes per run costs more than the run
    static std::vector<uint8_t> sections;
    const uint8_t mode = data[0] % 4;
    const bool whole = runs++ % 256 == 0;
    ++data, --size;
    if (mode == 0) {
        // The input as the chips' sections, or (whole) as a file.
        vexil::StateReader in;
        in.OpenSections(data, size);
        machine.CheckChipSections(in);
        if (!whole) return 0;
        file.assign(data, data + size);
    } else if (mode <= 2) {
        // Pairs of (offset into the chips' sections, 16 bits; byte), where the values are
        // checked one by one; mode 2 also cuts the sections short after the last pair.
        sections.assign(goodSections.begin() + kChipSections, goodSections.end());
        size_t last = 0;
        for (size_t i = 0; i + 3 <= size; i += 3) {
            last = (data[i] | data[i + 1] << 8) % sections.size();
            sections[last] = data[i + 2];
        }
        if (mode == 2) sections.resize(last);
        vexil::StateReader in;
        in.OpenSections(sections.data(), sections.size());
        machine.CheckChipSections(in);
        if (!whole) return 0;
        vexil::StateWriter out;
        out.PutBytes(goodSections.data(), kChipSections);
        out.PutBytes(sections.data(), sections.size());
        file = out.Finish(vexil::StatePacking::kStored);
    } else {
        // The input after the magic and the version: packing, lengths, picture and packed
        // sections, with a good checksum after them. What unpacks is checked as the chips'
        // sections, within a small bound here (the whole load has the real one).
        file.assign(vexil::kStateMagic, vexil::kStateMagic + 8);
        for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(vexil::kStateVersion >> (8 * i)));
        file.insert(file.end(), data, data + size);
        file.resize(file.size() + 4);
        FixChecksum(file);
        vexil::StatePicture picture;
        std::string error;
        vexil::ReadStatePicture(file, picture, error);
        if (vexil::UnpackState(file, 1u << 16, sections, error)) {
            vexil::StateReader in;
            in.OpenSections(sections.data(), sections.size());
            machine.CheckChipSections(in);
        }
        if (!whole) return 0;
    }
    // The machine holds `good` here: it was made from it, and an accepted state is undone below.
    std::string error;
    if (!machine.LoadState(file, error)) {
        if (machine.Snapshot() != goodSnapshot) std::abort();  // a refusal changed it
        return 0;
    }
    machine.RunFrame();
    if (!machine.LoadState(good, error)) std::abort();
    return 0;
}

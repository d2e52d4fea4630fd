// Save state loading: a state this build wrote, changed by the input (bytes overwritten in the
// small sections with the checksum made good again, so that the checks behind it are reached,
// or cut short), or the input taken whole as a file. A refused state must leave the machine
// exactly as it was; an accepted one must run.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexil::Machine& machine = TheMachine();
    static const std::vector<uint8_t> good = machine.SaveState();
    if (size < 1) return 0;
    static std::vector<uint8_t> file;  // kept: a fresh 4 MB block per run costs more than the run
    const uint8_t mode = data[0] % 3;
    ++data, --size;
    if (mode == 0) {
        file.assign(data, data + size);
    } else if (mode == 1) {
        // Pairs of (offset from the end of the memory section, 16 bits; byte) over the sections
        // after the memory, where the values are checked one by one.
        file = good;
        const size_t tail = 16 + 8 + 16 + 8 + vexil::kEmulatedMemoryBytes;
        for (size_t i = 0; i + 3 <= size; i += 3) {
            const size_t at = tail + (data[i] | data[i + 1] << 8);
            if (at + 4 < file.size()) file[at] = data[i + 2];
        }
        const uint32_t crc = vexil::Crc32(file.data(), file.size() - 4);
        std::memcpy(file.data() + file.size() - 4, &crc, 4);
    } else {
        file.assign(good.begin(),
                    good.begin() + (size >= 3 ? (data[0] | data[1] << 8 | data[2] << 16) % good.size() : 0));
    }
    // The machine holds `good` here: it was made from it, and an accepted state is undone below.
    std::string error;
    if (!machine.LoadState(file, error)) {
        static unsigned refused = 0;
        if (++refused % 16 == 0 && machine.SaveState() != good) std::abort();  // a refusal changed it
        return 0;
    }
    machine.RunFrame();
    if (!machine.LoadState(good, error)) std::abort();
    return 0;
}

#include "io/RegisterFile.h"

#include <algorithm>

namespace vexil {

IoChip RegisterFileChip(RegisterFile& file, const RegisterLayout& layout) {
    std::copy(layout.writeMask.begin(), layout.writeMask.end(), file.writeMask);
    IoChip chip;
    chip.name = layout.name;
    chip.page = layout.page;
    chip.context = &file;
    chip.readBytes = layout.readBytes;
    chip.readWords = layout.readWords;
    chip.writeBytes = layout.writeBytes;
    chip.writeWords = layout.writeWords;
    chip.readByte = [](void* c, uint32_t address, Cycles) {
        return static_cast<RegisterFile*>(c)->bytes[address & 0xFF];
    };
    chip.readWord = [](void* c, uint32_t address, Cycles) {
        const uint8_t* bytes = static_cast<RegisterFile*>(c)->bytes;
        const unsigned o = address & 0xFE;
        return static_cast<uint16_t>(bytes[o] << 8 | bytes[o + 1]);
    };
    chip.writeByte = [](void* c, uint32_t address, uint8_t value, Cycles) {
        auto* f = static_cast<RegisterFile*>(c);
        f->bytes[address & 0xFF] = value & f->writeMask[address & 0xFF];
    };
    chip.writeWord = [](void* c, uint32_t address, uint16_t value, Cycles) {
        auto* f = static_cast<RegisterFile*>(c);
        const unsigned o = address & 0xFE;
        f->bytes[o] = static_cast<uint8_t>(value >> 8) & f->writeMask[o];
        f->bytes[o + 1] = static_cast<uint8_t>(value) & f->writeMask[o + 1];
    };
    return chip;
}

RegisterLayout AciaLayout() {
    RegisterLayout layout{"ACIAs", 0xFFFC00, {}, {}, {}, {}, {}};
    layout.writeMask.fill(0xFF);
    for (IoOffsets* bytes : {&layout.readBytes, &layout.writeBytes}) bytes->Add(0x00, 0x06, 2);
    return layout;
}

}  // namespace vexil

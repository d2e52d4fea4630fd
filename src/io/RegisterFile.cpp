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

RegisterLayout FloppyDmaLayout() {
    RegisterLayout layout{"DMA and floppy controller", 0xFF8600, {}, {}, {}, {}, {}};
    layout.writeMask.fill(0xFF);
    for (IoOffsets* bytes : {&layout.readBytes, &layout.writeBytes}) bytes->Add(0x09, 0x0D, 2);
    for (IoOffsets* words : {&layout.readWords, &layout.writeWords}) words->Add(0x04, 0x0C, 2);
    return layout;
}

RegisterLayout AciaLayout() {
    RegisterLayout layout{"ACIAs", 0xFFFC00, {}, {}, {}, {}, {}};
    layout.writeMask.fill(0xFF);
    for (IoOffsets* bytes : {&layout.readBytes, &layout.writeBytes}) bytes->Add(0x00, 0x06, 2);
    return layout;
}

IoChip SoundChipPortsChip(SoundChipPorts& ports) {
    IoChip chip;
    chip.name = "YM2149";
    chip.page = 0xFF8800;
    chip.context = &ports;
    for (IoOffsets* offsets : {&chip.readBytes, &chip.readWords, &chip.writeBytes, &chip.writeWords})
        offsets->Add(0x00, 0xFE, 2);
    // Bits each register has: tone periods 12 bits, noise 5, volumes 5, envelope shape 4.
    static constexpr uint8_t kWidth[16] = {0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F, 0xFF,
                                           0x1F, 0x1F, 0x1F, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF};
    chip.readByte = [](void* c, uint32_t address, Cycles) -> uint8_t {
        const auto* p = static_cast<SoundChipPorts*>(c);
        return (address & 2) == 0 && p->select < 16 ? p->regs[p->select] : 0xFF;
    };
    chip.writeByte = [](void* c, uint32_t address, uint8_t value, Cycles) {
        auto* p = static_cast<SoundChipPorts*>(c);
        if ((address & 2) == 0)
            p->select = value;
        else if (p->select < 16)
            p->regs[p->select] = value & kWidth[p->select];
    };
    chip.readWord = [](void* c, uint32_t address, Cycles) {
        const auto* p = static_cast<SoundChipPorts*>(c);
        const uint8_t high = (address & 2) == 0 && p->select < 16 ? p->regs[p->select] : 0xFF;
        return static_cast<uint16_t>(high << 8 | 0xFF);
    };
    chip.writeWord = [](void* c, uint32_t address, uint16_t value, Cycles) {
        auto* p = static_cast<SoundChipPorts*>(c);
        const uint8_t high = static_cast<uint8_t>(value >> 8);
        if ((address & 2) == 0)
            p->select = high;
        else if (p->select < 16)
            p->regs[p->select] = high & kWidth[p->select];
    };
    return chip;
}

}  // namespace vexil

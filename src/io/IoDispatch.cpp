#include "io/IoDispatch.h"

#include <array>

#include "cpu/Cpu.h"
#include "io/IoState.h"

namespace vexil {

IoState g_io;

namespace {

enum class Wait : uint8_t { kNone, kMfp, kYm };
enum class Gate : uint8_t { kBoth, kSteOnly, kSteOnlyWrites };

// The pages the machine decodes, with what belongs to the page rather than to its chip.
struct PageLayout {
    uint32_t page;
    Wait wait;
    Gate gate;
};
constexpr PageLayout kLayout[] = {
    // page      wait          machine
    {0xFF8000, Wait::kNone, Gate::kBoth},           // memory configuration
    {0xFF8200, Wait::kNone, Gate::kBoth},           // Shifter
    {0xFF8600, Wait::kNone, Gate::kBoth},           // DMA and floppy controller
    {0xFF8800, Wait::kYm, Gate::kBoth},             // YM2149
    {0xFF8900, Wait::kNone, Gate::kSteOnly},        // STE DMA sound
    {0xFF8A00, Wait::kNone, Gate::kSteOnlyWrites},  // Blitter
    {0xFFFA00, Wait::kMfp, Gate::kBoth},            // MFP 68901
    {0xFFFC00, Wait::kNone, Gate::kBoth},           // ACIAs
};

// Offset flags, one byte per page offset.
constexpr uint8_t kReadByte = 1, kReadWord = 2, kWriteByte = 4, kWriteWord = 8;

struct Page {
    IoByteRead readByte = nullptr;
    IoWordRead readWord = nullptr;
    IoByteWrite writeByte = nullptr;
    IoWordWrite writeWord = nullptr;
    std::array<uint8_t, 256> decoded{};
    Wait wait = Wait::kNone;
    Gate gate = Gate::kBoth;
    void (*reset)() = nullptr;
    bool present = false;
};

Page g_pages[128];
int g_resetOrder[128];
int g_resetCount = 0;

unsigned PageIndex(uint32_t address) {
    return (address >> 8) & 0x7F;
}

// Wait states of the YM2149 page. The first access of an instruction costs 4 cycles; a
// counter shared by all access kinds then adds 4 more every few accesses, as the bus of a
// block move through the sound chip's port does.
enum class Access { kReadByte, kReadWord, kWriteByte, kWriteWord };

void ChargeYmWait(Access kind) {
    int32_t& counter = g_io.ymWaitCounter;
    const bool first = CpuFirstHandlerAccess();
    if (kind == Access::kWriteWord) {
        if (first) {
            CpuAddWaitStates(4);
            counter = 8;
        }
        if (counter <= 0) {
            CpuAddWaitStates(4);
            counter = 8;
        }
        counter -= 2;
        return;
    }
    if (first) {
        CpuAddWaitStates(4);
        counter = 0;
    }
    ++counter;
    if (counter >= (kind == Access::kReadWord ? 5 : 9)) {
        CpuAddWaitStates(4);
        counter = 0;
    }
}

// Steps common to every access of a decoded page: the STE gate, then the page's wait states.
// Returns false when the access was refused with a bus error.
bool EnterPage(const Page& page, Access kind) {
    const bool write = kind == Access::kWriteByte || kind == Access::kWriteWord;
    if (!IoIsSte() && (page.gate == Gate::kSteOnly || (page.gate == Gate::kSteOnlyWrites && write))) {
        CpuSignalBusError();
        return false;
    }
    if (page.wait == Wait::kMfp)
        CpuAddWaitStates(4);
    else if (page.wait == Wait::kYm)
        ChargeYmWait(kind);
    return true;
}

// The decoder's own page: the memory configuration register at 0xFF8001. It is stored only.
uint8_t MemoryConfigReadByte(uint32_t, Cycles) {
    return g_io.memoryConfig;
}
uint16_t MemoryConfigReadWord(uint32_t, Cycles) {
    return static_cast<uint16_t>(0xFF00 | g_io.memoryConfig);
}
void MemoryConfigWriteByte(uint32_t, uint8_t value, Cycles) {
    g_io.memoryConfig = value;
}
void MemoryConfigWriteWord(uint32_t, uint16_t value, Cycles) {
    g_io.memoryConfig = static_cast<uint8_t>(value);
}

IoChip MemoryConfigChip() {
    IoChip chip;
    chip.name = "memory configuration";
    chip.page = 0xFF8000;
    chip.readByte = MemoryConfigReadByte;
    chip.readWord = MemoryConfigReadWord;
    chip.writeByte = MemoryConfigWriteByte;
    chip.writeWord = MemoryConfigWriteWord;
    chip.readBytes.Add(0x01, 0x01);
    chip.writeBytes.Add(0x01, 0x01);
    chip.readWords.Add(0x00, 0x00);
    chip.writeWords.Add(0x00, 0x00);
    return chip;
}

}  // namespace

void IoInit() {
    for (Page& page : g_pages) page = Page{};
    g_resetCount = 0;
    IoRegisterChip(MemoryConfigChip());
}

bool IoRegisterChip(const IoChip& chip) {
    if ((chip.page & 0xFF) != 0 || chip.page < 0xFF8000 || chip.page > 0xFFFF00) return false;
    const int index = static_cast<int>(PageIndex(chip.page));
    Page& page = g_pages[index];
    if (page.present) return false;
    page.present = true;
    page.readByte = chip.readByte;
    page.readWord = chip.readWord;
    page.writeByte = chip.writeByte;
    page.writeWord = chip.writeWord;
    page.reset = chip.reset;
    for (unsigned o = 0; o < 256; ++o) {
        uint8_t flags = 0;
        if (chip.readByte && chip.readBytes.Has(o)) flags |= kReadByte;
        if (chip.writeByte && chip.writeBytes.Has(o)) flags |= kWriteByte;
        if ((o & 1) == 0 && chip.readWord && chip.readWords.Has(o)) flags |= kReadWord;
        if ((o & 1) == 0 && chip.writeWord && chip.writeWords.Has(o)) flags |= kWriteWord;
        page.decoded[o] = flags;
    }
    for (const PageLayout& layout : kLayout) {
        if (layout.page != chip.page) continue;
        page.wait = layout.wait;
        page.gate = layout.gate;
    }
    if (chip.reset) g_resetOrder[g_resetCount++] = index;
    return true;
}

uint32_t IoReadByte(uint32_t address, const MemoryRegion&, Cycles time) {
    const Page& page = g_pages[PageIndex(address)];
    if (!page.present) return 0xFF;
    if (!EnterPage(page, Access::kReadByte)) return 0xFF;
    if (!(page.decoded[address & 0xFF] & kReadByte)) return 0xFF;
    return page.readByte(address, time);
}

uint32_t IoReadWord(uint32_t address, const MemoryRegion&, Cycles time) {
    const Page& page = g_pages[PageIndex(address)];
    if (!page.present) return 0xFFFF;
    if (!EnterPage(page, Access::kReadWord)) return 0xFFFF;
    if (!(page.decoded[address & 0xFE] & kReadWord)) return 0xFFFF;
    return page.readWord(address, time);
}

void IoWriteByte(uint32_t address, uint32_t value, const MemoryRegion&, Cycles time) {
    const Page& page = g_pages[PageIndex(address)];
    if (!page.present) {
        CpuSignalBusError();
        return;
    }
    if (!EnterPage(page, Access::kWriteByte)) return;
    if (!(page.decoded[address & 0xFF] & kWriteByte)) return;
    page.writeByte(address, static_cast<uint8_t>(value), time);
}

void IoWriteWord(uint32_t address, uint32_t value, const MemoryRegion&, Cycles time) {
    const Page& page = g_pages[PageIndex(address)];
    if (!page.present) {
        CpuSignalBusError();
        return;
    }
    if (!EnterPage(page, Access::kWriteWord)) return;
    if (!(page.decoded[address & 0xFE] & kWriteWord)) return;
    page.writeWord(address, static_cast<uint16_t>(value), time);
}

MemoryHandlers IoMemoryHandlers() {
    MemoryHandlers handlers;
    handlers.ioReadByte = IoReadByte;
    handlers.ioReadWord = IoReadWord;
    handlers.ioWriteByte = IoWriteByte;
    handlers.ioWriteWord = IoWriteWord;
    return handlers;
}

void IoReset() {
    g_io.mfp.Reset();
    for (int i = 0; i < g_resetCount; ++i) g_pages[g_resetOrder[i]].reset();
}

}  // namespace vexil

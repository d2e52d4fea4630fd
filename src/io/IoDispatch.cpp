#include "io/IoDispatch.h"

#include "core/SaveState.h"
#include "cpu/Cpu.h"

namespace vexil {

namespace {

// Offset flags, one byte per page offset.
constexpr uint8_t kReadByte = 1, kReadWord = 2, kWriteByte = 4, kWriteWord = 8, kFault = 16;

unsigned PageIndex(uint32_t address) {
    return (address >> 8) & 0x7F;
}

IoDispatch& Decoder(const MemoryRegion& region) {
    return *static_cast<IoDispatch*>(region.context);
}

// The decoder's own page: the memory configuration register at 0xFF8001. It is stored only.
IoChip MemoryConfigChip(IoDispatch::State& state) {
    using S = IoDispatch::State;
    IoChip chip;
    chip.name = "memory configuration";
    chip.page = 0xFF8000;
    chip.context = &state;
    chip.readByte = [](void* c, uint32_t, Cycles) -> uint8_t { return static_cast<S*>(c)->memoryConfig; };
    chip.readWord = [](void* c, uint32_t, Cycles) -> uint16_t {
        return static_cast<uint16_t>(0xFF00 | static_cast<S*>(c)->memoryConfig);
    };
    chip.writeByte = [](void* c, uint32_t, uint8_t value, Cycles) {
        static_cast<S*>(c)->memoryConfig = value;
    };
    chip.writeWord = [](void* c, uint32_t, uint16_t value, Cycles) {
        static_cast<S*>(c)->memoryConfig = static_cast<uint8_t>(value);
    };
    chip.readBytes.Add(0x01, 0x01);
    chip.writeBytes.Add(0x01, 0x01);
    chip.readWords.Add(0x00, 0x00);
    chip.writeWords.Add(0x00, 0x00);
    return chip;
}

}  // namespace

IoDispatch::IoDispatch(bool ste) {
    state_.Machine = ste ? 1 : 0;
    RegisterChip(MemoryConfigChip(state_));
}

bool IoDispatch::RegisterChip(const IoChip& chip) {
    // The pages the machine decodes, with what belongs to the page rather than to its chip.
    struct Layout {
        uint32_t page;
        Wait wait;
        Gate gate;
    };
    static constexpr Layout kLayout[] = {
        // page      wait         machine
        {0xFF8000, Wait::kNone, Gate::kBoth},     // memory configuration
        {0xFF8200, Wait::kNone, Gate::kBoth},     // Shifter
        {0xFF8600, Wait::kNone, Gate::kBoth},     // DMA and floppy controller
        {0xFF8800, Wait::kYm, Gate::kBoth},       // YM2149
        {0xFF8900, Wait::kNone, Gate::kSteOnly},  // STE DMA sound
        {0xFF8A00, Wait::kNone, Gate::kSteOnly},  // Blitter
        {0xFFFA00, Wait::kMfp, Gate::kBoth},      // MFP 68901
        {0xFFFC00, Wait::kNone, Gate::kBoth},     // ACIAs
    };
    if ((chip.page & 0xFF) != 0 || chip.page < 0xFF8000 || chip.page > 0xFFFF00) return false;
    const unsigned index = PageIndex(chip.page);
    Page& page = pages_[index];
    if (page.present) return false;
    page.present = true;
    page.chip = chip;
    for (unsigned o = 0; o < 256; ++o) {
        uint8_t flags = 0;
        if (chip.readByte && chip.readBytes.Has(o)) flags |= kReadByte;
        if (chip.writeByte && chip.writeBytes.Has(o)) flags |= kWriteByte;
        if ((o & 1) == 0 && chip.readWord && chip.readWords.Has(o)) flags |= kReadWord;
        if ((o & 1) == 0 && chip.writeWord && chip.writeWords.Has(o)) flags |= kWriteWord;
        if (chip.faults.Has(o)) flags = kFault;
        page.decoded[o] = flags;
    }
    for (const Layout& layout : kLayout) {
        if (layout.page != chip.page) continue;
        page.wait = layout.wait;
        page.gate = layout.gate;
    }
    if (chip.reset) resetOrder_[resetCount_++] = static_cast<uint8_t>(index);
    return true;
}

// Wait states of the YM2149 page. The first access of an instruction costs 4 cycles; a
// counter shared by all access kinds then adds 4 more every few accesses, as the bus of a
// block move through the sound chip's port does.
void IoDispatch::ChargeYmWait(Access kind) {
    int32_t& counter = state_.ymWaitCounter;
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

// Steps common to every access: a page with no chip, an STE page on an ST and a chip's fault
// offsets end in a bus error; otherwise the page's wait states are charged. Returns the page when the offset
// decodes for this kind of access, else null (reads then give all ones).
const IoDispatch::Page* IoDispatch::Enter(uint32_t address, Access kind, uint8_t flag) {
    const Page& page = pages_[PageIndex(address)];
    if (!page.present || (page.gate == Gate::kSteOnly && !Ste()) || (page.decoded[address & 0xFF] & kFault)) {
        CpuSignalBusError();
        return nullptr;
    }
    // Wait states belong to the processor's accesses; a debug write between runs has none.
    if (CpuRunning()) {
        if (page.wait == Wait::kMfp)
            CpuAddWaitStates(4);
        else if (page.wait == Wait::kYm)
            ChargeYmWait(kind);
    }
    return (page.decoded[address & 0xFF] & flag) ? &page : nullptr;
}

uint32_t IoDispatch::ReadByte(uint32_t address, const MemoryRegion& region, Cycles time) {
    const Page* page = Decoder(region).Enter(address, Access::kReadByte, kReadByte);
    return page ? page->chip.readByte(page->chip.context, address, time) : 0xFF;
}

uint32_t IoDispatch::ReadWord(uint32_t address, const MemoryRegion& region, Cycles time) {
    const Page* page = Decoder(region).Enter(address & ~1u, Access::kReadWord, kReadWord);
    return page ? page->chip.readWord(page->chip.context, address, time) : 0xFFFF;
}

void IoDispatch::WriteByte(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time) {
    const Page* page = Decoder(region).Enter(address, Access::kWriteByte, kWriteByte);
    if (page) page->chip.writeByte(page->chip.context, address, static_cast<uint8_t>(value), time);
}

void IoDispatch::WriteWord(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time) {
    const Page* page = Decoder(region).Enter(address & ~1u, Access::kWriteWord, kWriteWord);
    if (page) page->chip.writeWord(page->chip.context, address, static_cast<uint16_t>(value), time);
}

int32_t IoDispatch::PeekByte(uint32_t address, Cycles time) const {
    const Page& page = pages_[PageIndex(address)];
    const unsigned offset = address & 0xFF;
    if (!page.present || (page.gate == Gate::kSteOnly && !Ste()) || (page.decoded[offset] & kFault))
        return -1;
    const IoChip& chip = page.chip;
    const bool byte = (page.decoded[offset] & kReadByte) != 0;
    const bool word = (page.decoded[offset & 0xFE] & kReadWord) != 0;
    if (!byte && !word) return 0xFF;
    if (chip.peekByte) return chip.peekByte(chip.context, address, time);
    if (byte) return chip.readByte(chip.context, address, time);
    const uint16_t value = chip.readWord(chip.context, address & ~1u, time);
    return (address & 1) ? value & 0xFF : value >> 8;
}

uint32_t IoDispatch::PeekWord(uint32_t address, const MemoryRegion& region, Cycles time) {
    const IoDispatch& io = Decoder(region);
    const int32_t high = io.PeekByte(address & ~1u, time);
    const int32_t low = io.PeekByte(address | 1u, time);
    if (high < 0 || low < 0) return 0xFFFFFFFF;
    return static_cast<uint32_t>(high << 8 | low);
}

MemoryHandlers IoDispatch::Handlers() {
    MemoryHandlers handlers;
    handlers.ioReadByte = ReadByte;
    handlers.ioReadWord = ReadWord;
    handlers.ioPeekWord = PeekWord;
    handlers.ioWriteByte = WriteByte;
    handlers.ioWriteWord = WriteWord;
    handlers.io = this;
    return handlers;
}

void IoDispatch::Save(StateWriter& out) const {
    out.BeginSection("IO  ");
    out(state_);
}

bool IoDispatch::Load(StateReader& in, bool commit) {
    State s;
    if (!in.BeginSection("IO  ") || !in(s).EndSection()) return false;
    if (s.Machine > 1 || s.ymWaitCounter < -16 || s.ymWaitCounter > 16) return false;
    if (commit) state_ = s;
    return true;
}

void IoDispatch::Reset() {
    for (int i = 0; i < resetCount_; ++i) {
        const IoChip& chip = pages_[resetOrder_[i]].chip;
        chip.reset(chip.context);
    }
}

}  // namespace vexil

// The I/O page decoder: the 32 KB at 0xFF8000-0xFFFFFF that hold the chips' registers.
//
// An access is split by 256-byte page (address bits 14-8) and then by offset within the page
// (bits 7-0). Each chip registers the routines of its page once, with the offsets it decodes
// for each of the four access kinds; the decoder adds the page's wait states, refuses the
// STE-only pages on an ST, and answers for everything that decodes to nothing:
//
//   undecoded page               every access -> bus error (software finds its hardware so)
//   undecoded offset, known page read 0xFF / 0xFFFF, write ignored
//   a chip's fault offsets       every access -> bus error
//   0xFF8900 (DMA sound) on ST   every access -> bus error
//   0xFF8A00 (Blitter) on ST     every access -> bus error
//
// Wait states, per page:
//   0xFFFA00 MFP                 4 cycles on every access
//   0xFF8800 YM2149              4 cycles on the first access of an instruction, then 4 more
//                                every 8 byte accesses, 4 word reads or 4 word writes
//   everything else              none at the decoder (a chip may add its own)
//
// There is no supervisor check: user programs reach every register.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>

#include "memory/Memory.h"

namespace vexil {

class StateWriter;
class StateReader;

// Register routines. Each gets back the context its chip registered. Word routines get and
// give the word in the machine's order: the high byte is the register at the even address.
using IoByteRead = uint8_t (*)(void* context, uint32_t address, Cycles time);
using IoWordRead = uint16_t (*)(void* context, uint32_t address, Cycles time);
using IoByteWrite = void (*)(void* context, uint32_t address, uint8_t value, Cycles time);
using IoWordWrite = void (*)(void* context, uint32_t address, uint16_t value, Cycles time);

// A set of offsets within a page (0x00-0xFF). Word sets hold the even offsets.
class IoOffsets {
public:
    // Every `step`-th offset from `first` to `last` inclusive.
    IoOffsets& Add(unsigned first, unsigned last, unsigned step = 1) {
        for (unsigned o = first; o <= last && o < 256; o += step) bits_.set(o);
        return *this;
    }
    bool Has(unsigned offset) const { return bits_.test(offset & 0xFF); }

private:
    std::bitset<256> bits_;
};

// One chip's face on the I/O page: its page, its routines and the offsets it decodes. Once a
// chip holds a page, every offset it does not decode reads as all ones and ignores writes (a
// null routine decodes no offset of its kind).
struct IoChip {
    const char* name = "";
    uint32_t page = 0;        // 0xFF8000-0xFFFF00, low byte 0
    void* context = nullptr;  // handed back to every routine
    IoByteRead readByte = nullptr;
    IoWordRead readWord = nullptr;
    IoByteWrite writeByte = nullptr;
    IoWordWrite writeWord = nullptr;
    IoOffsets readBytes, readWords, writeBytes, writeWords;
    IoOffsets faults;  // offsets where nothing answers: every access takes a bus error
    // For the debugger: the byte at any offset a byte or word read decodes, as that read would
    // give it, with nothing acted on. Needed by chips whose reads act (a data register that
    // empties, a status that clears an interrupt); null: the read routines act on nothing.
    IoByteRead peekByte = nullptr;
    void (*reset)(void* context) = nullptr;  // this chip's part of Reset, in registration order
};

// The one way a chip meets the decoder: `MakeIoChip(name, page, chip)` fills in the name, the
// page, the context and a routine for each of these members the chip has, each called with the
// offset in the page (0x00-0xFF) and, where its parameters end in one, the access's `Cycles`:
//
//   uint8_t  ReadByte(unsigned offset [, Cycles])                    -> readByte
//   uint16_t ReadWord(unsigned offset [, Cycles])                    -> readWord
//   void     WriteByte(unsigned offset, uint8_t value [, Cycles])    -> writeByte
//   void     WriteWord(unsigned offset, uint16_t value [, Cycles])   -> writeWord
//   uint8_t  PeekByte(unsigned offset [, Cycles])                    -> peekByte
//   void     Reset()                                                 -> reset
//
// A chip's factory is then its name, its page and the offsets it decodes:
//
//   IoChip BlitterIoChip(Blitter& blitter) {
//       IoChip chip = MakeIoChip("Blitter", 0xFF8A00, blitter);
//       chip.readBytes.Add(0x00, 0x3D);
//       // ...
//       return chip;
//   }
namespace io_binding {

template <class Chip>
Chip& Of(void* context) {
    return *static_cast<Chip*>(context);
}

template <class Chip>
concept ReadsBytes = requires(Chip& c, unsigned o, Cycles t) {
    c.ReadByte(o, t);
}
|| requires(Chip& c, unsigned o) {
    c.ReadByte(o);
};
template <class Chip>
concept ReadsWords = requires(Chip& c, unsigned o, Cycles t) {
    c.ReadWord(o, t);
}
|| requires(Chip& c, unsigned o) {
    c.ReadWord(o);
};
template <class Chip>
concept WritesBytes = requires(Chip& c, unsigned o, uint8_t v, Cycles t) {
    c.WriteByte(o, v, t);
}
|| requires(Chip& c, unsigned o, uint8_t v) {
    c.WriteByte(o, v);
};
template <class Chip>
concept WritesWords = requires(Chip& c, unsigned o, uint16_t v, Cycles t) {
    c.WriteWord(o, v, t);
}
|| requires(Chip& c, unsigned o, uint16_t v) {
    c.WriteWord(o, v);
};
template <class Chip>
concept PeeksBytes = requires(Chip& c, unsigned o, Cycles t) {
    c.PeekByte(o, t);
}
|| requires(Chip& c, unsigned o) {
    c.PeekByte(o);
};
template <class Chip>
concept Resets = requires(Chip& c) {
    c.Reset();
};

template <class Chip>
uint8_t ReadByte(void* context, uint32_t address, Cycles time) {
    Chip& chip = Of<Chip>(context);
    const unsigned offset = address & 0xFF;
    if constexpr (requires { chip.ReadByte(offset, time); })
        return chip.ReadByte(offset, time);
    else
        return chip.ReadByte(offset);
}

template <class Chip>
uint16_t ReadWord(void* context, uint32_t address, Cycles time) {
    Chip& chip = Of<Chip>(context);
    const unsigned offset = address & 0xFF;
    if constexpr (requires { chip.ReadWord(offset, time); })
        return chip.ReadWord(offset, time);
    else
        return chip.ReadWord(offset);
}

template <class Chip>
void WriteByte(void* context, uint32_t address, uint8_t value, Cycles time) {
    Chip& chip = Of<Chip>(context);
    const unsigned offset = address & 0xFF;
    if constexpr (requires { chip.WriteByte(offset, value, time); })
        chip.WriteByte(offset, value, time);
    else
        chip.WriteByte(offset, value);
}

template <class Chip>
void WriteWord(void* context, uint32_t address, uint16_t value, Cycles time) {
    Chip& chip = Of<Chip>(context);
    const unsigned offset = address & 0xFF;
    if constexpr (requires { chip.WriteWord(offset, value, time); })
        chip.WriteWord(offset, value, time);
    else
        chip.WriteWord(offset, value);
}

template <class Chip>
uint8_t PeekByte(void* context, uint32_t address, Cycles time) {
    Chip& chip = Of<Chip>(context);
    const unsigned offset = address & 0xFF;
    if constexpr (requires { chip.PeekByte(offset, time); })
        return chip.PeekByte(offset, time);
    else
        return chip.PeekByte(offset);
}

template <class Chip>
void Reset(void* context) {
    Of<Chip>(context).Reset();
}

}  // namespace io_binding

template <class Chip>
IoChip MakeIoChip(const char* name, uint32_t page, Chip& chip) {
    IoChip io;
    io.name = name;
    io.page = page;
    io.context = &chip;
    if constexpr (io_binding::ReadsBytes<Chip>) io.readByte = io_binding::ReadByte<Chip>;
    if constexpr (io_binding::ReadsWords<Chip>) io.readWord = io_binding::ReadWord<Chip>;
    if constexpr (io_binding::WritesBytes<Chip>) io.writeByte = io_binding::WriteByte<Chip>;
    if constexpr (io_binding::WritesWords<Chip>) io.writeWord = io_binding::WriteWord<Chip>;
    if constexpr (io_binding::PeeksBytes<Chip>) io.peekByte = io_binding::PeekByte<Chip>;
    if constexpr (io_binding::Resets<Chip>) io.reset = io_binding::Reset<Chip>;
    return io;
}

class IoDispatch {
public:
    // `ste`: the STE-only pages answer. Registers the decoder's own page (the memory
    // configuration register); the chips register after it.
    explicit IoDispatch(bool ste = false);

    // Installs a chip's page. Returns false (and changes nothing) for a page outside the I/O
    // area or one that is already taken.
    bool RegisterChip(const IoChip& chip);

    // The four entry handlers the memory map installs over the I/O page; the region's context
    // is the decoder.
    static uint32_t ReadByte(uint32_t address, const MemoryRegion& region, Cycles time);
    static uint32_t ReadWord(uint32_t address, const MemoryRegion& region, Cycles time);
    static void WriteByte(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time);
    static void WriteWord(uint32_t address, uint32_t value, const MemoryRegion& region, Cycles time);
    // The debug read: the word as the registers hold it, acting on nothing (no wait state, no
    // bus error, no register's read effect); 0xFFFFFFFF where a read would be a bus error.
    static uint32_t PeekWord(uint32_t address, const MemoryRegion& region, Cycles time);
    // One byte so: -1 where a read would be a bus error.
    int32_t PeekByte(uint32_t address, Cycles time) const;
    MemoryHandlers Handlers();

    // The CPU's reset hook (RESET instruction) and part of every machine reset: each
    // registered chip's reset, in registration order.
    void Reset();
    static void ResetHook(void* context) { static_cast<IoDispatch*>(context)->Reset(); }

    bool Ste() const { return (state_.Machine & 1) != 0; }
    void SetMachine(uint32_t machine) { state_.Machine = machine; }

    // The decoder's own state, as a save state stores it.
    struct State {
        uint32_t Machine = 0;       // the `Machine` setting: 0 ST, 1 STE
        uint8_t memoryConfig = 0;   // 0xFF8001: stored only; not changed by Reset
        int32_t ymWaitCounter = 0;  // spaces the YM2149 page's wait states
        template <class Archive>
        void Fields(Archive& a) {
            a(Machine)(memoryConfig)(ymWaitCounter);
        }
    };
    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

private:
    enum class Wait : uint8_t { kNone, kMfp, kYm };
    enum class Gate : uint8_t { kBoth, kSteOnly };
    enum class Access { kReadByte, kReadWord, kWriteByte, kWriteWord };
    struct Page {
        IoChip chip;
        std::array<uint8_t, 256> decoded{};  // kReadByte | kReadWord | kWriteByte | kWriteWord
        Wait wait = Wait::kNone;
        Gate gate = Gate::kBoth;
        bool present = false;
    };

    const Page* Enter(uint32_t address, Access kind, uint8_t flag);
    void ChargeYmWait(Access kind);

    State state_;
    Page pages_[128];
    uint8_t resetOrder_[128] = {};
    int resetCount_ = 0;
};

}  // namespace vexil

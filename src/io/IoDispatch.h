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
//   0xFF9200 (joypads) on ST     every access -> bus error
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
#include <type_traits>

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

// The chip's routines by name, callable on any chip that has them (and on no other, so that
// "has the routine" is a question `std::is_invocable` answers).
inline constexpr auto kReadByte = [](auto& c, auto... a) -> decltype(c.ReadByte(a...)) {
    return c.ReadByte(a...);
};
inline constexpr auto kReadWord = [](auto& c, auto... a) -> decltype(c.ReadWord(a...)) {
    return c.ReadWord(a...);
};
inline constexpr auto kWriteByte = [](auto& c, auto... a) -> decltype(c.WriteByte(a...)) {
    return c.WriteByte(a...);
};
inline constexpr auto kWriteWord = [](auto& c, auto... a) -> decltype(c.WriteWord(a...)) {
    return c.WriteWord(a...);
};
inline constexpr auto kPeekByte = [](auto& c, auto... a) -> decltype(c.PeekByte(a...)) {
    return c.PeekByte(a...);
};

// The decoder's routine for a chip's member `Call`: the offset in the page, the value (when
// `Args` holds one) and the access's time, when the member takes it.
template <class Chip, auto Call, class Result, class... Args>
struct Adapter {
    static constexpr bool kTimed = std::is_invocable_v<decltype(Call), Chip&, unsigned, Args..., Cycles>;
    static constexpr bool kPresent = kTimed || std::is_invocable_v<decltype(Call), Chip&, unsigned, Args...>;

    static Result Routine(void* context, uint32_t address, Args... args, Cycles time) {
        Chip& chip = *static_cast<Chip*>(context);
        if constexpr (kTimed)
            return static_cast<Result>(Call(chip, address & 0xFF, args..., time));
        else
            return static_cast<Result>(Call(chip, address & 0xFF, args...));
    }
    // The routine, or null for a chip without the member.
    static constexpr auto Pointer() {
        if constexpr (kPresent)
            return &Routine;
        else
            return static_cast<decltype(&Routine)>(nullptr);
    }
};

template <class Chip>
void Reset(void* context) {
    static_cast<Chip*>(context)->Reset();
}

}  // namespace io_binding

template <class Chip>
IoChip MakeIoChip(const char* name, uint32_t page, Chip& chip) {
    IoChip io;
    io.name = name;
    io.page = page;
    io.context = &chip;
    io.readByte = io_binding::Adapter<Chip, io_binding::kReadByte, uint8_t>::Pointer();
    io.readWord = io_binding::Adapter<Chip, io_binding::kReadWord, uint16_t>::Pointer();
    io.writeByte = io_binding::Adapter<Chip, io_binding::kWriteByte, void, uint8_t>::Pointer();
    io.writeWord = io_binding::Adapter<Chip, io_binding::kWriteWord, void, uint16_t>::Pointer();
    io.peekByte = io_binding::Adapter<Chip, io_binding::kPeekByte, uint8_t>::Pointer();
    if constexpr (requires(Chip & c) { c.Reset(); }) io.reset = io_binding::Reset<Chip>;
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

    // Called with the value of every write to the memory configuration register (the memory
    // controller's bank decoding follows it).
    void SetMemoryConfigHook(void (*hook)(void* context, uint8_t value), void* context) {
        state_.configHook = hook;
        state_.configContext = context;
    }
    uint8_t MemoryConfig() const { return state_.memoryConfig; }
    // Sets the register without a write (power-on).
    void SetMemoryConfig(uint8_t value) { state_.memoryConfig = value; }

    bool Ste() const { return (state_.Machine & 1) != 0; }
    void SetMachine(uint32_t machine) { state_.Machine = machine; }

    // The decoder's own state, as a save state stores it.
    struct State {
        uint32_t Machine = 0;       // the `Machine` setting: 0 ST, 1 STE
        uint8_t memoryConfig = 0;   // 0xFF8001: reads back as written; not changed by Reset
        int32_t ymWaitCounter = 0;  // spaces the YM2149 page's wait states
        void (*configHook)(void*, uint8_t) = nullptr;  // wiring, not saved
        void* configContext = nullptr;
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

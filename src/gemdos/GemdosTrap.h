// Where drive C: meets the running machine: a small application cartridge and the host calls
// its code makes.
//
// TOS runs the cartridge's application of type 3 ("execute prior to boot disk") once GEMDOS is
// up and before it chooses the boot drive. That application (a host call) sets bit 2 of
// _drvbits and puts the cartridge's GEMDOS entry in vector 0x84, keeping TOS's own entry. From
// then on every GEMDOS call, including those that trap #1 hooks installed later by AUTO
// programs pass on, reaches the entry, which hands it to GemdosDrive: a call that is not ours
// goes on to TOS's entry with nothing changed; one that is returns with D0 set (RTE).
//
// Pexec of a program on C: runs as a short chain of TOS calls made from the cartridge with
// their arguments on the supervisor stack: Pexec 7 for a basepage, the drive's loader, then
// Pexec 6 (mode 0) or a return with the basepage (mode 3); on a loading error the two blocks
// are given back with Mfree. Each step's place in the chain lives in the stack frame, so
// chains nest and a save state taken in the middle holds them.
//
// The host call is the ILLEGAL opcode at the cartridge's own addresses (see HostCallHook), so
// the processor's run loop is untouched. Not yet modelled: a cartridge image of the user's own
// together with the folder drive (the port holds one of them).
#pragma once

#include <cstdint>

#include "cpu/Cpu.h"
#include "gemdos/GemdosDrive.h"
#include "memory/Memory.h"

namespace vexil::gemdos {

constexpr uint32_t kCartridgeBase = 0xFA0000;
constexpr uint32_t kBootHook = kCartridgeBase + 0x40;
constexpr uint32_t kEntry = kCartridgeBase + 0x44;
constexpr uint32_t kReturn = kCartridgeBase + 0x46;
constexpr uint32_t kCallTos = kCartridgeBase + 0x48;
constexpr uint32_t kContinue = kCartridgeBase + 0x4A;
constexpr uint32_t kHostCallSpan = 0x10;

// The ST's memory of a machine: reads of RAM, ROM and cartridge; writes to RAM above the
// system variables.
class MachineMemory : public GuestMemory {
public:
    MachineMemory(EmulatedMemoryBlock& block, const MachineTables& tables, uint32_t ramBytes)
        : block_(&block), tables_(&tables), ramBytes_(ramBytes) {}
    bool Read(uint32_t address, uint8_t* out, uint32_t length) const override;
    bool Write(uint32_t address, const uint8_t* in, uint32_t length) override;

private:
    EmulatedMemoryBlock* block_;
    const MachineTables* tables_;
    uint32_t ramBytes_;
};

class GemdosTrap {
public:
    GemdosTrap(GemdosDrive& drive, EmulatedMemoryBlock& block, const MachineTables& tables,
               uint32_t ramBytes);

    // Writes the cartridge into the block's cartridge area; false when the area holds a
    // cartridge image already (anything but 0xFF).
    bool InstallCartridge();
    // Makes the processor's host calls reach this object.
    void Hook();
    void SetRamBytes(uint32_t ramBytes) { memory_ = MachineMemory(block_, tables_, ramBytes); }
    void Reset() { s_ = {}; }

    // The boot drive's choice: called with true when the cartridge runs (true back: a key was
    // pressed, and the cartridge waits kBootKeyCycles for TOS to see it), and with false at
    // TOS's first Dsetdrv after it, once the drive has been chosen (the key may go up).
    bool (*bootDrive)(void* context, bool choosing) = nullptr;
    void* bootContext = nullptr;

    // TOS's own GEMDOS entry, kept when the cartridge took vector 0x84 (0: not yet).
    struct State {
        uint32_t tosEntry = 0;
        uint32_t awaitingBootDrive = 0;  // the cartridge ran, no Dsetdrv yet
        uint32_t bootWait = 0;           // host calls the cartridge still waits for a key
        template <class Archive>
        void Fields(Archive& a) {
            a(tosEntry)(awaitingBootDrive)(bootWait);
        }
    };
    State& GetState() { return s_; }
    const State& GetState() const { return s_; }

private:
    static HostCallResult HostCall(void* context, uint32_t address);
    HostCallResult Boot();
    HostCallResult Entry();
    HostCallResult Continue();
    HostCallResult Finish(int32_t d0);
    uint32_t CurrentBasepage() const;

    GemdosDrive& drive_;
    EmulatedMemoryBlock& block_;
    const MachineTables& tables_;
    MachineMemory memory_;
    State s_{};
};

}  // namespace vexil::gemdos

// Native features: the host calls that programs on emulated machines of this family share.
//
// Two opcode words the 68000 does not decode, reached by JSR to a stub (`dc.w 0x7300; rts`,
// `dc.w 0x7301; rts`), so that their arguments lie on the active stack (USP in user mode, SSP
// in supervisor mode) above the return address:
//   0x7300  4(SP) a C string, the feature's name      D0: its ID, 0 when unknown
//   0x7301  4(SP) an ID, 8(SP) on the arguments        D0: the result
// The PC moves past the word, the stack stays as it was (the caller pops) and only D0 changes.
// IDs keep their low 20 bits free: callers add sub-function numbers to them.
//
//   feature       arguments       does
//   NF_NAME       buffer, size    writes "Vexil" (ID|1: with the version), NUL-terminated
//   NF_VERSION    -               0x00010000
//   NF_STDERR     C string        the text to the host as given; D0 its length
//   NF_SHUTDOWN   -               ends the run with exit code 0
//   NF_EXIT       long            ends the run with that exit code
//
// Off (no hook on the CPU), both words take the illegal-instruction exception as on the chip.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexil {

struct MachineTables;

class NativeFeatures {
public:
    // Where NF_STDERR's text goes; `fromRom` when the calling stub lies in ROM or cartridge
    // (the operating system's own diagnostics rather than the program's).
    struct Output {
        void (*write)(void* context, const char* text, size_t length, bool fromRom) = nullptr;
        void* context = nullptr;
    };

    static constexpr uint32_t kIdShift = 20;
    static constexpr uint32_t kVersion = 0x00010000;
    static constexpr size_t kMaxText = 65536;  // a string without its NUL ends here

    // One call of 0x7300 or 0x7301 at `pc`, on the CPU's registers and memory. True when taken.
    bool Call(uint16_t opcode, uint32_t pc);
    static bool Hook(void* context, uint16_t opcode, uint32_t pc) {
        return static_cast<NativeFeatures*>(context)->Call(opcode, pc);
    }

    // NF_SHUTDOWN or NF_EXIT was called; the run should end.
    bool Exited() const { return exited_; }
    int32_t ExitCode() const { return exitCode_; }
    void ClearExit() { exited_ = false, exitCode_ = 0; }

    Output output;
    const char* fullName = "Vexil";         // what NF_NAME|1 writes
    const MachineTables* tables = nullptr;  // the memory the calls read and write; null: no calls

private:
    int32_t PeekByte(uint32_t address) const;  // -1 where nothing answers
    int64_t PeekLong(uint32_t address) const;
    uint32_t Lookup(uint32_t nameAddress) const;
    uint32_t Dispatch(uint32_t id, uint32_t args, uint32_t pc);

    bool exited_ = false;
    int32_t exitCode_ = 0;
};

}  // namespace vexil

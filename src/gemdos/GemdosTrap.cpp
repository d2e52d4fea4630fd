#include "gemdos/GemdosTrap.h"

#include <cstring>

namespace vexil::gemdos {

namespace {

constexpr uint32_t kDrvbits = 0x4C2;
constexpr uint32_t kSysbase = 0x4F2;
constexpr uint32_t kOsRunOffset = 0x28;  // in the OS header: the address of the current basepage
constexpr uint32_t kGemdosVector = 0x84;
constexpr uint32_t kFirstWritable = 0x800;  // below: vectors and system variables

// The cartridge, big-endian words at their offsets: the application header (type 3, its code
// at +0x40), then the code the host calls live in.
struct CartridgeWord {
    uint32_t offset;
    uint16_t word;
};
constexpr CartridgeWord kCartridge[] = {
    {0x00, 0xABCD}, {0x02, 0xEF42},                  // magic: an application cartridge
    {0x04, 0x0000}, {0x06, 0x0000},                  // no next application
    {0x08, 0x08FA}, {0x0A, 0x0040},                  // type bit 3 | init address
    {0x0C, 0x00FA}, {0x0E, 0x0040},                  // run address
    {0x18, 0x4649}, {0x1A, 0x4C45}, {0x1C, 0x5344},  // "FILESDRV": the name, also how the
    {0x1E, 0x5256}, {0x20, 0x0000},                  // host calls know the cartridge is ours
    {0x40, 0x4AFC}, {0x42, 0x4E75},                  // host call (boot), RTS
    {0x44, 0x4AFC},                                  // host call (GEMDOS entry)
    {0x46, 0x4E73},                                  // RTE
    {0x48, 0x4E41},                                  // TRAP #1
    {0x4A, 0x4AFC},                                  // host call (a Pexec step is done)
};
constexpr uint32_t kNameOffset = 0x18;
constexpr uint16_t kNameWord = 0x4649;

// Stack frame of a Pexec chain, from the supervisor stack pointer: the arguments of the TOS
// call the next TRAP makes, then the chain's own words.
constexpr uint32_t kFrameStep = 16;      // word: the step that runs when the call returns
constexpr uint32_t kFrameMode = 18;      // word: the Pexec mode asked for
constexpr uint32_t kFrameBasepage = 20;  // long
constexpr uint32_t kFrameError = 24;     // long: a loading error to return once freed
constexpr uint32_t kFrameBytes = 28;

enum Step : uint16_t { kAfterBasepage = 1, kAfterFreeEnvironment = 2, kAfterFreeBasepage = 3, kAfterGo = 4 };

constexpr int32_t kHostCallCycles = 100;
constexpr uint16_t kDsetdrv = 0x0E;
constexpr int32_t kBootKeyCycles = 400000;  // 50 ms: the key's byte, its interrupt, with room

}  // namespace

bool MachineMemory::Read(uint32_t address, uint8_t* out, uint32_t length) const {
    const uint64_t end = uint64_t{address} + length;
    if (end <= ramBytes_) {
        for (uint32_t i = 0; i < length; ++i) out[i] = block_->bytes[(address + i) ^ 1];
        return true;
    }
    // ROM and cartridge: the OS header and strings TOS passes from its ROM.
    if (address < 0xE00000 || end > 0xFF0000) return false;
    for (uint32_t i = 0; i < length; ++i) {
        const uint32_t word = DebugReadWord(*tables_, (address + i) & ~1u, 0);
        if (word > 0xFFFF) return false;
        out[i] = static_cast<uint8_t>(((address + i) & 1) ? word : word >> 8);
    }
    return true;
}

bool MachineMemory::Write(uint32_t address, const uint8_t* in, uint32_t length) {
    const uint64_t end = uint64_t{address} + length;
    if (address < kFirstWritable || end > ramBytes_) return false;
    for (uint32_t i = 0; i < length; ++i) block_->bytes[(address + i) ^ 1] = in[i];
    return true;
}

GemdosTrap::GemdosTrap(GemdosDrive& drive, EmulatedMemoryBlock& block, const MachineTables& tables,
                       uint32_t ramBytes)
    : drive_(drive), block_(block), tables_(tables), memory_(block, tables, ramBytes) {}

bool GemdosTrap::InstallCartridge() {
    uint8_t* area = block_.Cartridge();
    const uint8_t* end = area + kCartridgeBytes;
    const bool ours = LoadHostWord(area) == 0xABCD && LoadHostWord(area + kNameOffset) == kNameWord;
    if (!ours)
        for (const uint8_t* p = area; p < end; ++p)
            if (*p != 0xFF) return false;
    std::memset(area, 0xFF, kCartridgeBytes);
    for (const CartridgeWord& w : kCartridge) StoreHostWord(area + w.offset, w.word);
    return true;
}

void GemdosTrap::Hook() {
    g_cpu.hostCall = &GemdosTrap::HostCall;
    g_cpu.hostCallContext = this;
    g_cpu.hostCallFirst = kBootHook;
    g_cpu.hostCallSpan = kHostCallSpan;
}

HostCallResult GemdosTrap::HostCall(void* context, uint32_t address) {
    GemdosTrap& trap = *static_cast<GemdosTrap*>(context);
    // The cartridge must be ours: a user's cartridge at these addresses keeps the exception.
    if (LoadHostWord(trap.block_.Cartridge() + kNameOffset) != kNameWord) return {};
    switch (address) {
        case kBootHook:
            return trap.Boot();
        case kEntry:
            return trap.Entry();
        case kContinue:
            return trap.Continue();
        default:
            return {};
    }
}

uint32_t GemdosTrap::CurrentBasepage() const {
    uint32_t header = 0, run = 0, basepage = 0;
    if (!memory_.ReadLong(kSysbase, header) || !memory_.ReadLong(header + kOsRunOffset, run) ||
        !memory_.ReadLong(run, basepage))
        return 0;
    return basepage;
}

HostCallResult GemdosTrap::Boot() {
    // A key pressed for the boot drive's choice reaches TOS through the keyboard processor and
    // its interrupt: the cartridge stays here (interrupts taken) until it surely has.
    if (s_.bootWait > 0) {
        --s_.bootWait;
        return {true, s_.bootWait > 0 ? kBootHook : kBootHook + 2, kHostCallCycles};
    }
    // A new boot: whatever was open belongs to programs that are gone.
    drive_.Reset();
    uint32_t drives = 0, entry = 0;
    memory_.ReadLong(kDrvbits, drives);
    memory_.ReadLong(kGemdosVector, entry);
    if (drive_.Attached()) {
        uint8_t* ram = block_.Ram();
        StoreHostLong(ram + kDrvbits, drives | 4);
        if (entry != kEntry) s_.tosEntry = entry;
        StoreHostLong(ram + kGemdosVector, kEntry);
        s_.awaitingBootDrive = 1;
        if (bootDrive != nullptr && bootDrive(bootContext, true)) {
            s_.bootWait = kBootKeyCycles / kHostCallCycles;
            return {true, kBootHook, kHostCallCycles};
        }
    }
    return {true, kBootHook + 2, kHostCallCycles};
}

HostCallResult GemdosTrap::Entry() {
    // A GEMDOS call not made through TOS's vector as the cartridge left it: nothing to do.
    if (s_.tosEntry == 0) return {};
    const uint32_t ssp = g_cpu.a[7];
    uint16_t sr = 0;
    if (!memory_.ReadWord(ssp, sr)) return {true, s_.tosEntry, kHostCallCycles};
    const uint32_t args = (sr & kSrSupervisor) ? ssp + 6 : g_cpu.otherSp;
    uint16_t function = 0;
    if (s_.awaitingBootDrive && memory_.ReadWord(args, function) && function == kDsetdrv) {
        s_.awaitingBootDrive = 0;
        if (bootDrive != nullptr) bootDrive(bootContext, false);
    }
    const GemdosReply reply = drive_.Call(memory_, args, CurrentBasepage());
    switch (reply.kind) {
        case GemdosReply::Kind::kPass:
            return {true, s_.tosEntry, kHostCallCycles};
        case GemdosReply::Kind::kDone:
            g_cpu.d[0] = static_cast<uint32_t>(reply.d0);
            return {true, kReturn, kHostCallCycles};
        case GemdosReply::Kind::kLoad:
            break;
    }
    uint32_t command = 0, environment = 0;
    memory_.ReadLong(args + 8, command);
    memory_.ReadLong(args + 12, environment);
    const uint32_t frame = ssp - kFrameBytes;
    if (!memory_.WriteWord(frame, fn::kPexec) || !memory_.WriteWord(frame + 2, 7) ||
        !memory_.WriteLong(frame + 4, reply.prgFlags) || !memory_.WriteLong(frame + 8, command) ||
        !memory_.WriteLong(frame + 12, environment) ||
        !memory_.WriteWord(frame + kFrameStep, kAfterBasepage) ||
        !memory_.WriteWord(frame + kFrameMode, reply.mode) || !memory_.WriteLong(frame + kFrameBasepage, 0) ||
        !memory_.WriteLong(frame + kFrameError, 0)) {
        g_cpu.d[0] = static_cast<uint32_t>(kENSMEM);
        return {true, kReturn, kHostCallCycles};
    }
    g_cpu.a[7] = frame;
    return {true, kCallTos, kHostCallCycles};
}

HostCallResult GemdosTrap::Finish(int32_t d0) {
    g_cpu.a[7] += kFrameBytes;
    g_cpu.d[0] = static_cast<uint32_t>(d0);
    return {true, kReturn, kHostCallCycles};
}

HostCallResult GemdosTrap::Continue() {
    const uint32_t frame = g_cpu.a[7];
    uint16_t step = 0, mode = 0;
    uint32_t basepage = 0, error = 0;
    if (!memory_.ReadWord(frame + kFrameStep, step) || !memory_.ReadWord(frame + kFrameMode, mode) ||
        !memory_.ReadLong(frame + kFrameBasepage, basepage) || !memory_.ReadLong(frame + kFrameError, error))
        return {};
    const int32_t result = static_cast<int32_t>(g_cpu.d[0]);
    auto callTos = [&](uint16_t next) {
        memory_.WriteWord(frame + kFrameStep, next);
        return HostCallResult{true, kCallTos, kHostCallCycles};
    };
    switch (step) {
        case kAfterBasepage: {
            if (result < 0) return Finish(result);
            basepage = static_cast<uint32_t>(result);
            memory_.WriteLong(frame + kFrameBasepage, basepage);
            const int32_t loaded = drive_.LoadProgram(memory_, basepage);
            if (loaded < 0) {
                uint32_t environment = 0;
                memory_.ReadLong(basepage + bp::kEnvironment, environment);
                memory_.WriteLong(frame + kFrameError, static_cast<uint32_t>(loaded));
                memory_.WriteWord(frame, fn::kMfree);
                memory_.WriteLong(frame + 2, environment);
                return callTos(kAfterFreeEnvironment);
            }
            if (mode == 3) return Finish(static_cast<int32_t>(basepage));
            memory_.WriteWord(frame, fn::kPexec);
            memory_.WriteWord(frame + 2, 6);
            memory_.WriteLong(frame + 4, 0);
            memory_.WriteLong(frame + 8, basepage);
            memory_.WriteLong(frame + 12, 0);
            return callTos(kAfterGo);
        }
        case kAfterFreeEnvironment:
            memory_.WriteWord(frame, fn::kMfree);
            memory_.WriteLong(frame + 2, basepage);
            return callTos(kAfterFreeBasepage);
        case kAfterFreeBasepage:
            return Finish(static_cast<int32_t>(error));
        case kAfterGo:
            return Finish(result);
        default:
            return {};
    }
}

}  // namespace vexil::gemdos

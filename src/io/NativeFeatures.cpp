#include "io/NativeFeatures.h"

#include <cstring>
#include <string_view>

#include "cpu/Cpu.h"
#include "memory/Memory.h"

namespace vexil {

namespace {

constexpr std::string_view kFeatures[] = {"NF_NAME", "NF_VERSION", "NF_STDERR", "NF_SHUTDOWN", "NF_EXIT"};
enum Feature : uint32_t { kFeatureName = 1, kFeatureVersion, kFeatureStderr, kFeatureShutdown, kFeatureExit };

// The ROM areas (TOS at 0xE00000 or 0xFC0000, the cartridge at 0xFA0000).
bool InRom(uint32_t address) {
    address &= kAddressMask;
    return (address >= 0xE00000 && address < 0xF00000) || (address >= 0xFA0000 && address < 0xFF0000);
}

}  // namespace

int32_t NativeFeatures::PeekByte(uint32_t address) const {
    const uint32_t word = DebugReadWord(*tables, address, CpuCurrentCycle());
    return word == 0xFFFFFFFF ? -1 : static_cast<int32_t>(word >> 8);
}

int64_t NativeFeatures::PeekLong(uint32_t address) const {
    const Cycles now = CpuCurrentCycle();
    const uint32_t high = DebugReadWord(*tables, address, now),
                   low = DebugReadWord(*tables, address + 2, now);
    if (high == 0xFFFFFFFF || low == 0xFFFFFFFF) return -1;
    return static_cast<int64_t>(high << 16 | low);
}

bool NativeFeatures::Call(uint16_t opcode, uint32_t pc) {
    if (tables == nullptr) return false;
    const uint32_t sp = g_cpu.a[7];
    const int64_t argument = PeekLong(sp + 4);
    if (argument < 0) return false;  // no stack to read: the word stays illegal
    const uint32_t value = static_cast<uint32_t>(argument);
    g_cpu.d[0] = opcode == 0x7300 ? Lookup(value) : Dispatch(value, sp + 8, pc);
    return true;
}

uint32_t NativeFeatures::Lookup(uint32_t nameAddress) const {
    char name[32];
    size_t length = 0;
    for (;; ++length) {
        const int32_t c = PeekByte(nameAddress + static_cast<uint32_t>(length));
        if (c <= 0) break;
        if (length == sizeof name) return 0;  // longer than any name we know
        name[length] = static_cast<char>(c);
    }
    const std::string_view wanted(name, length);
    for (uint32_t i = 0; i < std::size(kFeatures); ++i)
        if (kFeatures[i] == wanted) return (i + 1) << kIdShift;
    return 0;
}

uint32_t NativeFeatures::Dispatch(uint32_t id, uint32_t args, uint32_t pc) {
    const uint32_t sub = id & ((1u << kIdShift) - 1);
    switch (id >> kIdShift) {
        case kFeatureName: {
            const int64_t buffer = PeekLong(args), size = PeekLong(args + 4);
            if (buffer < 0 || size <= 0) return 0;
            const char* text = sub == 1 ? fullName : "Vexil";
            const size_t length = std::strlen(text);
            const size_t room = static_cast<size_t>(size) - 1;
            const size_t n = length < room ? length : room;
            for (size_t i = 0; i <= n; ++i)
                DebugWriteByte(*tables, static_cast<uint32_t>(buffer + static_cast<int64_t>(i)),
                               i < n ? static_cast<uint8_t>(text[i]) : 0, CpuCurrentCycle());
            return static_cast<uint32_t>(length);
        }
        case kFeatureVersion:
            return kVersion;
        case kFeatureStderr: {
            const int64_t text = PeekLong(args);
            if (text < 0) return 0;
            char chunk[256];
            size_t total = 0, held = 0;
            for (; total < kMaxText; ++total) {
                const int32_t c = PeekByte(static_cast<uint32_t>(text) + static_cast<uint32_t>(total));
                if (c <= 0) break;
                chunk[held++] = static_cast<char>(c);
                if (held == sizeof chunk) {
                    if (output.write) output.write(output.context, chunk, held, InRom(pc));
                    held = 0;
                }
            }
            if (held > 0 && output.write) output.write(output.context, chunk, held, InRom(pc));
            return static_cast<uint32_t>(total);
        }
        case kFeatureShutdown:
        case kFeatureExit: {
            int64_t code = 0;
            if ((id >> kIdShift) == kFeatureExit) code = PeekLong(args);
            exited_ = true;
            exitCode_ = static_cast<int32_t>(code < 0 ? 0 : static_cast<uint32_t>(code));
            return 0;
        }
        default:
            return 0;
    }
}

}  // namespace vexil

// The values typed into the debugger's dialogs: addresses for go-to, the memory dump and
// breakpoints, and the NOP count. A value is taken whole or refused with a reason; what is
// taken lies in the 24-bit address space (even for code).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/DebuggerPage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vexil::DebuggerPage page({});  // no machine: only the typed values are looked at
    const bool shown = page.ShowMemory(text);
    if (shown ? page.Cursor() > 0xFFFFFF || page.MemoryBase() > 0xFFFFFF : page.Message().empty())
        std::abort();
    if (page.ToggleBreakpointAt(text) &&
        (page.Breakpoints().size() != 1 || (page.Breakpoints()[0] & ~0xFFFFFEu) != 0))
        std::abort();
    if (page.RunForNops(text) && (page.NopTarget() <= 0 || page.NopTarget() % 4 != 0)) std::abort();
    page.GoTo(text);
    return 0;
}

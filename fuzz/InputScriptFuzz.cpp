// Input scripts: any text is refused with a line number or parsed into events in frame order
// within the limits, whose formatted text parses again to the same events; applying them to
// the keyboard processor stays within its buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "input/InputScript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexil::InputScript script;
    std::string error;
    if (!script.Parse(std::string_view(reinterpret_cast<const char*>(data), size), error)) {
        if (error.rfind("line ", 0) != 0) std::abort();
        return 0;
    }
    int32_t last = 0;
    for (const vexil::ScriptEvent& e : script.Events()) {
        if (e.frame < last || e.frame > vexil::kMaxScriptFrame) std::abort();
        last = e.frame;
    }
    vexil::InputScript again;
    if (!again.Parse(script.Format(), error) || !(again.Events() == script.Events())) std::abort();
    static vexil::Ikbd keyboard;
    keyboard.PowerOn();
    for (const vexil::ScriptEvent& e : script.Events()) {
        script.Apply(e.frame, keyboard);
        for (int tick = 0; tick < 4; ++tick) keyboard.Tick();
    }
    return 0;
}

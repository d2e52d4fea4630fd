// Test files: any text is refused with a line number, or parsed into stretches whose steps
// keep within the picture, the memory and the limits, each stretch in frame order with its
// wait last; the result packing of `vexil test` takes the same bytes without reading beyond
// them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "app/TestCommand.h"
#include "testing/TestFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexil::TestFile test;
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vexil::TestResult result;
    vexil::UnpackResult(std::vector<uint8_t>(data, data + size), result);
    if (!vexil::ParseTestFile(text, "dir", test, error)) {
        if (error.rfind("line ", 0) != 0) std::abort();
        return 0;
    }
    if (test.stretches.empty() || test.frames < 1 || test.frames > vexil::kMaxTestFrames) std::abort();
    for (const auto& stretch : test.stretches) {
        int32_t last = 0;
        for (size_t i = 0; i < stretch.size(); ++i) {
            const vexil::TestStep& s = stretch[i];
            if (s.IsWait() != (i + 1 == stretch.size() && s.IsWait())) std::abort();
            if (!s.IsWait()) {
                if (s.frame < last) std::abort();
                last = s.frame;
            }
            if (s.x < 0 || s.y < 0 || s.x + s.w > 800 || s.y + s.h > 600) std::abort();
            if (s.address > 0xFFFFFF || s.length > vexil::kMaxDumpBytes || s.bytes.size() > 4096)
                std::abort();
        }
    }
    return 0;
}

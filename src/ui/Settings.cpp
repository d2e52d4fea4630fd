#include "ui/Settings.h"

#include "machine/Machine.h"

namespace vexil {

void ApplyRamSize(MachineConfig& config, uint32_t RAMSize) {
    config.RAMSize = RAMSize & 3;
    config.ramBytes = RamBytesFor(config.RAMSize);
}

}  // namespace vexil

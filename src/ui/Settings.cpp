#include "ui/Settings.h"

#include "machine/Machine.h"

namespace vexil {

void ApplyRamSize(MachineConfig& config, uint32_t RAMSize) {
    config.RAMSize = RAMSize > kLastRamSize ? RAMSize & 3 : RAMSize;
    config.ramBytes = RamBytesFor(config.RAMSize);
}

}  // namespace vexil

#include "app/Machine.h"

#include <cstring>

#include "cpu/Cpu.h"
#include "io/IoDispatch.h"
#include "io/IoState.h"

namespace vexil {

uint32_t RamBytesFor(uint32_t ramSize) {
    constexpr uint32_t kSizes[3] = {0x80000, 0x100000, 0x200000};
    const uint32_t index = ramSize & 3;
    return kSizes[index == 3 ? 2 : index];
}

Machine::Machine(const MachineSettings& settings)
    : settings_(settings), block_(new EmulatedMemoryBlock()), tables_(new MachineTables()) {
    static const bool dispatchBuilt = (CpuBuildDispatchTable(), true);
    (void)dispatchBuilt;

    g_io = IoState{};
    g_io.ram = block_->Ram();
    g_io.rom = block_->Rom();
    g_io.cartridge = block_->Cartridge();
    g_io.Machine = settings_.Machine;
    g_io.mfp.PowerOn();
    // The chips of the I/O page, one registration each (Shifter, floppy controller, YM2149,
    // DMA sound, Blitter and ACIAs join here); their reset runs in this order.
    IoInit();
    IoRegisterChip(MfpIoChip());

    std::memset(block_->Cartridge(), 0xFF, kCartridgeBytes);
    MemoryInstall(*tables_, *block_, RamBytesFor(settings_.RAMSize), IoMemoryHandlers());
    g_cpu = CpuState{};
    g_cpu.supervisor = tables_->Set();
    g_cpu.user = tables_->Set();
    g_cpu.current = tables_->Set();
    g_cpu.resetHook = IoReset;
    g_cpu.clock = 0;

    scheduler_.PowerOn();
    scheduler_.Attach(tables_.get(), block_->Ram());
}

Machine::~Machine() {
    g_cpu = CpuState{};
    g_io.ram = g_io.rom = g_io.cartridge = nullptr;
}

int32_t Machine::Reset(bool cold) {
    if (cold) std::memset(block_->Ram() + 8, 0, kRamBytes - 8);
    const int32_t status = CpuReset();
    IoReset();
    return status;
}

uint32_t Machine::RunFrame() {
    for (;;) {
        const int32_t budget = scheduler_.ServiceEvents();
        if (budget < 0) return kRunBudgetSpent;
        if (budget == 0) continue;
        const uint32_t result = CpuRun(budget);
        if (result != kRunBudgetSpent) return result;
    }
}

uint32_t Machine::RunFrames(int frames) {
    for (int i = 0; i < frames; ++i) {
        const uint32_t result = RunFrame();
        if (result != kRunBudgetSpent) return result;
    }
    return kRunBudgetSpent;
}

void Machine::LoadBytes(uint32_t address, const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) block_->bytes[((address + i) & 0x3FFFFF) ^ 1] = bytes[i];
}

}  // namespace vexil

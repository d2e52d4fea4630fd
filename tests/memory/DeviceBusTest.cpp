// The DMA devices' view of memory: the machine's map without the CPU's exceptions.
#include <gtest/gtest.h>

#include "cpu/Cpu.h"
#include "machine/Machine.h"
#include "memory/DeviceBus.h"

namespace vexil {
namespace {

class DeviceBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        // 512 KB of RAM; a word of ROM at 0xFC0000, the reset vectors at 0-7, RAM at 0x1000.
        StoreHostWord(machine.Memory().Rom(), 0x600E);
        StoreHostLong(machine.Ram(), 0x12345678);
        StoreHostWord(machine.Ram() + 0x1000, 0xCAFE);
    }
    Machine machine{{0, 0}};
};

struct BusRow {
    const char* name;
    uint32_t address;
    bool readable;
    uint16_t value;  // what a word read gives
    bool writable;
};

class DeviceBusMap : public DeviceBusTest, public ::testing::WithParamInterface<BusRow> {};

TEST_P(DeviceBusMap, FollowsTheMachinesMap) {
    const BusRow row = GetParam();
    const DeviceBus& bus = machine.Bus();
    uint16_t word = 0;
    uint8_t byte = 0;
    EXPECT_EQ(bus.ReadWord(row.address, word), row.readable);
    EXPECT_EQ(word, row.value);
    EXPECT_EQ(bus.ReadByte(row.address + 1, byte), row.readable);
    EXPECT_EQ(byte, row.value & 0xFF);
    EXPECT_EQ(bus.WriteWord(row.address, 0xBEEF), row.writable);
    EXPECT_EQ(bus.WriteByte(row.address + 1, 0x42), row.writable);
    if (row.writable) {
        EXPECT_EQ(LoadHostWord(machine.Ram() + (row.address & kAddressMask)), 0xBE42);
    }
    if (row.readable && !row.writable) {
        ASSERT_TRUE(bus.ReadWord(row.address, word));
        EXPECT_EQ(word, row.value);  // unchanged
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceBusMap,
    ::testing::Values(
        //     name                 address   read   value   write
        BusRow{"ram", 0x001000, true, 0xCAFE, true}, BusRow{"reset_vectors", 0x000000, true, 0x1234, false},
        BusRow{"beyond_installed_ram", 0x080000, false, 0xFFFF, true},  // as the CPU's writes
        BusRow{"rom", 0xFC0000, true, 0x600E, false},
        BusRow{"io_page", 0xFF8240, false, 0xFFFF, false},  // no chip is touched
        BusRow{"nothing", 0x500000, false, 0xFFFF, false},
        BusRow{"top_of_24_bits", 0x01001000, true, 0xCAFE, true}),  // addresses wrap at 16 MB
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceBusTest, BusTimeBetweenRunsMovesTheClockOn) {
    const Cycles before = g_cpu.clock;
    CpuChargeDevice(64);
    EXPECT_EQ(g_cpu.clock, before + 64);
    CpuChargeDevice(0);
    EXPECT_EQ(g_cpu.clock, before + 64);
}

}  // namespace
}  // namespace vexil

// The machine's memory map: host word order, region order and walks, and the accesses that
// end in bus or address errors.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "cpu/Cpu.h"
#include "cpu/test_seam.h"
#include "memory/Memory.h"
#include "support/Asm.h"

namespace vexil {
namespace {

struct HandlerCall {
    char kind;  // 'r' read, 'w' write, 's' screen watch
    uint32_t address;
    uint32_t value;
    Cycles time;
};
std::vector<HandlerCall> g_calls;

uint32_t IoRead(uint32_t address, const MemoryRegion&, Cycles time) {
    g_calls.push_back({'r', address, 0, time});
    return address & 0xFFFF;
}
void IoWrite(uint32_t address, uint32_t value, const MemoryRegion&, Cycles time) {
    g_calls.push_back({'w', address, value, time});
}
uint8_t* g_ram = nullptr;
void WatchWord(uint32_t address, uint32_t value, const MemoryRegion&, Cycles time) {
    g_calls.push_back({'s', address, value, time});
    StoreHostWord(g_ram + (address & 0x3FFFFE), static_cast<uint16_t>(value));
}
void WatchByte(uint32_t address, uint32_t value, const MemoryRegion&, Cycles time) {
    g_calls.push_back({'s', address, value, time});
    g_ram[(address & 0x3FFFFF) ^ 1] = static_cast<uint8_t>(value);
}

constexpr uint32_t kBusErrorHandler = 0x2000;
constexpr uint32_t kAddressErrorHandler = 0x3000;
constexpr uint32_t kStack = 0x8000;

class MemoryMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        CpuBuildDispatchTable();
        program_ = test::LoadAsm("memory");
        block_ = std::make_unique<EmulatedMemoryBlock>();
        g_ram = block_->Ram();
        Install(0x80000);
        g_calls.clear();
    }
    void Install(uint32_t ramBytes) {
        MemoryHandlers h;
        h.ioReadByte = h.ioReadWord = &IoRead;
        h.ioWriteByte = h.ioWriteWord = &IoWrite;
        h.screenWatchByte = &WatchByte;
        h.screenWatchWord = &WatchWord;
        MemoryInstall(tables_, *block_, ramBytes, h);
        CpuInstallTables(tables_);
        MemorySetScreenWatch(tables_, 0x10000);
        CopySwapped(block_->Ram() + program_.origin, program_.bytes.data(), program_.bytes.size());
        StoreHostLong(block_->Ram() + 8, kBusErrorHandler);
        StoreHostLong(block_->Ram() + 12, kAddressErrorHandler);
        StoreHostWord(block_->Rom(), 0x1234);
    }
    // Runs the one instruction at `label` in supervisor (or user) mode.
    void RunCase(const char* label, bool user = false) {
        cpu_seam::Registers r{};
        r.d[0] = 0xAABBCCDD;
        r.ssp = kStack;
        r.usp = 0x7000;
        r.sr = user ? 0x0700 : 0x2700;
        r.pc = program_.Symbol(label);
        cpu_seam::SetRegisters(r);
        g_cpu.pending = 0;
        g_cpu.clock = 1000;
        cpu_seam::Step();
    }
    uint16_t Word(uint32_t address) { return LoadHostWord(block_->Ram() + address); }
    uint32_t Long(uint32_t address) { return LoadHostLong(block_->Ram() + address); }

    test::AsmProgram program_;
    std::unique_ptr<EmulatedMemoryBlock> block_;
    MachineTables tables_;
};

TEST_F(MemoryMapTest, ByteAtOddAddressIsTheLowHalfOfItsHostWord) {
    RunCase("write_odd_byte");
    EXPECT_EQ(block_->Ram()[0x100], 0xDD);
    EXPECT_EQ(Word(0x100) & 0xFF, 0xDD);
}

TEST_F(MemoryMapTest, RamAboveTheSizeReadsAllOnesButTakesWrites) {
    Install(0x100000);
    RunCase("read_top_of_4mb");
    EXPECT_EQ(g_cpu.d[1] & 0xFFFF, 0xFFFFu);
    RunCase("write_top_of_4mb");
    EXPECT_EQ(Word(0x3FFFFE), 0xCCDD);
    EXPECT_NE(g_cpu.pc, kBusErrorHandler);
}

// Bus errors push a 14-byte frame: status 0, access address, instruction register 0, SR, PC.
TEST_F(MemoryMapTest, WriteToRomIsABusErrorAndReadGivesTheRomWord) {
    RunCase("write_rom");
    EXPECT_EQ(g_cpu.pc, kBusErrorHandler);
    const uint32_t sp = g_cpu.a[7];
    EXPECT_EQ(sp, kStack - 14);
    EXPECT_EQ(Word(sp), 0);
    EXPECT_EQ(Long(sp + 2), 0xFC0000u);
    EXPECT_EQ(Word(sp + 6), 0);
    EXPECT_EQ(Word(sp + 8), 0x2708);  // MOVE had set N from 0xCCDD before its write
    EXPECT_EQ(Long(sp + 10), program_.Symbol("read_rom"));
    RunCase("read_rom");
    EXPECT_EQ(g_cpu.d[1] & 0xFFFF, 0x1234u);
}

// Addresses 0-7 always read the ROM's reset vectors: writes there are taken and dropped
// (EmuTOS copies its header there), also while the screen starts at address 0.
TEST_F(MemoryMapTest, WritesToResetVectorsAreDroppedWhereverTheScreenIs) {
    StoreHostLong(block_->Ram() + 4, 0x00FC0030);
    for (uint32_t base : {0x10000u, 0u}) {
        MemorySetScreenWatch(tables_, base);
        RunCase("write_vector");
        EXPECT_NE(g_cpu.pc, kBusErrorHandler);
        EXPECT_EQ(Long(4), 0x00FC0030u);
    }
    EXPECT_TRUE(g_calls.empty());
}

// A map built without watch handlers has no watch to move: the reset vectors' region must stay
// where it is (moved to the screen, writes to 0-7 would become bus errors).
TEST_F(MemoryMapTest, MovingAnAbsentScreenWatchLeavesTheResetVectorsAlone) {
    MemoryHandlers h;
    h.ioReadByte = h.ioReadWord = &IoRead;
    h.ioWriteByte = h.ioWriteWord = &IoWrite;
    MemoryInstall(tables_, *block_, 0x80000, h);
    MemorySetScreenWatch(tables_, 0x78000);
    StoreHostLong(block_->Ram() + 4, 0x00FC0030);
    RunCase("write_vector");
    EXPECT_NE(g_cpu.pc, kBusErrorHandler);
    EXPECT_EQ(Long(4), 0x00FC0030u);
}

TEST_F(MemoryMapTest, OddWordReadOfIoPageIsAnAddressErrorBeforeAnyHandler) {
    RunCase("read_io_odd");
    EXPECT_EQ(g_cpu.pc, kAddressErrorHandler);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(Long(g_cpu.a[7] + 2), 0xFF8001u);
}

TEST_F(MemoryMapTest, LongIoAccessesAreTwoWordsFourCyclesApart) {
    RunCase("read_io_long");
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].address, 0xFF8240u);
    EXPECT_EQ(g_calls[1].address, 0xFF8242u);
    EXPECT_EQ(g_calls[1].time - g_calls[0].time, 4);
    EXPECT_EQ(g_cpu.d[1], 0x82408242u);
    g_calls.clear();
    RunCase("write_io_long");
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].value, 0xAABBu);
    EXPECT_EQ(g_calls[1].value, 0xCCDDu);
    EXPECT_EQ(g_calls[1].time - g_calls[0].time, 4);
}

TEST_F(MemoryMapTest, LongWriteIntoScreenWatchGivesTwoWordEvents) {
    RunCase("write_watch_long");
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].kind, 's');
    EXPECT_EQ(g_calls[0].value, 0xAABBu);
    EXPECT_EQ(g_calls[1].value, 0xCCDDu);
    EXPECT_EQ(Long(0x10000), 0xAABBCCDDu);
}

// Above the RAM area nothing answers a read: a bus error, as for a write (TOS finds absent
// hardware so). Below it, reads beyond the installed RAM give all ones (see above).
TEST_F(MemoryMapTest, UnmappedReadAboveTheRamAreaIsABusError) {
    RunCase("read_unmapped");
    EXPECT_EQ(g_cpu.pc, kBusErrorHandler);
    EXPECT_EQ(g_cpu.a[7], kStack - 14);
    EXPECT_EQ(Long(kStack - 14 + 2), 0x500000u);  // the access address
}

TEST_F(MemoryMapTest, LongReadAcrossTheEndOfRamTakesItsLowWordFromBeyond) {
    StoreHostWord(block_->Ram() + 0x7FFFE, 0x5678);
    RunCase("read_ram_end_long");
    EXPECT_EQ(g_cpu.d[1], 0x5678FFFFu);
}

TEST_F(MemoryMapTest, UserModeMayWriteLowMemory) {
    RunCase("write_low_user", true);
    EXPECT_EQ(Word(0x400), 0xCCDD);
    EXPECT_EQ(g_cpu.otherSp, kStack);  // no exception: still in user mode
}

TEST_F(MemoryMapTest, DebugAccessesNeverFault) {
    EXPECT_EQ(DebugReadWord(tables_, 0x500000, 0), 0xFFFFFFFFu);
    EXPECT_EQ(DebugReadWord(tables_, 0xFC0000, 0), 0x1234u);
    EXPECT_EQ(DebugWriteByte(tables_, 0xFC0000, 0x55, 0), -1);
    EXPECT_EQ(DebugReadWord(tables_, 0xFC0000, 0), 0x1234u);
    EXPECT_EQ(DebugWriteByte(tables_, 0x20001, 0x55, 0), 0);
    EXPECT_EQ(DebugReadWord(tables_, 0x20000, 0) & 0xFF, 0x55u);
}

TEST(RegionTable, PagesFallBackToTheWalkWhereRegionsOverlapOrEnd) {
    std::vector<uint8_t> host(0x30000);
    RegionTable reads(RegionTable::Kind::kRead);
    reads.Add({0, 0x17FFF, nullptr, nullptr, host.data()});
    EXPECT_NE(reads.PageBase(0x0000), 0u);
    EXPECT_EQ(reads.PageBase(0x10000), 0u);  // the region ends inside this page
    RegionTable writes(RegionTable::Kind::kWrite);
    writes.Add({0x8000, 0x17FFF, nullptr, [](uint32_t, uint32_t, const MemoryRegion&, Cycles) {}, nullptr});
    writes.Add({0, 0x2FFFF, nullptr, nullptr, host.data()});
    EXPECT_EQ(writes.PageBase(0x0000), 0u);  // both regions take writes here
    EXPECT_EQ(writes.PageBase(0x10000), 0u);
    EXPECT_NE(writes.PageBase(0x20000), 0u);
    EXPECT_EQ(writes.PageBase(0x20000) + 0x20000, reinterpret_cast<uintptr_t>(host.data()) + 0x20000);
}

}  // namespace
}  // namespace vexil

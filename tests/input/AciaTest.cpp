// The MC6850s: status bits, interrupt enable, master reset, overrun, and the line they share
// into MFP input 4.
#include <gtest/gtest.h>

#include <vector>

#include "input/Acia.h"
#include "machine/Machine.h"

namespace vexil {
namespace {

class AciaTest : public ::testing::Test {
protected:
    AciaTest() {
        acias.wiring.context = this;
        acias.wiring.transmit = [](void* c, uint8_t b) { static_cast<AciaTest*>(c)->sent.push_back(b); };
        acias.wiring.interruptLine = [](void* c, bool asserted) {
            static_cast<AciaTest*>(c)->lineChanges.push_back(asserted);
        };
        acias.PowerOn();
    }
    Acias acias;
    std::vector<uint8_t> sent;
    std::vector<bool> lineChanges;
};

struct StatusRow {
    const char* what;
    uint8_t control;
    int received;  // bytes arriving before the status is read
    bool readData;
    uint8_t status;
    bool line;
};

class AciaStatus : public AciaTest, public ::testing::WithParamInterface<StatusRow> {};

TEST_P(AciaStatus, FollowsControlAndReceiver) {
    const StatusRow& row = GetParam();
    acias.WriteByte(0, acia::kMasterReset);
    acias.WriteByte(0, row.control);
    for (int i = 0; i < row.received; ++i) acias.Receive(static_cast<uint8_t>(0x40 + i));
    if (row.readData) {
        EXPECT_EQ(acias.ReadByte(2), 0x40);  // the first byte stays; later ones are lost
    }
    EXPECT_EQ(acias.ReadByte(0), row.status) << row.what;
    EXPECT_EQ(acias.Requesting(), row.line) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Bits, AciaStatus,
    ::testing::Values(StatusRow{"idle", 0x96, 0, false, 0x02, false},
                      StatusRow{"a byte, interrupts on", 0x96, 1, false, 0x83, true},
                      StatusRow{"a byte, interrupts off", 0x16, 1, false, 0x03, false},
                      StatusRow{"overrun", 0x96, 2, false, 0xA3, true},
                      StatusRow{"read clears full and overrun", 0x96, 2, true, 0x02, false},
                      StatusRow{"held in master reset: nothing received", 0x03, 1, false, 0x02, false}));

TEST_F(AciaTest, MasterResetReleasesTheLineWhileAByteWaits) {
    acias.WriteByte(0, 0x96);
    acias.Receive(0x1E);
    EXPECT_TRUE(acias.Requesting());
    acias.WriteByte(0, 0x03);
    EXPECT_FALSE(acias.Requesting());
    EXPECT_EQ(acias.ReadByte(0), 0x02);
    EXPECT_EQ(lineChanges, (std::vector<bool>{true, false}));
}

TEST_F(AciaTest, TurningInterruptsOffAndOnFollowsAWaitingByte) {
    acias.WriteByte(0, 0x16);
    acias.Receive(0x1E);
    EXPECT_FALSE(acias.Requesting());
    acias.WriteByte(0, 0x96);
    EXPECT_TRUE(acias.Requesting());
    acias.WriteByte(0, 0x16);
    EXPECT_FALSE(acias.Requesting());
}

TEST_F(AciaTest, MidiIsReadyToSendAndNeverReceives) {
    acias.WriteByte(4, 0x03);
    acias.WriteByte(4, 0x95);  // as TOS sets it up
    acias.WriteByte(0, 0x96);
    acias.Receive(0x1E);
    EXPECT_EQ(acias.ReadByte(4), 0x02);
    acias.WriteByte(6, 0x90);
    EXPECT_EQ(acias.ReadByte(4), 0x02);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(acias.ReadByte(2), 0x1E);
}

TEST_F(AciaTest, KeyboardBytesGoOutUnlessHeldInReset) {
    acias.WriteByte(0, 0x03);
    acias.WriteByte(2, 0x80);
    acias.WriteByte(0, 0x96);
    acias.WriteByte(2, 0x80);
    acias.WriteByte(2, 0x01);
    EXPECT_EQ(sent, (std::vector<uint8_t>{0x80, 0x01}));
}

// In the machine: a key's make and break codes reach the ACIA one tick apart, each pulling
// MFP input 4 low and making channel 6 pending until the byte is read.
TEST(AciaInMachine, KeyCodesRaiseTheMfpAciaChannel) {
    Machine machine;
    Mfp& mfp = machine.GetMfp();
    Acias& acias = machine.GetAcias();
    mfp.WriteByte(mfp::kAer, 0x00, 0);
    mfp.WriteByte(mfp::kIerb, 0x40, 0);
    acias.WriteByte(0, 0x03);
    acias.WriteByte(0, 0x96);
    machine.Keyboard().input.keys[0x1E] = 1;
    auto tick = [&] { machine.Scheduler().hooks.keyboardTick(); };
    tick();
    EXPECT_FALSE(mfp.InputLine(mfp::kGpipAcia));
    EXPECT_EQ(mfp.Register(mfp::kIprb) & 0x40, 0x40);
    EXPECT_EQ(acias.ReadByte(0), 0x83);
    EXPECT_EQ(acias.ReadByte(2), 0x1E);
    EXPECT_TRUE(mfp.InputLine(mfp::kGpipAcia));
    mfp.WriteByte(mfp::kIprb, 0x00, 0);
    machine.Keyboard().input.keys[0x1E] = 0;
    tick();
    EXPECT_EQ(mfp.Register(mfp::kIprb) & 0x40, 0x40);
    EXPECT_EQ(acias.ReadByte(2), 0x9E);
}

}  // namespace
}  // namespace vexil

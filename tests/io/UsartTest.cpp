// The MFP's USART: character times from timer D and the control register, the transmitter's
// and receiver's buffers, status bits and interrupt channels (MC68901 data sheet).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "io/Mfp.h"
#include "io/Usart.h"

namespace vexil {
namespace {

using namespace mfp;
using namespace usart;

int32_t Accept(void*, int32_t, int32_t) {
    return 0;
}

class UsartTest : public ::testing::Test {
protected:
    void SetUp() override {
        mfp.PowerOn();
        mfp.Reset();
        mfp.sink.raise = Accept;
        Usart::Port& port = mfp.usart.port;
        port.context = this;
        port.schedule = [](void* c, int line, Cycles due) { static_cast<UsartTest*>(c)->due[line] = due; };
        port.cancel = [](void* c, int line) { static_cast<UsartTest*>(c)->due[line] = -1; };
        port.transmit = [](void* c, uint8_t byte) {
            static_cast<UsartTest*>(c)->sent += static_cast<char>(byte);
        };
        port.receive = [](void* c) {
            auto& self = *static_cast<UsartTest*>(c);
            return self.next < self.line.size()
                       ? static_cast<int32_t>(static_cast<uint8_t>(self.line[self.next++]))
                       : -1;
        };
        mfp.WriteByte(kIera, 0xFF, 0);
        mfp.WriteByte(kImra, 0xFF, 0);
    }
    // TOS's set-up: 9600 baud from timer D (prescaler 4, data 2), UCR 0x88.
    void Tos9600() {
        mfp.WriteByte(kTddr, 2, 0);
        mfp.WriteByte(kTcdcr, 0x01, 0);
        mfp.WriteByte(kUcr, 0x88, 0);
    }
    // Fires the pending event of `line`.
    void Fire(Usart::Line line) {
        ASSERT_GE(due[line], 0);
        const Cycles at = due[line];
        due[line] = -1;
        mfp.UsartEvent(line, at);
    }
    bool Pending(int channel) const { return (mfp.Register(kIpra) >> (channel - 8)) & 1; }
    void ClearPending() { mfp.WriteByte(kIpra, 0, 0); }

    Mfp mfp;
    Cycles due[2] = {-1, -1};
    std::string sent, line;
    size_t next = 0;
};

struct CharacterRow {
    const char* name;
    uint8_t ucr;
    uint8_t control;  // timer D's prescaler setting
    uint8_t data;
    double baud;
    double bits;  // start, word, parity and stop bits
};

class UsartCharacterTest : public UsartTest, public ::testing::WithParamInterface<CharacterRow> {};

// A character lasts bits / baud seconds of the 8,021,247 Hz CPU clock, where the baud rate is
// 2,457,600 / prescaler / data / 2 (the output's period) / 16 (UCR bit 7) or / 1.
TEST_P(UsartCharacterTest, LastsItsBitsAtTheBaudRateTimerDGives) {
    const CharacterRow& row = GetParam();
    mfp.WriteByte(kTddr, row.data, 0);
    mfp.WriteByte(kTcdcr, row.control, 0);
    mfp.WriteByte(kUcr, row.ucr, 0);
    const double expected = 8021247.0 * row.bits / row.baud;
    EXPECT_NEAR(mfp.UsartCharacterCycles(), expected, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Rates, UsartCharacterTest,
                         ::testing::Values(CharacterRow{"tos_9600_8n1", 0x88, 1, 2, 9600, 10},
                                           CharacterRow{"b19200_8n1", 0x88, 1, 1, 19200, 10},
                                           CharacterRow{"b300_8n1", 0x88, 1, 64, 300, 10},
                                           CharacterRow{"b9600_7e1", 0xAC, 1, 2, 9600, 10},
                                           CharacterRow{"b9600_5n2", 0xF8, 1, 2, 9600, 8},
                                           CharacterRow{"b9600_8n1_5", 0x90, 1, 2, 9600, 10.5},
                                           CharacterRow{"clock_x1", 0x08, 7, 96, 2457600.0 / 200 / 96 / 2,
                                                        10}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsartTest, StandsStillWithoutTimerD) {
    mfp.WriteByte(kUcr, 0x88, 0);
    mfp.WriteByte(usart::kTsr, kEnable, 0);
    mfp.WriteByte(kUdr, 'A', 0);
    EXPECT_EQ(mfp.UsartCharacterCycles(), 0);
    EXPECT_EQ(due[Usart::kTransmitter], -1);
    EXPECT_EQ(mfp.ReadByte(usart::kTsr, 0) & kBufferEmpty, 0);  // the byte waits in the buffer
    mfp.WriteByte(kTddr, 2, 100);
    mfp.WriteByte(kTcdcr, 0x01, 100);  // the clock starts: so does the character
    EXPECT_EQ(due[Usart::kTransmitter], 100 + mfp.UsartCharacterCycles());
}

TEST_F(UsartTest, TransmitterSendsBufferedBytesInOrderAndInterruptsWhenTheBufferEmpties) {
    Tos9600();
    const Cycles character = mfp.UsartCharacterCycles();
    mfp.WriteByte(usart::kTsr, kEnable, 0);
    EXPECT_TRUE(mfp.usart.ClockInUse());
    mfp.WriteByte(kUdr, 'A', 1000);
    // Into the idle shift register at once: the buffer is empty again.
    EXPECT_EQ(due[Usart::kTransmitter], 1000 + character);
    EXPECT_TRUE(Pending(kChannelTransmitEmpty));
    EXPECT_NE(mfp.ReadByte(usart::kTsr, 1000) & kBufferEmpty, 0);
    ClearPending();
    mfp.WriteByte(kUdr, 'B', 1200);
    EXPECT_EQ(mfp.ReadByte(usart::kTsr, 1200) & kBufferEmpty, 0);
    EXPECT_FALSE(Pending(kChannelTransmitEmpty));
    Fire(Usart::kTransmitter);
    EXPECT_EQ(sent, "A");
    EXPECT_TRUE(Pending(kChannelTransmitEmpty));  // 'B' moved on
    EXPECT_EQ(due[Usart::kTransmitter], 1000 + 2 * character);
    ClearPending();
    Fire(Usart::kTransmitter);
    EXPECT_EQ(sent, "AB");
    // Nothing more to send: an underrun, reported once on the transmit error channel.
    EXPECT_TRUE(Pending(kChannelTransmitError));
    EXPECT_NE(mfp.ReadByte(usart::kTsr, 0) & kUnderrun, 0);
    EXPECT_EQ(mfp.ReadByte(usart::kTsr, 0) & kUnderrun, 0);  // reading TSR cleared it
    EXPECT_EQ(due[Usart::kTransmitter], -1);
}

TEST_F(UsartTest, ADisabledTransmitterFinishesItsCharacterAndSetsEnd) {
    Tos9600();
    mfp.WriteByte(usart::kTsr, kEnable, 0);
    mfp.WriteByte(kUdr, 'x', 0);
    mfp.WriteByte(usart::kTsr, 0, 10);
    EXPECT_FALSE(mfp.usart.ClockInUse());
    EXPECT_EQ(mfp.ReadByte(usart::kTsr, 10) & kEnd, 0);
    Fire(Usart::kTransmitter);
    EXPECT_EQ(sent, "x");
    EXPECT_NE(mfp.ReadByte(usart::kTsr, 0) & kEnd, 0);
    mfp.WriteByte(kUdr, 'y', 20);  // stays in the buffer while the transmitter is off
    EXPECT_EQ(due[Usart::kTransmitter], -1);
}

TEST_F(UsartTest, ReceiverTakesTheLineAtItsRateAndReportsOverruns) {
    Tos9600();
    line = "hi!";
    const Cycles character = mfp.UsartCharacterCycles();
    mfp.WriteByte(kRsr, kEnable, 500);
    EXPECT_EQ(due[Usart::kReceiver], 500 + character);
    Fire(Usart::kReceiver);
    EXPECT_TRUE(Pending(kChannelReceiveFull));
    EXPECT_NE(mfp.ReadByte(kRsr, 0) & kBufferFull, 0);
    EXPECT_EQ(mfp.PeekByte(kUdr, 0), 'h');
    EXPECT_NE(mfp.ReadByte(kRsr, 0) & kBufferFull, 0);  // a peek leaves the buffer full
    EXPECT_EQ(mfp.ReadByte(kUdr, 0), 'h');
    EXPECT_EQ(mfp.ReadByte(kRsr, 0) & kBufferFull, 0);
    ClearPending();
    Fire(Usart::kReceiver);  // 'i', not read before '!' arrives
    Fire(Usart::kReceiver);
    EXPECT_TRUE(Pending(kChannelReceiveError));
    EXPECT_NE(mfp.ReadByte(kRsr, 0) & kOverrun, 0);
    EXPECT_EQ(mfp.ReadByte(kRsr, 0) & kOverrun, 0);
    EXPECT_EQ(mfp.ReadByte(kUdr, 0), 'i');
    Fire(Usart::kReceiver);  // the line has ended: the receiver waits
    EXPECT_EQ(due[Usart::kReceiver], -1);
    mfp.WriteByte(kRsr, 0, 0);
    EXPECT_FALSE(mfp.usart.ClockInUse());
}

TEST_F(UsartTest, AResetStopsBothHalves) {
    Tos9600();
    line.push_back('z');
    mfp.WriteByte(kRsr, kEnable, 0);
    mfp.WriteByte(usart::kTsr, kEnable, 0);
    mfp.WriteByte(kUdr, 'q', 0);
    mfp.Reset();
    EXPECT_EQ(due[Usart::kTransmitter], -1);
    EXPECT_EQ(due[Usart::kReceiver], -1);
    EXPECT_FALSE(mfp.usart.ClockInUse());
    EXPECT_EQ(mfp.ReadByte(usart::kTsr, 0), kBufferEmpty);
}

}  // namespace
}  // namespace vexil

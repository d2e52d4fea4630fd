// The MC68901's USART: the ST's serial port (RS-232), inside the MFP at 0xFFFA29-0xFFFA2F.
//
//   0x29 UCR  7 CLK (1: clock / 16)  6-5 WL (00 8 bits, 01 7, 10 6, 11 5)
//             4-3 ST (00 synchronous, 01 1 stop bit, 10 1.5, 11 2)  2 PE parity on  1 E/O  0 -
//   0x2B RSR  7 BF buffer full  6 OE overrun  5 PE  4 FE  3 F/S  2 M/CIP  1 SS  0 RE enable
//   0x2D TSR  7 BE buffer empty  6 UE underrun  5 AT  4 END  3 B  2 H  1 L  0 TE enable
//   0x2F UDR  write: the transmit buffer; read: the receive buffer
//
// Both halves are clocked by timer D's output (TC and RC are wired to TDO): a bit lasts one
// output period (two timeouts) times 16 with UCR bit 7, so TOS's 9600 baud is timer D at
// prescaler 4 and data 2 with UCR 0x88. A character is a start bit, the word, the parity bit
// and the stop bits; the MFP turns that into CPU cycles (CharacterCycles below).
//
// Interrupt channels, as the MFP's numbering gives them:
//    9 transmit error (underrun)   10 transmit buffer empty
//   11 receive error (overrun)     12 receive buffer full
//
// Transmitter: a UDR write fills the buffer (BE 0); with TE on and the shift register idle
// the buffer moves into it at once (BE 1, channel 10) and the character goes out over its
// frame; at its end the next buffered byte follows, else the line idles and UE is set
// (channel 9). Reading TSR clears UE; clearing TE lets the character in progress finish and
// sets END. Receiver: while RE is on, the port's next byte arrives one character time after
// the last (BF 1, channel 12); a byte arriving while BF is set is lost and sets OE (channel 11).
// Reading UDR empties the buffer, reading RSR clears OE.
//
// Not modelled: synchronous mode, break, parity and framing errors (the line carries whole,
// correct characters), the handshake lines. Not yet checked against hardware: the first
// character's start waits for no clock edge.
#pragma once

#include <cstdint>

#include "core/Cycles.h"

namespace vexil {

class StateWriter;
class StateReader;

namespace usart {
constexpr unsigned kUcr = 0x29, kRsr = 0x2B, kTsr = 0x2D, kUdr = 0x2F;
constexpr int kChannelTransmitError = 9, kChannelTransmitEmpty = 10;
constexpr int kChannelReceiveError = 11, kChannelReceiveFull = 12;
constexpr uint8_t kBufferEmpty = 0x80, kUnderrun = 0x40, kEnd = 0x10, kEnable = 0x01;  // TSR
constexpr uint8_t kBufferFull = 0x80, kOverrun = 0x40;                                 // RSR
}  // namespace usart

class Usart {
public:
    enum Line { kTransmitter = 0, kReceiver = 1 };
    // The serial line outside the chip: timed events and the bytes that travel.
    struct Port {
        void (*schedule)(void* context, int line, Cycles due) = nullptr;
        void (*cancel)(void* context, int line) = nullptr;
        void (*transmit)(void* context, uint8_t byte) = nullptr;
        int32_t (*receive)(void* context) = nullptr;  // the next byte on the line, -1: none
        void* context = nullptr;
    };

    void Reset();
    // `offset` is one of the four registers. Reads of UDR, RSR and TSR act (see above); Peek
    // gives the same byte without acting.
    uint8_t Read(unsigned offset);
    uint8_t Peek(unsigned offset) const;
    // `characterCycles`: the CPU cycles of one character at the current clock, 0 when timer D
    // does not run (the USART then stands still).
    void Write(unsigned offset, uint8_t value, Cycles now, Cycles characterCycles);
    // Timer D was started, stopped or reloaded: a transmitter or receiver that waited for a
    // clock goes on.
    void ClockChanged(Cycles now, Cycles characterCycles);

    // The timed ends of the port's events.
    void TransmitDone(Cycles due, Cycles characterCycles);
    void ReceiveDue(Cycles due, Cycles characterCycles);

    // Timer D output in use: the transmitter or the receiver is on, so its timeouts matter
    // even with its interrupt off.
    bool ClockInUse() const { return (s_.tsr & usart::kEnable) || (s_.rsr & usart::kEnable); }
    // Timer D timeouts a character lasts under the current UCR (two a clock period).
    int32_t CharacterTimeouts() const;
    // Interrupt channels (bits 9-12) with an event since the last call.
    uint32_t TakeChannels() {
        const uint32_t channels = channels_;
        channels_ = 0;
        return channels;
    }

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

    Port port;

private:
    void StartCharacter(Cycles now, Cycles characterCycles);
    void ArmReceiver(Cycles now, Cycles characterCycles);

    struct State {
        uint8_t ucr = 0, rsr = 0, tsr = usart::kBufferEmpty;
        uint8_t transmitBuffer = 0, receiveBuffer = 0;
        uint8_t shifting = 0;   // a character is on the line; it ends at the transmit event
        uint8_t shiftByte = 0;  // that character
        uint8_t receiving = 0;  // the receive event is armed
        uint8_t lineEnded = 0;  // the port had no more bytes
        template <class Archive>
        void Fields(Archive& a) {
            a(ucr)(rsr)(tsr)(transmitBuffer)(receiveBuffer)(shifting)(shiftByte)(receiving)(lineEnded);
        }
    } s_;
    uint32_t channels_ = 0;
};

}  // namespace vexil

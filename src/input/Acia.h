// The two MC6850 ACIAs at 0xFFFC00: the keyboard's (control/status 0x00, data 0x02) and
// MIDI's (0x04, 0x06), byte registers at even addresses; no word offsets are decoded.
//
// Status bits: 0 receive register full, 1 transmit register empty (always: a byte written is
// handed on at once), 5 overrun, 7 interrupt request. Control: bits 0-1 = 3 is a master reset
// (the ACIA is then held in reset: it neither receives nor sends until another control
// value is written); bit 7 enables the receive interrupt. The request is asserted while
// receive interrupts are enabled and a byte waits or an overrun is flagged; both ACIAs pull
// MFP input 4 (active low), so the line is low only while one of them asks.
//
// Receive: a byte arriving while the previous one is unread sets the overrun flag and is lost
// (the register keeps the unread byte). Reading the data register clears receive-full and
// the overrun flag.
//
// Nothing is connected to the MIDI ports: its status reads 0x02 (ready to send, nothing
// received), bytes written to it go nowhere.
#pragma once

#include <cstdint>

#include "io/IoDispatch.h"

namespace vexil {

class StateWriter;
class StateReader;

namespace acia {
constexpr uint8_t kReceiveFull = 0x01, kTransmitEmpty = 0x02, kOverrun = 0x20, kRequest = 0x80;
constexpr uint8_t kMasterReset = 0x03, kReceiveInterrupt = 0x80;
}  // namespace acia

class Acias {
public:
    // Where the ACIAs' outputs go: bytes the keyboard ACIA sends, the level of the interrupt
    // line (true: asserted, pulled low), and the board's reset line, which reaches the
    // keyboard processor (the ACIAs have no reset input of their own).
    struct Wiring {
        void (*transmit)(void* context, uint8_t byte) = nullptr;
        void (*interruptLine)(void* context, bool asserted) = nullptr;
        void (*reset)(void* context) = nullptr;
        void* context = nullptr;
    };

    void PowerOn();
    // `offset`: 0, 2 (keyboard control/status, data), 4, 6 (MIDI).
    uint8_t ReadByte(unsigned offset);
    // What ReadByte gives, leaving the receive register full (for the debugger).
    uint8_t PeekByte(unsigned offset) const;
    void WriteByte(unsigned offset, uint8_t value);
    // A byte from the keyboard processor reaches the keyboard ACIA's receiver.
    void Receive(uint8_t byte);

    uint8_t KeyboardStatus() const { return Status(s_.keyboard); }
    uint8_t MidiStatus() const { return Status(s_.midi); }
    bool Requesting() const { return Requests(s_.keyboard) || Requests(s_.midi); }
    // The board's reset (power-on and the RESET instruction) reaches the keyboard processor.
    void Reset() const {
        if (wiring.reset) wiring.reset(wiring.context);
    }

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

    Wiring wiring;

private:
    struct Port {
        uint8_t control = 0;
        uint8_t data = 0;  // the receive register
        uint8_t receiveFull = 0;
        uint8_t overrun = 0;
        template <class Archive>
        void Fields(Archive& a) {
            a(control)(data)(receiveFull)(overrun);
        }
    };
    static uint8_t Status(const Port& port);
    static bool Requests(const Port& port);
    void UpdateLine();

    struct State {
        Port keyboard, midi;
        uint8_t lineAsserted = 0;
        template <class Archive>
        void Fields(Archive& a) {
            a(keyboard)(midi)(lineAsserted);
        }
    } s_{};
};

// The ACIAs' page for the I/O decoder.
IoChip AciaIoChip(Acias& acias);

}  // namespace vexil

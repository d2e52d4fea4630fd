#include "io/Usart.h"

#include "core/SaveState.h"

namespace vexil {

using namespace usart;

void Usart::Reset() {
    if (s_.shifting && port.cancel) port.cancel(port.context, kTransmitter);
    if (s_.receiving && port.cancel) port.cancel(port.context, kReceiver);
    s_ = State{};
    channels_ = 0;
}

int32_t Usart::CharacterTimeouts() const {
    const int word = 8 - ((s_.ucr >> 5) & 3);
    const int parity = (s_.ucr >> 2) & 1;
    // Stop bits in half bits: 1, 1.5 or 2 (synchronous mode is taken as one).
    static constexpr int kStopHalves[4] = {2, 2, 3, 4};
    const int halves = 2 * (1 + word + parity) + kStopHalves[(s_.ucr >> 3) & 3];
    const int divide = (s_.ucr & 0x80) ? 16 : 1;
    return halves * divide;  // a bit is two timeouts: a half bit is one
}

uint8_t Usart::Peek(unsigned offset) const {
    switch (offset) {
        case kUcr:
            return s_.ucr;
        case kRsr:
            return s_.rsr;
        case kTsr:
            return s_.tsr;
        default:
            return s_.receiveBuffer;
    }
}

uint8_t Usart::Read(unsigned offset) {
    const uint8_t value = Peek(offset);
    if (offset == kUdr) s_.rsr &= static_cast<uint8_t>(~kBufferFull);
    if (offset == kRsr) s_.rsr &= static_cast<uint8_t>(~kOverrun);
    if (offset == kTsr) s_.tsr &= static_cast<uint8_t>(~kUnderrun);
    return value;
}

void Usart::Write(unsigned offset, uint8_t value, Cycles now, Cycles characterCycles) {
    switch (offset) {
        case kUcr:
            s_.ucr = value & 0xFE;
            return;
        case kRsr: {
            const bool wasOn = s_.rsr & kEnable;
            s_.rsr = static_cast<uint8_t>((s_.rsr & 0xF0) | (value & 0x0F));
            if (!(value & kEnable)) {
                // A receiver switched off forgets its state and stops listening.
                s_.rsr &= 0x0E;
                if (s_.receiving && port.cancel) port.cancel(port.context, kReceiver);
                s_.receiving = 0;
            } else if (!wasOn) {
                ArmReceiver(now, characterCycles);
            }
            return;
        }
        case kTsr: {
            s_.tsr = static_cast<uint8_t>((s_.tsr & 0xC0) | (value & 0x2F));
            if (value & kEnable)
                StartCharacter(now, characterCycles);
            else if (!s_.shifting)
                s_.tsr |= kEnd;
            return;
        }
        case kUdr:
            s_.transmitBuffer = value;
            s_.tsr &= static_cast<uint8_t>(~kBufferEmpty);
            StartCharacter(now, characterCycles);
            return;
        default:
            return;
    }
}

void Usart::ClockChanged(Cycles now, Cycles characterCycles) {
    StartCharacter(now, characterCycles);
    if ((s_.rsr & kEnable) && !s_.receiving) ArmReceiver(now, characterCycles);
}

// The buffer moves into the idle shift register when the transmitter is on and clocked.
void Usart::StartCharacter(Cycles now, Cycles characterCycles) {
    if (s_.shifting || (s_.tsr & kBufferEmpty) || !(s_.tsr & kEnable) || characterCycles <= 0) return;
    s_.shiftByte = s_.transmitBuffer;
    s_.shifting = 1;
    s_.tsr = static_cast<uint8_t>((s_.tsr | kBufferEmpty) & ~kEnd);
    channels_ |= 1u << kChannelTransmitEmpty;
    if (port.schedule) port.schedule(port.context, kTransmitter, now + characterCycles);
}

void Usart::TransmitDone(Cycles due, Cycles characterCycles) {
    if (!s_.shifting) return;
    s_.shifting = 0;
    if (port.transmit) port.transmit(port.context, s_.shiftByte);
    if (!(s_.tsr & kBufferEmpty) && (s_.tsr & kEnable)) {
        StartCharacter(due, characterCycles);
        return;
    }
    if (!(s_.tsr & kEnable)) {
        s_.tsr |= kEnd;
    } else if (!(s_.tsr & kUnderrun)) {
        s_.tsr |= kUnderrun;
        channels_ |= 1u << kChannelTransmitError;
    }
}

void Usart::ArmReceiver(Cycles now, Cycles characterCycles) {
    if (s_.lineEnded || characterCycles <= 0 || port.receive == nullptr || port.schedule == nullptr) return;
    s_.receiving = 1;
    port.schedule(port.context, kReceiver, now + characterCycles);
}

void Usart::ReceiveDue(Cycles due, Cycles characterCycles) {
    s_.receiving = 0;
    if (!(s_.rsr & kEnable)) return;
    const int32_t byte = port.receive ? port.receive(port.context) : -1;
    if (byte < 0) {
        s_.lineEnded = 1;
        return;
    }
    if (s_.rsr & kBufferFull) {
        s_.rsr |= kOverrun;
        channels_ |= 1u << kChannelReceiveError;
    } else {
        s_.receiveBuffer = static_cast<uint8_t>(byte);
        s_.rsr |= kBufferFull;
        channels_ |= 1u << kChannelReceiveFull;
    }
    ArmReceiver(due, characterCycles);
}

void Usart::Save(StateWriter& out) const {
    out.BeginSection("USRT");
    out(s_);
}

bool Usart::Load(StateReader& in, bool commit) {
    State s;
    if (!in.BeginSection("USRT") || !in(s).EndSection()) return false;
    if (s.shifting > 1 || s.receiving > 1 || s.lineEnded > 1) return false;
    if (commit) s_ = s;
    return true;
}

}  // namespace vexil

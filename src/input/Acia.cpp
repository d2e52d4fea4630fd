#include "input/Acia.h"

#include "core/SaveState.h"

namespace vexil {

void Acias::PowerOn() {
    s_ = State{};
    UpdateLine();
}

uint8_t Acias::Status(const Port& port) {
    uint8_t status = acia::kTransmitEmpty;
    if (port.receiveFull) status |= acia::kReceiveFull;
    if (port.overrun) status |= acia::kOverrun;
    if (Requests(port)) status |= acia::kRequest;
    return status;
}

bool Acias::Requests(const Port& port) {
    return (port.control & acia::kReceiveInterrupt) != 0 && (port.control & 3) != acia::kMasterReset &&
           (port.receiveFull || port.overrun);
}

void Acias::UpdateLine() {
    const uint8_t asserted = Requesting() ? 1 : 0;
    if (asserted == s_.lineAsserted) return;
    s_.lineAsserted = asserted;
    if (wiring.interruptLine) wiring.interruptLine(wiring.context, asserted != 0);
}

uint8_t Acias::ReadByte(unsigned offset) {
    Port& port = (offset & 4) ? s_.midi : s_.keyboard;
    if ((offset & 2) == 0) return Status(port);
    const uint8_t byte = port.data;
    port.receiveFull = 0;
    port.overrun = 0;
    UpdateLine();
    return byte;
}

uint8_t Acias::PeekByte(unsigned offset) const {
    const Port& port = (offset & 4) ? s_.midi : s_.keyboard;
    return (offset & 2) == 0 ? Status(port) : port.data;
}

void Acias::WriteByte(unsigned offset, uint8_t value) {
    Port& port = (offset & 4) ? s_.midi : s_.keyboard;
    if ((offset & 2) == 0) {
        port.control = value;
        if ((value & 3) == acia::kMasterReset) {
            port.receiveFull = 0;
            port.overrun = 0;
        }
        UpdateLine();
        return;
    }
    // A byte to send: the keyboard processor takes it; MIDI has nothing on its line.
    if ((offset & 4) == 0 && (port.control & 3) != acia::kMasterReset && wiring.transmit)
        wiring.transmit(wiring.context, value);
}

void Acias::Receive(uint8_t byte) {
    Port& port = s_.keyboard;
    if ((port.control & 3) == acia::kMasterReset) return;  // held in reset
    if (port.receiveFull) {
        port.overrun = 1;
    } else {
        port.data = byte;
        port.receiveFull = 1;
    }
    UpdateLine();
}

void Acias::Save(StateWriter& out) const {
    out.BeginSection("ACIA");
    out(s_);
}

bool Acias::Load(StateReader& in, bool commit) {
    State s;
    if (!in.BeginSection("ACIA") || !in(s).EndSection()) return false;
    for (const Port* port : {&s.keyboard, &s.midi})
        if (port->receiveFull > 1 || port->overrun > 1) return false;
    if (s.lineAsserted > 1) return false;
    if (commit) s_ = s;
    return true;
}

IoChip AciaIoChip(Acias& acias) {
    IoChip chip = MakeIoChip("ACIAs", 0xFFFC00, acias);
    for (IoOffsets* bytes : {&chip.readBytes, &chip.writeBytes}) bytes->Add(0x00, 0x06, 2);
    return chip;
}

}  // namespace vexil

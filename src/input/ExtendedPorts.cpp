#include "input/ExtendedPorts.h"

#include "core/SaveState.h"

namespace vexil {

using namespace joypad;

namespace {

// The joypad's matrix: for each output line, the keys on fire 0, fire 1 and the four direction
// inputs.
struct MatrixRow {
    uint32_t fire0, fire1, lines[4];
};
constexpr MatrixRow kMatrix[4] = {
    {kPause, kA, {kUp, kDown, kLeft, kRight}},
    {0, kB, {kStar, kDigit0 << 7, kDigit0 << 4, kDigit0 << 1}},
    {0, kC, {kDigit0, kDigit0 << 8, kDigit0 << 5, kDigit0 << 2}},
    {0, kOption, {kHash, kDigit0 << 9, kDigit0 << 6, kDigit0 << 3}},
};

constexpr uint8_t kDipSwitches = 0xFF;

}  // namespace

uint32_t JoypadKeysFromHost(uint8_t joystick, uint32_t hostButtons) {
    uint32_t keys = 0;
    if (joystick & 0x01) keys |= kUp;
    if (joystick & 0x02) keys |= kDown;
    if (joystick & 0x04) keys |= kLeft;
    if (joystick & 0x08) keys |= kRight;
    if ((joystick & 0x80) || (hostButtons & kHostA)) keys |= kA;
    if (hostButtons & kHostB) keys |= kB;
    if (hostButtons & kHostX) keys |= kC;
    if (hostButtons & kHostStart) keys |= kPause;
    if (hostButtons & kHostBack) keys |= kOption;
    if (hostButtons & kHostLeftShoulder) keys |= kStar;
    if (hostButtons & kHostRightShoulder) keys |= kHash;
    return keys;
}

uint8_t ExtendedPorts::Inputs(int which) const {
    const JoypadInput& in = port[which];
    uint32_t active = 0;  // bits 0-3 directions, 4-5 fires, 1 = active
    if (!in.joypad) {
        for (int line = 0; line < 4; ++line)
            if (in.keys & kMatrix[0].lines[line]) active |= 1u << line;
        if (in.keys & kA) active |= 0x10;
    } else {
        const unsigned outputs = (s_.outputs >> (4 * which)) & 0x0F;
        for (int row = 0; row < 4; ++row) {
            if (outputs & (1u << row)) continue;  // only a line driven low selects its keys
            const MatrixRow& m = kMatrix[row];
            for (int line = 0; line < 4; ++line)
                if (in.keys & m.lines[line]) active |= 1u << line;
            if (in.keys & m.fire0) active |= 0x10;
            if (in.keys & m.fire1) active |= 0x20;
        }
    }
    return static_cast<uint8_t>(~active & 0x3F);
}

uint16_t ExtendedPorts::ReadWord(unsigned offset) const {
    const uint8_t a = Inputs(0), b = Inputs(1);
    switch (offset & 0xFE) {
        case 0x00:
            return static_cast<uint16_t>(kDipSwitches << 8 | 0xF0 | (b >> 4) << 2 | a >> 4);
        case 0x02:
            return static_cast<uint16_t>((b & 0x0F) << 12 | (a & 0x0F) << 8 | s_.outputs);
        case 0x10:
            return port[0].paddleX;
        case 0x12:
            return port[0].paddleY;
        case 0x14:
            return port[1].paddleX;
        case 0x16:
            return port[1].paddleY;
        default:
            return 0;  // the light pen: none
    }
}

uint8_t ExtendedPorts::ReadByte(unsigned offset) const {
    const uint16_t word = ReadWord(offset);
    return static_cast<uint8_t>((offset & 1) ? word : word >> 8);
}

void ExtendedPorts::WriteByte(unsigned offset, uint8_t value) {
    if ((offset & 0xFF) == 0x03) s_.outputs = value;
}

void ExtendedPorts::WriteWord(unsigned offset, uint16_t value) {
    if ((offset & 0xFE) == 0x02) s_.outputs = static_cast<uint8_t>(value);
}

void ExtendedPorts::Save(StateWriter& out) const {
    out.BeginSection("JOYP");
    out(s_);
}

bool ExtendedPorts::Load(StateReader& in, bool commit) {
    State s;
    if (!in.BeginSection("JOYP") || !in(s).EndSection()) return false;
    if (commit) s_ = s;
    return true;
}

IoChip ExtendedPortsIoChip(ExtendedPorts& ports) {
    IoChip io;
    io.name = "STE extended joystick ports";
    io.page = 0xFF9200;
    io.context = &ports;
    io.readBytes.Add(0x00, 0x03).Add(0x10, 0x17).Add(0x20, 0x23);
    io.readWords.Add(0x00, 0x02, 2).Add(0x10, 0x16, 2).Add(0x20, 0x22, 2);
    io.writeBytes.Add(0x03, 0x03);
    io.writeWords.Add(0x02, 0x02);
    io.readByte = [](void* c, uint32_t address, Cycles) {
        return static_cast<ExtendedPorts*>(c)->ReadByte(address & 0xFF);
    };
    io.readWord = [](void* c, uint32_t address, Cycles) {
        return static_cast<ExtendedPorts*>(c)->ReadWord(address & 0xFF);
    };
    io.writeByte = [](void* c, uint32_t address, uint8_t value, Cycles) {
        static_cast<ExtendedPorts*>(c)->WriteByte(address & 0xFF, value);
    };
    io.writeWord = [](void* c, uint32_t address, uint16_t value, Cycles) {
        static_cast<ExtendedPorts*>(c)->WriteWord(address & 0xFF, value);
    };
    return io;
}

}  // namespace vexil

// The STE's extended joystick ports at 0xFF9200: two 15-pin ports (A and B), each with four
// output lines, four direction inputs, two fire inputs and a paddle pair; the DIP switches;
// the light pen position. An ST has no such page: the I/O decoder keeps its bus errors there.
//
// Registers (offsets from 0xFF9200, 0 = pressed or active on every input line):
//   0x00  word  read   high byte: DIP switches (all set on a stock STE; bit 7 set: DMA sound)
//                      low byte: bits 0-1 port A's fire inputs, bits 2-3 port B's; 4-7 read 1
//   0x02  word  read   bits 8-11 port A's direction inputs, bits 12-15 port B's;
//                      bits 0-7 the output lines as driven
//               write  bits 0-3 port A's output lines, bits 4-7 port B's (the high byte is
//                      ignored)
//   0x10-0x16   read   paddles: A's X and Y, B's X and Y, a byte in each word's low half (the
//                      high half reads 0); 0 with no paddle
//   0x20 0x22   read   light pen X and Y (no pen: 0)
//   elsewhere          all ones; writes ignored
//
// A plain joystick in a port (or no joypad) answers on its lines whatever the outputs are:
// up, down, left, right on the direction inputs, fire on the port's first fire input. The
// STE joypad is a key matrix: a program drives one output line low to select a group of keys
// and reads that group on the inputs (lines selected together read as one, as the wiring
// ANDs them):
//   output (A: bit 0-3)   fire 0   fire 1    direction inputs (bits 8 9 10 11)
//   0 (write 0xFFFE)      Pause    A         Up    Down  Left  Right
//   1 (write 0xFFFD)      -        B         *     7     4     1
//   2 (write 0xFFFB)      -        C         0     8     5     2
//   3 (write 0xFFF7)      -        Option    #     9     6     3
// Not yet checked against hardware: the matrix above comes from the pad's documentation; the
// paddles' and light pen's reads without a device.
#pragma once

#include <cstdint>

#include "io/IoDispatch.h"

namespace vexil {

class StateWriter;
class StateReader;

namespace joypad {
// Keys of the STE joypad, as bits of JoypadInput::keys.
enum Key : uint32_t {
    kUp = 1u << 0,
    kDown = 1u << 1,
    kLeft = 1u << 2,
    kRight = 1u << 3,
    kA = 1u << 4,
    kB = 1u << 5,
    kC = 1u << 6,
    kPause = 1u << 7,
    kOption = 1u << 8,
    kStar = 1u << 9,
    kHash = 1u << 10,
    kDigit0 = 1u << 11,  // kDigit0 << n is digit n
};

// Host game controller buttons, as the host layer reports them.
enum HostButton : uint32_t {
    kHostA = 1u << 0,
    kHostB = 1u << 1,
    kHostX = 1u << 2,
    kHostY = 1u << 3,
    kHostBack = 1u << 4,
    kHostStart = 1u << 5,
    kHostLeftShoulder = 1u << 6,
    kHostRightShoulder = 1u << 7,
};
}  // namespace joypad

// What is plugged into one extended port.
struct JoypadInput {
    bool joypad = false;  // an STE joypad (else a plain joystick, or nothing when all is 0)
    uint32_t keys = 0;    // joypad::Key bits held; a plain joystick uses kUp-kRight and kA
    uint8_t paddleX = 0, paddleY = 0;
};

// The joypad's keys from the host: the joystick byte (0x01 up 0x02 down 0x04 left 0x08 right
// 0x80 fire) and the game controller's buttons (A fire A, B fire B, X fire C, Start Pause,
// Back Option, the shoulders * and #).
uint32_t JoypadKeysFromHost(uint8_t joystick, uint32_t hostButtons);

class ExtendedPorts {
public:
    void Reset() {}  // the output lines keep their level over a reset
    uint8_t ReadByte(unsigned offset) const;
    uint16_t ReadWord(unsigned offset) const;
    void WriteByte(unsigned offset, uint8_t value);
    void WriteWord(unsigned offset, uint16_t value);

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

    JoypadInput port[2];  // A, B: set by the host between frames

    struct State {
        uint8_t outputs = 0xFF;  // the output lines as last written
        template <class Archive>
        void Fields(Archive& a) {
            a(outputs);
        }
    };
    const State& GetState() const { return s_; }

private:
    // The port's four direction inputs (bits 0-3) and two fire inputs (bits 4-5), 0 = active.
    uint8_t Inputs(int which) const;
    State s_;
};

IoChip ExtendedPortsIoChip(ExtendedPorts& ports);

}  // namespace vexil

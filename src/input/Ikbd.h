// The keyboard processor (an HD6301 behind the keyboard ACIA), at the level of its serial
// protocol: command bytes from the 68000 are parsed and acted on at once; everything it sends
// (key codes, mouse and joystick packets, replies) goes into one byte queue, from which one
// byte leaves per tick (every 10,016 CPU cycles, about the time a byte takes on the line).
//
// A tick first turns the input into packets, then hands one waiting byte on:
//   keys      each ST key that went down or up since the last tick: its code, | 0x80 for up
//   joystick  event reporting: 0xFF and the joystick 1 byte whenever it changes
//   mouse     relative mode: 0xF8 | left 0x02 | right 0x01, dx, dy (-128 ... 127 each; motion
//             beyond that stays for the next packet) once the motion reaches the threshold or
//             a button changes; a new packet only when the last one has left the queue.
//             Absolute mode: the position moves by motion / scale, within 0 ... maximum.
// A packet goes into the queue whole or, when it does not fit, waits for the next tick; no
// input is lost to a full queue and no packet is cut.
//
// Commands and their parameter bytes (every command takes its parameters, known or not, so
// that parameters are never read as commands):
//   0x80 0x01 reset (replies 0xF0)           0x07 b     mouse button action
//   0x08      relative mouse                 0x09 xh xl yh yl  absolute mouse, maxima
//   0x0A dx dy mouse keycode mode            0x0B x y   threshold (relative mode)
//   0x0C x y  scale (absolute mode)          0x0D       read position (0xF7 ...)
//   0x0E 0 xh xl yh yl  load position        0x0F/0x10  Y origin at bottom / top
//   0x11      resume output                  0x12       mouse off
//   0x13      pause output (until a command) 0x14/0x15  joystick events / interrogation
//   0x16      read joystick (0xFD 0 j)       0x17 r     joystick monitoring (ignored)
//   0x18      fire monitoring (ignored)      0x19 x6    joystick keycodes (ignored)
//   0x1A      joystick off                   0x1B x6    set clock (BCD: yy mm dd hh mm ss)
//   0x1C      read clock (0xFC + 6 BCD)      0x20 ah al n x n  memory load (ignored)
//   0x21 ah al memory read (ignored)         0x22 ah al execute (ignored)
//   0x87-0x9A status inquiries: 0xF6 and seven bytes describing the mode asked for
//   0x03 b    a reset as well, whatever b is
// The clock counts seconds in the machine's time; the host sets it (its local time, or a
// fixed time in scripted runs) and the 68000 may set it.
#pragma once

#include <cstdint>

namespace vexil {

class StateWriter;
class StateReader;

namespace ikbd {
constexpr int kQueueBytes = 1024;
constexpr int kKeys = 128;                                  // ST key codes 0x01-0x7F
constexpr uint8_t kLeftButton = 0x02, kRightButton = 0x01;  // as in the relative packet header
constexpr int64_t kCyclesPerSecond = 8021247;
constexpr int64_t kTickCycles = 10016;
}  // namespace ikbd

// What the keyboard processor's keyboard, mouse and joystick ports see. The host (or a
// script) sets it between frames; only the keyboard processor's tick compares it with what
// it saw last.
struct IkbdInput {
    uint8_t keys[ikbd::kKeys] = {};    // by ST key code: nonzero while down
    int32_t mouseDx = 0, mouseDy = 0;  // motion not yet taken (positive dy is downwards)
    uint8_t buttons = 0;               // kLeftButton | kRightButton
    uint8_t joystick = 0;              // joystick 1: 0x01 up 0x02 down 0x04 left 0x08 right 0x80 fire
    template <class Archive>
    void Fields(Archive& a) {
        a(keys)(mouseDx)(mouseDy)(buttons)(joystick);
    }
};

// A calendar time, as the clock reports it.
struct ClockTime {
    int32_t year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
int64_t SecondsOf(const ClockTime& time);  // since 1970-01-01 00:00:00
ClockTime TimeOf(int64_t seconds);

class Ikbd {
public:
    // The state after power-on (the clock at `kDefaultClock`).
    void PowerOn();
    // The machine's reset: the mouse is switched back on; nothing else changes.
    void MachineReset() { s_.mouseEnabled = 1; }

    // A byte from the 68000 (through the ACIA).
    void Write(uint8_t byte);
    // One tick: the input becomes packets; returns the byte handed to the ACIA, or -1.
    int Tick();
    // Input is taken from the machine (the user left it): every key still down is let go,
    // and the mouse buttons with it; their codes go out when the machine runs again.
    void ReleaseInput();

    void SetClock(int64_t seconds);
    int64_t ClockSeconds() const { return s_.clockSeconds; }
    bool Paused() const { return s_.paused != 0; }
    int QueuedBytes() const { return s_.count; }
    bool MouseEnabled() const { return s_.mouseEnabled != 0; }
    // Where absolute mode has the mouse.
    int32_t MouseX() const { return s_.absX; }
    int32_t MouseY() const { return s_.absY; }

    void Save(StateWriter& out) const;
    bool Load(StateReader& in, bool commit);

    IkbdInput input;
    // The clock at power-on: 2000-01-01 12:00:00 (the host sets its own time where it has one).
    static constexpr int64_t kDefaultClock = 946684800 + 12 * 3600;  // 2000-01-01 12:00:00

private:
    bool Push(const uint8_t* bytes, int length);
    void Execute();
    void ResetModes();
    void Keys();
    void Joystick();
    void Mouse();
    void StatusReply(uint8_t command);
    void SetClockFromBcd(const uint8_t* bcd);

    struct State {
        uint8_t queue[ikbd::kQueueBytes];
        int32_t read, count;
        uint32_t popped;          // bytes that have left, ever (wraps)
        uint32_t pushed;          // bytes queued, ever (wraps)
        uint32_t mousePacketEnd;  // `pushed` after the last mouse packet
        uint8_t paused;
        // Modes.
        uint8_t mouseEnabled, mouseMode;  // mode: 0x08 relative, 0x09 absolute, 0x0A keycode
        uint8_t buttonAction, yOriginTop;
        uint8_t keycodeDx, keycodeDy, thresholdX, thresholdY, scaleX, scaleY;
        uint8_t joystickEnabled, interrogation;
        int32_t maxX, maxY, absX, absY;
        int32_t scaleRestX, scaleRestY;
        // What the last tick saw.
        uint8_t keys[ikbd::kKeys];
        int32_t pendingDx, pendingDy;
        uint8_t buttons;              // reported in the last mouse packet
        uint8_t sampledButtons;       // seen by the last tick
        uint8_t interrogatedButtons;  // at the last position report
        uint8_t joystick;
        // Command parser.
        uint8_t command, paramCount;
        int32_t paramsLeft;
        uint8_t params[8];
        // Clock.
        int64_t clockSeconds;
        int32_t clockCycles;
        template <class Archive>
        void Fields(Archive& a) {
            a(queue)(read)(count)(popped)(pushed)(mousePacketEnd)(paused)(mouseEnabled)(mouseMode);
            a(buttonAction)(yOriginTop)(keycodeDx)(keycodeDy)(thresholdX)(thresholdY)(scaleX)(scaleY);
            a(joystickEnabled)(interrogation)(maxX)(maxY)(absX)(absY)(scaleRestX)(scaleRestY)(keys);
            a(pendingDx)(pendingDy)(buttons)(sampledButtons)(interrogatedButtons)(joystick)(command);
            a(paramCount)(paramsLeft)(params)(clockSeconds)(clockCycles);
        }
    } s_{};
};

}  // namespace vexil

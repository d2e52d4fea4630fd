// The host keyboard as the ST sees it.
//
// Host keys are numbered by their PC (set 1) scan codes, 0xE0-prefixed keys with bit 7 set
// (Home 0xC7, keypad Enter 0x9C, ...): the 256-entry key state of the host layer. The
// scancode table maps each to the ST key in the same place, or 0 for a key the ST does not get
// (F11 and F12, which the application keeps, and right Alt). Keys the PC lacks sit where they
// are easiest to find: Undo on Page Up, Help on Page Down, the keypad's "(" and ")" on Num Lock
// and End, Clr/Home on Home, the ISO key left of Z on the key there.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "input/Ikbd.h"

namespace vexil {

// The table for one setting of `bArrowForJoystick` (on: the cursor keys are not keys).
const std::array<uint8_t, 256>& ScancodeTable(bool arrowForJoystick);

// Joystick bits the cursor keys and left Control form when `bArrowForJoystick` is on.
uint8_t ArrowJoystickBits(const bool (&hostKeys)[256]);

// Sets the keyboard processor's key states from the host's, through the table, and its
// joystick from the host joystick byte and, with `arrowForJoystick`, the cursor keys.
void ApplyHostKeys(const bool (&hostKeys)[256], bool arrowForJoystick, uint8_t hostJoystick,
                   IkbdInput& input);

// The ST key code for a name used by input scripts ("A", "Return", "F1", "LeftShift", "Up",
// "KP7", ...; case does not matter), or 0.
uint8_t StKeyByName(std::string_view name);
// The name of an ST key code (an empty view when it has none).
std::string_view StKeyName(uint8_t code);

// The ST key (US layout) that types `c`, with or without Shift; code 0 when no key does.
struct TypedKey {
    uint8_t code = 0;
    bool shift = false;
};
TypedKey StKeyForChar(char c);

constexpr uint8_t kStLeftShift = 0x2A;

}  // namespace vexil

#include "input/Keys.h"

#include <cctype>

namespace vexil {

namespace {

std::array<uint8_t, 256> BuildTable(bool arrowForJoystick) {
    std::array<uint8_t, 256> t{};
    for (int k = 0x01; k <= 0x36; ++k) t[k] = static_cast<uint8_t>(k);  // main block to right Shift
    for (int k = 0x38; k <= 0x44; ++k) t[k] = static_cast<uint8_t>(k);  // Alternate, Space, Caps, F1-F10
    t[0x4A] = 0x4A;                                                     // keypad -
    t[0x4E] = 0x4E;                                                     // keypad +
    t[0x9D] = 0x1D;                                                     // right Control
    t[0xC7] = 0x47;                                                     // Home: Clr/Home
    t[0xD3] = 0x53;                                                     // Delete
    t[0xD2] = 0x52;                                                     // Insert
    t[0xC9] = 0x61;                                                     // Page Up: Undo
    t[0xD1] = 0x62;                                                     // Page Down: Help
    t[0x46] = 0x61;                                                     // Scroll Lock: Undo
    t[0xB7] = 0x62;                                                     // Print Screen: Help
    t[0x45] = 0x63;                                                     // Num Lock: keypad (
    t[0xCF] = 0x64;                                                     // End: keypad )
    t[0xB5] = 0x65;                                                     // keypad /
    t[0x37] = 0x66;                                                     // keypad *
    t[0x47] = 0x67, t[0x48] = 0x68, t[0x49] = 0x69;                     // keypad 7 8 9
    t[0x4B] = 0x6A, t[0x4C] = 0x6B, t[0x4D] = 0x6C;                     // keypad 4 5 6
    t[0x4F] = 0x6D, t[0x50] = 0x6E, t[0x51] = 0x6F;                     // keypad 1 2 3
    t[0x52] = 0x70;                                                     // keypad 0
    t[0x53] = 0x71;                                                     // keypad .
    t[0x9C] = 0x72;                                                     // keypad Enter
    t[0x56] = 0x60;                                                     // the ISO key left of Z
    if (!arrowForJoystick) {
        t[0xC8] = 0x48, t[0xD0] = 0x50, t[0xCB] = 0x4B, t[0xCD] = 0x4D;  // cursor keys
    }
    return t;
}

struct NamedKey {
    const char* name;
    uint8_t code;
};
constexpr NamedKey kNames[] = {
    {"Esc", 0x01},       {"1", 0x02},           {"2", 0x03},
    {"3", 0x04},         {"4", 0x05},           {"5", 0x06},
    {"6", 0x07},         {"7", 0x08},           {"8", 0x09},
    {"9", 0x0A},         {"0", 0x0B},           {"Minus", 0x0C},
    {"Equals", 0x0D},    {"Backspace", 0x0E},   {"Tab", 0x0F},
    {"Q", 0x10},         {"W", 0x11},           {"E", 0x12},
    {"R", 0x13},         {"T", 0x14},           {"Y", 0x15},
    {"U", 0x16},         {"I", 0x17},           {"O", 0x18},
    {"P", 0x19},         {"LeftBracket", 0x1A}, {"RightBracket", 0x1B},
    {"Return", 0x1C},    {"Control", 0x1D},     {"A", 0x1E},
    {"S", 0x1F},         {"D", 0x20},           {"F", 0x21},
    {"G", 0x22},         {"H", 0x23},           {"J", 0x24},
    {"K", 0x25},         {"L", 0x26},           {"Semicolon", 0x27},
    {"Quote", 0x28},     {"Grave", 0x29},       {"LeftShift", 0x2A},
    {"Backslash", 0x2B}, {"Z", 0x2C},           {"X", 0x2D},
    {"C", 0x2E},         {"V", 0x2F},           {"B", 0x30},
    {"N", 0x31},         {"M", 0x32},           {"Comma", 0x33},
    {"Period", 0x34},    {"Slash", 0x35},       {"RightShift", 0x36},
    {"Alternate", 0x38}, {"Space", 0x39},       {"CapsLock", 0x3A},
    {"F1", 0x3B},        {"F2", 0x3C},          {"F3", 0x3D},
    {"F4", 0x3E},        {"F5", 0x3F},          {"F6", 0x40},
    {"F7", 0x41},        {"F8", 0x42},          {"F9", 0x43},
    {"F10", 0x44},       {"ClrHome", 0x47},     {"Up", 0x48},
    {"KPMinus", 0x4A},   {"Left", 0x4B},        {"Right", 0x4D},
    {"KPPlus", 0x4E},    {"Down", 0x50},        {"Insert", 0x52},
    {"Delete", 0x53},    {"ISO", 0x60},         {"Undo", 0x61},
    {"Help", 0x62},      {"KPLeftParen", 0x63}, {"KPRightParen", 0x64},
    {"KPSlash", 0x65},   {"KPStar", 0x66},      {"KP7", 0x67},
    {"KP8", 0x68},       {"KP9", 0x69},         {"KP4", 0x6A},
    {"KP5", 0x6B},       {"KP6", 0x6C},         {"KP1", 0x6D},
    {"KP2", 0x6E},       {"KP3", 0x6F},         {"KP0", 0x70},
    {"KPPeriod", 0x71},  {"Enter", 0x72},
};

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// US layout: unshifted and shifted characters of the keys 0x02-0x35 and Space.
constexpr char kPlain[] =
    "\0\0"
    "1234567890-=\0\0"
    "qwertyuiop[]\0\0"
    "asdfghjkl;'`\0\\"
    "zxcvbnm,./";
constexpr char kShifted[] =
    "\0\0"
    "!@#$%^&*()_+\0\0"
    "QWERTYUIOP{}\0\0"
    "ASDFGHJKL:\"~\0|"
    "ZXCVBNM<>?";

}  // namespace

const std::array<uint8_t, 256>& ScancodeTable(bool arrowForJoystick) {
    static const std::array<uint8_t, 256> keys = BuildTable(false), arrows = BuildTable(true);
    return arrowForJoystick ? arrows : keys;
}

uint8_t ArrowJoystickBits(const bool (&hostKeys)[256]) {
    uint8_t bits = 0;
    if (hostKeys[0xC8]) bits |= 0x01;  // up
    if (hostKeys[0xD0]) bits |= 0x02;  // down
    if (hostKeys[0xCB]) bits |= 0x04;  // left
    if (hostKeys[0xCD]) bits |= 0x08;  // right
    if (hostKeys[0x1D]) bits |= 0x80;  // left Control: fire
    return bits;
}

void ApplyHostKeys(const bool (&hostKeys)[256], bool arrowForJoystick, uint8_t hostJoystick,
                   IkbdInput& input) {
    const std::array<uint8_t, 256>& table = ScancodeTable(arrowForJoystick);
    uint8_t keys[ikbd::kKeys] = {};
    for (int k = 0; k < 256; ++k)
        if (hostKeys[k] && table[k] != 0) keys[table[k] & 0x7F] = 1;
    for (int code = 0; code < ikbd::kKeys; ++code) input.keys[code] = keys[code];
    input.joystick =
        static_cast<uint8_t>(hostJoystick | (arrowForJoystick ? ArrowJoystickBits(hostKeys) : 0));
}

uint8_t StKeyByName(std::string_view name) {
    for (const NamedKey& key : kNames)
        if (SameName(name, key.name)) return key.code;
    return 0;
}

std::string_view StKeyName(uint8_t code) {
    for (const NamedKey& key : kNames)
        if (key.code == code) return key.name;
    return {};
}

TypedKey StKeyForChar(char c) {
    if (c == ' ') return {0x39, false};
    if (c == '\n') return {0x1C, false};
    if (c == '\t') return {0x0F, false};
    if (c == '\0') return {};
    for (uint8_t code = 0; code < sizeof kPlain - 1; ++code) {
        if (kPlain[code] == c) return {code, false};
        if (kShifted[code] == c) return {code, true};
    }
    return {};
}

}  // namespace vexil

#include "input/Ikbd.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/SaveState.h"

namespace vexil {

namespace {

// Parameter bytes each command takes (0x20 takes n more after its third).
int ParameterCount(uint8_t command) {
    switch (command) {
        case 0x03:
        case 0x07:
        case 0x17:
        case 0x80:
            return 1;
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x21:
        case 0x22:
            return 2;
        case 0x20:
            return 3;
        case 0x09:
            return 4;
        case 0x0E:
            return 5;
        case 0x19:
        case 0x1B:
            return 6;
        default:
            return 0;
    }
}

uint8_t Bcd(int value) {
    value %= 100;
    return static_cast<uint8_t>((value / 10) << 4 | (value % 10));
}

// A BCD byte's value, or -1 when a digit is not one (the field is then left as it is).
int FromBcd(uint8_t bcd) {
    if ((bcd >> 4) > 9 || (bcd & 15) > 9) return -1;
    return (bcd >> 4) * 10 + (bcd & 15);
}

// Days since 1970-01-01 of a civil date, and back.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int32_t& year, int32_t& month, int32_t& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int32_t>(yoe + era * 400 + (month <= 2));
}

int32_t Clamp(int32_t value, int32_t low, int32_t high) {
    return std::max(low, std::min(high, value));
}

}  // namespace

int64_t SecondsOf(const ClockTime& t) {
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

ClockTime TimeOf(int64_t seconds) {
    ClockTime t;
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int32_t>(rest / 3600);
    t.minute = static_cast<int32_t>(rest / 60 % 60);
    t.second = static_cast<int32_t>(rest % 60);
    return t;
}

void Ikbd::PowerOn() {
    s_ = State{};
    input = IkbdInput{};
    ResetModes();
    s_.clockSeconds = kDefaultClock;
}

void Ikbd::ResetModes() {
    s_.paused = 0;
    s_.mouseEnabled = 1;
    s_.mouseMode = 0x08;
    s_.buttonAction = 0;
    s_.yOriginTop = 1;
    s_.keycodeDx = s_.keycodeDy = s_.thresholdX = s_.thresholdY = s_.scaleX = s_.scaleY = 1;
    s_.joystickEnabled = 1;
    s_.interrogation = 0;
    s_.maxX = 319;
    s_.maxY = 199;
    s_.absX = s_.absY = 0;
    s_.scaleRestX = s_.scaleRestY = 0;
    s_.pendingDx = s_.pendingDy = 0;
}

bool Ikbd::Push(const uint8_t* bytes, int length) {
    if (s_.count + length > ikbd::kQueueBytes) return false;
    for (int i = 0; i < length; ++i) s_.queue[(s_.read + s_.count + i) % ikbd::kQueueBytes] = bytes[i];
    s_.count += length;
    s_.pushed += static_cast<uint32_t>(length);
    return true;
}

void Ikbd::SetClock(int64_t seconds) {
    s_.clockSeconds = seconds;
    s_.clockCycles = 0;
}

// ---- commands -------------------------------------------------------------------------------

void Ikbd::Write(uint8_t byte) {
    if (s_.paramsLeft > 0) {
        if (s_.paramCount < sizeof s_.params) s_.params[s_.paramCount] = byte;
        if (s_.paramCount < 255) ++s_.paramCount;
        --s_.paramsLeft;
        if (s_.command == 0x20 && s_.paramCount == 3) s_.paramsLeft += byte;  // the bytes to load
        if (s_.paramsLeft == 0) Execute();
        return;
    }
    s_.command = byte;
    s_.paramCount = 0;
    s_.paramsLeft = ParameterCount(byte);
    if (byte != 0x13) s_.paused = 0;  // any command ends a pause
    if (s_.paramsLeft == 0) Execute();
}

void Ikbd::Execute() {
    const uint8_t* p = s_.params;
    switch (s_.command) {
        case 0x80:
            if (p[0] != 0x01) break;  // only 0x80 0x01 resets
            [[fallthrough]];
        case 0x03: {
            ResetModes();
            const uint8_t reply = 0xF0;
            Push(&reply, 1);
            break;
        }
        case 0x07:
            s_.mouseEnabled = 1;
            s_.buttonAction = p[0];
            break;
        case 0x08:
            s_.mouseEnabled = 1;
            s_.mouseMode = 0x08;
            break;
        case 0x09:
            s_.mouseEnabled = 1;
            s_.mouseMode = 0x09;
            s_.maxX = p[0] << 8 | p[1];
            s_.maxY = p[2] << 8 | p[3];
            s_.absX = Clamp(s_.absX, 0, s_.maxX);
            s_.absY = Clamp(s_.absY, 0, s_.maxY);
            break;
        case 0x0A:
            s_.mouseEnabled = 1;
            s_.mouseMode = 0x0A;
            s_.keycodeDx = p[0];
            s_.keycodeDy = p[1];
            break;
        case 0x0B:
            s_.thresholdX = p[0];
            s_.thresholdY = p[1];
            break;
        case 0x0C:
            s_.scaleX = p[0];
            s_.scaleY = p[1];
            break;
        case 0x0D: {
            // Buttons pressed (left 0x04, right 0x01) and released (0x08, 0x02) since the
            // last report.
            const uint8_t now = s_.sampledButtons, then = s_.interrogatedButtons;
            uint8_t changes = 0;
            if ((now & ikbd::kLeftButton) && !(then & ikbd::kLeftButton)) changes |= 0x04;
            if (!(now & ikbd::kLeftButton) && (then & ikbd::kLeftButton)) changes |= 0x08;
            if ((now & ikbd::kRightButton) && !(then & ikbd::kRightButton)) changes |= 0x01;
            if (!(now & ikbd::kRightButton) && (then & ikbd::kRightButton)) changes |= 0x02;
            s_.interrogatedButtons = now;
            const uint8_t report[6] = {0xF7,
                                       changes,
                                       static_cast<uint8_t>(s_.absX >> 8),
                                       static_cast<uint8_t>(s_.absX),
                                       static_cast<uint8_t>(s_.absY >> 8),
                                       static_cast<uint8_t>(s_.absY)};
            Push(report, 6);
            break;
        }
        case 0x0E:
            s_.absX = Clamp(p[1] << 8 | p[2], 0, s_.maxX);
            s_.absY = Clamp(p[3] << 8 | p[4], 0, s_.maxY);
            break;
        case 0x0F:
            s_.yOriginTop = 0;
            break;
        case 0x10:
            s_.yOriginTop = 1;
            break;
        case 0x11:
            s_.paused = 0;
            break;
        case 0x12:
            s_.mouseEnabled = 0;
            break;
        case 0x13:
            s_.paused = 1;
            break;
        case 0x14:
        case 0x15:
            s_.joystickEnabled = 1;
            s_.interrogation = s_.command == 0x15;
            break;
        case 0x16: {
            s_.joystickEnabled = 1;
            const uint8_t report[3] = {0xFD, 0x00, input.joystick};
            Push(report, 3);
            break;
        }
        case 0x1A:
            s_.joystickEnabled = 0;
            break;
        case 0x1B:
            SetClockFromBcd(p);
            break;
        case 0x1C: {
            const ClockTime t = TimeOf(s_.clockSeconds);
            const uint8_t report[7] = {0xFC,        Bcd(t.year),   Bcd(t.month), Bcd(t.day),
                                       Bcd(t.hour), Bcd(t.minute), Bcd(t.second)};
            Push(report, 7);
            break;
        }
        default:
            if (s_.command >= 0x87 && s_.command <= 0x9A) StatusReply(s_.command);
            break;  // 0x17-0x19, 0x20-0x22 and unknown bytes: taken and ignored
    }
}

// The reply to a status inquiry: 0xF6, then the command that would set the mode asked for and
// its parameters, padded with zeros to eight bytes.
void Ikbd::StatusReply(uint8_t command) {
    uint8_t r[8] = {0xF6, 0, 0, 0, 0, 0, 0, 0};
    switch (command) {
        case 0x87:
            r[1] = 0x07;
            r[2] = s_.buttonAction;
            break;
        case 0x88:
        case 0x89:
        case 0x8A:
            r[1] = s_.mouseMode;
            if (s_.mouseMode == 0x09) {
                r[2] = static_cast<uint8_t>(s_.maxX >> 8), r[3] = static_cast<uint8_t>(s_.maxX);
                r[4] = static_cast<uint8_t>(s_.maxY >> 8), r[5] = static_cast<uint8_t>(s_.maxY);
            } else if (s_.mouseMode == 0x0A) {
                r[2] = s_.keycodeDx, r[3] = s_.keycodeDy;
            }
            break;
        case 0x8B:
            r[1] = 0x0B, r[2] = s_.thresholdX, r[3] = s_.thresholdY;
            break;
        case 0x8C:
            r[1] = 0x0C, r[2] = s_.scaleX, r[3] = s_.scaleY;
            break;
        case 0x8F:
        case 0x90:
            r[1] = s_.yOriginTop ? 0x10 : 0x0F;
            break;
        case 0x92:
            r[1] = s_.mouseEnabled ? 0x00 : 0x12;
            break;
        case 0x94:
        case 0x95:
        case 0x99:
            r[1] = s_.interrogation ? 0x15 : 0x14;
            break;
        case 0x9A:
            r[1] = s_.joystickEnabled ? 0x00 : 0x1A;
            break;
        default:
            return;  // not an inquiry: no reply
    }
    Push(r, 8);
}

void Ikbd::SetClockFromBcd(const uint8_t* bcd) {
    ClockTime t = TimeOf(s_.clockSeconds);
    int32_t* fields[6] = {&t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second};
    static constexpr int kLimit[6] = {99, 12, 31, 23, 59, 59};
    for (int i = 0; i < 6; ++i) {
        const int value = FromBcd(bcd[i]);
        if (value < 0 || value > kLimit[i] || (i == 1 || i == 2 ? value == 0 : false)) continue;
        *fields[i] = i == 0 ? (value < 80 ? 2000 + value : 1900 + value) : value;
    }
    SetClock(SecondsOf(t));
}

// ---- the tick -------------------------------------------------------------------------------

int Ikbd::Tick() {
    s_.clockCycles += static_cast<int32_t>(ikbd::kTickCycles);
    if (s_.clockCycles >= ikbd::kCyclesPerSecond) {
        s_.clockCycles -= static_cast<int32_t>(ikbd::kCyclesPerSecond);
        ++s_.clockSeconds;
    }
    Keys();
    Joystick();
    Mouse();
    if (s_.paused || s_.count == 0) return -1;
    const uint8_t byte = s_.queue[s_.read];
    s_.read = (s_.read + 1) % ikbd::kQueueBytes;
    --s_.count;
    ++s_.popped;
    return byte;
}

void Ikbd::Keys() {
    for (int code = 1; code < ikbd::kKeys; ++code) {
        const uint8_t down = input.keys[code] ? 1 : 0;
        if (down == s_.keys[code]) continue;
        const uint8_t byte = static_cast<uint8_t>(down ? code : code | 0x80);
        if (!Push(&byte, 1)) return;  // the queue is full: the change waits for the next tick
        s_.keys[code] = down;
    }
}

void Ikbd::Joystick() {
    const uint8_t joystick = input.joystick;
    if (joystick == s_.joystick) return;
    if (s_.joystickEnabled && !s_.interrogation) {
        const uint8_t packet[2] = {0xFF, joystick};
        if (!Push(packet, 2)) return;
    }
    s_.joystick = joystick;
}

void Ikbd::Mouse() {
    // Motion is counted upwards with the origin at the bottom.
    const int32_t sign = s_.yOriginTop ? 1 : -1;
    const int64_t dx = int64_t{s_.pendingDx} + input.mouseDx;
    const int64_t dy = int64_t{s_.pendingDy} + int64_t{input.mouseDy} * sign;
    constexpr int64_t kLimit = 1 << 24;  // far beyond any motion a frame can bring
    s_.pendingDx = static_cast<int32_t>(std::clamp<int64_t>(dx, -kLimit, kLimit));
    s_.pendingDy = static_cast<int32_t>(std::clamp<int64_t>(dy, -kLimit, kLimit));
    input.mouseDx = input.mouseDy = 0;
    const uint8_t buttons = input.buttons & (ikbd::kLeftButton | ikbd::kRightButton);
    s_.sampledButtons = buttons;

    if (!s_.mouseEnabled) {
        s_.pendingDx = s_.pendingDy = 0;
        s_.buttons = buttons;
        return;
    }
    if (s_.mouseMode == 0x09) {
        // Absolute: the position moves one step per `scale` counts of motion.
        const int32_t scaleX = std::max<int32_t>(1, s_.scaleX), scaleY = std::max<int32_t>(1, s_.scaleY);
        s_.scaleRestX += s_.pendingDx;
        s_.scaleRestY += s_.pendingDy;
        s_.absX = Clamp(s_.absX + s_.scaleRestX / scaleX, 0, s_.maxX);
        s_.absY = Clamp(s_.absY + s_.scaleRestY / scaleY, 0, s_.maxY);
        s_.scaleRestX %= scaleX;
        s_.scaleRestY %= scaleY;
        s_.pendingDx = s_.pendingDy = 0;
        s_.buttons = buttons;
        return;
    }
    // Relative: one packet at a time; each carries what fits and leaves the rest.
    if (static_cast<int32_t>(s_.mousePacketEnd - s_.popped) > 0) return;
    const bool moved = std::abs(s_.pendingDx) >= std::max<int32_t>(1, s_.thresholdX) ||
                       std::abs(s_.pendingDy) >= std::max<int32_t>(1, s_.thresholdY);
    if (!moved && buttons == s_.buttons) return;
    const int32_t px = Clamp(s_.pendingDx, -128, 127), py = Clamp(s_.pendingDy, -128, 127);
    const uint8_t packet[3] = {static_cast<uint8_t>(0xF8 | buttons), static_cast<uint8_t>(px),
                               static_cast<uint8_t>(py)};
    if (!Push(packet, 3)) return;
    s_.mousePacketEnd = s_.pushed;
    s_.pendingDx -= px;
    s_.pendingDy -= py;
    s_.absX = Clamp(s_.absX + px, 0, s_.maxX);
    s_.absY = Clamp(s_.absY + py, 0, s_.maxY);
    s_.buttons = buttons;
}

void Ikbd::ReleaseInput() {
    std::memset(input.keys, 0, sizeof input.keys);
    input.buttons = 0;
    input.mouseDx = input.mouseDy = 0;
    input.joystick = 0;
    // Everything still down goes up now, so that nothing sticks while the machine waits.
    Keys();
    Joystick();
    Mouse();
}

// ---- save state -----------------------------------------------------------------------------

void Ikbd::Save(StateWriter& out) const {
    out.BeginSection("IKBD");
    out(s_)(input);
}

bool Ikbd::Load(StateReader& in, bool commit) {
    State s{};
    IkbdInput i;
    bool ok = in.BeginSection("IKBD") && in(s)(i).EndSection();
    // Values the code indexes or divides by must be in range.
    constexpr int32_t kMotion = 1 << 24;
    ok = ok && s.read >= 0 && s.read < ikbd::kQueueBytes && s.count >= 0 && s.count <= ikbd::kQueueBytes &&
         s.paramsLeft >= 0 && s.paramsLeft <= 0x200 && s.maxX >= 0 && s.maxX <= 0xFFFF && s.maxY >= 0 &&
         s.maxY <= 0xFFFF && s.absX >= 0 && s.absX <= s.maxX && s.absY >= 0 && s.absY <= s.maxY &&
         std::abs(s.pendingDx) <= kMotion && std::abs(s.pendingDy) <= kMotion &&
         std::abs(s.scaleRestX) < 256 && std::abs(s.scaleRestY) < 256 && s.clockCycles >= 0 &&
         s.clockCycles < ikbd::kCyclesPerSecond && s.clockSeconds > -(int64_t{1} << 40) &&
         s.clockSeconds < (int64_t{1} << 40) && std::abs(i.mouseDx) <= kMotion &&
         std::abs(i.mouseDy) <= kMotion;
    if (!ok) return false;
    if (commit) {
        s_ = s;
        input = i;
    }
    return true;
}

}  // namespace vexil

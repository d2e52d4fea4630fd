// Where a part of the program that is not drawn itself puts its one-line messages (the status
// overlay's slots): progress that stays up, and results shown for a while.
#pragma once

#include <cstdint>

namespace vexil {

class MessageSink {
public:
    static constexpr int kTextBytes = 139;  // a message's longest text, with its terminating zero
    // Shows `text` for `milliseconds` (-1: until cleared); returns the slot, or -1 when none.
    virtual int ShowMessage(const char* text, int32_t milliseconds, bool blink) = 0;
    virtual void SetMessageText(int slot, const char* text) = 0;
    virtual void ClearMessage(int slot) = 0;
    virtual bool Active(int slot) const = 0;
    virtual const char* Text(int slot) const = 0;

protected:
    ~MessageSink() = default;
};

}  // namespace vexil

// The machine's timed events: chips register an event once, then schedule and cancel it. The
// frame scheduler runs the due ones at their source's place in its order of sources (kind),
// events of one kind in registration order. Due times are frame cycles (the CPU's clock); an
// event scheduled in the past runs at the next service.
#pragma once

#include <cstdint>

#include "core/Cycles.h"

namespace vexil {

// The sources of the frame scheduler, in the order it checks them is its own; a chip's event
// takes the place of the source it names here.
enum EventKind : int32_t {
    kEventVbl = 0,
    kEventHbl = 1,
    kEventTimerA = 2,
    kEventTimerB = 3,
    kEventTimerC = 4,
    kEventTimerD = 5,
    kEventAcia = 6,
    kEventFdc = 7,
    kEventNone = 8,  // the frame end
};

constexpr int kMaxChipEvents = 16;
// A chip's timed event, called with its context and the cycle it was due at; it may schedule
// itself again.
using EventHandler = void (*)(void* context, Cycles due);

class EventList {
public:
    // The event's number, or -1 when all slots are taken.
    int RegisterEvent(EventKind kind, EventHandler handler, void* context) {
        if (count_ == kMaxChipEvents || handler == nullptr) return -1;
        events_[count_] = Event{handler, context, kind, 0};
        return count_++;
    }
    void Schedule(int event, Cycles due) {
        events_[event].due = due;
        armed_ |= 1u << event;
    }
    void Cancel(int event) { armed_ &= ~(1u << event); }
    bool Scheduled(int event) const { return (armed_ >> event) & 1; }
    Cycles Due(int event) const { return events_[event].due; }

    int Count() const { return count_; }
    EventKind Kind(int event) const { return events_[event].kind; }
    // Cancels it and calls its handler with its due time.
    void Fire(int event) {
        Cancel(event);
        events_[event].handler(events_[event].context, events_[event].due);
    }
    // Every scheduled event moves `cycles` earlier (the frame's cycles carried over).
    void Shift(Cycles cycles) {
        for (int n = 0; n < count_; ++n)
            if (Scheduled(n)) events_[n].due -= cycles;
    }

    // For save and load: the scheduled set (bit n: event n) and the due times.
    uint32_t Armed() const { return armed_; }
    void Restore(uint32_t armed, const Cycles* due) {
        armed_ = armed;
        for (int n = 0; n < count_; ++n) events_[n].due = due[n];
    }
    void CancelAll() { armed_ = 0; }

private:
    struct Event {
        EventHandler handler = nullptr;
        void* context = nullptr;
        EventKind kind = kEventNone;
        Cycles due = 0;
    };
    Event events_[kMaxChipEvents];
    int count_ = 0;
    uint32_t armed_ = 0;
};

}  // namespace vexil

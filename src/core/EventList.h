// The machine's timed events: chips register an event once, then schedule and cancel it. The
// frame scheduler runs the due ones at their source's place in its order of sources (kind),
// events of one kind in registration order. Due times are frame cycles (the CPU's clock); an
// event scheduled in the past runs at the next service.
#pragma once

#include <bit>
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

// What a save state keeps of the list: the scheduled set (bit n: event n), the number of
// events and their due times.
struct EventTimes {
    uint32_t armed = 0;
    int32_t count = 0;
    Cycles due[kMaxChipEvents] = {};
};

// A chip's timed event, called with its context and the cycle it was due at; it may schedule
// itself again.
using EventHandler = void (*)(void* context, Cycles due);

class EventList {
public:
    // The event's number, or -1 when all slots are taken.
    int RegisterEvent(EventKind kind, EventHandler handler, void* context) {
        if (count_ == kMaxChipEvents || handler == nullptr || kind < 0 || kind > kEventNone) return -1;
        events_[count_] = Event{handler, context, kind, 0};
        ofKind_[kind] |= 1u << count_;
        return count_++;
    }
    void Schedule(int event, Cycles due) {
        events_[event].due = due;
        armed_ |= 1u << event;
    }
    void Cancel(int event) { armed_ &= ~(1u << event); }
    bool Scheduled(int event) const { return (armed_ >> event) & 1; }
    // The scheduled events of one kind (bit n: event n), so that a source visits only those.
    uint32_t ScheduledOf(EventKind kind) const { return armed_ & ofKind_[kind]; }
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
        for (uint32_t armed = armed_; armed != 0; armed &= armed - 1)
            events_[std::countr_zero(armed)].due -= cycles;
    }

    // For save and load; Restore takes times whose count and set fit this list's events.
    EventTimes Times() const {
        EventTimes times{armed_, count_, {}};
        for (int n = 0; n < count_; ++n) times.due[n] = events_[n].due;
        return times;
    }
    void Restore(const EventTimes& times) {
        armed_ = times.armed;
        for (int n = 0; n < count_; ++n) events_[n].due = times.due[n];
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
    uint32_t ofKind_[kEventNone + 1] = {};  // the events registered with each kind
};

}  // namespace vexil

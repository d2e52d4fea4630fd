#include "app/Rewind.h"

#include <cstring>

namespace vexil {

namespace {

// A delta is a list of runs: offset and length (32 bits each, host order), then the older
// snapshot's bytes. Runs closer than kJoin bytes are joined: a run's header costs 8.
constexpr size_t kJoin = 16;

void PutWord(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    out.insert(out.end(), bytes, bytes + 4);
}

std::vector<uint8_t> Diff(const std::vector<uint8_t>& older, const std::vector<uint8_t>& newer) {
    std::vector<uint8_t> delta;
    const size_t size = older.size();
    size_t i = 0;
    while (i < size) {
        if (older[i] == newer[i]) {
            ++i;
            continue;
        }
        const size_t start = i;
        size_t end = i + 1;  // one past the last differing byte
        for (size_t j = end; j < size && j < end + kJoin; ++j)
            if (older[j] != newer[j]) end = j + 1;
        while (true) {
            size_t next = end;
            for (size_t j = end; j < size && j < end + kJoin; ++j)
                if (older[j] != newer[j]) next = j + 1;
            if (next == end) break;
            end = next;
        }
        PutWord(delta, static_cast<uint32_t>(start));
        PutWord(delta, static_cast<uint32_t>(end - start));
        delta.insert(delta.end(), older.begin() + static_cast<std::ptrdiff_t>(start),
                     older.begin() + static_cast<std::ptrdiff_t>(end));
        i = end;
    }
    return delta;
}

void Apply(const std::vector<uint8_t>& delta, std::vector<uint8_t>& state) {
    size_t at = 0;
    while (at + 8 <= delta.size()) {
        uint32_t offset, length;
        std::memcpy(&offset, &delta[at], 4);
        std::memcpy(&length, &delta[at + 4], 4);
        at += 8;
        std::memcpy(&state[offset], &delta[at], length);
        at += length;
    }
}

}  // namespace

void Rewind::Clear() {
    newest_.clear();
    deltas_.clear();
    deltaBytes_ = 0;
}

void Rewind::Push(std::vector<uint8_t> state) {
    if (!newest_.empty() && newest_.size() != state.size()) Clear();
    if (!newest_.empty()) {
        deltas_.push_back(Diff(newest_, state));
        deltaBytes_ += deltas_.back().size();
    }
    newest_ = std::move(state);
    while (!deltas_.empty() && (deltas_.size() + 1 > kSnapshots || Bytes() > kBudget)) {
        deltaBytes_ -= deltas_.front().size();
        deltas_.pop_front();
    }
}

bool Rewind::Back(size_t steps, std::vector<uint8_t>& out) {
    if (steps > deltas_.size()) steps = deltas_.size();
    if (steps == 0) return false;
    for (size_t i = 0; i < steps; ++i) {
        Apply(deltas_.back(), newest_);
        deltaBytes_ -= deltas_.back().size();
        deltas_.pop_back();
    }
    out = newest_;
    return true;
}

}  // namespace vexil

// The machine's recent past, for rewinding: a snapshot (a save state's bytes) once a second for
// the last two minutes, in memory. The newest is kept whole; each older one as the runs of
// bytes where it differs from the one after it, so that going back undoes the differences one
// snapshot at a time and a machine whose RAM changes little costs little. The whole stays
// within a byte budget: the oldest snapshots go first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace vexil {

class Rewind {
public:
    static constexpr size_t kSnapshots = 120;
    static constexpr size_t kBudget = 64u << 20;

    void Clear();
    // Takes the newest snapshot. One of another size (a machine rebuilt) starts afresh.
    void Push(std::vector<uint8_t> state);
    // Goes back `steps` snapshots before the newest (fewer when there are fewer) and hands that
    // one over; it becomes the newest. False when there is none before the newest.
    bool Back(size_t steps, std::vector<uint8_t>& out);
    size_t Count() const { return newest_.empty() ? 0 : deltas_.size() + 1; }
    size_t Bytes() const { return newest_.size() + deltaBytes_; }

private:
    std::vector<uint8_t> newest_;
    std::deque<std::vector<uint8_t>> deltas_;  // oldest first
    size_t deltaBytes_ = 0;
};

}  // namespace vexil

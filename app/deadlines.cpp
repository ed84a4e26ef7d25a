// Deadlines of the main loop: an ordered map from time to what to do, and an
// index by id for cancelling.
#include "app/deadlines.h"

#include <climits>

#include "base/platform/sync.h"

Deadlines g_deadlines;

int64_t nowMs() { return platformMonotonicMs(); }

Deadlines::Id Deadlines::add(int64_t atMs, std::function<void()> fire) {
    const Id id = next_++;
    byId_.emplace(id, byTime_.emplace(atMs, Entry{id, std::move(fire)}));
    return id;
}

void Deadlines::cancel(Id id) {
    const auto it = byId_.find(id);
    if (it == byId_.end()) return;
    byTime_.erase(it->second);
    byId_.erase(it);
}

int Deadlines::msUntilNext(int64_t now) const {
    if (byTime_.empty()) return -1;
    const int64_t left = byTime_.begin()->first - now;
    if (left <= 0) return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

void Deadlines::fireDue(int64_t now) {
    // One at a time: a callback may cancel a deadline that is due as well.
    while (!byTime_.empty() && byTime_.begin()->first <= now) {
        const auto first = byTime_.begin();
        const std::function<void()> fire = std::move(first->second.fire);
        byId_.erase(first->second.id);
        byTime_.erase(first);
        fire();
    }
}

void Deadlines::clear() {
    byTime_.clear();
    byId_.clear();
}

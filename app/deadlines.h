// Deadlines: points in time that the main loop waits for together with its
// events, each with what to do when it comes. The pause of !wait and of the
// wait after !open, and the rest of an atom held back by !!wait, are
// deadlines, so that a wait holds up only the lines that come after it while
// passes, received text and completions go on.
//
// Key choice: one ordered map on the main thread, without a lock. Every
// deadline is added, cancelled and fired by the main thread (the main loop
// sleeps until the earliest one), so other threads never touch it; a thread
// that wants something done at a time asks the main loop by waking it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>

// Milliseconds of the monotonic clock that every deadline is given in.
int64_t nowMs();

class Deadlines {
public:
    using Id = uint64_t;

    // fire runs on the main loop once atMs has come; the id serves to cancel it.
    Id add(int64_t atMs, std::function<void()> fire);
    // Forgets a deadline that has not fired yet (an unknown id changes nothing).
    void cancel(Id id);
    // Milliseconds from nowMs to the earliest deadline: 0 when one is due, -1
    // when there is none (the main loop then waits for events alone).
    int msUntilNext(int64_t nowMs) const;
    // Fires every deadline due at nowMs, earliest first, one after the other
    // (a callback may cancel a later one). A callback must not add a deadline
    // that is due already, or this would not end.
    void fireDue(int64_t nowMs);
    int count() const { return static_cast<int>(byId_.size()); }
    // Forgets every deadline (the end of the run).
    void clear();

private:
    struct Entry {
        Id id;
        std::function<void()> fire;
    };
    std::multimap<int64_t, Entry> byTime_;
    std::unordered_map<Id, std::multimap<int64_t, Entry>::iterator> byId_;
    Id next_ = 1;
};

// The main loop's deadlines (main thread only).
extern Deadlines g_deadlines;

// The pause that a command puts on the lines after it: !wait n, and the wait
// of !open counted from the !open line. For the main loop's pending lines and
// for the rest of an atom being handed out; its owner adds the deadline that
// ends it.
struct LinePause {
    int64_t until = 0;  // monotonic ms before which the following lines wait

    // Extends the pause to atMs (an earlier time than the present end changes nothing).
    void extendTo(int64_t atMs) {
        if (atMs > until) until = atMs;
    }
    bool active(int64_t now) const { return until > now; }
};

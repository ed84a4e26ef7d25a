// The main loop's pending lines.
#pragma once

#include <deque>
#include <memory>

#include "app/deadlines.h"
#include "app/line_record.h"
#include "base/larray.h"

// The main loop's pending lines. Lines already run are released as the loop goes
// (memory stays flat over a long session); new lines go either to the end
// (command files, typed lines, !read-command-file) or right before the next line
// (!call-macro), in order.
class PendingLines {
public:
    // Appends at the end.
    void append(std::unique_ptr<LineRecord> line);
    // Inserts before the next line, after lines inserted so far by the same call
    // site: call beginInsert() once, then insertNext() for each line in order.
    void beginInsert();
    void insertNext(std::unique_ptr<LineRecord> line);
    bool hasNext() const;
    // Takes the next line out (ownership passes to the caller).
    std::unique_ptr<LineRecord> takeNext();
    int remaining() const;

    // Releases every line not yet taken.
    void clear();

    // While it lasts, the main loop takes no line (!wait, the wait of !open,
    // -wo); everything else goes on.
    LinePause pause;

private:
    // Lines not yet taken, next first. A line leaves the deque when it is taken,
    // so executed lines never stay; both ends grow and shrink in constant time.
    std::deque<std::unique_ptr<LineRecord>> lines_;
    // Where the next insertNext() goes: lines inserted since beginInsert().
    size_t insertAt_ = 0;
};

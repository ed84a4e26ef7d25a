// The main loop's pending lines: a double-ended queue of the lines not yet run.
// Taking a line removes it, so memory follows the lines still waiting, not the
// length of the session. !call-macro inserts in front of the remaining lines,
// in order; command files and typed lines append at the end.
#include "app/pending_lines.h"

void PendingLines::append(std::unique_ptr<LineRecord> line) { lines_.push_back(std::move(line)); }

void PendingLines::beginInsert() { insertAt_ = 0; }

void PendingLines::insertNext(std::unique_ptr<LineRecord> line) {
    if (insertAt_ > lines_.size()) insertAt_ = lines_.size();
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt_), std::move(line));
    ++insertAt_;
}

bool PendingLines::hasNext() const { return !lines_.empty(); }

std::unique_ptr<LineRecord> PendingLines::takeNext() {
    if (lines_.empty()) return nullptr;
    std::unique_ptr<LineRecord> line = std::move(lines_.front());
    lines_.pop_front();
    if (insertAt_ > 0) --insertAt_;
    return line;
}

int PendingLines::remaining() const { return static_cast<int>(lines_.size()); }

void PendingLines::clear() {
    lines_.clear();
    insertAt_ = 0;
}

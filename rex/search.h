// LRexSearch: runs a compiled tree over a byte string and selects one match.
//
// Start positions are tried one character apart from the first offset given;
// a start is skipped only when its first bytes rule a match out. For trees
// without references (whose matching has no side effects) the skipping also
// uses a byte scan (memchr where one first byte is possible) and a literal
// that every match must contain; the selected match is always the one that
// trying every start would select.
#pragma once

#include "base/lstring.h"
#include "rex/nodes.h"

class LRexSearch : public LObj {
public:
    explicit LRexSearch(LRex* rex);

    // Searches length bytes at text (length < 0: up to the terminating NUL) for
    // starts from offset from up to lastStart (lastStart < 0: the length).
    // nth > 0 selects the nth match by start, -2 the match that ends furthest
    // (earliest start among equal ends), 0 and other negative values the match
    // with the last start. Returns the offset of the selected match, or -1 (also
    // when fewer than nth matches exist; matchStart then still describes the
    // last one found). Nothing at or after text + length is read. A find that
    // takes more than stepLimit steps returns -1 with no match and gaveUp set;
    // the first time for a tree it reports warning 35000.
    int find(const char* text, int lastStart, int length, int nth, int from);

    LRex* rex;                      // not owned
    const char* matchStart = nullptr;
    int32_t matchLength = 0;
    LRexCaptures captures;          // filled by the groups while matching
    int64_t stepLimit;              // the budget of each find (rexStepLimit() at construction)
    bool gaveUp = false;            // the last find used its budget up (and returned -1)
    int64_t stepsTaken = 0;         // steps the last find took

private:
    void giveUp();
};

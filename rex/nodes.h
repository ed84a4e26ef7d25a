// The node classes of a compiled pattern, the match cursor, captures and marks.
//
// Matching is backtracking organised as generators: every node's match() yields
// its ways one per call until reset(). Text is bytes; a double-byte character of
// the current character set is always stepped over as one character (the rules
// of base/chars.h). Nothing here reads at or beyond the cursor's end (the text
// need not be NUL-terminated there): a lead byte that is the last byte of the
// text reads as lead * 256 and is one byte long.
//
// Long sequences are chains of LSeqRex pairs; every walk over a chain (match,
// reset, destruction, dump, analysis) is a loop, so a pattern of any length
// never recurses deeper than its group nesting, which the compiler limits.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "base/chars.h"
#include "base/larray.h"
#include "base/lstring.h"
#include "base/obj.h"
#include "rex/rex.h"

// One capturing group's last match; start is null while the group is unset.
struct LRexCapture {
    const char* start = nullptr;
    int32_t length = 0;
    const char* name = nullptr;  // the group's name, not owned
};

// The captures of one search: entry i holds group i + 1's last match. A
// backtracking search sets and drops entries over and over; dropped entries
// stay allocated for reuse, so that after its first ways a search allocates
// nothing (and never waits for the block allocator's lock while other
// connections' threads need it).
class LRexCaptures {
public:
    int count() const { return count_; }
    LRexCapture* operator[](int i) { return &items_[static_cast<size_t>(i)]; }
    const LRexCapture* operator[](int i) const { return &items_[static_cast<size_t>(i)]; }
    // Makes the count at least n; entries that come into use start unset.
    void extendTo(int n) {
        if (static_cast<size_t>(n) > items_.size()) items_.resize(static_cast<size_t>(n));
        for (; count_ < n; ++count_) items_[static_cast<size_t>(count_)] = LRexCapture{};
    }
    // Drops the entries from n on (kept for reuse).
    void truncate(int n) {
        if (n < count_) count_ = n < 0 ? 0 : n;
    }
    void clear() { count_ = 0; }
    const LRexCapture* begin() const { return items_.data(); }
    const LRexCapture* end() const { return items_.data() + count_; }

private:
    std::vector<LRexCapture> items_;
    int count_ = 0;
};

// A snapshot of the cursor: position and number of capture entries.
struct LRexMark {
    const char* pos = nullptr;
    int captureCount = 0;
    bool set = false;
};

// The state passed to match(). rules are the stepping rules of the character
// set in force when the cursor was made (base/chars.h).
struct LRexCursor {
    const char* pos = nullptr;
    const char* start = nullptr;
    const char* end = nullptr;
    LRexCaptures* captures = nullptr;
    int32_t atomicDepth = 0;
    const LCharRules* rules = nullptr;
    // Steps left of the search's budget; below 0 every node fails at once.
    int64_t stepsLeft = INT64_MAX;
    // Where the next call of stepSlow() comes: at the next point where the
    // search lets other threads run first, or at the end of the budget. A
    // search that has taken many steps (a pattern working through its budget)
    // yields the processor now and then, so that it slows the connections
    // beside it as little as possible.
    int64_t slowBelow = INT64_MAX - kStepsBeforeYielding;
    static constexpr int64_t kStepsBeforeYielding = 100000;
    static constexpr int64_t kStepsBetweenYields = 8192;

    LRexCursor(const char* text, int length, LRexCaptures* captures);

    // Counts one step; false once the budget is used up.
    bool step() { return --stepsLeft >= slowBelow || stepSlow(); }
    // Gives the search a budget of steps.
    void setBudget(int64_t steps);
    bool stepSlow();
    // Code and byte length of the character at p (p < end).
    int codeAt(const char* p, int* len) const { return charCodeAt(*rules, p, end, len); }
    // True when p lies inside a character (start is a character's start).
    bool isSecond(const char* p) const { return isInsideChar(*rules, start, p, end); }
    // Code and byte length of the character that ends at p (p > start).
    int codeBefore(const char* p, int* len) const { return charCodeBefore(*rules, start, p, len); }
    LRexMark mark() const {
        LRexMark m;
        m.pos = pos;
        m.captureCount = captures ? captures->count() : 0;
        m.set = true;
        return m;
    }
    void restore(const LRexMark& m) {
        pos = m.pos;
        if (captures) captures->truncate(m.captureCount);
    }
};


// A set of byte values.
class LRexByteSet {
public:
    void add(int b) { bits_[(b >> 6) & 3] |= uint64_t(1) << (b & 63); }
    void addRange(int lo, int hi) {
        for (int b = lo; b <= hi; ++b) add(b);
    }
    bool has(int b) const { return (bits_[(b >> 6) & 3] >> (b & 63)) & 1; }
    void addAll(const LRexByteSet& o) {
        for (int i = 0; i < 4; ++i) bits_[i] |= o.bits_[i];
    }
    int count() const;
    void fill() {
        for (auto& w : bits_) w = ~uint64_t(0);
    }

private:
    uint64_t bits_[4] = {0, 0, 0, 0};
};

// Offsets left over by the first-byte analysis (a short list).
class LRexOffsets {
public:
    void add(int offset) { v_.push_back(offset); }
    void addUnique(int offset);
    int count() const { return static_cast<int>(v_.size()); }
    int operator[](int i) const { return v_[i]; }
    bool empty() const { return v_.empty(); }
    void clear() { v_.clear(); }

private:
    std::vector<int> v_;
};

// The node context of the parser: flags, ignore pattern in force, and whether
// no node has taken ownership of that pattern yet. Every node constructor copies
// flags and ignore; the first node built while ownership is pending owns it.
struct LRexContext {
    uint32_t flags = 0;
    LRex* ignore = nullptr;
    int32_t ignorePending = 1;
};

// Compares the bytes of a literal (or a captured text) with the cursor's text at
// pos (backward: the same number of bytes ending at pos), folding by flags.
// Returns the number of text bytes consumed, or -1 when they differ.
int rexCompareText(const LRexCursor& cur, const char* text, int length, uint32_t flags, int backward);

class LFlatRex : public LRex {
public:
    LFlatRex(LRexContext& ctx, const char* bytes, int length);
    void reset() override { done = 0; }
    int match(LRexCursor& cur, int backward) override;
    int isMulti() const override { return 0; }
    int kind() const override { return 1; }
    void dump(LString& out, int depth) const override;
    int analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const override;

    LString text;
    int32_t done = 0;

private:
    // Plain byte comparison gives the same answer as the character walk: no
    // folding, and the text does not end in a lone lead byte (per character set).
    bool plainCompare() const;
    mutable int plainFor_ = -1;  // the g_charSet value plainCompare_ was computed for
    mutable bool plainCompare_ = false;
};

class LCharsRex : public LRex {
public:
    struct Range {
        int32_t lo, hi;
    };
    LCharsRex(LRexContext& ctx, int negated);
    // Adds the range lo..hi of character codes (empty when lo > hi).
    void addRange(int lo, int hi);
    void reset() override { done = 0; }
    int match(LRexCursor& cur, int backward) override;
    int isMulti() const override { return 0; }
    void dump(LString& out, int depth) const override;
    int analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const override;
    bool contains(int code) const;
    // The byte length of the character at (backward: before) at when it is in
    // the set, else -1; no match state, no ignorable text.
    int consume(const LRexCursor& cur, const char* at, int backward) const;

    std::vector<Range> ranges;
    int32_t negated = 0;
    int32_t done = 0;

private:
    bool single_[256] = {};  // membership of the single-byte codes
};

// Types of LSpRex beyond the characters: start and end of line.
enum : int32_t { rexTopOfLine = 257, rexEndOfLine = 258 };

class LSpRex : public LRex {
public:
    LSpRex(LRexContext& ctx, int type, int reverse, std::unique_ptr<LRex> body);
    void reset() override;
    int match(LRexCursor& cur, int backward) override;
    int isMulti() const override { return body ? body->isMulti() : 0; }
    void dump(LString& out, int depth) const override;
    int analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const override;
    void forEachChild(void (*fn)(const LRex*, void*), void* ctx) const override;
    bool isZeroWidth() const;
    bool isClassEscape() const;
    // For \d \D \s \S \w \W: 1 when the character at (backward: before) at
    // is of the class, else -1; no match state, no ignorable text.
    int classConsume(const LRexCursor& cur, const char* at, int backward) const;

    int32_t type;
    int32_t reverse;
    std::unique_ptr<LRex> body;
    int32_t done = 0;
};

class LBraceRex : public LRex {
public:
    LBraceRex(LRexContext& ctx, std::unique_ptr<LRex> body, int number);
    ~LBraceRex() override;
    void reset() override { body->reset(); }
    int match(LRexCursor& cur, int backward) override;
    int isMulti() const override { return body->isMulti(); }
    void dump(LString& out, int depth) const override;
    int analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const override;
    void forEachChild(void (*fn)(const LRex*, void*), void* ctx) const override;
    void setName(const char* text);

    std::unique_ptr<LRex> body;
    int32_t number;
    char* name = nullptr;  // owned block, may be null
};

// A sequence of two parts; longer sequences chain through rest.
class LSeqRex : public LRex {
public:
    // nodes: at least two (internal error 481 otherwise), in order.
    LSeqRex(LRexContext& ctx, std::vector<std::unique_ptr<LRex>> nodes);
    ~LSeqRex() override;
    void reset() override;
    int match(LRexCursor& cur, int backward) override;
    int isMulti() const override;
    int kind() const override { return 3; }
    void dump(LString& out, int depth) const override;
    int analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const override;
    void forEachChild(void (*fn)(const LRex*, void*), void* ctx) const override;

    std::unique_ptr<LRex> head;
    std::unique_ptr<LRex> rest;
    LRexMark headMark;
    LRexMark restMark;

private:
    explicit LSeqRex(LRexContext& ctx) : LRex() { adopt(ctx); }
    void adopt(LRexContext& ctx);
    LSeqRex* next() const { return next_; }
    int matchForward(LRexCursor& cur);
    int matchBackward(LRexCursor& cur);
    LSeqRex* parent_ = nullptr;  // the sequence whose rest this one is
    LSeqRex* next_ = nullptr;    // rest, when it is a sequence
    bool clean_ = true;          // no match since the last reset
    friend class LRexNodeFactory;
};

class LOrRex : public LRex {
public:
    LOrRex(LRexContext& ctx, std::vector<std::unique_ptr<LRex>> alternatives);
    void reset() override;
    int match(LRexCursor& cur, int backward) override;
    void dump(LString& out, int depth) const override;
    int analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const override;
    void forEachChild(void (*fn)(const LRex*, void*), void* ctx) const override;

    std::vector<std::unique_ptr<LRex>> alternatives;
    int32_t next = 0;
};

class LRepRex : public LRex {
public:
    static constexpr int32_t kNoLimit = 2147483647;
    LRepRex(LRexContext& ctx, std::unique_ptr<LRex> body, int min, int max, int lazy);
    void reset() override;
    int match(LRexCursor& cur, int backward) override;
    void dump(LString& out, int depth) const override;
    int analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const override;
    void forEachChild(void (*fn)(const LRex*, void*), void* ctx) const override;

    std::unique_ptr<LRex> body;
    int32_t min, max;
    int32_t lazy;
    int32_t lazyCount = -1;
    LArray tries;  // one entry per iteration level: which way of the body is used

    // The bytes that what follows this repetition in its sequence must start
    // with (it cannot match empty); a way ending elsewhere cannot lead to a
    // match and is passed over. Set by the search plan of trees without
    // references; forward matching only.
    void setFollow(const LRexByteSet* follow);
    // After a failed forward match of a one-character body with a follow set
    // that yielded no way at all, because no way could be followed: where the
    // run of the body ended (the body fails there), else null. Every start
    // inside the run fails the same way.
    const char* deadRunEnd() const;
    bool stepsOneCharacter() const { return memoChars_ || memoClass_; }
    bool hasFollow() const { return hasFollow_; }

private:
    int matchGreedy(LRexCursor& cur, int backward);
    int matchLazy(LRexCursor& cur);
    int matchGreedyMemo(LRexCursor& cur, int backward);
    int matchLazyMemo(LRexCursor& cur);
    // Iteration i of a body with one way: 1 moved, 0 failed (or out of steps),
    // 2 matched empty.
    int memoIteration(LRexCursor& cur, int i, int backward);

    // Positions of a body whose one way depends only on its start: iteration
    // ends, remembered instead of replayed (offsets from the first start).
    bool memo_ = false;        // the body qualifies
    std::vector<int32_t> ends_;
    int memoStop_ = -1;        // index of the iteration known to fail or match empty
    int memoStopKind_ = 0;     // 0 it fails, 2 it matches empty
    int memoCur_ = -1;         // greedy: iterations of the way last returned
    bool memoDone_ = false;
    const char* memoBase_ = nullptr;
    const LCharsRex* memoChars_ = nullptr;  // body stepped without its match state
    const LSpRex* memoClass_ = nullptr;
    bool hasFollow_ = false;
    bool yielded_ = false;     // a way was returned since the last reset
    bool forward_ = false;     // the last memo run went forward
    LRexByteSet follow_;
    bool viable(const LRexCursor& cur, int iterations) const;
};

class LRefRex : public LRex {
public:
    LRefRex(LRexContext& ctx, const char* name);
    ~LRefRex() override;
    void reset() override { done = 0; }
    int match(LRexCursor& cur, int backward) override;
    int isMulti() const override { return 0; }
    void dump(LString& out, int depth) const override;

    char* name;  // owned block
    int32_t done = 0;
    int32_t warned = 0;
};

class LEmptyRex : public LRex {
public:
    explicit LEmptyRex(LRexContext& ctx);
    void reset() override { done = 0; }
    int match(LRexCursor& cur, int backward) override;
    int isMulti() const override { return 0; }
    int kind() const override { return 2; }
    void dump(LString& out, int depth) const override;

    int32_t done = 0;
};

// Test hook: false makes matching and search run the plain designed algorithms
// (every start tried, repetitions replayed), so tests can prove that the
// shortcuts select the same matches. Always true in the program.
extern bool g_rexShortcuts;

// True when the node yields at most one way, that way depends only on where it
// starts, and matching it changes nothing but the position (no captures, no
// warnings): a repetition of it may remember positions instead of replaying.
bool rexIsPlainOneWay(const LRex* node);

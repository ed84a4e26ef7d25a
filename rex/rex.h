// The pattern engine as the rest of the program sees it: compile a pattern into
// a tree of LRex nodes, search a text with it, filter the argument list.
//
// Compiling never fails: defects are reported as warnings (35000, 35001) and
// whatever could be parsed is kept. The node classes themselves are in
// rex/nodes.h.
//
// Threads: a compiled tree carries match state, so one tree is searched by one
// thread at a time; whoever shares a tree between threads (the global end
// marker) serialises its searches or gives each thread a copy (rexCopy).
// Different trees may be compiled, searched, copied and deleted by different
// threads at the same time: nothing a search writes is shared between trees.
// The process-wide settings (character set, step limit, custom resolver) are
// set at start-up, before any thread searches. Warnings go through msg(), which
// takes g_libLock for the moment it writes; no search holds any other lock.
//
// Work: every search has a budget of steps (rexStepLimit). A step is one turn
// of backtracking: a start position tried, a sequence or alternation asked for
// a way, one iteration of a repetition tried or replayed, one stretch of
// ignorable text skipped. A search that uses its budget up counts as no match
// and reports warning 35000 once per tree.
#pragma once

#include <cstdint>
#include <memory>

#include "base/obj.h"

class LString;
class LArray;
class LStrList;
struct LRexCursor;
struct LRexPlan;
struct LRexRoot;
class LRexByteSet;
class LRexOffsets;

// Compile flags (1 and 4 are also node flags).
enum : uint32_t {
    rexIgnoreCase = 1,      // letters match in either case
    rexTypeBoundary = 2,    // a match neither starts nor ends inside a run of one character type
    rexIgnoreWidth = 4,     // half-width and full-width forms match each other
    rexCustom = 8,          // node flag of a {@r:name} reference
    rexOwnsIgnore = 0x1000, // node flag: this node deletes its ignore pattern
};

// The root class of every node of a compiled pattern. A node is a generator:
// match() called again without reset() yields the next way of matching.
class LRex : public LObj {
public:
    ~LRex() override;

    // Forgets all match state of the subtree.
    virtual void reset() = 0;
    // Next way of matching at cur.pos (backward: text ending at cur.pos). On
    // success moves cur.pos past the matched text and returns 1; on failure
    // returns 0 with cur.pos unchanged. Once 0, it stays 0 until reset().
    virtual int match(LRexCursor& cur, int backward) = 0;
    // 1 when the node can match in more than one way.
    virtual int isMulti() const { return 1; }
    // 1 LFlatRex, 2 LEmptyRex, 3 LSeqRex, 0 the others.
    virtual int kind() const { return 0; }
    // Appends the debug text of the subtree, indented by depth spaces.
    virtual void dump(LString& out, int depth) const = 0;
    // The bytes that can stand at offset from where the node starts matching;
    // offsets left over for what follows when a way is shorter go to rest.
    // Returns 0 when the node cannot describe them.
    int firstBytes(int offset, LString& bytes, LArray& rest) const;

    // The same analysis on sets; extended also describes the class escapes
    // (\d, \w, \s and their negations).
    virtual int analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const;
    // Visits the direct children (not the ignore pattern) for whole-tree walks.
    virtual void forEachChild(void (*fn)(const LRex*, void*), void* ctx) const;

    uint32_t flags = 0;       // rexIgnoreCase, rexIgnoreWidth, rexCustom, rexOwnsIgnore
    LRex* ignore = nullptr;   // ignore pattern in force, owned only with rexOwnsIgnore

    // What only a root keeps: its source text and the search data derived from
    // it (made on first use; see rex/search.cpp). Null on other nodes.
    std::unique_ptr<LRexRoot> root;

    // Skips ignorable text at cur.pos: matches the ignore pattern forward again
    // and again while it matches and moves; stops at a failure or empty match.
    void skipIgnorable(LRexCursor& cur) const;

protected:
    LRex();
    // The end of a match of a node with one way: consumed < 0 puts cur.pos back
    // at from and returns 0; otherwise moves cur.pos by consumed bytes (back when
    // backward), sets done and returns 1.
    static int finishOneWay(LRexCursor& cur, const char* from, int consumed, int backward, int32_t& done);
    // analyzeFirst of a node that skips its ignore pattern first: at offset 0
    // the ignore pattern's first bytes join own; beyond it nothing is known.
    int withIgnore(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended, int own) const;
};

// Returns the root of a new tree (the caller owns it), or null for an empty
// pattern. flags: rexIgnoreCase, rexTypeBoundary, rexIgnoreWidth.
std::unique_ptr<LRex> rexCompile(const char* pattern, uint32_t flags);
// A new tree compiled from the same text with the same flags as root, without
// repeating its warnings; null for null or for a tree rexCompile did not make.
// Lets a thread search its own copy of a tree that other threads search.
std::unique_ptr<LRex> rexCopy(const LRex* root);
// The pattern text root was compiled from ("" for a tree rexCompile did not make).
const char* rexSource(const LRex* root);

// The steps a search may take before it gives up (see above). The default is
// far above what a search of 64 KiB by an ordinary pattern takes (a few
// hundred thousand steps) and takes well under a second where every step
// backtracks. rexSetStepLimit takes values from 1000 on (smaller ones are
// raised to 1000) and is called at start-up.
constexpr int kRexDefaultStepLimit = 20000000;
int rexStepLimit();
void rexSetStepLimit(int steps);

// Searches text (its len() decides its end) with rex and returns a pointer to
// the selected match inside the text, or null (also for a null rex). nth: n > 0
// the n-th match by start position; -2 the match ending furthest; 0 and other
// negative values the match with the last start. *matchLength (when not null)
// receives the match length.
const char* rexFind(const LString& text, LRex* rex, int* matchLength, int nth);
// The same over length bytes at text (length < 0: up to the terminating NUL).
// The bytes need not be NUL-terminated: nothing at or after text + length is read.
const char* rexFind(const char* text, int length, LRex* rex, int* matchLength, int nth);

// The argument filter of the common options (-lro:, -lrx:, -lfx, -chrset:),
// run over the expanded argument list at start-up.
void filterArguments(LStrList& args);

// Supplies the text of a {@r:name} reference: returns a pointer to it and sets
// *length, or returns null when there is none.
using LRexCustomResolver = const char* (*)(const char* name, int* length);
// The installed resolver (null: {@r:name} warns and never matches).
extern LRexCustomResolver g_rexCustomResolver;
// Installs resolver (null uninstalls); returns the previous one.
LRexCustomResolver rexSetCustomResolver(LRexCustomResolver resolver);

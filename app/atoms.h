// Atoms: named blocks of lines run as a whole on one connection.
//
// An atom is open while being defined (the last element of g_atoms), then waits
// in g_atoms in run order; a scheduling pass takes it out and hands its lines to
// a connection, where it lives on only as the connection's currentAtom name;
// when its connection's completion pattern matches, its name joins the completed
// collections. g_atoms belongs to the main thread; the completed collections and
// g_endMarker are guarded by g_libLock.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

#include "app/line_record.h"
#include "base/larray.h"
#include "base/lhash.h"
#include "base/lstring.h"

class LRex;
class CompletionPattern;

struct Atom : LObj {
    LString name;                     // "A%d" unless given
    LOwnedArray<LineRecord> lines;    // kinds G/g and W/w
    LStrList after;                   // atoms that must have completed first
    LStrList by;                      // when not empty: the only connections allowed
    LStrList exceptBy;                // connections not allowed
    std::unique_ptr<LRex> until;      // own completion pattern, or null
    // The until pattern once an attempt has run: a retry takes it again.
    std::shared_ptr<CompletionPattern> untilShared;
    int open = 1;                     // 1 while being defined
    int timeout = -1;                 // seconds without the marker before it fails; -1: !atom-timeout's
    int retries = 0;                  // times it goes back to the queue after a failure
    int attempts = 0;                 // attempts begun so far
    bool stuckWarned = false;         // the warning that no connection may take it was given
    ~Atom() override;                 // where the pattern's type is known
};

// A compiled completion pattern as the connection threads search it, without
// g_libLock. The tree carries match state, so the pattern's own mutex lets one
// search run at a time; it is shared (the global end marker by every
// connection) and lives until the last search of it has ended, so that
// !atom-end-marker or an atom's until may replace it meanwhile.
class CompletionPattern {
public:
    explicit CompletionPattern(std::unique_ptr<LRex> rex);
    ~CompletionPattern();
    CompletionPattern(const CompletionPattern&) = delete;
    CompletionPattern& operator=(const CompletionPattern&) = delete;

    // True when the bytes hold a match. The caller holds no g_libLock: a
    // search may take long, and a pattern searched by another thread is waited for.
    bool foundIn(const char* text, int length);

private:
    std::mutex m_;
    std::unique_ptr<LRex> rex_;
};
using PatternRef = std::shared_ptr<CompletionPattern>;

// The waiting atoms in run order. A double-ended queue, so that taking the
// first atom out (every hand-out does) costs the same with 100,000 atoms
// waiting as with ten; positions are indices, as in every list of the system.
class AtomQueue {
public:
    int count() const { return static_cast<int>(atoms_.size()); }
    bool empty() const { return atoms_.empty(); }
    Atom* operator[](int i) const { return atoms_[static_cast<size_t>(i)].get(); }
    void add(std::unique_ptr<Atom> a) { atoms_.push_back(std::move(a)); }
    void insert(int at, std::unique_ptr<Atom> a) { atoms_.insert(atoms_.begin() + at, std::move(a)); }
    std::unique_ptr<Atom> takeAt(int i) {
        std::unique_ptr<Atom> a = std::move(atoms_[static_cast<size_t>(i)]);
        atoms_.erase(atoms_.begin() + i);
        return a;
    }
    void clear() { atoms_.clear(); }

private:
    std::deque<std::unique_ptr<Atom>> atoms_;
};

extern AtomQueue g_atoms;
extern int g_atomCounter;
// Default: #END# compiled with flags 0; null when !atom-end-marker gave none.
// The reference itself changes under g_libLock.
extern PatternRef g_endMarker;
// The names of the completed atoms, for the after look-ups of every pass and
// the completion records: hashed on the whole name, so that 100,000 names as
// alike as J1 ... J100000 cost a look-up no more than ten do. Under g_libLock.
class CompletedSet {
public:
    int count() const { return static_cast<int>(names_.size()); }
    bool contains(const char* name) const { return names_.find(std::string_view(name)) != names_.end(); }
    // Adds a copy of name (once).
    void add(const char* name) { names_.emplace(name); }
    // True when name was there.
    bool remove(const char* name) {
        const auto it = names_.find(std::string_view(name));
        if (it == names_.end()) return false;
        names_.erase(it);
        return true;
    }
    void clear() { names_.clear(); }

private:
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_set<std::string, Hash, std::equal_to<>> names_;
};

extern CompletedSet g_completedSet;
extern LStrList g_completedAtoms;          // in order of completion

// The atom being defined (the last of g_atoms when open), or null.
Atom* openAtom();
// Releases an atom with its lines, name lists and until pattern.
void deleteAtom(std::unique_ptr<Atom> atom);
// Creates the shared atom state (the end marker) at start-up; releases it at exit.
void initAtoms();
void releaseAtoms();

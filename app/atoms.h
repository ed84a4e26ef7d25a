// Atoms: named blocks of lines run as a whole on one connection.
//
// An atom is open while being defined (the last element of g_atoms), then waits
// in g_atoms in run order; a scheduling pass takes it out and hands its lines to
// a connection, where it lives on only as the connection's currentAtom name;
// when its connection's completion pattern matches, its name joins the completed
// collections. g_atoms belongs to the main thread; the completed collections and
// g_endMarker are guarded by g_libLock.
#pragma once

#include <memory>

#include "app/line_record.h"
#include "base/larray.h"
#include "base/lhash.h"
#include "base/lstring.h"

class LRex;

struct Atom : LObj {
    LString name;                     // "A%d" unless given
    LOwnedArray<LineRecord> lines;    // kinds G/g and W/w
    LStrList after;                   // atoms that must have completed first
    LStrList by;                      // when not empty: the only connections allowed
    LStrList exceptBy;                // connections not allowed
    std::unique_ptr<LRex> until;      // own completion pattern, or null
    int open = 1;                     // 1 while being defined
};

extern LOwnedArray<Atom> g_atoms;
extern int g_atomCounter;
extern std::unique_ptr<LRex> g_endMarker;  // default rexCompile("#END#", 0)
extern LHashTable g_completedSet;          // owned name blocks
extern LStrList g_completedAtoms;          // in order of completion

// The atom being defined (the last of g_atoms when open), or null.
Atom* openAtom();
// Releases an atom with its lines, name lists and until pattern.
void deleteAtom(std::unique_ptr<Atom> atom);
// Creates the shared atom state (the end marker) at start-up; releases it at exit.
void initAtoms();
void releaseAtoms();

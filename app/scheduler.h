// The scheduler: the pass that hands waiting atoms to ready connections (main
// thread), and the completion check that runs on every piece of received text
// (connection threads). They meet through the connection's ready flag and
// currentAtom, the completed collections, g_closeOnReadyPending and the main
// loop's wake-up.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/atoms.h"
#include "app/console.h"
#include "app/deadlines.h"
#include "app/outcomes.h"

class TSocket;
class PendingLines;

// Set by a connection thread when an atom completes on a close-on-ready
// connection; consumed by the main loop before the next pass.
extern std::atomic<int> g_closeOnReadyPending;

// One scheduling pass (main thread). Lines of an assigned atom run through
// executeLine with the assigned connection as the current one.
void assignAtoms(PendingLines& pending);
// First connection in list order that may take the atom now: ready, connected,
// not closing, and allowed by its by/except-by.
TSocket* findReadyConnectionFor(const Atom& atom);

// An atom whose lines are being handed out to its connection, out of the
// queue: the next line to hand out, and the pause a !!wait (or the wait of a
// !!open) among them has put on the rest.
struct HandOut {
    std::unique_ptr<Atom> atom;
    int next = 0;
    uint64_t connectionId = 0;
    uint64_t serial = 0;  // the connection's handOut while this one owns it
    LinePause pause;
    Deadlines::Id resume = 0;  // the deadline that ends the pause (while held back)
    Assignment assignment;     // the attempt this hand-out begins
};

// Runs the atom's lines from h.next on, in order, on the connection with
// h.connectionId (text is sent or queued, deferred commands run there in their
// place), each under g_libLock and only while that connection is still listed:
// the first line that finds it gone reports 10006 and the rest are dropped. A
// line that pauses the rest (h.pause) stops it: false, and the caller resumes
// it when the pause ends. Otherwise true, with the atom recorded as running
// there (currentAtom; its until becomes the connection's pattern; the atom
// passes to the connection's run record), or failed when the connection has
// gone (the atom passes to the ended runs). A !!quit
// among the lines sets g_quitRequested. notice (may be null) is the open
// console output of the assignment notice: the first text line joins it, and
// it is closed before any command runs and after the first line.
bool continueHandOut(HandOut& h, PendingLines& pending, std::optional<ConsoleOutput>* notice = nullptr);
// The main loop, when a connection has left the list: the atoms held back for
// it go on at once (reporting 10006 for their next line) instead of waiting
// for the end of their pause.
void resumeHandOutsOfClosedConnections();
// Atoms held back by a pause (main thread).
int heldBackAtoms();
// Calls f for the atom of every hand-out that a pause holds back (main thread).
void forEachHeldBack(const std::function<void(const Atom&)>& f);
// !ready has taken the connection from the hand-out with this number (its
// handOut): when a pause holds it back, it ends now, abandoned (main thread,
// under g_libLock).
void abandonHandOut(uint64_t serial);
// Forgets every atom held back (the end of the run).
void releaseHandOuts();

// What the completion check needs to know about a connection, read under
// g_libLock together with the printing of a piece: whether an atom runs there,
// which one, and the pattern in force.
struct CompletionProbe {
    bool running = false;
    uint64_t serial = 0;
    PatternRef pattern;
};
// Under g_libLock (the caller holds it).
CompletionProbe probeCompletion(TSocket* c);
// On c's own thread, without g_libLock: searches the piece together with what
// arrived before it for the same running atom (at most 64 KiB); on a match
// records the completion (when that atom still runs there) and returns true,
// and the caller then calls wakeForPass.
bool searchForCompletion(TSocket* c, const CompletionProbe& probe, const char* text, int length);
// Both steps and the wake-up.
void checkCompletion(TSocket* c, const char* text, int length);
// After a completion on c: wakes the main loop, unless a completion has
// already done so since the last pass began, in which case the pass that wake-up
// brings comes after this completion too and sees it.
void wakeForPass(TSocket* c);
// The main loop, before the close-on-ready sweep and the pass of each
// iteration (and every pass itself): completions from here on need a wake-up.
void passStarting();
// Closes every connection marked close-on-ready (main thread).
void closeMarkedConnections();

// The scheduler: the pass that hands waiting atoms to ready connections (main
// thread), and the completion check that runs on every piece of received text
// (connection threads). They meet through the connection's ready flag and
// currentAtom, the completed collections, g_closeOnReadyPending and the
// connection's atomEvent, which wakes the main loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "app/console.h"

class TSocket;
class PendingLines;
struct Atom;

// Set by a connection thread when an atom completes on a close-on-ready
// connection; consumed by the main loop before the next pass.
extern std::atomic<int> g_closeOnReadyPending;

// One scheduling pass (main thread). Lines of an assigned atom run through
// executeLine with the assigned connection as the current one.
void assignAtoms(PendingLines& pending);
// First ready connection in list order allowed by the atom's by/except-by.
TSocket* findReadyConnectionFor(const Atom& atom);
// Runs the atom's lines in order on the connection with this id (text is sent
// or queued, deferred commands run there in their place), each under g_libLock
// and only while that connection is still listed: the first line that finds it
// gone reports 10006 and the rest are dropped. Then records the atom as running
// there (currentAtom; its until becomes the connection's pattern). A !!quit
// among the lines sets g_quitRequested. Part of assignAtoms. notice (may be
// null) is the open console output of the assignment notice: the first text
// line joins it, and it is closed before any command runs and after the first
// line.
void handOutAtom(Atom& atom, uint64_t connectionId, PendingLines& pending,
                 std::optional<ConsoleOutput>* notice = nullptr);
// Searches received text, together with what arrived before it for the same
// running atom (at most 64 KiB), for the connection's completion pattern; on a
// match records the completion and sets the connection's atomEvent
// (connection thread).
void checkCompletion(TSocket* c, const char* text, int length);
// checkCompletion without the wake-up: true when an atom has completed, and
// the caller then calls wakeForPass (after releasing g_libLock, which a
// caller may hold around it).
bool recordIfCompleted(TSocket* c, const char* text, int length);
// After a completion on c: sets c's atomEvent, unless a connection has already
// set its event since the last pass began, in which case the pass that event
// brings comes after this completion too and sees it.
void wakeForPass(TSocket* c);
// The main loop, before the close-on-ready sweep and the pass of each
// iteration (and every pass itself): completions from here on need a wake-up.
void passStarting();
// Closes every connection marked close-on-ready (main thread).
void closeMarkedConnections();

// The scheduler: the pass that hands waiting atoms to ready connections (main
// thread), and the completion check that runs on every piece of received text
// (connection threads). They meet through the connection's ready flag and
// currentAtom, the completed collections, g_closeOnReadyPending and the
// connection's atomEvent, which wakes the main loop.
#pragma once

#include <atomic>
#include <cstdint>

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
// among the lines sets g_quitRequested. Part of assignAtoms.
void handOutAtom(Atom& atom, uint64_t connectionId, PendingLines& pending);
// Searches received text, together with what arrived before it for the same
// running atom (at most 64 KiB), for the connection's completion pattern; on a
// match records the completion and sets the connection's atomEvent
// (connection thread).
void checkCompletion(TSocket* c, const char* text, int length);
// Closes every connection marked close-on-ready (main thread).
void closeMarkedConnections();

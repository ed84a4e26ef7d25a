// The scheduler: the pass that hands waiting atoms to ready connections (main
// thread), and the completion check that runs on every piece of received text
// (connection threads). They meet through the connection's ready flag and
// currentAtom, the completed collections, g_closeOnReadyPending and the
// connection's atomEvent, which wakes the main loop.
#pragma once

#include <atomic>

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
// Searches received text for the connection's completion pattern (connection thread).
void checkCompletion(TSocket* c, const char* text, int length);
// Closes every connection marked close-on-ready (main thread).
void closeMarkedConnections();

// The main loop: one pending line per iteration, recorded or executed, then the
// close-on-ready sweep, a scheduling pass and a wait on g_waitSet and on the
// earliest deadline (app/deadlines.h).
#pragma once

#include <atomic>
#include <memory>

#include "base/larray.h"
#include "base/thread.h"

class LineRecord;
class PendingLines;
class TInput;

// The events the main loop sleeps on: its own, the console thread's and one per
// connection. Changed (and snapshot for the wait) under g_libLock.
extern LPtrArray<LEvent> g_waitSet;

// Set by !quit (also !!quit inside an atom): the program ends after the
// current pass.
extern std::atomic<int> g_quitRequested;

// Creates the main loop's own event and puts it into g_waitSet (start-up).
void initWaitSet();
// Removes and destroys the main loop's own event (shutdown).
void releaseWaitSet();
// Wakes the main loop's wait (any thread).
void wakeMainLoop();
// A connection has left g_connections (its own thread, from its destructor,
// under g_libLock): wakes the main loop, which resumes the atoms held back for
// it and notices the end of the last connection at shutdown.
void connectionLeft();
// Waits for the main loop's event (shutdown, while the connections end).
void waitMainEvent(int timeoutMs);
// From now on Ctrl-C, SIGTERM and SIGHUP wake the main loop, which then ends
// as after !quit (after initWaitSet). A second one ends the process at once.
void catchQuitSignals();
// The signal that ended the run, 0 when none did.
int quitSignal();

// One pending line, taken out of the pending lines: recorded into the macro
// being recorded (or ends that recording), recorded into the atom being
// defined, or executed with the current connection. Returns 1 after a !quit.
int handlePendingLine(std::unique_ptr<LineRecord> line, PendingLines& pending);

// Runs the main loop until !quit (or !!quit inside an atom, or a quit
// signal); returns 0. input (may be null) is the console thread whose lines
// join the pending lines. While pending.pause lasts no line is taken, but
// typed lines are read, passes run and deadlines fire. Pauses and held-back
// atoms end with the loop.

int runMainLoop(PendingLines& pending, TInput* input);

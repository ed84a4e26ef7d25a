// The main loop: one pending line per iteration, recorded or executed, then the
// close-on-ready sweep, a scheduling pass and a wait on g_waitSet.
#pragma once

#include <atomic>

#include "base/larray.h"
#include "base/thread.h"

class PendingLines;

// The events the main loop sleeps on: its own, the console thread's and one per
// connection. Changed (and snapshot for the wait) under g_libLock.
extern LPtrArray<LEvent> g_waitSet;

// Set by !!quit inside an atom: the program ends after the current pass.
extern std::atomic<int> g_quitRequested;

// Runs the main loop until !quit (or !!quit inside an atom); returns 0.
int runMainLoop(PendingLines& pending);

// Outcomes: what became of every atom that ran. An attempt ends as completed
// or failed (its connection closed, !ready abandoned it, or it timed out); a
// failed atom with retries left goes back to the head of the queue; an atom
// whose after names can no longer complete is skipped. From these come the
// failed line of !list-atom, the result file, the summary at the end of a run,
// the progress in the terminal title and the exit status.
//
// Key choices:
// - A running atom lives on in its connection's run record (with its lines,
//   for a retry), made when its last line has been handed out.
// - An attempt ends under g_libLock on whichever thread sees it end (the
//   connection thread for a completion or a close, the main thread for !ready
//   and a time limit): the record leaves the connection, a failure is
//   announced, and the record joins the ended runs. The main loop settles the
//   ended runs before each pass (counts, failed names, retries, result lines)
//   and frees them there, so the queue and the result file stay with the main
//   thread, and no record is freed while a hand-out may still read its lines.
// - Time limits wait in queues in the order in which they pass, with one
//   deadline of the main loop for the earliest, checked to a tenth of a
//   second: an attempt costs a place in a queue, and one that ends before its
//   limit is passed over when the limit comes, instead of being looked for.
// - Once the run ends (the main loop has stopped), nothing more ends: atoms
//   still running count as still waiting, and connections closed by the
//   shutdown fail nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/lstring.h"
#include "base/obj.h"

struct Atom;
class PendingLines;
class TSocket;

// One attempt of an atom on a connection.
struct AtomRun : LObj {
    enum class Status { kCompleted, kFailed, kSkipped };

    std::unique_ptr<Atom> atom;  // the atom itself, kept for a retry
    LString connection;          // the connection's name (empty for a skip)
    LString address;             // its peer address, when a result file is written
    uint64_t runId = 0;          // unique per attempt
    int attempt = 0;             // 1 for the first attempt
    int64_t startedWallMs = 0;   // assigned (wall clock); 0 for a skip
    int64_t startedMs = 0;       // assigned (monotonic)
    int64_t endedWallMs = 0;
    int64_t endedMs = 0;
    int64_t bytes = 0;           // received while it ran
    int timeout = 0;             // the time limit in seconds; 0 none
    Status status = Status::kCompleted;
    LString reason;              // why it failed or was skipped
};

// What the pass knows about an atom it hands out, before it runs.
struct Assignment {
    uint64_t connectionId = 0;
    LString connection;
    int64_t startedWallMs = 0;
    int64_t startedMs = 0;
};

// The time limit of atoms without their own, in seconds; 0 none (!atom-timeout).
extern std::atomic<int> g_atomTimeout;
// -qd and !quit-when-done: quit once no line is pending and no atom waits or runs.
extern std::atomic<int> g_quitWhenDone;
// Atoms running now (a connection's run record); under g_libLock.
extern int g_runningAtoms;

// The pass assigns atom to a connection: a new attempt starts (main thread).
Assignment startAttempt(Atom& atom, const TSocket& c);
// The atom's lines have been handed out to c (under g_libLock, main thread):
// it runs there now, with the atom's time limit started. The atom passes to
// c's run record.
void runStarted(std::unique_ptr<Atom> atom, Assignment&& a, TSocket* c);
// The attempt ended before the atom's lines were all handed out (main thread):
// its connection went away ("connection closed"), or !ready took the
// connection while a pause held the rest back ("abandoned").
void runLost(std::unique_ptr<Atom> atom, Assignment&& a, const char* reason);
// Ends the attempt running on c, if any (under g_libLock, any thread). A
// completion is announced by its caller; a failure is announced here with
// reason ("[Atom %s failed on %s: %s]" and the same in the system log). The
// main loop is woken for a failure.
void endRun(TSocket* c, AtomRun::Status status, const char* reason);
// Counts received bytes toward the atom running on c (under g_libLock).
void countReceived(TSocket* c, int n);
// c closes or goes away while an atom runs there (under g_libLock, any thread).
void atomConnectionClosed(TSocket* c);
// The time limit of the attempt runId on the connection connectionId has come
// (a deadline of the main loop): when that attempt still runs, it fails, and
// the connection stays occupied ("[Connection %s occupied]") until !ready.
void timeLimitReached(uint64_t connectionId, uint64_t runId);

// The main loop, before each pass: settles the runs that have ended since.
void settleOutcomes();
// The pass, for a waiting atom whose after names have not all completed: the
// name of one that can no longer complete (none of that name completed,
// waiting or running, and one failed or was skipped), or null. Main thread.
const char* hopelessAfter(const Atom& atom);
// Skips the atom (taken out of the queue) because after can no longer complete.
void skipAtom(std::unique_ptr<Atom> atom, const char* after);
// Counts changes that may leave a waiting atom's after name without a way to
// complete: a name failed, atoms or completed names were deleted, an atom was
// defined that waits for a failed name (atomDefined). The pass looks behind a
// stuck head only after such a change.
void dependenciesChanged();
void atomDefined(const Atom& atom);
uint64_t dependencyGeneration();
// The pass found no connection for the first eligible atom: warns once per
// atom when none open may ever take it, as soon as no line is pending.
void checkStuckHead(Atom& atom, const PendingLines& pending);
// The names of atoms that failed or were skipped, in order, each once; main thread.
const class LStrList& failedAtoms();

// The run has ended: no attempt ends any more. Settles what has ended, then
// prints the summary when atoms ended in the run. Main thread.
void finishRun();
// Releases every record and count (at exit, and between tests).
void releaseOutcomes();
// Something went wrong that the exit status must tell: a command file or a
// connection could not be opened, a result file write failed (any thread).
void noteRunFailure();
// !quit with a code (0..255).
void setQuitCode(int code);
// The exit status of a run that ended by a quit command, -qd or the end of
// input: the code of !quit <n> when given, else 1 when any atom failed or
// was skipped or noteRunFailure was called, else 0.
int exitStatus();

// The run is done, checked after each pass (main thread): with -qd or
// !quit-when-done, no line is pending and no atom waits or runs; or console
// input has ended, no line is pending, no atom runs (the pass could hand none
// out) and no connection is open, or, with -qd, none is still connecting.
// Atoms left waiting when the run ends so count as a failure (noteRunFailure).
bool runIsDone(const PendingLines& pending, bool inputEnded);

// Counts for the terminal title: atoms that ended (completed, failed or
// skipped), of them failed or skipped, waiting, running.
struct Progress {
    int done = 0;
    int failed = 0;
    int waiting = 0;
    int running = 0;
    bool operator==(const Progress&) const = default;
};
Progress currentProgress();

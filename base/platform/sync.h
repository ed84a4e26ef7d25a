// Platform layer: locks, events, waits and threads (POSIX threads underneath).
// Nothing outside base/platform includes a system header for these.
//
// An event is an eventfd descriptor in non-blocking mode: set() adds to its
// counter, a consuming wait reads the counter back to 0. That gives auto-reset
// semantics (several sets before one wait count once), lets any number of
// events be waited on together with poll(), and lets an event be polled
// together with a socket or standard input. Waiting costs no CPU.
#pragma once

#include <cstdint>

// The re-entrant lock behind g_libLock (statically initialised, never destroyed).
void platformLibLock();
void platformLibUnlock();
bool platformLibTryLock();
// Releases every level of the lock that the calling thread holds and returns
// how many that were (0, releasing nothing, when it holds none).
int platformLibReleaseAll();
// Takes the lock again with the depth platformLibReleaseAll returned (nothing
// for 0); waits like platformLibLock.
void platformLibRestore(int depth);
// True when the calling thread holds the lock (at any depth).
bool platformLibHeld();
// Checks that the calling thread holds no level of the lock before it waits or
// sleeps (what names the wait): a wait under g_libLock would stop every other
// thread of the program for as long. In builds with VESPERLINE_CHECK_LOCKS (the
// test builds) a violation writes "Internal Error: " and what to standard error
// and aborts; otherwise this does nothing.
void platformCheckNoLibLock(const char* what);

// ---- threads ----

// Starts fn(arg) on a new detached thread with the default stack size. Returns
// false (errno set) when the thread could not be created; fn then never runs.
bool platformStartThread(void (*fn)(void* arg), void* arg);

// The calling thread's kernel id (unique among the running threads of the system).
uint32_t platformThreadId();
// The calling thread's own handle (pthread_self), for display and comparison.
uintptr_t platformThreadSelf();

// Sleeps ms milliseconds (restarted after signals; ms <= 0 only yields).
void platformSleep(int ms);
// Lets other runnable threads go first; returns at once when there are none.
// Unlike a sleep it may be called anywhere, also under g_libLock.
void platformYield();

// Milliseconds of a monotonic clock (for time limits; unrelated to wall time).
int64_t platformMonotonicMs();

// ---- events ----

// A new auto-reset event, not signalled: a descriptor, or -1 (errno set).
int platformEventCreate();
// Closes an event; false (errno set) on failure.
bool platformEventClose(int ev);
// Signals an event; false (errno set) on failure.
bool platformEventSet(int ev);
// Consumes the event's signal when it is signalled; true when it was.
bool platformEventTryConsume(int ev);

// Result of the waits below: 1 signalled, 0 time-out, -1 failure (errno set).
// A negative timeoutMs waits without limit; 0 only looks.
//
// Waits for one event; with consume the signal is taken (auto-reset), without
// it the event stays signalled (a state that every waiter sees).
int platformEventWait(int ev, int timeoutMs, bool consume);

// Waits for n events (descriptors below 0 are never signalled). Without waitAll
// the first signalled event in list order is consumed and its index stored in
// *which (when not null). With waitAll each event is consumed as it becomes
// signalled until all have been; on a time-out the signals already taken are
// given back, so nothing is lost (the wait is not atomic across the events).
// n == 0 (or only invalid descriptors) with a negative time limit fails with
// EINVAL instead of sleeping for ever.
int platformEventWaitMany(const int* evs, int n, int timeoutMs, bool waitAll, int* which);

// The same without waitAll, for a thread that waits on much the same list again
// and again (the main loop): the thread keeps the events of its last call in a
// kernel wait set (epoll) and changes only what has changed, so a wait costs
// the same for three events or a thousand. keys[i] is a number that no other
// event ever has (the same event keeps it): it tells a new event from an old
// one that had the same descriptor number. With takeAll every event found
// signalled is consumed (which still names the first in list order).
int platformEventWaitAny(const int* evs, const uint64_t* keys, int n, int timeoutMs, int* which,
                         bool takeAll = false);

// ---- descriptor waits ----

enum : int {
    kPollIn = 1,      // readable (or end of input)
    kPollOut = 2,     // writable
    kPollError = 4,   // an error condition on the descriptor
    kPollHangup = 8,  // the peer closed / end of a pipe
    kPollInvalid = 16 // not an open descriptor
};

struct PlatformPollFd {
    int fd;    // descriptor; below 0 is ignored
    int want;  // kPollIn and/or kPollOut
    int got;   // set by platformPoll: the kPoll* bits that hold
};

// poll() over n descriptors, restarted after signals with the remaining time.
// Returns the number of descriptors with conditions, 0 on time-out, -1 on
// failure (errno set). Does not consume anything.
int platformPoll(PlatformPollFd* fds, int n, int timeoutMs);

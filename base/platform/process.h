// Platform layer: the process as a whole: exit, locale, signals, errno and the
// system's error texts, the clock.
#pragma once

#include <cstdint>

// Ends the process through the C library's normal exit (exit handlers run).
[[noreturn]] void platformExit(int code);

// Sets the locale of every category to name ("" is the user's own locale); the
// numeric category stays "C" so that formatted numbers never change. True when
// the system accepted it.
bool platformSetLocale(const char* name);

// Marks a write that Ctrl-C must not cut short; calls pair, from any thread,
// and nest (counted). While such writes run, an interrupt that would end the
// process waits until the last of them has ended.
void platformBeginProtectedWrite();
void platformEndProtectedWrite();

// From now on SIGINT, SIGTERM and SIGHUP end the run in order: the first one
// is recorded (platformQuitSignal) and signals the event descriptor wakeFd
// (an eventfd), so that the main loop wakes and ends as after a quit command.
// A further one ends the process at once with 128 + its number, once no
// protected write runs any more.
void platformCatchQuitSignals(int wakeFd);
// The first signal caught by platformCatchQuitSignals, 0 when none.
int platformQuitSignal();

// Makes writes to a closed pipe or socket fail with EPIPE instead of ending the
// process.
void platformIgnoreBrokenPipe();

// Gives SIGCHLD its default action back when the process was started with it
// ignored (an ignored SIGCHLD is inherited across exec, and some job runners
// leave it so): ignored, the system would reap our children by itself, their
// exit statuses would be lost, and a wait for one would last until every
// child had ended. No handler is installed: children are reaped by whoever
// waits for them.
void platformDefaultChildSignal();

int platformErrno();
void platformSetErrno(int e);

// Copies the system's text for error number err into buf (size bytes, always
// terminated). False when the system has no text of its own for err.
bool platformErrorText(int err, char* buf, int size);

// The value of the environment variable name, or null when it is not set.
const char* platformEnv(const char* name);

// Seconds since the epoch.
int64_t platformNow();

// Local time of t as year, month (1-12), day, hour, minute, second; false when t
// cannot be converted.
bool platformLocalTime(int64_t t, int fields[6]);

// Milliseconds since the epoch (wall-clock time, for time stamps only).
int64_t platformNowMs();
// platformLocalTime of the second of ms, and the local time's offset from UTC
// in seconds (east positive) through utcOffset.
bool platformLocalTimeOffset(int64_t ms, int fields[6], int* utcOffset);

// ---- child processes ----

// How a child process ended: its exit code, or the signal that ended it.
struct PlatformChildEnd {
    int exitCode = -1;  // 0..255 when it exited, else -1
    int signal = 0;     // the signal that ended it, else 0
};

// The signals that end a program we started, mildest first.
enum class PlatformEndSignal { hangUp, terminate, kill };

// Sends sig to every process of the process group whose leader is pid. False
// (errno set) when none received it.
bool platformSignalGroup(int pid, PlatformEndSignal sig);

// Waits up to timeoutMs (negative: without limit, 0: only looks) for the child
// pid to end, and reaps it: 1 when it has ended (how through *end), 0 when it
// still runs after the time, -1 when it is no child of ours (errno set). Only
// this child is reaped, never another one. Must not be called with g_libLock
// held: it waits.
int platformWaitChild(int pid, int timeoutMs, PlatformChildEnd* end);

// The name of a signal ("SIGKILL"), or "signal" for a number without one.
const char* platformSignalName(int sig);

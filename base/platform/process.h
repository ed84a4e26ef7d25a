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

// Sets the interrupt signal (Ctrl-C) to be ignored, remembering what it was;
// platformRestoreInterrupt puts that back. Calls must pair; the caller counts.
void platformIgnoreInterrupt();
void platformRestoreInterrupt();

// Makes writes to a closed pipe or socket fail with EPIPE instead of ending the
// process.
void platformIgnoreBrokenPipe();

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

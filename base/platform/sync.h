// Platform layer: locks, events, waits and threads (POSIX threads underneath).
// Nothing outside base/platform includes a system header for these.
#pragma once

// The recursive mutex behind g_libLock (statically initialised, never destroyed).
void platformLibLock();
void platformLibUnlock();
bool platformLibTryLock();

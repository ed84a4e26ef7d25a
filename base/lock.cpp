// g_libLock on a statically initialised re-entrant platform lock: no constructor
// runs, so the lock works from the first static initialiser to the last exit
// handler. The lock is deliberately never destroyed.
#include "base/lock.h"

#include "base/platform/sync.h"

LLock g_libLock;

void LLock::lock() { platformLibLock(); }
void LLock::unlock() { platformLibUnlock(); }
bool LLock::tryLock() { return platformLibTryLock(); }
int LLock::releaseAll() { return platformLibReleaseAll(); }
void LLock::restore(int depth) { platformLibRestore(depth); }

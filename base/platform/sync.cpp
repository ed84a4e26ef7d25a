// POSIX implementation of the synchronisation primitives of the platform layer.
#include "base/platform/sync.h"

#include <pthread.h>

namespace {
pthread_mutex_t g_libMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
}

void platformLibLock() { pthread_mutex_lock(&g_libMutex); }
void platformLibUnlock() { pthread_mutex_unlock(&g_libMutex); }
bool platformLibTryLock() { return pthread_mutex_trylock(&g_libMutex) == 0; }

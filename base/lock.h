// The one process-wide lock of the base library, g_libLock.
//
// It is re-entrant (a thread may take it again while it holds it) and exists
// before main and after it: it is initialised statically and never destroyed, so
// static constructors, exit handlers and late reports may all take it safely.
// It guards the block allocator, the message sink, every console output sequence
// and the application's shared lists.
#pragma once

class LLock {
public:
    void lock();
    void unlock();
    bool tryLock();
};

// The lock of the whole system.
extern LLock g_libLock;

// Holds g_libLock (or another LLock) for the lifetime of the guard.
class LLockGuard {
public:
    explicit LLockGuard(LLock& lock = g_libLock) : lock_(lock) { lock_.lock(); }
    ~LLockGuard() { lock_.unlock(); }
    LLockGuard(const LLockGuard&) = delete;
    LLockGuard& operator=(const LLockGuard&) = delete;

private:
    LLock& lock_;
};

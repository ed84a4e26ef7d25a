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
    // Releases every level the calling thread holds; returns their number (0
    // when it holds none). restore(n) takes the lock again with that depth.
    int releaseAll();
    void restore(int depth);
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

// Lets other threads take g_libLock (or another LLock) for the lifetime of the
// scope: releases every level the calling thread holds, whoever took them, and
// takes the lock again with the same depth at the end. Nothing that was
// checked under the lock before the scope holds after it: a caller looks again
// at whatever it uses. Does nothing when the thread holds no level.
class LLockRelease {
public:
    explicit LLockRelease(LLock& lock = g_libLock) : lock_(lock), depth_(lock.releaseAll()) {}
    ~LLockRelease() { lock_.restore(depth_); }
    LLockRelease(const LLockRelease&) = delete;
    LLockRelease& operator=(const LLockRelease&) = delete;

private:
    LLock& lock_;
    const int depth_;
};

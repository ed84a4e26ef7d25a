// Threads, events and waits.
//
// LThread is the base of every worker thread (the console thread, one socket
// thread per connection): a subclass overrides run(); start() runs it on a new
// thread that registers itself in the process-wide registry of g_mainThread;
// stop() asks it to end (stopRequested, stopEvent) and waits for it with a
// time limit; an auto-deleting thread deletes itself when run() returns.
//
// LEvent is an auto-reset event, initially not signalled. An event costs a
// kernel descriptor only once something asks to poll it (handle(), waitAny,
// waitFd); until then set() and wait() work on a mutex and a condition
// variable. So a thread object, whose stop, done and exit events are mostly
// never polled, holds no descriptor of its own, and a connection needs only
// its socket and the one event its thread polls beside it.
//
// Key design choice: the underlying event is reference counted. waitAny() takes
// a snapshot of its list under g_libLock and holds a reference to every event
// in it, so an event that another thread removes from the list and destroys
// meanwhile stays valid (its descriptor is not closed, nor reused) until the
// wait has returned. The same references let a finishing thread signal its
// events after its owner may already have freed the thread object. Each thread
// keeps the events of its last waitAny() in a kernel wait set, so the main
// loop's wait after every step costs the same for three events or a thousand.
//
// No wait or sleep here may be entered while the calling thread holds
// g_libLock: test builds abort when one is (platformCheckNoLibLock).
#pragma once

#include <atomic>
#include <cstdint>

#include "base/larray.h"
#include "base/obj.h"
#include "base/platform/sync.h"

// ---- events ----

enum class WaitResult { signalled, timedOut, failed };

class LEvent : public LObj {
public:
    // Creates a new auto-reset event, not signalled, owned: its descriptor
    // (made when first asked for) is closed when the last LEvent standing for it
    // is gone.
    LEvent();
    // Borrows an existing event descriptor (from platformEventCreate or another
    // LEvent's handle()): it is never closed here, so it must outlive every
    // LEvent that borrows it.
    explicit LEvent(int handle);
    // Closes an owned descriptor when this was the last LEvent standing for it
    // (error 17000 "cannot close event" on failure).
    ~LEvent() override;

    // From now on this object stands for the same event as other (signalling
    // either signals both); the event lives until the last LEvent standing for
    // it is destroyed. Used to hand a thread an event that outlives it.
    void share(const LEvent& other);

    // Signals the event; a signalled event stays so until one wait consumes it.
    void set();
    // Waits until the event is signalled and consumes the signal (auto-reset);
    // without consume the signal stays (the event then serves as a state that
    // every waiter sees). A negative timeout waits without limit, 0 only looks.
    // A failed wait reports error 17000 "WaitForSingleObject() failed".
    WaitResult wait(int timeoutMs, bool consume = true);

    // The pollable descriptor (readable while signalled), made on the first
    // call. -1 when none can be made: error 17000 "cannot create event object"
    // (reported once per event); the event then still works for set() and
    // wait(), but cannot be polled.
    int handle() const;
    // Makes the descriptor now, without a report: false (errno set) when the
    // system refuses one. For callers that report the failure in words of their
    // own (running out of descriptors when a connection opens).
    bool makePollable() const;
    // True when the descriptor is closed with the event (created, not borrowed).
    bool owns() const;

    // The shared, reference-counted event behind this object (opaque).
    struct Core;

private:
    friend struct LEventAccess;
    Core* core_;
};

// Waits until any of the events is signalled (waitAll false: the first
// signalled one in list order is consumed, its index in the list at the time of
// the call stored in *which when given) or until all of them have been (waitAll
// true: each is consumed as it comes; on a time-out the signals already taken
// are given back). A negative timeout waits without limit, 0 only looks.
// Returns true exactly when the wait timed out. A failed wait reports error
// 17000 "WaitForSingleObject() failed" and returns false (as does an empty list
// with no time limit, which could never end).
//
// The list is read under g_libLock; other threads may change it only under that
// lock (as they do with the main loop's g_waitSet) and must remove an event from
// it under the lock before destroying the event. The caller must not hold
// g_libLock while it waits.
bool waitAny(const LPtrArray<LEvent>& events, int timeoutMs, bool waitAll = false,
             int* which = nullptr);

// Waits like waitAny without waitAll, but consumes every event that it finds
// signalled, not only the first: for a waiter whose next round of work answers
// all of them at once (the main loop, whose pass handles every completion since
// the last pass). Returns true exactly when the wait timed out.
bool waitAnyTakeAll(const LPtrArray<LEvent>& events, int timeoutMs);

// Ready bit of waitFd() for the event (the kPoll* bits of base/platform/sync.h
// describe the descriptor).
constexpr int kWaitEvent = 32;

// Waits until descriptor fd has one of the conditions of want (kPollIn,
// kPollOut; errors and hang-ups always count) or until event (may be null) is
// signalled, whose signal is then consumed. Returns the bits that hold: kPoll*
// for fd, kWaitEvent for the event; 0 on a time-out; -1 on failure (errno set,
// nothing reported). fd below 0 waits for the event alone.
int waitFd(int fd, int want, LEvent* event, int timeoutMs);

// Sleeps ms milliseconds.
void sleepMs(int ms);

// ---- threads ----

class LThread : public LObj {
public:
    // Creates stopEvent and doneEvent; not running.
    LThread();
    // When the thread still runs (and this is not the main-thread object):
    // stop(1000); if the thread has still not left run() then, waits for it
    // without a time limit, so the object is never freed under its thread. A
    // subclass whose run() uses the subclass's own members must make sure the
    // thread has ended before its own destructor runs (its members are gone by
    // the time this one runs). Also waits for stop() calls that other threads
    // may be making on this object to return.
    ~LThread() override;

    // The thread body; the base version does nothing. It should return soon
    // after stopRequested is set or stopEvent signalled.
    virtual void run() {}

    // Starts run() on a new thread unless one runs already. With autoDelete the
    // object deletes itself (through its virtual destructor, on its own thread)
    // when run() returns, and doneEvent is not signalled; nobody may touch it
    // after that unless they hold g_libLock and see it still running (below).
    // Failure: error 15000 "Failed to start thread", the object stays not
    // running. Calls initThreads() when it has not been called yet.
    void start(bool autoDelete = false);

    // Sets stopRequested; when the thread runs, signals stopEvent and waits up
    // to timeoutMs (negative: without limit, 0: not at all) for run() to
    // return. A time-out is not reported; the thread is left running. A call
    // from the thread itself does not wait. Safe on an auto-deleting thread that
    // may end meanwhile as long as the object is alive when stop() is entered
    // (e.g. the caller holds g_libLock and found it in a list that its
    // destructor leaves under that lock). Do not call it with a time limit while
    // holding g_libLock: the ending thread needs the lock to unregister.
    void stop(int timeoutMs);

    bool isRunning() const { return threadHandle != -1; }

    // A serial number of the started thread; -1 while no thread runs.
    std::atomic<int32_t> threadHandle{-1};
    // The thread's own handle (pthread_self), set by the thread itself.
    std::atomic<uintptr_t> threadSelf{0};
    // The running thread's id; 0 when not running.
    std::atomic<uint32_t> threadId{0};
    // Set by stop(); run() implementations look at it.
    std::atomic<bool> stopRequested{false};
    bool autoDelete = false;
    // This object stands for the main thread (never started or stopped).
    bool isMain = false;
    // Signalled by stop(); run() implementations wait on it (auto-reset).
    LEvent stopEvent;
    // Signalled when run() has returned (not for auto-deleting threads).
    LEvent doneEvent;
    // g_mainThread only: every thread currently inside its run(), the main
    // thread first. Read and changed only under g_libLock.
    LPtrArray<LThread> threads;

private:
    friend void endThreads();
    static void threadProc(void* arg);
    void stopPinned(int timeoutMs);
    void unpin();
    void waitUnpinned();

    // Signalled, as a state that waits do not consume, from the end of run()
    // until the next start(): what stop() and the destructor wait for.
    LEvent exited_;
    // stop() calls in progress (under g_libLock); the object is not freed while
    // there are any.
    int pins_ = 0;
    LEvent* unpinWaiter_ = nullptr;
    // Which registry the thread entered (0: none).
    uint64_t registryGen_ = 0;
};

// The main-thread object, created by initThreads(), destroyed by endThreads().
extern LThread* g_mainThread;

// Creates g_mainThread for the calling thread (isMain set, its id, itself the
// first entry of threads) unless it exists.
void initThreads();
// Stops every registered thread but the main thread, from the last registered to
// the second, each with stop(1000), then destroys g_mainThread. Threads that do
// not end are left running (they no longer unregister).
void endThreads();
// The registered thread object of the calling thread; internal error 272 (exit
// code 2) when the caller is not registered.
LThread* currentThread();

// Threads, events and waits on the platform layer's threads, eventfd events and
// poll() waits; an event without a descriptor waits on a condition variable.
//
// Lifetime rules that make the thread object safe to free:
// - A finishing thread does its last work on the object under g_libLock
//   (unregister, threadHandle -1), then signals its events through references
//   of its own: after that it never touches the object again, unless it is
//   auto-deleting and deletes it itself.
// - stop() pins the object under g_libLock while it signals and waits; whoever
//   frees the object (its owner or the auto-deleting thread) first waits until
//   no pin is left.
// - The destructor of a still running thread waits until run() has returned.
#include "base/thread.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "base/lock.h"
#include "base/msg.h"

// ---- events ----

namespace {
std::atomic<uint64_t> g_eventSerial{1};
}  // namespace

// The shared state of an event. Until a descriptor is made, the signal is the
// flag `signalled` under m; once there is one, the descriptor's counter is the
// signal and the flag stays false. set() and the descriptor's creation hold m,
// so a signal is never lost between the two, and both wake the waiters of the
// condition variable, which then look again (and go over to the descriptor).
struct LEvent::Core : LObj {
    Core(int fd, bool owns) : fd(fd), owns(owns), serial(g_eventSerial++) {}
    ~Core() override {
        const int f = fd.load(std::memory_order_acquire);
        if (owns && f >= 0 && !platformEventClose(f)) msg(Tx::cannotCloseEvent);
    }

    void set() {
        std::lock_guard<std::mutex> g(m);
        const int f = fd.load(std::memory_order_relaxed);
        if (f >= 0)
            platformEventSet(f);
        else
            signalled = true;
        cv.notify_all();
    }

    // The descriptor, made now when there is none; -1 (errno set) when the
    // system refuses one. reported is set when this call made the first failure.
    int descriptor(bool* firstFailure = nullptr) {
        const int known = fd.load(std::memory_order_acquire);
        if (known >= 0 || !owns) return known;
        std::lock_guard<std::mutex> g(m);
        int f = fd.load(std::memory_order_relaxed);
        if (f >= 0) return f;
        f = platformEventCreate();
        if (f < 0) {
            if (firstFailure) *firstFailure = !failed;
            failed = true;
            return -1;
        }
        if (signalled) platformEventSet(f);
        signalled = false;
        fd.store(f, std::memory_order_release);
        cv.notify_all();
        return f;
    }

    // 1 signalled (consumed with consume), 0 time-out, -1 failure (errno set).
    int wait(int timeoutMs, bool consume) {
        if (timeoutMs != 0) platformCheckNoLibLock("event wait");
        const int64_t end = timeoutMs > 0 ? platformMonotonicMs() + timeoutMs : 0;
        std::unique_lock<std::mutex> l(m);
        for (;;) {
            const int f = fd.load(std::memory_order_relaxed);
            int left = timeoutMs;
            if (timeoutMs > 0) {
                const int64_t rest = end - platformMonotonicMs();
                left = rest > 0 ? static_cast<int>(rest) : 0;
            }
            if (f >= 0) {
                l.unlock();
                return platformEventWait(f, left, consume);
            }
            if (signalled) {
                if (consume) signalled = false;
                return 1;
            }
            if (left == 0) return 0;
            if (left < 0)
                cv.wait(l);
            else
                cv.wait_for(l, std::chrono::milliseconds(left));
        }
    }

    std::mutex m;
    std::condition_variable cv;
    bool signalled = false;    // the signal while there is no descriptor; under m
    bool failed = false;       // a descriptor could not be made; under m
    std::atomic<int> fd;       // -1 until made; never changes after that
    const bool owns;           // made here (closed with the core), not borrowed
    const uint64_t serial;     // no other event ever has it
    std::atomic<int> refs{1};
};

// Reference handling of the shared event cores.
struct LEventAccess {
    static LEvent::Core* retain(const LEvent& e) {
        e.core_->refs.fetch_add(1, std::memory_order_relaxed);
        return e.core_;
    }
    static void release(LEvent::Core* c) {
        if (c && c->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete c;
    }
    static int handle(LEvent::Core* c) {
        bool first = false;
        const int f = c->descriptor(&first);
        if (f < 0 && first) msg(Tx::cannotCreateEvent);
        return f;
    }
};

namespace {
// Holds a reference to an event core for as long as it lives.
class EventRef {
public:
    explicit EventRef(const LEvent& e) : core_(LEventAccess::retain(e)) {}
    ~EventRef() { LEventAccess::release(core_); }
    EventRef(const EventRef&) = delete;
    EventRef& operator=(const EventRef&) = delete;
    void set() const { core_->set(); }

private:
    LEvent::Core* core_;
};
}  // namespace

LEvent::LEvent() : core_(new Core(-1, true)) {}

LEvent::LEvent(int handle) : core_(new Core(handle, false)) {}

LEvent::~LEvent() { LEventAccess::release(core_); }

void LEvent::share(const LEvent& other) {
    if (other.core_ == core_) return;
    Core* const old = core_;
    core_ = LEventAccess::retain(other);
    LEventAccess::release(old);
}

void LEvent::set() { core_->set(); }

WaitResult LEvent::wait(int timeoutMs, bool consume) {
    const int r = core_->wait(timeoutMs, consume);
    if (r < 0) {
        msg(Tx::waitFailed);
        return WaitResult::failed;
    }
    return r ? WaitResult::signalled : WaitResult::timedOut;
}

int LEvent::handle() const { return LEventAccess::handle(core_); }

bool LEvent::makePollable() const { return core_->descriptor() >= 0; }

bool LEvent::owns() const { return core_->owns; }

namespace {
enum class WaitMode { first, all, takeAll };

bool waitEvents(const LPtrArray<LEvent>& events, int timeoutMs, WaitMode mode, int* which) {
    // Kept between calls (the main loop waits here after every step); a wait
    // never runs inside another on the same thread.
    thread_local std::vector<LEvent::Core*> cores;
    thread_local std::vector<int> fds;
    thread_local std::vector<uint64_t> keys;
    cores.clear();
    fds.clear();
    keys.clear();
    {
        LLockGuard guard;
        for (const LEvent* e : events) {
            cores.push_back(LEventAccess::retain(*e));
            fds.push_back(LEventAccess::handle(cores.back()));
            keys.push_back(cores.back()->serial);
        }
    }
    int index = -1;
    const int n = static_cast<int>(fds.size());
    const int r = mode == WaitMode::all
                      ? platformEventWaitMany(fds.data(), n, timeoutMs, true, &index)
                      : platformEventWaitAny(fds.data(), keys.data(), n, timeoutMs, &index, mode == WaitMode::takeAll);
    if (r < 0) msg(Tx::waitFailed);
    for (LEvent::Core* c : cores) LEventAccess::release(c);
    if (which) *which = (r == 1 && mode != WaitMode::all) ? index : -1;
    return r == 0;
}
}  // namespace

bool waitAny(const LPtrArray<LEvent>& events, int timeoutMs, bool waitAll, int* which) {
    return waitEvents(events, timeoutMs, waitAll ? WaitMode::all : WaitMode::first, which);
}

bool waitAnyTakeAll(const LPtrArray<LEvent>& events, int timeoutMs) {
    return waitEvents(events, timeoutMs, WaitMode::takeAll, nullptr);
}

int waitFd(int fd, int want, LEvent* event, int timeoutMs) {
    const int64_t start = timeoutMs > 0 ? platformMonotonicMs() : 0;
    for (;;) {
        int left = timeoutMs;
        if (timeoutMs > 0) {
            const int64_t used = platformMonotonicMs() - start;
            left = used >= timeoutMs ? 0 : static_cast<int>(timeoutMs - used);
        }
        PlatformPollFd p[2] = {{fd, want, 0}, {event ? event->handle() : -1, kPollIn, 0}};
        if (p[0].fd < 0 && p[1].fd < 0) {
            errno = EINVAL;
            return -1;
        }
        const int r = platformPoll(p, 2, left);
        if (r < 0) return -1;
        if (r == 0) return 0;
        int bits = p[0].got & (want | kPollError | kPollHangup | kPollInvalid);
        if ((p[1].got & kPollIn) && platformEventTryConsume(p[1].fd)) bits |= kWaitEvent;
        if (bits) return bits;
        // The event's signal went to another waiter: wait on with the time left.
        if (left == 0) return 0;
    }
}

void sleepMs(int ms) { platformSleep(ms); }

// ---- threads ----

LThread* g_mainThread = nullptr;

namespace {
// Counts the registries (initThreads calls), so that a thread that registered in
// one that endThreads has destroyed since does not look for itself in a new one.
uint64_t g_registryGen = 0;  // under g_libLock
int32_t g_threadSerial = 0;  // under g_libLock
}  // namespace

LThread::LThread() = default;

LThread::~LThread() {
    if (!isMain && threadHandle != -1) {
        stop(1000);
        // Still inside run(): wait without limit rather than free it under the thread.
        if (threadHandle != -1) exited_.wait(-1, false);
    }
    waitUnpinned();
}

void LThread::start(bool autoDel) {
    LLockGuard guard;
    if (isMain || threadHandle != -1) return;
    if (!g_mainThread) initThreads();
    autoDelete = autoDel;
    exited_.wait(0);  // a new run: not exited
    if (++g_threadSerial < 0) g_threadSerial = 1;
    threadHandle = g_threadSerial;
    if (!platformStartThread(threadProc, this)) {
        threadHandle = -1;
        msg(Tx::threadStartFailed);
    }
    // The new thread registers itself once this lock is released; an
    // auto-deleting one may be gone right after, so nothing here touches it.
}

void LThread::threadProc(void* arg) {
    LThread* const t = static_cast<LThread*>(arg);
    t->threadSelf = platformThreadSelf();
    t->threadId = platformThreadId();
    {
        LLockGuard guard;
        if (g_mainThread) {
            g_mainThread->threads.add(t);
            t->registryGen_ = g_registryGen;
        } else {
            t->registryGen_ = 0;
        }
    }
    t->run();

    // References of our own: the owner may free the object as soon as it sees
    // threadHandle -1.
    const EventRef exited(t->exited_);
    const EventRef done(t->doneEvent);
    bool selfDelete;
    {
        LLockGuard guard;
        if (t->registryGen_ != 0 && g_mainThread && t->registryGen_ == g_registryGen &&
            !g_mainThread->threads.remove(t)) {
            internalErrorCode(250);
        }
        t->threadHandle = -1;
        t->threadId = 0;
        selfDelete = t->autoDelete;
    }
    if (!selfDelete) done.set();
    exited.set();
    if (selfDelete) {
        t->waitUnpinned();
        delete t;
    }
}

void LThread::stop(int timeoutMs) {
    {
        LLockGuard guard;
        stopRequested = true;
        if (threadHandle == -1) return;
        ++pins_;
    }
    stopPinned(timeoutMs);
    unpin();
}

void LThread::stopPinned(int timeoutMs) {
    stopRequested = true;
    stopEvent.set();
    if (threadId == platformThreadId()) return;  // the thread stopping itself
    exited_.wait(timeoutMs, false);
}

void LThread::unpin() {
    LLockGuard guard;
    if (--pins_ == 0 && unpinWaiter_) {
        LEvent* const waiter = unpinWaiter_;
        unpinWaiter_ = nullptr;
        waiter->set();  // the object may be freed from here on
    }
}

void LThread::waitUnpinned() {
    std::optional<LEvent> waiter;
    {
        LLockGuard guard;
        if (pins_ == 0) return;
        waiter.emplace();
        unpinWaiter_ = &*waiter;
    }
    waiter->wait(-1);
}

void initThreads() {
    LLockGuard guard;
    if (g_mainThread) return;
    // The main-thread object lives from here to endThreads().
    auto* main = new LThread;
    main->isMain = true;
    main->threadId = platformThreadId();
    main->threadSelf = platformThreadSelf();
    main->threads.add(main);
    g_mainThread = main;
    ++g_registryGen;
}

void endThreads() {
    std::vector<LThread*> pinned;
    {
        LLockGuard guard;
        if (!g_mainThread) return;
        const LPtrArray<LThread>& threads = g_mainThread->threads;
        for (int i = threads.count() - 1; i >= 1; --i) {
            LThread* const t = threads[i];
            ++t->pins_;
            pinned.push_back(t);
        }
    }
    for (LThread* t : pinned) {
        t->stopPinned(1000);
        t->unpin();
    }
    LThread* main;
    {
        LLockGuard guard;
        main = g_mainThread;
        g_mainThread = nullptr;
    }
    delete main;
}

LThread* currentThread() {
    LLockGuard guard;
    const uint32_t id = platformThreadId();
    if (g_mainThread) {
        for (LThread* t : g_mainThread->threads) {
            if (t->threadId == id) return t;
        }
    }
    internalErrorCode(272);
}

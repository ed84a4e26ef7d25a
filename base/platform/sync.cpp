// POSIX implementation of the synchronisation primitives of the platform layer:
// the re-entrant lock behind g_libLock (on a futex), detached POSIX threads, eventfd events and
// poll() waits. Every wait restarts after a signal with the time that remains,
// measured on the monotonic clock.
#include "base/platform/sync.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <linux/futex.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <memory>
#include <unordered_map>
#include <vector>

namespace {
// g_libLock: a futex word (0 free, 1 held, 2 held and someone may sleep on it)
// with an owner and a depth for re-entry. Taking it free costs one atomic
// exchange; a waiter spins a little before it sleeps, since the lock is held for
// microseconds at a time, less than a sleep and a wake-up cost (a wake-up on
// another processor of a virtual machine costs several microseconds). Only the owner
// ever finds itself in g_libOwner, so a relaxed read is enough to see re-entry.
// The word's acquire and release order everything done under the lock.
std::atomic<int> g_libWord{0};
std::atomic<uintptr_t> g_libOwner{0};
int g_libDepth = 0;  // changed only by the owner

// How long a waiter spins: about a microsecond when the holder may be running
// on another processor, not at all when the process has only one (the holder
// cannot run while the waiter spins). Decided at the first wait.
int libSpins() {
    static const int spins = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        if (sched_getaffinity(0, sizeof set, &set) != 0) return 100;
        return CPU_COUNT(&set) > 1 ? 100 : 0;
    }();
    return spins;
}

// Tells the threads apart: the address of a thread-local byte.
uintptr_t selfId() {
    static thread_local char marker;
    return reinterpret_cast<uintptr_t>(&marker);
}

void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

int* libWordAddress() { return reinterpret_cast<int*>(&g_libWord); }

void libLockSlow() {
    const int spins = libSpins();
    for (int i = 0; i < spins; ++i) {
        cpuRelax();
        int expected = 0;
        if (g_libWord.load(std::memory_order_relaxed) == 0 &&
            g_libWord.compare_exchange_weak(expected, 1, std::memory_order_acquire, std::memory_order_relaxed))
            return;
    }
    // Sleep; whoever takes the word after a sleep marks it 2, so that the
    // release wakes the next sleeper.
    while (g_libWord.exchange(2, std::memory_order_acquire) != 0)
        ::syscall(SYS_futex, libWordAddress(), FUTEX_WAIT_PRIVATE, 2, nullptr, nullptr, 0);
}

// A time limit: remaining() gives the milliseconds left for poll(), -1 for none.
class Deadline {
public:
    explicit Deadline(int timeoutMs)
        : forever_(timeoutMs < 0), end_(timeoutMs < 0 ? 0 : platformMonotonicMs() + timeoutMs) {}
    int remaining() const {
        if (forever_) return -1;
        const int64_t left = end_ - platformMonotonicMs();
        return left <= 0 ? 0 : static_cast<int>(left);
    }

private:
    bool forever_;
    int64_t end_;
};

int pollBits(short revents) {
    int bits = 0;
    if (revents & POLLIN) bits |= kPollIn;
    if (revents & POLLOUT) bits |= kPollOut;
    if (revents & POLLERR) bits |= kPollError;
    if (revents & POLLHUP) bits |= kPollHangup;
    if (revents & POLLNVAL) bits |= kPollInvalid;
    return bits;
}

// poll() restarted after EINTR until the deadline.
int pollUntil(pollfd* fds, nfds_t n, const Deadline& deadline) {
    for (;;) {
        const int r = ::poll(fds, n, deadline.remaining());
        if (r >= 0 || errno != EINTR) return r;
    }
}

struct ThreadStart {
    void (*fn)(void*);
    void* arg;
};

void* threadEntry(void* p) {
    const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(p));
    start->fn(start->arg);
    return nullptr;
}
}  // namespace

void platformLibLock() {
    const uintptr_t self = selfId();
    if (g_libOwner.load(std::memory_order_relaxed) == self) {
        ++g_libDepth;
        return;
    }
    int expected = 0;
    if (!g_libWord.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed))
        libLockSlow();
    g_libOwner.store(self, std::memory_order_relaxed);
    g_libDepth = 1;
}

void platformLibUnlock() {
    if (--g_libDepth > 0) return;
    g_libOwner.store(0, std::memory_order_relaxed);
    if (g_libWord.exchange(0, std::memory_order_release) == 2)
        ::syscall(SYS_futex, libWordAddress(), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

int platformLibReleaseAll() {
    if (g_libOwner.load(std::memory_order_relaxed) != selfId()) return 0;
    const int depth = g_libDepth;
    g_libDepth = 1;
    platformLibUnlock();
    return depth;
}

void platformLibRestore(int depth) {
    if (depth <= 0) return;
    platformLibLock();
    g_libDepth = depth;
}

bool platformLibHeld() { return g_libOwner.load(std::memory_order_relaxed) == selfId(); }

void platformCheckNoLibLock(const char* what) {
#ifdef VESPERLINE_CHECK_LOCKS
    if (!platformLibHeld()) return;
    static const char head[] = "Internal Error: waiting while holding g_libLock: ";
    [[maybe_unused]] ssize_t r = ::write(STDERR_FILENO, head, sizeof head - 1);
    r = ::write(STDERR_FILENO, what, std::strlen(what));
    r = ::write(STDERR_FILENO, "\n", 1);
    std::abort();
#else
    (void)what;
#endif
}

bool platformLibTryLock() {
    const uintptr_t self = selfId();
    if (g_libOwner.load(std::memory_order_relaxed) == self) {
        ++g_libDepth;
        return true;
    }
    int expected = 0;
    if (!g_libWord.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed))
        return false;
    g_libOwner.store(self, std::memory_order_relaxed);
    g_libDepth = 1;
    return true;
}

// ---- threads ----

bool platformStartThread(void (*fn)(void*), void* arg) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    auto start = std::make_unique<ThreadStart>(ThreadStart{fn, arg});
    pthread_t id;
    const int rc = pthread_create(&id, &attr, threadEntry, start.get());
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        return false;
    }
    start.release();  // the new thread owns it now
    return true;
}

uint32_t platformThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

uintptr_t platformThreadSelf() { return static_cast<uintptr_t>(pthread_self()); }

void platformYield() { sched_yield(); }

void platformSleep(int ms) {
    platformCheckNoLibLock("sleep");
    if (ms <= 0) {
        sched_yield();
        return;
    }
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int64_t platformMonotonicMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// ---- events ----

int platformEventCreate() { return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

bool platformEventClose(int ev) { return ::close(ev) == 0; }

bool platformEventSet(int ev) {
    const uint64_t one = 1;
    for (;;) {
        if (::write(ev, &one, sizeof one) == static_cast<ssize_t>(sizeof one)) return true;
        // EAGAIN means the counter is at its maximum: the event is signalled.
        if (errno == EAGAIN) return true;
        if (errno != EINTR) return false;
    }
}

bool platformEventTryConsume(int ev) {
    uint64_t value;
    for (;;) {
        if (::read(ev, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) return true;
        if (errno != EINTR) return false;
    }
}

int platformEventWait(int ev, int timeoutMs, bool consume) {
    if (timeoutMs != 0) platformCheckNoLibLock("event wait");
    if (ev < 0) {
        errno = EBADF;
        return -1;
    }
    const Deadline deadline(timeoutMs);
    for (;;) {
        pollfd p{ev, POLLIN, 0};
        const int r = pollUntil(&p, 1, deadline);
        if (r < 0) return -1;
        if (r == 0) return 0;
        if (p.revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        if (!consume) return 1;
        if (platformEventTryConsume(ev)) return 1;
        if (errno != EAGAIN) return -1;
        // Another waiter took the signal first: wait on with the time left.
        if (deadline.remaining() == 0) return 0;
    }
}

int platformEventWaitMany(const int* evs, int n, int timeoutMs, bool waitAll, int* which) {
    if (timeoutMs != 0) platformCheckNoLibLock("wait for events");
    int valid = 0;
    for (int i = 0; i < n; ++i) valid += evs[i] >= 0;
    if (waitAll && valid < n && timeoutMs < 0) {
        errno = EINVAL;  // an invalid event can never be signalled
        return -1;
    }
    if (valid == 0) {
        if (timeoutMs < 0) {
            errno = EINVAL;
            return -1;
        }
        platformSleep(timeoutMs);
        return 0;
    }
    const Deadline deadline(timeoutMs);
    if (!waitAll) {
        // One pollfd per event, in list order (poll skips those below 0); the
        // buffer is kept between calls, since the main loop waits here after
        // every step.
        thread_local std::vector<pollfd> anyFds;
        anyFds.resize(static_cast<size_t>(n));
        for (;;) {
            for (int i = 0; i < n; ++i) anyFds[i] = pollfd{evs[i], POLLIN, 0};
            const int r = pollUntil(anyFds.data(), anyFds.size(), deadline);
            if (r < 0) return -1;
            if (r == 0) return 0;
            for (int i = 0; i < n; ++i) {
                if (anyFds[i].revents & POLLNVAL) {
                    errno = EBADF;
                    return -1;
                }
                if ((anyFds[i].revents & POLLIN) && platformEventTryConsume(evs[i])) {
                    if (which) *which = i;
                    return 1;
                }
            }
            // Every signal seen was taken by another waiter: wait on.
            if (deadline.remaining() == 0) return 0;
        }
    }
    std::vector<pollfd> fds;
    std::vector<int> index;  // index into evs of each pollfd
    // All: take each signal as it comes; a descriptor listed twice counts once.
    std::vector<char> taken(n, 0);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < i; ++j) {
            if (evs[j] == evs[i]) {
                taken[i] = 2;  // a duplicate: follows its first occurrence
                break;
            }
        }
    }
    auto giveBack = [&] {
        const int saved = errno;
        for (int i = 0; i < n; ++i) {
            if (taken[i] == 1) platformEventSet(evs[i]);
        }
        errno = saved;
    };
    for (;;) {
        fds.clear();
        index.clear();
        for (int i = 0; i < n; ++i) {
            if (taken[i]) continue;
            fds.push_back(pollfd{evs[i], POLLIN, 0});
            index.push_back(i);
        }
        if (fds.empty()) return 1;
        const int r = pollUntil(fds.data(), fds.size(), deadline);
        if (r <= 0) {
            giveBack();
            return r;
        }
        for (size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].revents & POLLNVAL) {
                giveBack();
                errno = EBADF;
                return -1;
            }
            if ((fds[k].revents & POLLIN) && platformEventTryConsume(fds[k].fd)) taken[index[k]] = 1;
        }
        bool all = true;
        for (int i = 0; i < n; ++i) all = all && taken[i];
        if (all) return 1;
        if (deadline.remaining() == 0) {
            giveBack();
            return 0;
        }
    }
}

namespace {

// The calling thread's kernel wait set for platformEventWaitAny: the list of
// its last call and, for each descriptor, the first index it had there.
struct AnyWaitSet {
    int epfd = -1;
    std::vector<int> fds;
    std::vector<uint64_t> keys;
    std::unordered_map<int, int> indexOf;
    std::vector<epoll_event> ready;
    std::vector<int> order;
    AnyWaitSet() = default;
    AnyWaitSet(const AnyWaitSet&) = delete;
    AnyWaitSet& operator=(const AnyWaitSet&) = delete;
    ~AnyWaitSet() { reset(); }
    void reset() {
        if (epfd >= 0) ::close(epfd);
        epfd = -1;
        fds.clear();
        keys.clear();
        indexOf.clear();
    }
};

// Brings the wait set in line with the list; false (errno set, set emptied)
// when the kernel refuses a descriptor or a set.
bool syncWaitSet(AnyWaitSet& w, const int* evs, const uint64_t* keys, int n) {
    if (w.epfd >= 0 && static_cast<int>(w.fds.size()) == n && std::equal(evs, evs + n, w.fds.begin()) &&
        std::equal(keys, keys + n, w.keys.begin()))
        return true;
    if (w.epfd < 0) {
        w.epfd = ::epoll_create1(EPOLL_CLOEXEC);
        if (w.epfd < 0) return false;
    }
    // What each descriptor stands for, now and before (first occurrence wins).
    std::unordered_map<int, uint64_t> want;
    for (int i = 0; i < n; ++i)
        if (evs[i] >= 0) want.emplace(evs[i], keys[i]);
    std::unordered_map<int, uint64_t> have;
    for (size_t i = 0; i < w.fds.size(); ++i)
        if (w.fds[i] >= 0) have.emplace(w.fds[i], w.keys[i]);
    // An event that has gone took its registration with it when its descriptor
    // was closed; the removal then fails, which is fine.
    for (const auto& [fd, key] : have) {
        const auto it = want.find(fd);
        if (it == want.end() || it->second != key) ::epoll_ctl(w.epfd, EPOLL_CTL_DEL, fd, nullptr);
    }
    for (const auto& [fd, key] : want) {
        const auto it = have.find(fd);
        if (it != have.end() && it->second == key) continue;
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.fd = fd;
        if (::epoll_ctl(w.epfd, EPOLL_CTL_ADD, fd, &e) == 0) continue;
        if (errno == EEXIST && ::epoll_ctl(w.epfd, EPOLL_CTL_MOD, fd, &e) == 0) continue;
        const int err = errno;
        w.reset();
        errno = err;
        return false;
    }
    w.fds.assign(evs, evs + n);
    w.keys.assign(keys, keys + n);
    w.indexOf.clear();
    for (int i = 0; i < n; ++i)
        if (evs[i] >= 0) w.indexOf.emplace(evs[i], i);
    return true;
}

}  // namespace

int platformEventWaitAny(const int* evs, const uint64_t* keys, int n, int timeoutMs, int* which, bool takeAll) {
    if (timeoutMs != 0) platformCheckNoLibLock("wait for events");
    int valid = 0;
    for (int i = 0; i < n; ++i) valid += evs[i] >= 0;
    if (valid == 0) return platformEventWaitMany(evs, n, timeoutMs, false, which);
    thread_local AnyWaitSet w;
    if (!syncWaitSet(w, evs, keys, n)) {
        // No kernel wait set (out of resources): the plain wait still works.
        if (errno == EBADF) return -1;
        return platformEventWaitMany(evs, n, timeoutMs, false, which);
    }
    const Deadline deadline(timeoutMs);
    w.ready.resize(static_cast<size_t>(valid));
    std::vector<int>& order = w.order;
    for (;;) {
        const int r = ::epoll_wait(w.epfd, w.ready.data(), valid, deadline.remaining());
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) return 0;
        // The first signalled event in list order is the one consumed.
        order.clear();
        for (int k = 0; k < r; ++k) {
            const auto it = w.indexOf.find(w.ready[k].data.fd);
            if (it != w.indexOf.end()) order.push_back(it->second);
        }
        std::sort(order.begin(), order.end());
        int first = -1;
        for (const int i : order) {
            if (!platformEventTryConsume(evs[i])) continue;
            if (first < 0) first = i;
            if (!takeAll) break;
        }
        if (first >= 0) {
            if (which) *which = first;
            return 1;
        }
        // Every signal seen was taken by another waiter: wait on.
        if (deadline.remaining() == 0) return 0;
    }
}

// ---- descriptor waits ----

int platformPoll(PlatformPollFd* fds, int n, int timeoutMs) {
    if (timeoutMs != 0) platformCheckNoLibLock("poll");
    // A connection thread polls two descriptors after every piece: those fit
    // on the stack.
    pollfd few[4];
    std::vector<pollfd> many;
    if (n < 0) n = 0;
    pollfd* p = few;
    if (n > 4) {
        many.resize(static_cast<size_t>(n));
        p = many.data();
    }
    for (int i = 0; i < n; ++i) {
        short events = 0;
        if (fds[i].want & kPollIn) events |= POLLIN;
        if (fds[i].want & kPollOut) events |= POLLOUT;
        p[i] = pollfd{fds[i].fd, events, 0};
    }
    const Deadline deadline(timeoutMs);
    const int r = pollUntil(p, static_cast<nfds_t>(n), deadline);
    for (int i = 0; i < n; ++i) fds[i].got = r > 0 ? pollBits(p[i].revents) : 0;
    return r;
}

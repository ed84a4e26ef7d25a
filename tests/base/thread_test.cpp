// Threads, events and waits: stop with and without cooperation, self-deleting
// threads, the registry, auto-reset events and waits over many events.
// Time bounds are generous: the suite runs on a loaded two-core machine and
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "base/lock.h"
#include "base/platform/sync.h"
#include "base/thread.h"
#include "tests/support/process_runner.h"

namespace {

using vltest::waitUntil;
const auto nowMs = vltest::monoMs;

// Milliseconds that statement took.
#define ELAPSED_MS(...) [&] { const int64_t t0_ = nowMs(); __VA_ARGS__; return nowMs() - t0_; }()

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override { initThreads(); }
    void TearDown() override { endThreads(); }
};

// Signals started, then ends at once (brief) or when it is asked to, calling
// onStop under g_libLock on its way out; counts its destruction in *deleted.
class Worker : public LThread {
public:
    explicit Worker(bool brief = false, std::atomic<int>* deleted = nullptr) : brief_(brief), deleted_(deleted) {}
    ~Worker() override {
        if (deleted_) ++*deleted_;
    }
    void run() override {
        started.set();
        while (!brief_ && !stopRequested) stopEvent.wait(-1);
        LLockGuard guard;
        if (onStop) onStop();
    }
    LEvent started;
    std::function<void()> onStop;

private:
    bool brief_;
    std::atomic<int>* deleted_;
};

// Ignores its stop event until the test releases it, then touches its base
// object once more (which must still be there). After release it uses nothing
// of its own class: a destructor that waits for it has destroyed that part.
std::atomic<bool> g_release{false};
std::atomic<int> g_finished{0};

class Stubborn : public LThread {
public:
    Stubborn() { g_release = false, g_finished = 0; }
    void run() override {
        LThread* const self = this;
        started.set();
        while (!g_release) sleepMs(5);
        sleepMs(50);
        self->stopEvent.set();  // freed memory would show here
        g_finished = 1;
    }
    LEvent started;
};

int registeredCount() {
    LLockGuard guard;
    return g_mainThread ? g_mainThread->threads.count() : 0;
}

// Runs fn on a new thread after ms milliseconds (join the returned thread).
std::thread later(int ms, std::function<void()> fn) {
    return std::thread([ms, fn = std::move(fn)] {
        sleepMs(ms);
        fn();
    });
}

// n fresh events and the list over them.
struct Events {
    explicit Events(int n) {
        for (int i = 0; i < n; ++i) list.add(owned.emplace_back(std::make_unique<LEvent>()).get());
    }
    std::vector<std::unique_ptr<LEvent>> owned;
    LPtrArray<LEvent> list;
};

int openDescriptors() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) n += entry.is_symlink() ? 1 : 0;
    return n;
}

}  // namespace

TEST_F(ThreadTest, StopEndsACooperatingThreadAndDoneIsSignalledOnce) {
    Worker never;  // a thread never started stops at once
    EXPECT_LT(ELAPSED_MS(never.stop(5000)), 1000);
    for (int i = 0; i < 30; ++i) {  // also right after start, before run() began
        Worker t;
        t.start();
        if (i == 0) {
            ASSERT_EQ(t.started.wait(10000), WaitResult::signalled);
        }
        EXPECT_LT(ELAPSED_MS(t.stop(-1)), 5000);
        EXPECT_FALSE(t.isRunning());
        EXPECT_EQ(t.doneEvent.wait(0), WaitResult::signalled);  // stop() did not consume it
        EXPECT_EQ(t.doneEvent.wait(0), WaitResult::timedOut);
    }
}

TEST_F(ThreadTest, StopTimesOutOnAThreadThatIgnoresItAndTheObjectOutlivesIt) {
    auto* t = new Stubborn;
    t->start();
    ASSERT_EQ(t->started.wait(10000), WaitResult::signalled);
    const int64_t took = ELAPSED_MS(t->stop(1000));
    EXPECT_GE(took, 900);
    EXPECT_LT(took, 5000);
    EXPECT_TRUE(t->isRunning());
    std::thread releaser = later(1500, [] { g_release = true; });
    EXPECT_GE(ELAPSED_MS(delete t), 1400);  // its own stop(1000) times out too, then it waits
    EXPECT_EQ(g_finished, 1);
    releaser.join();
}

TEST_F(ThreadTest, AutoDeletingThreadDeletesItselfWithoutSignallingDone) {
    std::atomic<int> deleted{0};
    LEvent done;  // outlives the thread object, which shares it as its done event
    auto* t = new Worker(true, &deleted);
    t->doneEvent.share(done);
    t->start(true);
    ASSERT_TRUE(waitUntil([&] { return deleted == 1 && registeredCount() == 1; }));
    EXPECT_EQ(done.wait(200), WaitResult::timedOut);
}

TEST_F(ThreadTest, EndThreadsStopsEveryThreadInReverseOrder) {
    std::vector<int> order;
    std::vector<std::unique_ptr<Worker>> threads;
    for (int i = 1; i <= 3; ++i) {
        threads.push_back(std::make_unique<Worker>());
        threads.back()->onStop = [&order, i] { order.push_back(i); };
        threads.back()->start();
        ASSERT_EQ(threads.back()->started.wait(10000), WaitResult::signalled);
    }
    std::atomic<int> deleted{0};
    for (int i = 0; i < 20; ++i) (new Worker(false, &deleted))->start(true);
    ASSERT_TRUE(waitUntil([] { return registeredCount() == 24; }));
    EXPECT_LT(ELAPSED_MS(endThreads()), 10000);  // none of them costs its full second
    EXPECT_EQ(g_mainThread, nullptr);
    EXPECT_TRUE(waitUntil([&] { return deleted == 20; }));
    LLockGuard guard;
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1}));
}

// The socket layer's pattern: another thread stops an auto-deleting thread with
// no wait, holding g_libLock, while the thread may be ending on its own.
TEST_F(ThreadTest, StopWithoutWaitOnAutoDeletingThreadsEndingByThemselves) {
    std::atomic<int> deleted{0};
    class Quick : public LThread {
    public:
        Quick(std::atomic<int>& d, LPtrArray<LThread>& list) : d_(d), list_(list) {}
        ~Quick() override {
            LLockGuard guard;
            list_.remove(this);
            ++d_;
        }
        void run() override { sleepMs(static_cast<int>(reinterpret_cast<intptr_t>(this) >> 4) % 3); }
        std::atomic<int>& d_;
        LPtrArray<LThread>& list_;
    };
    LPtrArray<LThread> live;
    for (int i = 0; i < 40; ++i) {
        auto* t = new Quick(deleted, live);
        LLockGuard guard;
        live.add(t);
        t->start(true);
    }
    for (int round = 0; round < 3; ++round) {
        LLockGuard guard;
        for (LThread* t : live) t->stop(0);
    }
    EXPECT_TRUE(waitUntil([&] { return deleted == 40; }));
}

TEST_F(ThreadTest, CurrentThreadFindsTheCallersObject) {
    EXPECT_EQ(currentThread(), g_mainThread);
    Worker t;
    LThread* found = nullptr;
    t.onStop = [&] { found = currentThread(); };
    t.start();
    t.stop(-1);
    EXPECT_EQ(found, &t);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::thread([] { currentThread(); }).join(), ::testing::ExitedWithCode(2), "");
}

// ---- events and waits ----

TEST(EventTest, AutoResetAndSharedOrBorrowedEvents) {
    LEvent e;
    e.set();
    e.set();  // sets before a wait count once
    EXPECT_EQ(e.wait(0), WaitResult::signalled);
    EXPECT_EQ(e.wait(0), WaitResult::timedOut);
    { LEvent(e.handle()).set(); }  // a borrowed event signals the same one and leaves it open
    EXPECT_EQ(e.wait(0), WaitResult::signalled);
    auto shared = std::make_unique<LEvent>();
    {
        LEvent original;
        shared->share(original);
        original.set();
    }  // the event lives on in shared
    EXPECT_EQ(shared->wait(0), WaitResult::signalled);
    const int64_t took = ELAPSED_MS(EXPECT_EQ(e.wait(300), WaitResult::timedOut));
    EXPECT_GE(took, 280);
    EXPECT_LT(took, 5000);
}

TEST(EventTest, OneSetWakesOneWait) {
    LEvent e;
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (e.wait(20000) == WaitResult::signalled) ++woken;
    };
    std::thread a(waiter), b(waiter);
    sleepMs(100);
    e.set();
    waitUntil([&] { return woken > 0; });
    sleepMs(200);
    EXPECT_EQ(woken, 1);
    e.set();
    a.join();
    b.join();
    EXPECT_EQ(woken, 2);
}

TEST(WaitAnyTest, WakesOnAnyOneOfTwoHundredEvents) {
    Events ev(200);
    for (int target : {0, 137, 199}) {
        std::thread setter = later(50, [&] { ev.owned[target]->set(); });
        int which = -1;
        EXPECT_FALSE(waitAny(ev.list, 20000, false, &which));
        EXPECT_EQ(which, target);
        setter.join();
        EXPECT_TRUE(waitAny(ev.list, 0));  // only that one was signalled, and it was consumed
    }
}

TEST(WaitAnyTest, FirstInListOrderWaitAllAndEmptyLists) {
    Events ev(3);
    EXPECT_LT(ELAPSED_MS(EXPECT_TRUE(waitAny(ev.list, 0)); EXPECT_TRUE(waitAny(ev.list, 0, true))), 1000);
    LPtrArray<LEvent> none;
    EXPECT_TRUE(waitAny(none, 10));
    EXPECT_FALSE(waitAny(none, -1));  // fails instead of hanging
    ev.owned[2]->set();
    ev.owned[1]->set();
    int which = -1;
    EXPECT_FALSE(waitAny(ev.list, 0, false, &which));
    EXPECT_EQ(which, 1);
    EXPECT_FALSE(waitAny(ev.list, 0, false, &which));
    EXPECT_EQ(which, 2);
    EXPECT_TRUE(waitAny(ev.list, 0));

    Events two(2);
    two.owned[0]->set();
    EXPECT_TRUE(waitAny(two.list, 100, true));
    EXPECT_EQ(two.owned[0]->wait(0), WaitResult::signalled);  // given back after the time-out
    two.owned[0]->set();
    std::thread setter = later(50, [&] { two.owned[1]->set(); });
    EXPECT_FALSE(waitAny(two.list, 20000, true));
    setter.join();
    EXPECT_TRUE(waitAny(two.list, 0));  // both consumed
}

TEST(WaitAnyTest, TakeAllConsumesEverySignalledEvent) {
    Events ev(3);
    ev.owned[0]->set();
    ev.owned[2]->set();
    EXPECT_FALSE(waitAnyTakeAll(ev.list, 0));
    EXPECT_TRUE(waitAny(ev.list, 0));  // both signals were taken by the one wait
    std::thread setter = later(50, [&] { ev.owned[1]->set(); });
    EXPECT_FALSE(waitAnyTakeAll(ev.list, 20000));
    setter.join();
    EXPECT_TRUE(waitAnyTakeAll(ev.list, 0));
}

// The main loop's pattern: other threads add, remove and destroy events of the
// shared list under g_libLock while the main thread waits on snapshots of it.
TEST(WaitAnyTest, ListChangingUnderTheLockWhileWaiting) {
    LPtrArray<LEvent> waitSet;
    LEvent mainEvent;
    waitSet.add(&mainEvent);
    std::atomic<bool> done{false};
    std::thread churn([&] {
        for (int i = 0; i < 300; ++i) {
            auto e = std::make_unique<LEvent>();
            {
                LLockGuard guard;
                waitSet.add(e.get());
            }
            e->set();
            if (i % 3 == 0) sleepMs(1);
            LLockGuard guard;
            waitSet.remove(e.get());
        }  // e is destroyed here, possibly while the main thread still waits on it
        done = true;
        mainEvent.set();
    });
    int wakes = 0;
    while (!done) wakes += !waitAny(waitSet, 2000);
    churn.join();
    EXPECT_GT(wakes, 0);
}

// A thread keeps the events of its last wait registered with the kernel; an
// event that takes over the descriptor number of a destroyed one must be waited
// on all the same.
TEST(WaitAnyTest, NewEventOnAReusedDescriptorIsSeen) {
    LEvent first;
    auto gone = std::make_unique<LEvent>();
    LPtrArray<LEvent> list;
    list.add(&first);
    list.add(gone.get());
    EXPECT_TRUE(waitAny(list, 0));
    const int number = gone->handle();
    list.remove(gone.get());
    gone.reset();
    LEvent reused;
    EXPECT_EQ(reused.handle(), number);  // the lowest free descriptor
    list.add(&reused);
    reused.set();
    int which = -1;
    EXPECT_FALSE(waitAny(list, 1000, false, &which));
    EXPECT_EQ(which, 1);
}

TEST(WaitFdTest, ReportsTheDescriptorOrTheEvent) {
    LEvent stop, data;  // data's descriptor stands in for a socket
    EXPECT_EQ(waitFd(data.handle(), kPollIn, &stop, 0), 0);
    data.set();
    EXPECT_EQ(waitFd(data.handle(), kPollIn, &stop, 1000), kPollIn);
    EXPECT_EQ(waitFd(data.handle(), kPollIn, &stop, 0), kPollIn);  // the descriptor is not consumed
    EXPECT_EQ(data.wait(0), WaitResult::signalled);
    std::thread setter = later(50, [&] { stop.set(); });
    EXPECT_EQ(waitFd(data.handle(), kPollIn, &stop, 20000), kWaitEvent);
    setter.join();
    EXPECT_EQ(stop.wait(0), WaitResult::timedOut);  // consumed by waitFd
    EXPECT_EQ(waitFd(-1, kPollIn, nullptr, 0), -1);
}

// ---- descriptors and the lock ----

// A descriptor is made only for an event that is polled; a signal given before
// that, or while a thread waits without one, is not lost when it is made.
TEST(EventTest, ADescriptorIsMadeOnlyWhenPolledAndKeepsTheSignal) {
    const int before = openDescriptors();
    {
        std::vector<std::unique_ptr<Worker>> workers;
        for (int i = 0; i < 50; ++i) {
            workers.push_back(std::make_unique<Worker>());
            workers.back()->start();
        }
        for (auto& w : workers) ASSERT_EQ(w->started.wait(10000), WaitResult::signalled);
        EXPECT_EQ(openDescriptors(), before);  // 50 threads with 5 events each, none polled
        for (auto& w : workers) w->stop(-1);
    }
    LEvent early;
    early.set();
    EXPECT_EQ(waitFd(-1, 0, &early, 0), kWaitEvent);  // made by the poll, signalled from before
    EXPECT_EQ(openDescriptors(), before + 1);

    LEvent late;
    std::atomic<bool> woken{false};
    std::thread waiter([&] { woken = late.wait(20000) == WaitResult::signalled; });
    sleepMs(50);  // the waiter sleeps on the condition variable
    EXPECT_GE(late.handle(), 0);
    late.set();
    waiter.join();
    EXPECT_TRUE(woken);
    EXPECT_EQ(waitFd(-1, 0, &late, 0), 0);  // consumed by the waiter
}

#ifdef VESPERLINE_CHECK_LOCKS
TEST(LockCheckTest, AWaitOrSleepWhileHoldingTheLockAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    LEvent e;
    EXPECT_DEATH(
        {
            LLockGuard guard;
            sleepMs(1);
        },
        "waiting while holding g_libLock: sleep");
    EXPECT_DEATH(
        {
            LLockGuard guard;
            e.wait(10);
        },
        "waiting while holding g_libLock: event wait");
    LLockGuard guard;
    EXPECT_EQ(e.wait(0), WaitResult::timedOut);  // only looking is allowed
}
#endif

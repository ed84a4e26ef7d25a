// Threads, events and waits: stop with and without cooperation, self-deleting
// threads, the registry, auto-reset events and waits over many events.
// Time bounds are generous: the suite runs on a loaded two-core machine and
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/lock.h"
#include "base/platform/sync.h"
#include "base/thread.h"

namespace {

int64_t nowMs() { return platformMonotonicMs(); }

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override { initThreads(); }
    void TearDown() override { endThreads(); }
};

// Ends when it is asked to.
class Obedient : public LThread {
public:
    void run() override {
        started.set();
        while (!stopRequested) stopEvent.wait(-1);
    }
    LEvent started;
};

// Ignores its stop event until the test releases it, then touches its base
// object once more (which must still be there). After release it uses nothing
// of its own class: a destructor that waits for it has destroyed that part.
std::atomic<bool> g_release{false};
std::atomic<int> g_finished{0};

class Stubborn : public LThread {
public:
    Stubborn() {
        g_release = false;
        g_finished = 0;
    }
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

}  // namespace

TEST_F(ThreadTest, StopOnNeverStartedThreadReturnsAtOnce) {
    Obedient t;
    const int64_t t0 = nowMs();
    t.stop(5000);
    EXPECT_LT(nowMs() - t0, 1000);
    EXPECT_FALSE(t.isRunning());
    EXPECT_EQ(t.threadHandle, -1);
    EXPECT_TRUE(t.stopRequested);
}

TEST_F(ThreadTest, StopWakesAThreadWaitingOnItsStopEvent) {
    Obedient t;
    t.start();
    ASSERT_EQ(t.started.wait(10000), WaitResult::signalled);
    EXPECT_TRUE(t.isRunning());
    EXPECT_NE(t.threadId, 0u);
    const int64_t t0 = nowMs();
    t.stop(-1);
    EXPECT_LT(nowMs() - t0, 5000);
    EXPECT_FALSE(t.isRunning());
    EXPECT_EQ(t.threadId, 0u);
    // The done event is signalled once and stop() did not take it.
    EXPECT_EQ(t.doneEvent.wait(0), WaitResult::signalled);
    EXPECT_EQ(t.doneEvent.wait(0), WaitResult::timedOut);
}

TEST_F(ThreadTest, StopRightAfterStartIsNeverLost) {
    for (int i = 0; i < 50; ++i) {
        Obedient t;
        t.start();
        t.stop(-1);
        EXPECT_FALSE(t.isRunning());
    }
}

TEST_F(ThreadTest, StopTimesOutOnAThreadThatIgnoresIt) {
    auto t = std::make_unique<Stubborn>();
    t->start();
    ASSERT_EQ(t->started.wait(10000), WaitResult::signalled);
    const int64_t t0 = nowMs();
    t->stop(1000);
    const int64_t took = nowMs() - t0;
    EXPECT_GE(took, 900);
    EXPECT_LT(took, 5000);
    EXPECT_TRUE(t->isRunning());
    EXPECT_TRUE(t->stopRequested);
    g_release = true;
    t->stop(-1);
    EXPECT_FALSE(t->isRunning());
    EXPECT_EQ(g_finished, 1);
}

TEST_F(ThreadTest, DestructorWaitsForAThreadThatOutlivesStop) {
    auto* t = new Stubborn;
    t->start();
    ASSERT_EQ(t->started.wait(10000), WaitResult::signalled);
    std::thread releaser([&] {
        sleepMs(1500);
        g_release = true;
    });
    const int64_t t0 = nowMs();
    delete t;  // stop(1000) times out; the object must outlive the thread
    EXPECT_GE(nowMs() - t0, 1400);
    EXPECT_EQ(g_finished, 1);
    releaser.join();
}

namespace {
class SelfDeleting : public LThread {
public:
    explicit SelfDeleting(LEvent& deleted) : deleted_(deleted) {}
    ~SelfDeleting() override { deleted_.set(); }
    void run() override { sleepMs(20); }

private:
    LEvent& deleted_;
};
}  // namespace

TEST_F(ThreadTest, AutoDeletingThreadDeletesItselfWithoutSignallingDone) {
    LEvent deleted;
    LEvent done;  // outlives the thread object, which shares it as its done event
    auto* t = new SelfDeleting(deleted);
    t->doneEvent.share(done);
    t->start(true);
    ASSERT_EQ(deleted.wait(10000), WaitResult::signalled);
    EXPECT_EQ(done.wait(200), WaitResult::timedOut);
    // Its registry entry is gone too.
    for (int i = 0; i < 100 && registeredCount() != 1; ++i) sleepMs(10);
    EXPECT_EQ(registeredCount(), 1);
}

namespace {
// Records its number when it sees its stop event.
class Recorder : public LThread {
public:
    Recorder(int number, std::vector<int>& order) : number_(number), order_(order) {}
    void run() override {
        started.set();
        while (!stopRequested) stopEvent.wait(-1);
        LLockGuard guard;
        order_.push_back(number_);
    }
    LEvent started;

private:
    int number_;
    std::vector<int>& order_;
};
}  // namespace

TEST_F(ThreadTest, EndThreadsStopsInReverseOrderOfRegistration) {
    std::vector<int> order;
    std::vector<std::unique_ptr<Recorder>> threads;
    for (int i = 1; i <= 3; ++i) {
        threads.push_back(std::make_unique<Recorder>(i, order));
        threads.back()->start();
        ASSERT_EQ(threads.back()->started.wait(10000), WaitResult::signalled);
    }
    EXPECT_EQ(registeredCount(), 4);
    {
        LLockGuard guard;
        EXPECT_EQ(g_mainThread->threads[0], g_mainThread);
        EXPECT_TRUE(g_mainThread->isMain);
    }
    endThreads();
    EXPECT_EQ(g_mainThread, nullptr);
    LLockGuard guard;
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1}));
    for (auto& t : threads) EXPECT_FALSE(t->isRunning());
}

namespace {
class CountedWaiter : public LThread {
public:
    explicit CountedWaiter(std::atomic<int>& deleted) : deleted_(deleted) {}
    ~CountedWaiter() override { ++deleted_; }
    void run() override {
        while (!stopRequested) stopEvent.wait(-1);
    }

private:
    std::atomic<int>& deleted_;
};
}  // namespace

TEST_F(ThreadTest, EndThreadsStopsAutoDeletingThreads) {
    std::atomic<int> deleted{0};
    const int n = 20;
    for (int i = 0; i < n; ++i) (new CountedWaiter(deleted))->start(true);
    for (int i = 0; i < 1000 && registeredCount() != n + 1; ++i) sleepMs(10);
    EXPECT_EQ(registeredCount(), n + 1);
    const int64_t t0 = nowMs();
    endThreads();
    EXPECT_LT(nowMs() - t0, 10000);  // none of them costs its full second
    for (int i = 0; i < 1000 && deleted != n; ++i) sleepMs(10);
    EXPECT_EQ(deleted, n);
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
    const int n = 40;
    for (int i = 0; i < n; ++i) {
        auto* t = new Quick(deleted, live);
        {
            LLockGuard guard;
            live.add(t);
        }
        t->start(true);
    }
    for (int round = 0; round < 3; ++round) {
        LLockGuard guard;
        for (LThread* t : live) t->stop(0);
    }
    for (int i = 0; i < 1000 && deleted != n; ++i) sleepMs(10);
    EXPECT_EQ(deleted, n);
}

TEST_F(ThreadTest, CurrentThreadFindsTheCallersObject) {
    EXPECT_EQ(currentThread(), g_mainThread);
    class Self : public LThread {
    public:
        void run() override { found = currentThread(); }
        std::atomic<LThread*> found{nullptr};
    } t;
    t.start();
    ASSERT_EQ(t.doneEvent.wait(10000), WaitResult::signalled);
    EXPECT_EQ(t.found, &t);
}

TEST(ThreadDeathTest, CurrentThreadOnAnUnregisteredThreadIsAnInternalError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            initThreads();
            std::thread other([] { currentThread(); });
            other.join();
        },
        ::testing::ExitedWithCode(2), "");  // the text goes to standard output
}

// ---- events and waits ----

TEST(EventTest, SetsBeforeAWaitCountOnce) {
    LEvent e;
    EXPECT_TRUE(e.owns());
    EXPECT_GE(e.handle(), 0);
    e.set();
    e.set();
    EXPECT_EQ(e.wait(0), WaitResult::signalled);
    EXPECT_EQ(e.wait(0), WaitResult::timedOut);
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
    for (int i = 0; i < 500 && woken == 0; ++i) sleepMs(10);
    sleepMs(200);
    EXPECT_EQ(woken, 1);
    e.set();
    a.join();
    b.join();
    EXPECT_EQ(woken, 2);
}

TEST(EventTest, BorrowedAndSharedEventsSignalTheSameEvent) {
    LEvent owner;
    {
        LEvent borrowed(owner.handle());
        EXPECT_FALSE(borrowed.owns());
        borrowed.set();
    }  // does not close the owner's descriptor
    EXPECT_EQ(owner.wait(0), WaitResult::signalled);
    auto shared = std::make_unique<LEvent>();
    {
        LEvent original;
        shared->share(original);
        original.set();
    }  // the event lives on in shared
    EXPECT_EQ(shared->wait(0), WaitResult::signalled);
}

TEST(EventTest, TimedWaitReturnsAfterItsTime) {
    LEvent e;
    const int64_t t0 = nowMs();
    EXPECT_EQ(e.wait(300), WaitResult::timedOut);
    const int64_t took = nowMs() - t0;
    EXPECT_GE(took, 280);
    EXPECT_LT(took, 5000);
}

TEST(WaitAnyTest, TimeLimitZeroOnUnsignalledEventsReturnsAtOnce) {
    std::vector<std::unique_ptr<LEvent>> owned;
    LPtrArray<LEvent> list;
    for (int i = 0; i < 5; ++i) {
        owned.push_back(std::make_unique<LEvent>());
        list.add(owned.back().get());
    }
    const int64_t t0 = nowMs();
    EXPECT_TRUE(waitAny(list, 0));
    EXPECT_TRUE(waitAny(list, 0, true));
    EXPECT_LT(nowMs() - t0, 1000);
}

TEST(WaitAnyTest, WakesOnAnyOneOfTwoHundredEvents) {
    std::vector<std::unique_ptr<LEvent>> owned;
    LPtrArray<LEvent> list;
    for (int i = 0; i < 200; ++i) {
        owned.push_back(std::make_unique<LEvent>());
        list.add(owned.back().get());
    }
    for (int target : {0, 137, 199}) {
        std::thread setter([&] {
            sleepMs(50);
            owned[target]->set();
        });
        int which = -1;
        EXPECT_FALSE(waitAny(list, 20000, false, &which));
        EXPECT_EQ(which, target);
        setter.join();
        // Only the one that woke the wait was signalled, and it was consumed.
        EXPECT_TRUE(waitAny(list, 0));
    }
}

TEST(WaitAnyTest, TakesTheFirstSignalledInListOrder) {
    LEvent a, b, c;
    LPtrArray<LEvent> list;
    list.add(&a);
    list.add(&b);
    list.add(&c);
    c.set();
    b.set();
    int which = -1;
    EXPECT_FALSE(waitAny(list, 0, false, &which));
    EXPECT_EQ(which, 1);
    EXPECT_FALSE(waitAny(list, 0, false, &which));
    EXPECT_EQ(which, 2);
    EXPECT_TRUE(waitAny(list, 0));
}

TEST(WaitAnyTest, TakeAllConsumesEverySignalledEvent) {
    LEvent a, b, c;
    LPtrArray<LEvent> list;
    list.add(&a);
    list.add(&b);
    list.add(&c);
    a.set();
    c.set();
    EXPECT_FALSE(waitAnyTakeAll(list, 0));
    EXPECT_TRUE(waitAny(list, 0));  // both signals were taken by the one wait
    std::thread setter([&] {
        sleepMs(50);
        b.set();
    });
    EXPECT_FALSE(waitAnyTakeAll(list, 20000));
    setter.join();
    EXPECT_TRUE(waitAnyTakeAll(list, 0));
}

TEST(WaitAnyTest, WaitAllNeedsEveryEventAndLosesNothingOnTimeOut) {
    LEvent a, b;
    LPtrArray<LEvent> list;
    list.add(&a);
    list.add(&b);
    a.set();
    EXPECT_TRUE(waitAny(list, 100, true));
    EXPECT_EQ(a.wait(0), WaitResult::signalled);  // given back after the time-out
    a.set();
    std::thread setter([&] {
        sleepMs(50);
        b.set();
    });
    EXPECT_FALSE(waitAny(list, 20000, true));
    setter.join();
    EXPECT_EQ(a.wait(0), WaitResult::timedOut);
    EXPECT_EQ(b.wait(0), WaitResult::timedOut);
}

TEST(WaitAnyTest, EmptyListWithoutTimeLimitFailsInsteadOfHanging) {
    LPtrArray<LEvent> list;
    EXPECT_TRUE(waitAny(list, 10));
    EXPECT_FALSE(waitAny(list, -1));
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
            {
                LLockGuard guard;
                waitSet.remove(e.get());
            }
            // e is destroyed here, possibly while the main thread still waits on it
        }
        done = true;
        mainEvent.set();
    });
    int wakes = 0;
    while (!done) {
        if (!waitAny(waitSet, 2000)) ++wakes;
    }
    churn.join();
    EXPECT_GT(wakes, 0);
}

TEST(WaitFdTest, ReportsTheDescriptorOrTheEvent) {
    LEvent stop, data;  // data's descriptor stands in for a socket
    EXPECT_EQ(waitFd(data.handle(), kPollIn, &stop, 0), 0);
    data.set();
    EXPECT_EQ(waitFd(data.handle(), kPollIn, &stop, 1000), kPollIn);
    EXPECT_EQ(waitFd(data.handle(), kPollIn, &stop, 0), kPollIn);  // the descriptor is not consumed
    EXPECT_EQ(data.wait(0), WaitResult::signalled);
    std::thread setter([&] {
        sleepMs(50);
        stop.set();
    });
    EXPECT_EQ(waitFd(data.handle(), kPollIn, &stop, 20000), kWaitEvent);
    setter.join();
    EXPECT_EQ(stop.wait(0), WaitResult::timedOut);  // consumed by waitFd
    EXPECT_EQ(waitFd(-1, kPollIn, nullptr, 0), -1);
}

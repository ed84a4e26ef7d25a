// g_libLock: re-entrancy and mutual exclusion.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/lock.h"

TEST(LibLock, IsReentrantAndSerialisesThreads) {
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                LLockGuard outer;
                LLockGuard inner;  // would deadlock on a plain mutex
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 80000);
}

TEST(LibLock, TryLockFailsOnlyWhileAnotherThreadHoldsIt) {
    LLockGuard held;
    EXPECT_TRUE(g_libLock.tryLock());  // re-entry
    g_libLock.unlock();
    bool other = true;
    std::thread([&] { other = g_libLock.tryLock(); }).join();
    EXPECT_FALSE(other);
}

// A release lets other threads in whatever depth this thread held, and gives
// back exactly that depth; a thread that holds nothing releases nothing.
TEST(LibLock, ReleaseLetsOthersInAndRestoresTheDepth) {
    const auto otherCanTake = [] {
        bool took = false;
        std::thread([&] {
            took = g_libLock.tryLock();
            if (took) g_libLock.unlock();
        }).join();
        return took;
    };
    for (const int depth : {0, 1, 3}) {
        for (int i = 0; i < depth; ++i) g_libLock.lock();
        {
            const LLockRelease release;
            EXPECT_TRUE(otherCanTake()) << depth;
        }
        for (int i = 0; i < depth; ++i) {
            EXPECT_FALSE(otherCanTake()) << depth << " " << i;
            g_libLock.unlock();
        }
        EXPECT_TRUE(otherCanTake()) << depth;
    }
}

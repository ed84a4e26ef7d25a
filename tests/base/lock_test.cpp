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

// The block allocator: size classes, usable sizes, alignment, reuse, threads.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "base/block.h"

TEST(Block, RoundAndClassAtTheClassBorders) {
    struct Case { int request, usable, cls; };
    const Case cases[] = {
        {0, 0, 1},          {1, 4, 2},          {5, 8, 3},          {60, 60, 16},      {61, 76, 21},
        {77, 92, 22},       {252, 252, 32},     {253, 316, 37},     {1020, 1020, 48},  {1021, 1276, 53},
        {4092, 4092, 64},   {4093, 8188, -1},   {8188, 8188, -1},   {8189, 12284, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(blockRound(c.request), c.usable) << "request " << c.request;
        EXPECT_EQ(blockClass(c.request), c.cls) << "request " << c.request;
    }
}

#ifndef VESPERLINE_MALLOC_BLOCKS
TEST(Block, FreedBlocksAreReusedByTheirClass) {
    for (int size = 0; size <= 4092; size = blockRound(size) + 1) {  // one request per pooled class
        void* p = blockAlloc(size);
        blockFree(p);
        void* q = blockAlloc(blockRound(size));  // the largest request of the same class
        EXPECT_EQ(p, q) << "size " << size;
        blockFree(q);
    }
}
#endif

#if defined(VESPERLINE_MALLOC_BLOCKS) && defined(__SANITIZE_ADDRESS__)
TEST(BlockDeathTest, SanitizerCatchesAnOverrunPastTheUsableBytes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(static_cast<volatile char*>(blockAlloc(5))[blockRound(5)] = 1, "heap-buffer-overflow");
}
#endif

// Blocks of every class and large ones, allocated and freed by four threads at
// once: aligned, their requested size kept, no byte shared with another block.
TEST(Block, BlocksAreAlignedSizedAndNeverOverlapAcrossThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            std::vector<std::pair<unsigned char*, int>> mine;
            for (int i = 0; i < 2000; ++i) {
                const int size = (i * 37 + t) % 5000;
                auto* p = static_cast<unsigned char*>(blockAlloc(size));
                ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u) << "size " << size;
                std::memset(p, t * 16 + size % 16, static_cast<size_t>(blockRound(size)));  // every usable byte
                mine.emplace_back(p, size);
                if (i % 3 == 2) {
                    blockFree(mine.front().first);
                    mine.erase(mine.begin());
                }
            }
            for (auto [p, size] : mine) {
                ASSERT_EQ(blockSize(p), size);
                for (int k = 0; k < blockRound(size); ++k) ASSERT_EQ(p[k], t * 16 + size % 16);
                blockFree(p);
            }
        });
    }
    for (auto& th : threads) th.join();
    blockFree(nullptr);
}

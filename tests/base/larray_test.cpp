// LArray and its typed views: growth, the trailing 0, moves, ownership.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "base/block.h"
#include "base/larray.h"
#include "base/obj.h"

namespace {
std::vector<intptr_t> elements(const LArray& a) {
    EXPECT_EQ(a.data()[a.count()], 0) << "element after the last";
    return std::vector<intptr_t>(a.data(), a.data() + a.count());
}

int g_live = 0;
struct Tracked : LObj {
    explicit Tracked(int v) : value(v) { ++g_live; }
    ~Tracked() override { --g_live; }
    int value;
};
}  // namespace

TEST(LArray, EveryGrowthKeepsTheElementsAndTheTrailingZero) {
    LArray a;
    EXPECT_EQ(a.data()[0], 0);
    for (int i = 1; i <= 3000; ++i) {
        a.add(i);
        ASSERT_EQ(a.data()[i], 0);
    }
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(a[i], i + 1);
    a.clear();
    EXPECT_EQ(a.data()[0], 0);
}

TEST(LArray, InsertRemoveAndListHelpers) {
    LArray a;
    const intptr_t list[] = {10, 20, 30, 0, 9};
    a.addAll(list);  // up to the first 0
    a.insert(0, 5);
    a.insert(2, 15);
    a.insert(a.count(), 35);
    EXPECT_EQ(elements(a), (std::vector<intptr_t>{5, 10, 15, 20, 30, 35}));
    a.removeAt(0);
    a.removeAt(a.count() - 1);
    EXPECT_TRUE(a.remove(20));
    EXPECT_FALSE(a.remove(99));
    EXPECT_EQ(a.indexOf(30), 2);
    a.addAll(a.data(), a.count());  // from the array itself, which grows meanwhile
    EXPECT_EQ(elements(a), (std::vector<intptr_t>{10, 15, 30, 10, 15, 30}));

    EXPECT_EQ(LArray::indexOf(9, list, -1), -1);  // stops at the 0
    EXPECT_EQ(LArray::indexOf(9, list, 5), 4);
    intptr_t* copy = LArray::copyList(list, -1);
    EXPECT_EQ(copy[3], 0);  // the terminating 0 is part of the copy
    blockFree(copy);
    intptr_t words[8] = {1, 2, 3, 4, 5, 0, 7, 7};
    moveWords(words, words + 2, -1);  // up to the first zero word, which stays behind
    const intptr_t down[8] = {3, 4, 5, 4, 5, 0, 7, 7};
    EXPECT_EQ(std::memcmp(words, down, sizeof words), 0);
}

TEST(LArray, OwnedArrayDeletesItsElementsAndStringListHoldsCopies) {
    g_live = 0;
    {
        LOwnedArray<Tracked> owned;
        for (int i = 0; i < 5; ++i) owned.add(std::make_unique<Tracked>(i));
        owned.removeAt(0);
        EXPECT_EQ(g_live, 4);
        EXPECT_EQ(owned.takeAt(0)->value, 1);
        EXPECT_EQ(g_live, 3);
    }
    EXPECT_EQ(g_live, 0);

    LStrList names;
    char buf[] = "alpha";
    names.add(buf);
    buf[0] = 'X';
    names.add("beta gamma", 4);
    names.insert(0, "zero");
    names.set(2, "delta");
    EXPECT_EQ(names.indexOf("delta"), 2);
    EXPECT_EQ(names.items()[3], nullptr);
    LStrList copy(names);
    names.clear();
    ASSERT_EQ(copy.count(), 3);
    EXPECT_STREQ(copy[1], "alpha");
    EXPECT_STREQ(copy[2], "delta");
}

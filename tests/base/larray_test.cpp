// LArray and its typed views: growth, the trailing 0, moves, ownership.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "base/block.h"
#include "base/larray.h"
#include "base/obj.h"

namespace {
void expectElements(const LArray& a, std::initializer_list<intptr_t> want) {
    ASSERT_EQ(a.count(), static_cast<int>(want.size()));
    int i = 0;
    for (intptr_t w : want) EXPECT_EQ(a[i++], w);
    EXPECT_EQ(a.data()[a.count()], 0) << "element after the last";
}
}  // namespace

TEST(LArray, EmptyArrayAndFirstAdd) {
    LArray a;
    EXPECT_EQ(a.count(), 0);
    EXPECT_EQ(a.cap(), 0);
    EXPECT_EQ(a.data()[0], 0);
    a.add(5);
    EXPECT_EQ(a.cap(), 1);
    expectElements(a, {5});
}

TEST(LArray, GrowthKeepsTheTrailingZero) {
    LArray a;
    const int word = static_cast<int>(sizeof(intptr_t));
    int lastCap = 0;
    for (int i = 1; i <= 3000; ++i) {
        a.add(i);
        ASSERT_EQ(a.count(), i);
        ASSERT_EQ(a.data()[i], 0);
        ASSERT_GE(a.cap(), a.count());
        if (a.cap() != lastCap) {
            ASSERT_EQ(lastCap, i - 1);
            ASSERT_EQ(a.cap(), blockRound(word * (i * 5 / 4 + 1)) / word - 1) << "at count " << i;
            lastCap = a.cap();
        }
    }
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(a[i], i + 1);
    a.clear();
    EXPECT_EQ(a.count(), 0);
    EXPECT_EQ(a.data()[0], 0);
    EXPECT_EQ(a.cap(), 0);  // clear gives the large buffer back
}

TEST(LArray, InsertRemoveIndexOf) {
    LArray a;
    for (intptr_t v : {10, 20, 30}) a.add(v);
    a.insert(0, 5);
    a.insert(2, 15);
    a.insert(a.count(), 35);
    expectElements(a, {5, 10, 15, 20, 30, 35});
    a.removeAt(0);
    a.removeAt(a.count() - 1);
    expectElements(a, {10, 15, 20, 30});
    EXPECT_TRUE(a.remove(20));
    EXPECT_FALSE(a.remove(99));
    expectElements(a, {10, 15, 30});
    EXPECT_EQ(a.indexOf(30), 2);
    EXPECT_EQ(a.indexOf(99), -1);
}

TEST(LArray, AddAllIncludingItself) {
    LArray a;
    const intptr_t list[] = {1, 2, 3, 0, 9};
    a.addAll(list);  // up to the first 0
    expectElements(a, {1, 2, 3});
    a.addAll(list + 3, 2);
    expectElements(a, {1, 2, 3, 0, 9});
    a.addAll(a.data(), a.count());
    expectElements(a, {1, 2, 3, 0, 9, 1, 2, 3, 0, 9});
}

TEST(LArray, StaticHelpers) {
    const intptr_t list[] = {4, 5, 6, 0, 7};
    EXPECT_EQ(LArray::indexOf(6, list, -1), 2);
    EXPECT_EQ(LArray::indexOf(7, list, -1), -1);  // stops at the 0
    EXPECT_EQ(LArray::indexOf(7, list, 5), 4);
    intptr_t* copy = LArray::copyList(list, -1);
    EXPECT_EQ(blockSize(copy) >= static_cast<int>(4 * sizeof(intptr_t)), true);
    EXPECT_EQ(copy[0], 4);
    EXPECT_EQ(copy[2], 6);
    EXPECT_EQ(copy[3], 0);  // the terminating 0 is part of the copy
    blockFree(copy);
    intptr_t* two = LArray::copyList(list + 1, 2);
    EXPECT_EQ(two[0], 5);
    EXPECT_EQ(two[1], 6);
    blockFree(two);

    intptr_t words[8] = {1, 2, 3, 4, 5, 0, 0, 0};
    moveWords(words + 2, words, 5);  // overlapping, destination above
    const intptr_t up[8] = {1, 2, 1, 2, 3, 4, 5, 0};
    EXPECT_EQ(std::memcmp(words, up, sizeof words), 0);
    moveWords(words, words + 2, -1);  // up to the first zero word
    const intptr_t down[8] = {1, 2, 3, 4, 5, 4, 5, 0};
    EXPECT_EQ(std::memcmp(words, down, sizeof words), 0);
}

TEST(LArray, CopyAndMove) {
    LArray a;
    a.add(1);
    a.add(2);
    LArray b(a);
    b.add(3);
    expectElements(a, {1, 2});
    expectElements(b, {1, 2, 3});
    LArray c(std::move(b));
    expectElements(c, {1, 2, 3});
    expectElements(b, {});
    a = c;
    expectElements(a, {1, 2, 3});
}

namespace {
int g_live = 0;
struct Tracked : LObj {
    explicit Tracked(int v) : value(v) { ++g_live; }
    ~Tracked() override { --g_live; }
    int value;
};
}  // namespace

TEST(LArray, TypedViews) {
    Tracked x(1), y(2);
    LPtrArray<Tracked> ptrs;
    ptrs.add(&x);
    ptrs.add(&y);
    EXPECT_EQ(ptrs.last(), &y);
    EXPECT_EQ(ptrs.indexOf(&y), 1);
    int sum = 0;
    for (Tracked* t : ptrs) sum += t->value;
    EXPECT_EQ(sum, 3);

    g_live = 0;
    {
        LOwnedArray<Tracked> owned;
        for (int i = 0; i < 5; ++i) owned.add(std::make_unique<Tracked>(i));
        EXPECT_EQ(g_live, 5);
        owned.removeAt(0);
        EXPECT_EQ(g_live, 4);
        std::unique_ptr<Tracked> kept = owned.takeAt(0);
        EXPECT_EQ(kept->value, 1);
        EXPECT_EQ(owned.count(), 3);
    }
    EXPECT_EQ(g_live, 0);
}

TEST(LArray, StringList) {
    LStrList names;
    char buf[] = "alpha";
    names.add(buf);
    buf[0] = 'X';  // the list holds its own copy
    names.add("beta gamma", 4);
    names.insert(0, "zero");
    names.add(nullptr);
    EXPECT_EQ(names.count(), 4);
    EXPECT_STREQ(names[0], "zero");
    EXPECT_STREQ(names[1], "alpha");
    EXPECT_STREQ(names[2], "beta");
    EXPECT_STREQ(names[3], "");
    EXPECT_EQ(names.items()[4], nullptr);
    EXPECT_EQ(names.indexOf("beta"), 2);
    EXPECT_FALSE(names.contains("Beta"));
    names.set(2, "delta");
    names.removeAt(0);
    LStrList copy(names);
    names.clear();
    ASSERT_EQ(copy.count(), 3);
    EXPECT_STREQ(copy[1], "delta");
    LStrList moved;
    moved = std::move(copy);
    EXPECT_STREQ(moved[0], "alpha");
}

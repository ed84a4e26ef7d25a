// LHashTable: the hash function, the string set, the record map, collect order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/block.h"
#include "base/chars.h"
#include "base/lhash.h"
#include "base/lstring.h"

TEST(Hash, KnownValuesAndUnsignedComparison) {
    EXPECT_EQ(hash(nullptr), 0u);
    EXPECT_EQ(hash(""), 0u);
    EXPECT_EQ(hash("A"), 65u);
    EXPECT_EQ(hash("AB"), 65u + 66u * 23u);
    // The 170th byte takes the first weight again, and a high byte counts unsigned.
    const std::string longKey(169, '\x01');
    uint32_t sum169 = hash(longKey.c_str());
    EXPECT_EQ(hash((longKey + "\x02").c_str()), sum169 + 2u);
    EXPECT_EQ(hash("\xFF"), 255u);
    EXPECT_EQ(compareStrings("a", "b"), -1);
    EXPECT_EQ(compareStrings("\x80", "a"), 1);  // unsigned bytes
    EXPECT_NE(compareStrings(nullptr, ""), 0);
}

namespace {
struct Record { const char* key; int value; };

std::vector<std::string> collected(const LHashTable& t) {
    LArray out;
    t.collect(out);
    std::vector<std::string> keys;
    for (int i = 0; i < out.count(); ++i) keys.emplace_back(reinterpret_cast<const char*>(out[i]));
    return keys;
}
}  // namespace

TEST(LHashTable, StringSetWithDuplicatesAndCollectOrder) {
    LHashTable set;
    // Buckets: "AA" 1560 % 256 = 24, "A" 65, "B" 66, "A\x02\x01" 65 + 2*23 + 1*13 = 124.
    for (const char* k : {"B", "A", "AA", "B", "A\x02\x01"}) set.add(k);
    EXPECT_EQ(set.count(), 5);
    EXPECT_EQ(collected(set), (std::vector<std::string>{"AA", "A", "B", "B", "A\x02\x01"}));
    EXPECT_STREQ(set.remove("B"), "B");  // the first of the two
    EXPECT_TRUE(set.contains("B"));
    EXPECT_STREQ(set.remove("B"), "B");
    EXPECT_FALSE(set.contains("B"));
    EXPECT_EQ(set.remove("B"), nullptr);
    EXPECT_EQ(set.count(), 3);

    LHashTable small(4);  // "A" (65) and "E" (69) share bucket 1; "B" is in bucket 2
    for (const char* k : {"E", "B", "A"}) small.add(k);
    EXPECT_EQ(collected(small), (std::vector<std::string>{"E", "A", "B"}));
}

TEST(LHashTable, RecordMap) {
    Record one{"one", 1}, two{"two", 2}, other{"one", 3};
    LHashTable map;
    map.addRecord(&one);
    map.addRecord(&two);
    map.addRecord(&other);
    EXPECT_EQ(map.findRecord("two"), &two);
    EXPECT_EQ(map.findRecord("three"), nullptr);
    EXPECT_EQ(map.findRecord("one", compareNoCase), &one);
    EXPECT_EQ(map.removeRecord("one"), &one);
    EXPECT_EQ(map.findRecord("one"), &other);
    EXPECT_EQ(map.count(), 2);
}

TEST(LHashTable, ClearKeysFreesOwnedKeys) {
    LHashTable set;
    for (int i = 0; i < 1000; ++i) set.add(blockStrdup(LString::format("key%d", i).data()));
    EXPECT_EQ(set.count(), 1000);
    EXPECT_TRUE(set.contains("key999"));
    set.clearKeys();  // a leak checker would report any key left behind
    EXPECT_EQ(set.count(), 0);
    EXPECT_FALSE(set.contains("key999"));
    set.add("again");
    EXPECT_TRUE(set.contains("again"));
}

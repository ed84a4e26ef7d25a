// LString: growth and capacities, insert, find, replaceAll, formatting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/block.h"
#include "base/lstring.h"

namespace {
std::string str(const LString& s) { return std::string(s.data(), static_cast<size_t>(s.len())); }
}  // namespace

TEST(LString, EmptyStringAndFirstAppend) {
    LString s;
    EXPECT_EQ(s.len(), 0);
    EXPECT_EQ(s.cap(), 0);
    EXPECT_STREQ(s.data(), "");
    s.appendChar('x');
    EXPECT_EQ(s.cap(), 3);  // 1 * 5 / 4 = 1, plus the terminator, rounds to a 4-byte block
    EXPECT_STREQ(s.data(), "x");
    LString n(nullptr);
    EXPECT_TRUE(n.empty());
}

TEST(LString, GrowthRoundsFiveQuartersOfTheNeedUpToTheBlockClass) {
    LString s;
    int lastCap = s.cap();
    for (int i = 1; i <= 5000; ++i) {
        s.appendChar(static_cast<char>('a' + i % 26));
        ASSERT_EQ(s.len(), i);
        ASSERT_EQ(s.data()[i], 0);
        ASSERT_GE(s.cap(), s.len());
        if (s.cap() != lastCap) {
            // Grown exactly when needed, to blockRound(i * 5 / 4 + 1) - 1.
            ASSERT_EQ(lastCap, i - 1);
            ASSERT_EQ(s.cap(), blockRound(i * 5 / 4 + 1) - 1) << "at length " << i;
            lastCap = s.cap();
        }
    }
    s.clear();
    EXPECT_EQ(s.len(), 0);
    EXPECT_EQ(s.cap(), 3);  // clear gives the large buffer back
}

TEST(LString, ConstructAssignCopyMove) {
    LString a("hello");
    LString b(a);
    LString c("hello world", 5);
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(a == c);
    EXPECT_TRUE(a.equals("hello"));
    EXPECT_FALSE(a.equals("hell"));
    EXPECT_FALSE(a.equals("hello!"));
    LString d(std::move(b));
    EXPECT_STREQ(d.data(), "hello");
    EXPECT_STREQ(b.data(), "");  // moved-from strings stay valid
    b = d;
    b.append(b);  // appending a string to itself
    EXPECT_STREQ(b.data(), "hellohello");
    b.append(b.data() + 5);
    EXPECT_STREQ(b.data(), "hellohellohello");
    b.assign(b.data() + 10);  // assigning a piece of itself
    EXPECT_STREQ(b.data(), "hello");
    b.assign(nullptr);
    EXPECT_TRUE(b.empty());
}

TEST(LString, BytesMayIncludeNul) {
    LString s("a\0b", 3);
    EXPECT_EQ(s.len(), 3);
    EXPECT_EQ(s.find("b"), 2);
    EXPECT_FALSE(s.equals("a"));
}

TEST(LString, Insert) {
    struct Case {
        const char* start;
        const char* text;
        int at, n;
        const char* expect;
    };
    const Case cases[] = {
        {"abcdef", "XY", 2, -1, "abXYcdef"},
        {"abcdef", "XYZ", 0, 2, "XYabcdef"},
        {"abcdef", "XY", -1, -1, "abcdefXY"},  // at < 0 appends
        {"abcdef", "XY", 6, -1, "abcdefXY"},
        {"", "XY", 0, -1, "XY"},
        {"abc", "", 1, -1, "abc"},
    };
    for (const Case& c : cases) {
        LString s(c.start);
        s.insert(c.text, c.at, c.n);
        EXPECT_STREQ(s.data(), c.expect) << c.start << " + " << c.text << " at " << c.at;
        EXPECT_EQ(s.len(), static_cast<int>(std::strlen(c.expect)));
    }
    LString self("abcdefghijklmnopqrstuvwxyz");
    self.insert(self.data(), 3, 10);  // a piece of itself, with growth
    EXPECT_STREQ(self.data(), "abcabcdefghijdefghijklmnopqrstuvwxyz");
}

TEST(LString, Find) {
    LString s("one two one two");
    EXPECT_EQ(s.find("two"), 4);
    EXPECT_EQ(s.find("two", 5), 12);
    EXPECT_EQ(s.find("one", 1), 8);
    EXPECT_EQ(s.find("two", 5, 9), -1);  // the window ends before the second "two" is complete
    EXPECT_EQ(s.find("two", 5, 10), 12);
    EXPECT_EQ(s.find("three"), -1);
    EXPECT_EQ(s.find("one", 99), -1);
    EXPECT_EQ(s.find(nullptr), -1);
}

TEST(LString, ReplaceAll) {
    struct Case {
        const char* start;
        const char* from;
        const char* to;
        int count;
        const char* expect;
    };
    const Case cases[] = {
        {"a-b-c", "-", "+", 2, "a+b+c"},
        {"aaa", "a", "aa", 3, "aaaaaa"},  // scanning resumes after the inserted text
        {"aaaa", "aa", "a", 2, "aa"},
        {"abc", "x", "y", 0, "abc"},
        {"line\r\nend\r\n", "\r\n", "", 2, "lineend"},
        {"abc", "", "x", 0, "abc"},
        {"{who} and {who}", "{who}", "world", 2, "world and world"},
    };
    for (const Case& c : cases) {
        LString s(c.start);
        EXPECT_EQ(s.replaceAll(c.from, c.to), c.count) << c.start;
        EXPECT_STREQ(s.data(), c.expect) << c.start;
    }
}

TEST(LString, TruncateEraseDetach) {
    LString s("abcdef");
    s.erase(1, 2);
    EXPECT_STREQ(s.data(), "adef");
    s.erase(2, 100);
    EXPECT_STREQ(s.data(), "ad");
    s.truncate(1);
    EXPECT_STREQ(s.data(), "a");
    char* copy = s.detach();
    EXPECT_STREQ(copy, "a");
    EXPECT_NE(copy, s.data());
    blockFree(copy);
    char* dup = blockStrdup("xyz");
    EXPECT_STREQ(dup, "xyz");
    blockFree(dup);
    EXPECT_EQ(blockStrdup(nullptr), nullptr);
}

TEST(LString, FormattingOfAnyLengthIsExact) {
    LString s("<");
    s.appendFormat("%d-%s-%05.1f", 42, "x", 3.14159);
    EXPECT_STREQ(s.data(), "<42-x-003.1");

    const std::string big(70000, 'q');
    LString t;
    t.appendFormat("[%s|%d]", big.c_str(), 7);
    EXPECT_EQ(str(t), "[" + big + "|7]");

    LString self("abc");
    self.appendFormat("%s%s", self.data(), self.data());  // arguments that point into the string
    EXPECT_STREQ(self.data(), "abcabcabc");
    EXPECT_STREQ(LString::format("%x", 255).data(), "ff");
}

// LString: growth and the terminator, self-referencing edits, insert, find,
// replaceAll, formatting of any length.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "base/block.h"
#include "base/lstring.h"

TEST(LString, EveryGrowthKeepsTheTerminator) {
    LString s;
    EXPECT_STREQ(s.data(), "");
    for (int i = 1; i <= 5000; ++i) {
        s.appendChar(static_cast<char>('a' + i % 26));
        ASSERT_EQ(s.data()[i], 0);
    }
    s.clear();
    EXPECT_STREQ(s.data(), "");
}

TEST(LString, EditsWithTextFromTheStringItself) {
    LString b("hello");
    b.append(b);
    EXPECT_STREQ(b.data(), "hellohello");
    b.append(b.data() + 5);
    EXPECT_STREQ(b.data(), "hellohellohello");
    b.assign(b.data() + 10);
    EXPECT_STREQ(b.data(), "hello");
    LString c("abcdefghijklmnopqrstuvwxyz");
    c.insert(c.data(), 3, 10);
    EXPECT_STREQ(c.data(), "abcabcdefghijdefghijklmnopqrstuvwxyz");
    LString moved(std::move(c));
    EXPECT_STREQ(c.data(), "");  // a moved-from string stays usable
    EXPECT_TRUE(moved.equals("abcabcdefghijdefghijklmnopqrstuvwxyz"));
}

TEST(LString, Insert) {
    struct Case { const char *start, *text; int at, n; const char* expect; };
    const Case cases[] = {
        {"abcdef", "XY", 2, -1, "abXYcdef"}, {"abcdef", "XYZ", 0, 2, "XYabcdef"},
        {"abcdef", "XY", -1, -1, "abcdefXY"}, {"abcdef", "XY", 6, -1, "abcdefXY"},
        {"", "XY", 0, -1, "XY"},              {"abc", "", 1, -1, "abc"},
    };
    for (const Case& c : cases) {
        LString s(c.start);
        s.insert(c.text, c.at, c.n);
        EXPECT_STREQ(s.data(), c.expect) << c.start << " + " << c.text << " at " << c.at;
        EXPECT_EQ(s.len(), static_cast<int>(std::strlen(c.expect)));
    }
}

TEST(LString, FindAndReplaceAll) {
    const LString text("one two one two");
    EXPECT_EQ(text.find("two"), 4);
    EXPECT_EQ(text.find("two", 5), 12);
    EXPECT_EQ(text.find("two", 5, 9), -1);  // the window ends inside the second "two"
    EXPECT_EQ(text.find("two", 5, 10), 12);
    EXPECT_EQ(text.find("one", 99), -1);

    struct Case { const char *start, *from, *to; int count; const char* expect; };
    const Case cases[] = {
        {"a-b-c", "-", "+", 2, "a+b+c"},
        {"aaa", "a", "aa", 3, "aaaaaa"},  // scanning resumes after the inserted text
        {"aaaa", "aa", "a", 2, "aa"},
        {"abc", "x", "y", 0, "abc"},
        {"line\r\nend\r\n", "\r\n", "", 2, "lineend"},
        {"abc", "", "x", 0, "abc"},
    };
    for (const Case& c : cases) {
        LString s(c.start);
        EXPECT_EQ(s.replaceAll(c.from, c.to), c.count) << c.start;
        EXPECT_STREQ(s.data(), c.expect) << c.start;
    }
}

TEST(LString, FormattingOfAnyLengthIsExact) {
    LString s("<");
    s.appendFormat("%d-%s-%05.1f", 42, "x", 3.14159);
    EXPECT_STREQ(s.data(), "<42-x-003.1");
    const std::string big(70000, 'q');
    LString t;
    t.appendFormat("[%s|%d]", big.c_str(), 7);
    EXPECT_EQ(std::string(t.data(), static_cast<size_t>(t.len())), "[" + big + "|7]");
    LString self("abc");
    self.appendFormat("%s%s", self.data(), self.data());  // arguments that point into the string
    EXPECT_STREQ(self.data(), "abcabcabc");
}

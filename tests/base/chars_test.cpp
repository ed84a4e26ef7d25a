// Character classes and the double-byte rules of the console code page.
#include <gtest/gtest.h>

#include "base/chars.h"
#include "base_test_support.h"

TEST(Chars, LeadAndWordBytesPerCharacterSet) {
    struct Case { int set; unsigned char byte; bool lead, word; };
    const Case cases[] = {
        {'s', 0x81, true, false}, {'s', 0xFC, true, false}, {'s', 0xB1, false, true}, {'s', '_', false, false},
        {'s', '7', false, true},  {'e', 0xA1, true, true},  {'e', 0x81, false, true}, {0, 0x81, false, true},
        {0, 0xB1, false, true},   {0, 'a', false, true},
    };
    for (const Case& c : cases) {
        Restore<int> set(g_charSet, c.set);
        EXPECT_EQ(isLeadByte(c.byte), c.lead) << c.set << " " << int(c.byte);
        EXPECT_EQ(isWordByte(c.byte), c.word) << c.set << " " << int(c.byte);
    }
}

TEST(Chars, SecondBytesAreFoundByCountingLeadBytes) {
    Restore<int> set(g_charSet, 's');
    // 0x95 0x5C is one character whose second byte is a backslash; 0x81 0x81
    // 0x81 0x41 is two characters, the second ending in 'A'.
    const char text[] = "a\x95\x5C" "b\x81\x81\x81\x41";
    const bool second[] = {false, false, true, false, false, true, false, true};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(isSecondByte(text, i), second[i]) << i;
    EXPECT_EQ(charAt(text + 1), 0x955C);
    EXPECT_EQ(charAt(text), 'a');
    EXPECT_EQ(charLen(text + 1), 2);
    EXPECT_EQ(charLen("\x81"), 1);  // a lead byte before the terminator
    EXPECT_EQ(charLen(text + 4, text + 5), 1);  // or before the end
    g_charSet = 0;
    EXPECT_FALSE(isSecondByte(text, 2));
    EXPECT_EQ(charAt(text + 1), 0x95);
}

TEST(Chars, CompareNoCase) {
    Restore<int> set(g_charSet, 's');
    EXPECT_EQ(compareNoCase("Hello", "hELLO"), 0);
    EXPECT_LT(compareNoCase("abc", "abd"), 0);
    EXPECT_GT(compareNoCase("abd", "ABC"), 0);
    EXPECT_LT(compareNoCase("ab", "abc"), 0);
    // A second byte equal to 'a' (0x61) is not the letter a: case counts there.
    EXPECT_NE(compareNoCase("\x82\x61", "\x82\x41"), 0);
    EXPECT_EQ(compareNoCase("\x82\x61x", "\x82\x61X"), 0);
    EXPECT_EQ(compareNoCase(nullptr, ""), 0);
    EXPECT_TRUE(equalsText("Log", "LOG", true));
    EXPECT_FALSE(equalsText("Log", "LOG", false));
    EXPECT_TRUE(equalsText("Log", "Log", false));
}

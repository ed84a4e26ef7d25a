// Character classes and the double-byte rules of the console code page.
#include <gtest/gtest.h>

#include "base/chars.h"

namespace {
// Restores g_charSet after a test that switches it.
struct CharSetGuard {
    int saved = g_charSet;
    ~CharSetGuard() { g_charSet = saved; }
};
}  // namespace

TEST(Chars, ClassTableAtTheRangeBorders) {
    struct Case {
        int byte;
        uint16_t mask;
    };
    const Case cases[] = {
        {0x00, 0},      {0x08, 0},      {0x09, 0x0020}, {0x0D, 0x0020}, {0x0E, 0},      {0x1F, 0},
        {0x20, 0x0020}, {0x21, 0x0008}, {0x2F, 0x0008}, {0x30, 0x0004}, {0x39, 0x0004}, {0x3A, 0x0008},
        {0x40, 0x0008}, {0x41, 0x0001}, {0x5A, 0x0001}, {0x5B, 0x0008}, {0x5E, 0x0008}, {0x5F, 0x0018},
        {0x60, 0x0008}, {0x61, 0x0002}, {0x7A, 0x0002}, {0x7B, 0x0008}, {0x7E, 0x0008}, {0x7F, 0},
        {0x80, 0},      {0x81, 0x1000}, {0x9F, 0x1000}, {0xA0, 0},      {0xA1, 0x2000}, {0xDF, 0x2000},
        {0xE0, 0x1000}, {0xFC, 0x1000}, {0xFD, 0},      {0xFF, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(g_charClass[c.byte], c.mask) << std::hex << c.byte;
}

TEST(Chars, LeadAndWordBytesPerCharacterSet) {
    CharSetGuard guard;
    struct Case {
        int set;
        unsigned char byte;
        bool lead, word;
    };
    const Case cases[] = {
        {'s', 0x81, true, false}, {'s', 0xFC, true, false}, {'s', 0xB1, false, true}, {'s', '_', false, false},
        {'s', '7', false, true},  {'e', 0xA1, true, true},  {'e', 0x81, false, true}, {0, 0x81, false, true},
        {0, 0xB1, false, true},   {0, 'a', false, true},
    };
    for (const Case& c : cases) {
        g_charSet = c.set;
        EXPECT_EQ(isLeadByte(c.byte), c.lead) << c.set << " " << int(c.byte);
        EXPECT_EQ(isWordByte(c.byte), c.word) << c.set << " " << int(c.byte);
    }
}

TEST(Chars, SecondBytesAreFoundByCountingLeadBytes) {
    CharSetGuard guard;
    g_charSet = 's';
    // 0x95 0x5C is one character whose second byte is a backslash; 0x81 0x81
    // 0x81 0x41 is two characters, the second ending in 'A'.
    const char text[] = "a\x95\x5C" "b\x81\x81\x81\x41";
    EXPECT_FALSE(isSecondByte(text, 0));
    EXPECT_FALSE(isSecondByte(text, 1));
    EXPECT_TRUE(isSecondByte(text, 2));
    EXPECT_FALSE(isSecondByte(text, 3));
    EXPECT_TRUE(isSecondByte(text, 5));
    EXPECT_FALSE(isSecondByte(text, 6));
    EXPECT_TRUE(isSecondByte(text, 7));
    EXPECT_EQ(charAt(text + 1), 0x955C);
    EXPECT_EQ(charAt(text), 'a');
    EXPECT_EQ(charLen(text + 1), 2);
    EXPECT_EQ(charLen("\x81"), 1);  // a lead byte before the terminator
    const char cut[] = "\x81\x41";
    EXPECT_EQ(charLen(cut, cut + 1), 1);
    EXPECT_EQ(charLen(cut, cut + 2), 2);
    g_charSet = 0;
    EXPECT_FALSE(isSecondByte(text, 2));
    EXPECT_EQ(charAt(text + 1), 0x95);
}

TEST(Chars, CompareNoCase) {
    CharSetGuard guard;
    g_charSet = 's';
    EXPECT_EQ(compareNoCase("Hello", "hELLO"), 0);
    EXPECT_LT(compareNoCase("abc", "abd"), 0);
    EXPECT_GT(compareNoCase("abd", "ABC"), 0);
    EXPECT_LT(compareNoCase("ab", "abc"), 0);
    EXPECT_EQ(compareNoCase("C:\\Log.TXT", "c:\\log.txt"), 0);
    // A second byte equal to 'a' (0x61) is not the letter a: case counts there.
    EXPECT_NE(compareNoCase("\x82\x61", "\x82\x41"), 0);
    EXPECT_EQ(compareNoCase("\x82\x61x", "\x82\x61X"), 0);
    EXPECT_EQ(compareNoCase(nullptr, ""), 0);
    EXPECT_TRUE(equalsText("Log", "LOG", true));
    EXPECT_FALSE(equalsText("Log", "LOG", false));
    EXPECT_TRUE(equalsText("Log", "Log", false));
}

// Character classes and the double-byte rules of the console code page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

// UTF-8: every valid sequence is one character with its code point; a byte of
// no valid sequence is one character with the code 0xDC00 + byte.
TEST(Chars, Utf8SequencesAndInvalidBytes) {
    Restore<int> set(g_charSet, 'u');
    struct Case { std::string bytes; std::vector<int> codes; };
    const Case cases[] = {
        {"a\x7F", {'a', 0x7F}},
        {"\xC2\x80\xDF\xBF", {0x80, 0x7FF}},                   // the ends of the two-byte range
        {"\xE0\xA0\x80\xEF\xBF\xBF", {0x800, 0xFFFF}},         // three bytes
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", {0x10000, 0x10FFFF}},
        {"\xE3\x81\x82", {0x3042}},                            // hiragana a
        {"\xC0\x80", {0xDCC0, 0xDC80}},                        // overlong
        {"\xE0\x9F\xBF", {0xDCE0, 0xDC9F, 0xDCBF}},            // overlong three bytes
        {"\xED\xA0\x80", {0xDCED, 0xDCA0, 0xDC80}},            // a surrogate
        {"\xF4\x90\x80\x80", {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},  // above 10FFFF
        {"\xF5\x80", {0xDCF5, 0xDC80}},
        {"\xE3\x81", {0xDCE3, 0xDC81}},                        // cut off by the end
        {"\xE3\x81x", {0xDCE3, 0xDC81, 'x'}},
        {"\x80\xBF\xFF", {0xDC80, 0xDCBF, 0xDCFF}},
    };
    const LCharRules& r = charRules();
    for (const Case& c : cases) {
        // a buffer of exactly the text's size, so that a read past its end is caught
        std::unique_ptr<char[]> copy(new char[c.bytes.size()]);
        std::memcpy(copy.get(), c.bytes.data(), c.bytes.size());
        const char* p = copy.get();
        const char* end = p + c.bytes.size();
        std::vector<int> codes, starts;
        for (const char* q = p; q < end;) {
            int len = 0;
            codes.push_back(charCodeAt(r, q, end, &len));
            starts.push_back(static_cast<int>(q - p));
            q += len;
        }
        EXPECT_EQ(codes, c.codes) << c.bytes;
        // backward from every start gives the same characters
        std::vector<int> back;
        for (const char* q = end; q > p;) {
            int len = 0;
            back.insert(back.begin(), charCodeBefore(r, p, q, &len));
            q -= len;
        }
        EXPECT_EQ(back, c.codes) << c.bytes;
        // a position is inside a character exactly where no character starts
        for (int i = 0; i < static_cast<int>(c.bytes.size()); ++i) {
            const bool start = std::find(starts.begin(), starts.end(), i) != starts.end();
            EXPECT_EQ(isInsideChar(r, p, p + i, end), !start) << c.bytes << " at " << i;
            EXPECT_EQ(isSecondByte(c.bytes.c_str(), i), !start) << c.bytes << " at " << i;
        }
        // the codes give the bytes back
        std::string again;
        for (int code : codes) {
            char e[4];
            again.append(e, encodeChar(code, e));
        }
        EXPECT_EQ(again, c.bytes);
    }
    EXPECT_EQ(charLen("\xE3\x81"), 1);  // a NUL ends the sequence
    EXPECT_EQ(charAt("\xE5\xAE\x8C"), 0x5B8C);
}

TEST(Chars, CutOffEndsAndTheStartAfterAPosition) {
    struct Case { int set; const char* text; bool cutOff; };
    const Case cases[] = {
        {'u', "ab", false}, {'u', "\xE3\x81\x82", false}, {'u', "x\xE3\x81", true}, {'u', "x\xE3", true},
        {'u', "\xF0\x9F\x98", true}, {'u', "\xC0", false}, {'u', "\xE0\x80", false},  // never valid
        {'u', "\x81", false}, {'s', "a\x83", true}, {'s', "\x83\x83", false}, {'s', "\x83\x83\x83", true},
        {'a', "\x83", false},
    };
    for (const Case& c : cases) {
        Restore<int> set(g_charSet, c.set);
        EXPECT_EQ(endsCutOff(charRules(), c.text, static_cast<int>(std::strlen(c.text))), c.cutOff) << c.text;
    }
    Restore<int> set(g_charSet, 'u');
    const std::string t = "a\xE3\x81\x82" "b";
    EXPECT_EQ(charStartFrom(charRules(), t.data(), t.data() + 2, t.data() + t.size()), t.data() + 4);
    EXPECT_EQ(charStartFrom(charRules(), t.data(), t.data() + 4, t.data() + t.size()), t.data() + 4);
    g_charSet = 's';
    const std::string s = "\x83\x41\x83\x41";
    EXPECT_EQ(charStartFrom(charRules(), s.data(), s.data() + 1, s.data() + s.size()), s.data() + 2);
}

TEST(Chars, Utf8TokenRulesAndComparison) {
    Restore<int> set(g_charSet, 'u');
    EXPECT_TRUE(isLeadByte(0xE3));
    EXPECT_FALSE(isLeadByte(0x81));
    EXPECT_FALSE(isWordByte(0xB1));  // no half-width katakana byte in UTF-8
    EXPECT_EQ(compareNoCase("Ärger", "Ärger"), 0);
    EXPECT_EQ(compareNoCase("ÄRGER", "Ärger"), 0);
    EXPECT_NE(compareNoCase("é", "É"), 0);  // only ASCII letters fold
}

TEST(Chars, CharacterSetOfTheLocale) {
    struct Case { const char *all, *ctype, *lang; int set; };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 's'},
        {"", "", "C", 's'},
        {"", "", "POSIX", 's'},
        {"", "", "C.UTF-8", 'u'},
        {"", "", "ja_JP.UTF-8", 'u'},
        {"", "", "en_US.utf8", 'u'},
        {"", "", "de_DE.Utf-8@euro", 'u'},
        {"", "", "ja_JP.SJIS", 's'},
        {"", "", "ja_JP.eucJP", 's'},
        {"", "", "UTF-8", 's'},          // a codeset follows a dot
        {"", "", "x.utf88", 's'},
        {"C", "", "ja_JP.UTF-8", 's'},   // the first non-empty decides
        {"", "ja_JP.utf8", "C", 'u'},
        {nullptr, "C", "en_US.UTF-8", 's'},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(charSetForLocale(c.all, c.ctype, c.lang), c.set)
            << (c.all ? c.all : "-") << " " << (c.ctype ? c.ctype : "-") << " " << (c.lang ? c.lang : "-");
    }
}

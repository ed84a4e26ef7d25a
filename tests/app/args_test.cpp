// The argument readers: the tokenizer's quoting, escapes, separators and
// double-byte characters, name lists, switches, bounded numbers and the
// trailing-text warning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/args.h"
#include "base/chars.h"
#include "tests/support/msg_capture.h"

using vltest::MsgCapture;

namespace {

struct TokenCase {
    const char* text;
    const char* token;
    const char* rest;  // what the returned position points at
};

TEST(NextToken, QuotesSeparatorsAndEscapes) {
    const TokenCase cases[] = {
        {"", "", ""},
        {"   ", "", ""},
        {"open host", "open", "host"},
        {"\topen\t host", "open", " host"},  // one blank after the token is consumed
        {"a,b", "a", ",b"},                  // a comma ends a token and stays
        {",b", ",", "b"},                    // a leading comma is a token
        {" , b", ",", " b"},
        {"\"a b\" c", "a b", " c"},
        {"\"\" x", "", " x"},                // two quotes: the empty token
        {"//x", "", "x"},
        {"\"a\\\"b\"", "a\"b", ""},          // backslash-quote inside quotes
        {"\"a\\\\b\"", "a\\b", ""},          // two backslashes give one
        {"/#DONE\\/#/ rest", "#DONE\\/#", " rest"},  // slashes keep the backslash
        {"/a/b", "a", "b"},
        {"\"x,y\"z", "x,y", "z"},
    };
    for (const TokenCase& c : cases) {
        MsgCapture cap;
        LString tok;
        const char* rest = nextToken(c.text, tok);
        EXPECT_STREQ(tok.data(), c.token) << "text: " << c.text;
        EXPECT_STREQ(rest, c.rest) << "text: " << c.text;
        EXPECT_TRUE(cap.reports().empty()) << "text: " << c.text;
    }
}

TEST(NextToken, UnclosedQuoteReportsAndKeepsWhatWasRead) {
    {
        MsgCapture cap;
        LString tok;
        const char* text = "  \"abc";
        const char* rest = nextToken(text, tok);
        EXPECT_STREQ(tok.data(), "abc");
        EXPECT_EQ(*rest, '\0');
        ASSERT_EQ(cap.codes(), std::vector<int>{10012});
        EXPECT_EQ(cap.textOf(10012), "右側の「\"」がありません: \"abc");
    }
    {
        MsgCapture cap;
        LString tok;
        nextToken("/ab\\", tok);  // a backslash as the last byte
        EXPECT_STREQ(tok.data(), "ab\\");
        EXPECT_EQ(cap.textOf(10012), "右側の「/」がありません: /ab\\");
    }
}

TEST(NextToken, ShiftJisSecondByteIsNeverAQuoteOrBackslash) {
    const int saved = g_charSet;
    g_charSet = 's';
    // 0x95 0x5C is one character whose second byte is a backslash; 0x83 0x2F is
    // not valid Shift-JIS but shows that a lead byte takes the next byte along.
    const char text[] = "\"\x95\x5C\" next";
    LString tok;
    MsgCapture cap;
    const char* rest = nextToken(text, tok);
    EXPECT_EQ(std::string(tok.data(), tok.len()), "\x95\x5C");
    EXPECT_STREQ(rest, " next");
    const char slash[] = "/\x83/x/";
    rest = nextToken(slash, tok);
    EXPECT_EQ(std::string(tok.data(), tok.len()), "\x83/x");
    EXPECT_TRUE(cap.reports().empty());
    g_charSet = saved;
}

std::vector<std::string> items(const LStrList& l) {
    std::vector<std::string> v;
    for (int i = 0; i < l.count(); ++i) v.push_back(l[i]);
    return v;
}

TEST(ParseNameList, ItemsCommasAndWhatIsLeft) {
    const struct {
        const char* text;
        std::vector<std::string> items;
        const char* rest;
        bool error;
    } cases[] = {
        {"a, b ,c", {"a", "b", "c"}, "", false},
        {"a b", {"a"}, "b", false},
        {"x,y order 2", {"x", "y"}, "order 2", false},
        {"", {}, "", true},
        {"a,", {"a"}, "", true},
        {"\"a b\",c", {"a b", "c"}, "", false},
    };
    for (const auto& c : cases) {
        MsgCapture cap;
        LStrList list;
        const char* rest = parseNameList(c.text, list, "!cmd");
        EXPECT_EQ(items(list), c.items) << c.text;
        EXPECT_STREQ(rest, c.rest) << c.text;
        EXPECT_EQ(cap.textOf(10014) == "'!cmd' のパラメータがありません", c.error) << c.text;
    }
    MsgCapture cap;
    LStrList list;
    parseNameList("", list, nullptr);  // no command name: an empty list is fine
    EXPECT_TRUE(cap.reports().empty());
}

TEST(ParseSwitch, TokenValuesAndTrailingText) {
    const struct {
        const char* text;
        int value;
        std::vector<int> codes;
    } cases[] = {
        {"", 1, {}}, {"0", 0, {}}, {"1", 1, {}}, {"5", 1, {}}, {"0x0", 0, {}},
        {"abc", 0, {15000}}, {"0 1", 0, {30001}},
    };
    for (const auto& c : cases) {
        MsgCapture cap;
        EXPECT_EQ(parseSwitch(c.text), c.value) << c.text;
        EXPECT_EQ(cap.codes(), c.codes) << c.text;
    }
}

TEST(ParseNumberArg, BoundsKeepTheCurrentValue) {
    const struct {
        const char* text;
        int min, max, current, value;
        std::vector<int> codes;
    } cases[] = {
        {"14", 1, 255, 12, 14, {}},
        {"0x0E", 1, 255, 12, 14, {}},
        {"0", 1, 255, 12, 12, {10013}},
        {"", 0, 255, 22, 0, {}},  // an empty token reads as 0
        {"256", 0, 255, 22, 22, {10013}},
        {"3 x", 0, 255, 22, 3, {30001}},
    };
    for (const auto& c : cases) {
        MsgCapture cap;
        EXPECT_EQ(parseNumberArg(c.text, c.min, c.max, c.current), c.value) << c.text;
        EXPECT_EQ(cap.codes(), c.codes) << c.text;
    }
    MsgCapture cap;
    parseNumberArg("-7", 0, 9, 1);
    EXPECT_EQ(cap.textOf(10013), "数値が正しくありません: -7");
}

TEST(WarnTrailing, OnlyNonBlankRest) {
    MsgCapture cap;
    warnTrailing(" \t ");
    EXPECT_TRUE(cap.reports().empty());
    warnTrailing("  b c");
    EXPECT_EQ(cap.textOf(30001), "行末の余計な記述を無視します: 'b c'");
}

}  // namespace

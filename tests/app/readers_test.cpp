// The readers in process: the kinds of file and typed lines, the tokenizer's
// quoting, escapes, separators and double-byte characters, name lists,
// switches, bounded numbers and the trailing-text warning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/args.h"
#include "app/line_record.h"
#include "app/reader.h"
#include "base/chars.h"
#include "tests/support/msg_capture.h"

namespace {

using Codes = std::vector<int>;

std::string describe(const std::unique_ptr<LineRecord>& r) {
    return r ? std::string(1, r->kind()) + ":" + r->text().data() : "none";
}

TEST(Readers, FileAndTypedLineKinds) {
    const struct {
        const char *line, *file, *typed;
    } cases[] = {
        {"   hello", "G:hello", "g:hello"}, {"\t;x", "none", "g:;x"},      {"  \t", "none", "none"},
        {"!open h", "I:open h", "i:open h"}, {"!!wait 1", "W:wait 1", "w:wait 1"}, {"!send  two", "G: two", "g: two"},
        {"!send\tx", "G:x", "g:x"},        {"!send", "none", "none"},      {"!sendx", "I:sendx", "i:sendx"},
        {"!!send x", "W:send x", "w:send x"}, {"!", "none", "none"},       {"!!", "none", "none"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(describe(makeFileRecord(c.line)), c.file) << c.line;
        EXPECT_EQ(describe(makeConsoleRecord(c.line)), c.typed) << c.line;
    }
}

TEST(Readers, NextTokenQuotesSeparatorsAndEscapes) {
    const struct {
        const char *text, *token, *rest;  // rest: where the returned position points
        Codes codes{};
    } cases[] = {
        {"", "", ""},
        {"\topen\t host", "open", " host"},  // one blank after the token is consumed
        {"a,b", "a", ",b"},                  // a comma ends a token and stays
        {" , b", ",", " b"},                 // a leading comma is a token
        {"\"a b\" c", "a b", " c"},
        {"\"\" x", "", " x"},                // two quotes: the empty token
        {"//x", "", "x"},
        {"\"a\\\"b\"", "a\"b", ""},          // backslash-quote inside quotes
        {"\"a\\\\b\"", "a\\b", ""},          // two backslashes give one
        {"/#DONE\\/#/ rest", "#DONE\\/#", " rest"},  // slashes keep the backslash
        {"\"x,y\"z", "x,y", "z"},
        {"  \"abc", "abc", "", {10012}},     // unclosed: what was read, and an error
        {"/ab\\", "ab\\", "", {10012}},      // a backslash as the last byte
    };
    for (const auto& c : cases) {
        vltest::MsgCapture cap;
        LString tok;
        EXPECT_STREQ(nextToken(c.text, tok), c.rest) << c.text;
        EXPECT_STREQ(tok.data(), c.token) << c.text;
        EXPECT_EQ(cap.codes(), c.codes) << c.text;
    }
    vltest::MsgCapture cap;
    LString tok;
    nextToken("/ab\\", tok);
    EXPECT_EQ(cap.textOf(10012), "右側の「/」がありません: /ab\\");
}

TEST(Readers, ShiftJisSecondByteIsNeverAQuoteOrBackslash) {
    const int saved = g_charSet;
    g_charSet = 's';
    vltest::MsgCapture cap;
    LString tok;
    // 0x95 0x5C is one character whose second byte is a backslash; 0x83 0x2F is
    // not valid Shift-JIS but shows that a lead byte takes the next byte along.
    EXPECT_STREQ(nextToken("\"\x95\x5C\" next", tok), " next");
    EXPECT_EQ(std::string(tok.data(), tok.len()), "\x95\x5C");
    nextToken("/\x83/x/", tok);
    EXPECT_EQ(std::string(tok.data(), tok.len()), "\x83/x");
    EXPECT_TRUE(cap.reports().empty());
    g_charSet = saved;
}

TEST(Readers, NameLists) {
    const struct {
        const char* text;
        std::vector<std::string> items;
        const char* rest;
        Codes codes{};
    } cases[] = {
        {"a, b ,c", {"a", "b", "c"}, ""}, {"x,y order 2", {"x", "y"}, "order 2"}, {"\"a b\",c", {"a b", "c"}, ""},
        {"", {}, "", {10014}},           {"a,", {"a"}, "", {10014}},
    };
    for (const auto& c : cases) {
        vltest::MsgCapture cap;
        LStrList list;
        EXPECT_STREQ(parseNameList(c.text, list, "!cmd"), c.rest) << c.text;
        std::vector<std::string> items;
        for (int i = 0; i < list.count(); ++i) items.push_back(list[i]);
        EXPECT_EQ(items, c.items) << c.text;
        EXPECT_EQ(cap.codes(), c.codes) << c.text;
    }
    vltest::MsgCapture cap;
    LStrList list;
    parseNameList("", list, nullptr);  // no command name: an empty list is fine
    EXPECT_TRUE(cap.codes().empty());
}

TEST(Readers, SwitchesNumbersAndTrailingText) {
    const struct {
        const char* text;
        int value;
        Codes codes{};
    } switches[] = {{"", 1}, {"0", 0}, {"5", 1}, {"0x0", 0}, {"abc", 0, {15000}}, {"0 1", 0, {30001}}};
    for (const auto& c : switches) {
        vltest::MsgCapture cap;
        EXPECT_EQ(parseSwitch(c.text), c.value) << c.text;
        EXPECT_EQ(cap.codes(), c.codes) << c.text;
    }
    const struct {
        const char* text;
        int min, max, current, value;
        Codes codes{};
    } numbers[] = {
        {"0x0E", 1, 255, 12, 14}, {"0", 1, 255, 12, 12, {10013}}, {"", 0, 255, 22, 0},  // empty reads as 0
        {"256", 0, 255, 22, 22, {10013}}, {"3 x", 0, 255, 22, 3, {30001}},
    };
    for (const auto& c : numbers) {
        vltest::MsgCapture cap;
        EXPECT_EQ(parseNumberArg(c.text, c.min, c.max, c.current), c.value) << c.text;
        EXPECT_EQ(cap.codes(), c.codes) << c.text;
    }
    vltest::MsgCapture cap;
    warnTrailing(" \t ");  // blanks are no trailing text
    warnTrailing("  b c");
    EXPECT_EQ(cap.texts(), std::vector<std::string>{"30001 行末の余計な記述を無視します: 'b c'"});
}

}  // namespace

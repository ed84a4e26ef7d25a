// Text utilities: numbers, escapes, printable texts, paths, times, moves.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "base/chars.h"
#include "base/text.h"
#include "base_test_support.h"

TEST(ParseInt, InputsAndTheirErrors) {
    struct Case {
        const char* text;
        int allowedEnd, base, value;
        const char* shown;  // in the error, null when there is none
    };
    const Case cases[] = {
        {"0x1F", 0, 0, 31, nullptr},         {"0X1f", 0, 0, 31, nullptr},       {"0n101", 0, 0, 5, nullptr},
        {"-1,234", 0, 0, -1234, nullptr},    {"0j099", 0, 0, 99, nullptr},      {"12:", ':', 10, 12, nullptr},
        {"007", 0, 0, 7, nullptr},           {"0010", 0, 0, 10, nullptr},       {"0", 0, 0, 0, nullptr},
        {"", 0, 0, 0, nullptr},              {"-0x10", 0, 0, -16, nullptr},     {"1,000,000", 0, 0, 1000000, nullptr},
        {"ff", 0, 16, 255, nullptr},         {"4294967295", 0, 0, -1, nullptr}, {"2147483648", 0, 0, INT32_MIN, nullptr},
        // errors report the text from the digits on and keep the partial value
        {"12a", 0, 10, 12, "12a"},           {"abc", 0, 0, 0, "abc"},           {"0x1G", 0, 0, 1, "1G"},
        {"-00,5z", 0, 0, -5, ",5z"},         {"12:", 0, 10, 12, "12:"},  // the colon only when asked for
    };
    for (const Case& c : cases) {
        MsgCapture rec;
        EXPECT_EQ(parseInt(c.text, c.allowedEnd, c.base), c.value) << c.text;
        EXPECT_EQ(rec.texts(), c.shown ? Strings{std::string("15000 cannot analyze '") + c.shown + "' as a number"}
                                       : Strings{})
            << c.text;
    }
    MsgCapture rec;
    Restore<int> language(g_language, 'J');
    parseInt("x", 0, 10);
    EXPECT_EQ(rec.texts(), Strings{"15000 「x」を数値として解釈できません"});
}

TEST(ParseSize, Multipliers) {
    struct Case { const char* text; bool roundUp; int value; };
    const Case cases[] = {
        {"4k", false, 4096}, {"4k", true, 5119},     {"4K", false, 4096},         {"2m", false, 2097152},
        {"1g", false, 1073741824}, {"1g", true, 2147483647}, {"17", true, 17}, {"0x10k", false, 16384},
        {"1,024", false, 1024}, {"k", false, 0},
    };
    for (const Case& c : cases) {
        MsgCapture rec;
        EXPECT_EQ(parseSize(c.text, c.roundUp), c.value) << c.text << (c.roundUp ? " rounded up" : "");
        EXPECT_TRUE(rec.reports().empty()) << c.text;
    }
}

TEST(DecodeEscape, EveryEscapeAndItsWarnings) {
    struct Case {
        const char* after;
        const char* bytes;
        int bytesLen, consumed;
        const char* warning;  // "" for none
    };
    const Case cases[] = {
        {"\\", "\\", 1, 1, ""},   {"n", "\r\n", 2, 1, ""},  {"r", "\r", 1, 1, ""},
        {"t", "\t", 1, 1, ""},     {"a", "\a", 1, 1, ""},     {"e", "\x1B", 1, 1, ""},
        {"f", "\f", 1, 1, ""},     {"v", "\v", 1, 1, ""},     {"x41z", "A", 1, 3, ""},
        {"xfF", "\xFF", 1, 3, ""}, {"X8140", "\x81\x40", 2, 5, ""}, {"u00e9", "\x00\xE9", 2, 5, ""},
        {"q", "", 0, 0, ""},       {"", "", 0, 0, ""},        {"N", "", 0, 0, ""},
        {"xG1", "", 0, 0, "illegal escape: '\\x'+47+31"},
        {"x4", "", 0, 0, "illegal escape: '\\x'+34+00"},
        {"x", "", 0, 0, "illegal escape: '\\x'+00+00"},
        {"X12G4", "", 0, 0, "illegal escape: 'X12G4'"},
        {"u12", "", 0, 0, "illegal escape: 'u12'"},
    };
    for (const Case& c : cases) {
        MsgCapture rec;
        LString out;
        EXPECT_EQ(decodeEscape(c.after, out), c.consumed) << c.after;
        EXPECT_EQ(std::string(out.data(), out.len()), std::string(c.bytes, c.bytesLen)) << c.after;
        EXPECT_EQ(rec.texts(), *c.warning ? Strings{std::string("35000 ") + c.warning} : Strings{}) << c.after;
    }
}

TEST(Printable, Renderings) {
    struct Case { const char* text; const char* shown; };
    const Case cases[] = {
        {"abc_XYZ 019", "abc_XYZ 019"},
        {"a\r\n\tb", "a\\r\\n\\tb"},
        {"\x01\x1F\x7F\x80\xA0\xFE\xFF`", "\\x01\\x1F\\x7F\\x80\\xA0\\xFE\\xFF\\x60"},
        {"\x95\x5C", "\x95\x5C"},              // Shift-JIS character whose second byte is a backslash
        {"\x82\xA0", "\x82\xA0"},              // its second byte A0 stays too
        {"\x81\x1F", "\x81\\x1F"},             // no valid second byte: the lead byte alone
        {"\xB1\xFD!#", "\xB1\xFD!#"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_STREQ(printable(c.text).data(), c.shown) << c.text;
}

TEST(Printable, Utf8KeepsWholeCharactersAndShowsOtherBytes) {
    Restore<int> set(g_charSet, 'u');
    struct Case { const char* text; const char* shown; };
    const Case cases[] = {
        {"完了\r\n", "完了\\r\\n"},
        {"é\xA0", "é\\xA0"},                  // a continuation byte alone
        {"\xE3\x81x", "\\xE3\\x81x"},         // a cut-off sequence
        {"\xC0\x80\xFF", "\\xC0\\x80\\xFF"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) EXPECT_STREQ(printable(c.text).data(), c.shown) << c.text;
}

TEST(EscapeDecoding, Utf8CodePoints) {
    Restore<int> set(g_charSet, 'u');
    const struct { const char* after; const char* bytes; int consumed; } cases[] = {
        {"u3042", "あ", 5}, {"X00e9", "é", 5}, {"u0041", "A", 5}, {"xE3", "\xE3", 3}, {"uD800", "", 0},
    };
    for (const auto& c : cases) {
        MsgCapture rec;
        LString out;
        EXPECT_EQ(decodeEscape(c.after, out), c.consumed) << c.after;
        EXPECT_STREQ(out.data(), c.bytes) << c.after;
        EXPECT_EQ(rec.texts().size(), c.consumed ? 0u : 1u) << c.after;
    }
}

TEST(TextUtilities, NameAndDirectoryOfPaths) {
    struct Case { const char* path; const char* name; const char* dir; };
    const Case cases[] = {
        {"dir/sub/file.txt", "file.txt", "dir/sub/"},
        {"c:\\logs\\a.log", "a.log", "c:\\logs\\"},
        {"plain", "plain", ""},
        {"dir//x", "x", "dir//"},
        {"dir/", "", "dir/"},
        {"C:name", "C:name", "C:.\\"},
        {"\x95\x5C" "x", "\x95\x5C" "x", ""},  // the backslash is a second byte, not a separator
        {"/abs", "abs", "/"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(nameOf(c.path), c.name) << c.path;
        EXPECT_STREQ(dirOf(c.path).data(), c.dir) << c.path;
    }
}

TEST(TextUtilities, TimesAndCounts) {
    const std::string stamp = formatLocalTime(now()).data();
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)"))) << stamp;
    EXPECT_STREQ(formatLocalTime(INT64_MAX).data(), "(time-error)");
    const char wide[] = {'a', 0, '\n', 0, 'b', 0, '\n', 0};
    EXPECT_EQ(countPair('\n', 0, wide, 8), 2);
    EXPECT_EQ(countPair('\n', 0, wide, 7), 1);  // the last pair would need byte 8
    EXPECT_EQ(countByte('\n', wide, 8), 2);
}

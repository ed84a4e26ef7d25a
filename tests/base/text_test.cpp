// Text utilities: numbers, escapes, printable texts, paths, times, moves.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "base/chars.h"
#include "base/text.h"
#include "base_test_support.h"

TEST(ParseInt, AcceptedInputs) {
    struct Case {
        const char* text;
        int allowedEnd, base, value;
    };
    const Case cases[] = {
        {"0x1F", 0, 0, 31},  {"0X1f", 0, 0, 31},   {"0n101", 0, 0, 5},      {"-1,234", 0, 0, -1234},
        {"0j099", 0, 0, 99}, {"12:", ':', 10, 12}, {"007", 0, 0, 7},        {"0", 0, 0, 0},
        {"", 0, 0, 0},       {"-0x10", 0, 0, -16}, {"1,000,000", 0, 0, 1000000}, {"ff", 0, 16, 255},
        {"0010", 0, 0, 10},  {"4294967295", 0, 0, -1}, {"2147483648", 0, 0, INT32_MIN},
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        EXPECT_EQ(parseInt(c.text, c.allowedEnd, c.base), c.value) << c.text;
        EXPECT_TRUE(rec.reports().empty()) << c.text;
    }
}

TEST(ParseInt, ErrorsReportTheTextAndKeepThePartialValue) {
    struct Case {
        const char* text;
        int base, value;
        const char* shown;
    };
    const Case cases[] = {
        {"12a", 10, 12, "12a"}, {"abc", 0, 0, "abc"}, {"0x1G", 0, 1, "1G"}, {"-00,5z", 0, -5, ",5z"},
        {"12:", 10, 12, "12:"},  // the colon is allowed only when asked for
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        EXPECT_EQ(parseInt(c.text, 0, c.base), c.value) << c.text;
        ASSERT_EQ(rec.reports().size(), 1u) << c.text;
        EXPECT_EQ(rec.reports()[0].code, 15000);
        EXPECT_EQ(rec.reports()[0].text, std::string("cannot analyze '") + c.shown + "' as a number");
    }
    RecordingGuard rec;
    setLanguage('J');
    parseInt("x", 0, 10);
    setLanguage('E');
    EXPECT_EQ(rec.reports().at(0).text, "「x」を数値として解釈できません");
}

TEST(ParseSize, Multipliers) {
    struct Case {
        const char* text;
        bool roundUp;
        int value;
    };
    const Case cases[] = {
        {"4k", false, 4096}, {"4k", true, 5119},     {"4K", false, 4096},         {"2m", false, 2097152},
        {"1g", false, 1073741824}, {"1g", true, 2147483647}, {"17", true, 17}, {"0x10k", false, 16384},
        {"1,024", false, 1024}, {"k", false, 0},
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        EXPECT_EQ(parseSize(c.text, c.roundUp), c.value) << c.text << (c.roundUp ? " rounded up" : "");
        EXPECT_TRUE(rec.reports().empty()) << c.text;
    }
}

TEST(DecodeEscape, EveryEscape) {
    struct Case {
        const char* after;
        const char* bytes;
        int bytesLen, consumed;
    };
    const Case cases[] = {
        {"\\", "\\", 1, 1},   {"n", "\r\n", 2, 1},  {"r", "\r", 1, 1},    {"t", "\t", 1, 1},
        {"a", "\a", 1, 1},    {"e", "\x1B", 1, 1},  {"f", "\f", 1, 1},    {"v", "\v", 1, 1},
        {"x41z", "A", 1, 3},  {"xfF", "\xFF", 1, 3}, {"X8140", "\x81\x40", 2, 5}, {"u00e9", "\x00\xE9", 2, 5},
        {"q", "", 0, 0},      {"", "", 0, 0},       {"N", "", 0, 0},
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        LString out;
        EXPECT_EQ(decodeEscape(c.after, out), c.consumed) << c.after;
        EXPECT_EQ(std::string(out.data(), out.len()), std::string(c.bytes, c.bytesLen)) << c.after;
        EXPECT_TRUE(rec.reports().empty()) << c.after;
    }
}

TEST(DecodeEscape, MalformedHexEscapesWarn) {
    struct Case {
        const char* after;
        const char* warning;
    };
    const Case cases[] = {
        {"xG1", "illegal escape: '\\x'+47+31"},
        {"x4", "illegal escape: '\\x'+34+00"},
        {"x", "illegal escape: '\\x'+00+00"},
        {"X12G4", "illegal escape: 'X12G4'"},
        {"u12", "illegal escape: 'u12'"},
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        LString out;
        EXPECT_EQ(decodeEscape(c.after, out), 0) << c.after;
        EXPECT_TRUE(out.empty());
        ASSERT_EQ(rec.reports().size(), 1u) << c.after;
        EXPECT_EQ(rec.reports()[0].code, 35000);
        EXPECT_EQ(rec.reports()[0].text, c.warning);
    }
}

TEST(Printable, Renderings) {
    struct Case {
        const char* text;
        const char* shown;
    };
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

TEST(TextUtilities, NameAndDirectoryOfPaths) {
    struct Case {
        const char* path;
        const char* name;
        const char* dir;
    };
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

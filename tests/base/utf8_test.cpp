// Text turned into UTF-8 from each character set, with U+FFFD for every byte
// that does not convert.
#include <gtest/gtest.h>

#include <string>

#include "base/chars.h"
#include "base/utf8.h"
#include "base_test_support.h"

namespace {
const std::string kFffd = "\xEF\xBF\xBD";

std::string converted(LUtf8Converter& c, const std::string& in) {
    std::string out;
    c.append(in.data(), static_cast<int>(in.size()), out);
    return out;
}
}  // namespace

TEST(Utf8, EachCharacterSet) {
    struct Case {
        int set;
        std::string in, out;
    };
    const Case cases[] = {
        {'s', "plain \"ascii\"", "plain \"ascii\""},
        {'s', "\x83\x41", "\xE3\x82\xA2"},                    // ア
        {'s', "\xB1", "\xEF\xBD\xB1"},                        // half-width ｱ
        {'s', "\x87\x40", "\xE2\x91\xA0"},                    // ① (a row Shift-JIS proper lacks)
        {'s', "a\xFF" "b", "a" + kFffd + "b"},                // no such byte
        {'s', "\x83", kFffd},                                 // a lead byte at the end
        {'s', "\x83\x41\x83", "\xE3\x82\xA2" + kFffd},
        {'e', "\xA5\xA2", "\xE3\x82\xA2"},                    // ア in EUC-JP
        {'e', "\xA5", kFffd},
        {'u', "\xE3\x82\xA2", "\xE3\x82\xA2"},                // valid UTF-8 as it is
        {'u', "\xC0\x80", kFffd + kFffd},                     // overlong
        {'u', "\xED\xA0\x80", kFffd + kFffd + kFffd},         // a surrogate
        {'u', "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // above U+10FFFF
        {'u', "\xE3\x82", kFffd + kFffd},                     // cut short
        {'u', "\x80x", kFffd + "x"},                          // a stray continuation byte
        {'u', "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {0, "\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},                // single-byte: ISO 8859-1
    };
    for (const Case& c : cases) {
        Restore<int> set(g_charSet, c.set);
        LUtf8Converter conv;
        EXPECT_EQ(converted(conv, c.in), c.out) << char(c.set) << " " << c.in;
    }
}

// One converter follows the character set in force at each call, and a long
// text converts whole.
TEST(Utf8, TheSetInForceAtEachCallAndALongText) {
    LUtf8Converter conv;
    Restore<int> set(g_charSet, 's');
    EXPECT_EQ(converted(conv, "\x83\x41"), "\xE3\x82\xA2");
    g_charSet = 'e';
    EXPECT_EQ(converted(conv, "\xA5\xA2"), "\xE3\x82\xA2");
    g_charSet = 's';
    std::string in, want;
    for (int i = 0; i < 3000; ++i) in += "\x83\x41" "x", want += "\xE3\x82\xA2" "x";
    EXPECT_EQ(converted(conv, in), want);
}

// The search: nth modes and offsets, rexFind and its window, and a comparison
// of the shortcuts with the plain search over many patterns and texts. (Starts
// on character boundaries and the filter's rows are in the match table.)
#include <gtest/gtest.h>

#include <random>

#include "rex_support.h"

namespace {

#define A_ "\x83\x41"  // katakana a; its second byte is "A"

struct ModeCase {
    const char* pattern;
    std::string text;
    int nth;
    int at;      // return value of find
    int start;   // matchStart offset (-1: null)
    int length;
    int from = 0, lastStart = -1;
};

const ModeCase kModes[] = {
    {"ab", "ab ab ab", 1, 0, 0, 2},
    {"ab", "ab ab ab", 2, 3, 3, 2},
    {"ab", "ab ab ab", 3, 6, 6, 2},
    {"ab", "ab ab ab", 4, -1, 6, 2},   // fewer than nth: -1, matchStart is the last found
    {"ab", "xx ab", 2, -1, 3, 2},
    {"ab", "ab ab ab", 0, 6, 6, 2},    // last start
    {"ab", "ab ab ab", -1, 6, 6, 2},
    {"a+", "aaa", -2, 0, 0, 3},        // furthest end, earliest start among equal ends
    {"a+", "aaa", 0, 2, 2, 1},
    {"a+|b+", "aab bbbb", -2, 4, 4, 4},
    {"x*", "ab", 0, 2, 2, 0},          // an empty match at the end of the text
    {"zz", "ab", 1, -1, -1, 0},
    {"zz", "ab", -2, -1, -1, 0},
    // runs of lead bytes: pairs 83 83, 83 83, then a lone 83 at the very end
    {"\\x83", std::string(120, 'x') + "\x83\x83\x83\x83\x83", 0, 124, 124, 1},
    // the offsets: starts from `from` up to lastStart; a match may run past lastStart
    {"ab", "ab ab ab", 1, 3, 3, 2, 1},
    {"ab", "ab ab ab", 1, 6, 6, 2, 4},
    {"ab", "ab ab ab", 1, -1, -1, 0, 7},
    {"ab", "ab ab ab", 0, 3, 3, 2, 0, 5},
    {"ab", "xab", 1, 1, 1, 2, 0, 1},
};

TEST(RexSearch, NthModes) {
    for (const ModeCase& c : kModes) {
        for (bool shortcuts : {true, false}) {
            auto rex = rexCompile(c.pattern, 0);
            const FindResult r = findIn(rex.get(), c.text, c.nth, shortcuts, c.from, c.lastStart);
            SCOPED_TRACE(std::string(c.pattern) + " nth " + std::to_string(c.nth));
            EXPECT_EQ(r.at, c.at);
            EXPECT_EQ(r.start, c.start);
            EXPECT_EQ(r.length, c.length);
        }
    }
}

TEST(RexSearch, RexFind) {
    auto rex = rexCompile("#END#", 0);
    const LString text("abc#END#\r\n");
    int len = -1;
    const char* at = rexFind(text, rex.get(), &len, 1);
    ASSERT_EQ(at, text.data() + 3);
    EXPECT_EQ(len, 5);
    EXPECT_EQ(rexFind(text, nullptr, &len, 1), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(rexFind(LString("abc"), rex.get(), nullptr, 1), nullptr);
    // 200 bytes with the marker at the very end: found through the filter tables
    std::string big(195, 'x');
    big += "#END#";
    const LString bigText(big.data(), static_cast<int>(big.size()));
    EXPECT_EQ(rexFind(bigText, rex.get(), &len, 1), bigText.data() + 195);
    // a wholly illegal pattern and the empty one never match
    Warnings w;
    auto bad = rexCompile("*", 0);
    EXPECT_EQ(rexFind(LString("***"), bad.get(), nullptr, 1), nullptr);
    EXPECT_EQ(rexFind(LString("***"), rexCompile("", 0).get(), nullptr, 1), nullptr);
}

TEST(RexSearch, WindowIsNotReadPastItsEnd) {
    // the window's bytes are followed by more text that must not be seen
    const char buffer[] = "log: #END# more #END#";
    auto rex = rexCompile("#END#", 0);
    int len = 0;
    EXPECT_EQ(rexFind(buffer, 8, rex.get(), &len, 1), nullptr);
    EXPECT_EQ(rexFind(buffer, 10, rex.get(), &len, 1), buffer + 5);
    auto end = rexCompile("#END#$", 0);
    EXPECT_EQ(rexFind(buffer, 10, end.get(), &len, 1), buffer + 5);
    // a lead byte as the last byte of the window is one character by itself
    const char sjis[] = "ab\x83\x41";
    auto any = rexCompile("b.$", 0);
    EXPECT_EQ(rexFind(sjis, 3, any.get(), &len, 1), sjis + 1);
    EXPECT_EQ(len, 2);
}

// ---- the shortcuts select exactly what the plain search selects ----

const char* const kDiffPatterns[] = {
    "#END#", "[a-z]+> $", "\\w+@\\w+", "{@ic}login:", ".*#END#", "\x8a\xae\x97\xb9",
    "a*", "a+?b", "(a|ab)*c", "(?:ab|a)*?b", "x{2,3}", "x{0}", "(a*)*", "[^\\n]*\\n",
    "(?>a*)b", "(?<=a)b+", "(?<!\\d)\\d+", "\\b\\w+\\b", "(?topl)#", "#(?endl)", "[\\n]+",
    "{@ign( )}ab", "x(?:{@ign(-)}ab)", ".", "..", "[^a]b", "(a)\\1", "\\d{2,}", "a|b|c",
    "(?cx:a)+", "\\B.", "\\cab", "a.*?b", "[" A_ "-\x83\x93]+", "{@iz}abc", "{@ic}[a-c]+",
    "\\s+\\S", ".?.?.?x", "(?:a|)+b", "(a|b)*?c", "$", "^a", "(?=a)\\w\\w", "{@ic}\x82\x81",
    "(?>[a-z]+)>", "x(?>a*b)", "[a-c]{2,3}b", "\\d+\\n", "[^#]+#", "[a-c]{2,}x", "[^ ]+ $", "\\w*@",
    "\\S{3}E", "[a-z]+\\r", ".+N", "[^\\n]{2,4}\\n",
};

std::string randomText(std::mt19937& rng, int length) {
    static const char alphabet[] = "aabbcx#END #\r\n\n>@-_1 2 login:LOGIN:\x83\x41\x82\x81\x8a\xae\x97\xb9\x83";
    std::string s;
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof alphabet) - 2);
    for (int i = 0; i < length; ++i) s += alphabet[pick(rng)];
    return s;
}

TEST(RexSearch, ShortcutsSelectThePlainResult) {
    std::mt19937 rng(4);
    const int modes[] = {1, 2, 3, 0, -1, -2};
    for (int charSet : {'s', 'a'}) {
        CharSetGuard cs(charSet);
        Warnings w;
        for (const char* pattern : kDiffPatterns) {
            auto rex = rexCompile(pattern, 0);
            auto bounded = rexCompile(pattern, rexTypeBoundary);
            for (int round = 0; round < 14; ++round) {
                const int length = round < 8 ? round * 3 : 60 + round * 6;
                const std::string text = randomText(rng, length);
                for (int nth : modes) {
                    for (LRex* r : {rex.get(), bounded.get()}) {
                        const FindResult fast = findIn(r, text, nth, true);
                        const FindResult plain = findIn(r, text, nth, false);
                        ASSERT_EQ(fast, plain) << "pattern " << pattern << " nth " << nth << " text "
                                               << text.size() << " bytes, charset " << char(charSet);
                    }
                }
            }
        }
    }
}

}  // namespace

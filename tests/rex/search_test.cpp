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

TEST(RexSearch, RexFindAndItsWindow) {
    const std::string log = "log: #END# more #END#";
    const struct { const char* pattern; std::string text; int window, at, length; } cases[] = {
        {"#END#", "abc#END#\r\n", -1, 3, 5},
        {"#END#", "abc", -1, -1, 0},
        {"#END#", std::string(195, 'x') + "#END#", -1, 195, 5},  // found through the filter tables
        {"", "***", -1, -1, 0},   // the empty pattern gives no tree: nothing matches, length 0
        {"*", "***", -1, -1, 0},  // nor does a wholly illegal one
        // a window's bytes are followed by more text that must not be seen
        {"#END#", log, 8, -1, 0},
        {"#END#", log, 10, 5, 5},
        {"#END#$", log, 10, 5, 5},
        {"b.$", "ab\x83\x41", 3, 1, 2},  // a lead byte as the last byte of the window is one character by itself
    };
    for (const auto& c : cases) {
        Warnings w;
        auto rex = rexCompile(c.pattern, 0);
        const LString text(c.text.data(), static_cast<int>(c.text.size()));
        int len = -1;
        const char* at = c.window < 0 ? rexFind(text, rex.get(), &len, 1)
                                      : rexFind(text.data(), c.window, rex.get(), &len, 1);
        EXPECT_EQ(at ? at - text.data() : -1, c.at) << c.pattern << " in " << c.text;
        if (c.at >= 0 || !rex) { EXPECT_EQ(len, c.length) << c.pattern << " in " << c.text; }
    }
    const LString xab("xab");
    EXPECT_EQ(rexFind(xab, rexCompile("b", 0).get(), nullptr, 1), xab.data() + 2);  // no length wanted
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
    // UTF-8 texts in the other sets are bytes
    "あ+", "[あ-ん]+x", "{@ic}ａ", ".あ", "(?<=あ)x", "[^あ]+", "\\W+", "é.", "{@iz}[a]",
};

std::string randomText(std::mt19937& rng, int length) {
    static const char alphabet[] = "aabbcx#END #\r\n\n>@-_1 2 login:LOGIN:\x83\x41\x82\x81\x8a\xae\x97\xb9\x83";
    // whole UTF-8 characters, cut-off and invalid ones among them
    static const char* const pieces[] = {"あ", "ん", "é", "ａ", "Ａ", "\xE3\x81", "\xFF", "\x82", "完了"};
    std::string s;
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof alphabet) - 2), piece(0, 8), odds(0, 4);
    while (static_cast<int>(s.size()) < length) {
        if (odds(rng) == 0) {
            s += pieces[piece(rng)];
        } else {
            s += alphabet[pick(rng)];
        }
    }
    s.resize(length);
    return s;
}

TEST(RexSearch, ShortcutsSelectThePlainResult) {
    std::mt19937 rng(4);
    const int modes[] = {1, 2, 3, 0, -1, -2};
    for (int charSet : {'s', 'a', 'u'}) {
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

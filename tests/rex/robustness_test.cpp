// Patterns that could exhaust the stack (deep nesting, very long sequences and
// alternations, long runs of directives) and the argument filter.
#include <gtest/gtest.h>

#include "base/larray.h"
#include "rex/compile.h"
#include "rex_support.h"

namespace {

TEST(RexNesting, TooDeepGivesUpWithOneWarning) {
    for (int depth : {1001, 10000, 100000}) {
        const std::string pattern = repeat("(", depth) + "a" + repeat(")", depth);
        Warnings w;
        auto rex = rexCompile(pattern.c_str(), 0);
        ASSERT_EQ(w.reports().size(), 1u);
        EXPECT_EQ(w.joined().rfind("35000: regular expression too deeply nested: '((((", 0), 0u);
        EXPECT_EQ(rex->kind(), 2);
        EXPECT_EQ(findIn(rex.get(), "a", 1).at, -1);
    }
    // unbalanced, and through lookarounds and ignore patterns
    for (const char* unit : {"(?:", "(?=", "{@ign(", "(?>a|"}) {
        const std::string pattern = repeat(unit, 5000);
        Warnings w;
        auto rex = rexCompile(pattern.c_str(), 0);
        EXPECT_EQ(w.reports().size(), 1u) << unit;
    }
}

std::string alternatives(int n) {
    std::string pattern;
    for (int i = 0; i < n; ++i) pattern.append(i ? "|k" : "k").append(std::to_string(i)).append(";");
    return pattern;
}

TEST(RexNesting, LongAndDeepPatternsWithinTheLimitsWork) {
    const struct { std::string pattern, text; int at, length; } cases[] = {
        {repeat("(", 1000) + "a" + repeat(")", 1000) + "b", "xab", 1, 2},
        {repeat("(?:x|", 300) + "a" + repeat(")*", 300), "aa", 0, 2},  // alternations and repetitions nested deep
        {alternatives(100000), std::string(200, '-') + "k99999;", 200, 7},
        // no literal merging under an ignore pattern: one node per character
        {repeat("\\d", 100000), std::string("x").append(100000, '7'), 1, 100000},
        {repeat("\\d", 100000), "123", -1, 0},
        {std::string("{@ign(-)}").append(100000, 'a'), std::string("a-").append(99999, 'a'), 0, 100001},
        {std::string("(?<=").append(repeat("\\d", 20000)).append(")x"), std::string(20000, '1') + "x", 20000, 1},  // backward through a long chain
        {repeat("{@ic}", 100000) + "a", "A", 0, 1},  // directives one after another
    };
    for (const auto& c : cases) {
        Warnings w;
        auto rex = rexCompile(c.pattern.c_str(), 0);
        const FindResult r = findIn(rex.get(), c.text, 1);
        EXPECT_EQ(r.at, c.at) << c.pattern.substr(0, 40);
        if (c.at >= 0) { EXPECT_EQ(r.length, c.length) << c.pattern.substr(0, 40); }
        EXPECT_EQ(w.joined(), "") << c.pattern.substr(0, 40);
    }
    // a dump shows the depth, and a long chain is written without recursion
    auto deep = rexCompile(cases[0].pattern.c_str(), 0);
    EXPECT_NE(dumpOf(deep.get()).find(std::string(1001, ' ') + "flat: btc=0 {a} len=1\n"), std::string::npos);
    auto chain = rexCompile(repeat("\\d", 3000).c_str(), 0);
    EXPECT_GT(dumpOf(chain.get()).size(), 3000u * 3000u / 2);
}

// ---- the argument filter ----

std::vector<std::string> filtered(std::initializer_list<const char*> in) {
    LStrList args;
    for (const char* a : in) args.add(a);
    filterArguments(args);
    std::vector<std::string> out;
    for (int i = 0; i < args.count(); ++i) out.push_back(args[i]);
    return out;
}

using Args = std::vector<std::string>;

TEST(RexArgumentFilter, Examples) {
    CharSetGuard cs('s');
    Warnings w;
    EXPECT_EQ(filtered({"a.txt", "b.log", "-lro:\\.txt$"}), (Args{"a.txt"}));
    EXPECT_EQ(filtered({"a.txt", "b.log", "-lrx:^b"}), (Args{"a.txt"}));
    EXPECT_EQ(filtered({"a.txt", "b.log", "-lfx", "A.TXT"}), (Args{"b.log"}));
    EXPECT_EQ(filtered({"-o", "a.txt", "/LRO:a", "bx"}), (Args{"-o", "a.txt"}));
    EXPECT_EQ(filtered({"a", "b", "-lro:a|b", "-lrx:b"}), (Args{"a"}));
    EXPECT_EQ(filtered({"a", "b"}), (Args{"a", "b"}));
    EXPECT_EQ(filtered({"a", "-lfx"}), (Args{"a", "-lfx"}));  // a lone -lfx stays
    EXPECT_EQ(w.joined(), "");
}

TEST(RexArgumentFilter, CharacterSetAndWarnings) {
    CharSetGuard cs('s');
    {
        Warnings w;
        EXPECT_EQ(filtered({"x", "-lfx", "-LFX", "y"}), (Args{"x"}));
        EXPECT_EQ(w.joined(), "35000: ignore duplicated -lfx");
    }
    {
        Warnings w;
        EXPECT_EQ(filtered({"x", "-chrset:9"}), (Args{"x"}));
        EXPECT_EQ(w.joined(), "35000: unknown -chrset value: '9'");
        EXPECT_EQ(g_charSet, 's');
    }
    // the pattern is compiled before -chrset:0 and matched after it
    EXPECT_EQ(filtered({"\x83\x41", "b", "-lro:A", "-chrset:0"}), (Args{"\x83\x41"}));
    EXPECT_EQ(g_charSet, 'a');
    EXPECT_EQ(filtered({"-chrset:1", "\x83\x41", "-lro:A"}), (Args{}));
    EXPECT_EQ(g_charSet, 's');
}

TEST(RexArgumentFilter, StepLimitAppliesToItsSearchesAndStaysForTheProgram) {
    const int old = rexStepLimit();
    Warnings w;
    const std::string slow = std::string(30, 'a') + " b";
    EXPECT_EQ(filtered({slow.c_str(), "ab", "-lro:(a+)+b", "-rxsteps:2k"}), (Args{"ab", "-rxsteps:2k"}));
    EXPECT_EQ(w.joined(), "35000: regular expression gave up after 2048 steps: '(a+)+b'");
    EXPECT_EQ(rexStepLimit(), 2048);
    filtered({"-rxsteps:many"});  // left for the program to report
    EXPECT_EQ(rexStepLimit(), 2048);
    rexSetStepLimit(old);
}

}  // namespace

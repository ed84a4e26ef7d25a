// The work a search may do: ordinary patterns over 64 KiB stay far below the
// step limit, pathological ones give up with one warning per tree and no
// match, and a repetition whose replayed way no longer matches has no further
// way instead of ending the process.
#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "rex/plan.h"
#include "rex_support.h"

namespace {

// A 64 KiB text of shell and device output ending in tail.
std::string deviceText(const std::string& tail, unsigned seed) {
    static const char* const words[] = {"interface", "eth0", "status", "up", "down", "packets", "errors", "1532",
                                        "root@host:~#", "Login:", "a", "aaaa", "bytes", "#", "END", "\x83\x41"};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, 15);
    std::string s;
    while (s.size() < 65536 - tail.size()) {
        s += words[pick(rng)];
        s += pick(rng) < 3 ? "\r\n" : " ";
    }
    s.resize(65536 - tail.size());
    return s + tail;
}

struct Ordinary {
    const char* pattern;
    const char* tail;  // what ends the text ("" no match)
    bool found;
};

const Ordinary kOrdinary[] = {
    {"#END#", "#END#", true},
    {"#END#", "", false},
    {"[a-z]+> $", "router> ", true},
    {"[$#>] $", "", false},
    {"\\w+@\\w+", "admin@example", true},
    {"{@ic}login:", "", true},
    {".*#END#", "", false},
    {"(.*)#END#", "#END#", true},
    {"(?topl)[^\\n]*done\\n", "", false},
    {"\\d+ packets", "", true},
    {"(\\w+) (\\w+) \\1", "", true},
    {"(?:error|fail(ed|ure))", "", true},
    {"{@ign( )}#END#", "", true},
    {"[^#]*#END#", "", false},
    {"(\\S+)\\s+up", "", true},
    {"a*a*b", "", true},
};

TEST(RexBudget, OrdinaryPatternsOver64KiBStayFarBelowTheLimit) {
    Warnings w;
    int seed = 1;
    for (const Ordinary& o : kOrdinary) {
        auto rex = rexCompile(o.pattern, 0);
        const std::string text = deviceText(o.tail, seed++);
        LRexSearch s(rex.get());
        const int at = s.find(text.data(), -1, static_cast<int>(text.size()), 1, 0);
        EXPECT_EQ(at >= 0, o.found) << o.pattern;
        EXPECT_FALSE(s.gaveUp) << o.pattern;
        EXPECT_LT(s.stepsTaken, kRexDefaultStepLimit / 20) << o.pattern;
        // Nor does such a search come near the pauses of a runaway one.
        EXPECT_LT(s.stepsTaken, LRexCursor::kStepsBeforeThrottling / 2) << o.pattern;
    }
    EXPECT_EQ(w.joined(), "");
}

TEST(RexBudget, AnExhaustedBudgetIsNoMatchWithOneWarningPerTree) {
    const std::string text = std::string(30, 'a') + " b";  // holds the b, so every start is tried
    CharSetGuard cs('s');
    Warnings w;
    auto rex = rexCompile("(a+)+b", 0);
    for (int round = 0; round < 3; ++round) {
        LRexSearch s(rex.get());
        s.stepLimit = 100000;
        EXPECT_EQ(s.find(text.data(), -1, static_cast<int>(text.size()), 1, 0), -1);
        EXPECT_TRUE(s.gaveUp);
        EXPECT_EQ(s.matchStart, nullptr);
    }
    EXPECT_EQ(w.joined(), "35000: regular expression gave up after 100000 steps: '(a+)+b'");
    // rexFind under the process-wide limit, with another tree of the same
    // text: a warning of its own
    const int old = rexStepLimit();
    rexSetStepLimit(5000);
    auto again = rexCompile("(a+)+b", 0);
    EXPECT_EQ(rexFind(text.data(), static_cast<int>(text.size()), again.get(), nullptr, 1), nullptr);
    rexSetStepLimit(old);
    ASSERT_EQ(w.reports().size(), 2u);
    EXPECT_NE(w.reports()[1].text.find(" 5000 "), std::string::npos);
}

TEST(RexBudget, RequiredLiteralIsCheckedBeforeAnyStep) {
    // (a+)+b on a text without b is answered at once, also when every match
    // could start with one byte only.
    for (const char* pattern : {"(a+)+b", "(a+)*b", "(?:a|aa)+b", "x(a+)+b"}) {
        auto rex = rexCompile(pattern, 0);
        const std::string text = "x" + std::string(40, 'a');
        LRexSearch s(rex.get());
        s.stepLimit = 1000;
        EXPECT_EQ(s.find(text.data(), -1, static_cast<int>(text.size()), 1, 0), -1) << pattern;
        EXPECT_FALSE(s.gaveUp) << pattern;
        EXPECT_EQ(s.stepsTaken, 0) << pattern;
    }
}

// ---- a replayed way that no longer matches ----

// A body that gives a different answer when replayed: its sixth call fails.
class FlakyRex : public LRex {
public:
    void reset() override {}
    int match(LRexCursor& cur, int) override {
        if (++total_ >= 6) return 0;
        cur.pos += 1;
        return 1;
    }
    void dump(LString& out, int depth) const override {
        out.appendChar(' ', depth);
        out.append("flaky\n");
    }

private:
    int total_ = 0;
};

TEST(RexBudget, AReplayThatNoLongerMatchesIsNoFurtherWay) {
    Restore<bool> plain(g_rexShortcuts, false);
    LRexContext ctx;
    LRepRex rep(ctx, std::unique_ptr<LRex>(new FlakyRex), 0, 3, 0);
    LString text("aaaaaa");
    LRexCursor cur(text.data(), text.len(), nullptr);
    EXPECT_EQ(rep.match(cur, 0), 1);  // three iterations
    EXPECT_EQ(cur.pos, text.data() + 3);
    cur.pos = text.data();
    EXPECT_EQ(rep.match(cur, 0), 0);  // the replay of the first iteration fails
    EXPECT_EQ(cur.pos, text.data());
    EXPECT_EQ(rep.match(cur, 0), 0);  // and stays without a way
}

TEST(RexBudget, SelfReferenceInARepetitionIsAnswered) {
    // The reference changes what an earlier iteration matched, so a replayed way
    // differs from the way first found.
    Warnings w;
    const struct { const char* text; int at; } cases[] = {{"aaa", -1}, {"aaax", 0}, {"aax aaa", 0}};
    for (const auto& c : cases) {
        for (bool shortcuts : {true, false}) {
            auto rex = rexCompile("(a\\1?)*x", 0);
            EXPECT_EQ(findIn(rex.get(), c.text, 1, shortcuts).at, c.at) << c.text;
        }
    }
}

}  // namespace

namespace {

// ---- threads: different trees at the same time ----

TEST(RexThreads, DifferentTreesAreSearchedByThreadsAtOnce) {
    // Each thread compiles, copies and searches trees of its own; the results
    // equal those of one thread alone (and ThreadSanitizer sees no shared write).
    const char* const patterns[] = {"{@iz}ABC", "{@ic}[a-z]+> $", "(a|b)*c\\d", "(?<=x)y{@ign(-)}z", "(a\\1?)*x"};
    const std::string text = std::string(300, '-') + "ＡＢＣ abc> xy-z ab1 aab c2 aax";
    std::vector<int> expected;
    for (const char* p : patterns) {
        auto rex = rexCompile(p, 0);
        expected.push_back(findIn(rex.get(), text, 1).at);
    }
    Warnings w;
    std::vector<std::thread> threads;
    std::vector<int> wrong(5, 0);
    for (int t = 0; t < 5; ++t) {
        threads.emplace_back([&, t] {
            auto rex = rexCompile(patterns[t], 0);
            auto copy = rexCopy(rex.get());
            for (int round = 0; round < 200; ++round) {
                for (LRex* r : {rex.get(), copy.get()}) {
                    LRexSearch s(r);
                    if (s.find(text.data(), -1, static_cast<int>(text.size()), 1, 0) != expected[t]) ++wrong[t];
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, std::vector<int>(5, 0));
}

TEST(RexThreads, ACopyIsTheSamePatternWithoutItsWarnings) {
    Warnings w;
    auto rex = rexCompile("a{2,1}b\\q\\x4", 0);
    const size_t warnings = w.reports().size();
    EXPECT_EQ(warnings, 4u);  // m > n, \q, and \x4 both as a malformed \x and as an unknown escape
    auto copy = rexCopy(rex.get());
    EXPECT_EQ(w.reports().size(), warnings);
    EXPECT_EQ(dumpOf(copy.get()), dumpOf(rex.get()));
    EXPECT_STREQ(rexSource(copy.get()), "a{2,1}b\\q\\x4");
    EXPECT_EQ(rexCopy(nullptr), nullptr);
}

}  // namespace

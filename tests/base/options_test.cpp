// The option parser: the matching rule, each option class with its values and
// error texts, and tryOptions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/options.h"
#include "base_test_support.h"

namespace {
std::vector<std::string> texts(const RecordingGuard& rec) {
    std::vector<std::string> out;
    for (const auto& r : rec.reports()) out.push_back(std::to_string(r.code) + " " + r.text);
    return out;
}
}  // namespace

TEST(Options, MatchingRule) {
    struct Case {
        const char* arg;
        int consumed;
        int value;
    };
    const Case cases[] = {
        {"-WO:500", 1, 500}, {"/wo:500", 1, 500}, {"-wO:7", 1, 7},  {"-wo", 1, 1},
        {"-wo500", 0, -1},   {"-w", 0, -1},       {"-wox", 0, -1},  {"wo:500", 0, -1},
        {"--wo:5", 0, -1},   {"-", 0, -1},        {"", 0, -1},
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        int target = -1;
        LIntOpt opt("wo", &target, 0, -1, 1);
        EXPECT_EQ(opt.parse(c.arg), c.consumed) << c.arg;
        EXPECT_EQ(target, c.value) << c.arg;
        EXPECT_TRUE(rec.reports().empty()) << c.arg;
    }
}

TEST(Options, IntegerValuesAndBounds) {
    struct Case {
        const char* arg;
        int min, max, noValue;
        int stored;
        const char* error;  // "" for none
    };
    const Case cases[] = {
        {"-n:4k", 0, -1, 1, 4096, ""},
        {"-n:2m", 0, -1, 1, 2 * 1048576, ""},
        {"-n:1g", 0, -1, 1, 1073741824, ""},
        {"-n:0x10", 0, -1, 1, 16, ""},
        {"-n:1,000", 0, -1, 1, 1000, ""},
        {"-n:-5", 0, -1, 1, -5, "15000 too small option number: -n:-5: -5 < 0"},
        {"-n:11", 0, 10, 1, 11, "15000 too big option number: -n:11: 11 > 10"},
        {"-n:10", 0, 10, 1, 10, ""},
        {"-n:99999", 0, -1, 1, 99999, ""},  // a negative maximum is no bound
        {"-n", 0, -1, 3, 3, ""},
        {"-n", 5, -1, 3, 3, "15000 too small option number: -n: 3 < 5"},
        {"-n", 0, -1, LIntOpt::kValueRequired, 42, "15000 value required: -n"},
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        int target = 42;
        LIntOpt opt("n", &target, c.min, c.max, c.noValue);
        EXPECT_EQ(opt.parse(c.arg), 1) << c.arg;
        EXPECT_EQ(target, c.stored) << c.arg;
        const std::vector<std::string> expected =
            *c.error ? std::vector<std::string>{c.error} : std::vector<std::string>{};
        EXPECT_EQ(texts(rec), expected) << c.arg;
    }
}

TEST(Options, TextOptionsPointIntoTheArgument) {
    RecordingGuard rec;
    const char* target = nullptr;
    LStrOpt opt("mf", &target, nullptr);
    const char arg[] = "-MF:messages.txt";
    EXPECT_EQ(opt.parse(arg), 1);
    EXPECT_EQ(target, arg + 4);
    const char bare[] = "/mf";
    EXPECT_EQ(opt.parse(bare), 1);
    EXPECT_EQ(target, bare + 3);  // the empty end of the argument
    EXPECT_STREQ(target, "");
    LStrOpt withDefault("dv", &target, "default");
    EXPECT_EQ(withDefault.parse("-dv"), 1);
    EXPECT_STREQ(target, "default");
    EXPECT_EQ(withDefault.parse("-dv:"), 1);
    EXPECT_STREQ(target, "");
    EXPECT_EQ(opt.parse("-mfa"), 0);
    EXPECT_TRUE(rec.reports().empty());
}

TEST(Options, RepeatedTextOptionCollectsEveryValue) {
    LStrList addresses;
    LStrsOpt opt("o", &addresses);
    EXPECT_EQ(opt.parse("-o:host1"), 1);
    EXPECT_EQ(opt.parse("/O:host2:2323"), 1);
    EXPECT_EQ(opt.parse("-o"), 1);
    EXPECT_EQ(opt.parse("-of:x"), 0);
    ASSERT_EQ(addresses.count(), 3);
    EXPECT_STREQ(addresses[0], "host1");
    EXPECT_STREQ(addresses[1], "host2:2323");
    EXPECT_STREQ(addresses[2], "");
}

TEST(Options, MaskValues) {
    struct Case {
        const char* arg;
        int bits2;
        int before, after;
        const char* error;
    };
    const Case cases[] = {
        {"-m", 12, 0x40, 0x43, ""},
        {"-m:1", 12, 0x40, 0x43, ""},
        {"-m:2", 12, 0x40, 0x4C, ""},
        {"-m:0", 12, 0x4F, 0x40, ""},
        {"-m:0", -1, 0x4F, 0x4C, ""},
        {"-m:2", -1, 0x40, 0x40, "15000 illegal mask option value: 2"},
        {"-m:3", 12, 0x40, 0x40, "15000 illegal mask option value: 3"},
        {"-m:", 12, 0x40, 0x40, "15000 illegal mask option value: "},
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        int target = c.before;
        LMskOpt opt("m", &target, 3, c.bits2);
        EXPECT_EQ(opt.parse(c.arg), 1) << c.arg;
        EXPECT_EQ(target, c.after) << c.arg;
        const std::vector<std::string> expected =
            *c.error ? std::vector<std::string>{c.error} : std::vector<std::string>{};
        EXPECT_EQ(texts(rec), expected) << c.arg;
    }
}

TEST(Options, SwitchTakesNoValue) {
    RecordingGuard rec;
    int target = 0;
    LSwitchOpt opt("quiet", &target, 7);
    EXPECT_EQ(opt.parse("-QUIET"), 1);
    EXPECT_EQ(target, 7);
    EXPECT_TRUE(rec.reports().empty());
    target = 0;
    EXPECT_EQ(opt.parse("-quiet:1"), 1);
    EXPECT_EQ(target, 7);
    EXPECT_EQ(texts(rec), std::vector<std::string>{"15000 illegal switch option: -quiet:1"});
}

TEST(Options, TryOptionsOffersInListOrder) {
    RecordingGuard rec;
    int v = 0, wo = 0, flag = 0, mask = 0;
    const char* mf = nullptr;
    LStrList hosts;
    LOptList list;
    EXPECT_EQ(addIntOpt(list, "v", &v, 0, -1, 1)->optName, std::string("v"));
    addStrOpt(list, "mf", &mf);
    addIntOpt(list, "wo", &wo, 0, -1, 1);
    addStrsOpt(list, "o", &hosts);
    addSwitchOpt(list, "x", &flag, 5);
    addMskOpt(list, "m", &mask, 1, 2);
    addIntOpt(list, "wo", &flag, 0, -1, 99);  // never reached: the first "wo" wins
    EXPECT_EQ(list.count(), 7);
    for (const char* arg : {"-v:3", "-mf:log.txt", "-wo:250", "-o:a", "-o:b", "-x", "-m:2"}) {
        EXPECT_EQ(tryOptions(list, arg), 1) << arg;
    }
    for (const char* arg : {"-y", "file.cmd", "-wo250", "/"}) EXPECT_EQ(tryOptions(list, arg), 0) << arg;
    EXPECT_EQ(v, 3);
    EXPECT_STREQ(mf, "log.txt");
    EXPECT_EQ(wo, 250);
    EXPECT_EQ(hosts.count(), 2);
    EXPECT_EQ(flag, 5);
    EXPECT_EQ(mask, 2);
    EXPECT_TRUE(rec.reports().empty());
}

TEST(Options, OptionOrFileArgument) {
    for (const char* arg : {"-wo", "-", "/wo:500", "/f:dir/x.rsp", "/x.cmd", "/", "--"}) {
        EXPECT_TRUE(isOptionArg(arg)) << arg;
    }
    for (const char* arg : {"file.cmd", "/home/me/x.cmd", "/tmp/*.txt", "//x", "", "dir/-x"}) {
        EXPECT_FALSE(isOptionArg(arg)) << arg;
    }
    EXPECT_FALSE(isOptionArg(nullptr));
}

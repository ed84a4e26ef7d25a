// The option parser: the matching rule, each option class with its values and
// error texts, and tryOptions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/options.h"
#include "base_test_support.h"

TEST(Options, MatchingRuleAndIntegerValues) {
    struct Case {
        const char* arg;
        int min, max, noValue;
        int consumed, stored;  // the target starts at 42
        const char* error;     // "" for none
    };
    const int none = 1;  // noValue when it does not matter
    const Case cases[] = {
        // the matching rule: '-' or '/', the name in any case, then the end or ':'
        {"-WO:500", 0, -1, none, 1, 500, ""}, {"/wo:500", 0, -1, none, 1, 500, ""},
        {"-wO:7", 0, -1, none, 1, 7, ""},     {"-wo500", 0, -1, none, 0, 42, ""},
        {"-w", 0, -1, none, 0, 42, ""},       {"-wox", 0, -1, none, 0, 42, ""},
        {"wo:500", 0, -1, none, 0, 42, ""},   {"--wo:5", 0, -1, none, 0, 42, ""},
        {"-", 0, -1, none, 0, 42, ""},        {"", 0, -1, none, 0, 42, ""},
        // values: multipliers, prefixes, commas
        {"-wo:4k", 0, -1, none, 1, 4096, ""}, {"-wo:2m", 0, -1, none, 1, 2 * 1048576, ""},
        {"-wo:1g", 0, -1, none, 1, 1073741824, ""}, {"-wo:0x10", 0, -1, none, 1, 16, ""},
        {"-wo:1,000", 0, -1, none, 1, 1000, ""},
        // bounds: reported, and the value is stored all the same
        {"-wo:-5", 0, -1, none, 1, -5, "15000 too small option number: -wo:-5: -5 < 0"},
        {"-wo:11", 0, 10, none, 1, 11, "15000 too big option number: -wo:11: 11 > 10"},
        {"-wo:10", 0, 10, none, 1, 10, ""},
        {"-wo:99999", 0, -1, none, 1, 99999, ""},  // a negative maximum is no bound
        // no value
        {"-wo", 0, -1, 3, 1, 3, ""},
        {"-wo", 5, -1, 3, 1, 3, "15000 too small option number: -wo: 3 < 5"},
        {"-wo", 0, -1, LIntOpt::kValueRequired, 1, 42, "15000 value required: -wo"},
    };
    for (const Case& c : cases) {
        MsgCapture rec;
        int target = 42;
        LIntOpt opt("wo", &target, c.min, c.max, c.noValue);
        EXPECT_EQ(opt.parse(c.arg), c.consumed) << c.arg;
        EXPECT_EQ(target, c.stored) << c.arg;
        EXPECT_EQ(rec.texts(), *c.error ? Strings{c.error} : Strings{}) << c.arg;
    }
}

TEST(Options, MaskAndSwitchValues) {
    struct Case { const char* arg; int bits2; int before, after; const char* error; };
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
        MsgCapture rec;
        int target = c.before;
        EXPECT_EQ(LMskOpt("m", &target, 3, c.bits2).parse(c.arg), 1) << c.arg;
        EXPECT_EQ(target, c.after) << c.arg;
        EXPECT_EQ(rec.texts(), *c.error ? Strings{c.error} : Strings{}) << c.arg;
    }
    MsgCapture rec;
    int target = 0;
    LSwitchOpt opt("quiet", &target, 7);
    EXPECT_EQ(opt.parse("-QUIET"), 1);
    EXPECT_EQ(target, 7);
    EXPECT_TRUE(rec.reports().empty());
    target = 0;
    EXPECT_EQ(opt.parse("-quiet:1"), 1);
    EXPECT_EQ(target, 7);  // set anyway
    EXPECT_EQ(rec.texts(), Strings{"15000 illegal switch option: -quiet:1"});
}

TEST(Options, TextOptions) {
    const char* target = nullptr;
    LStrOpt opt("mf", &target, nullptr);
    const char arg[] = "-MF:messages.txt";
    EXPECT_EQ(opt.parse(arg), 1);
    EXPECT_EQ(target, arg + 4);  // points into the argument
    const char bare[] = "/mf";
    EXPECT_EQ(opt.parse(bare), 1);
    EXPECT_EQ(target, bare + 3);  // the empty end of the argument
    EXPECT_EQ(opt.parse("-mfa"), 0);
    LStrOpt withDefault("dv", &target, "default");
    EXPECT_EQ(withDefault.parse("-dv"), 1);
    EXPECT_STREQ(target, "default");
    EXPECT_EQ(withDefault.parse("-dv:"), 1);
    EXPECT_STREQ(target, "");

    LStrList addresses;
    LStrsOpt repeated("o", &addresses);
    for (const char* a : {"-o:host1", "/O:host2:2323", "-o"}) EXPECT_EQ(repeated.parse(a), 1) << a;
    EXPECT_EQ(repeated.parse("-of:x"), 0);
    ASSERT_EQ(addresses.count(), 3);
    EXPECT_STREQ(addresses[0], "host1");
    EXPECT_STREQ(addresses[1], "host2:2323");
    EXPECT_STREQ(addresses[2], "");
}

TEST(Options, TryOptionsOffersInListOrder) {
    MsgCapture rec;
    int wo = 0, flag = 0, mask = 0;
    const char* mf = nullptr;
    LStrList hosts;
    LOptList list;
    addStrOpt(list, "mf", &mf);
    addIntOpt(list, "wo", &wo, 0, -1, 1);
    addStrsOpt(list, "o", &hosts);
    addSwitchOpt(list, "x", &flag, 5);
    addMskOpt(list, "m", &mask, 1, 2);
    addIntOpt(list, "wo", &flag, 0, -1, 99);  // never reached: the first "wo" wins
    for (const char* arg : {"-mf:log.txt", "-wo:250", "-o:a", "-o:b", "-x", "-m:2", "-wo"}) {
        EXPECT_EQ(tryOptions(list, arg), 1) << arg;
    }
    for (const char* arg : {"-y", "file.cmd", "-wo250", "/"}) EXPECT_EQ(tryOptions(list, arg), 0) << arg;
    EXPECT_STREQ(mf, "log.txt");
    EXPECT_EQ(wo, 1);
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

// In process: the short forms that the help text lists against the command
// table the dispatcher uses, and colour attributes to terminal sequences.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/dispatcher.h"
#include "app/help.h"
#include "base/platform/terminal.h"

namespace {

TEST(Help, EveryShortFormListedNamesItsCommandInTheTable) {
    const LString help = helpText();
    const std::string text(help.data(), help.len());
    std::istringstream in(text.substr(text.find("略記    意味\r\n")));
    std::string line;
    std::getline(in, line);
    int n = 0;
    for (std::string shortForm, longForm; in >> shortForm >> longForm; ++n) {
        const CommandEntry* c = findCommand(shortForm.c_str() + 1);
        ASSERT_NE(c, nullptr) << shortForm;
        EXPECT_EQ(c, findCommand(longForm.c_str() + 1)) << shortForm;
        EXPECT_STREQ(c->shortName, shortForm.c_str() + 1);
    }
    EXPECT_EQ(n, 33);
    for (const char* n : {"Quit", "send", "", "qu", "col"}) EXPECT_EQ(findCommand(n), nullptr) << n;
}

TEST(Console, AttributeToTerminalSequence) {
    const struct {
        int attribute;
        const char* sgr;
    } cases[] = {
        {7, "\x1b[0m"},        {0x0C, "\x1b[91;49m"}, {0x16, "\x1b[33;44m"}, {0x1F, "\x1b[97;44m"},
        {0x38, "\x1b[90;46m"}, {0x87, "\x1b[39;100m"}, {0x70, "\x1b[30;47m"}, {0x01, "\x1b[34;49m"},
        {0x04, "\x1b[31;49m"},
    };
    for (const auto& c : cases) {
        char buf[32];
        EXPECT_EQ(std::string(buf, formatSgr(c.attribute, buf)), c.sgr) << c.attribute;
    }
}

}  // namespace

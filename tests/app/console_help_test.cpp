// In process: the command table against the dispatcher's look-up, the
// completion's names and !help in both languages; colour attributes to
// terminal sequences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_table.h"
#include "app/help.h"
#include "base/language.h"
#include "base/platform/terminal.h"

namespace {

std::vector<std::string> linesOf(const LString& text) {
    std::vector<std::string> lines;
    std::istringstream in(std::string(text.data(), static_cast<size_t>(text.len())));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string firstLine(const char* text) { return std::string(text, std::strcspn(text, "\n")); }

TEST(CommandTable, NamesShortFormsAndTheirPlaces) {
    std::set<std::string> words;
    std::vector<int> ranks;
    size_t count = 0;
    for (const CommandEntry& e : commandTable()) {
        SCOPED_TRACE(e.name);
        EXPECT_TRUE(words.insert(e.name).second);
        ++count;
        if (e.shortName) {
            EXPECT_TRUE(words.insert(e.shortName).second);
            ranks.push_back(e.shortRank);
            ++count;
        } else {
            EXPECT_EQ(e.shortRank, 0);
        }
        // Runnable commands are found by both names; !send only by the readers.
        const CommandEntry* expected = e.handler ? &e : nullptr;
        EXPECT_EQ(findCommand(e.name), expected);
        if (e.shortName) {
            EXPECT_EQ(findCommand(e.shortName), expected);
        }
    }
    // The list of short forms has one place for each, without gaps.
    std::sort(ranks.begin(), ranks.end());
    std::vector<int> places(ranks.size());
    std::iota(places.begin(), places.end(), 1);
    EXPECT_EQ(ranks, places);
    for (const char* n : {"Quit", "send", "", "qu", "col", "!open", "open "}) EXPECT_EQ(findCommand(n), nullptr) << n;
    std::vector<std::string> names;
    listCommandNames(names);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), words);
    EXPECT_EQ(names.size(), count);
}

// !help shows every command of the table with its synopsis and explanation,
// and every short form in its place, in either language; the English one
// holds no Japanese.
TEST(Help, ShowsEveryCommandOfTheTableInEitherLanguage) {
    const int saved = g_language;
    for (const int language : {'J', 'E'}) {
        g_language = language;
        const LString help = helpText();
        const std::vector<std::string> lines = linesOf(help);
        for (const CommandEntry& e : commandTable()) {
            SCOPED_TRACE(e.name);
            const std::string syntax =
                std::string("!").append(e.name).append(*e.synopsis ? " " : "").append(firstLine(e.synopsis));
            const auto at = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
                return l.rfind(syntax, 0) == 0 && (l.size() == syntax.size() || l[syntax.size()] == ' ');
            });
            ASSERT_NE(at, lines.end());
            // The explanation follows the syntax on its line or under it.
            const std::string explanation = firstLine(tr(e.help));
            const bool sameLine = at->size() > syntax.size() && at->find(explanation) != std::string::npos;
            EXPECT_EQ(sameLine, e.sameLine);
            if (!e.sameLine && e.help != Tx::helpSystemMsgColor && e.help != Tx::helpErrorMsgColor) {
                const std::string under = std::string(18, ' ') + explanation;
                EXPECT_NE(std::find(at, lines.end(), under), lines.end());
            }
            // A further form follows with its own explanation under it.
            if (e.otherForm) {
                const std::string other =
                    std::string("!").append(e.name).append(" ").append(firstLine(e.otherForm->synopsis));
                const auto form = std::find(at + 1, lines.end(), other);
                ASSERT_NE(form, lines.end());
                const std::string under = std::string(18, ' ') + firstLine(tr(e.otherForm->help));
                EXPECT_NE(std::find(form, lines.end(), under), lines.end());
            }
        }
        const std::string columns(tr(Tx::shortFormsColumns), std::strcspn(tr(Tx::shortFormsColumns), "\r"));
        const auto heading = std::find(lines.begin(), lines.end(), columns);
        ASSERT_NE(heading, lines.end());
        std::vector<std::string> shown(heading + 1, lines.end()), expected;
        std::vector<const CommandEntry*> forms;
        for (const CommandEntry& e : commandTable())
            if (e.shortName) forms.push_back(&e);
        std::sort(forms.begin(), forms.end(), [](auto* a, auto* b) { return a->shortRank < b->shortRank; });
        for (const CommandEntry* e : forms) {
            std::string line = std::string("!").append(e->shortName);
            line.resize(std::max<size_t>(8, line.size() + 1), ' ');
            expected.push_back(line + "!" + e->name);
        }
        EXPECT_EQ(shown, expected);
        if (language == 'E') {
            const LString usage = usageText();
            for (const std::string& text : {std::string(help.data()), std::string(usage.data())})
                EXPECT_EQ(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; }), 0)
                    << text;
        }
    }
    g_language = saved;
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

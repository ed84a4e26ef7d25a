// The help page: the page kept in docs/ is what its template and the command
// table make (so it can never disagree with the program), and its command list
// holds every command of the table with its English help.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/command_table.h"
#include "app/help_page.h"
#include "base/language.h"
#include "tests/support/process_runner.h"

namespace {

const std::string kDocs = std::string(VESPERLINE_SOURCE_DIR) + "/docs/";

TEST(HelpPage, TheKeptPageIsTheOneTheTemplateAndTheCommandTableMake) {
    const std::string pageTemplate = vltest::readFile(kDocs + "Vesperline.html.in");
    ASSERT_FALSE(pageTemplate.empty());
    std::string made;
    ASSERT_TRUE(makeHelpPage(pageTemplate, made));
    // On a difference: build the target update_help_page, which writes the
    // page anew from its template.
    EXPECT_TRUE(made == vltest::readFile(kDocs + "Vesperline.html"))
        << "docs/Vesperline.html is not what docs/Vesperline.html.in and the command table make; "
           "build the target update_help_page";
    EXPECT_EQ(made, vltest::readFile(std::string(VESPERLINE_BIN_DIR) + "/app/Vesperline.html"));
}

TEST(HelpPage, ListsEveryCommandInEnglishWhateverTheLanguage) {
    const int saved = g_language;
    g_language = 'J';
    const std::string list = helpPageCommandList();
    g_language = saved;
    for (const CommandEntry& e : commandTable()) {
        SCOPED_TRACE(e.name);
        const size_t row = list.find("<tr id=\"cmd-" + std::string(e.name) + "\"><td><code>!" + e.name);
        ASSERT_NE(row, std::string::npos);
        const std::string line = list.substr(row, list.find("</tr>", row) - row);
        if (e.shortName) {
            EXPECT_NE(line.find("<code>!" + std::string(e.shortName) + "</code>"), std::string::npos);
        }
        const std::string english = entryOf(e.help).english;
        const std::string first = english.substr(0, english.find_first_of("\n<%"));
        EXPECT_NE(line.find(first), std::string::npos) << first;
        // A further form has a row of its own right after, with its own help.
        if (e.otherForm) {
            const size_t next = list.find("<tr>", row);
            ASSERT_NE(next, std::string::npos);
            const std::string other = list.substr(next, list.find("</tr>", next) - next);
            const std::string synopsis = e.otherForm->synopsis;
            EXPECT_EQ(other.rfind("<tr><td><code>!" + std::string(e.name) + " " +
                                      synopsis.substr(0, synopsis.find_first_of("<\n")), 0), 0u)
                << other;
            const std::string help = entryOf(e.otherForm->help).english;
            EXPECT_NE(other.find(help.substr(0, help.find('\n'))), std::string::npos) << other;
        }
    }
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](char c) { return (c & 0x80) != 0; }), 0);
    std::string page;
    EXPECT_FALSE(makeHelpPage("<html>no placeholder</html>\n", page));
    EXPECT_TRUE(page.empty());
}

}  // namespace

// The help texts' layout and values, and the colour rules of the console:
// attribute to terminal sequence, the echo colour, system messages.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/dispatcher.h"
#include "app/help.h"
#include "app/settings.h"
#include "base/platform/terminal.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/msg_capture.h"

namespace {

std::vector<std::string> lines(const LString& text) {
    std::vector<std::string> out;
    std::string s(text.data(), text.len());
    size_t at = 0;
    while (at < s.size()) {
        const size_t end = s.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
        if (end == std::string::npos) break;
        out.push_back(s.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

std::string lineStartingWith(const std::vector<std::string>& ls, const std::string& prefix) {
    for (const std::string& l : ls)
        if (l.compare(0, prefix.size(), prefix) == 0) return l;
    return "";
}

TEST(Help, ColumnsOfSameLineAndNextLineEntries) {
    vltest::resetShellState();
    const auto ls = lines(helpText());
    ASSERT_GT(ls.size(), 80u);
    EXPECT_EQ(ls[0], "制御コマンド一覧");
    EXPECT_EQ(ls[1], "(先頭の ! を !! とすると待機実行)");
    EXPECT_EQ(ls[2], "!read-command-file <path>");
    EXPECT_EQ(ls[3], std::string(18, ' ') + "コマンドファイルを読み込む");
    EXPECT_EQ(lineStartingWith(ls, "!send"), "!send <str>       現在の接続に <str> を送信");
    EXPECT_EQ(lineStartingWith(ls, "!list-connection"), "!list-connection  有効な接続を一覧表示");
    EXPECT_EQ(lineStartingWith(ls, "!close-log-file"), "!close-log-file [<path>]  ログファイルへの記録終了");
    EXPECT_EQ(lineStartingWith(ls, "!cls"), "!cls              画面のクリア");
    EXPECT_EQ(lineStartingWith(ls, ";<str>"), ";<str>            コメント (コマンド ファイル内)");
    // The atom entry: two syntax lines, the second indented by 6.
    size_t i = 0;
    while (i < ls.size() && ls[i].compare(0, 6, "!atom ") != 0) ++i;
    ASSERT_LT(i + 2, ls.size());
    EXPECT_EQ(ls[i], "!atom [<name>] [after <name>,...] [by <cname>,...]");
    EXPECT_EQ(ls[i + 1], "      [except-by <cname>,...] [until <rex>]");
    EXPECT_EQ(ls[i + 2], std::string(18, ' ') + "アトム定義開始。<name> はアトム名 (既定値=A<n>)");
    // Block 3.
    const size_t head = std::find(ls.begin(), ls.end(), "制御コマンド略記一覧") - ls.begin();
    ASSERT_LT(head + 2, ls.size());
    EXPECT_EQ(ls[head - 1], "");
    EXPECT_EQ(ls[head + 1], "略記    意味");
    EXPECT_EQ(ls[head + 2], "!o      !open");
    EXPECT_EQ(ls.back(), "!oh     !online-help");
}

TEST(Help, ShortFormsNameTheCommandsOfTheTable) {
    const auto ls = lines(helpText());
    const size_t head = std::find(ls.begin(), ls.end(), "略記    意味") - ls.begin();
    int n = 0;
    for (size_t i = head + 1; i < ls.size(); ++i, ++n) {
        std::istringstream in(ls[i]);
        std::string shortForm, longForm;
        in >> shortForm >> longForm;
        const CommandEntry* a = findCommand(shortForm.c_str() + 1);
        ASSERT_NE(a, nullptr) << ls[i];
        EXPECT_EQ(a, findCommand(longForm.c_str() + 1)) << ls[i];
        EXPECT_STREQ(a->shortName, shortForm.c_str() + 1);
    }
    EXPECT_EQ(n, 30);
}

TEST(Help, SettingsBlockShowsTheColoursInForce) {
    vltest::resetShellState();
    auto ls = lines(helpText());
    EXPECT_NE(std::find(ls.begin(), ls.end(), std::string(18, ' ') + "システム メッセージ色 (0 なら非表示, 既定=0x16)"), ls.end());
    g_systemMsgColor = 0;
    g_errorMsgColor = 14;
    ls = lines(helpText());
    EXPECT_NE(std::find(ls.begin(), ls.end(), std::string(18, ' ') + "システム メッセージ色 (0 なら非表示, 既定=0x00)"), ls.end());
    EXPECT_NE(std::find(ls.begin(), ls.end(), std::string(18, ' ') + "エラー メッセージ色 (既定=0x0E)"), ls.end());
    vltest::resetShellState();
}

TEST(Help, UsageLines) {
    const auto ls = lines(usageText());
    const std::vector<std::string> expected = {
        "vesperline [<cmd-files>...] [-<options>...]",
        "<cmd-files>       読み込むコマンドファイル",
        "-o:<addr>         リモートのテルネットサーバーに接続",
        "-wo:<msec>        接続オープン後の待機ミリ秒 (既定=2000)",
        "-wr:<msec>        受信がこのミリ秒途切れたら受信テキストを表示 (既定=100)",
        "-?                使い方を表示",
        "-??               ヘルプをブラウザで表示",
        "-ver              バージョン番号等を表示",
    };
    EXPECT_EQ(ls, expected);
}

TEST(Console, AttributeToTerminalSequence) {
    const struct {
        int attribute;
        const char* sgr;
    } cases[] = {
        {7, "\x1b[0m"},          {0x0C, "\x1b[91;49m"},  {0x16, "\x1b[33;44m"},
        {0x1F, "\x1b[97;44m"},   {0x30, "\x1b[30;46m"},  {0x38, "\x1b[90;46m"},
        {0x03, "\x1b[36;49m"},   {0x0B, "\x1b[96;49m"},  {0x87, "\x1b[39;100m"},
        {0x70, "\x1b[30;47m"},   {0x01, "\x1b[34;49m"},  {0x04, "\x1b[31;49m"},
    };
    for (const auto& c : cases) {
        char buf[32];
        const int n = formatSgr(c.attribute, buf);
        EXPECT_EQ(std::string(buf, n), c.sgr) << std::hex << c.attribute;
    }
}

TEST(Console, EchoColour) {
    vltest::resetShellState();
    EXPECT_EQ(echoColor(3), 11);
    g_inputReverse = 1;
    g_inputHighlight = 0;
    EXPECT_EQ(echoColor(3), 0x30);
    g_inputHighlight = 1;
    EXPECT_EQ(echoColor(3), 0x38);
    EXPECT_EQ(echoColor(0x9C), 0xC9 | 8);  // intensity bits stay where they are
    vltest::resetShellState();
}

TEST(Console, SystemMessagesAndNameLists) {
    vltest::resetShellState();
    vltest::MsgCapture cap;
    systemMessage("[send to %s] %s", "C1", "ls");
    g_systemMsgColor = 0;
    systemMessage("[send to %s] %s", "C1", "hidden");
    LStrList names;
    printNameList("after", names);
    names.add("A1");
    names.add("A2");
    printNameList("after", names);
    EXPECT_EQ(cap.plain(), "[send to C1] ls\r\n after A1,A2");
    vltest::resetShellState();
}

}  // namespace

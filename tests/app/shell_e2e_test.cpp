// End-to-end runs of the built program: command files, piped standard input,
// options, the message file, exit codes and terminal colours.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process_runner.h"

using vltest::countOf;
using vltest::RunOptions;
using vltest::RunResult;
using vltest::runVesperline;
using vltest::TempDir;

namespace {

const std::string kBanner = "Vesperline - V1.11\r\n";
const std::string kHint1 = "ヘルプを表示するには !h または !oh と入力します。\r\n";
const std::string kHint2 = "終了するには !q と入力します。\r\n";

// Runs the program quietly (-v:0) with the given arguments and standard input.
RunResult quiet(std::vector<std::string> args, const std::string& input = "") {
    RunOptions o;
    o.args = std::move(args);
    o.args.push_back("-v:0");
    o.input = input;
    return runVesperline(o);
}

// The position of needle in text, or npos; for ordering checks.
size_t at(const RunResult& r, const std::string& needle) { return r.out.find(needle); }

TEST(ShellRun, BannerAndHintsUnlessQuiet) {
    RunOptions o;
    o.input = "!q\n";
    RunResult r = runVesperline(o);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kBanner + kHint1 + kHint2);
    r = quiet({}, "!q\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
}

TEST(ShellRun, VersionUsageAndUnknownOptions) {
    RunOptions o;
    o.args = {"-ver"};
    RunResult r = runVesperline(o);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, kBanner);

    for (auto args : {std::vector<std::string>{"-?"}, std::vector<std::string>{"-ver", "-?"}}) {
        o.args = args;
        r = runVesperline(o);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out.rfind(kBanner + "vesperline [<cmd-files>...] [-<options>...]\r\n", 0), 0u);
        EXPECT_NE(at(r, "-wr:<msec>"), std::string::npos);
        EXPECT_NE(at(r, "制御コマンド略記一覧\r\n"), std::string::npos);
        EXPECT_EQ(countOf(r.out, kBanner), 1);
    }

    r = quiet({"-x", "/y:1"}, "!rem still here\n!q\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Error 10007: 不明なオプションです: '-x'\nError 10007: 不明なオプションです: '/y:1'\n");
}

TEST(ShellRun, CommandFilesRunInOrderAndQuitEndsTheRun) {
    TempDir d;
    const std::string more = d.write("more.txt", "!rem m1\n!quit\n");
    const std::string a = d.write("a.txt", "!rem a1\n!rcf \"" + more + "\"\n!rem a2\n");
    const std::string b = d.write("b.txt", "!rem b1\n");
    const std::string c = d.write("c.txt", "!rem c1\n!quit\n!rem never\n");
    const std::string e = d.write("e.txt", "!rem e1\n");
    RunResult r = quiet({a, b});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "!rem a1\r\n!rcf \"" + more + "\"\r\n!rem a2\r\n!rem b1\r\n!rem m1\r\n!quit\r\n");
    r = quiet({c, e});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "!rem c1\r\n!quit\r\n");
}

TEST(ShellRun, QuitFromAFileEndsWithoutWaitingForTheConsole) {
    TempDir d;
    const std::string f = d.write("q.txt", "!q\n");
    RunOptions o;
    o.args = {f, "-v:0"};
    o.closeInput = false;  // the console never sends anything
    o.timeoutMs = 30000;
    const RunResult r = runVesperline(o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.find("Press Enter Key"), std::string::npos);
}

TEST(ShellRun, TextLinesBlanksCommentsAndSend) {
    TempDir d;
    const std::string f = d.write("t.txt", "   hello\n;x\n!send  two\n!send\n!Quit\n");
    const RunResult r = quiet({f}, ";x\n!q\n");
    EXPECT_EQ(r.exitCode, 0);
    // Without a connection every text line is an error that quotes it.
    EXPECT_NE(at(r, "Error 10003: コマンドを実行する接続がありません: hello\n"), std::string::npos);
    EXPECT_NE(at(r, "Error 10003: コマンドを実行する接続がありません:  two\n"), std::string::npos);
    EXPECT_NE(at(r, "!Quit\r\nError 10011: 不明な制御コマンドです: !Quit\n"), std::string::npos);
    EXPECT_NE(at(r, "Error 10003: コマンドを実行する接続がありません: ;x\n"), std::string::npos);
    EXPECT_EQ(countOf(r.out, "Error 10003"), 3);
}

TEST(ShellRun, TypedLinesAreNotEchoedAndLongLinesArriveInPieces) {
    TempDir d;
    const std::string f = d.write("f.txt", "!rem from file\n");
    const std::string longLine(2000, 'y');
    const RunResult r = quiet({f}, "!rem typed\n" + longLine + "\n!q\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(at(r, "!rem from file\r\n"), std::string::npos);
    EXPECT_EQ(at(r, "!rem typed"), std::string::npos);
    const std::string prefix = "Error 10003: コマンドを実行する接続がありません: ";
    EXPECT_NE(at(r, prefix + std::string(1023, 'y') + "\n"), std::string::npos);
    EXPECT_NE(at(r, prefix + std::string(977, 'y') + "\n"), std::string::npos);
}

TEST(ShellRun, ManyPipedLinesAndAPipeThatEndsWithoutQuit) {
    std::string input;
    for (int i = 0; i < 3000; ++i) input += "!rem " + std::to_string(i) + "\n";
    input += "!q\n";
    RunResult r = quiet({}, input);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    // The end of a pipe ends only the reading; a file line still quits.
    TempDir d;
    const std::string f = d.write("w.txt", "!wait 1\n!q\n");
    r = quiet({f}, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "!wait 1\r\n!q\r\n");
}

TEST(ShellRun, TokenizerQuotesAndEscapes) {
    TempDir d;
    const std::string f = d.write("k.txt",
                                  "!m show x\n"
                                  "!rem [${x}]\n"
                                  "!em\n"
                                  "!cm show \"a\\\"b\"\n"
                                  "!cm show /p\\/q/\n"
                                  "!rcf \"abc\n"
                                  "!q\n");
    const RunResult r = quiet({f});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(at(r, "!rem [a\"b]\r\n"), std::string::npos);
    EXPECT_NE(at(r, "!rem [p\\/q]\r\n"), std::string::npos);
    EXPECT_NE(at(r, "Error 10012: 右側の「\"」がありません: \"abc\n"), std::string::npos);
}

TEST(ShellRun, ColoursAndHelpValues) {
    TempDir d;
    const std::string f = d.write("c.txt",
                                  "!color 1,2 3\n!color 300\n!color\n!emc 0\n!smc 0\n!emc 14\n"
                                  "!is\n!is 0\n!ih 1\n!ir\n!help\n!q\n");
    const RunResult r = quiet({f});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(at(r, "Warning 30001: 行末の余計な記述を無視します: '3'\n"), std::string::npos);
    EXPECT_NE(at(r, "Error 10008: 12Ch は色として指定できません\nError 10009: 色の指定が１つもありません\n"),
              std::string::npos);
    EXPECT_NE(at(r, "Error 10014: '!color' のパラメータがありません\nError 10009:"), std::string::npos);
    EXPECT_NE(at(r, "Error 10013: 数値が正しくありません: 0\n"), std::string::npos);
    EXPECT_NE(at(r, "(0 なら非表示, 既定=0x00)\r\n"), std::string::npos);
    EXPECT_NE(at(r, "エラー メッセージ色 (既定=0x0E)\r\n"), std::string::npos);
    EXPECT_EQ(countOf(r.out, "Error"), 5);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);  // not a terminal: no colour codes
}

TEST(ShellRun, MacroExamples) {
    TempDir d;
    const std::string f = d.write("m.txt",
                                  "!macro greet who\nhello ${who}\n!!wait 1\n!em\n"
                                  "!cm greet alice\n"
                                  "!m two x,y\n!rem ${x}+${y} cost ${$}5\n!rem echo ${x\n!em\n"
                                  "!cm two a\n!cm two a,b,c\n"
                                  "!lm\n!dm greet,nothing\n!lm d\n"
                                  "!m q\n!quit\n!em\n!rem still running\n!q\n");
    const RunResult r = quiet({f});
    EXPECT_EQ(r.exitCode, 0);
    // Lines of a macro run right after the call, with the kinds they were recorded with.
    EXPECT_NE(at(r, "!cm greet alice\r\nError 10003: コマンドを実行する接続がありません: hello alice\n"
                    "Error 10003: コマンドを実行する接続がありません: !!wait 1\n"),
              std::string::npos);
    EXPECT_NE(at(r, "Warning 30002: マクロ two の実引数が足りません (仮引数=2個, 実引数=1個)\n"
                    "Error 10041: マクロ引数 'y' は未定義です\n"
                    "Error 10040: '${' の後に '}' がありません: !rem echo ${x\n"),
              std::string::npos);
    EXPECT_NE(at(r, "!rem a+ cost $5\r\n!rem echo ${x\r\n"), std::string::npos);
    EXPECT_NE(at(r, "Warning 30003: マクロ two の実引数が多すぎます (仮引数=2個, 実引数=3個)\n"), std::string::npos);
    EXPECT_NE(at(r, "!rem a+b cost $5\r\n"), std::string::npos);
    EXPECT_NE(at(r, "2 個のマクロがあります\r\n"), std::string::npos);
    EXPECT_NE(at(r, "Error 10023: マクロ nothing が見つかりません\n1 個のマクロを削除しました\r\n"), std::string::npos);
    EXPECT_NE(at(r, "MACRO 'two' x,y\r\n    !rem ${x}+${y} cost ${$}5\r\n    !rem echo ${x\r\n1 個のマクロがあります\r\n"),
              std::string::npos);
    // A recorded !quit does not end the run.
    EXPECT_NE(at(r, "[Register in macro q] !quit\r\n"), std::string::npos);
    EXPECT_NE(at(r, "!rem still running\r\n!q\r\n"), std::string::npos);
}

TEST(ShellRun, MessageFileOptions) {
    TempDir d;
    const std::string mf = d.file("msg.txt");
    const std::string f = d.write("e.txt", "!rem hi\n!Quit\n!smc 999\n!q\n");
    RunResult r = quiet({f, "-mf:" + mf});
    EXPECT_EQ(r.exitCode, 0);
    const std::string plainAndErrors =
        "!rem hi\r\n!Quit\r\nError 10011: 不明な制御コマンドです: !Quit\n!smc 999\r\n"
        "Error 10013: 数値が正しくありません: 999\n!q\r\n";
    EXPECT_EQ(r.out, plainAndErrors);
    EXPECT_EQ(vltest::readFile(mf), plainAndErrors);

    // Appending keeps the earlier run; only errors reach the console with -mfo.
    r = quiet({f, "-mf:" + mf, "-mfa", "-mfo"});
    EXPECT_EQ(r.out, "Error 10011: 不明な制御コマンドです: !Quit\nError 10013: 数値が正しくありません: 999\n");
    EXPECT_EQ(vltest::readFile(mf), plainAndErrors + plainAndErrors);

    // Rewriting: a run that reports nothing (typed lines are not echoed)
    // leaves no message file behind.
    r = quiet({"-mf:" + mf}, "!q\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(vltest::fileExists(mf));
}

TEST(ShellRun, ColoursOnlyOnATerminal) {
    TempDir d;
    const std::string f = d.write("c.txt", "!emc 14\n!Quit\n!cls\n!q\n");
    RunOptions o;
    o.args = {f, "-v:0"};
    o.terminal = true;
    RunResult r = runVesperline(o);
    EXPECT_EQ(r.exitCode, 0);
    // The error in yellow (14), whole, then the terminal's default colour.
    EXPECT_NE(r.out.find("\x1b[93;49mError 10011: 不明な制御コマンドです: !Quit"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\x1b[0m"), std::string::npos);
    EXPECT_NE(r.out.find("\x1b[H\x1b[2J\x1b[3J"), std::string::npos);
    o.terminal = false;
    r = runVesperline(o);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

// Once the terminal has gone, colour changes find no terminal or fail; either
// way the run goes on and a failure is reported at most once.
TEST(ShellRun, AVanishedTerminalDoesNotStopTheRun) {
    TempDir d;
    const std::string mf = d.file("msg.txt");
    const std::string f = d.write("v.txt", "!wait 1\n!emc 14\n!Quit\n!Quit\n!q\n");
    RunOptions o;
    o.args = {f, "-v:0", "-mf:" + mf};
    o.terminal = true;
    o.hangUpAfterMs = 300;  // while the program waits
    const RunResult r = runVesperline(o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    const std::string log = vltest::readFile(mf);
    EXPECT_LE(countOf(log, "Error 17000: SetConsoleTextAttribute() failed"), 1) << log;
    EXPECT_EQ(countOf(log, "Error 10011:"), 2) << log;
}

// A stand-in for xdg-open that writes its arguments into a file.
std::string fakeOpener(const TempDir& d) {
    const std::string log = d.file("opened.txt");
    const std::string script = d.write("xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + log + "'\n");
    vltest::makeExecutable(script);
    return log;
}

TEST(ShellRun, HelpPageOpensTheFileNextToTheProgram) {
    TempDir d;
    const std::string log = fakeOpener(d);
    const std::string page = vltest::vesperlinePath().substr(0, vltest::vesperlinePath().rfind('/') + 1) +
                             "Vesperline.html";
    ASSERT_TRUE(vltest::fileExists(page)) << page;
    RunOptions o;
    o.args = {"-??"};
    o.env = {"PATH=" + d.path()};
    RunResult r = runVesperline(o);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    o.args = {"-v:0"};
    o.input = "!oh\n!online-help\n!q\n";
    r = runVesperline(o);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(vltest::readFile(log), page + "\n" + page + "\n" + page + "\n");
}

TEST(ShellRun, MissingOpenerGoesUnnoticed) {
    TempDir d;
    RunOptions o;
    o.args = {"-v:0"};
    o.input = "!oh\n!ver\n!q\n";
    o.env = {"PATH=" + d.path()};
    const RunResult r = runVesperline(o);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kBanner);
}

}  // namespace

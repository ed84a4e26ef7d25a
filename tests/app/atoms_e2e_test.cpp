// Atoms through the built program: defining, listing, moving and deleting them,
// and running them on loopback servers: queue order, after, by, completion on
// echoes, split markers and until patterns, close-on-ready, !ready, and the
// deferred commands that reach the main loop (!!call-macro,
// !!read-command-file, !!quit). Each run ends by itself, mostly through a last
// atom that waits for the others and holds !!quit.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/program_session.h"

using vltest::BackgroundRun;
using vltest::LoopbackServer;
using vltest::readFile;
using vltest::RunOptions;
using vltest::RunResult;
using vltest::ServerBehaviour;
using vltest::systemEvents;
using vltest::TempDir;

namespace {

constexpr int kWait = 30000;  // generous: sanitizer builds on a busy machine

// Options for a quiet run of the command file "run.vl" in dir.
RunOptions commandFile(const TempDir& dir, const std::string& content) {
    RunOptions o;
    o.args = {dir.write("run.vl", content), "-v:0"};
    o.workDir = dir.path();
    o.timeoutMs = 60000;
    return o;
}

RunResult run(const TempDir& dir, const std::string& content) {
    return vltest::runVesperline(commandFile(dir, content));
}

std::string openLine(const LoopbackServer& s, const std::string& extra = "") {
    return "!open " + s.address() + extra + " wait 0\n";
}

// True when every needle occurs in text, each after the one before it.
bool inOrder(const std::string& text, const std::vector<std::string>& needles) {
    size_t at = 0;
    for (const std::string& n : needles) {
        at = text.find(n, at);
        if (at == std::string::npos) return false;
        at += n.size();
    }
    return true;
}

// The names of the last "完了したアトム: " line of out, sorted.
std::vector<std::string> completedListed(const std::string& out) {
    const std::string label = "完了したアトム: ";
    const size_t at = out.rfind(label);
    if (at == std::string::npos) return {};
    const size_t end = out.find("\r\n", at);
    std::string list = out.substr(at + label.size(), end - at - label.size());
    std::vector<std::string> names;
    for (size_t p = 0; p <= list.size();) {
        const size_t comma = std::min(list.find(',', p), list.size());
        names.push_back(list.substr(p, comma - p));
        p = comma + 1;
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomCommands, DefineListMoveAndDelete) {
    TempDir d;
    const RunResult r = run(d,
                            "!olf sys.log sys\n"
                            "!atom\n"
                            "hello\n"
                            "!!rem deferred\n"
                            "!end-atom\n"
                            "!la d\n"
                            "!end-atom\n"
                            "!atom X after A1, B by C1 except-by C2 until /x/\n"
                            "!atom Y\n"
                            "!la\n"
                            "!sa Y order 0\n"
                            "later\n"
                            "!sa X order -5\n"
                            "!sa A1 order 99\n"
                            "!la d\n"
                            "!sa nope order 1\n"
                            "!atom Z after\n"
                            "!atom W junk more\n"
                            "!da A1, nope\n"
                            "!da\n"
                            "!la\n"
                            "!end-atom\n"
                            "!q\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "!olf sys.log sys\r\nログファイル「sys.log」を開きました\r\n"
              "!atom\r\n[Register in A1] hello\r\n[Register in A1] !!rem deferred\r\n!end-atom\r\n"
              "!la d\r\n[1] ATOM 'A1'\r\n    hello\r\n    !!rem deferred\r\n1 個のアトムが待機中です\r\n"
              "!end-atom\r\nError 10017: 入力受付中のアトムがありません\n"
              "!atom X after A1, B by C1 except-by C2 until /x/\r\n!atom Y\r\n"
              "!la\r\n[1] ATOM 'A1'\r\n[2] ATOM 'X' after A1,B by C1 except-by C2\r\n[3] ATOM 'Y' [open]\r\n"
              "3 個のアトムが待機中です\r\n"
              // The open atom keeps its lines wherever it is moved.
              "!sa Y order 0\r\nアトム「Y」を 1/3 番目に移動しました\r\n[Register in Y] later\r\n"
              "!sa X order -5\r\nアトム「X」を 1/3 番目に移動しました\r\n"
              "!sa A1 order 99\r\nアトム「A1」を 3/3 番目に移動しました\r\n"
              "!la d\r\n[1] ATOM 'X' after A1,B by C1 except-by C2\r\n[2] ATOM 'Y' [open]\r\n    later\r\n"
              "[3] ATOM 'A1'\r\n    hello\r\n    !!rem deferred\r\n3 個のアトムが待機中です\r\n"
              "!sa nope order 1\r\nError 10018: アトム「nope」が見つかりません\n"
              "!atom Z after\r\nError 10014: 'after' のパラメータがありません\n"
              "!atom W junk more\r\nWarning 30001: 行末の余計な記述を無視します: 'junk more'\n"
              "!da A1, nope\r\nError 10018: アトム「nope」が見つかりません\n1 個のアトムを削除しました\r\n"
              "!da\r\n4 個のアトムを削除しました\r\n"
              "!la\r\n0 個のアトムが待機中です\r\n"
              "!end-atom\r\nError 10017: 入力受付中のアトムがありません\n"
              "!q\r\n");
    EXPECT_EQ(systemEvents(readFile(d.file("sys.log"))),
              (std::vector<std::string>{"Log file sys.log opened", "Atom A1 defined", "Atom X defined",
                                        "Atom Y defined", "Atom Z defined", "Delete atom A1",
                                        "1 atom(s) deleted", "4 atom(s) deleted", "Exit Vesperline"}));
}

TEST(AtomCommands, TypedLinesGoIntoTheOpenAtomWhileTypedCommandsRun) {
    RunOptions o;
    o.args = {"-v:0"};
    o.input = "!atom T\nhello\n!la d\n!end-atom\n!q\n";
    const RunResult r = vltest::runVesperline(o);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "[Register in T] hello\r\n[1] ATOM 'T' [open]\r\n    hello\r\n1 個のアトムが待機中です\r\n");
}

TEST(Scheduling, QueueOrderListOrderAndNamesThatRepeat) {
    LoopbackServer echo(ServerBehaviour::echoing());
    TempDir d;
    const RunResult r = run(d,
                            "!olf sys.log sys\n" + openLine(echo) + openLine(echo) +
                                "!atom first\nfirst #END#\n!end-atom\n"
                                "!atom A1 by C1\na1 #END#\n!end-atom\n"
                                "!atom A2 by C1\na2 #END#\n!end-atom\n"
                                "!atom A3 by C1\na3 #END#\n!end-atom\n"
                                "!atom twin by C2\nt1 #END#\n!end-atom\n"
                                "!atom twin by C2\nt2 #END#\n!end-atom\n"
                                "!atom Q after A3,twin by C2\n"
                                "!!delete-completed-atom A1, B\n"
                                "!!list-atom\n"
                                "!!quit\n"
                                "!end-atom\n");
    EXPECT_EQ(r.exitCode, 0);
    // Both connections are ready: the first in list order (not the current one) wins.
    EXPECT_NE(r.out.find("[Atom first => Connection C1]\r\n"), std::string::npos);
    EXPECT_TRUE(inOrder(r.out, {"[Atom A1 => Connection C1]", "[Atom A2 => Connection C1]",
                                "[Atom A3 => Connection C1]"}));
    EXPECT_EQ(vltest::countOf(r.out, "[Atom twin => Connection C2]\r\n"), 2);
    EXPECT_TRUE(inOrder(echo.received(), {"a1 #END#\r\n", "a2 #END#\r\n", "a3 #END#\r\n"}));
    // Each atom on C1 starts only after the one before it completed.
    const std::string log = readFile(d.file("sys.log"));
    EXPECT_TRUE(inOrder(log, {"Atom first completed", "Assigned atom A1 to connection C1", "Atom A1 completed",
                              "Assigned atom A2 to connection C1", "Atom A2 completed",
                              "Assigned atom A3 to connection C1"}));
    // The twin name completed twice but is recorded once; !dca removes A1 and
    // reports B, which never completed.
    EXPECT_EQ(vltest::countOf(log, "Atom twin completed"), 1);
    EXPECT_NE(r.out.find("Error 10018: 完了したアトム「B」が見つかりません\n1 個の完了アトムを削除しました\r\n"),
              std::string::npos);
    EXPECT_EQ(completedListed(r.out), (std::vector<std::string>{"A2", "A3", "first", "twin"}));
}

TEST(Scheduling, AfterHoldsUpNothingWhileAnAtomNoConnectionMayTakeHoldsUpEverything) {
    LoopbackServer echo(ServerBehaviour::echoing());
    TempDir d;
    const RunResult r = run(d, openLine(echo) +
                                   // C1 is ready and idle here: the listing shows A2 held up by A1.
                                   "!atom A1 by NOPE\na1\n!end-atom\n"
                                   "!atom A2\na2 #END#\n!end-atom\n"
                                   "!la\n"
                                   "!da A1\n"
                                   "!atom B1 after ZZZ\nb1\n!end-atom\n"
                                   "!atom B2\nb2 #END#\n!end-atom\n"
                                   "!atom Q after B2\n!!la\n!!quit\n!end-atom\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("!la\r\n[1] ATOM 'A1' by NOPE\r\n[2] ATOM 'A2'\r\n2 個のアトムが待機中です\r\n!da A1\r\n"),
              std::string::npos);
    EXPECT_TRUE(inOrder(r.out, {"[Atom A2 => Connection C1]", "[Atom B2 => Connection C1]",
                                "[Atom Q => Connection C1]", "[1] ATOM 'B1' after ZZZ\r\n1 個のアトムが待機中です\r\n"}));
    EXPECT_EQ(completedListed(r.out), (std::vector<std::string>{"A2", "B2"}));
    EXPECT_EQ(echo.received().find("a1"), std::string::npos);
    EXPECT_EQ(echo.received().find("b1"), std::string::npos);
}

TEST(Completion, MarkerSplitBetweenTwoPiecesCompletesTheAtom) {
    LoopbackServer s(ServerBehaviour::greet(""));
    TempDir d;
    BackgroundRun p(commandFile(d, "!olf cn.log cn\n" + openLine(s) +
                                       "!atom A1\ngo\n!end-atom\n"
                                       "!atom Q after A1\n!!quit\n!end-atom\n"));
    ASSERT_TRUE(s.waitReceived("go\r\n", kWait));
    s.sendToAll("#EN");
    ASSERT_TRUE(vltest::waitFileContains(d.file("cn.log"), "[C1<]#EN", kWait));
    s.sendToAll("D#");
    const RunResult& r = p.wait();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    // Two pieces, as the log shows, and the atom completed all the same.
    EXPECT_NE(readFile(d.file("cn.log")).find("[C1>]go\r\n[C1<]#EN[C1<]D#"), std::string::npos);
    EXPECT_NE(r.out.find("[Atom Q => Connection C1]"), std::string::npos);
}

TEST(Completion, UntilStaysInForceForTheNextAtomOnTheConnection) {
    LoopbackServer s(ServerBehaviour::greet(""));
    TempDir d;
    BackgroundRun p(commandFile(d, "!olf all.log cn sys\n" + openLine(s) +
                                       "!atom U until /prompt>/\nu\n!end-atom\n"
                                       "!atom V\nv\n!end-atom\n"
                                       "!atom Q after V\n!!quit\n!end-atom\n"));
    const std::string log = d.file("all.log");
    ASSERT_TRUE(s.waitReceived("u\r\n", kWait));
    s.sendToAll("#END#\r\n");  // not U's pattern
    ASSERT_TRUE(vltest::waitFileContains(log, "[C1<]#END#", kWait));
    s.sendToAll("prompt>");
    ASSERT_TRUE(s.waitReceived("v\r\n", kWait));
    s.sendToAll("#END#\r\n");  // no longer the pattern on C1
    ASSERT_TRUE(vltest::waitUntil([&] { return vltest::countOf(readFile(log), "[C1<]#END#") == 2; }, kWait));
    s.sendToAll("prompt>");
    const RunResult& r = p.wait();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(inOrder(readFile(log), {"[C1<]#END#", "[C1<]prompt>", "Atom U completed", "[C1<]#END#",
                                        "[C1<]prompt>", "Atom V completed"}));
}

TEST(Completion, AtomWithoutLinesOccupiesItsConnectionUntilTheMarker) {
    LoopbackServer s(ServerBehaviour::greet(""));
    TempDir d;
    BackgroundRun p(commandFile(d, "!olf sys.log sys\n" + openLine(s) +
                                       "!atom E\n!end-atom\n"
                                       "!atom F\nf\n!end-atom\n"
                                       "!atom Q after F\n!!quit\n!end-atom\n"));
    ASSERT_TRUE(vltest::waitFileContains(d.file("sys.log"), "Assigned atom E to connection C1", kWait));
    s.sendToAll("#END#");
    ASSERT_TRUE(s.waitReceived("f\r\n", kWait));
    EXPECT_EQ(s.received(), "f\r\n");  // nothing was sent for E
    s.sendToAll("#END#");
    EXPECT_EQ(p.wait().exitCode, 0);
}

TEST(CloseOnReady, TheMarkedConnectionClosesAfterItsAtomCompletes) {
    LoopbackServer echo(ServerBehaviour::echoing());
    LoopbackServer silent(ServerBehaviour::greet(""));
    TempDir d;
    BackgroundRun p(commandFile(d, openLine(echo) + openLine(silent) +
                                       "!atom A by C1\n!!close-on-ready\na #END#\n!end-atom\n"
                                       "!atom B after A by C2\nb\n!end-atom\n"
                                       "!atom Q after B\n!!quit\n!end-atom\n"));
    ASSERT_TRUE(echo.waitAccepted(1, kWait));
    ASSERT_TRUE(echo.waitOpenAtMost(0, kWait));
    ASSERT_TRUE(silent.waitReceived("b\r\n", kWait));
    EXPECT_EQ(silent.open(), 1);  // only the marked connection closed
    silent.sendToAll("#END#");
    const RunResult& r = p.wait();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("[Connection C1 closed]\r\n"), std::string::npos);
}

TEST(CloseOnReady, AMarkedConnectionStillRunningClosesWhenAnotherMarkedOneCompletes) {
    LoopbackServer silent1(ServerBehaviour::greet(""));
    LoopbackServer echo(ServerBehaviour::echoing());
    LoopbackServer silent3(ServerBehaviour::greet(""));
    TempDir d;
    BackgroundRun p(commandFile(d, openLine(silent1) + openLine(echo) + openLine(silent3) +
                                       "!atom X by C1\n!!close-on-ready\nx\n!end-atom\n"
                                       "!atom Y by C2\n!!cor\ny #END#\n!end-atom\n"
                                       "!atom Z after Y by C3\nz\n!end-atom\n"
                                       "!atom Q after Z\n!!quit\n!end-atom\n"));
    ASSERT_TRUE(silent1.waitReceived("x\r\n", kWait));
    ASSERT_TRUE(silent1.waitOpenAtMost(0, kWait));  // X never completed
    ASSERT_TRUE(echo.waitOpenAtMost(0, kWait));
    ASSERT_TRUE(silent3.waitReceived("z\r\n", kWait));
    EXPECT_EQ(silent3.open(), 1);
    silent3.sendToAll("#END#");
    EXPECT_EQ(p.wait().exitCode, 0);
}

TEST(Ready, AbandonsTheRunningAtom) {
    LoopbackServer s(ServerBehaviour::greet(""));
    TempDir d;
    const RunResult r = run(d, openLine(s) +
                                   "!atom R\nr\n!end-atom\n"
                                   "!ready C1\n"
                                   "!atom Q\n!!la\n!!quit\n!end-atom\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(inOrder(r.out, {"[Atom R => Connection C1]", "!ready C1\r\n", "[Connection C1 ready]\r\n",
                                "[Atom Q => Connection C1]", "!!la\r\n", "0 個のアトムが待機中です\r\n"}));
    EXPECT_EQ(r.out.find("実行中のアトム"), std::string::npos);
    EXPECT_EQ(r.out.find("完了したアトム"), std::string::npos);
}

TEST(DeferredCommands, MacroCallsAndCommandFilesInsideAnAtomJoinThePendingLines) {
    LoopbackServer echo(ServerBehaviour::echoing());
    TempDir d;
    d.write("more.vl", "!rem from more\n!quit\n");
    const RunResult r = run(d, openLine(echo) +
                                   "!macro m x\n!rem from macro ${x}\n!end-macro\n"
                                   "!atom A\n!!call-macro m hello\n!!read-command-file more.vl\na #END#\n!end-atom\n"
                                   "!rem next\n"
                                   "!rem last\n");
    EXPECT_EQ(r.exitCode, 0);
    // The macro's lines run right after the line whose pass ran the atom; the
    // file's lines after everything that was pending.
    EXPECT_TRUE(inOrder(r.out, {"[Atom A => Connection C1]", "!!call-macro m hello\r\n", "!rem from macro hello\r\n",
                                "!rem next\r\n", "!rem last\r\n", "!rem from more\r\n", "!quit\r\n"}));
}

TEST(DeferredCommands, QuitInsideAnAtomEndsTheRunAfterThePass) {
    LoopbackServer echo(ServerBehaviour::echoing());
    TempDir d;
    const RunResult r = run(d, openLine(echo) + "!atom A\n!!quit\nafter quit\n!end-atom\n!rem never\n");
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("!!quit\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("] after quit\r\n"), std::string::npos);  // the pass went on with the atom
    EXPECT_EQ(r.out.find("!rem never"), std::string::npos);
}

TEST(EndMarker, SlashQuotedMarkerWithAnEscapedSlash) {
    LoopbackServer echo(ServerBehaviour::echoing());
    TempDir d;
    const RunResult r = run(d, "!olf sys.log sys\n" + openLine(echo) +
                                   "!aem /#DONE\\/#/\n"
                                   "!atom A\nb #DONE/#\n!end-atom\n"
                                   "!atom Q after A\n!!quit\n!end-atom\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(readFile(d.file("sys.log")).find("Atom A completed"), std::string::npos);
}

}  // namespace

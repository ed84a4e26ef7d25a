// Log files through the built program: direction marks, system events with
// their time stamps, leaving out sent or received text, files for connections
// opened later, the connection listing's marks, and closing files by path.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/program_session.h"

using vltest::countOf;
using vltest::LoopbackServer;
using vltest::readFile;
using vltest::RunOptions;
using vltest::RunResult;
using vltest::ServerBehaviour;
using vltest::systemEvents;
using vltest::TempDir;

namespace {

RunResult run(const TempDir& dir, const std::string& content) {
    RunOptions o;
    o.args = {dir.write("run.vl", content), "-v:0"};
    o.workDir = dir.path();
    o.timeoutMs = 60000;
    return vltest::runVesperline(o);
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
    for (const std::string& x : v)
        if (x == s) return true;
    return false;
}

TEST(LogFiles, MarksSystemEventsAndLeftOutDirections) {
    LoopbackServer echo(ServerBehaviour::echoing("hi\r\n"));
    TempDir d;
    const RunResult r = run(d,
                            "!olf cn.log cn\n"
                            "!olf sys.log sys\n"
                            "!olf xs.log xs\n"
                            "!olf quiet.log xs xr sys\n"
                            "!open " + echo.address() + " wait 0\n"
                            "!atom A1\nping #END#\n!end-atom\n"
                            "!atom Q after A1\n!!list-connection\n!!quit\n!end-atom\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("[1] CONNECTION 'C1' -> " + echo.address() + " [occupied] [logging to 4 files]\r\n"),
              std::string::npos);

    // cn: each received piece after [C1<], each sent line after [C1>] with CR LF.
    const std::string cn = readFile(d.file("cn.log"));
    EXPECT_NE(cn.find("[C1<]hi\r\n"), std::string::npos);
    EXPECT_NE(cn.find("[C1>]ping #END#\r\n"), std::string::npos);
    EXPECT_EQ(countOf(cn, "ping #END#\r\n"), 2);  // sent, and received back
    EXPECT_EQ(cn.find("Exit"), std::string::npos);

    // sys: the traffic without marks, and every event with its time stamp.
    const std::string sys = readFile(d.file("sys.log"));
    EXPECT_EQ(countOf(sys, "ping #END#\r\n"), 2);
    EXPECT_EQ(sys.find("[C1"), std::string::npos);
    const std::vector<std::string> events = systemEvents(sys);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "Log file sys.log opened");
    EXPECT_EQ(events.back(), "Exit Vesperline");
    for (const char* e : {"Log file xs.log opened", "Log file quiet.log opened", "Connection C1 opened",
                          "Atom A1 defined", "Assigned atom A1 to connection C1", "Atom A1 completed",
                          "Assigned atom Q to connection C1", "Connection C1 closed"})
        EXPECT_TRUE(contains(events, e)) << e;
    for (const std::string& e : events) EXPECT_EQ(e.find("BAD STAMP"), std::string::npos) << e;

    // xs: only what was received; xs with xr: nothing but the events.
    const std::string xs = readFile(d.file("xs.log"));
    EXPECT_EQ(xs.rfind("hi\r\n", 0), 0u);
    EXPECT_EQ(countOf(xs, "ping #END#\r\n"), 1);
    const std::string quiet = readFile(d.file("quiet.log"));
    EXPECT_EQ(quiet.find("hi\r\n"), std::string::npos);
    EXPECT_EQ(quiet.find("ping"), std::string::npos);
    EXPECT_EQ(systemEvents(quiet).front(), "Log file quiet.log opened");
}

TEST(LogFiles, AFileForAConnectionOpenedLater) {
    LoopbackServer echo(ServerBehaviour::echoing());
    TempDir d;
    const RunResult r = run(d,
                            "!olf c2.log for C2 cn\n"
                            "!open " + echo.address() + " wait 0\n"
                            "!open " + echo.address() + " wait 0\n"
                            "!lc\n"
                            "!atom A by C1\none #END#\n!end-atom\n"
                            "!atom B by C2\ntwo #END#\n!end-atom\n"
                            "!atom Q after A,B\n!!quit\n!end-atom\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("ログファイル「c2.log」を 0 個の接続に対して設定しました\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("[2] CONNECTION 'C2' -> " + echo.address() + " [ready] [logging]\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("[1] CONNECTION 'C1' -> " + echo.address() + " [ready]\r\n"), std::string::npos);
    const std::string log = readFile(d.file("c2.log"));
    EXPECT_NE(log.find("[C2>]two #END#\r\n"), std::string::npos);
    EXPECT_NE(log.find("[C2<]two #END#\r\n"), std::string::npos);
    EXPECT_EQ(log.find("one"), std::string::npos);
}

TEST(LogFiles, OpenAndCloseByPath) {
    LoopbackServer s(ServerBehaviour::greet(""));
    TempDir d;
    const RunResult r = run(d,
                            "!clf\n"
                            "!olf\n"
                            "!open " + s.address() + " wait 0\n"
                            "!olf a.log\n"
                            "!olf b.log cn bogus\n"
                            "!olf c.log for\n"
                            "!clf\n"
                            "!clf A.LOG\n"
                            "!clf nope.log\n"
                            "!clf C.log\n"
                            "!clf\n"
                            "!olf no-such-folder/x.log\n"
                            "!clf\n"
                            "!q\n");
    EXPECT_EQ(r.exitCode, 0);
    const std::vector<std::string> expected = {
        "!clf\r\nError 10028: 開いているログファイルはありません\n",
        "!olf\r\nError 10019: ログファイルのパスを指定してください\n",
        "!olf a.log\r\nログファイル「a.log」を開きました\r\n",
        "!olf b.log cn bogus\r\nWarning 30001: 行末の余計な記述を無視します: 'bogus'\nログファイル「b.log」を開きました\r\n",
        "!olf c.log for\r\nError 10014: '!open-log-file' のパラメータがありません\nログファイル「c.log」を開きました\r\n",
        "!clf\r\nError 10019: ログファイルのパスを指定してください\n",
        "!clf A.LOG\r\n[Log file A.LOG closed for 1 connection(s)]\r\n",
        "!clf nope.log\r\nError 10022: ログファイル「nope.log」が見つかりません\n",
        "!clf C.log\r\n[Log file C.log closed for 1 connection(s)]\r\n",
        "!clf\r\n[Log file b.log closed for 1 connection(s)]\r\n",
        "!olf no-such-folder/x.log\r\nError 17000: no-such-folder/x.log を開けません",
        "!clf\r\nError 10028: 開いているログファイルはありません\n",
    };
    size_t at = 0;
    for (const std::string& e : expected) {
        const size_t found = r.out.find(e, at);
        ASSERT_NE(found, std::string::npos) << e << "\n---\n" << r.out;
        at = found + e.size();
    }
    EXPECT_TRUE(vltest::fileExists(d.file("a.log")));
    EXPECT_FALSE(vltest::fileExists(d.file("no-such-folder")));
}

}  // namespace

// Connections through the built program: -o and -wo at start, !open from a
// command file, received text and the closed notice, the echo of file lines in
// the highlighted colour (and none for typed lines), the listing, and -wr.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/process_runner.h"

using vltest::countOf;
using vltest::LoopbackServer;
using vltest::RunOptions;
using vltest::RunResult;
using vltest::ServerBehaviour;
using vltest::TempDir;

namespace {

// Runs the program quietly in dir with a command file and more arguments.
RunResult runWith(const TempDir& dir, const std::string& commands, std::vector<std::string> args = {},
                  const std::string& input = "", bool terminal = false) {
    dir.write("cmd.txt", commands);
    RunOptions o;
    o.workDir = dir.path();
    o.args = {"cmd.txt", "-v:0"};
    for (auto& a : args) o.args.push_back(a);
    o.input = input;
    o.terminal = terminal;
    o.timeoutMs = 30000;
    return vltest::runVesperline(o);
}

size_t at(const RunResult& r, const std::string& needle) { return r.out.find(needle); }

TEST(ConnectionRun, StartUpConnectionsExistBeforeTheFirstLineAndOpensCountOn) {
    LoopbackServer one(ServerBehaviour::greet("one>"));
    LoopbackServer two(ServerBehaviour::greet("two>"));
    TempDir d;
    const RunResult r = runWith(d,
                                "!lc\n"
                                "!open " + two.address() + " wait 300\n"
                                "!open " + two.address() + " as named wait 300\n"
                                "!lc\n"
                                "!q\n",
                                {"-o:" + one.address(), "-wo:300", "-wr:0"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    const std::string p1 = std::to_string(one.port()), p2 = std::to_string(two.port());
    // The greeting arrived during the -wo wait, before the first listing.
    EXPECT_LT(at(r, "one>"), at(r, "!lc\r\n[1] CONNECTION 'C1' -> 127.0.0.1:" + p1 + " [ready]\r\n1 個の接続"));
    EXPECT_NE(at(r, "[1] CONNECTION 'C1' -> 127.0.0.1:" + p1 + " [ready]\r\n"
                    "[2] CONNECTION 'C2' -> 127.0.0.1:" + p2 + " [ready]\r\n"
                    "[3] CONNECTION 'named' -> 127.0.0.1:" + p2 + " [ready]\r\n"
                    "3 個の接続があります\r\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(countOf(r.out, "two>"), 2);
    EXPECT_EQ(countOf(r.out, "Error"), 0);
    EXPECT_EQ(countOf(r.out, "closed]"), 3);  // !quit closes them all
}

TEST(ConnectionRun, FileLinesAreEchoedTypedLinesAreNot) {
    LoopbackServer echo(ServerBehaviour::greet(""));
    TempDir d;
    const RunResult r = runWith(d, "!open " + echo.address() + " wait 300\nfrom file\n", {},
                                "typed line\n!wait 1\n!q\n");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(echo.waitReceived("from file\r\ntyped line\r\n", 3000)) << echo.received();
    EXPECT_NE(at(r, "from file\r\n[send to C1] from file\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(countOf(r.out, "typed line"), 1);  // only the system message
    EXPECT_NE(at(r, "[send to C1] typed line\r\n"), std::string::npos);
}

TEST(ConnectionRun, ColoursOnATerminal) {
    LoopbackServer server(ServerBehaviour::greet("hello"));
    TempDir d;
    const RunResult r = runWith(d,
                                "!open " + server.address() + " color 3 wait 300\n"
                                "echoed\n"
                                "!sc color 0x1E\n"
                                "!q\n",
                                {}, "", true);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    // Received text in the connection's colour 3 (cyan), the echo of a file line
    // in its highlighted form 11 (bright cyan), both followed by the reset.
    EXPECT_NE(at(r, "\x1b[36;49mhello\x1b[0m"), std::string::npos) << r.out;
    EXPECT_NE(at(r, "\x1b[96;49mechoed\x1b[0m"), std::string::npos) << r.out;
    // The sentence of !sc color shows the words "この色" in the new colour.
    EXPECT_NE(at(r, "接続「C1」を\x1b[93;44mこの色\x1b[0mに設定しました"), std::string::npos) << r.out;
}

TEST(ConnectionRun, AServerThatHangsUpIsShownWholeThenTheNoticeAndThePreviousIsCurrent) {
    LoopbackServer stay(ServerBehaviour::greet(""));
    std::string farewell;
    for (int i = 0; i < 3000; ++i) farewell += "bye " + std::to_string(i) + "\r\n";
    LoopbackServer leave(ServerBehaviour::sendAndClose(std::string("a\0b\r\0", 5) + farewell));
    TempDir d;
    const RunResult r = runWith(d,
                                "!open " + stay.address() + " as stay wait 0\n"
                                "!open " + leave.address() + " as leave wait 1000\n"
                                "!lc\n"
                                "to the previous one\n"
                                "!q\n");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    // NUL bytes are not shown; everything else is, before the notice.
    const size_t text = at(r, "ab\r" + farewell);
    ASSERT_NE(text, std::string::npos) << r.out.substr(0, 300);
    EXPECT_EQ(at(r, "[Connection leave closed]\r\n"), text + 3 + farewell.size());
    EXPECT_NE(at(r, "[1] CONNECTION 'stay' -> 127.0.0.1:" + std::to_string(stay.port()) +
                        " [ready]\r\n1 個の接続があります\r\n"),
              std::string::npos);
    EXPECT_TRUE(stay.waitReceived("to the previous one\r\n", 3000));
}

TEST(ConnectionRun, RefusedUnresolvableAndCommandsWithoutAConnection) {
    TempDir d;
    const RunResult r = runWith(d,
                                "!open 127.0.0.1:" + std::to_string(vltest::refusedPort()) + " wait 0\n"
                                "!open no-such-host.invalid wait 0\n"
                                "!close\n"
                                "!r\n"
                                "!cc C1\n"
                                "!lc\n"
                                "!q\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(at(r, "Error 17300: Socket Error 111 (Connection refused): failed to connect() to 127.0.0.1\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(at(r, "Error 10015: 「no-such-host.invalid」を IP アドレスに変換できません\n"), std::string::npos);
    EXPECT_NE(at(r, "Error 10004: 閉じるべき接続が見つかりません\n"), std::string::npos);
    EXPECT_NE(at(r, "Error 10001: 接続が見つかりません\n"), std::string::npos);
    EXPECT_NE(at(r, "Error 10005: 接続「C1」が見つかりません\n"), std::string::npos);
    EXPECT_NE(at(r, "0 個の接続があります\r\n"), std::string::npos);
}

}  // namespace

// Connections through the built program: -o, -wo and -wr at start, !open from a
// command file, the listing, the echo of file lines in the highlighted colour
// (and none for typed lines), colours on a terminal, and NUL bytes: left out on
// the console, kept in log files.
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
                                "!open " + server.address() + " color 3 wait 500\n"
                                "echoed\n"
                                "!atom A1\nx\n!end-atom\n"
                                "!sc color 0x1E\n"
                                "!q\n",
                                {"-wr:0"}, "", true);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    // Received text in the connection's colour 3 (cyan), the echo of a file line
    // in its highlighted form 11 (bright cyan), both followed by the reset.
    EXPECT_NE(at(r, "\x1b[36;49mhello\x1b[0m"), std::string::npos) << r.out;
    // The echo, then the system message (colour 16h), each with its line end
    // after the reset (the terminal adds carriage returns of its own).
    std::string lines = r.out;
    std::erase(lines, '\r');
    EXPECT_NE(lines.find("\x1b[96;49mechoed\x1b[0m\n\x1b[33;44m[send to C1] echoed\x1b[0m\n"), std::string::npos)
        << r.out;
    // In the assignment notice only the connection's name part is coloured.
    EXPECT_NE(lines.find("[Atom A1 => \x1b[36;49mConnection C1\x1b[0m]\n\x1b[96;49mx\x1b[0m\n"), std::string::npos)
        << r.out;
    // The sentence of !sc color shows the words "この色" in the new colour.
    EXPECT_NE(at(r, "接続「C1」を\x1b[93;44mこの色\x1b[0mに設定しました"), std::string::npos) << r.out;
}

TEST(ConnectionRun, LogFilesGetEveryByteTheConsoleLeavesOutNul) {
    const char bytes[] = "login:\r\0\r\nok\0\r\n";
    const std::string sent(bytes, sizeof bytes - 1);
    LoopbackServer talker(ServerBehaviour::sendAndClose(sent));
    TempDir d;
    const RunResult r = runWith(d, "!olf log.txt\n!open " + talker.address() + " as t wait 500\n!q\n");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(at(r, "login:\r\r\nok\r\n[Connection t closed]\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(vltest::readFile(d.file("log.txt")), sent);
}

}  // namespace

// The interactive console as a user at a terminal meets it: the built program
// runs with standard input and output on a pseudo-terminal that the test
// types into, and a screen model shows what the user would see. Output that
// arrives while a line is half typed, history, completion, secret lines, and
// Ctrl-C and Ctrl-D with the terminal's modes afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/screen.h"
#include "tests/support/telnet_daemon.h"

namespace vltest {
namespace {

constexpr int kWait = 30000;  // generous: sanitizer builds on a busy machine
const std::string kUp = "\x1b[A";

// One run of the program at a terminal of its own, against its own servers.
class Console {
public:
    Console(std::vector<ServerBehaviour> servers, std::vector<std::string> args, int columns = 80,
            std::vector<std::string> env = {}) {
        for (const ServerBehaviour& b : servers) servers_.push_back(std::make_unique<LoopbackServer>(b));
        o_.workDir = dir_.path();
        for (std::string a : args) o_.args.push_back(fill(a));
        o_.args.push_back("-v:0");
        o_.terminalInput = true;
        o_.columns = columns;
        o_.env = {"TERM=vt100"};
        o_.env.insert(o_.env.end(), env.begin(), env.end());
        o_.live = std::make_shared<LiveIo>();
    }
    ~Console() {
        if (thread_.joinable()) {
            o_.live->signal(9);
            thread_.join();
        }
    }

    // {S1} is the first server's address, {D} the run's folder.
    std::string fill(std::string s) const {
        auto replace = [&](const std::string& from, const std::string& to) {
            for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
                s.replace(at, from.size(), to);
        };
        replace("{D}", dir_.path());
        for (size_t i = 0; i < servers_.size(); ++i) replace("{S" + std::to_string(i + 1) + "}", servers_[i]->address());
        return s;
    }
    const TempDir& dir() const { return dir_; }
    LoopbackServer& server(int n) { return *servers_.at(static_cast<size_t>(n - 1)); }

    // Starts the program and waits until its line editor has the terminal.
    void start() {
        thread_ = std::thread([this] { result_ = runVesperline(o_); });
        ASSERT_TRUE(waitUntil([&] { return o_.live->terminalOpen() && !o_.live->terminalEchoes(); }, kWait))
            << "the editor never took the terminal";
    }
    void type(const std::string& text) { o_.live->type(text); }
    std::string output() const { return o_.live->output(); }
    bool echoes() const { return o_.live->terminalEchoes(); }
    bool readsHiddenLine() const { return o_.live->terminalReadsLines() && !o_.live->terminalEchoes(); }
    void signal(int sig) { o_.live->signal(sig); }

    Screen screen() const {
        Screen s(o_.columns, 24);
        s.feed(o_.live->output());
        return s;
    }
    // The text of the cursor's row.
    std::string cursorRowText() const {
        const Screen s = screen();
        return s.row(s.cursorRow());
    }
    // Waits until the screen satisfies cond; on failure adds the screen to the message.
    void waitScreen(const std::function<bool(const Screen&)>& cond, const std::string& what) {
        if (!waitUntil([&] { return cond(screen()); }, kWait))
            ADD_FAILURE() << "the screen never showed " << what << ":\n" << screen().text();
    }
    void waitCursorRow(const std::string& text) {
        waitScreen([&](const Screen& s) { return s.row(s.cursorRow()) == text; }, "the typed line '" + text + "'");
    }

    RunResult finish() {
        thread_.join();
        return result_;
    }

private:
    std::vector<std::unique_ptr<LoopbackServer>> servers_;
    TempDir dir_;
    RunOptions o_;
    RunResult result_;
    std::thread thread_;
};

TEST(InteractiveConsole, OutputGoesAboveTheHalfTypedLine) {
    Console c({ServerBehaviour::greet("Router> ")}, {"-o:{S1}", "-wo:0", "-wr:0"});
    c.start();
    c.waitScreen([](const Screen& s) { return s.lastLineWith("Router>") >= 0; }, "the device's prompt");
    // Typing continues on the prompt's row, as it would without the editor.
    c.type("show ver");
    c.waitCursorRow("Router> show ver");
    c.server(1).sendToAll("\r\n%LINK-3-UPDOWN: up\r\nRouter> ");
    // Checked once the text is shown and the line drawn again below it.
    c.waitScreen(
        [](const Screen& s) {
            const int message = s.lastLineWith("%LINK-3-UPDOWN: up");
            return message >= 0 && s.cursorLine() == message + 1 && s.row(s.cursorRow()) == "Router> show ver" &&
                   s.cursorColumn() == 16;
        },
        "the new text above the line");
    Screen s = c.screen();
    const int message = s.lastLineWith("%LINK-3-UPDOWN: up");
    EXPECT_EQ(s.lines().at(static_cast<size_t>(message) - 1), "Router>");
    EXPECT_EQ(s.cursorLine(), message + 1) << s.text();
    EXPECT_EQ(s.row(s.cursorRow()), "Router> show ver");
    EXPECT_EQ(s.cursorColumn(), 16);
    // The program's own messages go above the line too, and the line is whole.
    c.type(" detail\r");
    ASSERT_TRUE(c.server(1).waitReceived("show ver detail\r\n", kWait)) << c.server(1).received();
    c.waitScreen([](const Screen& s) { return s.lastLineWith("[send to C1] show ver detail") >= 0; }, "the send message");
    c.type("!q\r");
    const RunResult r = c.finish();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.terminalModesKept);
}

TEST(InteractiveConsole, AHalfLineLongerThanARowStaysWholeBelowOutput) {
    Console c({ServerBehaviour::greet("")}, {"-o:{S1}", "-wo:0", "-wr:0"}, 40);
    c.start();
    const std::string typed = "echo 0123456789abcdefghijklmnopqrstuvwxyz0123456789ABCDEFG";  // 57 characters
    c.type(typed);
    c.waitScreen([&](const Screen& s) { return s.lastLineWith("ABCDEFG") >= 0; }, "the long line");
    // The cursor goes back into the middle of the line before the output arrives.
    c.type("\x1b[D\x1b[D\x1b[D");
    c.server(1).sendToAll("alarm one\r\nalarm two\r\n");
    // The keys and the alarms race; what counts is the screen once both are
    // done: the alarms above, the whole line below, the cursor where it was.
    const int column = static_cast<int>(typed.size()) - 40 - 3;
    c.waitScreen(
        [&](const Screen& s) {
            const int two = s.lastLineWith("alarm two");
            const std::vector<std::string> lines = s.lines();
            return two >= 1 && lines.size() >= static_cast<size_t>(two) + 3 &&
                   lines[static_cast<size_t>(two) + 1] + lines[static_cast<size_t>(two) + 2] == typed &&
                   s.cursorLine() == two + 2 && s.cursorColumn() == column;
        },
        "the alarms above the whole line");
    const Screen s = c.screen();
    const std::vector<std::string> lines = s.lines();
    const int two = s.lastLineWith("alarm two");
    ASSERT_GE(two, 1);
    EXPECT_EQ(lines.at(static_cast<size_t>(two) - 1), "alarm one");
    ASSERT_GE(lines.size(), static_cast<size_t>(two) + 3);
    EXPECT_EQ(lines.at(static_cast<size_t>(two) + 1) + lines.at(static_cast<size_t>(two) + 2), typed) << s.text();
    EXPECT_EQ(s.cursorLine(), two + 2);
    EXPECT_EQ(s.cursorColumn(), column);
    c.type("X\r");
    ASSERT_TRUE(c.server(1).waitReceived(typed.substr(0, typed.size() - 3) + "X" + "EFG\r\n", kWait))
        << c.server(1).received();
    c.type("!q\r");
    EXPECT_EQ(c.finish().exitCode, 0);
}

// Bytes that the locale cannot read (Latin-1 or Shift-JIS typed into a UTF-8
// or an ASCII locale) are edited as they come and sent unchanged.
TEST(InteractiveConsole, TypedBytesReachTheServerWhateverTheLocale) {
    const std::string typed = "caf\xe9 \xe6\x97\xa5\xe6\x9c\xac \x93\xfa\x96\x7b \xff";
    for (const char* locale : {"LC_ALL=C", "LC_ALL=C.UTF-8"}) {
        Console c({ServerBehaviour::greet("")}, {"-o:{S1}", "-wo:0"}, 80, {locale});
        c.start();
        c.type(typed + "\x1b[D\x1b[D\b\x1b[C\x1b[C!\r");  // edited in the middle, by characters
        std::string want = typed;
        want.erase(want.size() - 3, 1);
        want += "!\r\n";
        EXPECT_TRUE(c.server(1).waitReceived(want, kWait)) << locale << ": " << c.server(1).received();
        c.type("!q\r");
        EXPECT_EQ(c.finish().exitCode, 0) << locale;
    }
}

TEST(InteractiveConsole, HistoryRecallsTypedLinesAndKeepsThemInItsFile) {
    Console c({ServerBehaviour::greet("")}, {"-o:{S1}", "-wo:0", "-hist:{D}/hist.txt"});
    writeFile(c.dir().file("hist.txt"), "from before\n");
    c.start();
    c.type("first\r");
    ASSERT_TRUE(c.server(1).waitReceived("first\r\n", kWait));
    c.type("second\r");
    ASSERT_TRUE(c.server(1).waitReceived("second\r\n", kWait));
    c.type(kUp);
    c.waitCursorRow("second");
    c.type(kUp + kUp);
    c.waitCursorRow("from before");
    c.type("\r");
    ASSERT_TRUE(c.server(1).waitReceived("second\r\nfrom before\r\n", kWait)) << c.server(1).received();
    // Ctrl-R finds an earlier line by a part of it.
    c.type("\x12" "fir");
    c.waitScreen([](const Screen& s) { return s.row(s.cursorRow()).find("first") != std::string::npos; }, "the found line");
    c.type("\r");
    ASSERT_TRUE(c.server(1).waitReceived("from before\r\nfirst\r\n", kWait)) << c.server(1).received();
    c.type("!q\r");
    EXPECT_EQ(c.finish().exitCode, 0);
    EXPECT_EQ(readFile(c.dir().file("hist.txt")), "from before\nfirst\nsecond\nfrom before\nfirst\n!q\n");
    struct stat st{};
    ASSERT_EQ(::stat(c.dir().file("hist.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(InteractiveConsole, TabCompletesCommandsConnectionsMacrosAndFiles) {
    Console c({ServerBehaviour::greet("")}, {"run.vl", "-o:{S1}", "-wo:0"});
    writeFile(c.dir().file("run.vl"), c.fill("!macro greet who\nhello ${who}\n!em\n!open {S1} as core wait 0\n"));
    writeFile(c.dir().file("setup-devices.vl"), "");
    c.start();
    c.waitScreen([](const Screen& s) { return s.lastLineWith("[Register in macro greet]") >= 0; }, "the macro");
    c.type("!list-c\t");
    c.waitCursorRow("!list-connection");
    c.type("\r");
    c.waitScreen([](const Screen& s) { return s.lastLineWith("2 個の接続があります") >= 0; }, "the listing");
    // A connection name, a macro name and a file name where the command takes one.
    c.type("!cc co\t");
    c.waitCursorRow("!cc core");
    c.type("\x15!!cm gr\t");
    c.waitCursorRow("!!cm greet");
    c.type("\x15!rcf setup\t");
    c.waitCursorRow("!rcf setup-devices.vl");
    // Several candidates and nothing to add: they are listed above the line.
    c.type("\x15!cl\t");
    c.waitScreen([](const Screen& s) {
        const int list = s.lastLineWith("close-log-file");
        return list >= 0 && s.cursorLine() > list && s.row(s.cursorRow()) == "!cl";
    }, "the candidates above '!cl'");
    c.type("\x15!q\r");
    EXPECT_EQ(c.finish().exitCode, 0);
}

TEST(InteractiveConsole, SecretLinesReachTheServerButNoScreenLogHistoryOrMessageFile) {
    Console c({ServerBehaviour::greet(""), ServerBehaviour::greet("")},
              {"run.vl", "-o:{S1}", "-o:{S2}", "-wo:0", "-hist:{D}/hist.txt", "-mf:{D}/msg.txt"});
    // A !secret run from a command file takes the next typed line; C1 is named.
    writeFile(c.dir().file("run.vl"), c.fill("!open-log-file {D}/log.txt sys\n!secret C1\n"));
    c.start();
    // The secret is read as the terminal reads a line, without its echo.
    ASSERT_TRUE(waitUntil([&] { return c.readsHiddenLine(); }, kWait)) << c.output();
    c.type("hunter2\r");
    ASSERT_TRUE(c.server(1).waitReceived("hunter2\r\n", kWait)) << c.server(1).received();
    // Typed: the current connection (C2), also an empty line; then ordinary lines again.
    c.type("!sec\r");
    c.type("tiger\r");
    ASSERT_TRUE(c.server(2).waitReceived("tiger\r\n", kWait)) << c.server(2).received();
    c.type("!secret\r\r");
    c.type("visible\r");
    ASSERT_TRUE(c.server(2).waitReceived("tiger\r\n\r\nvisible\r\n", kWait)) << c.server(2).received();
    c.type("!secret nowhere\r");
    ASSERT_TRUE(waitUntil([&] { return c.readsHiddenLine(); }, kWait)) << c.output();
    c.type("lost\r");
    c.waitScreen([](const Screen& s) { return s.lastLineWith("接続「nowhere」が見つかりません") >= 0; }, "the error");
    c.type("!q\r");
    const RunResult r = c.finish();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.terminalModesKept);
    const Screen s = c.screen();
    EXPECT_GE(s.lastLineWith("[send to C1] ********"), 0) << s.text();
    EXPECT_GE(s.lastLineWith("[send to C2] ********"), 0) << s.text();
    for (const std::string secret : {"hunter2", "tiger", "lost"}) {
        EXPECT_EQ(r.out.find(secret), std::string::npos) << secret;
        for (const std::string file : {"log.txt", "hist.txt", "msg.txt"})
            EXPECT_EQ(readFile(c.dir().file(file)).find(secret), std::string::npos) << secret << " in " << file;
    }
    EXPECT_EQ(countOf(readFile(c.dir().file("log.txt")), "********"), 3);
    EXPECT_EQ(readFile(c.dir().file("hist.txt")), "!sec\n!secret\nvisible\n!secret nowhere\n!q\n");
}

// A telnet server that takes over the echo and asks for a password: the line
// typed at that prompt is a secret for that connection; the next one is not.
TEST(InteractiveConsole, ALineTypedAtAnEchoingServersPasswordPromptIsSecret) {
    Console c({telnetDaemon()}, {"run.vl", "-o:{S1}", "-wo:0", "-wr:0", "-hist:{D}/hist.txt"});
    writeFile(c.dir().file("run.vl"), c.fill("!olf {D}/log.txt\n"));
    c.start();
    c.waitScreen([](const Screen& s) { return s.lastLineWith("login:") >= 0; }, "the login prompt");
    EXPECT_FALSE(c.readsHiddenLine());
    c.type("admin\r");
    ASSERT_TRUE(waitUntil([&] { return c.readsHiddenLine(); }, kWait)) << c.output();
    c.type("s3cret\r");
    c.waitScreen([](const Screen& s) { return s.lastLineWith("$") >= 0; }, "the shell prompt");
    c.type("whoami\r");
    c.waitScreen([](const Screen& s) { return s.lastLineWith("[send to C1] whoami") >= 0; }, "the next line");
    c.type("!q\r");
    const RunResult r = c.finish();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(c.server(1).received().find("admin\r\ns3cret\r\nwhoami\r\n"), std::string::npos);
    EXPECT_GE(c.screen().lastLineWith("[send to C1] ********"), 0) << c.screen().text();
    EXPECT_EQ(r.out.find("s3cret"), std::string::npos);
    for (const std::string file : {"log.txt", "hist.txt"})
        EXPECT_EQ(readFile(c.dir().file(file)).find("s3cret"), std::string::npos) << file;
    EXPECT_NE(readFile(c.dir().file("log.txt")).find("********\r\n"), std::string::npos);
}

TEST(InteractiveConsole, CtrlCEndsTheRunAndRestoresTheTerminal) {
    Console c({ServerBehaviour::greet("")}, {"-o:{S1}", "-wo:0", "-wr:0"});
    c.start();
    c.type("half a li");
    c.waitCursorRow("half a li");
    c.type("\x03");
    const RunResult r = c.finish();
    EXPECT_EQ(r.exitCode, 130) << r.out;
    EXPECT_TRUE(r.terminalModesKept);
    EXPECT_EQ(c.server(1).received(), "");
}

TEST(InteractiveConsole, CtrlDOnAnEmptyLineEndsConsoleInput) {
    Console c({ServerBehaviour::greet("")}, {"-o:{S1}", "-wo:0"});
    c.start();
    // Not on a line with text: there it deletes the character under the cursor.
    c.type("ab\x1b[D\x04\r");
    ASSERT_TRUE(c.server(1).waitReceived("a\r\n", kWait)) << c.server(1).received();
    c.type("\x04");
    // The terminal is the user's again: it echoes, and nothing reads what is typed.
    ASSERT_TRUE(waitUntil([&] { return c.echoes(); }, kWait));
    c.type("!q\r");
    c.waitScreen([](const Screen& s) { return s.lastLineWith("!q") >= 0; }, "the echo of '!q'");
    c.signal(15);
    const RunResult r = c.finish();
    EXPECT_EQ(r.exitCode, 143);
    EXPECT_TRUE(r.terminalModesKept);
}

}  // namespace
}  // namespace vltest

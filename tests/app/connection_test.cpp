// Connections in process, against loopback servers: !open with its keywords and
// failures, the receive path (every byte but NUL shown, the last words before a
// close), the send path (queueing before the first write, echo, order and
// completeness through short sends), closing, and the settings commands with
// the listing.
#include "app/connection.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "app/line_record.h"
#include "app/pending_lines.h"
#include "app/settings.h"
#include "base/lock.h"
#include "base/thread.h"
#include "tests/support/loopback_server.h"
#include "tests/support/msg_capture.h"

namespace {

bool waitUntil(const std::function<bool()>& cond, int timeoutMs) {
    const int64_t end = vltest::monoMs() + timeoutMs;
    while (!cond()) {
        if (vltest::monoMs() > end) return false;
        sleepMs(5);
    }
    return true;
}

int count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
    return n;
}

class Connections : public ::testing::Test {
protected:
    void SetUp() override {
        initThreads();
        resetColorList();
        g_receivePause = 100;
        g_inputShow = 1;
        g_systemMsgColor = 0x16;
        g_openWait = 0;
    }
    void TearDown() override {
        closeAllConnections();
        EXPECT_TRUE(waitUntil([] { return connectionCount() == 0; }, 5000));
    }

    // Runs one typed control command with the current connection.
    void run(const std::string& command) {
        LineRecord line('i', command.c_str());
        dispatchCommand(currentConnection(), line, pending);
    }
    // Opens host without waiting; returns the new current connection's name.
    std::string open(const std::string& args) {
        run("open " + args + " wait 0");
        LLockGuard guard;
        TSocket* c = g_connections.last();
        return c != nullptr ? c->name.data() : "";
    }
    // The connection names in list order.
    std::vector<std::string> names() {
        LLockGuard guard;
        std::vector<std::string> v;
        for (TSocket* c : g_connections) v.push_back(c->name.data());
        return v;
    }
    int colorOf(const std::string& name) {
        LLockGuard guard;
        TSocket* c = findConnection(name.c_str());
        return c != nullptr ? c->color : -1;
    }
    // The number in a default name "C<n>".
    static int number(const std::string& name) { return std::stoi(name.substr(1)); }

    PendingLines pending;
    vltest::MsgCapture capture;
    vltest::LoopbackServer server{vltest::ServerBehaviour::greet("")};
};

TEST_F(Connections, OpenWithoutNamesCountsOnAndTheLastIsCurrent) {
    const std::string a = open(server.address());
    const std::string b = open(server.address());
    ASSERT_EQ(names(), (std::vector<std::string>{a, b}));
    EXPECT_EQ(number(b), number(a) + 1);
    EXPECT_EQ(currentConnection(), findConnection(b.c_str()));
    // Automatic colours go round the list in turn.
    const int ca = colorOf(a), cb = colorOf(b);
    const std::vector<int> list = {3, 6, 5, 2, 4};
    const auto ia = std::find(list.begin(), list.end(), ca) - list.begin();
    EXPECT_EQ(cb, list[(ia + 1) % 5]);
    EXPECT_TRUE(capture.reports().empty());
}

TEST_F(Connections, ColorKeywordAndItsErrors) {
    const std::string auto1 = open(server.address() + " color 0");
    const std::string fixed = open(server.address() + " color 0x1E");
    EXPECT_EQ(colorOf(fixed), 0x1E);
    capture.clear();
    const std::string bad = open(server.address() + " color 256");
    ASSERT_EQ(capture.codes(), std::vector<int>{10008});
    EXPECT_EQ(capture.textOf(10008), "接続「」に対する色指定 100h は正しくありません");
    EXPECT_EQ(names().size(), 3u);  // still opened, with an automatic colour
    capture.clear();
    open(server.address() + " as Named color 5 color -1");
    EXPECT_EQ(capture.textOf(10008), "接続「Named」に対する色指定 FFFFFFFFh は正しくありません");
    EXPECT_EQ(colorOf("Named"), 5);  // the earlier valid colour stays
    (void)auto1;
    (void)bad;
}

TEST_F(Connections, PortSuffixNamesAndDuplicates) {
    ASSERT_EQ(open(server.address() + " as D1"), "D1");
    capture.clear();
    run("open " + server.address() + " as D1 wait 0");
    EXPECT_EQ(capture.codes(), std::vector<int>{10029});
    EXPECT_EQ(capture.textOf(10029), "接続「D1」はすでに存在します");
    EXPECT_EQ(names().size(), 1u);
    // Default names are not checked: a later default name may equal a given one,
    // and lookups then find the earlier connection.
    // (Every construction takes a number, also one that is given a name.)
    const std::string probe = open(server.address());
    const std::string next = "C" + std::to_string(number(probe) + 2);
    open(server.address() + " as " + next);
    EXPECT_EQ(open(server.address()), next);
    EXPECT_EQ(findConnection(next.c_str()), [&] {
        LLockGuard guard;
        return g_connections[2];
    }());
    EXPECT_TRUE(server.waitAccepted(4, 3000));
}

TEST_F(Connections, UnresolvableHostMovesNoCounterRefusedOneUsesANumber) {
    const std::string a = open(server.address());
    capture.clear();
    run("open no-such-host.invalid:23 wait 0");
    EXPECT_EQ(capture.codes(), std::vector<int>{10015});
    EXPECT_EQ(capture.textOf(10015), "「no-such-host.invalid:23」を IP アドレスに変換できません");
    const std::string b = open(server.address());
    EXPECT_EQ(number(b), number(a) + 1);
    capture.clear();
    run("open 127.0.0.1:" + std::to_string(vltest::refusedPort()) + " wait 0");
    EXPECT_EQ(capture.codes(), std::vector<int>{17300});
    EXPECT_NE(capture.textOf(17300).find("failed to connect() to 127.0.0.1"), std::string::npos);
    const std::string c = open(server.address());
    EXPECT_EQ(number(c), number(b) + 2);
    // The refused connection used up its automatic colour as well.
    const std::vector<int> list = {3, 6, 5, 2, 4};
    const auto ib = std::find(list.begin(), list.end(), colorOf(b)) - list.begin();
    EXPECT_EQ(colorOf(c), list[(ib + 2) % 5]);
    EXPECT_EQ(names(), (std::vector<std::string>{a, b, c}));
}

TEST_F(Connections, UnknownKeywordWarnsAndStillOpens) {
    const std::string a = open(server.address() + " nr bogus and more");
    EXPECT_EQ(capture.codes(), std::vector<int>{30001});
    EXPECT_EQ(capture.textOf(30001), "行末の余計な記述を無視します: 'bogus and more wait 0'");
    ASSERT_EQ(names(), std::vector<std::string>{a});
    LLockGuard guard;
    EXPECT_FALSE(findConnection(a.c_str())->ready());
}

TEST_F(Connections, ReceivedTextShowsEveryByteButNulAndComesBeforeTheClosedNotice) {
    vltest::LoopbackServer talker(vltest::ServerBehaviour::sendAndClose(std::string("login:\r\0 x\0\0y\r\n", 15)));
    const std::string a = open(server.address());
    const std::string b = "talker";  // named: it may be gone before open() returns
    open(talker.address() + " as " + b);
    ASSERT_TRUE(waitUntil([] { return connectionCount() == 1; }, 5000));
    const std::string out = capture.plain();
    const size_t text = out.find("login:\r xy\r\n");
    const size_t notice = out.find("[Connection " + b + " closed]\r\n");
    ASSERT_NE(text, std::string::npos) << out;
    ASSERT_NE(notice, std::string::npos) << out;
    EXPECT_LT(text, notice);
    // The previous connection is current again.
    EXPECT_EQ(currentConnection(), findConnection(a.c_str()));
}

TEST_F(Connections, LastWordsOfAServerThatHangsUpAreAllShown) {
    std::string words;
    for (int i = 0; i < 6000; ++i) words += "line " + std::to_string(i) + " of the farewell\r\n";
    vltest::LoopbackServer talker(vltest::ServerBehaviour::sendAndClose(words));
    const std::string b = "talker";
    open(talker.address() + " as " + b);
    ASSERT_TRUE(waitUntil([] { return connectionCount() == 0; }, 5000));
    const std::string out = capture.plain();
    EXPECT_EQ(out.find(words), 0u);
    EXPECT_EQ(out.substr(words.size()), "[Connection " + b + " closed]\r\n");
}

TEST_F(Connections, LinesBeforeTheFirstWriteQueueAndGoOutInOrder) {
    std::string name;
    {
        // While we hold the lock the new thread cannot take its first kFdWrite.
        LLockGuard guard;
        openConnection(server.address().c_str(), 0, "", false, -1);
        TSocket* c = currentConnection();
        name = c->name.data();
        queueLine(c, LineRecord('G', "first"));
        queueLine(c, LineRecord('g', "typed"));
        queueLine(c, LineRecord('G', "third"));
    }
    ASSERT_TRUE(server.waitReceived("first\r\ntyped\r\nthird\r\n", 3000)) << server.received();
    ASSERT_TRUE(waitUntil([&] { return count(capture.plain(), "[send to") == 3; }, 3000));
    const std::string out = capture.plain();
    EXPECT_EQ(count(out, "[Register for " + name + "] "), 3);
    // File lines are echoed, typed ones are not; each is announced once sent.
    EXPECT_NE(out.find("first\r\n[send to " + name + "] first\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[send to " + name + "] typed\r\n"), std::string::npos);
    EXPECT_EQ(count(out, "typed"), 2);  // registered and sent, never echoed
    EXPECT_LT(out.find("[send to " + name + "] first"), out.find("[send to " + name + "] third"));
    // A line for a writable connection with nothing waiting goes out at once.
    ASSERT_TRUE(waitUntil([] {
        LLockGuard guard;
        return !currentConnection()->draining;
    }, 3000));
    capture.clear();
    queueLine(currentConnection(), LineRecord('g', "now"));
    EXPECT_EQ(capture.plain(), "[send to " + name + "] now\r\n");
}

TEST_F(Connections, NothingOfALineIsLostOrOvertakenWhenSendsComeUpShort) {
    vltest::LoopbackServer slow(vltest::ServerBehaviour::slowReader(2500, 65536));
    open(slow.address());
    TSocket* c = currentConnection();
    ASSERT_TRUE(waitUntil([&] {
        LLockGuard guard;
        return (c->flags & TSocket::kWritable) != 0;
    }, 3000));
    g_systemMsgColor = 0;  // keep the capture small
    std::string expected;
    std::vector<std::unique_ptr<LineRecord>> lines;
    for (int i = 0; i < 40; ++i) {
        std::string text(200 * 1024, static_cast<char>('a' + i % 26));
        text += "#" + std::to_string(i);
        lines.push_back(std::make_unique<LineRecord>('g', text.c_str()));
        expected += text + "\r\n";
    }
    for (const auto& line : lines) queueLine(c, *line);
    {
        // The reader has not started yet: a send came up short and lines wait.
        LLockGuard guard;
        EXPECT_FALSE(c->sendQueue.empty());
    }
    ASSERT_TRUE(slow.waitReceivedBytes(expected.size(), 30000)) << slow.received().size();
    EXPECT_TRUE(slow.received() == expected);
}

TEST_F(Connections, CloseCommandsAndTheirErrors) {
    const std::string a = open(server.address());
    const std::string b = open(server.address());
    capture.clear();
    run("close");
    ASSERT_TRUE(waitUntil([] { return connectionCount() == 1; }, 3000));
    EXPECT_NE(capture.plain().find("[Connection " + b + " closed]\r\n"), std::string::npos);
    EXPECT_EQ(currentConnection(), findConnection(a.c_str()));
    capture.clear();
    run("close nobody");
    run("cor nobody");
    EXPECT_EQ(capture.codes(), (std::vector<int>{10004, 10004}));
    EXPECT_EQ(capture.textOf(10004), "閉じるべき接続が見つかりません");
    capture.clear();
    run("cor " + a + " extra");
    EXPECT_EQ(capture.codes(), std::vector<int>{30001});
    {
        LLockGuard guard;
        EXPECT_TRUE(findConnection(a.c_str())->flags & TSocket::kCloseOnReady);
    }
    run("close " + a);
    ASSERT_TRUE(waitUntil([] { return connectionCount() == 0; }, 3000));
    capture.clear();
    run("close");
    EXPECT_EQ(capture.codes(), std::vector<int>{10004});
}

TEST_F(Connections, OrderCurrentColourAndTheListing) {
    open(server.address() + " as A");
    open(server.address() + " as B");
    open(server.address() + " as C");
    capture.clear();
    run("sc A current");
    EXPECT_EQ(capture.plain(), "接続「A」を 3/3 番目に移動しました\r\n");
    EXPECT_EQ(names(), (std::vector<std::string>{"B", "C", "A"}));
    run("sc C order 1");
    EXPECT_EQ(names(), (std::vector<std::string>{"C", "B", "A"}));
    run("sc A order 0");
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "C", "B"}));
    run("sc A order 99");
    EXPECT_EQ(names(), (std::vector<std::string>{"C", "B", "A"}));
    run("cc B");
    EXPECT_EQ(names(), (std::vector<std::string>{"C", "A", "B"}));
    // Without a name the current connection is meant.
    capture.clear();
    run("sc color 30");
    EXPECT_EQ(capture.plain(), "接続「B」をこの色に設定しました\r\n");
    EXPECT_EQ(colorOf("B"), 30);
    capture.clear();
    run("sc C color 0");
    EXPECT_EQ(colorOf("C"), 0);
    run("sc Z color 5");
    run("sc C color 256");
    run("sc C current extra");
    run("cc nobody");
    EXPECT_EQ(capture.codes(), (std::vector<int>{10005, 10008, 30001, 10005}));
    EXPECT_EQ(capture.textOf(10005), "接続「Z」が見つかりません");
    EXPECT_EQ(capture.textOf(10008), "接続「C」に対する色指定 100h は正しくありません");
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "B", "C"}));

    // Ready and occupied.
    capture.clear();
    run("nr");
    run("nr");
    EXPECT_EQ(capture.plain(), "[Connection C occupied]\r\n");
    run("sc C order 1");
    EXPECT_EQ(capture.textOf(10027), "接続「C」は使用中です");
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "B", "C"}));
    run("nr nobody");
    EXPECT_EQ(capture.textOf(10001), "接続が見つかりません");

    // The listing with every mark.
    LogFile* fake = reinterpret_cast<LogFile*>(&fake);  // never dereferenced
    {
        LLockGuard guard;
        findConnection("A")->logFiles.add(fake);
        findConnection("B")->logFiles.add(fake);
        findConnection("B")->logFiles.add(fake);
        findConnection("B")->flags &= ~TSocket::kReady;
        findConnection("B")->currentAtom.assign("A5");
        findConnection("B")->flags |= TSocket::kCloseOnReady;
    }
    capture.clear();
    run("lc");
    const std::string port = std::to_string(server.port());
    EXPECT_EQ(capture.plain(),
              "[1] CONNECTION 'A' -> 127.0.0.1:" + port + " [ready] [logging]\r\n"
              "[2] CONNECTION 'B' -> 127.0.0.1:" + port +
                  " [occupied for A5] [logging to 2 files] [close on ready]\r\n"
              "[3] CONNECTION 'C' -> 127.0.0.1:" + port + " [occupied]\r\n"
              "3 個の接続があります\r\n");
    {
        LLockGuard guard;
        findConnection("A")->logFiles.clear();
        findConnection("B")->logFiles.clear();
    }

    // Ready abandons the running atom; a close-on-ready connection then closes.
    capture.clear();
    run("r B");
    EXPECT_NE(capture.plain().find("[Connection B ready]\r\n"), std::string::npos);
    ASSERT_TRUE(waitUntil([] { return connectionCount() == 2; }, 3000));
    run("r C");
    {
        LLockGuard guard;
        EXPECT_TRUE(findConnection("C")->ready());
        EXPECT_TRUE(findConnection("C")->currentAtom.empty());
    }
    capture.clear();
    run("r");  // already ready: nothing
    EXPECT_EQ(capture.plain(), "");
    run("lc");
    EXPECT_NE(capture.plain().find("2 個の接続があります\r\n"), std::string::npos);
}

TEST_F(Connections, ManyConnectionsOpeningClosingAndSendingAtOnce) {
    // Many threads end while the main thread sends to them and closes them:
    // the sanitizer builds check that no connection is used after it is gone.
    vltest::LoopbackServer echo(vltest::ServerBehaviour::echoing("hi\r\n"));
    vltest::LoopbackServer hangup(vltest::ServerBehaviour::sendAndClose("bye\r\n"));
    g_systemMsgColor = 0;
    g_receivePause = 0;
    for (int round = 0; round < 40; ++round) {
        open((round % 2 ? echo : hangup).address());
        TSocket* current = currentConnection();
        LineRecord line('g', ("line " + std::to_string(round)).c_str());
        queueLine(current, line);  // may meet a connection that has just closed
        if (round % 5 == 0) run("close");
        if (round % 7 == 0) run("lc");
    }
    g_systemMsgColor = 0x16;
    closeAllConnections();
    EXPECT_TRUE(waitUntil([] { return connectionCount() == 0; }, 10000));
    // Only "connection closed meanwhile" and "no connection to close".
    for (const auto& r : capture.reports())
        EXPECT_TRUE(r.code == 10006 || r.code == 10004) << r.code << " " << r.text;
}

}  // namespace

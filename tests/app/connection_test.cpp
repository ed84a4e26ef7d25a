// Connections and the scheduler in process, for what a run of the program
// cannot show deterministically: lines queued before the first kFdWrite, lines
// that go out short, a line the socket cannot take at once, telnet answers that
// arrive while a line is partly out, many connections
// ending while they are used, the text a running atom is searched in, and
// lines for a connection whose memory a new one reuses.
#include "app/connection.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/atoms.h"
#include "app/dispatcher.h"
#include "app/mainloop.h"
#include "app/pending_lines.h"
#include "app/scheduler.h"
#include "app/settings.h"
#include "base/lock.h"
#include "base/thread.h"
#include "rex/rex.h"
#include "tests/support/loopback_server.h"
#include "tests/support/msg_capture.h"

namespace {

using vltest::countOf;
using vltest::waitUntil;
using Line = std::pair<char, const char*>;

// f() under g_libLock.
template <class F>
auto locked(F f) {
    LLockGuard guard;
    return f();
}

class InProcess : public ::testing::Test {
protected:
    void SetUp() override {
        initThreads();
        initAtoms();
        g_systemMsgColor = 0x16;
        g_receivePause = 100;
    }
    void TearDown() override {
        for (auto& c : listed) removeConnection(c.get());
        listed.clear();
        closeAllConnections();
        EXPECT_TRUE(waitUntil([] { return connectionCount() == 0; }, 30000));
        releaseOutcomes();
        releaseAtoms();
    }
    // A listed connection without a thread that counts as connected, so that
    // it takes atoms while the lines handed to it wait in its queue.
    TSocket* add() {
        listed.push_back(std::make_unique<TSocket>(3));
        listed.back()->flags &= ~TSocket::kConnecting;
        addConnection(listed.back().get());
        return listed.back().get();
    }
    // Hands out a whole atom as a pass does, to the connection with this id.
    void handOut(std::unique_ptr<Atom> atom, uint64_t connectionId) {
        HandOut h;
        h.atom = std::move(atom);
        h.connectionId = connectionId;
        EXPECT_TRUE(continueHandOut(h, pending));
    }
    // Queues an atom without lines; start() also runs a scheduling pass.
    static void queue(const char* name) {
        auto a = std::make_unique<Atom>();
        a->name.assign(name);
        a->open = 0;
        g_atoms.add(std::move(a));
    }
    void start(const char* name) {
        queue(name);
        assignAtoms(pending);
    }
    // Opens a connection to server and waits until it may send; system lines
    // are no longer captured (big lines would fill the capture).
    static TSocket* openWritable(const vltest::LoopbackServer& server, std::optional<TelnetMode> mode = std::nullopt) {
        openConnection(server.address().c_str(), "", false, -1, mode);
        TSocket* c = currentConnection();
        EXPECT_TRUE(waitUntil([&] { return locked([&] { return (c->flags & TSocket::kWritable) != 0; }); }, 30000));
        g_systemMsgColor = 0;
        return c;
    }
    void receive(TSocket* c, const std::string& s) { checkCompletion(c, s.data(), static_cast<int>(s.size())); }
    static std::string running(const TSocket* c) {
        return locked([&] { return std::string(c->currentAtom.data()); });
    }

    PendingLines pending;
    vltest::MsgCapture capture;
    std::vector<std::unique_ptr<TSocket>> listed;
};

TEST_F(InProcess, LinesBeforeTheFirstWriteQueueAndGoOutInOrder) {
    vltest::LoopbackServer server(vltest::ServerBehaviour::greet(""));
    std::string name;
    {
        // While we hold the lock the new thread cannot take its first kFdWrite.
        LLockGuard guard;
        openConnection(server.address().c_str(), "", false, -1);
        name = currentConnection()->name.data();
        for (const Line& l : {Line{'G', "first"}, Line{'g', "typed"}, Line{'G', "third"}})
            queueLine(currentConnection(), LineRecord(l.first, l.second));
    }
    ASSERT_TRUE(server.waitReceived("first\r\ntyped\r\nthird\r\n", 30000)) << server.received();
    ASSERT_TRUE(waitUntil([&] { return countOf(capture.plain(), "[send to") == 3; }, 30000));
    // Each line is announced when queued and when sent; only file lines are echoed.
    const std::string out = capture.plain();
    EXPECT_EQ(countOf(out, "[Register for " + name + "] "), 3);
    EXPECT_NE(out.find("first\r\n[send to " + name + "] first\r\n"), std::string::npos) << out;
    EXPECT_EQ(countOf(out, "typed"), 2);
    EXPECT_LT(out.find("[send to " + name + "] first"), out.find("[send to " + name + "] third"));
    // A line for a writable connection with nothing waiting goes out at once.
    ASSERT_TRUE(waitUntil([] { return !locked([] { return currentConnection()->draining; }); }, 30000));
    capture.clear();
    queueLine(currentConnection(), LineRecord('g', "now"));
    EXPECT_EQ(capture.plain(), "[send to " + name + "] now\r\n");
}

TEST_F(InProcess, NothingOfALineIsLostOrOvertakenWhenSendsComeUpShort) {
    vltest::LoopbackServer slow(vltest::ServerBehaviour::slowReader(2500, 65536));
    TSocket* c = openWritable(slow);
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        const std::string text = std::string(200 * 1024, static_cast<char>('a' + i % 26)) + "#" + std::to_string(i);
        queueLine(c, LineRecord('g', text.c_str()));
        expected += text + "\r\n";
    }
    EXPECT_FALSE(locked([&] { return c->sendQueue.empty(); }));  // the reader has not started: lines wait
    ASSERT_TRUE(waitUntil([&] { return slow.received().size() >= expected.size(); }, 60000));
    EXPECT_TRUE(slow.received() == expected);
}

// A line bigger than the socket takes goes out in part at once and the rest
// waits for kFdWrite: the hand-out returns at once (the reader starts only a
// minute later), the atom counts as running, and a close ends the connection
// with the rest unsent.
TEST_F(InProcess, ALineTheSocketCannotTakeHoldsUpNobody) {
    vltest::LoopbackServer slow(vltest::ServerBehaviour::slowReader(60000, 65536));
    TSocket* c = openWritable(slow);
    auto atom = std::make_unique<Atom>();
    atom->name.assign("S");
    atom->lines.add(std::make_unique<LineRecord>('g', std::string(16 << 20, 'x').c_str()));
    handOut(std::move(atom), c->id);
    EXPECT_EQ(running(c), "S");
    EXPECT_FALSE(locked([&] { return c->unsentRest.empty(); }));
    EXPECT_EQ(slow.received().size(), 0u);
    locked([&] {
        c->close();
        return 0;
    });
    EXPECT_TRUE(waitUntil([] { return connectionCount() == 0; }, 30000));
}

// Telnet answers to a request that arrives while a line is only partly out
// (its rest waits for the reader) go after that line and before the next one,
// and are not lost.
TEST_F(InProcess, TelnetAnswersNeverCutALine) {
    vltest::LoopbackServer slow(vltest::ServerBehaviour::slowReader(2500, 65536));
    TSocket* c = openWritable(slow, TelnetMode::telnet);
    g_receivePause = 0;
    const std::string first(16 << 20, 'a'), second = "after";
    std::thread server([&] {
        waitUntil([&] { return locked([&] { return c->draining || !c->unsentRest.empty(); }); }, 30000);
        slow.sendToAll("\xff\xfd\x18");  // DO TERMINAL-TYPE
    });
    queueLine(c, LineRecord('g', first.c_str()));
    server.join();
    // The answer waits behind the line's rest, or (on a machine so slow that
    // the reader has started meanwhile) has gone out after it: either way the
    // next line comes after it.
    ASSERT_TRUE(waitUntil([&] {
        return locked([&] { return c->unsentRest.find("\xff\xfc\x18") >= 0; }) ||
               slow.received().size() > first.size() + 2;
    }, 30000));
    queueLine(c, LineRecord('g', second.c_str()));
    const std::string expected = first + "\r\n\xff\xfc\x18" + second + "\r\n";
    ASSERT_TRUE(waitUntil([&] { return slow.received().size() >= expected.size(); }, 60000));
    EXPECT_TRUE(slow.received() == expected);
}

TEST_F(InProcess, ManyConnectionsOpeningClosingAndSendingAtOnce) {
    // Threads end while the main thread sends to them and closes them: the
    // sanitizer builds check that no connection is used after it is gone.
    vltest::LoopbackServer echo(vltest::ServerBehaviour::echoing("hi\r\n"));
    vltest::LoopbackServer hangup(vltest::ServerBehaviour::sendAndClose("bye\r\n"));
    g_systemMsgColor = 0;
    g_receivePause = 0;
    for (int round = 0; round < 40; ++round) {
        openConnection((round % 2 ? echo : hangup).address().c_str(), "", false, -1);
        queueLine(currentConnection(), LineRecord('g', "line"));  // may meet one that has just closed
        LineRecord command('i', round % 5 == 0 ? "close" : "lc");
        dispatchCommand(currentConnection(), command, pending, pending.pause);
    }
    for (const auto& r : capture.reports()) EXPECT_TRUE(r.code == 10006 || r.code == 10004) << r.code << " " << r.text;
}

TEST_F(InProcess, OnlyTextOfTheRunningAtomIsSearchedAndItStaysBounded) {
    TSocket* c = add();
    receive(c, "#EN");  // no atom runs: not kept for the next one
    start("S");
    receive(c, "D#");
    EXPECT_EQ(running(c), "S");
    for (const char* piece : {"...#E", "N", "D#\r\n"}) receive(c, piece);
    EXPECT_EQ(running(c), "");
    EXPECT_TRUE(c->ready());

    start("T");
    for (int i = 0; i < 5; ++i) receive(c, std::string(60000, 'x'));
    EXPECT_LE(locked([&] { return c->atomText.len(); }), 64 * 1024);
    receive(c, std::string(60000, 'x') + "#EN");
    receive(c, "D#");
    EXPECT_EQ(g_completedAtoms.count(), 2);
    EXPECT_TRUE(locked([&] { return c->atomText.empty(); }));
}

// A burst of completions needs one wake-up to bring the pass that sees them
// all, but every pass re-arms it: no completion after it goes unnoticed.
TEST_F(InProcess, EveryCompletionAfterAPassWakesTheMainLoop) {
    initWaitSet();
    TSocket* c1 = add();
    TSocket* c2 = add();
    const auto woken = [] { return !waitAny(g_waitSet, 0); };
    for (const char* name : {"A1", "A2", "A3", "A4"}) queue(name);
    assignAtoms(pending);
    EXPECT_EQ(running(c1) + running(c2), "A1A2");
    receive(c1, "#END#");
    receive(c2, "#END#");
    EXPECT_TRUE(woken());
    EXPECT_FALSE(woken());  // once for the two
    assignAtoms(pending);
    EXPECT_EQ(running(c1) + running(c2), "A3A4");
    receive(c2, "#END#");
    EXPECT_TRUE(woken());
    releaseWaitSet();
}

TEST_F(InProcess, LinesForAConnectionThatHasGoneAreDroppedEvenWhenItsMemoryIsReused) {
    const uint64_t goneId = std::make_unique<TSocket>(3)->id;  // closed at once; a new one may take its memory
    TSocket* c = add();
    auto atom = std::make_unique<Atom>();
    atom->name.assign("late");
    for (const Line& l : {Line{'G', "one"}, Line{'W', "close-on-ready"}, Line{'G', "two"}})
        atom->lines.add(std::make_unique<LineRecord>(l.first, l.second));
    handOut(std::move(atom), goneId);
    EXPECT_EQ(capture.codes(), std::vector<int>{10006});
    EXPECT_EQ(capture.textOf(10006), "接続が閉じられたためコマンドを実行できません: one");
    EXPECT_TRUE(locked([&] { return c->sendQueue.empty(); }));
    EXPECT_FALSE(c->flags & TSocket::kCloseOnReady);
    EXPECT_EQ(running(c), "");
}

// What a connection received last tells whether a typed line is a password:
// only while the server has the echo (telnet ECHO accepted), only when the prompt ends the text (also
// when it came in pieces or after a long piece), and in both encodings of the
// Japanese prompt.
TEST_F(InProcess, APasswordPromptIsTheEndOfWhatAnEchoingServerSent) {
    vltest::LoopbackServer server(vltest::ServerBehaviour::greet(""));
    g_receivePause = 0;
    openConnection(server.address().c_str(), "", false, -1);
    TSocket* c = currentConnection();
    ASSERT_NE(c, nullptr);
    // Sends bytes and waits until the connection has taken them in (a new
    // piece, and its last text ends with the last 64 bytes of their data).
    auto receive = [&](const std::string& bytes) {
        std::string data = bytes;  // without the telnet commands (IAC WILL/WONT ECHO)
        for (size_t at; (at = data.find('\xff')) != std::string::npos;) data.erase(at, 3);
        const std::string end = data.substr(data.size() - std::min<size_t>(data.size(), TSocket::kLastReceivedMax));
        const uint64_t before = locked([&] { return c->receivedPieces; });
        server.sendToAll(bytes);
        EXPECT_TRUE(waitUntil([&] {
            return locked([&] {
                const std::string last(c->lastReceived.data(), static_cast<size_t>(c->lastReceived.len()));
                return c->receivedPieces > before && last.size() >= end.size() &&
                       last.compare(last.size() - end.size(), end.size(), end) == 0;
            });
        }, 30000)) << bytes;
        return locked([&] { return passwordPromptShown(*c); });
    };
    ASSERT_TRUE(waitUntil([&] { return server.open() == 1; }, 30000));
    const std::string willEcho = "\xff\xfb\x01", wontEcho = "\xff\xfc\x01";
    struct Case {
        std::string bytes;
        bool password;
    };
    const Case cases[] = {
        {"login: admin\r\nPassword: ", false},  // no telnet yet: the client echoes
        {willEcho + "\r\nPassword: ", true},
        {"\r\nRouter> ", false},
        {"Pass", false},
        {"word: ", true},
        {"\r\npassword:", false},
        {std::string(200, 'x') + "Enter password: ", true},
        {"\r\n\xe3\x83\x91\xe3\x82\xb9\xe3\x83\xaf\xe3\x83\xbc\xe3\x83\x89: ", true},
        {"\r\n\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68: ", true},
        {"Password: wrong\r\n", false},
        {"\r\nPassword: ", true},
        {wontEcho + "\r\nPassword: ", false},  // the echo is the client's again
    };
    for (const Case& k : cases) EXPECT_EQ(receive(k.bytes), k.password) << k.bytes;
    g_receivePause = 100;
}

}  // namespace

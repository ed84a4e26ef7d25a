// The scheduling pass and the completion check in process, on connections that
// are listed but never connected: lines handed to them wait in their send
// queues, where the tests read them, and received text is fed to the
// completion check directly. So every step is deterministic.
#include "app/scheduler.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/atoms.h"
#include "app/connection.h"
#include "app/mainloop.h"
#include "app/pending_lines.h"
#include "app/settings.h"
#include "base/lock.h"
#include "base/thread.h"
#include "rex/rex.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/msg_capture.h"

namespace {

class Scheduler : public ::testing::Test {
protected:
    void SetUp() override {
        initThreads();
        vltest::resetShellState();
        releaseAtoms();
        initAtoms();
        g_quitRequested = 0;
        g_closeOnReadyPending = 0;
    }
    void TearDown() override {
        {
            LLockGuard guard;
            for (auto& c : owned) g_connections.remove(c.get());
        }
        owned.clear();
        releaseAtoms();
        initAtoms();
        vltest::resetShellState();
        g_quitRequested = 0;
        g_closeOnReadyPending = 0;
    }

    // A listed connection that never connects (so never writable).
    TSocket* add(const char* name, bool ready = true) {
        owned.push_back(std::make_unique<TSocket>(3));
        TSocket* c = owned.back().get();
        c->name.assign(name);
        if (!ready) c->flags &= ~TSocket::kReady;
        LLockGuard guard;
        g_connections.add(c);
        return c;
    }
    // Runs command-file lines as the main loop does (atoms are recorded).
    void file(const std::vector<std::string>& lines) {
        for (const std::string& l : lines) vltest::addFileLine(pending, l);
        vltest::runPending(pending);
    }
    void pass() { assignAtoms(pending); }
    void receive(TSocket* c, const std::string& text) {
        checkCompletion(c, text.data(), static_cast<int>(text.size()));
    }
    static std::vector<std::string> queued(const TSocket* c) {
        LLockGuard guard;
        std::vector<std::string> v;
        for (const LineRecord* l : c->sendQueue) v.emplace_back(l->text().data(), l->text().len());
        return v;
    }
    static std::string running(const TSocket* c) {
        LLockGuard guard;
        return c->currentAtom.data();
    }
    static std::vector<std::string> waiting() {
        std::vector<std::string> v;
        for (const Atom* a : g_atoms) v.emplace_back(a->name.data());
        return v;
    }
    static std::vector<std::string> completed() {
        LLockGuard guard;
        std::vector<std::string> v;
        for (int i = 0; i < g_completedAtoms.count(); ++i) v.emplace_back(g_completedAtoms[i]);
        return v;
    }

    using Names = std::vector<std::string>;
    vltest::MsgCapture capture;
    PendingLines pending;
    std::vector<std::unique_ptr<TSocket>> owned;
};

TEST_F(Scheduler, ReadyConnectionsAreOfferedInListOrderWithinByAndExceptBy) {
    add("C1", false);
    add("C2");
    add("C3");
    const struct {
        Names by, exceptBy;
        const char* expected;  // "" for none
    } cases[] = {
        {{}, {}, "C2"},
        {{"C3"}, {}, "C3"},
        {{"C1"}, {}, ""},  // not ready
        {{}, {"C2"}, "C3"},
        {{"C2", "C3"}, {"C2"}, "C3"},
        {{"c2"}, {}, ""},  // names are compared exactly
        {{"NOPE"}, {}, ""},
    };
    for (const auto& t : cases) {
        Atom a;
        for (const auto& n : t.by) a.by.add(n.c_str());
        for (const auto& n : t.exceptBy) a.exceptBy.add(n.c_str());
        TSocket* c = findReadyConnectionFor(a);
        EXPECT_EQ(c ? c->name.data() : "", std::string(t.expected)) << t.by.size() << " " << t.exceptBy.size();
    }
}

TEST_F(Scheduler, AfterSkipsAnAtomWhileTheFirstEligibleOneHoldsTheQueue) {
    TSocket* c1 = add("C1");
    TSocket* c2 = add("C2");
    file({"!atom A1", "one", "!end-atom", "!atom A2 after A1", "two", "!end-atom", "!atom A3", "three",
          "!end-atom", "!atom A4"});
    capture.clear();
    pass();
    // A2 may not run yet and holds up nothing; the open A4 is skipped.
    EXPECT_EQ(capture.plain(), "[Atom A1 => Connection C1]\r\n[Register for C1] one\r\n"
                               "[Atom A3 => Connection C2]\r\n[Register for C2] three\r\n");
    EXPECT_EQ(waiting(), (Names{"A2", "A4"}));
    EXPECT_EQ(queued(c1), Names{"one"});
    EXPECT_EQ(running(c1), "A1");
    EXPECT_EQ(running(c2), "A3");
    EXPECT_FALSE(c1->ready());

    receive(c1, "one\r\n#END#\r\n");
    EXPECT_TRUE(c1->ready());
    EXPECT_EQ(running(c1), "");
    EXPECT_EQ(completed(), Names{"A1"});
    EXPECT_EQ(c1->atomEvent.wait(0), WaitResult::signalled);
    pass();
    EXPECT_EQ(running(c1), "A2");
    EXPECT_EQ(queued(c1), (Names{"one", "two"}));

    // An atom that no connection may take stops the pass: nothing behind it runs,
    // even on a connection that is free.
    file({"!delete-atom A4", "!atom X by NOPE", "x", "!end-atom", "!atom Y", "y", "!end-atom"});
    receive(c2, "#END#");
    pass();
    EXPECT_EQ(waiting(), (Names{"X", "Y"}));
    EXPECT_TRUE(c2->ready());
    file({"!delete-atom X"});
    pass();
    EXPECT_EQ(running(c2), "Y");
    EXPECT_EQ(completed(), (Names{"A1", "A3"}));
}

// Completions wake the main loop through the connections' events; a burst of
// them needs only one signalled event, but every pass re-arms the wake-up, so no
// completion after a pass can go unnoticed.
TEST_F(Scheduler, EveryCompletionAfterAPassWakesTheMainLoop) {
    TSocket* c1 = add("C1");
    TSocket* c2 = add("C2");
    const auto signalled = [](TSocket* c) { return c->atomEvent.wait(0) == WaitResult::signalled; };
    file({"!atom A1", "!end-atom", "!atom A2", "!end-atom", "!atom A3", "!end-atom", "!atom A4", "!end-atom"});
    pass();
    EXPECT_EQ(running(c1), "A1");
    EXPECT_EQ(running(c2), "A2");
    receive(c1, "#END#");
    receive(c2, "#END#");
    const int first = signalled(c1) + signalled(c2);
    EXPECT_GE(first, 1);  // one wake-up brings the pass that sees both
    pass();
    EXPECT_EQ(running(c1), "A3");
    EXPECT_EQ(running(c2), "A4");
    receive(c2, "#END#");
    EXPECT_TRUE(signalled(c2));
    EXPECT_FALSE(signalled(c1));
}

TEST_F(Scheduler, MarkerSplitBetweenPiecesCompletesButEarlierTextNeverCounts) {
    TSocket* c1 = add("C1");
    // Text that arrives while no atom runs is not kept for the next one.
    receive(c1, "#EN");
    file({"!atom S", "s", "!end-atom"});
    pass();
    receive(c1, "D#");
    EXPECT_EQ(running(c1), "S");
    // Pieces of the running atom are searched together.
    receive(c1, "...#E");
    receive(c1, "N");
    EXPECT_EQ(running(c1), "S");
    receive(c1, "D#\r\n");
    EXPECT_EQ(completed(), Names{"S"});

    // What is searched with each piece stays bounded: the last 64 KiB.
    file({"!atom T", "!end-atom"});
    pass();
    const std::string filler(60000, 'x');
    for (int i = 0; i < 5; ++i) receive(c1, filler);
    {
        LLockGuard guard;
        EXPECT_LE(c1->atomText.len(), 64 * 1024);
    }
    receive(c1, filler + "#EN");
    receive(c1, "D#");
    EXPECT_EQ(completed(), (Names{"S", "T"}));
    LLockGuard guard;
    EXPECT_TRUE(c1->atomText.empty());
}

TEST_F(Scheduler, EndMarkerCommandAndNamesCompletedTwice) {
    TSocket* c1 = add("C1");
    file({"!atom-end-marker", "!atom twin", "!end-atom", "!atom twin", "!end-atom"});
    pass();
    receive(c1, "#END#");
    EXPECT_EQ(running(c1), "twin");  // no marker at all: nothing completes
    file({"!atom-end-marker /#DONE\\/#/"});
    receive(c1, "#DONE/#");  // a new marker applies to a running atom too
    pass();
    EXPECT_EQ(running(c1), "twin");
    receive(c1, "#DONE/#");
    EXPECT_EQ(completed(), Names{"twin"});
}

TEST_F(Scheduler, LinesForAConnectionThatHasGoneAreDroppedEvenWhenItsMemoryIsReused) {
    // C1 closes; a new connection may then be built in the very same memory.
    owned.push_back(std::make_unique<TSocket>(3));
    TSocket* gone = owned.back().get();
    const uint64_t goneId = gone->id;
    const void* goneAddress = gone;
    owned.clear();
    TSocket* c2 = add("C2");
    RecordProperty("memory_reused", c2 == goneAddress ? "yes" : "no");

    Atom atom;
    atom.name.assign("late");
    atom.lines.add(std::make_unique<LineRecord>('G', "one"));
    atom.lines.add(std::make_unique<LineRecord>('W', "close-on-ready"));
    atom.lines.add(std::make_unique<LineRecord>('G', "two"));
    handOutAtom(atom, goneId, pending);
    EXPECT_EQ(capture.codes(), std::vector<int>{10006});
    EXPECT_EQ(capture.textOf(10006), "接続が閉じられたためコマンドを実行できません: one");
    EXPECT_TRUE(queued(c2).empty());
    EXPECT_FALSE(c2->flags & TSocket::kCloseOnReady);
    EXPECT_EQ(running(c2), "");
}

}  // namespace

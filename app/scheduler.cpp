// The scheduler: the pass that hands waiting atoms to ready connections (main
// thread) and the completion check that runs on every piece of received text
// (connection threads).
//
// Key choices:
// - A connection is followed through the hand-out by its id, never by its
//   pointer: a connection that closes meanwhile may have its memory reused by a
//   new one, which must not receive lines meant for another host.
// - The atom leaves the queue before its lines run, so a deferred command among
//   them that changes the queue (!!delete-atom, !!set-atom) cannot reach it.
// - The record of the running atom (currentAtom, the until pattern) and the
//   last line are handed out under one hold of g_libLock, the record first when
//   the last line is text (its send releases the lock for the system call): an
//   answer to the last line cannot be checked before the atom is known to run,
//   however fast it comes.
// - The completion check searches the new piece together with what arrived for
//   the same running atom before it (at most the last 64 KiB), so a marker split
//   between two pieces completes the atom. Text from before the hand-out ended
//   never counts.
// - A completion wakes the main loop through its connection's atomEvent only
//   when no other connection has done so since the last pass began: the pass
//   that the first event brings answers every completion before it, so a burst
//   of completions costs one wake-up instead of one each.
#include "app/scheduler.h"

#include <cstdint>
#include <optional>

#include "app/atoms.h"
#include "app/connection.h"
#include "app/console.h"
#include "app/dispatcher.h"
#include "app/logfiles.h"
#include "app/mainloop.h"
#include "base/lock.h"
#include "base/msg.h"
#include "rex/rex.h"

std::atomic<int> g_closeOnReadyPending{0};

namespace {

// A connection has set its atomEvent since the last pass began. Both sides
// change it with exchanges, so that a completion that finds it set is seen by
// the pass that follows the next passStarting().
std::atomic<bool> g_wakePending{false};

// How much earlier text of a running atom is searched with each new piece.
constexpr int kCarriedText = 64 * 1024;

// Holds g_libLock while held() and releases it at the end of its scope.
class LockHold {
public:
    LockHold() = default;
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;
    ~LockHold() {
        if (held_) g_libLock.unlock();
    }
    void acquire() {
        if (!held_) g_libLock.lock();
        held_ = true;
    }
    void release() {
        if (held_) g_libLock.unlock();
        held_ = false;
    }

private:
    bool held_ = false;
};

// Empties the text carried for a running atom; a small buffer is kept for the
// next atom, a large one given back.
void forgetText(LString& text) {
    if (text.cap() > 4096)
        text.clear();
    else
        text.truncate(0);
}

// Every name of the atom's after list has completed.
bool afterMet(const Atom& atom) {
    LLockGuard guard;
    for (int i = 0; i < atom.after.count(); ++i)
        if (!g_completedSet.contains(atom.after[i])) return false;
    return true;
}

// Records a completed atom name once; writes the event for a new one. Under g_libLock.
void recordCompletion(const LString& name) {
    if (g_completedSet.contains(name.data())) return;
    g_completedSet.add(blockStrdup(name.data()));
    g_completedAtoms.add(name.data());
    writeSysLog("Atom %s completed", name.data());
}

// Records the atom as running on c: its name, its until pattern, no earlier
// text. Under g_libLock.
void recordRunning(Atom& atom, TSocket* c) {
    c->currentAtom = atom.name;
    forgetText(c->atomText);
    if (atom.until) c->endMarker = std::move(atom.until);
}

}  // namespace

TSocket* findReadyConnectionFor(const Atom& atom) {
    LLockGuard guard;
    for (TSocket* c : g_connections) {
        if (!c->ready()) continue;
        if (!atom.by.empty() && !atom.by.contains(c->name.data())) continue;
        if (atom.exceptBy.contains(c->name.data())) continue;
        return c;
    }
    return nullptr;
}

void handOutAtom(Atom& atom, uint64_t connectionId, PendingLines& pending, std::optional<ConsoleOutput>* notice) {
    LockHold lock;
    bool recorded = false;
    const int n = atom.lines.count();
    for (int k = 0; k < n; ++k) {
        lock.acquire();
        const LineRecord& line = *atom.lines[k];
        // A command (and any wait in it) runs only after the notice is shown.
        if (notice && line.lowerKind() != 'g') notice->reset();
        TSocket* c = findConnectionById(connectionId);
        if (c == nullptr) {
            msg(10006, "接続が閉じられたためコマンドを実行できません: %s", displayText(line).data());
            break;
        }
        if (k + 1 == n && line.lowerKind() == 'g') {
            // The send of a text line releases g_libLock for the system call,
            // and the answer may be checked before it returns: the atom is
            // recorded as running first, in this hold of the lock.
            recordRunning(atom, c);
            recorded = true;
        }
        // c is not used after this: a send releases the lock meanwhile.
        if (executeLine(c, line, pending) == 1) g_quitRequested = 1;
        if (notice) notice->reset();
        if (k + 1 < n) lock.release();
    }
    if (notice) notice->reset();
    if (recorded) return;
    lock.acquire();
    // A connection that has gone takes the atom with it: it is lost, as an atom
    // running on a connection that closes is.
    if (TSocket* c = findConnectionById(connectionId)) recordRunning(atom, c);
}

void assignAtoms(PendingLines& pending) {
    passStarting();
    int i = 0;
    while (i < g_atoms.count()) {
        Atom* a = g_atoms[i];
        if (a->open || !afterMet(*a)) {
            ++i;  // an atom that may not run yet holds up nothing
            continue;
        }
        uint64_t id = 0;
        // The notice stays open (and g_libLock held) until the first line has
        // been handed out, so that when that line is text the notice, its echo
        // and its send message reach the console with one write.
        std::optional<ConsoleOutput> notice;
        {
            LLockGuard guard;
            TSocket* c = findReadyConnectionFor(*a);
            if (c == nullptr) return;  // strict queue order: nothing behind a runs now
            c->flags &= ~TSocket::kReady;
            notice.emplace();
            const JoinedText head{"[Atom ", a->name.data(), " => "};
            printConnectionNotice(head.data(), c, "]\r\n");
            writeSysLog("Assigned atom %s to connection %s", a->name.data(), c->name.data());
            id = c->id;
        }
        std::unique_ptr<Atom> atom = g_atoms.takeAt(i);  // the next atom moves up to i
        handOutAtom(*atom, id, pending, &notice);
        LLockGuard guard;  // its blocks go back under one hold of the lock
        deleteAtom(std::move(atom));
    }
}

bool recordIfCompleted(TSocket* c, const char* text, int length) {
    LLockGuard guard;
    if (c->currentAtom.empty()) {
        forgetText(c->atomText);
        return false;
    }
    LString& seen = c->atomText;
    seen.append(text, length);
    LRex* pattern = c->endMarker ? c->endMarker.get() : g_endMarker.get();
    if (pattern == nullptr || rexFind(seen.data(), seen.len(), pattern, nullptr, 1) == nullptr) {
        if (seen.len() > kCarriedText) seen.erase(0, seen.len() - kCarriedText);
        return false;
    }
    forgetText(seen);
    c->flags |= TSocket::kReady;
    recordCompletion(c->currentAtom);
    c->currentAtom.truncate(0);  // its buffer serves the next atom's name
    if (c->flags & TSocket::kCloseOnReady) g_closeOnReadyPending = 1;
    return true;
}

void checkCompletion(TSocket* c, const char* text, int length) {
    if (recordIfCompleted(c, text, length)) wakeForPass(c);
}

void wakeForPass(TSocket* c) {
    if (!g_wakePending.exchange(true)) c->atomEvent.set();
}

void passStarting() { g_wakePending.exchange(false); }

void closeMarkedConnections() {
    LLockGuard guard;
    for (TSocket* c : g_connections)
        if (c->flags & TSocket::kCloseOnReady) closeConnection(c);
}

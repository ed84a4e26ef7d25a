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
// - A !!wait among an atom's lines holds back only the rest of that atom: the
//   hand-out stops there and a deadline of the main loop resumes it, while the
//   pass goes on with the atoms behind it and the other connections. Meanwhile
//   the connection is occupied for the atom; !ready abandons it, and a
//   connection that closes resumes it at once (its next line reports 10006).
// - The record of the running atom (currentAtom, the until pattern) and the
//   last line are handed out under one hold of g_libLock, the record first when
//   the last line is text (its send releases the lock for the system call): an
//   answer to the last line cannot be checked before the atom is known to run,
//   however fast it comes.
// - The completion check searches the new piece together with what arrived for
//   the same running atom before it (at most the last 64 KiB), so a marker split
//   between two pieces completes the atom. Text from before the hand-out ended
//   never counts. The search runs on the connection's own thread without
//   g_libLock (the pattern has a mutex of its own), so a pattern that works
//   long holds up only its own connection; what it found is recorded only when
//   the same atom still runs there.
// - A completion wakes the main loop only when no other completion has done so
//   since the last pass began: the pass that the first wake-up brings answers
//   every completion before it, so a burst of completions costs one wake-up
//   instead of one each.
#include "app/scheduler.h"

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "app/atoms.h"
#include "app/connection.h"
#include "app/console.h"
#include "app/dispatcher.h"
#include "app/logfiles.h"
#include "app/mainloop.h"
#include "app/pending_lines.h"
#include "base/lock.h"
#include "base/msg.h"
#include "rex/rex.h"

std::atomic<int> g_closeOnReadyPending{0};

namespace {

// A completion has woken the main loop since the last pass began. Both sides
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
    g_completedSet.add(name.data());
    g_completedAtoms.add(name.data());
    writeSysLog(Tx::eventAtomCompleted, name.data());
}

// Records the atom as running on c: its name, its until pattern (kept with
// the atom for a retry); the text searched from now on starts afresh. The atom
// passes to c's run record. Under g_libLock.
void recordRunning(HandOut& h, TSocket* c) {
    Atom& atom = *h.atom;
    c->currentAtom = atom.name;
    ++c->atomSerial;
    c->handOut = 0;
    if (atom.until) atom.untilShared = std::make_shared<CompletionPattern>(std::move(atom.until));
    if (atom.untilShared) c->endMarker = atom.untilShared;
    runStarted(std::move(h.atom), std::move(h.assignment), c);
}

// Atoms held back by a pause, and the numbers that tell hand-outs apart.
std::unordered_map<HandOut*, std::unique_ptr<HandOut>> g_heldBack;  // main thread
uint64_t g_handOutSerial = 0;                     // main thread
PendingLines* g_pendingForResume = nullptr;       // the main loop's, for resumed hand-outs

// The pass ends at a head that may not run now: the atoms behind it that wait
// for one that can no longer complete fail all the same, so that nothing waits
// for ever on a failure. Only after a change that can make one so.
void skipHopelessBehind(int from) {
    static uint64_t scanned = 0;  // main thread
    if (scanned == dependencyGeneration()) return;
    scanned = dependencyGeneration();
    if (failedAtoms().empty()) return;
    for (int j = from; j < g_atoms.count();) {
        Atom* b = g_atoms[j];
        // Most atoms wait for nothing: they cost a glance.
        const char* failed = b->open || b->after.empty() ? nullptr : hopelessAfter(*b);
        if (failed == nullptr) {
            ++j;
            continue;
        }
        skipAtom(g_atoms.takeAt(j), failed);
    }
}

void finishHandOut(std::unique_ptr<HandOut> h) {
    LLockGuard guard;  // its blocks go back under one hold of the lock
    deleteAtom(std::move(h->atom));
}

void holdBack(std::unique_ptr<HandOut> h);

// The pause of a held-back atom has ended (or its connection has gone).
void resume(HandOut* held) {
    const auto it = g_heldBack.find(held);
    if (it == g_heldBack.end()) return;
    std::unique_ptr<HandOut> h = std::move(it->second);
    g_heldBack.erase(it);
    h->resume = 0;
    {
        LLockGuard guard;
        // !ready has abandoned it, and the connection may run another atom now.
        TSocket* c = findConnectionById(h->connectionId);
        if (c != nullptr && c->handOut != h->serial) {
            runLost(std::move(h->atom), std::move(h->assignment), tr(Tx::reasonAbandoned));
            return;
        }
    }
    if (continueHandOut(*h, *g_pendingForResume))
        finishHandOut(std::move(h));
    else
        holdBack(std::move(h));
}

void holdBack(std::unique_ptr<HandOut> h) {
    HandOut* const raw = h.get();
    h->resume = g_deadlines.add(h->pause.until, [raw] { resume(raw); });
    g_heldBack.emplace(raw, std::move(h));
}

}  // namespace

TSocket* findReadyConnectionFor(const Atom& atom) {
    LLockGuard guard;
    for (TSocket* c : g_connections) {
        if (!c->available()) continue;
        if (!atom.by.empty() && !atom.by.contains(c->name.data())) continue;
        if (atom.exceptBy.contains(c->name.data())) continue;
        return c;
    }
    return nullptr;
}

bool continueHandOut(HandOut& h, PendingLines& pending, std::optional<ConsoleOutput>* notice) {
    // Stays valid after the atom has passed to the run record: only the main
    // loop frees a run, never while a hand-out goes on.
    Atom& atom = *h.atom;
    LockHold lock;
    bool recorded = false;
    const int n = atom.lines.count();
    while (h.next < n) {
        const int k = h.next++;
        lock.acquire();
        const LineRecord& line = *atom.lines[k];
        // A command (and any wait in it) runs only after the notice is shown.
        if (notice && line.lowerKind() != 'g') notice->reset();
        TSocket* c = findConnectionById(h.connectionId);
        if (c == nullptr) {
            msg(Tx::lineNotSent, displayText(line).data());
            h.next = n;  // the rest is dropped
            break;
        }
        if (k + 1 == n && line.lowerKind() == 'g') {
            // The send of a text line releases g_libLock for the system call,
            // and the answer may be checked before it returns: the atom is
            // recorded as running first, in this hold of the lock.
            recordRunning(h, c);
            recorded = true;
        }
        // c is not used after this: a send releases the lock meanwhile.
        if (executeLine(c, line, pending, h.pause) == 1) g_quitRequested = 1;
        if (notice) notice->reset();
        // A pause holds the rest back, and the record of the running atom with
        // it: the atom runs once its last line has been handed out.
        if (!recorded && h.pause.until != 0 && h.pause.active(nowMs())) return false;
        if (h.next < n) lock.release();
    }
    if (notice) notice->reset();
    if (recorded) return true;
    lock.acquire();
    // A connection that has gone takes the atom with it: it fails, as an atom
    // running on a connection that closes does.
    if (TSocket* c = findConnectionById(h.connectionId))
        recordRunning(h, c);
    else
        runLost(std::move(h.atom), std::move(h.assignment), tr(Tx::reasonConnectionClosed));
    return true;
}

void resumeHandOutsOfClosedConnections() {
    std::vector<HandOut*> orphans;
    {
        LLockGuard guard;
        for (const auto& [raw, h] : g_heldBack)
            if (findConnectionById(h->connectionId) == nullptr) orphans.push_back(raw);
    }
    for (HandOut* h : orphans) {
        g_deadlines.cancel(h->resume);
        resume(h);
    }
}

int heldBackAtoms() { return static_cast<int>(g_heldBack.size()); }

void forEachHeldBack(const std::function<void(const Atom&)>& f) {
    for (const auto& [raw, h] : g_heldBack)
        if (h->atom) f(*h->atom);
}

void abandonHandOut(uint64_t serial) {
    for (auto it = g_heldBack.begin(); it != g_heldBack.end(); ++it) {
        if (it->second->serial != serial) continue;
        std::unique_ptr<HandOut> h = std::move(it->second);
        g_heldBack.erase(it);
        g_deadlines.cancel(h->resume);
        runLost(std::move(h->atom), std::move(h->assignment), tr(Tx::reasonAbandoned));
        return;
    }
}

void releaseHandOuts() {
    for (const auto& [raw, h] : g_heldBack) g_deadlines.cancel(h->resume);
    LLockGuard guard;
    g_heldBack.clear();
}

void assignAtoms(PendingLines& pending) {
    g_pendingForResume = &pending;
    passStarting();
    int i = 0;
    while (i < g_atoms.count()) {
        Atom* a = g_atoms[i];
        if (a->open) {
            ++i;
            continue;
        }
        if (!afterMet(*a)) {
            // An atom that waits for one that can no longer complete fails too.
            if (const char* failed = hopelessAfter(*a)) {
                skipAtom(g_atoms.takeAt(i), failed);
                continue;
            }
            ++i;  // an atom that may not run yet holds up nothing
            continue;
        }
        auto h = std::make_unique<HandOut>();
        // The notice stays open (and g_libLock held) until the first line has
        // been handed out, so that when that line is text the notice, its echo
        // and its send message reach the console with one write.
        std::optional<ConsoleOutput> notice;
        {
            LLockGuard guard;
            TSocket* c = findReadyConnectionFor(*a);
            if (c == nullptr) {
                checkStuckHead(*a, pending);
                skipHopelessBehind(i + 1);
                return;  // strict queue order: nothing behind a runs now
            }
            c->flags &= ~TSocket::kReady;
            h->assignment = startAttempt(*a, *c);
            h->serial = ++g_handOutSerial;
            c->handOut = h->serial;
            notice.emplace();
            printConnectionNotice(Tx::atomAssignedNotice, c, a->name.data());
            writeSysLog(Tx::eventAtomAssigned, a->name.data(), c->name.data());
            h->connectionId = c->id;
        }
        h->atom = g_atoms.takeAt(i);  // the next atom moves up to i
        if (continueHandOut(*h, pending, &notice))
            finishHandOut(std::move(h));
        else
            holdBack(std::move(h));
    }
}

CompletionProbe probeCompletion(TSocket* c) {
    CompletionProbe probe;
    if (c->currentAtom.empty()) return probe;
    probe.running = true;
    probe.serial = c->atomSerial;
    probe.pattern = c->endMarker ? c->endMarker : g_endMarker;
    return probe;
}

bool searchForCompletion(TSocket* c, const CompletionProbe& probe, const char* text, int length) {
    LString& seen = c->atomText;
    if (!probe.running) {
        forgetText(seen);
        return false;
    }
    if (c->searchedSerial != probe.serial) {
        // Another atom runs now: what came before its hand-out never counts.
        forgetText(seen);
        c->searchedSerial = probe.serial;
    }
    seen.append(text, length);
    if (!probe.pattern || !probe.pattern->foundIn(seen.data(), seen.len())) {
        if (seen.len() > kCarriedText) seen.erase(0, seen.len() - kCarriedText);
        return false;
    }
    forgetText(seen);
    LLockGuard guard;
    // !ready may have abandoned the atom meanwhile, and another may run.
    if (c->currentAtom.empty() || c->atomSerial != probe.serial) return false;
    c->flags |= TSocket::kReady;
    recordCompletion(c->currentAtom);
    endRun(c, AtomRun::Status::kCompleted, nullptr);
    c->currentAtom.truncate(0);  // its buffer serves the next atom's name
    if (c->flags & TSocket::kCloseOnReady) g_closeOnReadyPending = 1;
    return true;
}

void checkCompletion(TSocket* c, const char* text, int length) {
    CompletionProbe probe;
    {
        LLockGuard guard;
        probe = probeCompletion(c);
    }
    if (searchForCompletion(c, probe, text, length)) wakeForPass(c);
}

void wakeForPass(TSocket*) {
    if (!g_wakePending.exchange(true)) wakeMainLoop();
}

void passStarting() { g_wakePending.exchange(false); }

void closeMarkedConnections() {
    LLockGuard guard;
    for (TSocket* c : g_connections)
        if (c->flags & TSocket::kCloseOnReady) closeConnection(c);
}

// Outcomes of atoms: attempts that end, retries, skipped dependents, the stuck
// head warning, the summary and the exit status (see outcomes.h for the
// threads and the order in which an ended attempt is handled).
#include "app/outcomes.h"

#include <climits>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "app/atoms.h"
#include "app/connection.h"
#include "app/console.h"
#include "app/deadlines.h"
#include "app/logfiles.h"
#include "app/mainloop.h"
#include "app/pending_lines.h"
#include "app/result_file.h"
#include "app/scheduler.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/platform/process.h"
#include "base/platform/sync.h"

std::atomic<int> g_atomTimeout{0};
std::atomic<int> g_quitWhenDone{0};
int g_runningAtoms = 0;

namespace {

// Under g_libLock: the attempts that have ended and wait to be settled, and
// whether the run is over.
std::vector<std::unique_ptr<AtomRun>> g_endedRuns;
bool g_runOver = false;
// Under g_libLock: addresses are looked up only for a result file.
bool g_recordAddresses = false;

// Main thread only.
int g_completed = 0;
int g_failed = 0;
int g_skipped = 0;
std::unordered_set<std::string> g_failedNames;
LStrList g_failedList;
int g_quitCode = -1;
// The names of atoms waiting or running, with how many there are of each,
// gathered once per pass when an after name is found among the failed ones.
std::unordered_map<std::string, int> g_liveNames;
bool g_liveNamesKnown = false;

uint64_t g_dependencyGeneration = 1;  // main thread
std::atomic<bool> g_runFailure{false};
std::atomic<uint64_t> g_nextRunId{1};

// Time limits of running attempts. For each limit in seconds, the attempts in
// the order in which they started, which is the order in which their limits
// pass. One deadline of the main loop stands for the earliest of them, rounded
// up to the next tenth of a second, so that a stream of thousands of atoms a
// second costs nothing per atom but a place in a queue, and at most ten
// wake-ups a second; when it comes, every limit that has passed is looked at,
// and an attempt that has ended meanwhile is simply passed over. Main thread.
struct TimeLimit {
    int64_t at;  // monotonic ms
    uint64_t connectionId;
    uint64_t runId;
};
std::map<int, std::deque<TimeLimit>> g_timeLimits;
Deadlines::Id g_limitsDeadline = 0;
int64_t g_limitsDeadlineAt = 0;
constexpr int64_t kLimitStepMs = 100;

void limitsDue();

// Makes the deadline stand for the earliest time limit.
void armTimeLimits() {
    int64_t earliest = INT64_MAX;
    for (const auto& [seconds, queue] : g_timeLimits)
        if (!queue.empty() && queue.front().at < earliest) earliest = queue.front().at;
    if (earliest == INT64_MAX) return;
    const int64_t at = (earliest + kLimitStepMs - 1) / kLimitStepMs * kLimitStepMs;
    if (g_limitsDeadline != 0 && g_limitsDeadlineAt <= at) return;  // it comes first and arms again
    if (g_limitsDeadline != 0) g_deadlines.cancel(g_limitsDeadline);
    g_limitsDeadlineAt = at;
    g_limitsDeadline = g_deadlines.add(at, [] {
        g_limitsDeadline = 0;
        limitsDue();
    });
}

void limitsDue() {
    const int64_t now = nowMs();
    for (auto& [seconds, queue] : g_timeLimits) {
        while (!queue.empty() && queue.front().at <= now) {
            const TimeLimit limit = queue.front();
            queue.pop_front();
            timeLimitReached(limit.connectionId, limit.runId);
        }
    }
    armTimeLimits();
}

void startTimeLimit(uint64_t connectionId, uint64_t runId, int seconds) {
    std::deque<TimeLimit>& queue = g_timeLimits[seconds];
    queue.push_back({nowMs() + int64_t{seconds} * 1000, connectionId, runId});
    if (queue.size() == 1) armTimeLimits();  // a new earliest of its queue
}

void forgetTimeLimits() {
    g_timeLimits.clear();
    if (g_limitsDeadline != 0) g_deadlines.cancel(g_limitsDeadline);
    g_limitsDeadline = 0;
}

const char* statusText(const AtomRun& run, bool retried) {
    if (run.status == AtomRun::Status::kCompleted) return "completed";
    if (run.status == AtomRun::Status::kSkipped) return "skipped";
    return retried ? "retried" : "failed";
}

void writeResult(const AtomRun& run, const char* status) {
    if (!g_resultFile.isOpen()) return;
    ResultEntry e;
    e.atom = run.atom->name.data();
    const bool ran = run.status != AtomRun::Status::kSkipped;
    e.connection = ran ? run.connection.data() : nullptr;
    e.address = ran ? run.address.data() : nullptr;
    e.status = status;
    e.reason = run.reason.empty() ? nullptr : run.reason.data();
    e.attempt = run.attempt;
    e.startedWallMs = ran ? run.startedWallMs : 0;
    e.endedWallMs = run.endedWallMs;
    e.milliseconds = ran ? run.endedMs - run.startedMs : -1;
    e.bytes = ran ? run.bytes : -1;
    g_resultFile.add(e);
}

// A name that failed for good (or was skipped); listed once.
void addFailedName(const LString& name) {
    if (g_failedNames.insert(std::string(name.data(), static_cast<size_t>(name.len()))).second)
        g_failedList.add(name.data(), name.len());
    dependenciesChanged();
}

// Frees a run record and its atom; the blocks go back under one hold of the lock.
void release(std::unique_ptr<AtomRun> run) {
    LLockGuard guard;
    run.reset();
}

void gatherLiveNames() {
    g_liveNames.clear();
    for (int i = 0; i < g_atoms.count(); ++i) ++g_liveNames[g_atoms[i]->name.data()];
    forEachHeldBack([](const Atom& a) { ++g_liveNames[a.name.data()]; });
    LLockGuard guard;
    for (const TSocket* c : g_connections)
        if (!c->currentAtom.empty()) ++g_liveNames[c->currentAtom.data()];
    // Ended but not settled: may go back to the queue.
    for (const auto& run : g_endedRuns) ++g_liveNames[run->atom->name.data()];
    g_liveNamesKnown = true;
}

}  // namespace

Assignment startAttempt(Atom& atom, const TSocket& c) {
    ++atom.attempts;
    Assignment a;
    a.connectionId = c.id;
    a.connection = c.name;
    a.startedWallMs = platformNowMs();
    a.startedMs = platformMonotonicMs();
    return a;
}

namespace {
// The record of one attempt of atom, begun as a describes.
std::unique_ptr<AtomRun> newRun(std::unique_ptr<Atom> atom, Assignment&& a) {
    auto run = std::make_unique<AtomRun>();
    run->runId = g_nextRunId++;
    run->attempt = atom->attempts;
    run->connection = std::move(a.connection);
    run->startedWallMs = a.startedWallMs;
    run->startedMs = a.startedMs;
    run->atom = std::move(atom);
    return run;
}
}  // namespace

void runStarted(std::unique_ptr<Atom> atom, Assignment&& a, TSocket* c) {
    LLockGuard guard;
    if (c->run) endRun(c, AtomRun::Status::kFailed, tr(Tx::reasonAbandoned));  // cannot happen: c was ready
    const int limit = atom->timeout >= 0 ? atom->timeout : g_atomTimeout.load();
    auto run = newRun(std::move(atom), std::move(a));
    run->timeout = limit;
    if (limit > 0) startTimeLimit(c->id, run->runId, limit);
    c->run = std::move(run);
    ++g_runningAtoms;
}

void runLost(std::unique_ptr<Atom> atom, Assignment&& a, const char* reason) {
    auto run = newRun(std::move(atom), std::move(a));
    LLockGuard guard;
    if (g_runOver) {
        run.reset();
        return;
    }
    run->endedWallMs = platformNowMs();
    run->endedMs = platformMonotonicMs();
    run->status = AtomRun::Status::kFailed;
    run->reason = reason;
    systemMessage(Tx::atomFailedNotice, run->atom->name.data(), run->connection.data(), run->reason.data());
    writeSysLog(Tx::eventAtomFailed, run->atom->name.data(), run->connection.data(), run->reason.data());
    g_endedRuns.push_back(std::move(run));
}

void endRun(TSocket* c, AtomRun::Status status, const char* reason) {
    LLockGuard guard;
    if (!c->run) return;
    std::unique_ptr<AtomRun> run = std::move(c->run);
    --g_runningAtoms;
    if (g_runOver) {
        // The end of the run: the atom was still running and is counted so.
        // Nothing hands out lines any more, so the record may go now.
        run.reset();
        return;
    }
    // One clock read: the wall time of the end follows from the length.
    run->endedMs = platformMonotonicMs();
    run->endedWallMs = run->startedWallMs + (run->endedMs - run->startedMs);
    run->status = status;
    if (reason) run->reason = reason;
    if (g_recordAddresses) {
        // The same for every atom of the connection: looked up once.
        if (c->resultAddress.empty()) c->resultAddress = c->peerAddress();
        run->address = c->resultAddress;
    }
    const bool failed = status == AtomRun::Status::kFailed;
    if (failed) {
        systemMessage(Tx::atomFailedNotice, run->atom->name.data(), c->name.data(), run->reason.data());
        writeSysLog(Tx::eventAtomFailed, run->atom->name.data(), c->name.data(), run->reason.data());
    }
    g_endedRuns.push_back(std::move(run));
    // A completion wakes the main loop itself (wakeForPass), once per burst.
    if (failed) wakeMainLoop();
}

void countReceived(TSocket* c, int n) {
    if (c->run) c->run->bytes += n;
}

void atomConnectionClosed(TSocket* c) { endRun(c, AtomRun::Status::kFailed, tr(Tx::reasonConnectionClosed)); }

void timeLimitReached(uint64_t connectionId, uint64_t runId) {
    LLockGuard guard;
    TSocket* c = findConnectionById(connectionId);
    if (c == nullptr || !c->run || c->run->runId != runId) return;  // it has ended
    const LString reason = textf(Tx::reasonNoEndMarker, c->run->timeout);
    endRun(c, AtomRun::Status::kFailed, reason.data());
    // No further atom goes into a device in an unknown state: the connection
    // stays occupied until !ready gives it back.
    c->currentAtom.truncate(0);
    printConnectionNotice(Tx::connectionOccupiedNotice, c);
}

void settleOutcomes() {
    g_liveNamesKnown = false;
    std::vector<std::unique_ptr<AtomRun>> ended;
    {
        LLockGuard guard;
        g_recordAddresses = g_resultFile.isOpen();
        if (g_endedRuns.empty()) return;
        ended.swap(g_endedRuns);
    }
    int requeued = 0;
    for (std::unique_ptr<AtomRun>& run : ended) {
        Atom& atom = *run->atom;
        const bool completed = run->status == AtomRun::Status::kCompleted;
        const bool retry = !completed && run->attempt <= atom.retries;
        if (completed) {
            ++g_completed;
        } else if (!retry) {
            ++g_failed;
            addFailedName(atom.name);
        }
        writeResult(*run, statusText(*run, retry));
        if (!retry) continue;
        systemMessage(Tx::atomQueuedAgainNotice, atom.name.data(), run->attempt, atom.retries);
        writeSysLog(Tx::eventAtomQueuedAgain, atom.name.data(), run->attempt, atom.retries);
        // At the head of the queue, in the order in which they failed.
        g_atoms.insert(requeued++, std::move(run->atom));
    }
    g_resultFile.flush();
    // The records and their atoms go back under one hold of the lock.
    LLockGuard guard;
    ended.clear();
}

const char* hopelessAfter(const Atom& atom) {
    if (g_failedNames.empty()) return nullptr;
    for (int i = 0; i < atom.after.count(); ++i) {
        const char* name = atom.after[i];
        if (g_failedNames.count(name) == 0) continue;
        {
            LLockGuard guard;
            if (g_completedSet.contains(name)) continue;
        }
        if (!g_liveNamesKnown) gatherLiveNames();
        const auto live = g_liveNames.find(name);
        if (live != g_liveNames.end() && live->second > 0) continue;
        return name;
    }
    return nullptr;
}

void skipAtom(std::unique_ptr<Atom> atom, const char* after) {
    const std::string failed(after);  // after may point into the atom
    systemMessage(Tx::atomSkippedNotice, atom->name.data(), failed.c_str());
    writeSysLog(Tx::eventAtomSkipped, atom->name.data(), failed.c_str());
    ++g_skipped;
    addFailedName(atom->name);
    if (g_liveNamesKnown) --g_liveNames[atom->name.data()];
    auto run = std::make_unique<AtomRun>();
    run->status = AtomRun::Status::kSkipped;
    run->attempt = atom->attempts + 1;
    run->endedWallMs = platformNowMs();
    run->reason = textf(Tx::reasonAfterFailed, failed.c_str());
    run->atom = std::move(atom);
    writeResult(*run, statusText(*run, false));
    g_resultFile.flush();
    release(std::move(run));
    // An atom before it in the queue may wait for it: another pass follows.
    wakeMainLoop();
}

void checkStuckHead(Atom& atom, const PendingLines& pending) {
    if (atom.stuckWarned || pending.hasNext() || g_quitRequested) return;
    if (atom.by.empty() && atom.exceptBy.empty()) return;  // any connection will do
    LString detail;
    {
        LLockGuard guard;
        bool anyOpen = false;
        for (const TSocket* c : g_connections) {
            anyOpen = true;
            const bool byOk = atom.by.empty() || atom.by.contains(c->name.data());
            if (byOk && !atom.exceptBy.contains(c->name.data())) return;  // it is busy, not impossible
        }
        if (!anyOpen && atom.by.empty()) return;  // nothing is open yet
        if (!atom.by.empty()) {
            LStrList missing;
            for (int i = 0; i < atom.by.count(); ++i)
                if (findConnection(atom.by[i]) == nullptr) missing.add(atom.by[i]);
            const LStrList& shown = missing.empty() ? atom.by : missing;
            detail.append("by ");
            for (int i = 0; i < shown.count(); ++i) {
                if (i > 0) detail.append(",");
                detail.append(shown[i]);
            }
        } else {
            detail.append("except-by ");
            for (int i = 0; i < atom.exceptBy.count(); ++i) {
                if (i > 0) detail.append(",");
                detail.append(atom.exceptBy[i]);
            }
        }
    }
    atom.stuckWarned = true;
    msg(Tx::stuckHead, atom.name.data(), detail.data());
}

const LStrList& failedAtoms() { return g_failedList; }

void dependenciesChanged() { ++g_dependencyGeneration; }

void atomDefined(const Atom& atom) {
    if (g_failedNames.empty()) return;  // the common case: nothing to look at
    for (int i = 0; i < atom.after.count(); ++i)
        if (g_failedNames.count(atom.after[i]) != 0) {
            dependenciesChanged();
            return;
        }
}

uint64_t dependencyGeneration() { return g_dependencyGeneration; }

void finishRun() {
    int running = 0;
    {
        LLockGuard guard;
        g_runOver = true;
        running = g_runningAtoms;
    }
    forgetTimeLimits();
    running += heldBackAtoms();
    settleOutcomes();
    const int waiting = g_atoms.count() + running;
    if (g_completed + g_failed + g_skipped == 0) return;
    systemMessage(Tx::runSummaryNotice, g_completed, g_failed, g_skipped, waiting);
    writeSysLog(Tx::eventRunSummary, g_completed, g_failed, g_skipped, waiting);
}

void releaseOutcomes() {
    std::vector<std::unique_ptr<AtomRun>> ended;
    LLockGuard guard;
    ended.swap(g_endedRuns);
    ended.clear();
    g_runOver = false;
    g_runningAtoms = 0;
    g_completed = g_failed = g_skipped = 0;
    g_failedNames.clear();
    g_failedList.clear();
    g_liveNames.clear();
    g_liveNamesKnown = false;
    g_quitCode = -1;
    g_runFailure = false;
    g_timeLimits.clear();
    g_limitsDeadline = 0;
}

void noteRunFailure() { g_runFailure = true; }

void setQuitCode(int code) { g_quitCode = code; }

int exitStatus() {
    if (g_quitCode >= 0) return g_quitCode;
    return g_failed > 0 || g_skipped > 0 || g_runFailure ? 1 : 0;
}

bool runIsDone(const PendingLines& pending, bool inputEnded) {
    if (pending.hasNext()) return false;
    int running = 0;
    int connections = 0;
    int connecting = 0;
    {
        LLockGuard guard;
        if (!g_endedRuns.empty()) return false;  // settled first: one may go back to the queue
        running = g_runningAtoms;
        connections = g_connections.count();
        if (g_quitWhenDone && inputEnded && running == 0)
            for (const TSocket* c : g_connections) connecting += c->connecting() ? 1 : 0;
    }
    running += heldBackAtoms();
    if (running > 0) return false;
    if (g_quitWhenDone && g_atoms.empty()) return true;
    if (!inputEnded) return false;
    // Nothing can happen any more: no line will come, and the pass that has
    // just run handed nothing out. Without a connection nothing ever will;
    // with -qd, nothing will either unless a connection is still connecting
    // (a connection the user could give back with !ready cannot be, without
    // input). Atoms left waiting then never run, which the exit status tells.
    const bool over = connections == 0 || (g_quitWhenDone && connecting == 0);
    if (over && !g_atoms.empty()) {
        msg(Tx::atomsNeverRun, g_atoms.count());
        noteRunFailure();
    }
    return over;
}

Progress currentProgress() {
    Progress p;
    p.done = g_completed + g_failed + g_skipped;
    p.failed = g_failed + g_skipped;
    p.waiting = g_atoms.count();
    p.running = heldBackAtoms();
    LLockGuard guard;
    p.running += g_runningAtoms;
    return p;
}

// The main loop. Each iteration takes a typed line (if one waits) into the
// pending lines, fires the deadlines that are due, then runs or records at
// most one pending line (none while a pause holds them), then lets the
// close-on-ready sweep and the scheduler run, then sleeps until an event of
// g_waitSet arrives or the earliest deadline comes. After a line it wakes
// itself, so pending lines flow one per iteration with a scheduling pass
// between any two of them.
#include "app/mainloop.h"

#include <memory>

#include "app/atoms.h"
#include "app/completion.h"
#include "app/connection.h"
#include "app/console.h"
#include "app/deadlines.h"
#include "app/dispatcher.h"
#include "app/input.h"
#include "app/line_record.h"
#include "app/macros.h"
#include "app/outcomes.h"
#include "app/pending_lines.h"
#include "app/progress.h"
#include "app/scheduler.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/platform/process.h"

LPtrArray<LEvent> g_waitSet;
std::atomic<int> g_quitRequested{0};

namespace {
std::unique_ptr<LEvent> g_mainEvent;
// A connection has left the list since the main loop last looked.
std::atomic<bool> g_connectionLeft{false};
}  // namespace

namespace {
// A secret line is sent at once to its connection, also while an atom or a
// macro is being defined: a password is never stored.
int sendSecretLine(const LineRecord& line, PendingLines& pending) {
    TSocket* target = nullptr;
    {
        LLockGuard guard;
        target = line.target.empty() ? currentConnection() : findConnection(line.target.c_str());
    }
    if (target == nullptr && !line.target.empty()) {
        msg(Tx::connectionNotFound, line.target.c_str());
        return 0;
    }
    return executeLine(target, line, pending, pending.pause);
}
}  // namespace

int handlePendingLine(std::unique_ptr<LineRecord> line, PendingLines& pending) {
    // What is left of an expansion that has been stopped is dropped unrun.
    if (line->expansion && line->expansion->stopped) return 0;
    if (line->secret) return sendSecretLine(*line, pending);
    TSocket* current = nullptr;
    {
        LLockGuard guard;
        current = currentConnection();
    }
    Atom* atom = openAtom();
    // The recording state is decided before the line runs: the !macro line that
    // starts a recording is not itself recorded.
    if (Macro* macro = g_recordingMacro) {
        const char kind = line->lowerKind();
        if ((kind == 'i' || kind == 'w') &&
            (line->text().equals("em") || line->text().equals("end-macro"))) {
            g_recordingMacro = nullptr;
        } else {
            systemMessage(Tx::registerInMacro, macro->name.data(), displayText(*line).data());
            line->expansion.reset();  // a recorded line starts afresh when it runs
            macro->lines.add(std::move(line));
        }
        return 0;
    }
    if (atom && line->lowerKind() != 'i') {
        systemMessage(Tx::registerInAtom, atom->name.data(), displayText(*line).data());
        line->expansion.reset();
        atom->lines.add(std::move(line));
        return 0;
    }
    return executeLine(current, *line, pending, pending.pause);
}

void initWaitSet() {
    g_mainEvent = std::make_unique<LEvent>();
    LLockGuard guard;
    g_waitSet.add(g_mainEvent.get());
}

void releaseWaitSet() {
    LLockGuard guard;  // a connection that has just left wakes us under the lock
    if (g_mainEvent) g_waitSet.remove(g_mainEvent.get());
    g_mainEvent.reset();
}

void catchQuitSignals() {
    if (g_mainEvent) platformCatchQuitSignals(g_mainEvent->handle());
}

int quitSignal() { return platformQuitSignal(); }

void wakeMainLoop() {
    if (g_mainEvent) g_mainEvent->set();
}

void connectionLeft() {
    g_connectionLeft = true;
    wakeMainLoop();
}

void waitMainEvent(int timeoutMs) {
    if (g_mainEvent) g_mainEvent->wait(timeoutMs);
}

int runMainLoop(PendingLines& pending, TInput* input) {
    int quit = 0;
    int64_t pauseEnd = 0;  // the end of the pause that a deadline has been added for
    while (!quit && !quitSignal()) {
        if (input) input->takeLine(pending);
        answerNameRequest();
        g_deadlines.fireDue(nowMs());
        if (g_connectionLeft.exchange(false)) resumeHandOutsOfClosedConnections();
        if (pending.hasNext() && !pending.pause.active(nowMs())) {
            quit = handlePendingLine(pending.takeNext(), pending);
            wakeMainLoop();
        }
        // A pause that a line has begun wakes the loop when it ends.
        if (pending.pause.until > pauseEnd) {
            pauseEnd = pending.pause.until;
            g_deadlines.add(pauseEnd, [] {});
        }
        passStarting();
        if (g_closeOnReadyPending.exchange(0)) closeMarkedConnections();
        settleOutcomes();
        assignAtoms(pending);
        if (g_quitRequested) break;
        updateProgress();
        if (runIsDone(pending, input != nullptr && input->ended())) break;
        // Every signalled event is taken at once: one pass answers them all.
        waitAnyTakeAll(g_waitSet, g_deadlines.msUntilNext(nowMs()));
    }
    // The end of the run: what ended is counted, what runs still counts as waiting.
    finishRun();
    // It cancels every wait.
    releaseHandOuts();
    g_deadlines.clear();
    pending.pause = LinePause{};
    return 0;
}

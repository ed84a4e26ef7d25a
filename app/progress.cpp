// The batch's progress in the terminal title (see progress.h).
#include "app/progress.h"

#include "app/deadlines.h"
#include "app/outcomes.h"
#include "base/catalogue.h"
#include "base/lock.h"
#include "base/platform/console.h"
#include "base/platform/terminal.h"

namespace {

constexpr int kIntervalMs = 250;

// Main thread only.
bool g_titleShown = false;
Progress g_shown;
int64_t g_shownAt = 0;
Deadlines::Id g_later = 0;  // the deadline that shows a change held back

void show(const Progress& p) {
    const TextBuffer title(Tx::progressTitle, p.done, p.done + p.waiting + p.running, p.failed, p.running);
    // Under the lock: between two pieces of console output, never inside one.
    LLockGuard guard;
    if (!g_titleShown) terminalPushTitle();
    terminalSetTitle(title.data());
    g_titleShown = true;
    g_shown = p;
}

}  // namespace

void updateProgress() {
    if (!platformStdoutIsTerminal()) return;
    const Progress p = currentProgress();
    if (g_titleShown ? p == g_shown : p.done == 0 && p.running == 0) return;
    const int64_t now = nowMs();
    if (g_titleShown && now - g_shownAt < kIntervalMs) {
        if (g_later == 0)
            g_later = g_deadlines.add(g_shownAt + kIntervalMs, [] {
                g_later = 0;
                updateProgress();
            });
        return;
    }
    show(p);
    g_shownAt = now;
}

void endProgress() {
    g_later = 0;  // the main loop's deadlines are gone by now
    if (!g_titleShown) return;
    LLockGuard guard;
    terminalPopTitle();
    g_titleShown = false;
}

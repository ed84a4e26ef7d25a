// The console input thread. The hand-over waits on an event that the main
// thread sets when it takes the line, so typed-ahead or piped lines flow as fast
// as the main loop takes them, and an idle thread uses no processor time.
#include "app/input.h"

#include <string>

#include "app/mainloop.h"
#include "app/pending_lines.h"
#include "app/reader.h"
#include "base/lock.h"
#include "base/msg.h"

TInput::TInput() {
    LLockGuard guard;
    g_waitSet.add(&event);
}

TInput::~TInput() {
    if (isRunning()) shutdown(-1);
    LLockGuard guard;
    g_waitSet.remove(&event);
}

void TInput::takeLine(PendingLines& pending) {
    LLockGuard guard;
    if (line.empty()) return;
    int n = line.len();
    while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == '\n')) --n;
    if (auto record = makeConsoleRecord(line.data(), n)) pending.append(std::move(record));
    line.clear();
    taken_.set();
}

void TInput::shutdown(int timeoutMs) {
    stopRequested = true;
    reader_.wake();
    taken_.set();
    stop(timeoutMs);
}

void TInput::run() {
    std::string read;
    while (!stopRequested) {
        const int n = reader_.readLine(read, kMaxLine);
        if (n == StdinReader::kWoken || n == StdinReader::kEnd) break;
        if (n == StdinReader::kError) {
            // Reported once: a read that fails now fails again at once.
            msg(17000, "ReadConsole() failed");
            break;
        }
        if (n == StdinReader::kTooLong) {
            // A pasted command is run whole or not at all.
            msg(10045, "入力行が長すぎます (最大 %d バイト)", kMaxLine);
            continue;
        }
        {
            LLockGuard guard;
            line.assign(read.data(), n);
        }
        event.set();
        while (!stopRequested) {
            {
                LLockGuard guard;
                if (line.empty()) break;
            }
            taken_.wait(-1);
        }
    }
}

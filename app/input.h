// TInput: the console input thread. It reads standard input one whole line at
// a time (at most kMaxLine bytes of text; a longer line is refused with error
// 10045 and nothing of it is run or sent) and hands each line to the main loop
// through a one-line buffer and an event; it reads the next line only once the
// main loop has taken the previous one.
//
// The read waits on standard input and on a wake-up together, so shutdown()
// ends the thread at once, also while it waits for the user. At the end of a
// pipe or file the thread ends quietly; the program runs on until !quit.
#pragma once

#include "base/lstring.h"
#include "base/platform/terminal.h"
#include "base/thread.h"

class PendingLines;

class TInput : public LThread {
public:
    static constexpr int kMaxLine = 64 * 1024;

    // Creates the event and adds it to g_waitSet (under g_libLock).
    TInput();
    // Ends the thread when it still runs, then removes the event from g_waitSet.
    ~TInput() override;

    // Main thread: when a line waits, cuts CR and LF from its end, appends its
    // record (if any) to pending, empties the buffer and lets the thread read on.
    void takeLine(PendingLines& pending);

    // Any thread but this one: asks the thread to end, wakes its read or its
    // wait, and waits up to timeoutMs (negative: without limit) for it to end.
    void shutdown(int timeoutMs);

    LString line;  // the line handed over; empty when taken. Under g_libLock.
    LEvent event;  // signalled when a line has been put into line; in g_waitSet

protected:
    void run() override;

private:
    StdinReader reader_;
    LEvent taken_;  // signalled by takeLine() and shutdown()
};

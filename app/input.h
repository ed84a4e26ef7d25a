// TInput: the console input thread. It reads standard input one whole line at
// a time (at most kMaxLine bytes of text; a longer line is refused with error
// 10045 and nothing of it is run or sent) and hands each line to the main loop
// through a one-line buffer and an event; it reads the next line only once the
// main loop has taken the previous one.
//
// On a terminal the line editor of the platform layer edits each line (history,
// completion, output kept above the typed line). Secret lines (after !secret,
// or typed at a password prompt of a server that echoes) are read without
// being shown and handed over as secret records, which no history, log,
// listing or message file ever holds.
//
// The read waits on standard input and on a wake-up together, so shutdown()
// ends the thread at once, also while it waits for the user. At the end of a
// pipe or file, or after Ctrl-D on an empty terminal line, the thread ends
// quietly and says so (ended()); the program runs on until !quit, -qd, or the
// point where nothing can happen any more.
#pragma once

#include <string>

#include "base/lstring.h"
#include "base/platform/terminal.h"
#include "base/thread.h"

class PendingLines;
class TSocket;

class TInput : public LThread {
public:
    static constexpr int kMaxLine = 64 * 1024;

    // Creates the event and adds it to g_waitSet (under g_libLock).
    TInput();
    // Ends the thread when it still runs, then removes the event from g_waitSet.
    ~TInput() override;

    // Keeps the history of typed lines in this file (-hist); before start().
    void setHistoryFile(const char* path) { historyPath_ = path ? path : ""; }

    // Main thread: when a line waits, cuts CR and LF from its end, appends its
    // record (if any) to pending, empties the buffer and lets the thread read on.
    void takeLine(PendingLines& pending);

    // Any thread but this one: asks the thread to end, wakes its read or its
    // wait, and waits up to timeoutMs (negative: without limit) for it to end.
    void shutdown(int timeoutMs);

    // Console input has ended (or cannot be read): no line will come any more.
    bool ended() const;

    LString line;  // the line handed over; empty when taken. Under g_libLock.
    LEvent event;  // signalled when a line has been put into line, and at the end of input; in g_waitSet

protected:
    void run() override;

private:
    friend bool requestSecretLine(const char* target);
    friend void notifyPasswordPrompt(TSocket* c);

    // Whether the next line is a secret one, and for which connection. Under
    // g_libLock (takes it).
    bool nextIsSecret(std::string& target);
    // True when text is a typed "!secret [<cname>]" (or "!sec"); its
    // connection name (empty: the current one) into target.
    static bool isSecretCommand(const std::string& text, std::string& target);
    void addToHistory(const std::string& text);

    StdinReader reader_;
    LEvent taken_;  // signalled by takeLine() and shutdown()
    std::string historyPath_;
    bool historyFailed_ = false;  // reported once
    // Under g_libLock: the line in `line` is secret, for this connection; or
    // it is a !secret whose secret line this thread reads next.
    bool lineSecret_ = false;
    std::string lineTarget_;
    bool lineReadsSecret_ = false;
    // Under g_libLock: a secret line has been asked for (!secret), for this
    // connection (empty: the current one).
    bool secretWanted_ = false;
    std::string secretTarget_;
    bool ended_ = false;  // under g_libLock: the input has ended
    // Reading thread: the password prompt already answered (connection id and
    // its piece count then), so that one prompt takes one secret line.
    uint64_t promptConnection_ = 0;
    uint64_t promptPieces_ = 0;
};

// !secret from a command file, a macro or an atom (main thread): the next
// typed line is read as a secret for target (empty: the current connection).
// False when console input has ended or there is no console thread.
bool requestSecretLine(const char* target);

// Connection thread, under g_libLock: c has just received a password prompt;
// when c is the current connection, the console reads the next line as a
// secret, also when it is already waiting for one with nothing typed.
void notifyPasswordPrompt(TSocket* c);

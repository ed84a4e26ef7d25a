// Programs as connections: the targets "exec:<program> [<arg>...]" and
// "ssh://[<user>@]<host>[:<port>]" turned into the words of the program to
// start, and NSocket::LProgram, the far end of such a connection: a program
// on a pseudo-terminal of its own.
//
// Key choices: SSH is the system's ssh client, so that the user's config,
// keys, agent, known hosts and jump hosts apply; we only build its command
// line (the words of -ssh, then -p <port> when a port is given, then
// [<user>@]<host>). No shell is ever involved: the words go to the program as
// they are. The connection's own thread starts the program, and ends it when
// the connection ends: hang-up (SIGHUP to its process group), SIGTERM after
// 1 s, SIGKILL after 3 s, then it reaps it, so that no process stays behind
// and none is left a zombie, and nothing else waits meanwhile.
#pragma once

#include "base/larray.h"
#include "base/lstring.h"
#include "base/platform/process.h"

// True when text names a program ("exec:" or "ssh://") rather than a TCP host.
bool isProgramTarget(const char* text);

// Splits text into words: blanks separate them, double quotes group, and a
// backslash takes the next character literally (slashes and commas are
// ordinary characters). Appends them to words. False when a quote is not
// closed (reported, 10012).
bool splitCommandWords(const char* text, LStrList& words);

// The words of the program that a target starts, the program first: for
// exec: the words of the rest, for ssh:// the ssh command's words, -p <port>
// when a port is given, and the destination. False when the target is not
// valid (reported: 10012, 10044, 10071, 10072).
bool programWords(const char* target, LStrList& words);

// The command line of words as shown to the user: the words joined by
// blanks, each in double quotes (with backslashes before quotes and
// backslashes) when splitCommandWords would not give it back otherwise.
LString commandLineText(const LStrList& words);

// The ssh command that ssh:// targets start (option -ssh; "ssh -tt" until
// set). False, keeping the command in force, when text holds no program or an
// unclosed quote (reported). Main thread, before connections open.
bool setSshCommand(const char* text);

namespace NSocket {

class LProgram {
public:
    // How long the program has after the hang-up before SIGTERM, and before
    // SIGKILL, in milliseconds.
    static constexpr int kTerminateAfterMs = 1000;
    static constexpr int kKillAfterMs = 3000;

    explicit LProgram(const LStrList& words);
    // A program that still runs here (its connection thread never ended it)
    // is killed and reaped.
    ~LProgram();
    LProgram(const LProgram&) = delete;
    LProgram& operator=(const LProgram&) = delete;

    // Opens the pseudo-terminal, window of the console's size (80 x 24 when
    // standard output is no terminal): its master side, or -1 with the error
    // number in errno (not reported).
    int openTerminal();
    // Starts the program on the terminal: 0, or the error number of a program
    // that could not be started (reported once, 10070, with the system's text).
    int start();
    // Ends the program once its connection has closed the terminal's master
    // side: the hang-up to its process group (also when the program has
    // ended by itself, for what it left running there), then SIGTERM and
    // SIGKILL as long as it runs; then it is reaped. On the connection's
    // thread, without g_libLock: this waits up to 3 s and more until SIGKILL
    // has taken effect.
    void hangUp();
    // How the program ended: "exit code 3", "signal 9, SIGKILL"; empty when it
    // never started or its end is unknown.
    LString endText() const;
    const LString& commandLine() const { return commandLine_; }

private:
    LStrList words_;
    LString commandLine_;
    char slavePath_[128] = {};
    int pid_ = -1;        // the program while it is not reaped
    bool ended_ = false;  // reaped: end_ tells how it ended
    PlatformChildEnd end_;
};

}  // namespace NSocket

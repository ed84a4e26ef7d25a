// Platform layer: the terminal. Colour attributes as ANSI SGR sequences (only
// written when standard output is a terminal), clearing the screen, and an
// interruptible reader of standard input.
#pragma once

// The SGR sequence of a console attribute (low nibble foreground, high nibble
// background; blue 1, green 2, red 4, intensity 8) into out (at least 24
// bytes); its length. Attribute 7 is the terminal's own default (ESC[0m). The
// caller writes it, only when standard output is a terminal
// (platformStdoutIsTerminal).
int formatSgr(int attribute, char* out);

// Clears the screen and the scroll-back when standard output is a terminal.
void terminalClear();

// Reads standard input one line at a time, in pieces of at most a given size,
// waiting with poll() on the input and on a wake-up pipe so that wake() from
// another thread ends a wait at once.
class StdinReader {
public:
    enum : int { kEnd = -1, kWoken = -2, kError = -3 };

    StdinReader();
    ~StdinReader();
    StdinReader(const StdinReader&) = delete;
    StdinReader& operator=(const StdinReader&) = delete;

    // Copies the next piece into out: the bytes up to and including the next
    // line feed, at most cap bytes (cap <= kBufferSize); a last line without a
    // line end is delivered whole at the end of input. Returns its length (> 0),
    // kEnd at the end of a pipe or file, kWoken after wake(), or kError (errno
    // set) when standard input cannot be read. On a terminal the end of input
    // (Ctrl-D) is not final: reading goes on.
    int readPiece(char* out, int cap);

    // Ends a wait in readPiece() (any thread); every later call returns kWoken.
    void wake();

    static constexpr int kBufferSize = 4096;

private:
    int takePiece(char* out, int cap, bool all);
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    bool terminal_ = false;
    bool ended_ = false;
    int start_ = 0;
    int end_ = 0;
    char buf_[kBufferSize];
};

// Platform layer: the terminal. Colour attributes as ANSI SGR sequences (only
// written when standard output is a terminal), clearing the screen, and an
// interruptible reader of standard input.
#pragma once

#include <string>

// The SGR sequence of a console attribute (low nibble foreground, high nibble
// background; blue 1, green 2, red 4, intensity 8) into out (at least 24
// bytes); its length. Attribute 7 is the terminal's own default (ESC[0m). The
// caller writes it, only when standard output is a terminal
// (platformStdoutIsTerminal).
int formatSgr(int attribute, char* out);

// Clears the screen and the scroll-back when standard output is a terminal.
void terminalClear();

// Reads standard input one whole line at a time, waiting with poll() on the
// input and on a wake-up pipe so that wake() from another thread ends a wait
// at once.
class StdinReader {
public:
    enum : int { kEnd = -1, kWoken = -2, kError = -3, kTooLong = -4 };

    StdinReader();
    ~StdinReader();
    StdinReader(const StdinReader&) = delete;
    StdinReader& operator=(const StdinReader&) = delete;

    // Reads the next line, with its line end, into line; a last line without a
    // line end is delivered whole at the end of input. Returns its length
    // (> 0); kTooLong when its text (the bytes before CR LF or LF) is longer
    // than maxLine: the whole line has then been read and dropped; kEnd at the
    // end of a pipe or file; kWoken after wake(); kError (errno set) when
    // standard input cannot be read. On a terminal the end of input (Ctrl-D)
    // hands over what was typed of the line and is not final otherwise.
    int readLine(std::string& line, int maxLine);

    // Ends a wait in readLine() (any thread); every later call returns kWoken.
    void wake();

    static constexpr int kBufferSize = 4096;

private:
    // Moves buffered bytes up to and including the next line feed (or all of
    // them) to line; true when a line feed ended them.
    bool takeBuffered(std::string& line);
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    bool terminal_ = false;
    bool ended_ = false;
    int start_ = 0;
    int end_ = 0;
    char buf_[kBufferSize];
};

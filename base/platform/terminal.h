// Platform layer: the terminal. Colour attributes as ANSI SGR sequences (only
// written when standard output is a terminal), clearing the screen, the
// terminal's modes, and an interruptible reader of standard input (with the
// line editor on an interactive terminal).
#pragma once

#include <memory>
#include <string>

class LineEditor;

// The SGR sequence of a console attribute (low nibble foreground, high nibble
// background; blue 1, green 2, red 4, intensity 8) into out (at least 24
// bytes); its length. Attribute 7 is the terminal's own default (ESC[0m). The
// caller writes it, only when standard output is a terminal
// (platformStdoutIsTerminal).
int formatSgr(int attribute, char* out);

// Clears the screen and the scroll-back when standard output is a terminal.
void terminalClear();

// The window size of the terminal that standard output goes to: true with its
// columns and rows, false (nothing changed) when it is no terminal.
bool platformConsoleSize(int* columns, int* rows);

// Remembers the modes of standard input (when it is a terminal) the first
// time it is called, so that platformRestoreTerminal() can put them back.
void platformSaveTerminal();
// Puts standard input back into the saved modes (nothing when none were
// saved). Async-signal-safe: also called just before an immediate exit.
void platformRestoreTerminal();

// The terminal's window title, when standard output is a terminal (nothing is
// written otherwise). Push saves the title in force on the terminal's title
// stack and pop gives it back (there is no portable way to read it); a
// terminal without such a stack ignores both. The text is written without its
// control bytes.
void terminalPushTitle();
void terminalSetTitle(const char* text);
void terminalPopTitle();

// Reads standard input one whole line at a time, waiting with poll() on the
// input and on a wake-up pipe so that wake() from another thread ends a wait
// at once.
class StdinReader {
public:
    enum : int { kEnd = -1, kWoken = -2, kError = -3, kTooLong = -4, kRecheck = -5 };

    StdinReader();
    ~StdinReader();
    StdinReader(const StdinReader&) = delete;
    StdinReader& operator=(const StdinReader&) = delete;

    // Reads the next line, with its line end, into line; a last line without a
    // line end is delivered whole at the end of input. Returns its length
    // (> 0); kTooLong when its text (the bytes before CR LF or LF) is longer
    // than maxLine: the whole line has then been read and dropped; kEnd at the
    // end of a pipe or file; kWoken after wake(); kError (errno set) when
    // standard input cannot be read. On a terminal Ctrl-D on an empty line
    // ends the input (kEnd), after some text it hands over what was typed.
    // With the line editor the line is edited first; kRecheck then tells that
    // recheck() ended a read in which nothing had been typed.
    int readLine(std::string& line, int maxLine);

    // Reads the next line like readLine() without showing it: on a terminal
    // the terminal's echo is off while it is typed, and a line feed follows
    // it on the screen. Erase (Backspace) and kill (Ctrl-U) characters that
    // reach the line are applied to it.
    int readSecret(std::string& line, int maxLine);

    // Starts the line editor when standard input and output are terminals;
    // true when it runs. Reading thread, before the first read.
    bool enableEditor();
    // The line editor, or null.
    LineEditor* editor() { return editor_.get(); }
    // Ends the line editor (the terminal gets its own modes back) once nothing
    // more is read. Reading thread.
    void closeEditor();
    // Ends an editor's read in which nothing has been typed with kRecheck
    // (any thread; nothing without an editor).
    void recheck();

    // Ends a wait in readLine() (any thread); every later call returns kWoken.
    void wake();

    // For the line editor: takes one buffered byte; false when none is left.
    bool popByte(unsigned char& byte);
    // For the line editor: waits for input, the wake-up and extraFd together
    // and reads what has come into the buffer. Returns the number of bytes
    // read (> 0), kRecheck when extraFd is readable (not read), kWoken, kEnd at
    // the end of the terminal, or kError (errno set).
    int fill(int extraFd);

    static constexpr int kBufferSize = 4096;

private:
    // Moves buffered bytes up to and including the next line feed (or all of
    // them) to line; true when a line feed ended them.
    bool takeBuffered(std::string& line);
    int readPlain(std::string& line, int maxLine);
    std::unique_ptr<LineEditor> editor_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    bool terminal_ = false;
    bool ended_ = false;
    int start_ = 0;
    int end_ = 0;
    char buf_[kBufferSize];
};

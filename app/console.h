// Console output: the application's message sink, colours and system messages.
//
// Every coloured piece of output is one sequence under g_libLock: set the colour,
// write the text (code 0 through the sink, so it reaches the message file too),
// set the colour back to 7. Colours are console attributes (low nibble
// foreground, high nibble background; blue 1, green 2, red 4, intensity 8),
// written as ANSI SGR sequences only when standard output is a terminal.
#pragma once

#include <initializer_list>
#include <optional>

#include "base/larray.h"
#include "base/lstring.h"
#include "base/msg.h"

// Several texts joined into one NUL-terminated text, on the stack when they are
// short (the notices and messages printed for every atom), else in an LString.
// A part ends at its first NUL byte, as printing would end it.
class JoinedText {
public:
    JoinedText(std::initializer_list<const char*> parts);
    JoinedText(const JoinedText&) = delete;
    JoinedText& operator=(const JoinedText&) = delete;
    const char* data() const { return large_ ? large_->data() : small_; }

private:
    char small_[256];
    std::optional<LString> large_;
};

// The sink: errors, warnings and notes are written whole in g_errorMsgColor; plain
// output (code 0) in whatever colour the caller set. Flushes the message file
// after every report.
class TMsg : public LStdoutMsg {
public:
    explicit TMsg(int fatal = 0) : LStdoutMsg(fatal) {}
    void output(int code, const char* position, const char* kind, const char* text) override;
};

// One unit of console output: holds g_libLock and collects everything written
// during its life (colour changes inline) into one write at its end, so that a
// sequence of colour, text, colour 7 and tail costs one system call and never
// mixes with other output. When that write fails after a colour change, the
// colour change counts as failed (error 17000, see setConsoleColor). Nested
// units join the outermost one. Never hold one across a command or a wait.
class ConsoleOutput {
public:
    ConsoleOutput();
    ~ConsoleOutput();
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

private:
    LStdoutBatch batch_;
};

// Writes out what the calling thread's open ConsoleOutput units have collected
// and sets them aside for its lifetime (LStdoutBatchPause), so that g_libLock
// may be released inside it without other threads' output joining those units
// or waiting for their end. A colour change that fails to be written is
// reported as at the end of a unit. Holds g_libLock for its whole life.
class ConsoleOutputPause {
public:
    ConsoleOutputPause();
    ~ConsoleOutputPause() = default;
    ConsoleOutputPause(const ConsoleOutputPause&) = delete;
    ConsoleOutputPause& operator=(const ConsoleOutputPause&) = delete;

private:
    LStdoutBatchPause pause_;
};

// Sets the attribute for further output (nothing is written when standard output
// is not a terminal). Never recurses into itself through a failure report.
void setConsoleColor(int attribute);

// The attribute used to echo command-file text in a connection's colour c: with
// g_inputReverse the foreground and background swap (intensity bits stay), with
// g_inputHighlight the foreground intensity bit is set.
int echoColor(int c);

// Prints one system message line of the catalogue in g_systemMsgColor
// (nothing when it is 0).
template <class... Args>
void systemMessage(TextOf<Args...> text, Args... args);
// The same without the check of the arguments; use systemMessage().
void systemMessageOf(Tx text, ...);
// The same with a finished text.
void systemMessageText(const char* text);

// Prints head, the names joined by "," and tail as one piece of plain output;
// nothing for an empty list.
void printNameList(const char* head, const LStrList& names, const char* tail = "");

// Writes text (n bytes, or up to its terminator when n < 0) in the given
// attribute as one locked sequence, then resets to 7.
void printColored(int attribute, const char* text, int n = -1);

// One unit of output: head (may be null), text in the given attribute, colour
// 7, tail (may be null). Without a terminal no colour is written, and the sink
// gets the three parts as one text (the same bytes, one report instead of
// three).
void printColoredParts(const char* head, int attribute, const char* text, const char* tail);

// Clears the screen when standard output is a terminal.
void clearScreen();

template <class... Args>
void systemMessage(TextOf<Args...> text, Args... args) {
    systemMessageOf(text.id, args...);
}

// Platform layer: the line editor of an interactive console, on libedit
// (BSD licence): cursor keys, Home/End, the Emacs keys, history with Up/Down
// and Ctrl-R, and completion with Tab through a callback.
//
// Key design choices:
// - Output of any thread can appear while a line is edited. Every write to
//   standard output goes through lineEditorWriteAround() (platformWriteStdout2
//   calls it), which takes the editor's lock, takes the edited line off the
//   screen, writes, and draws it again below. The editor's lock is held only
//   while the editor works on a key, never while it waits for one: the read
//   function libedit calls releases it around its poll().
// - The text after the last line break of the output (a device's prompt such
//   as "Router> ") becomes the editor's prompt when it is plain and short, so
//   typing continues on that row as it would without the editor; otherwise the
//   edited line starts on a row of its own.
// - Lock order: g_libLock, then the editor's lock. The editor never takes
//   g_libLock while it holds its own lock (the completion callback runs with
//   the editor's lock released).
// - The terminal is never left in the editor's modes: its modes at start are
//   restored when the editor ends, at exit, and before an immediate exit on a
//   second quit signal (platformRestoreTerminal, async-signal-safe).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class StdinReader;

// What Tab completes: the word that starts at byte wordStart of the text
// before the cursor is replaced by the longest common start of candidates (the
// whole candidate, and a blank after it unless it ends with '/', when there is
// one); when that adds nothing, the candidates are listed above the line.
struct LineCompletion {
    int wordStart = 0;
    std::vector<std::string> candidates;  // each begins with the word typed so far
};
using LineCompleter = std::function<void(const std::string& beforeCursor, LineCompletion& out)>;

class LineEditor {
public:
    enum : int { kHistoryMax = 1000 };

    // Starts an editor when standard input and standard output are both
    // terminals and libedit can drive the terminal (TERM names one that can
    // move the cursor up); null otherwise. reader is the source of input bytes
    // (its buffer and its wake-up) and must outlive the editor. From here on
    // nothing typed is echoed by the terminal itself; the editor draws nothing
    // until readLine().
    static std::unique_ptr<LineEditor> open(StdinReader& reader);
    ~LineEditor();
    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;

    // Edits one line and returns it without its line end in line, with its
    // length (>= 0); StdinReader's codes otherwise: kEnd for Ctrl-D on an empty
    // line or the end of the terminal, kWoken after the reader's wake(),
    // kRecheck after recheck() while nothing has been typed, kTooLong for a
    // line longer than maxLine bytes (dropped). Reading thread only.
    int readLine(std::string& line, int maxLine);

    // Switches the terminal to reading a line that is not shown (canonical
    // input without echo) until endSecret(), which goes back to the editor's
    // quiet mode and moves the output to a fresh row. Reading thread only.
    void beginSecret();
    void endSecret();

    // Ends a readLine() in which nothing has been typed yet with kRecheck, so
    // that the caller can decide anew how to read the next line (any thread).
    void recheck();

    void setCompleter(LineCompleter completer);
    // Adds a line to the history (at most kHistoryMax lines, the oldest go);
    // with a history file, writes the file anew (mode 0600). False (errno set)
    // when the file could not be written. Reading thread only.
    bool addHistory(const std::string& line);
    // Reads the lines of path into the history (a missing file is an empty
    // history) and keeps path for addHistory(). False (errno set) when an
    // existing file cannot be read.
    bool useHistoryFile(const std::string& path);

    // Called by platformWriteStdout2 for every write: when an editor is
    // active, writes the pieces with the edited line taken off the screen and
    // drawn again after them, sets ok and returns true; false when no editor
    // is active (the caller writes).
    static bool writeAround(const char* a, int na, const char* b, int nb, bool& ok);

    struct Impl;

private:
    LineEditor() = default;
    std::unique_ptr<Impl> impl_;
};

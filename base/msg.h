// Message reporting: the one sink every diagnostic of the system goes through.
//
// A caller reports a code and a text; the code decides the kind word ("Message"
// for 0, "Error" for 1..19999, "Warning" for 20000..39998, "Note" from 39999)
// and, with a fatal sink, whether the process ends (10000..19998). The sink adds
// the kind, the code and the current source position (top of the position
// stack) and writes to the console and, optionally, to a message file.
//
// Codes with a fixed meaning: 0 plain text; 15000 general error; 17000/37000
// error/warning with the system text of the last error (errno) appended; 17100/
// 37100 the same with errnoText(); 35000 general warning.
//
// The texts come from the catalogue (base/catalogue.h): msg(Tx::name, args...)
// reports an entry with its code. A sink that holds its reports back keeps
// them in both languages, so that the language chosen after them (-lang
// anywhere among the arguments) is the one they are written in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/catalogue.h"
#include "base/lstring.h"
#include "base/obj.h"

class LIoFile;
class LStream;

// ---- the sinks ----

class LMsg : public LObj {
public:
    explicit LMsg(int fatal = 0) : fatal(fatal) {}
    ~LMsg() override = default;

    // Writes one finished report. position is null when no position is pushed.
    // Base sink: "%s: " position, "%s %d: " kind and code, the text, and "\n"
    // for codes > 0, through writeStdout.
    virtual void output(int code, const char* position, const char* kind, const char* text);
    // Writes a report whose text exists in both languages: text in the
    // language in force, other in the other one. The base sink writes text.
    virtual void outputBilingual(int code, const char* position, const char* kind, const char* text,
                                 const char* other);
    // True while the sink holds its reports back; they then come in both
    // languages (see outputBilingual).
    virtual bool holdsReports() const { return false; }

    // The core every report ends in: appends the 17000/37000 or 17100/37100
    // suffix, takes the position, picks the kind, calls output(), and ends the
    // process (exit code 2) for 10000..19998 when fatal is set. Returns 0.
    int report(int code, const char* text);
    // The same for a text in both languages: text in the language in force,
    // other in the other one (null: text alone).
    int report(int code, const char* text, const char* other);
    int reportf(int code, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

    int fatal;
};

class LStdoutMsg : public LMsg {
public:
    explicit LStdoutMsg(int fatal = 0);
    // Closes the message file; removes a message file that this run never wrote
    // (overwrite mode: whenever it exists; append mode: when it is empty).
    ~LStdoutMsg() override;

    void output(int code, const char* position, const char* kind, const char* text) override;
    void outputBilingual(int code, const char* position, const char* kind, const char* text,
                         const char* other) override;
    bool holdsReports() const override;

    // Holds every report back (start-up: the options that decide where reports
    // go, the message file among them, are read after the first reports can
    // come) until releaseHeld(), which hands them to output() again in order,
    // so that they are written as the settings then in force say, in the
    // language then in force.
    void holdReports();
    void releaseHeld();
    bool holding() const { return holding_; }  // under g_libLock

    const char* msgFile = nullptr;  // not owned; null: no message file
    int msgFileAppend = 0;          // non-zero: append instead of rewrite
    int consoleLevel = 0;           // 0 all, 1 only codes 1..19999, 2+ nothing
    std::unique_ptr<LIoFile> msgStream;  // opened on the first report

protected:
    // The message file, opened on first use (retried on every report while it
    // cannot be opened); null when there is none.
    LIoFile* messageFile();

private:
    struct Held {
        int code;
        bool hasPosition;
        std::string position, kind, japanese, english;
    };
    bool openFailed_ = false;  // an open of the message file has failed
    bool holding_ = false;
    std::vector<Held> held_;
};

// The current sink; a plain LMsg (fatal 0) is installed on the first report when
// none is. Owned by the library (destroyed by msgShutdown).
extern LMsg* g_msg;
// Installs sink as g_msg (ownership passes to the library); destroys a previous one.
void installMsg(LMsg* sink);

// ---- reporting ----

// Reports the catalogue's text id with its code and these arguments.
template <class... Args>
int msg(TextOf<Args...> text, Args... args);
// The same without the check of the arguments; use msg().
int msgOf(Tx id, ...);

// Reports a text that is not in the catalogue (tests, the library's own
// layouts); the program's texts go through msg(Tx::...).
int msg(int code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int msgPrint(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int msgText(int code, const char* text);
int msgPrintText(const char* text);

// Writes text to standard output and flushes it, under g_libLock; inside an
// LStdoutBatch the text is collected instead. False when the write failed
// (errno set).
bool writeStdout(const char* text);
bool writeStdout(const char* text, int n);
void printStdout(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// One unit of standard output written with one system call. While the
// outermost batch lives, writeStdout appends to one buffer, and flush() (or the
// end of the batch) writes everything collected at once; a large piece goes out
// at once together with what was collected before it, so nothing is copied
// twice and the order stays. A batch holds g_libLock for its whole life, so
// the output of other threads cannot come between its pieces. Keep batches
// short: nothing collected is visible until the batch ends.
class LStdoutBatch {
public:
    LStdoutBatch();
    ~LStdoutBatch();
    LStdoutBatch(const LStdoutBatch&) = delete;
    LStdoutBatch& operator=(const LStdoutBatch&) = delete;

    // The outermost batch writes what has been collected so far; an inner one
    // does nothing. False when a write of this batch failed (errno set).
    bool flush();
    // True for the outermost batch of the thread.
    bool outermost() const { return outermost_; }

private:
    bool outermost_;
};

// Sets the calling thread's open batches aside for its lifetime, so that
// g_libLock can be released inside them: writes out what they have collected
// (with one system call), after which output of any thread goes straight to
// standard output again; at its end later pieces join the batches as before.
// Holds g_libLock (one level) for its whole life, like a batch. Does nothing
// more when no batch is open.
class LStdoutBatchPause {
public:
    LStdoutBatchPause();
    ~LStdoutBatchPause();
    LStdoutBatchPause(const LStdoutBatchPause&) = delete;
    LStdoutBatchPause& operator=(const LStdoutBatchPause&) = delete;

    // False when writing out the collected text failed (errno set then); the
    // outermost batch reports that failure again when it ends.
    bool written() const { return written_; }

private:
    int depth_;
    bool failed_;
    int failedErrno_;
    bool written_ = true;
};

// True while the calling thread, which holds g_libLock, has a batch open.
bool inStdoutBatch();

// Writes "Internal Error: " and the text and "\n" straight to standard output and
// ends the process with exit code 2 (exit handlers still run).
[[noreturn]] void internalError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void internalErrorCode(int n);
// True once a fatal exit has begun (exit handlers skip libShutdown then).
bool inFatalExit();

// The system's text for error number err (errno; 0: the current errno), without
// line ends; "(no message)" when the system has none.
LString winErrorText(int err = 0);
// "errno=%d: %s" with e (0: the current errno) and its text.
LString errnoText(int e = 0);

// ---- positions ----

class LPos : public LObj {
public:
    ~LPos() override = default;
    virtual LPos* clone() const { return nullptr; }
    virtual void toText(LString& out) const = 0;
    virtual const char* name() const { return ""; }
    virtual int number(int which) const { (void)which; return 0; }
    virtual void set(const char* name, int number) { (void)name; (void)number; }
    virtual void setName(const char* name) { (void)name; }
    virtual void setNumber(int n) { (void)n; }
    virtual void setOffset(int n) { (void)n; }
};

// A name and a number: format (default "%s(%d)") of the name and number + offset;
// the bare name when the number is INT32_MIN. numberRef, when set, refreshes the
// number before every read.
class LNnPos : public LPos {
public:
    LNnPos(const char* name, int number, const int* numberRef = nullptr);
    LPos* clone() const override;
    void toText(LString& out) const override;
    const char* name() const override { return name_.data(); }
    int number(int which) const override;
    void set(const char* name, int number) override;
    void setName(const char* name) override { name_.assign(name); }
    void setNumber(int n) override { number_ = n; }
    void setOffset(int n) override { offset_ = n; }

private:
    LString name_;
    int number_;
    const int* numberRef_;
    int offset_ = 0;
    const char* format_ = "%s(%d)";
};

// A place in a stream: the name and "(%d)" with the stream's line number plus
// lineOffset; its column is the distance from the last line feed (-1 if none).
class LSrmPos : public LPos {
public:
    LSrmPos(LStream* stream, const char* name, int lineOffset);
    void toText(LString& out) const override;
    const char* name() const override { return name_.data(); }
    int number(int which) const override;
    void setName(const char* name) override { name_.assign(name); }
    void setOffset(int n) override { lineOffset_ = n; }

private:
    LString name_;
    LStream* stream_;
    int lineOffset_;
};

void pushPos(LPos* p);  // the stack owns p
void popPos(bool destroy = true);
LPos* topPos();
void pushNnPos(const char* name, int number);
void pushNnPosRef(const char* name, const int* number);
void pushSrmPos(LStream* s, const char* name, int lineOffset);
LString currentPosText();

// ---- shutdown ----

// Registers a function for libShutdown (called in registration order).
void atLibExit(void (*fn)());
// Runs the atLibExit functions, then msgShutdown.
void libShutdown();
// Destroys g_msg (closing its message file) and the position stack.
void msgShutdown();

template <class... Args>
int msg(TextOf<Args...> text, Args... args) {
    return msgOf(text.id, args...);
}

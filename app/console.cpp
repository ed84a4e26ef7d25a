// Console output: the sink, colours, system messages and name lists.
//
// Every coloured piece is one sequence under g_libLock (colour, text, colour 7),
// so output of different threads never mixes colours. Such a sequence is a
// ConsoleOutput: its pieces, colour changes included, are collected and
// written with one system call at its end.
//
// A failing colour change is reported (17000) at most once until a colour
// change succeeds again, and never while such a report is being written: the
// report itself goes through TMsg::output, which changes the colour too, and
// without this rule a broken terminal would make the two call each other
// without end. The flag is only read and written under g_libLock.
#include "app/console.h"

#include <cstdarg>
#include <cstring>

#include "app/settings.h"
#include "base/lock.h"
#include "base/platform/console.h"
#include "base/platform/terminal.h"
#include "base/stream.h"

namespace {
// Under g_libLock: a colour failure has been reported and no change has
// succeeded since; or a colour failure report is being written right now.
bool g_colorFailureReported = false;
bool g_reportingColorFailure = false;
// Under g_libLock: the outermost ConsoleOutput holds a colour change that has
// not been written yet.
bool g_pendingColor = false;

// The outcome of writing a colour change: a failure is reported once until a
// change succeeds again, and never from inside its own report.
void colorWritten(bool ok) {
    if (ok) {
        g_colorFailureReported = false;
        return;
    }
    if (g_colorFailureReported) return;
    g_colorFailureReported = true;
    g_reportingColorFailure = true;
    msg(Tx::colorFailed);
    g_reportingColorFailure = false;
}
}  // namespace

ConsoleOutput::ConsoleOutput() = default;

ConsoleOutput::~ConsoleOutput() {
    if (!batch_.outermost()) return;
    const bool colored = g_pendingColor;
    g_pendingColor = false;
    const bool ok = batch_.flush();
    if (colored) colorWritten(ok);
}

ConsoleOutputPause::ConsoleOutputPause() {
    if (!g_pendingColor) return;
    g_pendingColor = false;
    colorWritten(pause_.written());
}

void TMsg::output(int code, const char* position, const char* kind, const char* text) {
    LLockGuard guard;
    if (holding()) {
        // Coloured when it is written out.
        LStdoutMsg::output(code, position, kind, text);
        return;
    }
    ConsoleOutput out;
    if (code != 0) setConsoleColor(g_errorMsgColor);
    LStdoutMsg::output(code, position, kind, text);
    if (code != 0) setConsoleColor(7);
    if (msgStream) msgStream->flush();
}

void setConsoleColor(int attribute) {
    LLockGuard guard;
    if (g_reportingColorFailure) return;  // no colour inside that report
    if (!platformStdoutIsTerminal()) {
        g_colorFailureReported = false;  // nothing to write: nothing fails
        return;
    }
    char seq[24];
    const int n = formatSgr(attribute, seq);
    if (inStdoutBatch()) {
        // Inside a ConsoleOutput: written with the rest of it.
        writeStdout(seq, n);
        g_pendingColor = true;
        return;
    }
    colorWritten(writeStdout(seq, n));
}

int echoColor(int c) {
    if (g_inputReverse == 1) c = ((c >> 4) & 7) | ((c & 7) << 4) | (c & 0x88);
    if (g_inputHighlight == 1) c |= 8;
    return c;
}

void systemMessageOf(Tx id, ...) {
    if (g_systemMsgColor == 0) return;
    LString text;
    va_list args;
    va_start(args, id);
    text.appendFormatV(tr(id), args);
    va_end(args);
    systemMessageText(text.data());
}

void systemMessageText(const char* text) {
    const int color = g_systemMsgColor;
    if (color == 0) return;
    printColoredParts(nullptr, color, text, "\r\n");
}

void printNameList(const char* head, const LStrList& names, const char* tail) {
    if (names.empty()) return;
    LString text(head);
    for (int i = 0; i < names.count(); ++i) {
        if (i > 0) text.append(",");
        text.append(names[i]);
    }
    text.append(tail);
    msgPrintText(text.data());
}

void printColored(int attribute, const char* text, int n) {
    ConsoleOutput out;
    setConsoleColor(attribute);
    if (n < 0) {
        msgPrintText(text);
    } else {
        const LString copy(text, n);
        msgPrintText(copy.data());
    }
    setConsoleColor(7);
}

JoinedText::JoinedText(std::initializer_list<const char*> parts) {
    size_t n = 0;
    for (const char* part : parts) {
        const size_t len = std::strlen(part);
        if (!large_ && n + len < sizeof small_) {
            std::memcpy(small_ + n, part, len);
            n += len;
            continue;
        }
        if (!large_) large_.emplace(small_, static_cast<int>(n));
        large_->append(part, static_cast<int>(len));
    }
    small_[large_ ? 0 : n] = 0;
}

void printColoredParts(const char* head, int attribute, const char* text, const char* tail) {
    ConsoleOutput out;
    if (platformStdoutIsTerminal()) {
        if (head) msgPrintText(head);
        setConsoleColor(attribute);
        msgPrintText(text);
        setConsoleColor(7);
        if (tail) msgPrintText(tail);
        return;
    }
    // The colour changes write nothing here (they are still made, for their
    // failure bookkeeping), so the parts can go out as one report.
    setConsoleColor(attribute);
    setConsoleColor(7);
    const JoinedText all{head ? head : "", text, tail ? tail : ""};
    msgPrintText(all.data());
}

void clearScreen() {
    LLockGuard guard;
    terminalClear();
}

// Message reporting: the sinks, the reporting functions, the system's error
// texts, the position stack, the language switch and the library shutdown.
//
// Every report runs under g_libLock from the moment its position is taken until
// its text is written, so reports of different threads never interleave. The
// lock is re-entrant, which the nested report of a message file that cannot be
// opened relies on. errno is read first thing in every reporting function, so
// that the 17000/37000 suffix names the caller's failure. Standard output can be
// collected in batches (LStdoutBatch), so that one unit of output made of
// several pieces costs one system call.
#include "base/msg.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "base/block.h"
#include "base/larray.h"
#include "base/lock.h"
#include "base/platform/console.h"
#include "base/platform/process.h"
#include "base/stream.h"

LMsg* g_msg = nullptr;

namespace {

std::atomic<bool> g_fatalExit{false};

[[noreturn]] void fatalExit() {
    g_fatalExit = true;
    platformExit(2);
}

// The current sink, creating the default one; the caller holds g_libLock.
LMsg* currentSink() {
    if (!g_msg) g_msg = new LMsg(0);  // owned by the library until msgShutdown
    return g_msg;
}

const char* kindOf(int code) {
    if (code >= 1 && code <= 19999) return tr(Tx::kindError);
    if (code >= 20000 && code <= 39998) return tr(Tx::kindWarning);
    if (code >= 39999) return tr(Tx::kindNote);
    return tr(Tx::kindMessage);
}

LString systemText(int err) {
    char buf[512];
    if (!platformErrorText(err, buf, sizeof buf)) return LString(tr(Tx::noSystemText));
    LString text(buf);
    text.replaceAll("\r\n", "");
    return text;
}

LString errnoTextOf(int e) {
    char buf[512];
    if (!platformErrorText(e, buf, sizeof buf)) {
        const LString text = textf(Tx::unknownErrno, e);
        return textf(Tx::errnoText, e, text.data());
    }
    return textf(Tx::errnoText, e, static_cast<const char*>(buf));
}

int reportWith(int code, const char* fmt, va_list args, int savedErrno) {
    LString text;
    text.appendFormatV(fmt, args);
    LLockGuard guard;
    LMsg* sink = currentSink();
    platformSetErrno(savedErrno);
    return sink->report(code, text.data());
}

// ---- the position stack (guarded by g_libLock) ----

LOwnedArray<LPos>*& posStack() {
    static LOwnedArray<LPos>* stack = nullptr;
    return stack;
}

// ---- atLibExit functions (guarded by g_libLock) ----

// Trivially destructible on purpose. A function-local static with a destructor
// that is first used after main() has registered its exit handler (a table
// built while the arguments are filtered, say) would be destroyed before that
// handler runs libShutdown, which would then read a freed list.
struct ExitFunctions {
    static constexpr int kMax = 64;
    void (*fn[kMax])();
    int count;
};
constinit ExitFunctions g_exitFunctions{};

bool g_brokenPipeIgnored = false;  // guarded by g_libLock

// The open stdout batches (guarded by g_libLock, whose holder is the only
// thread that can have batches open).
struct StdoutBatchState {
    int depth = 0;
    bool failed = false;  // a write of the current outermost batch failed
    int failedErrno = 0;
};
StdoutBatchState g_batch;

// Pieces at least this long are not copied into the batch: they go out at once
// with what was collected before them.
constexpr int kBatchDirect = 16 * 1024;

// The collected text. Never destroyed: exit handlers may still print.
std::string& batchText() {
    static std::string* const text = new std::string;
    return *text;
}

// Writes the collected text, followed by more (may be null); under g_libLock.
bool writeCollected(const char* more, int n) {
    std::string& text = batchText();
    const bool ok = platformWriteStdout2(text.data(), static_cast<int>(text.size()), more, n);
    text.clear();
    if (!ok && !g_batch.failed) {
        g_batch.failed = true;
        g_batch.failedErrno = platformErrno();
    }
    return ok;
}

void ignoreBrokenPipeOnce() {
    if (!g_brokenPipeIgnored) {
        platformIgnoreBrokenPipe();
        g_brokenPipeIgnored = true;
    }
}

// The last steps of LMsg::report: the position, the kind, the sink's output and
// a fatal exit. other is the text in the other language, or null. Under
// g_libLock.
void outputTo(LMsg& sink, int code, const char* position, const char* text, const char* other) {
    if (other)
        sink.outputBilingual(code, position, kindOf(code), text, other);
    else
        sink.output(code, position, kindOf(code), text);
}

int deliverReport(LMsg& sink, int code, const char* text, const char* other) {
    // Most reports are plain output without a position: no string is made for them.
    if (LPos* top = topPos()) {
        LString position;
        top->toText(position);
        outputTo(sink, code, position.empty() ? nullptr : position.data(), text, other);
    } else {
        outputTo(sink, code, nullptr, text, other);
    }
    if (sink.fatal && code >= 10000 && code <= 19998) fatalExit();
    return 0;
}
}  // namespace

// ---- LMsg ----

void LMsg::output(int code, const char* position, const char* kind, const char* text) {
    LString line;
    if (position) line.appendFormat("%s: ", position);
    line.appendFormat("%s %d: ", kind, code);
    line.append(text);
    if (code > 0) line.append("\n");
    writeStdout(line.data(), line.len());
}

void LMsg::outputBilingual(int code, const char* position, const char* kind, const char* text, const char*) {
    output(code, position, kind, text);
}

int LMsg::report(int code, const char* text) { return report(code, text, nullptr); }

int LMsg::report(int code, const char* text, const char* other) {
    const int err = platformErrno();
    LLockGuard guard;
    if (code == 17000 || code == 37000 || code == 17100 || code == 37100) {
        const LString suffix = code % 1000 == 0 ? systemText(err) : errnoTextOf(err);
        LString work(text);
        work.append(": ");
        work.append(suffix);
        LString otherWork;
        if (other) {
            otherWork.assign(other);
            otherWork.append(": ");
            otherWork.append(suffix);
        }
        return deliverReport(*this, code, work.data(), other ? otherWork.data() : nullptr);
    }
    // Plain output passes through without a copy: it is most of what is printed.
    return deliverReport(*this, code, text, other);
}

int LMsg::reportf(int code, const char* fmt, ...) {
    const int err = platformErrno();
    LString text;
    va_list args;
    va_start(args, fmt);
    text.appendFormatV(fmt, args);
    va_end(args);
    platformSetErrno(err);
    return report(code, text.data());
}

// ---- LStdoutMsg ----

LStdoutMsg::LStdoutMsg(int fatal) : LMsg(fatal) {}

LStdoutMsg::~LStdoutMsg() {
    // Reports still held (a run that ended before its options were read) are
    // written now, without what a derived sink would have added.
    if (holding_) releaseHeld();
    if (msgStream) {
        msgStream.reset();  // flushes and closes the file
        return;
    }
    // This run wrote no report. A file that could not be opened is left alone:
    // it may be another writer's message file.
    if (!msgFile || openFailed_) return;
    const int64_t size = fileSize(msgFile);
    if (msgFileAppend ? size == 0 : size >= 0) removeUnlockedFile(msgFile);
}

LIoFile* LStdoutMsg::messageFile() {
    if (!msgFile) return nullptr;
    if (msgStream) return msgStream.get();
    auto file = std::make_unique<LIoFile>(msgFile, msgFileAppend ? 'a' : 'w', false);
    if (file->isOpen()) {
        msgStream = std::move(file);
        return msgStream.get();
    }
    // The closed stream stays in place during the nested report, so that the
    // report does not try to open the file again; the next report retries.
    openFailed_ = true;
    msgStream = std::move(file);
    report(entryOf(Tx::cannotOpenMessageFile).code, textf(Tx::cannotOpenMessageFile, msgFile).data());
    msgStream.reset();
    return nullptr;
}

void LStdoutMsg::output(int code, const char* position, const char* kind, const char* text) {
    LLockGuard guard;
    if (holding_) {
        held_.push_back({code, position != nullptr, position ? position : "", kind ? kind : "", text, text});
        return;
    }
    if (code < 1) {
        // Plain output: the text as it is.
        const int n = static_cast<int>(std::strlen(text));
        if (consoleLevel == 0) writeStdout(text, n);
        if (LIoFile* file = messageFile()) file->writeText(text, n);
        return;
    }
    LString line;
    if (position) line.appendFormat("%s: ", position);
    line.appendFormat("%s %d: ", kind, code);
    line.append(text);
    line.append("\n");
    if (consoleLevel == 0 || (consoleLevel < 2 && code <= 19999)) writeStdout(line.data(), line.len());
    if (LIoFile* file = messageFile()) file->writeText(line);
}

void LStdoutMsg::outputBilingual(int code, const char* position, const char* kind, const char* text,
                                 const char* other) {
    LLockGuard guard;
    if (!holding_) {
        output(code, position, kind, text);
        return;
    }
    const bool japanese = g_language == 'J';
    held_.push_back({code, position != nullptr, position ? position : "", kind ? kind : "",
                     japanese ? text : other, japanese ? other : text});
}

bool LStdoutMsg::holdsReports() const {
    LLockGuard guard;
    return holding_;
}

void LStdoutMsg::holdReports() {
    LLockGuard guard;
    holding_ = true;
}

void LStdoutMsg::releaseHeld() {
    LLockGuard guard;
    holding_ = false;
    // A report made while these are written (the message file cannot be
    // opened, say) comes after them.
    std::vector<Held> held;
    held.swap(held_);
    for (const Held& h : held) {
        const std::string& text = g_language == 'J' ? h.japanese : h.english;
        output(h.code, h.hasPosition ? h.position.c_str() : nullptr, h.kind.c_str(), text.c_str());
    }
}

void installMsg(LMsg* sink) {
    LLockGuard guard;
    if (sink == g_msg) return;
    LMsg* old = g_msg;
    g_msg = sink;
    delete old;
}

// ---- reporting ----

int msg(int code, const char* fmt, ...) {
    const int err = platformErrno();
    va_list args;
    va_start(args, fmt);
    const int r = reportWith(code, fmt, args, err);
    va_end(args);
    return r;
}

int msgOf(Tx id, ...) {
    const int err = platformErrno();
    va_list args;
    va_start(args, id);
    va_list again;
    va_copy(again, args);
    LString text;
    text.appendFormatV(tr(id), args);
    va_end(args);
    LLockGuard guard;
    LMsg* sink = currentSink();
    // Held reports wait for the language; formatting twice is for them only.
    std::optional<LString> other;
    if (sink->holdsReports()) {
        other.emplace();
        other->appendFormatV(trOther(id), again);
    }
    va_end(again);
    platformSetErrno(err);
    return sink->report(entryOf(id).code, text.data(), other ? other->data() : nullptr);
}

int msgPrint(const char* fmt, ...) {
    const int err = platformErrno();
    va_list args;
    va_start(args, fmt);
    const int r = reportWith(0, fmt, args, err);
    va_end(args);
    return r;
}

int msgText(int code, const char* text) {
    const int err = platformErrno();
    LLockGuard guard;
    LMsg* sink = currentSink();
    platformSetErrno(err);
    return sink->report(code, text ? text : "");
}

int msgPrintText(const char* text) { return msgText(0, text); }

bool writeStdout(const char* text) {
    return text ? writeStdout(text, static_cast<int>(std::strlen(text))) : true;
}

bool writeStdout(const char* text, int n) {
    if (!text || n <= 0) return true;
    LLockGuard guard;
    ignoreBrokenPipeOnce();
    if (g_batch.depth == 0) return platformWriteStdout(text, n);
    if (n >= kBatchDirect) return writeCollected(text, n);
    batchText().append(text, static_cast<size_t>(n));
    return true;
}

void printStdout(const char* fmt, ...) {
    LString text;
    va_list args;
    va_start(args, fmt);
    text.appendFormatV(fmt, args);
    va_end(args);
    writeStdout(text.data(), text.len());
}

LStdoutBatch::LStdoutBatch() {
    g_libLock.lock();
    outermost_ = g_batch.depth++ == 0;
    if (outermost_) g_batch.failed = false;
}

LStdoutBatch::~LStdoutBatch() {
    flush();
    --g_batch.depth;
    g_libLock.unlock();
}

LStdoutBatchPause::LStdoutBatchPause() {
    g_libLock.lock();
    depth_ = g_batch.depth;
    if (depth_ > 0 && !batchText().empty()) written_ = writeCollected(nullptr, 0);
    if (!written_) platformSetErrno(g_batch.failedErrno);
    failed_ = g_batch.failed;
    failedErrno_ = g_batch.failedErrno;
    g_batch.depth = 0;
    g_batch.failed = false;
}

LStdoutBatchPause::~LStdoutBatchPause() {
    g_batch.depth = depth_;
    g_batch.failed = failed_;
    g_batch.failedErrno = failedErrno_;
    g_libLock.unlock();
}

bool inStdoutBatch() {
    LLockGuard guard;
    return g_batch.depth > 0;
}

bool LStdoutBatch::flush() {
    if (!outermost_) return true;
    if (!batchText().empty()) writeCollected(nullptr, 0);
    if (!g_batch.failed) return true;
    g_batch.failed = false;
    platformSetErrno(g_batch.failedErrno);
    return false;
}

void internalError(const char* fmt, ...) {
    // No allocation here: the allocator itself may be what failed.
    char text[2048];
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    static const char kPrefix[] = "Internal Error: ";
    platformWriteStdout(kPrefix, static_cast<int>(sizeof kPrefix - 1));
    if (n > 0) platformWriteStdout(text, n < static_cast<int>(sizeof text) ? n : static_cast<int>(sizeof text) - 1);
    platformWriteStdout("\n", 1);
    fatalExit();
}

void internalErrorCode(int n) { internalError("%d", n); }

bool inFatalExit() { return g_fatalExit; }

LString winErrorText(int err) { return systemText(err ? err : platformErrno()); }

LString errnoText(int e) { return errnoTextOf(e ? e : platformErrno()); }

// ---- positions ----

LNnPos::LNnPos(const char* name, int number, const int* numberRef)
    : name_(name), number_(number), numberRef_(numberRef) {}

LPos* LNnPos::clone() const {
    auto copy = std::make_unique<LNnPos>(name_.data(), number_, numberRef_);
    copy->offset_ = offset_;
    copy->format_ = format_;
    return copy.release();  // the caller owns the copy
}

void LNnPos::toText(LString& out) const {
    const int n = numberRef_ ? *numberRef_ : number_;
    if (n == INT_MIN) {
        out.append(name_);
        return;
    }
    out.appendFormat(format_, name_.data(), static_cast<int>(static_cast<unsigned>(n) + static_cast<unsigned>(offset_)));
}

int LNnPos::number(int which) const {
    if (which != 0) return 0;
    return numberRef_ ? *numberRef_ : number_;
}

void LNnPos::set(const char* name, int number) {
    name_.assign(name);
    number_ = number;
}

LSrmPos::LSrmPos(LStream* stream, const char* name, int lineOffset)
    : name_(name ? name : (stream ? stream->name() : "")), stream_(stream), lineOffset_(lineOffset) {}

namespace {
const LSrmBase* bufferedOf(LStream* s) { return dynamic_cast<const LSrmBase*>(s); }
}  // namespace

void LSrmPos::toText(LString& out) const {
    const LSrmBase* s = bufferedOf(stream_);
    out.append(name_);
    out.appendFormat("(%d)", (s ? s->lineNumber() : 0) + lineOffset_);
}

int LSrmPos::number(int which) const {
    const LSrmBase* s = bufferedOf(stream_);
    if (!s) return which == 1 ? -1 : 0;
    if (which == 0) return s->lineNumber();
    if (which == 1) return s->column();
    return 0;
}

void pushPos(LPos* p) {
    std::unique_ptr<LPos> owned(p);
    if (!owned) return;
    LLockGuard guard;
    LOwnedArray<LPos>*& stack = posStack();
    if (!stack) stack = new (blockAlloc(sizeof(LOwnedArray<LPos>))) LOwnedArray<LPos>();
    stack->add(std::move(owned));
}

void popPos(bool destroy) {
    LLockGuard guard;
    LOwnedArray<LPos>* stack = posStack();
    if (!stack || stack->empty()) return;
    std::unique_ptr<LPos> top = stack->takeAt(stack->count() - 1);
    if (!destroy) (void)top.release();  // the caller keeps its own pointer to it
}

LPos* topPos() {
    LLockGuard guard;
    LOwnedArray<LPos>* stack = posStack();
    return stack ? stack->last() : nullptr;
}

void pushNnPos(const char* name, int number) { pushPos(std::make_unique<LNnPos>(name, number).release()); }

void pushNnPosRef(const char* name, const int* number) {
    pushPos(std::make_unique<LNnPos>(name, 0, number).release());
}

void pushSrmPos(LStream* s, const char* name, int lineOffset) {
    pushPos(std::make_unique<LSrmPos>(s, name, lineOffset).release());
}

LString currentPosText() {
    LString text;
    LLockGuard guard;
    if (LPos* top = topPos()) top->toText(text);
    return text;
}

// ---- shutdown ----

void atLibExit(void (*fn)()) {
    if (!fn) return;
    LLockGuard guard;
    if (g_exitFunctions.count == ExitFunctions::kMax) internalError("too many exit functions");
    g_exitFunctions.fn[g_exitFunctions.count++] = fn;
}

void libShutdown() {
    // Taken out under the lock and run without it; a function registered
    // meanwhile runs in the next shutdown.
    ExitFunctions functions;
    {
        LLockGuard guard;
        functions = g_exitFunctions;
        g_exitFunctions.count = 0;
    }
    for (int i = 0; i < functions.count; ++i) functions.fn[i]();
    msgShutdown();
}

void msgShutdown() {
    LLockGuard guard;
    // A report made while the sink is destroyed installs a fresh default sink;
    // that one goes too.
    while (LMsg* sink = g_msg) {
        g_msg = nullptr;
        delete sink;
    }
    LOwnedArray<LPos>*& stack = posStack();
    if (stack) {
        LOwnedArray<LPos>* old = stack;
        stack = nullptr;
        old->~LOwnedArray<LPos>();
        blockFree(old);
    }
}

// Connections: TSocket, the connection list, opening and closing, and the
// receive and send paths.
//
// Ownership: a TSocket is created by the main thread and, once its thread runs,
// belongs to that thread, which deletes it after the single kFdClose. Its
// destructor leaves g_connections under g_libLock, so any thread that holds the
// lock and finds a connection in the list may use it until it releases the
// lock; a pointer kept beyond that is checked again (liveConnection) before use.
//
// Opening never waits: the connection is listed at once and its own thread
// connects it. Until then it is "connecting" and lines wait in its queue; a
// failed connect reports the lines that waited (onConnectFailed), and the
// connection leaves the list without a close notice, having never opened.
//
// Sending keeps the order of lines: a line goes out at once only when the
// connection is writable and nothing waits before it (no queued line, no unsent
// rest of an earlier line, no line being sent by the connection thread);
// otherwise it queues. The rest of a line that goes out short is kept at the
// head of the queue and sent first on the next kFdWrite.
//
// The send system call runs with g_libLock released, also when the main thread
// sends at once from deep inside held locks: a loopback send runs the peer's
// receive and wakes it, and the connection threads that want to show what they
// received must not wait for the lock meanwhile. Before the release, the echo,
// the send message and the log entry of the line are out; during it, the send
// is marked (draining, and SendInProgress for the socket's life).
#include "app/connection.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>

#include "app/args.h"
#include "app/commands.h"
#include "app/console.h"
#include "app/deadlines.h"
#include "app/input.h"
#include "app/logfiles.h"
#include "app/mainloop.h"
#include "app/outcomes.h"
#include "app/program.h"
#include "app/scheduler.h"
#include "app/settings.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/text.h"
#include "rex/rex.h"

LPtrArray<TSocket> g_connections;

namespace {
int g_connectionCounter = 1;  // number of the next default name; main thread
int g_colorIndex = -1;        // index into g_colorList of the last colour given
std::atomic<uint64_t> g_nextConnectionId{1};
// The listed connections by id, so that the scheduler's check of its
// connection before every line costs the same for ten connections or 10,000.
// Under g_libLock.
std::unordered_map<uint64_t, TSocket*> g_connectionsById;

int nextAutomaticColor() {
    const int n = g_colorList.count();
    if (n == 0) return 7;
    if (++g_colorIndex >= n) g_colorIndex = 0;
    return static_cast<int>(g_colorList[g_colorIndex]);
}
}  // namespace

void printConnectionNoticeOf(Tx notice, const TSocket* c, ...) {
    // The label is the last conversion (printConnectionNotice's check makes
    // sure there is one): what comes before it is formatted with the
    // arguments, what comes after it is text.
    const char* const text = tr(notice);
    FormatConversion label;
    for (FormatConversion k = nextConversion(text, 0); k.start >= 0; k = nextConversion(text, k.end)) label = k;
    // Short enough to stay off the heap: notices are printed for every atom.
    const std::string headFormat(text, static_cast<size_t>(label.start));
    va_list args;
    va_start(args, c);
    const TextBuffer head(headFormat.c_str(), args);
    va_end(args);
    const TextBuffer name(Tx::connectionLabel, c->name.data());
    printColoredParts(head.data(), c->color, name.data(), text + label.end);
}

namespace {
// The tail of a notice whose label is its first conversion, formatted with
// the arguments after the label.
void printLabelFirstNotice(Tx notice, const TSocket* c, ...) {
    const char* const text = tr(notice);
    const FormatConversion label = nextConversion(text, 0);
    const std::string head(text, static_cast<size_t>(label.start));
    const TextBuffer name(Tx::connectionLabel, c->name.data());
    va_list args;
    va_start(args, c);
    const TextBuffer tail(text + label.end, args);
    va_end(args);
    printColoredParts(head.c_str(), c->color, name.data(), tail.data());
}
}  // namespace

void printConnectionNoticeWith(TextOf<const char*, const char*> notice, const TSocket* c, const char* detail) {
    // The label is the first conversion, the detail the one after it (the
    // check of notice makes sure of both).
    printLabelFirstNotice(notice.id, c, detail);
}

TSocket::TSocket(int c) : id(g_nextConnectionId++) {
    name = LString::format("C%d", g_connectionCounter++);
    color = c > 0 ? c : nextAutomaticColor();
}

TSocket::~TSocket() {
    LLockGuard guard;
    removeConnection(this);
    atomConnectionClosed(this);  // when no close event has ended it
    // The main loop resumes what waited for this connection (an atom held back
    // by !!wait, the end of the run). Under the lock: once the main loop sees
    // the list empty it may release its event.
    connectionLeft();
    // endMarker, the queue and the lists go with the members; the log files
    // themselves belong to g_logFiles.
}

// ---- the receive and send paths (connection thread) ----

void TSocket::onNetworkEvents(const NSocket::NetworkEvents& events) {
    if (events.mask & NSocket::kFdConnect) {
        const int err = events.errors[NSocket::kFdConnectBit];
        if (err == 0)
            onConnected();
        else
            onConnectFailed(err);
    }
    if (events.mask & NSocket::kFdRead) receive();
    if (events.mask & NSocket::kFdWrite) {
        {
            LLockGuard guard;
            flags |= kWritable;
        }
        drainQueue();
    }
    if (events.mask & NSocket::kFdClose) onClosed();
}

void TSocket::onConnected() {
    {
        LLockGuard guard;
        flags &= ~kConnecting;
    }
    writeSysLog(Tx::eventConnectionOpened, name.data());
    // It may take an atom now: the main loop runs a pass.
    wakeMainLoop();
}

void TSocket::onConnectFailed(int err) {
    // The failure itself has been reported by the socket layer. What waited for
    // the connection is reported once: the first line as a line that cannot be
    // sent, then how many there were. A connect that !close or the end of the
    // run cancelled ends with the close notice; one that failed never opened.
    connectFailed_ = err != ECANCELED;
    if (connectFailed_) noteRunFailure();  // the exit status tells
    LLockGuard guard;
    flags |= kConnectFailed;
    const int waiting = sendQueue.count();
    if (waiting > 0) msg(Tx::lineNotSent, displayText(*sendQueue[0]).data());
    if (waiting > 1) systemMessage(Tx::linesNotSent, waiting, name.data());
    sendQueue.clear();
}

void TSocket::onClosed() {
    if (connectFailed_) return;  // it never opened
    // Data the telnet filter still held back (a 0xFF that ended the last piece).
    const LString rest = telnet.finish();
    showReceived(rest.data(), rest.len());
    LLockGuard guard;
    flags &= ~kWritable;
    // A program's connection says how the program ended.
    if (const LString how = programEnd(); !how.empty()) {
        printConnectionNoticeWith(Tx::connectionEndedNotice, this, how.data());
        writeSysLog(Tx::eventConnectionEnded, name.data(), how.data());
    } else {
        printConnectionNotice(Tx::connectionClosedNotice, this);
        writeSysLog(Tx::eventConnectionClosed, name.data());
    }
    // Lines still queued go with the object; a running atom fails.
    atomConnectionClosed(this);
}

void TSocket::receive() {
    // One buffer per connection, kept between pieces: a streaming server then
    // costs no allocation per piece, and a quiet one keeps its buffer small.
    received_.truncate(0);
    if (receiveAll(received_, g_receivePause) <= 0) return;
    // Telnet commands leave the piece here; what remains is the server's data.
    telnet.receive(received_, replies_);
    serverEcho.store(telnet.active() && telnet.remoteEnabled(TelnetFilter::kEcho), std::memory_order_relaxed);
    if (!replies_.empty()) sendReplies();
    showReceived(received_.data(), received_.len());
}

void TSocket::showReceived(const char* text, int n) {
    if (n <= 0) return;
    CompletionProbe probe;
    {
        // One hold of g_libLock for the console, the log files and what the
        // completion check needs to know: a piece waits for the lock once.
        LLockGuard guard;
        {
            // The console shows every byte but NUL (telnet servers send CR
            // NUL); log files and the completion check get the bytes as they came.
            ConsoleOutput out;
            setConsoleColor(color);
            if (std::memchr(text, 0, static_cast<size_t>(n)) == nullptr) {
                msgPrintText(text);
            } else {
                LString shown;
                shown.reserve(n);
                for (const char* p = text; p < text + n;) {
                    const char* nul = static_cast<const char*>(std::memchr(p, 0, static_cast<size_t>(text + n - p)));
                    const char* end = nul != nullptr ? nul : text + n;
                    shown.append(p, static_cast<int>(end - p));
                    p = nul != nullptr ? nul + 1 : end;
                }
                msgPrintText(shown.data());
            }
            setConsoleColor(7);
        }
        logReceived(this, text, n);
        countReceived(this, n);
        probe = probeCompletion(this);
        noteReceived(text, n);
    }
    // The search runs without the lock: a slow pattern holds up only this
    // connection.
    if (searchForCompletion(this, probe, text, n)) wakeForPass(this);
}

void TSocket::sendReplies() {
    LLockGuard guard;
    if (!(flags & kWritable) || draining || !unsentRest.empty()) {
        // Something goes out before them: they follow it on the next kFdWrite.
        unsentRest.append(replies_);
        replies_.truncate(0);
        requestWritable();
        return;
    }
    // As a line sent at once: a line handed over meanwhile queues behind them.
    draining = true;
    const LString replies = std::move(replies_);
    replies_.clear();
    transmit(replies.data(), replies.len());
    draining = false;
    if (!sendQueue.empty()) requestWritable();
}

void TSocket::drainQueue() {
    bool mine = false;  // draining was set by this call
    for (;;) {
        std::unique_ptr<LineRecord> line;
        LString rest;
        {
            LLockGuard guard;
            // A direct send of the main thread runs: it asks for kFdWrite again
            // when it leaves anything behind.
            if (draining && !mine) return;
            if (!(flags & kWritable) || (unsentRest.empty() && sendQueue.empty())) {
                draining = false;
                return;
            }
            if (!unsentRest.empty()) {
                rest = std::move(unsentRest);
                unsentRest.clear();
            } else {
                line = sendQueue.takeAt(0);
            }
            draining = true;
            mine = true;
        }
        if (line)
            sendLine(*line);
        else
            transmit(rest.data(), rest.len());
    }
}

void TSocket::transmit(const char* bytes, int n) {
    LLockGuard guard;
    // The socket stays open and the object alive while the lock is released.
    const SendInProgress sending(*this);
    int left = 0;
    if (sending.active()) {
        // What this thread has collected for the console is written before the
        // bytes leave: an answer shown by the connection thread comes after it.
        const ConsoleOutputPause shown;
        // The peer's receive runs inside a loopback send: the connection
        // threads must not wait for the lock meanwhile.
        const LLockRelease release;
        left = sendSome(bytes, n);
    } else {
        // Closed already (the thread may be ending and needs only the lock to
        // free the object): the send fails at once, under the lock.
        left = sendSome(bytes, n);
    }
    if (left > 0) {
        // Telnet answers put behind this send while the lock was released stay behind it.
        unsentRest.insert(bytes + (n - left), 0, left);
        flags &= ~kWritable;
        // Only now: the kFdWrite it brings must find the rest recorded.
        requestWritable();
    }
}

void TSocket::sendLine(const LineRecord& line) {
    const LString& text = line.text();
    if (line.fromFile() && g_inputShow && !line.secret)
        printColoredParts(nullptr, echoColor(color), text.data(), "\r\n");
    if (line.secret)
        logSent(this, kSecretShown, static_cast<int>(std::strlen(kSecretShown)));
    else
        logSent(this, text.data(), text.len());
    // The send message comes before the send, so that no answer is shown before it.
    if (g_systemMsgColor != 0) {
        // A text line shows as its text (displayText without a copy).
        std::optional<LString> shown;
        if (line.lowerKind() != 'g' || line.secret) shown = displayText(line);
        const TextBuffer message(Tx::sentTo, name.data(), shown ? shown->data() : text.data());
        systemMessageText(message.data());
    }
    // The line and its line ending in one send.
    const WireLine wire(text.data(), text.len(), eol, telnet.active());
    transmit(wire.data(), wire.len());
}

namespace {
// The prompts that ask for a password, as a device sends them (UTF-8 and
// Shift-JIS for the Japanese one).
constexpr const char* kPasswordPrompts[] = {"assword: ", "\xe3\x83\x91\xe3\x82\xb9\xe3\x83\xaf\xe3\x83\xbc\xe3\x83\x89: ",
                                            "\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68: "};
}  // namespace

void TSocket::noteReceived(const char* text, int n) {
    ++receivedPieces;
    // Only the end matters: whether the connection now waits at a prompt.
    if (n >= kLastReceivedMax) {
        lastReceived.assign(text + n - kLastReceivedMax, kLastReceivedMax);
    } else {
        lastReceived.append(text, n);
        if (lastReceived.len() > kLastReceivedMax) lastReceived.erase(0, lastReceived.len() - kLastReceivedMax);
    }
    if (serverEcho.load(std::memory_order_relaxed) && passwordPromptShown(*this)) notifyPasswordPrompt(this);
}

bool passwordPromptShown(const TSocket& c) {
    if (!c.serverEcho.load(std::memory_order_relaxed)) return false;
    const LString& last = c.lastReceived;
    for (const char* prompt : kPasswordPrompts) {
        const int n = static_cast<int>(std::strlen(prompt));
        if (last.len() >= n && std::memcmp(last.data() + last.len() - n, prompt, static_cast<size_t>(n)) == 0)
            return true;
    }
    return false;
}

// ---- the list ----

TSocket* findConnection(const char* name) {
    LLockGuard guard;
    for (TSocket* c : g_connections)
        if (c->name.equals(name)) return c;
    return nullptr;
}

TSocket* findConnectionById(uint64_t id) {
    LLockGuard guard;
    const auto it = g_connectionsById.find(id);
    return it == g_connectionsById.end() ? nullptr : it->second;
}

void addConnection(TSocket* c) {
    LLockGuard guard;
    g_connections.add(c);
    g_connectionsById[c->id] = c;
}

void removeConnection(TSocket* c) {
    LLockGuard guard;
    if (g_connections.remove(c)) g_connectionsById.erase(c->id);
}

TSocket* currentConnection() {
    LLockGuard guard;
    return g_connections.last();
}

int connectionCount() {
    LLockGuard guard;
    return g_connections.count();
}

TSocket* liveConnection(TSocket* c) {
    LLockGuard guard;
    return c != nullptr && g_connections.indexOf(c) >= 0 ? c : nullptr;
}

bool isConnectionColor(const char* name, int c) {
    if (c >= 0 && c <= 255) return true;
    msg(Tx::invalidConnectionColor, name, c);
    return false;
}

void closeConnection(TSocket* c) { c->close(); }

void closeAllConnections() {
    LLockGuard guard;
    for (TSocket* c : g_connections) c->close();
}

void queueLine(TSocket* c, const LineRecord& line) {
    // Holds g_libLock; the echo and the send message of a line sent at once
    // reach the console with one write.
    ConsoleOutput out;
    if (liveConnection(c) == nullptr || (c->flags & TSocket::kConnectFailed)) {
        msg(Tx::lineNotSent, displayText(line).data());
        return;
    }
    if ((c->flags & TSocket::kWritable) && c->sendQueue.empty() && c->unsentRest.empty() &&
        !c->draining) {
        // The send itself runs with g_libLock released (transmit); draining
        // keeps the connection thread's drain and any later line behind it.
        c->draining = true;
        c->sendLine(line);
        // The lock is held again and c stays listed until it is released: the
        // connection thread cannot delete c while the send is marked (or the
        // lock was kept, its socket being closed already), and afterwards it
        // needs the lock to leave the list.
        c->draining = false;
        // A line queued meanwhile, telnet answers put behind this line, or a
        // drain that stood aside, needs a kFdWrite.
        if (!c->sendQueue.empty() || !c->unsentRest.empty()) c->requestWritable();
        return;
    }
    c->sendQueue.add(line.clone());
    systemMessage(Tx::registerForConnection, c->name.data(), displayText(line).data());
}

// ---- opening ----

bool openConnection(const char* host, const char* name, bool notReady, int color,
                    std::optional<TelnetMode> telnetMode, std::optional<LineEnd> eol) {
    // A program (exec:, ssh://) or a TCP host: checked before the connection
    // takes a number or a colour.
    const bool program = isProgramTarget(host);
    LStrList words;
    int port = 23;
    LString target;
    if (program ? !programWords(host, words) : !splitHostPort(host, target, &port)) return false;
    auto c = std::make_unique<TSocket>(color);
    if (name != nullptr && *name != 0) c->name.assign(name);
    if (notReady) c->flags &= ~TSocket::kReady;
    // A program speaks no telnet, and a terminal's Enter is CR, unless the
    // user says otherwise.
    c->telnet.setMode(telnetMode ? *telnetMode
                      : program  ? TelnetMode::raw
                                 : static_cast<TelnetMode>(g_telnetMode.load()));
    c->eol = eol ? *eol : program ? LineEnd::cr : LineEnd::crlf;
    if (program)
        c->setProgram(std::make_unique<NSocket::LProgram>(words));
    else
        c->setTarget(host, target.data(), port);
    if (!c->prepare(c->name.data())) return false;
    attachLogFiles(c.get());
    // Started and listed under one hold of the lock: the thread cannot end
    // and delete the connection before it is in the list.
    LLockGuard guard;
    if (!c->startEvents()) return false;
    addConnection(c.release());  // from now on it belongs to its thread
    return true;
}

// ---- commands ----

bool readLineEnd(const char*& p, LineEnd& eol) {
    LString word;
    p = nextToken(p, word);
    if (word.empty()) {
        msg(Tx::missingParameter, "eol");
        return false;
    }
    if (!parseLineEnd(word.data(), &eol)) {
        msg(Tx::invalidLineEnd, word.data());
        return false;
    }
    return true;
}

int cmdOpen(CommandContext& ctx) {
    const int64_t openedAt = nowMs();  // the wait is counted from here
    LString host;
    const char* p = nextToken(ctx.args, host);
    LString name;
    bool notReady = false;
    int wait = g_openWait;
    int color = -1;
    std::optional<TelnetMode> telnetMode;
    std::optional<LineEnd> eol;
    for (;;) {
        const char* at = p;
        LString token;
        p = nextToken(p, token);
        if (token.empty()) break;
        if (token.equals("as")) {
            p = nextToken(p, name);
        } else if (token.equals("nr")) {
            notReady = true;
        } else if (token.equals("wait")) {
            LString value;
            p = nextToken(p, value);
            wait = parseInt(value.data());
        } else if (token.equals("color")) {
            LString value;
            p = nextToken(p, value);
            const int c = parseInt(value.data());
            if (isConnectionColor(name.data(), c)) color = c;
        } else if (token.equals("raw")) {
            telnetMode = TelnetMode::raw;
        } else if (token.equals("telnet")) {
            telnetMode = TelnetMode::telnet;
        } else if (token.equals("eol")) {
            LineEnd given = LineEnd::crlf;
            if (readLineEnd(p, given)) eol = given;
        } else {
            warnTrailing(at);
            break;
        }
    }
    if (!name.empty() && findConnection(name.data()) != nullptr) {
        msg(Tx::connectionExists, name.data());
        noteRunFailure();
        return 0;
    }
    // The lines after this one wait (the greeting comes first); everything
    // else goes on, and the connect goes on after the wait when it takes longer.
    if (!openConnection(host.data(), name.data(), notReady, color, telnetMode, eol)) {
        noteRunFailure();
        return 0;
    }
    if (wait > 0) ctx.pause.extendTo(openedAt + wait);
    return 0;
}

namespace {
// The connection a !close or !close-on-ready names, else the current one; null
// (with error 10004) when there is none. Called under g_libLock.
TSocket* closeTarget(CommandContext& ctx) {
    LString token;
    warnTrailing(nextToken(ctx.args, token));
    TSocket* c = token.empty() ? liveConnection(ctx.connection) : findConnection(token.data());
    if (c == nullptr) msg(Tx::noConnectionToClose);
    return c;
}
}  // namespace

int cmdClose(CommandContext& ctx) {
    LLockGuard guard;
    if (TSocket* c = closeTarget(ctx)) closeConnection(c);
    return 0;
}

int cmdCloseOnReady(CommandContext& ctx) {
    LLockGuard guard;
    if (TSocket* c = closeTarget(ctx)) c->flags |= TSocket::kCloseOnReady;
    return 0;
}

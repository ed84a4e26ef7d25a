// Connection settings and the listing: order (the scheduler offers atoms to
// ready connections in list order; the last one is current), colour, the ready
// state, and !list-connection. Everything runs on the main thread and holds
// g_libLock while it reads or changes a connection, so a connection cannot end
// underneath and no connection thread's output mixes into a line printed here.
#include <climits>

#include "app/args.h"
#include "app/commands.h"
#include "app/connection.h"
#include "app/console.h"
#include "app/outcomes.h"
#include "app/scheduler.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/text.h"

TSocket* moveConnection(const char* name, int position) {
    LLockGuard guard;
    int i = 0;
    while (i < g_connections.count() && !g_connections[i]->name.equals(name)) ++i;
    if (i == g_connections.count()) {
        msg(Tx::connectionNotFound, name);
        return nullptr;
    }
    TSocket* c = g_connections[i];
    if (!c->ready()) {
        msg(Tx::connectionInUse, name);
        return c;
    }
    g_connections.removeAt(i);
    const int rest = g_connections.count();
    if (position < 0) position = 0;
    if (position > rest) position = rest;
    g_connections.insert(position, c);
    msg(Tx::connectionMoved, name, position + 1, rest + 1);
    return c;
}

void setReady(bool ready, TSocket* c) {
    LLockGuard guard;
    if (c == nullptr) {
        msg(Tx::noConnection);
        return;
    }
    if (ready == c->ready()) return;
    if (!ready) {
        printConnectionNotice(Tx::connectionOccupiedNotice, c);
        c->flags &= ~TSocket::kReady;
        return;
    }
    printConnectionNotice(Tx::connectionReadyNotice, c);
    c->flags |= TSocket::kReady;
    // An atom running here is abandoned and fails, also one whose lines a
    // !!wait holds back.
    endRun(c, AtomRun::Status::kFailed, tr(Tx::reasonAbandoned));
    c->currentAtom.clear();
    if (c->handOut != 0) abandonHandOut(c->handOut);
    c->handOut = 0;
    if (c->flags & TSocket::kCloseOnReady) closeConnection(c);
}

namespace {

// Sets c's colour and says so, with the sample words shown in it.
void setColor(const char* name, int color) {
    LLockGuard guard;
    TSocket* c = findConnection(name);
    if (c == nullptr) {
        msg(Tx::connectionNotFound, name);
        return;
    }
    c->color = color;
    ConsoleOutput out;
    msg(Tx::colorSetHead, name);
    printColored(color, tr(Tx::colorSetSample));
    msg(Tx::colorSetTail);
}

// Sets the line ending of the named connection and says so.
void setLineEnd(const char* name, LineEnd eol) {
    LLockGuard guard;
    TSocket* c = findConnection(name);
    if (c == nullptr) {
        msg(Tx::connectionNotFound, name);
        return;
    }
    c->eol = eol;
    msg(Tx::lineEndSet, name, lineEndName(eol));
}

// The name of the connection a command acts on when it names none.
LString currentName(TSocket* current) {
    LLockGuard guard;
    TSocket* c = liveConnection(current);
    return c != nullptr ? c->name : LString();
}

// Reads the next token as a number.
int numberArg(const char*& p) {
    LString value;
    p = nextToken(p, value);
    return parseInt(value.data());
}

}  // namespace

int cmdSetConnection(CommandContext& ctx) {
    LString name = currentName(ctx.connection);
    const char* p = ctx.args;
    for (int count = 1;; ++count) {
        const char* at = p;
        LString token;
        p = nextToken(p, token);
        if (token.empty()) break;
        if (token.equals("current")) {
            moveConnection(name.data(), INT_MAX);
        } else if (token.equals("order")) {
            const long long n = numberArg(p);
            moveConnection(name.data(), n - 1 < INT_MIN ? INT_MIN : static_cast<int>(n - 1));
        } else if (token.equals("color")) {
            const int c = numberArg(p);
            if (isConnectionColor(name.data(), c)) setColor(name.data(), c);
        } else if (token.equals("eol")) {
            LineEnd eol = LineEnd::crlf;
            if (readLineEnd(p, eol)) setLineEnd(name.data(), eol);
        } else if (count == 1) {
            name = token;
        } else {
            warnTrailing(at);
            break;
        }
    }
    return 0;
}

int cmdCurrentConnection(CommandContext& ctx) {
    LString token;
    warnTrailing(nextToken(ctx.args, token));
    moveConnection(token.data(), INT_MAX);
    return 0;
}

namespace {
int readyCommand(CommandContext& ctx, bool ready) {
    LString token;
    warnTrailing(nextToken(ctx.args, token));
    LLockGuard guard;
    setReady(ready, token.empty() ? liveConnection(ctx.connection) : findConnection(token.data()));
    return 0;
}
}  // namespace

int cmdReady(CommandContext& ctx) { return readyCommand(ctx, true); }

int cmdNotReady(CommandContext& ctx) { return readyCommand(ctx, false); }

int cmdListConnection(CommandContext&) {
    LLockGuard guard;
    int number = 0;
    for (TSocket* c : g_connections) {
        LString line = textf(Tx::connectionListed, ++number, c->name.data(), c->peerAddress().data());
        if (c->connecting())
            line.append(tr(Tx::listedConnecting));
        else if (c->ready())
            line.append(tr(Tx::listedReady));
        else if (!c->currentAtom.empty())
            line.append(textf(Tx::listedOccupiedFor, c->currentAtom.data()));
        else
            line.append(tr(Tx::listedOccupied));
        if (c->logFiles.count() >= 2)
            line.append(textf(Tx::listedLoggingTo, c->logFiles.count()));
        else if (!c->logFiles.empty())
            line.append(tr(Tx::listedLogging));
        if (c->flags & TSocket::kCloseOnReady) line.append(tr(Tx::listedCloseOnReady));
        if (c->telnet.active()) line.append(tr(Tx::listedTelnet));
        if (const LineEnd eol = c->eol; eol != LineEnd::crlf) line.append(textf(Tx::listedLineEnd, lineEndName(eol)));
        line.append("\r\n");
        printColored(c->color, line.data(), line.len());
    }
    msg(Tx::connectionCount, number);
    return 0;
}

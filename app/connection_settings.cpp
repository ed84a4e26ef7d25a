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
#include "base/lock.h"
#include "base/msg.h"
#include "base/text.h"

TSocket* moveConnection(const char* name, int position) {
    LLockGuard guard;
    int i = 0;
    while (i < g_connections.count() && !g_connections[i]->name.equals(name)) ++i;
    if (i == g_connections.count()) {
        msg(10005, "接続「%s」が見つかりません", name);
        return nullptr;
    }
    TSocket* c = g_connections[i];
    if (!c->ready()) {
        msg(10027, "接続「%s」は使用中です", name);
        return c;
    }
    g_connections.removeAt(i);
    const int rest = g_connections.count();
    if (position < 0) position = 0;
    if (position > rest) position = rest;
    g_connections.insert(position, c);
    msgPrint("接続「%s」を %d/%d 番目に移動しました\r\n", name, position + 1, rest + 1);
    return c;
}

void setReady(bool ready, TSocket* c) {
    LLockGuard guard;
    if (c == nullptr) {
        msg(10001, "接続が見つかりません");
        return;
    }
    if (ready == c->ready()) return;
    if (!ready) {
        printConnectionNotice("[", c, " occupied]\r\n");
        c->flags &= ~TSocket::kReady;
        return;
    }
    printConnectionNotice("[", c, " ready]\r\n");
    c->flags |= TSocket::kReady;
    // An atom running here is abandoned, also one whose lines a !!wait holds back.
    c->currentAtom.clear();
    c->handOut = 0;
    if (c->flags & TSocket::kCloseOnReady) closeConnection(c);
}

namespace {

// Sets c's colour and says so with the words "この色" shown in it.
void setColor(const char* name, int color) {
    LLockGuard guard;
    TSocket* c = findConnection(name);
    if (c == nullptr) {
        msg(10005, "接続「%s」が見つかりません", name);
        return;
    }
    c->color = color;
    ConsoleOutput out;
    msgPrint("接続「%s」を", name);
    printColored(color, "この色");
    msgPrintText("に設定しました\r\n");
}

// Sets the line ending of the named connection and says so.
void setLineEnd(const char* name, LineEnd eol) {
    LLockGuard guard;
    TSocket* c = findConnection(name);
    if (c == nullptr) {
        msg(10005, "接続「%s」が見つかりません", name);
        return;
    }
    c->eol = eol;
    msgPrint("接続「%s」の行末を %s に設定しました\r\n", name, lineEndName(eol));
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
        LString line = LString::format("[%d] CONNECTION '%s' -> %s", ++number, c->name.data(),
                                       c->peerAddress().data());
        if (c->connecting())
            line.append(" [connecting]");
        else if (c->ready())
            line.append(" [ready]");
        else if (!c->currentAtom.empty())
            line.appendFormat(" [occupied for %s]", c->currentAtom.data());
        else
            line.append(" [occupied]");
        if (!c->logFiles.empty()) {
            line.append(" [logging");
            if (c->logFiles.count() >= 2) line.appendFormat(" to %d files", c->logFiles.count());
            line.append("]");
        }
        if (c->flags & TSocket::kCloseOnReady) line.append(" [close on ready]");
        if (c->telnet.active()) line.append(" [telnet]");
        if (const LineEnd eol = c->eol; eol != LineEnd::crlf) line.appendFormat(" [eol %s]", lineEndName(eol));
        line.append("\r\n");
        printColored(c->color, line.data(), line.len());
    }
    msgPrint("%d 個の接続があります\r\n", number);
    return 0;
}

// Log files: the commands that open and close them, the system event writer,
// and the receive and send entries that the connections' data paths write.
//
// Key choice: every walk of g_logFiles or of a connection's logFiles, every
// write and every change of those lists happens under g_libLock, so entries of
// different threads never interleave inside a file and a file is never closed
// while an entry is being written. Every entry is flushed at once, so a file is
// complete up to its last entry while the program runs.
#include "app/logfiles.h"

#include <cstdarg>

#include "app/args.h"
#include "app/commands.h"
#include "app/connection.h"
#include "base/chars.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/platform/process.h"
#include "base/stream.h"

LOwnedArray<LogFile> g_logFiles;

LogFile::~LogFile() { forNames.clearKeys(); }

namespace {


// The file records connection c: it names no connections, or c among them.
bool records(const LogFile& f, const TSocket* c) {
    return f.forNames.count() == 0 || f.forNames.contains(c->name.data());
}

// The local time as "yyyy/mm/dd hh:mm:ss", or "(time-error)".
LString timeStamp() {
    int t[6];
    if (!platformLocalTime(platformNow(), t)) return LString("(time-error)");
    return LString::format("%04d/%02d/%02d %02d:%02d:%02d", t[0], t[1], t[2], t[3], t[4], t[5]);
}

// Removes f from the log lists of every connection; returns how many had it.
// Under g_libLock.
int detachEverywhere(const LogFile* f) {
    int count = 0;
    for (TSocket* c : g_connections)
        while (c->logFiles.remove(f)) ++count;
    return count;
}

// Writes one piece of traffic to every log file of c that records this
// direction: the [name<] or [name>] mark with cn, the bytes, CR LF when asked.
void logTraffic(TSocket* c, uint32_t leaveOut, char direction, const char* bytes, int n, bool crlf) {
    LLockGuard guard;
    for (LogFile* f : c->logFiles) {
        if (f->logFlags & leaveOut) continue;
        if (f->logFlags & LogFile::kCn) f->stream->printf("[%s%c]", c->name.data(), direction);
        f->stream->write(bytes, n);
        if (crlf) f->stream->write("\r\n", 2);
        f->stream->flush();
    }
}
}  // namespace

void writeSysLog(const char* fmt, ...) {
    LLockGuard guard;
    // The event is formatted only when a file records it: without such a file
    // this costs a glance at the list, on the busiest paths of the program.
    bool recorded = false;
    for (const LogFile* f : g_logFiles) recorded = recorded || (f->logFlags & LogFile::kSys);
    if (!recorded) return;
    LString event;
    LString stamp;
    for (LogFile* f : g_logFiles) {
        if (!(f->logFlags & LogFile::kSys)) continue;
        if (stamp.empty()) {
            stamp = timeStamp();
            va_list args;
            va_start(args, fmt);
            event.appendFormatV(fmt, args);
            va_end(args);
        }
        f->stream->printf("[%s  %s]\r\n", stamp.data(), event.data());
        f->stream->flush();
    }
}

void attachLogFiles(TSocket* c) {
    LLockGuard guard;
    for (LogFile* f : g_logFiles)
        if (records(*f, c)) c->logFiles.add(f);
}

void logReceived(TSocket* c, const char* bytes, int n) { logTraffic(c, LogFile::kXr, '<', bytes, n, false); }

void logSent(TSocket* c, const char* text, int n) { logTraffic(c, LogFile::kXs, '>', text, n, true); }

void closeAllLogFiles() {
    LLockGuard guard;
    for (const LogFile* f : g_logFiles) detachEverywhere(f);
    g_logFiles.clear();
}

int cmdOpenLogFile(CommandContext& ctx) {
    LString path;
    const char* p = ctx.args;
    if (!nextPathToken(p, path)) return 0;
    if (path.empty()) {
        msg(10019, "ログファイルのパスを指定してください");
        return 0;
    }
    auto file = std::make_unique<LogFile>();
    LStrList names;
    while (moreTokens(p)) {
        const char* at = p;
        LString token;
        p = nextToken(p, token);
        if (token.equals("for")) {
            p = parseNameList(p, names, "!open-log-file");
        } else if (token.equals("cn")) {
            file->logFlags |= LogFile::kCn;
        } else if (token.equals("sys")) {
            file->logFlags |= LogFile::kSys;
        } else if (token.equals("xs")) {
            file->logFlags |= LogFile::kXs;
        } else if (token.equals("xr")) {
            file->logFlags |= LogFile::kXr;
        } else {
            warnTrailing(at);
            break;
        }
    }
    for (int i = 0; i < names.count(); ++i)
        if (!file->forNames.contains(names[i])) file->forNames.add(blockStrdup(names[i]));
    file->stream = std::make_unique<LIoFile>(path.data(), 'w', true);
    if (!file->stream->isOpen()) return 0;  // reported by the open

    int count = 0;
    const bool forAll = file->forNames.count() == 0;
    {
        LLockGuard guard;
        LogFile* f = file.get();
        g_logFiles.add(std::move(file));
        for (TSocket* c : g_connections) {
            if (!records(*f, c)) continue;
            c->logFiles.add(f);
            ++count;
        }
    }
    if (forAll)
        msgPrint("ログファイル「%s」を開きました\r\n", path.data());
    else
        msgPrint("ログファイル「%s」を %d 個の接続に対して設定しました\r\n", path.data(), count);
    writeSysLog("Log file %s opened", path.data());
    return 0;
}

int cmdCloseLogFile(CommandContext& ctx) {
    LString path;
    const char* rest = ctx.args;
    if (!nextPathToken(rest, path)) return 0;
    if (path.empty()) {
        if (g_logFiles.empty()) {
            msg(10028, "開いているログファイルはありません");
            return 0;
        }
        if (g_logFiles.count() >= 2) {
            msg(10019, "ログファイルのパスを指定してください");
            return 0;
        }
        path.assign(g_logFiles[0]->stream->fileName());
    }
    warnTrailing(rest);
    std::unique_ptr<LogFile> closing;
    int count = 0;
    {
        LLockGuard guard;
        for (int i = 0; i < g_logFiles.count(); ++i) {
            // ASCII letters match in either case; double-byte characters as they are.
            if (compareNoCase(g_logFiles[i]->stream->fileName(), path.data()) != 0) continue;
            closing = g_logFiles.takeAt(i);
            count = detachEverywhere(closing.get());
            break;
        }
    }
    if (!closing) {
        msg(10022, "ログファイル「%s」が見つかりません", path.data());
        return 0;
    }
    msgPrint("[Log file %s closed for %d connection(s)]\r\n", path.data(), count);
    return 0;  // closing releases the names and closes the stream
}

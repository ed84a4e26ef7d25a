// Log files: the commands that open and close them, the system event writer,
// and the receive and send entries that the connections' data paths write.
//
// Key choice: every walk of g_logFiles or of a connection's logFiles, every
// write and every change of those lists happens under g_libLock, so entries of
// different threads never interleave inside a file and a file is never closed
// while an entry is being written. Every entry goes to the file's descriptor
// with one write as soon as it is made, so a file is complete up to its last
// entry while the program runs.
//
// A file that cannot be written (disk full, an I/O error) is reported once,
// with its name and the system's reason, and closed with a system message;
// the other files and the connections go on as before.
#include "app/logfiles.h"

#include <cerrno>
#include <cstdarg>
#include <utility>
#include <vector>

#include "app/args.h"
#include "app/commands.h"
#include "app/connection.h"
#include "app/console.h"
#include "base/chars.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/platform/file.h"
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
    if (!platformLocalTime(platformNow(), t)) return LString(tr(Tx::timeError));
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

// Writes one entry to f, all of it, each write kept from Ctrl-C; false (errno
// set) when the system refuses it. Under g_libLock.
bool writeEntry(LogFile& f, const LString& entry) {
    const int fd = f.stream->file().fd();
    const char* p = entry.data();
    int left = entry.len();
    bool ok = true;
    platformBeginProtectedWrite();
    while (left > 0) {
        const int n = platformWrite(fd, p, left);
        if (n <= 0) {
            if (n == 0) platformSetErrno(EIO);
            ok = false;
            break;
        }
        p += n;
        left -= n;
    }
    platformEndProtectedWrite();
    return ok;
}

// Reports a file that a write failed on (err) and closes it. Under g_libLock,
// outside any walk of the lists it is in.
void closeBrokenFile(const LogFile* f, int err) {
    for (int i = 0; i < g_logFiles.count(); ++i) {
        if (g_logFiles[i] != f) continue;
        std::unique_ptr<LogFile> broken = g_logFiles.takeAt(i);
        const LString path(broken->stream->fileName());
        platformSetErrno(err);
        msg(Tx::logWriteFailed, path.data());
        const int count = detachEverywhere(broken.get());
        broken.reset();  // closes the file
        systemMessage(Tx::logFileClosed, path.data(), count);
        return;
    }
}

// Writes entries and closes the files that refused theirs.
class EntryWriter {
public:
    void write(LogFile* f, const LString& entry) {
        if (!writeEntry(*f, entry)) broken_.push_back({f, platformErrno()});
    }
    ~EntryWriter() {
        for (const auto& [f, err] : broken_) closeBrokenFile(f, err);
    }

private:
    std::vector<std::pair<const LogFile*, int>> broken_;
};

// Writes one piece of traffic to every log file of c that records this
// direction: the [name<] or [name>] mark with cn, the bytes, CR LF when asked.
void logTraffic(TSocket* c, uint32_t leaveOut, char direction, const char* bytes, int n, bool crlf) {
    LLockGuard guard;
    EntryWriter writer;
    LString plain, marked;  // the entry without and with the mark, made once each
    for (LogFile* f : c->logFiles) {
        if (f->logFlags & leaveOut) continue;
        LString& entry = (f->logFlags & LogFile::kCn) ? marked : plain;
        if (entry.empty()) {
            if (f->logFlags & LogFile::kCn) entry.appendFormat("[%s%c]", c->name.data(), direction);
            entry.append(bytes, n);
            if (crlf) entry.append("\r\n");
        }
        writer.write(f, entry);
    }
}
}  // namespace

void writeSysLogOf(Tx id, ...) {
    LLockGuard guard;
    // The event is formatted only when a file records it: without such a file
    // this costs a glance at the list, on the busiest paths of the program.
    bool recorded = false;
    for (const LogFile* f : g_logFiles) recorded = recorded || (f->logFlags & LogFile::kSys);
    if (!recorded) return;
    LString entry;
    EntryWriter writer;
    for (LogFile* f : g_logFiles) {
        if (!(f->logFlags & LogFile::kSys)) continue;
        if (entry.empty()) {
            LString event;
            va_list args;
            va_start(args, id);
            event.appendFormatV(tr(id), args);
            va_end(args);
            entry = LString::format("[%s  %s]\r\n", timeStamp().data(), event.data());
        }
        writer.write(f, entry);
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
        msg(Tx::logPathMissing);
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
        msg(Tx::logFileOpened, path.data());
    else
        msg(Tx::logFileSetFor, path.data(), count);
    writeSysLog(Tx::eventLogFileOpened, path.data());
    return 0;
}

int cmdCloseLogFile(CommandContext& ctx) {
    LString path;
    const char* rest = ctx.args;
    if (!nextPathToken(rest, path)) return 0;
    if (path.empty()) {
        if (g_logFiles.empty()) {
            msg(Tx::noLogFileOpen);
            return 0;
        }
        if (g_logFiles.count() >= 2) {
            msg(Tx::logPathMissing);
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
        msg(Tx::logFileNotFound, path.data());
        return 0;
    }
    msgPrint("%s\r\n", TextBuffer(Tx::logFileClosed, path.data(), count).data());
    return 0;  // closing releases the names and closes the stream
}

// Log files: traffic of chosen connections and time-stamped system events.
//
// g_logFiles owns every open LogFile; each connection's logFiles list points to
// the files that record it. Every walk of those lists, every write and every
// change holds g_libLock, so entries never interleave inside a file. Every entry
// is flushed at once.
#pragma once

#include <cstdint>
#include <memory>

#include "base/catalogue.h"
#include "base/larray.h"
#include "base/lhash.h"
#include "base/obj.h"

class LIoFile;
class TSocket;

struct LogFile : LObj {
    enum : uint32_t { kCn = 1, kSys = 2, kXs = 16, kXr = 32 };
    LHashTable forNames;  // owned name blocks; empty: every connection
    std::unique_ptr<LIoFile> stream;
    uint32_t logFlags = 0;
    ~LogFile() override;
};

extern LOwnedArray<LogFile> g_logFiles;

// Writes "[<local time>  <event>]\r\n" to every file with sys; the event is a
// text of the catalogue with its arguments.
template <class... Args>
void writeSysLog(TextOf<Args...> event, Args... args);
// The same without the check of the arguments; use writeSysLog().
void writeSysLogOf(Tx event, ...);
// Attaches every log file whose forNames is empty or holds c's name.
void attachLogFiles(TSocket* c);
// Receive entry ("[%s<]" with cn, then the bytes) to c's files without xr.
void logReceived(TSocket* c, const char* bytes, int n);
// Send entry ("[%s>]" with cn, then the text and CR LF) to c's files without xs.
void logSent(TSocket* c, const char* text, int n);
// Closes and releases every log file (at exit, after "Exit Vesperline").
void closeAllLogFiles();

template <class... Args>
void writeSysLog(TextOf<Args...> event, Args... args) {
    writeSysLogOf(event.id, args...);
}

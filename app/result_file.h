// The result file (-rf): one JSON object per line for every attempt of an
// atom that ends, so that a script or a plot can read a batch without parsing
// the console:
//
//   {"atom":"A1","connection":"C1","address":"127.0.0.1:23","status":"completed",
//    "reason":null,"attempt":1,"started":"2026-12-06T09:12:01.123+09:00",
//    "ended":"2026-12-06T09:12:02.345+09:00","seconds":1.222,"bytes_received":345}
//
// status is "completed", "failed", "retried" (a failed attempt that went back
// to the queue) or "skipped"; a skipped atom never ran, so its connection,
// address, started, seconds and bytes_received are null.
//
// Key choices: the lines of the attempts that the main loop settles together
// go out with one write as soon as they are complete, so the file is whole up
// to its last line while the program runs and after it is killed, and a busy
// batch does not pay a system call per atom. Text is converted to UTF-8 from the character set in
// force (a byte that does not convert becomes U+FFFD), so the file is valid
// JSON whatever bytes a name holds. The file belongs to the main thread.
#pragma once

#include <cstdint>
#include <string>

#include "base/stream.h"
#include "base/utf8.h"

struct ResultEntry {
    const char* atom = "";
    const char* connection = nullptr;  // null: none (a skip)
    const char* address = nullptr;     // null: none
    const char* status = "";
    const char* reason = nullptr;      // null: none
    int attempt = 1;
    int64_t startedWallMs = 0;  // 0: none
    int64_t endedWallMs = 0;
    int64_t milliseconds = -1;  // the attempt's length; < 0: none
    int64_t bytes = -1;         // < 0: none
};

class ResultFile {
public:
    // Creates or truncates the file; false (error 17000 reported) when it
    // cannot be opened.
    bool open(const char* path);
    bool isOpen() { return file_.isOpen(); }
    // Adds one line; it goes out with the next flush().
    void add(const ResultEntry& e);
    // Writes the lines added since the last flush, with one write. A write
    // that fails is reported once (10051) and the file is closed; the run's
    // exit status then tells (noteRunFailure).
    void flush();
    void close() {
        flush();
        file_.close();
    }

    // The JSON line of an entry, without its line end (for tests).
    std::string format(const ResultEntry& e);

private:
    void appendLine(std::string& out, const ResultEntry& e);
    void appendString(std::string& out, const char* text);
    void appendTime(std::string& out, int64_t ms);
    LFile file_;
    LUtf8Converter utf8_;
    std::string pending_;  // lines added since the last flush
    // isoLocalTime of the last second asked for, whose milliseconds change.
    int64_t second_ = -1;
    std::string secondText_;
};

// The result file of the run (main thread only); closed when -rf is not given.
extern ResultFile g_resultFile;

// "2026-12-06T09:12:01.123+09:00": the local time of ms since the epoch with
// its offset from UTC; "" when the time cannot be converted.
std::string isoLocalTime(int64_t ms);

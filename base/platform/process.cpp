// POSIX implementation of the process functions of the platform layer.
#include "base/platform/process.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <signal.h>

namespace {
struct sigaction g_savedInterrupt;
}

void platformExit(int code) { std::exit(code); }

bool platformSetLocale(const char* name) {
    if (!std::setlocale(LC_ALL, name)) return false;
    std::setlocale(LC_NUMERIC, "C");
    return true;
}

void platformIgnoreInterrupt() {
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGINT, &ignore, &g_savedInterrupt);
}

void platformRestoreInterrupt() { ::sigaction(SIGINT, &g_savedInterrupt, nullptr); }

void platformIgnoreBrokenPipe() {
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

int platformErrno() { return errno; }
void platformSetErrno(int e) { errno = e; }

bool platformErrorText(int err, char* buf, int size) {
    if (size <= 0) return false;
    buf[0] = 0;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    if (!strerrorname_np(err)) return false;  // a number the system does not know
#else
    if (err <= 0 || err >= 4096) return false;
#endif
    // GNU strerror_r: returns a pointer to the text (buf or a static string).
    const char* text = strerror_r(err, buf, static_cast<size_t>(size));
    if (!text) return false;
    if (text != buf) {
        std::strncpy(buf, text, static_cast<size_t>(size) - 1);
        buf[size - 1] = 0;
    }
    return true;
}

const char* platformEnv(const char* name) { return std::getenv(name); }

int64_t platformNow() { return static_cast<int64_t>(std::time(nullptr)); }

bool platformLocalTime(int64_t t, int fields[6]) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tmv;
    if (!localtime_r(&tt, &tmv)) return false;
    fields[0] = tmv.tm_year + 1900;
    fields[1] = tmv.tm_mon + 1;
    fields[2] = tmv.tm_mday;
    fields[3] = tmv.tm_hour;
    fields[4] = tmv.tm_min;
    fields[5] = tmv.tm_sec;
    return true;
}

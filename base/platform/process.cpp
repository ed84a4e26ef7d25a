// POSIX implementation of the process functions of the platform layer.
#include "base/platform/process.h"

#include "base/platform/sync.h"
#include "base/platform/terminal.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace {

// Protected writes in progress, from any thread.
std::atomic<int> g_protectedWrites{0};
// Set once by platformCatchQuitSignals, before other threads run.
bool g_catching = false;
int g_wakeFd = -1;
std::atomic<int> g_quitSignal{0};
// An exit code (quit signals caught) or SIGINT (not caught) that waits for
// the protected writes to end.
std::atomic<int> g_deferred{0};

// Without caught quit signals, an interrupt during protected writes is held by
// this handler and raised again after them. Installed and removed under the
// mutex by the first and last protected write.
std::mutex g_protectMutex;
struct sigaction g_savedInterrupt;

void holdInterrupt(int sig) { g_deferred.store(sig); }

void onQuitSignal(int sig) {
    int none = 0;
    if (g_quitSignal.compare_exchange_strong(none, sig)) {
        const uint64_t one = 1;
        const ssize_t w = ::write(g_wakeFd, &one, sizeof one);
        (void)w;
        return;
    }
    // The orderly end is under way and the user insists.
    g_deferred.store(128 + sig);
    if (g_protectedWrites.load() == 0) {
        platformRestoreTerminal();  // a line editor may have the terminal in its modes
        ::_exit(128 + sig);
    }
}

}  // namespace

void platformBeginProtectedWrite() {
    if (g_catching) {
        g_protectedWrites.fetch_add(1);
        return;
    }
    std::lock_guard<std::mutex> guard(g_protectMutex);
    if (g_protectedWrites.fetch_add(1) > 0) return;
    struct sigaction hold;
    std::memset(&hold, 0, sizeof hold);
    hold.sa_handler = holdInterrupt;
    sigemptyset(&hold.sa_mask);
    hold.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &hold, &g_savedInterrupt);
}

void platformEndProtectedWrite() {
    if (g_catching) {
        if (g_protectedWrites.fetch_sub(1) == 1) {
            if (const int code = g_deferred.load()) {
                platformRestoreTerminal();
                ::_exit(code);
            }
        }
        return;
    }
    std::lock_guard<std::mutex> guard(g_protectMutex);
    if (g_protectedWrites.fetch_sub(1) != 1) return;
    ::sigaction(SIGINT, &g_savedInterrupt, nullptr);
    if (g_deferred.exchange(0) != 0) ::raise(SIGINT);
}

void platformCatchQuitSignals(int wakeFd) {
    g_wakeFd = wakeFd;
    g_catching = true;
    struct sigaction quit;
    std::memset(&quit, 0, sizeof quit);
    quit.sa_handler = onQuitSignal;
    sigemptyset(&quit.sa_mask);
    quit.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &quit, nullptr);
}

int platformQuitSignal() { return g_quitSignal.load(); }

void platformExit(int code) { std::exit(code); }

bool platformSetLocale(const char* name) {
    if (!std::setlocale(LC_ALL, name)) return false;
    std::setlocale(LC_NUMERIC, "C");
    return true;
}

void platformIgnoreBrokenPipe() {
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

void platformDefaultChildSignal() {
    struct sigaction current;
    if (::sigaction(SIGCHLD, nullptr, &current) != 0 || current.sa_handler != SIG_IGN) return;
    struct sigaction standard;
    std::memset(&standard, 0, sizeof standard);
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(SIGCHLD, &standard, nullptr);
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

namespace {
// The local time of second t in fields and its offset from UTC; false when t
// cannot be converted.
bool localFields(int64_t t, int fields[6], int* utcOffset) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tmv;
    if (!localtime_r(&tt, &tmv)) return false;
    fields[0] = tmv.tm_year + 1900;
    fields[1] = tmv.tm_mon + 1;
    fields[2] = tmv.tm_mday;
    fields[3] = tmv.tm_hour;
    fields[4] = tmv.tm_min;
    fields[5] = tmv.tm_sec;
    *utcOffset = static_cast<int>(tmv.tm_gmtoff);
    return true;
}
}  // namespace

bool platformLocalTime(int64_t t, int fields[6]) {
    int utcOffset = 0;
    return localFields(t, fields, &utcOffset);
}

int64_t platformNowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool platformLocalTimeOffset(int64_t ms, int fields[6], int* utcOffset) {
    // Floor division: a time before the epoch keeps its second.
    const int64_t seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    return localFields(seconds, fields, utcOffset);
}

bool platformSignalGroup(int pid, PlatformEndSignal sig) {
    const int number = sig == PlatformEndSignal::hangUp      ? SIGHUP
                       : sig == PlatformEndSignal::terminate ? SIGTERM
                                                             : SIGKILL;
    // A group is named by its leader's id, negated. The leader's id is no
    // other group's while the leader is unreaped, so this reaches only ours.
    return pid > 0 && ::kill(-pid, number) == 0;
}

namespace {
// Reaps pid when it has ended (or waits for that without WNOHANG): 1 with *end
// filled, 0 while it runs, -1 when it is no child of ours.
int reap(int pid, int options, PlatformChildEnd* end) {
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid, &status, options);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return got < 0 ? -1 : 0;
    if (end != nullptr) {
        *end = PlatformChildEnd{};
        if (WIFEXITED(status)) end->exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) end->signal = WTERMSIG(status);
    }
    return 1;
}
}  // namespace

int platformWaitChild(int pid, int timeoutMs, PlatformChildEnd* end) {
    const int now = reap(pid, WNOHANG, end);
    if (now != 0 || timeoutMs == 0) return now;
    platformCheckNoLibLock("waiting for a program to end");
    if (timeoutMs < 0) return reap(pid, 0, end);
    // A process descriptor becomes readable when the child ends, so the wait
    // costs nothing; it is held only for this wait.
    const int64_t until = platformMonotonicMs() + timeoutMs;
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        const int64_t left = until - platformMonotonicMs();
        if (left <= 0) break;
        if (pidFd >= 0) {
            pollfd p{pidFd, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(left));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
        } else {
            // Without process descriptors (an old kernel, or none left): look
            // again now and then.
            platformSleep(left < 20 ? static_cast<int>(left) : 20);
        }
        const int got = reap(pid, WNOHANG, end);
        if (got != 0) {
            if (pidFd >= 0) ::close(pidFd);
            return got;
        }
    }
    if (pidFd >= 0) ::close(pidFd);
    return reap(pid, WNOHANG, end);
}

const char* platformSignalName(int sig) {
    switch (sig) {
    case SIGHUP: return "SIGHUP";
    case SIGINT: return "SIGINT";
    case SIGQUIT: return "SIGQUIT";
    case SIGILL: return "SIGILL";
    case SIGTRAP: return "SIGTRAP";
    case SIGABRT: return "SIGABRT";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGKILL: return "SIGKILL";
    case SIGUSR1: return "SIGUSR1";
    case SIGSEGV: return "SIGSEGV";
    case SIGUSR2: return "SIGUSR2";
    case SIGPIPE: return "SIGPIPE";
    case SIGALRM: return "SIGALRM";
    case SIGTERM: return "SIGTERM";
    case SIGXCPU: return "SIGXCPU";
    case SIGXFSZ: return "SIGXFSZ";
    case SIGSYS: return "SIGSYS";
    default: return "signal";
    }
}

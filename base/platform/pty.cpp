// POSIX implementation of programs on pseudo-terminals: posix_openpt for the
// terminal, posix_spawnp for the program. glibc's posix_spawn makes the new
// session (POSIX_SPAWN_SETSID) before it runs the file actions, so opening the
// slave side there, without O_NOCTTY, makes it the new session's controlling
// terminal; and it reports a failed exec through its return value, so a
// program that cannot be started is known before the call returns.
#include "base/platform/pty.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace {

// Closes fd keeping errno.
void closeKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

// The environment of a new program: ours, with the entries of changes in
// place of those of the same name.
std::vector<const char*> environmentWith(const char* const changes[]) {
    std::vector<const char*> env;
    auto changed = [&](const char* entry) {
        if (changes == nullptr) return false;
        const char* eq = std::strchr(entry, '=');
        const size_t n = eq != nullptr ? static_cast<size_t>(eq - entry) : std::strlen(entry);
        for (const char* const* c = changes; *c != nullptr; ++c)
            if (std::strncmp(*c, entry, n) == 0 && (*c)[n] == '=') return true;
        return false;
    };
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
        if (!changed(*e)) env.push_back(*e);
    if (changes != nullptr)
        for (const char* const* c = changes; *c != nullptr; ++c) env.push_back(*c);
    env.push_back(nullptr);
    return env;
}

}  // namespace

int ptyOpen(int columns, int rows, char* slavePath, int size) {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    // On the master side, the terminal's modes and window are those of the
    // slave side: what the program finds when it starts.
    termios modes{};
    winsize window{};
    window.ws_col = static_cast<unsigned short>(columns);
    window.ws_row = static_cast<unsigned short>(rows);
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, slavePath, static_cast<size_t>(size)) != 0 ||
        ::tcgetattr(fd, &modes) != 0) {
        closeKeepingErrno(fd);
        return -1;
    }
    // What we write is not echoed back to us: the program (or a remote shell)
    // echoes itself when it wants to.
    modes.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    const int flags = ::fcntl(fd, F_GETFL);
    if (::tcsetattr(fd, TCSANOW, &modes) != 0 || ::ioctl(fd, TIOCSWINSZ, &window) != 0 || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        closeKeepingErrno(fd);
        return -1;
    }
    return fd;
}

int ptySpawn(const char* slavePath, const char* file, const char* const argv[], const char* const env[], int* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (int err = ::posix_spawn_file_actions_init(&actions); err != 0) return err;
    if (int err = ::posix_spawnattr_init(&attr); err != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return err;
    }
    // Every signal with its default action (we ignore SIGPIPE, and an ignored
    // signal would stay ignored across exec) and none blocked.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    int err = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (err == 0) err = ::posix_spawnattr_setsigdefault(&attr, &all);
    if (err == 0) err = ::posix_spawnattr_setsigmask(&attr, &none);
    // The terminal becomes standard input, output and error; nothing else of
    // ours is inherited, also not a descriptor another thread has just made
    // without close-on-exec.
    if (err == 0) err = ::posix_spawn_file_actions_addopen(&actions, 0, slavePath, O_RDWR, 0);
    if (err == 0) err = ::posix_spawn_file_actions_adddup2(&actions, 0, 1);
    if (err == 0) err = ::posix_spawn_file_actions_adddup2(&actions, 0, 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    if (err == 0) err = ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    if (err == 0) {
        const std::vector<const char*> environment = environmentWith(env);
        pid_t child = -1;
        // posix_spawnp takes char* const[] for historical reasons; it changes nothing.
        err = ::posix_spawnp(&child, file, &actions, &attr, const_cast<char* const*>(argv),
                             const_cast<char* const*>(environment.data()));
        if (err == 0) *pid = static_cast<int>(child);
    }
    ::posix_spawnattr_destroy(&attr);
    ::posix_spawn_file_actions_destroy(&actions);
    return err;
}

int ptyRead(int fd, char* into, int n) {
    const ssize_t got = ::read(fd, into, static_cast<size_t>(n));
    // The master side reports a closed program side as EIO.
    if (got < 0 && errno == EIO) return 0;
    return static_cast<int>(got);
}

int ptyWrite(int fd, const char* bytes, int n) {
    const ssize_t put = ::write(fd, bytes, static_cast<size_t>(n));
    // The program side is gone, as a broken pipe would say.
    if (put < 0 && errno == EIO) errno = EPIPE;
    return static_cast<int>(put);
}

// POSIX implementation of the console output functions of the platform layer.
#include "base/platform/console.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

void platformWriteStdout(const char* text, int n) {
    std::fflush(stdout);
    while (n > 0) {
        const ssize_t r = ::write(STDOUT_FILENO, text, static_cast<size_t>(n));
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text += r;
        n -= static_cast<int>(r);
    }
}

bool platformStdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

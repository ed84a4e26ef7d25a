// POSIX implementation of the console output functions of the platform layer.
// Every write passes the line editor first, which keeps a line being typed
// below whatever is written.
#include "base/platform/console.h"

#include "base/platform/line_editor.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

bool platformWriteStdout(const char* text, int n) { return platformWriteStdout2(text, n, nullptr, 0); }

bool platformWriteStdout2(const char* a, int na, const char* b, int nb) {
    bool ok = true;
    if (LineEditor::writeAround(a, na, b, nb, ok)) return ok;
    return platformWriteStdoutDirect(a, na, b, nb);
}

bool platformWriteStdoutDirect(const char* a, int na, const char* b, int nb) {
    std::fflush(stdout);
    iovec parts[2];
    int count = 0;
    if (na > 0) parts[count++] = {const_cast<char*>(a), static_cast<size_t>(na)};
    if (nb > 0) parts[count++] = {const_cast<char*>(b), static_cast<size_t>(nb)};
    iovec* first = parts;
    while (count > 0) {
        const ssize_t r = count == 1 ? ::write(STDOUT_FILENO, first->iov_base, first->iov_len)
                                     : ::writev(STDOUT_FILENO, first, count);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        // Step over what went out; a partial write goes on with the rest.
        size_t done = static_cast<size_t>(r);
        while (count > 0 && done >= first->iov_len) {
            done -= first->iov_len;
            ++first;
            --count;
        }
        if (count > 0) {
            first->iov_base = static_cast<char*>(first->iov_base) + done;
            first->iov_len -= done;
        }
    }
    return true;
}

bool platformStdoutIsTerminal() {
    static const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    return terminal;
}

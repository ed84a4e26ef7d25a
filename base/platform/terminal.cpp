// POSIX implementation of the terminal layer: isatty() decides whether colour
// sequences are written at all; standard input is read with poll() on the
// descriptor and on a pipe that wake() writes to, so a stop never waits for
// the user.
#include "base/platform/terminal.h"

#include "base/platform/console.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool writeAll(int fd, const char* p, int n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, static_cast<size_t>(n));
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<int>(w);
    }
    return true;
}

// ANSI colour index of the three colour bits of an attribute nibble.
int ansiIndex(int c) { return ((c & 1) << 2) | (c & 2) | ((c & 4) >> 2); }

}  // namespace

int formatSgr(int attribute, char* out) {
    attribute &= 0xFF;
    if (attribute == 7) {
        std::memcpy(out, "\x1b[0m", 5);
        return 4;
    }
    const int fg = attribute & 0x0F;
    const int bg = (attribute >> 4) & 0x0F;
    const int fi = ansiIndex(fg);
    const int bi = ansiIndex(bg);
    const int fgCode = (fg & 8) ? 90 + fi : (fi == 7 ? 39 : 30 + fi);
    const int bgCode = (bg & 8) ? 100 + bi : (bi == 0 ? 49 : 40 + bi);
    return std::snprintf(out, 24, "\x1b[%d;%dm", fgCode, bgCode);
}

void terminalClear() {
    if (!platformStdoutIsTerminal()) return;
    static const char kClear[] = "\x1b[H\x1b[2J\x1b[3J";
    writeAll(STDOUT_FILENO, kClear, static_cast<int>(sizeof kClear - 1));
}

StdinReader::StdinReader() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
    }
    terminal_ = ::isatty(STDIN_FILENO) != 0;
}

StdinReader::~StdinReader() {
    if (wakeRead_ >= 0) ::close(wakeRead_);
    if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

void StdinReader::wake() {
    if (wakeWrite_ < 0) return;
    const char b = 1;
    // The byte is never read back: once woken, the pipe stays readable.
    while (::write(wakeWrite_, &b, 1) < 0 && errno == EINTR) {
    }
}

int StdinReader::takePiece(char* out, int cap, bool all) {
    const int avail = end_ - start_;
    int n = -1;
    const int limit = avail < cap ? avail : cap;
    const void* lf = std::memchr(buf_ + start_, '\n', static_cast<size_t>(limit));
    if (lf) {
        n = static_cast<int>(static_cast<const char*>(lf) - (buf_ + start_)) + 1;
    } else if (avail >= cap || (all && avail > 0)) {
        n = limit;
    }
    if (n <= 0) return 0;
    std::memcpy(out, buf_ + start_, static_cast<size_t>(n));
    start_ += n;
    if (start_ == end_) start_ = end_ = 0;
    return n;
}

int StdinReader::readPiece(char* out, int cap) {
    if (cap > kBufferSize) cap = kBufferSize;
    for (;;) {
        if (int n = takePiece(out, cap, ended_)) return n;
        if (ended_) return kEnd;
        // Make room behind the data that is still waiting.
        if (start_ > 0) {
            std::memmove(buf_, buf_ + start_, static_cast<size_t>(end_ - start_));
            end_ -= start_;
            start_ = 0;
        }
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int nfds = wakeRead_ >= 0 ? 2 : 1;
        const int r = ::poll(fds, static_cast<nfds_t>(nfds), -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return kError;
        }
        if (nfds == 2 && (fds[1].revents & POLLIN)) return kWoken;
        if (fds[0].revents & POLLNVAL) {
            ended_ = true;
            continue;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t got = ::read(STDIN_FILENO, buf_ + end_, static_cast<size_t>(kBufferSize - end_));
        if (got > 0) {
            end_ += static_cast<int>(got);
        } else if (got == 0) {
            // A terminal's Ctrl-D hands over what was typed and reading goes on,
            // unless the terminal itself has gone away.
            if (!terminal_ || (fds[0].revents & POLLHUP)) {
                ended_ = true;
            } else if (end_ > start_) {
                return takePiece(out, cap, true);
            }
        } else if (errno != EINTR && errno != EAGAIN) {
            if (terminal_ && errno == EIO) {
                ended_ = true;  // the terminal hung up
            } else {
                return kError;
            }
        }
    }
}

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

bool StdinReader::takeBuffered(std::string& line) {
    const char* p = buf_ + start_;
    const int avail = end_ - start_;
    const void* lf = std::memchr(p, '\n', static_cast<size_t>(avail));
    const int n = lf ? static_cast<int>(static_cast<const char*>(lf) - p) + 1 : avail;
    line.append(p, static_cast<size_t>(n));
    start_ += n;
    if (start_ == end_) start_ = end_ = 0;
    return lf != nullptr;
}

namespace {
// The length of a line's text: without its LF and a CR before it.
size_t textLength(const std::string& line) {
    size_t n = line.size();
    if (n > 0 && line[n - 1] == '\n') --n;
    if (n > 0 && line[n - 1] == '\r') --n;
    return n;
}
}  // namespace

int StdinReader::readLine(std::string& line, int maxLine) {
    line.clear();
    const size_t limit = maxLine < 0 ? 0 : static_cast<size_t>(maxLine);
    bool tooLong = false;  // the line is dropped; read on to its end
    auto finish = [&]() -> int {
        if (!tooLong && textLength(line) > limit) tooLong = true;
        if (tooLong) {
            line.clear();
            return kTooLong;
        }
        return static_cast<int>(line.size());
    };
    for (;;) {
        if (end_ > start_) {
            const bool complete = takeBuffered(line);
            if (complete) return finish();
            // Room for a CR still to come; anything beyond is too long already.
            if (line.size() > limit + 1) {
                tooLong = true;
                line.clear();
            }
            continue;
        }
        if (ended_) return tooLong || !line.empty() ? finish() : kEnd;
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
        const ssize_t got = ::read(STDIN_FILENO, buf_, sizeof buf_);
        if (got > 0) {
            start_ = 0;
            end_ = static_cast<int>(got);
        } else if (got == 0) {
            // A terminal's Ctrl-D hands over what was typed and reading goes on,
            // unless the terminal itself has gone away.
            if (!terminal_ || (fds[0].revents & POLLHUP)) {
                ended_ = true;
            } else if (tooLong || !line.empty()) {
                return finish();
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

// POSIX implementation of the terminal layer: isatty() decides whether colour
// sequences are written at all; standard input is read with poll() on the
// descriptor and on a pipe that wake() writes to, so a stop never waits for
// the user. The modes of an input terminal are saved before anything changes
// them and restored on every way out.
#include "base/platform/terminal.h"

#include "base/platform/console.h"
#include "base/platform/line_editor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

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

namespace {
// The modes of the input terminal before the program changed them; written
// once, before g_terminalSaved is set, and only read after it.
struct termios g_savedModes;
std::atomic<bool> g_terminalSaved{false};
std::once_flag g_saveOnce;
}  // namespace

bool platformConsoleSize(int* columns, int* rows) {
    winsize w{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &w) != 0 || w.ws_col == 0 || w.ws_row == 0) return false;
    *columns = w.ws_col;
    *rows = w.ws_row;
    return true;
}

void platformSaveTerminal() {
    std::call_once(g_saveOnce, [] {
        if (::isatty(STDIN_FILENO) == 0 || ::tcgetattr(STDIN_FILENO, &g_savedModes) != 0) return;
        g_terminalSaved.store(true);
        // Also after an exit from any thread (an internal error, say).
        std::atexit(platformRestoreTerminal);
    });
}

void platformRestoreTerminal() {
    if (g_terminalSaved.load()) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedModes);
}

void terminalClear() {
    if (!platformStdoutIsTerminal()) return;
    // Through the line editor, which draws a line being edited again at the top.
    static const char kClear[] = "\x1b[H\x1b[2J\x1b[3J";
    platformWriteStdout(kClear, static_cast<int>(sizeof kClear - 1));
}

void terminalPushTitle() {
    if (!platformStdoutIsTerminal()) return;
    static const char kPush[] = "\x1b[22;0t";
    platformWriteStdout(kPush, static_cast<int>(sizeof kPush - 1));
}

void terminalSetTitle(const char* text) {
    if (!platformStdoutIsTerminal()) return;
    std::string seq = "\x1b]0;";
    for (const char* p = text; *p; ++p)
        if (static_cast<unsigned char>(*p) >= 0x20 && *p != 0x7F) seq.push_back(*p);
    seq.push_back('\x07');
    platformWriteStdout(seq.data(), static_cast<int>(seq.size()));
}

void terminalPopTitle() {
    if (!platformStdoutIsTerminal()) return;
    static const char kPop[] = "\x1b[23;0t";
    platformWriteStdout(kPop, static_cast<int>(sizeof kPop - 1));
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
    editor_.reset();
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

bool StdinReader::enableEditor() {
    if (!editor_) editor_ = LineEditor::open(*this);
    return editor_ != nullptr;
}

void StdinReader::closeEditor() { editor_.reset(); }

void StdinReader::recheck() {
    if (editor_) editor_->recheck();
}

bool StdinReader::popByte(unsigned char& byte) {
    if (start_ >= end_) return false;
    byte = static_cast<unsigned char>(buf_[start_++]);
    if (start_ == end_) start_ = end_ = 0;
    return true;
}

int StdinReader::fill(int extraFd) {
    for (;;) {
        if (ended_) return kEnd;
        pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {wakeRead_, POLLIN, 0}, {extraFd, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return kError;
        }
        if (fds[1].revents & POLLIN) return kWoken;
        if (fds[2].revents & POLLIN) return kRecheck;
        if (fds[0].revents & POLLNVAL) return kEnd;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t got = ::read(STDIN_FILENO, buf_ + end_, sizeof buf_ - static_cast<size_t>(end_));
        if (got > 0) {
            end_ += static_cast<int>(got);
            return static_cast<int>(got);
        }
        if (got == 0 || errno == EIO) {
            ended_ = true;  // the terminal has gone away
            return kEnd;
        }
        if (errno != EINTR && errno != EAGAIN) return kError;
    }
}

int StdinReader::readLine(std::string& line, int maxLine) {
    if (!editor_) return readPlain(line, maxLine);
    const int n = editor_->readLine(line, maxLine);
    if (n >= 0) line.push_back('\n');
    return n >= 0 ? static_cast<int>(line.size()) : n;
}

namespace {
// Applies erase (DEL, BS) and kill (Ctrl-U) characters to a line typed
// without the terminal's help, as the terminal would have; an erase takes a
// whole UTF-8 character.
void applyEditing(std::string& line) {
    std::string out;
    for (const char c : line) {
        if (c == 0x7f || c == 0x08) {
            while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
            if (!out.empty()) out.pop_back();
        } else if (c == 0x15) {
            out.clear();
        } else {
            out.push_back(c);
        }
    }
    line.swap(out);
}
}  // namespace

int StdinReader::readSecret(std::string& line, int maxLine) {
    if (!terminal_) return readPlain(line, maxLine);
    platformSaveTerminal();
    struct termios before;
    const bool plainTerminal = !editor_ && ::tcgetattr(STDIN_FILENO, &before) == 0;
    if (editor_) {
        editor_->beginSecret();
    } else if (plainTerminal) {
        struct termios hidden = before;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK);
        hidden.c_lflag |= ICANON;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &hidden);
    }
    int n = readPlain(line, maxLine);
    if (editor_) {
        editor_->endSecret();
    } else if (plainTerminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &before);
        // The line end typed was not shown either.
        platformWriteStdout("\r\n", 2);
    }
    if (n > 0) {
        const bool lf = line.back() == '\n';
        if (lf) line.pop_back();
        applyEditing(line);
        if (lf) line.push_back('\n');
        n = static_cast<int>(line.size());
    }
    return n;
}

int StdinReader::readPlain(std::string& line, int maxLine) {
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
            // A terminal's Ctrl-D hands over what was typed; on an empty line
            // it ends the input, as does a terminal that has gone away.
            if (!terminal_ || (fds[0].revents & POLLHUP) || (!tooLong && line.empty())) {
                ended_ = true;
            } else {
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

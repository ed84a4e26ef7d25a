// Process runner for end-to-end tests: fork and exec with pipes (or a
// pseudo-terminal for the output), one poll loop that writes the input and
// reads the output, and a deadline after which the program is killed.
// Test code, so it uses POSIX directly.
#include "tests/support/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace vltest {

void LiveIo::type(const std::string& text) {
    std::lock_guard<std::mutex> g(m_);
    typed_ += text;
}

void LiveIo::signal(int sig) {
    std::lock_guard<std::mutex> g(m_);
    signals_.push_back(sig);
}

std::string LiveIo::output() const {
    std::lock_guard<std::mutex> g(m_);
    return out_;
}

bool LiveIo::terminalOpen() const {
    std::lock_guard<std::mutex> g(m_);
    return terminal_ >= 0;
}

bool LiveIo::terminalMode(unsigned flag) const {
    std::lock_guard<std::mutex> g(m_);
    termios modes{};
    return terminal_ >= 0 && ::tcgetattr(terminal_, &modes) == 0 && (modes.c_lflag & flag) != 0;
}

bool LiveIo::terminalEchoes() const { return terminalMode(ECHO); }

bool LiveIo::terminalReadsLines() const { return terminalMode(ICANON); }

int64_t monoMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool waitUntil(const std::function<bool()>& cond, int timeoutMs) {
    for (const int64_t end = monoMs() + timeoutMs; !cond();) {
        if (monoMs() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

namespace {

bool sameModes(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
           a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

}  // namespace

RunResult runProcess(const std::string& program, const RunOptions& o) {
    RunResult result;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, slave = -1;
    // The terminal's modes are read on its other side, which a hang-up at the
    // program's end leaves readable (the modes are those of the program's side).
    int modesFd = -1;
    std::string slaveName;
    const bool terminal = o.terminal || o.terminalInput;
    if (!o.terminalInput && ::pipe2(in, O_CLOEXEC) != 0) return result;
    termios modesBefore{};
    if (terminal) {
        out[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (out[0] < 0 || ::grantpt(out[0]) != 0 || ::unlockpt(out[0]) != 0) return result;
        slaveName = ::ptsname(out[0]);
        // Held open here too, so the master never reports a hang-up before the
        // program has opened its side; the output is drained once it has ended.
        slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        winsize size{};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(o.columns);
        ::ioctl(out[0], TIOCSWINSZ, &size);
        if (o.terminalInput) {
            in[1] = ::fcntl(out[0], F_DUPFD_CLOEXEC, 0);  // typing goes into the terminal
            modesFd = ::fcntl(out[0], F_DUPFD_CLOEXEC, 0);
            ::tcgetattr(modesFd, &modesBefore);
            if (o.live) {
                std::lock_guard<std::mutex> g(o.live->m_);
                o.live->terminal_ = modesFd;
            }
        }
    } else if (::pipe2(out, O_CLOEXEC) != 0) {
        return result;
    }
    std::vector<std::string> args{program}, env;
    args.insert(args.end(), o.args.begin(), o.args.end());
    // The locale chooses the character set and the language: unless a run
    // names its own, every run gets the C locale, and a run that names some
    // of the variables gets none of the machine's others, so that no
    // expectation depends on the machine's locale.
    auto isLocale = [](const std::string& name) { return name == "LANG" || name == "LANGUAGE" || name.rfind("LC_", 0) == 0; };
    std::vector<std::string> extra = o.env;
    bool locale = false;
    for (const std::string& x : o.env) locale |= isLocale(x.substr(0, x.find('=')));
    if (!locale) extra.push_back("LC_ALL=C");
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e, name = entry.substr(0, entry.find('='));
        bool replaced = locale && isLocale(name);
        for (const std::string& x : extra) replaced |= x.substr(0, x.find('=')) == name;
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    // The child sets itself up between fork and exec (posix_spawn can neither
    // set a limit nor ignore a signal), with async-signal-safe calls only.
    std::vector<char*> argv = pointers(args), envp = pointers(env);
    const rlimit limit{static_cast<rlim_t>(o.fileLimit), static_cast<rlim_t>(o.fileLimit)};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const auto onto = [](int fd, int target) {
            if (fd >= 0 && fd != target) {
                ::dup2(fd, target);
                ::close(fd);
            }
        };
        if (o.terminalInput) {
            // A session of its own, whose controlling terminal the first open makes this one.
            ::setsid();
            ::close(0);
            onto(::open(slaveName.c_str(), O_RDWR), 0);
            ::dup2(0, 1);
        } else {
            ::dup2(in[0], 0);
            if (terminal)
                onto(::open(slaveName.c_str(), O_RDWR | O_NOCTTY), 1);
            else
                ::dup2(out[1], 1);
        }
        ::dup2(1, 2);
        if (o.childSignalIgnored) ::signal(SIGCHLD, SIG_IGN);
        if ((o.workDir.empty() || ::chdir(o.workDir.c_str()) == 0) &&
            (o.fileLimit <= 0 || ::setrlimit(RLIMIT_NOFILE, &limit) == 0))
            ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    const int rc = pid < 0 ? errno : 0;
    closeFd(in[0]);
    closeFd(out[1]);
    int& inFd = in[1];
    int& outFd = out[0];
    ::fcntl(inFd, F_SETFL, O_NONBLOCK);
    std::string toWrite = o.input;
    if (rc != 0 || (toWrite.empty() && !o.live)) closeFd(inFd);

    // Reads output once, or until nothing is left; closes outFd at its end.
    auto drain = [&](bool all) {
        char buf[65536];
        do {
            const ssize_t got = ::read(outFd, buf, sizeof buf);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
            if (got <= 0) return closeFd(outFd);  // end of output (a terminal reports EIO)
            result.out.append(buf, static_cast<size_t>(got));
            if (o.live) {
                std::lock_guard<std::mutex> g(o.live->m_);
                o.live->out_.append(buf, static_cast<size_t>(got));
            }
        } while (all);
    };
    const int64_t start = monoMs();
    int64_t exitedAt = rc == 0 ? -1 : start;
    int status = 0;
    while (outFd >= 0 || exitedAt < 0) {
        const int64_t now = monoMs();
        if (exitedAt < 0) {
            bool ended = ::waitpid(pid, &status, WNOHANG) == pid;
            if (!ended && now >= start + o.timeoutMs) {
                ::kill(pid, SIGKILL);
                ended = result.timedOut = ::waitpid(pid, &status, 0) == pid;
            }
            if (ended) {
                exitedAt = now;
                closeFd(inFd);
                if (terminal && outFd >= 0) {
                    // Everything the program wrote is in the terminal's buffer now.
                    ::fcntl(outFd, F_SETFL, O_NONBLOCK);
                    drain(true);
                    closeFd(outFd);
                }
            }
        }
        if (exitedAt >= 0 && now - exitedAt > 2000) break;  // output held open by a child
        if (terminal && o.hangUpAfterMs >= 0 && now >= start + o.hangUpAfterMs) {
            closeFd(outFd);  // the terminal goes away: the program's writes fail from now on
            closeFd(slave);
        }
        if (o.live) {
            std::lock_guard<std::mutex> g(o.live->m_);
            if (inFd >= 0) toWrite += o.live->typed_;
            o.live->typed_.clear();
            if (exitedAt < 0)
                for (const int sig : o.live->signals_) ::kill(pid, sig);
            o.live->signals_.clear();
        }
        pollfd fds[2] = {{outFd, POLLIN, 0}, {toWrite.empty() ? -1 : inFd, POLLOUT, 0}};
        if (::poll(fds, 2, 20) <= 0) continue;
        if (fds[1].revents) {
            const ssize_t w = ::write(inFd, toWrite.data(), toWrite.size());
            if (w > 0) toWrite.erase(0, static_cast<size_t>(w));
            if (w < 0 && errno != EAGAIN && errno != EINTR) toWrite.clear();
            if (toWrite.empty() && !o.live) closeFd(inFd);
        }
        if (fds[0].revents) drain(false);
    }
    if (o.terminalInput && modesFd >= 0) {
        termios modesAfter{};
        result.terminalModesKept = ::tcgetattr(modesFd, &modesAfter) == 0 && sameModes(modesBefore, modesAfter);
    }
    if (o.live) {
        std::lock_guard<std::mutex> g(o.live->m_);
        o.live->terminal_ = -1;
    }
    for (int* fd : {&inFd, &outFd, &slave, &modesFd}) closeFd(*fd);
    if (rc == 0 && !result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (rc == 0 && !result.timedOut && WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

std::string vesperlinePath() { return VESPERLINE_EXE; }

RunResult runVesperline(const RunOptions& options) { return runProcess(vesperlinePath(), options); }

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/vltest-XXXXXX";
    if (::mkdtemp(name.data())) path_ = name;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
    writeFile(file(name), content);
    return file(name);
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

int countOf(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t at = 0; !needle.empty() && (at = text.find(needle, at)) != std::string::npos; at += needle.size()) ++n;
    return n;
}

}  // namespace vltest

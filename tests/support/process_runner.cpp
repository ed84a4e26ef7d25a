// Process runner for end-to-end tests: posix_spawn with pipes (or a
// pseudo-terminal for standard output), one poll loop that writes the input and
// reads both outputs, and a deadline after which the program is killed.
#include "tests/support/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace vltest {

namespace {

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::vector<std::string> buildEnv(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extra)
            if (x.substr(0, x.find('=')) == name) replaced = true;
        if (!replaced) env.push_back(entry);
    }
    for (const std::string& x : extra) env.push_back(x);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

}  // namespace

RunResult runProcess(const std::string& program, const RunOptions& options) {
    RunResult result;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    int master = -1;
    int slave = -1;
    std::string slaveName;
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return result;
    if (options.terminal) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return result;
        slaveName = ::ptsname(master);
        // Held open here too, so the master never reports a hang-up before the
        // program has opened its side; the output is drained once it has ended.
        slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    } else if (::pipe2(out, O_CLOEXEC) != 0) {
        return result;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    if (options.terminal) {
        posix_spawn_file_actions_addopen(&actions, 1, slaveName.c_str(), O_RDWR | O_NOCTTY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    }
    if (!options.workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workDir.c_str());

    std::vector<std::string> argStrings;
    argStrings.push_back(program);
    for (const std::string& a : options.args) argStrings.push_back(a);
    std::vector<char*> argv = pointers(argStrings);
    std::vector<std::string> envStrings = buildEnv(options.env);
    std::vector<char*> envp = pointers(envStrings);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    closeFd(in[0]);
    closeFd(out[1]);
    closeFd(err[1]);
    if (rc != 0) {
        closeFd(in[1]);
        closeFd(out[0]);
        closeFd(err[0]);
        closeFd(master);
        closeFd(slave);
        return result;
    }

    int outFd = options.terminal ? master : out[0];
    int errFd = err[0];
    int inFd = in[1];
    ::fcntl(inFd, F_SETFL, O_NONBLOCK);
    size_t written = 0;
    if (options.input.empty() && options.closeInput) closeFd(inFd);

    const int64_t startedAt = nowMs();
    const int64_t deadline = startedAt + options.timeoutMs;
    int64_t exitedAt = -1;
    bool exited = false;
    int status = 0;
    static thread_local char buf[65536];
    while (outFd >= 0 || errFd >= 0 || !exited) {
        if (!exited && ::waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            exitedAt = nowMs();
            if (!options.closeInput) closeFd(inFd);
            if (options.terminal) {
                // Everything the program wrote is in the terminal's buffer now.
                ::fcntl(outFd, F_SETFL, O_NONBLOCK);
                for (;;) {
                    const ssize_t got = ::read(outFd, buf, sizeof buf);
                    if (got <= 0) break;
                    result.out.append(buf, static_cast<size_t>(got));
                }
                closeFd(outFd);
                closeFd(slave);
            }
        }
        const int64_t now = nowMs();
        if (!exited && now >= deadline) {
            ::kill(pid, SIGKILL);
            result.timedOut = true;
            ::waitpid(pid, &status, 0);
            exited = true;
            exitedAt = now;
        }
        // Output still held open by something the program left behind.
        if (exited && now - exitedAt > 2000) break;
        if (options.terminal && options.hangUpAfterMs >= 0 && outFd >= 0 &&
            now >= startedAt + options.hangUpAfterMs) {
            // The terminal goes away: the program's writes to it fail from now on.
            closeFd(outFd);
            closeFd(slave);
        }
        pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outFd >= 0) { outIdx = n; fds[n++] = {outFd, POLLIN, 0}; }
        if (errFd >= 0) { errIdx = n; fds[n++] = {errFd, POLLIN, 0}; }
        if (inFd >= 0 && written < options.input.size()) { inIdx = n; fds[n++] = {inFd, POLLOUT, 0}; }
        const int r = ::poll(fds, static_cast<nfds_t>(n), 20);
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t w = ::write(inFd, options.input.data() + written, options.input.size() - written);
            if (w > 0) written += static_cast<size_t>(w);
            if (w < 0 && errno != EAGAIN && errno != EINTR) written = options.input.size();
            if (written >= options.input.size() && options.closeInput) closeFd(inFd);
        }
        auto drain = [&](int idx, int& fd, std::string& into) {
            if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
            const ssize_t got = ::read(fd, buf, sizeof buf);
            if (got > 0) {
                into.append(buf, static_cast<size_t>(got));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                closeFd(fd);  // end of output (a terminal reports EIO)
            }
        };
        drain(outIdx, outFd, result.out);
        drain(errIdx, errFd, result.err);
    }
    if (!exited) {
        if (::waitpid(pid, &status, 0) == pid) exited = true;
    }
    closeFd(inFd);
    closeFd(outFd);
    closeFd(errFd);
    closeFd(slave);
    if (exited && !result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

std::string vesperlinePath() { return VESPERLINE_EXE; }

RunResult runVesperline(const RunOptions& options) { return runProcess(vesperlinePath(), options); }

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vltest-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data())) path_ = name.data();
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return path_ + "/" + name; }

std::string TempDir::write(const std::string& name, const std::string& content) const {
    const std::string p = file(name);
    std::ofstream f(p, std::ios::binary);
    f << content;
    return p;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

void makeExecutable(const std::string& path) { ::chmod(path.c_str(), 0700); }

int countOf(const std::string& text, const std::string& needle) {
    if (needle.empty()) return 0;
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
    return n;
}

}  // namespace vltest

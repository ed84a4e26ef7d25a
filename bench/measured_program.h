// The built program under measurement, for the benchmarks that watch it
// from outside: started with standard input a pipe that stays open (lines are
// typed into it) and standard output a file, with its memory, descriptors,
// CPU time and children read from /proc.
//
// Benchmark code standing apart from the program, so it uses POSIX directly.
// Header only: each benchmark is one program.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/process_runner.h"

extern char** environ;

namespace bench {

// The program under measurement: standard input a pipe we keep open, standard
// output a file.
class Program {
public:
    // out must exist and be empty (see freshFile).
    Program(const std::string& dir, const std::string& out, std::vector<std::string> args) : out_(out) {
        int in[2];
        if (pipe(in) != 0) std::abort();
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        posix_spawn_file_actions_addopen(&fa, 1, out_.c_str(), O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
        const std::string exe = vltest::vesperlinePath();
        // The listings' summaries are waited for in Japanese, whatever the locale.
        args.push_back("-lang:ja");
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        args_ = std::move(args);
        if (posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0) std::abort();
        posix_spawn_file_actions_destroy(&fa);
        close(in[0]);
        stdin_ = in[1];
    }
    ~Program() {
        if (stdin_ >= 0) close(stdin_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void type(const std::string& text) {
        if (write(stdin_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
    }
    // Types !q and waits for the end; the exit code.
    int quit() {
        type("!q\n");
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int pid() const { return pid_; }
    std::string output() const { return vltest::readFile(out_); }
    long outputSize() const {
        std::ifstream f(out_, std::ios::binary | std::ios::ate);
        return f ? static_cast<long>(f.tellg()) : 0;
    }
    // The last n bytes of the output (read as such: the file grows meanwhile).
    std::string tail(long n) const {
        std::ifstream f(out_, std::ios::binary);
        f.seekg(0, std::ios::end);
        const long size = static_cast<long>(f.tellg());
        if (size <= 0) return "";
        const long take = std::min(size, n);
        std::string s(static_cast<size_t>(take), 0);
        f.seekg(size - take);
        f.read(s.data(), take);
        return s;
    }
    // Waits until the output holds needle at least times times.
    bool waitFor(const std::string& needle, int times, int timeoutMs) const {
        const int64_t end = vltest::monoMs() + timeoutMs;
        while (vltest::monoMs() < end) {
            if (vltest::countOf(output(), needle) >= times) return true;
            usleep(20000);
        }
        return false;
    }
    // A field of /proc/<pid>/status in KiB ("VmHWM" the peak, "VmRSS" now).
    long statusKiB(const char* field = "VmHWM") const {
        std::ifstream f("/proc/" + std::to_string(pid_) + "/status");
        const std::string key = std::string(field) + ":";
        std::string line;
        while (std::getline(f, line))
            if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
        return -1;
    }
    long peakKiB() const { return statusKiB("VmHWM"); }
    // Descriptors the process has open now.
    int descriptors() const {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd")) {
            (void)e;
            ++n;
        }
        return n;
    }
    // User plus system CPU time in seconds.
    double cpuSeconds() const {
        std::ifstream f("/proc/" + std::to_string(pid_) + "/stat");
        std::string all((std::istreambuf_iterator<char>(f)), {});
        std::istringstream rest(all.substr(all.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; rest >> field; ++i) {
            if (i == 14) utime = std::atol(field.c_str());
            if (i == 15) {
                stime = std::atol(field.c_str());
                break;
            }
        }
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

private:
    std::string out_;
    std::vector<std::string> args_;
    pid_t pid_ = -1;
    int stdin_ = -1;
};

// An empty file at path, made before a measurement starts: removing a big file
// written just before can take long, and must not be measured.
inline std::string freshFile(const std::string& path) {
    unlink(path.c_str());
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    return path;
}

// The processes whose parent is pid.
inline std::vector<int> childrenOf(int pid) {
    std::vector<int> found;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string name = e.path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(e.path() / "stat");
        std::string all((std::istreambuf_iterator<char>(stat)), {});
        const size_t paren = all.rfind(')');
        if (paren == std::string::npos) continue;
        std::istringstream rest(all.substr(paren + 2));
        std::string state;
        int parent = 0;
        rest >> state >> parent;
        if (parent == pid) found.push_back(std::atoi(name.c_str()));
    }
    return found;
}

// The resident memory of processes together, in KiB.
inline long residentKiB(const std::vector<int>& pids) {
    long kib = 0;
    for (const int pid : pids) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0) kib += std::atol(line.c_str() + 6);
    }
    return kib;
}

// A folder for streams and their copies: in memory (/dev/shm) when the machine
// has one, so that the disk's own pace does not enter the figures, else
// fallback. A folder of its own is removed at the end, with the copies the
// benchmarks leave in it (out.txt, minimal.txt).
class StreamFolder {
public:
    explicit StreamFolder(std::string fallback) : path_(std::move(fallback)) {
        char shm[] = "/dev/shm/vl-bench-XXXXXX";
        if (mkdtemp(shm) != nullptr) {
            path_ = shm;
            own_ = true;
        }
    }
    ~StreamFolder() {
        if (!own_) return;
        unlink((path_ + "/out.txt").c_str());
        unlink((path_ + "/minimal.txt").c_str());
        rmdir(path_.c_str());
    }
    StreamFolder(const StreamFolder&) = delete;
    StreamFolder& operator=(const StreamFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool own_ = false;
};

// MB/s of the program showing bytes it receives on one connection: starts it
// in dir with args (standard output to out.txt), waits up to ten minutes for
// closeNotice at the end of its output, and quits it. 0 when it never came.
inline double streamRate(uint64_t bytes, const std::string& dir, const std::vector<std::string>& args,
                         const std::string& closeNotice) {
    const std::string out = freshFile(dir + "/out.txt");
    const int64_t t0 = vltest::monoMs();
    Program p(dir, out, args);
    while (p.tail(static_cast<long>(closeNotice.size())) != closeNotice) {
        if (vltest::monoMs() - t0 > 600000) {
            std::printf("  no end after 10 minutes\n");
            return 0;
        }
        usleep(2000);
    }
    const double secs = static_cast<double>(vltest::monoMs() - t0) / 1000.0;
    const long size = p.outputSize();
    p.quit();
    freshFile(out);
    if (size < static_cast<long>(bytes)) std::printf("  only %ld bytes were shown!\n", size);
    return static_cast<double>(bytes) / secs / 1e6;
}

// What opening many connections at once cost: measured by openAtOnce.
struct OpenedAtOnce {
    double seconds = 0;  // from the !rcf until every open was greeted or refused
    bool all = false;    // every one greeted
    int shown = 0;       // greetings shown
    int errors = 0;      // errors reported (refused opens)
    bool listed = false; // !lc listed every greeted one
    int baseFds = 0, fds = 0;
    long baseKiB = 0, rssKiB = 0, peakKiB = 0;
};

// Starts the program idle in dir, then has it read the n !open lines of
// commands at once (through a command file scale.txt) and waits up to ten
// minutes until each open has shown greeting or been refused with an
// "Error"; measures descriptors and memory then. whileOpen(p) runs while
// everything is open, before the listing; the program is left running.
template <typename WhileOpen>
OpenedAtOnce openAtOnce(Program& p, const std::string& dir, const std::string& commands, int n,
                        const std::string& greeting, WhileOpen whileOpen) {
    OpenedAtOnce r;
    std::ofstream(dir + "/scale.txt") << commands;
    p.type("!lc\n");
    if (!p.waitFor("0 個の接続があります", 1, 10000)) std::printf("  the program did not start!\n");
    r.baseFds = p.descriptors();
    r.baseKiB = p.statusKiB("VmRSS");
    const int64_t t0 = vltest::monoMs();
    p.type("!rcf scale.txt\n");
    for (const int64_t end = vltest::monoMs() + 600000; vltest::monoMs() < end; usleep(20000)) {
        const std::string out = p.output();
        const int greeted = vltest::countOf(out, greeting);
        if (greeted + vltest::countOf(out, "Error") >= n) {
            r.all = greeted == n;
            break;
        }
    }
    r.seconds = static_cast<double>(vltest::monoMs() - t0) / 1000.0;
    r.fds = p.descriptors();
    r.rssKiB = p.statusKiB("VmRSS");
    r.peakKiB = p.peakKiB();
    whileOpen(p);
    const std::string out = p.output();
    r.shown = vltest::countOf(out, greeting);
    r.errors = vltest::countOf(out, "Error");
    p.type("!lc\n");
    r.listed = p.waitFor(std::to_string(r.shown) + " 個の接続があります", 1, 60000);
    return r;
}

// Prints the figures of openAtOnce for n connections.
inline void printOpenedAtOnce(const OpenedAtOnce& r, int n) {
    std::printf("  all greeted after       %8.2f s%s\n", r.seconds, r.all ? "" : "  (not all: see the errors)");
    std::printf("  greetings shown         %8d of %d\n", r.shown, n);
    std::printf("  errors reported         %8d  (opens refused for the limit of open files)\n", r.errors);
    std::printf("  all %d listed         %8s\n", r.shown, r.listed ? "yes" : "no!");
    std::printf("  peak memory             %8.1f MiB\n", static_cast<double>(r.peakKiB) / 1024.0);
    std::printf("  memory per connection   %8.1f KiB  (resident, all open, less the idle program)\n",
                static_cast<double>(r.rssKiB - r.baseKiB) / n);
    std::printf("  descriptors             %8d idle, %d with all open: %.2f per connection\n", r.baseFds, r.fds,
                static_cast<double>(r.fds - r.baseFds) / n);
}

}  // namespace bench

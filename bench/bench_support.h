// What the atom and isolation benchmarks share: a loopback server that
// answers every "run <n>" line at once with a few lines and the marker #END#
// (and times it), servers that stand for troublesome hosts, a minimal client
// that is the limit, and the built program run on a command file.
//
// Benchmark code standing apart from the program, so it uses POSIX directly,
// as the test servers do. Header only: each benchmark is one program.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

inline int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] inline void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

// A socket listening on 127.0.0.1 on a port the kernel picks.
inline int listenOnLoopback(int backlog, int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) fail("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0) fail("bind/listen");
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

// A loopback server that answers every line starting with "run " at once and
// times the answers: from the first such line it receives to the last answer
// it sends. Other lines are read and ignored. reply, when given, makes the
// answer instead of the usual one (job text and #END#).
class AnswerServer {
public:
    explicit AnswerServer(int target, std::function<std::string(const std::string&)> reply = nullptr)
        : target_(target), reply_(std::move(reply)) {
        listenFd_ = listenOnLoopback(128, &port_);
        thread_ = std::thread([this] { loop(); });
    }
    ~AnswerServer() {
        stop_ = true;
        thread_.join();
        for (Client& c : clients_) ::close(c.fd);
        ::close(listenFd_);
    }
    int port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    bool waitDone(int timeoutMs) const {
        const int64_t end = nowNs() + int64_t{timeoutMs} * 1000000;
        while (answered_.load() < target_) {
            if (nowNs() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    int answered() const { return answered_.load(); }
    double seconds() const { return (lastAnswerNs_ - firstLineNs_) / 1e9; }
    std::vector<int64_t> gapsNs() const {
        std::lock_guard<std::mutex> g(m_);
        return gaps_;
    }

private:
    struct Client {
        int fd;
        std::string in;
        int64_t answeredAt = 0;  // when the last answer went out; 0 before the first
    };

    void loop() {
        while (!stop_) {
            std::vector<pollfd> fds;
            fds.push_back({listenFd_, POLLIN, 0});
            for (const Client& c : clients_) fds.push_back({c.fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    const int one = 1;
                    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    clients_.push_back({fd, "", 0});
                }
            }
            for (size_t i = 1; i < fds.size(); ++i)
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) serve(clients_[i - 1]);
            clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [](const Client& c) { return c.fd < 0; }),
                           clients_.end());
        }
    }

    void serve(Client& c) {
        char buf[16384];
        const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n <= 0) {
            ::close(c.fd);
            c.fd = -1;
            return;
        }
        const int64_t arrived = nowNs();
        c.in.append(buf, static_cast<size_t>(n));
        for (size_t eol; (eol = c.in.find('\n')) != std::string::npos;) {
            const std::string line = c.in.substr(0, eol);
            c.in.erase(0, eol + 1);
            if (line.compare(0, 4, "run ") != 0) continue;
            if (firstLineNs_ == 0) firstLineNs_ = arrived;
            if (c.answeredAt != 0) {
                std::lock_guard<std::mutex> g(m_);
                gaps_.push_back(arrived - c.answeredAt);
            }
            std::string job = line.substr(4);
            while (!job.empty() && (job.back() == '\r')) job.pop_back();
            const std::string answer =
                reply_ ? reply_(job) : "job " + job + ": ok\r\n  rows: 3\r\n  state: done\r\n#END#\r\n";
            for (size_t sent = 0; sent < answer.size();) {
                const ssize_t w = ::send(c.fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
                if (w <= 0) break;
                sent += static_cast<size_t>(w);
            }
            c.answeredAt = nowNs();
            lastAnswerNs_ = c.answeredAt;
            answered_++;
        }
    }

    const int target_;
    std::function<std::string(const std::string&)> reply_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::atomic<int64_t> firstLineNs_{0};
    std::atomic<int64_t> lastAnswerNs_{0};
    std::vector<Client> clients_;
    mutable std::mutex m_;
    std::vector<int64_t> gaps_;
    std::thread thread_;
};

// A host that never answers: a listening socket whose queue is kept full, so
// that the kernel drops every further SYN and a connect hangs until its limit.
class DeadHost {
public:
    DeadHost() {
        listenFd_ = listenOnLoopback(0, &port_);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port_));
        for (int i = 0; i < 3; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers_.push_back(fd);
        }
    }
    ~DeadHost() {
        for (const int fd : fillers_) ::close(fd);
        ::close(listenFd_);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int listenFd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

// The limit: one thread, one poll loop over the connections, nothing else.
// Returns atoms per second (0 when it did not finish).
inline double minimalClient(int atoms, int connections) {
    AnswerServer server(atoms);
    std::vector<int> fds;
    std::vector<std::string> in(static_cast<size_t>(connections));
    int next = 1;
    auto sendNext = [&](int i) {
        if (next > atoms) return;
        const std::string line = "run " + std::to_string(next++) + "\r\n";
        ::send(fds[static_cast<size_t>(i)], line.data(), line.size(), MSG_NOSIGNAL);
    };
    for (int i = 0; i < connections; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(server.port()));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) fail("connect");
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fds.push_back(fd);
    }
    for (int i = 0; i < connections; ++i) sendNext(i);
    int completed = 0;
    std::vector<pollfd> p(static_cast<size_t>(connections));
    while (completed < atoms) {
        for (int i = 0; i < connections; ++i) p[static_cast<size_t>(i)] = {fds[static_cast<size_t>(i)], POLLIN, 0};
        if (::poll(p.data(), p.size(), 1000) <= 0) break;
        for (int i = 0; i < connections; ++i) {
            if (!(p[static_cast<size_t>(i)].revents & POLLIN)) continue;
            char buf[16384];
            const ssize_t n = ::recv(fds[static_cast<size_t>(i)], buf, sizeof buf, 0);
            if (n <= 0) continue;
            std::string& seen = in[static_cast<size_t>(i)];
            seen.append(buf, static_cast<size_t>(n));
            if (seen.find("#END#") == std::string::npos) continue;
            seen.clear();
            ++completed;
            sendNext(i);
        }
    }
    const bool done = server.waitDone(10000);
    for (int fd : fds) ::close(fd);
    return done ? atoms / server.seconds() : 0;
}

// The built program run on a command file written by the caller, standard
// output to /dev/null, standard input a pipe that stays open until quit().
class Program {
public:
    Program(const std::string& program, const std::string& commands, const std::vector<std::string>& options) {
        char dir[] = "/tmp/vl-bench-XXXXXX";
        if (!::mkdtemp(dir)) fail("mkdtemp");
        dir_ = dir;
        file_ = dir_ + "/run.vl";
        std::ofstream(file_) << commands;
        int in[2];
        if (::pipe2(in, O_CLOEXEC) != 0) fail("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args = {program, file_, "-v:0"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) fail("posix_spawn");
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        stdin_ = in[1];
    }
    ~Program() { quit(); }
    pid_t pid() const { return pid_; }
    // Types !q and waits up to ten seconds for the end, then kills it.
    void quit() {
        if (pid_ <= 0) return;
        const ssize_t w = ::write(stdin_, "!q\n", 3);
        (void)w;
        ::close(stdin_);
        int status = 0;
        for (int i = 0; i < 200 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        std::remove(file_.c_str());
        ::rmdir(dir_.c_str());
    }

private:
    std::string dir_, file_;
    pid_t pid_ = -1;
    int stdin_ = -1;
};

// The program next to this benchmark's build folder: <build>/app/vesperline.
inline std::string defaultProgram(const char* self) {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string exe = n > 0 ? std::string(path, static_cast<size_t>(n)) : self;
    exe = exe.substr(0, exe.rfind('/'));  // .../bench
    exe = exe.substr(0, exe.rfind('/'));  // the build folder
    return exe + "/app/vesperline";
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace bench

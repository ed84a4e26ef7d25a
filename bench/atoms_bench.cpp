// Atom throughput benchmark: 2,000 atoms over 20 connections to a loopback
// server that answers each line at once with a few lines of output and the
// marker #END#. Prints atoms per second for vesperline with the default
// receive pause and with -wr:0, and for a minimal client written here that
// sends the same lines over 20 connections and waits for the same markers (the
// limit). Also prints the time from the server's marker to the next atom's
// first line arriving on the same connection (marker -> next line), which
// includes two loopback hops.
//
// Both sides are timed by the server: from the first line it receives to the
// last answer it sends. vesperline's output goes to /dev/null.
//
// Then the cost of a batch's bookkeeping: -wr:0 runs without and with a time
// limit for every atom (!atom-timeout) and a result file (-rf), alternately,
// three of each; the medians of the two rates are compared.
//
//   bench_atoms_bench [path/to/vesperline] [atoms] [connections] [nopause-only]
//
// With a fourth argument the run with the default pause (about 100 ms per atom
// and connection) is left out.
//
// Benchmark code standing apart from the program, so it uses POSIX directly,
// as the test servers do.
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
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

// The loopback server: answers every "run <n>" line at once and times it all.
class AnswerServer {
public:
    explicit AnswerServer(int target) : target_(target) {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listenFd_ < 0) fail("socket");
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listenFd_, 128) != 0)
            fail("bind/listen");
        socklen_t len = sizeof a;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { loop(); });
    }
    ~AnswerServer() {
        stop_ = true;
        thread_.join();
        for (Client& c : clients_) ::close(c.fd);
        ::close(listenFd_);
    }
    int port() const { return port_; }
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
            const std::string answer = "job " + job + ": ok\r\n  rows: 3\r\n  state: done\r\n#END#\r\n";
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

struct Figures {
    const char* mode;
    bool done;
    double atomsPerSecond;
    std::vector<int64_t> gaps;
};

double percentileMs(std::vector<int64_t> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))] / 1e6;
}

// The limit: one thread, one poll loop over the connections, nothing else.
Figures minimalClient(int atoms, int connections) {
    AnswerServer server(atoms);
    std::vector<int> fds;
    std::vector<std::string> in(connections);
    int next = 1;
    auto sendNext = [&](int i) {
        if (next > atoms) return;
        const std::string line = "run " + std::to_string(next++) + "\r\n";
        ::send(fds[i], line.data(), line.size(), MSG_NOSIGNAL);
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
    std::vector<pollfd> p(connections);
    while (completed < atoms) {
        for (int i = 0; i < connections; ++i) p[i] = {fds[i], POLLIN, 0};
        if (::poll(p.data(), p.size(), 1000) <= 0) break;
        for (int i = 0; i < connections; ++i) {
            if (!(p[i].revents & POLLIN)) continue;
            char buf[16384];
            const ssize_t n = ::recv(fds[i], buf, sizeof buf, 0);
            if (n <= 0) continue;
            in[i].append(buf, static_cast<size_t>(n));
            if (in[i].find("#END#") == std::string::npos) continue;
            in[i].clear();
            ++completed;
            sendNext(i);
        }
    }
    const bool done = server.waitDone(10000);
    for (int fd : fds) ::close(fd);
    return {"minimal client", done, done ? atoms / server.seconds() : 0, server.gapsNs()};
}

// vesperline with the atoms defined first and the connections opened last, so
// that only running them is timed. With batch, every atom has a time limit and
// a result file records every one (its lines are counted afterwards).
Figures vesperline(const std::string& program, int atoms, int connections, const char* mode, bool noPause,
                   bool batch = false) {
    AnswerServer server(atoms);
    char dir[] = "/tmp/vl-atoms-bench-XXXXXX";
    if (!::mkdtemp(dir)) fail("mkdtemp");
    const std::string file = std::string(dir) + "/atoms.vl";
    const std::string results = std::string(dir) + "/results.json";
    {
        std::ofstream f(file);
        if (batch) f << "!atom-timeout 60\n";
        for (int i = 1; i <= atoms; ++i) f << "!atom J" << i << "\nrun " << i << "\n!end-atom\n";
        for (int i = 0; i < connections; ++i) f << "!open 127.0.0.1:" << server.port() << " wait 0\n";
    }
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {program, file, "-v:0"};
    if (noPause) args.push_back("-wr:0");
    if (batch) args.push_back("-rf:" + results);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) fail("posix_spawn");
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);

    bool done = server.waitDone(300000);
    const ssize_t w = ::write(in[1], "!q\n", 3);
    (void)w;
    ::close(in[1]);
    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    std::remove(file.c_str());
    if (batch) {
        std::ifstream in(results);
        int lines = 0;
        for (std::string line; std::getline(in, line);) lines += line.find("\"completed\"") != std::string::npos;
        if (lines != atoms) std::fprintf(stderr, "%s: %d of %d atoms in the result file\n", mode, lines, atoms);
        done = done && lines == atoms;
        std::remove(results.c_str());
    }
    ::rmdir(dir);
    if (!done) std::fprintf(stderr, "%s: only %d of %d atoms answered\n", mode, server.answered(), atoms);
    return {mode, done, done ? atoms / server.seconds() : 0, server.gapsNs()};
}

std::string defaultProgram(const char* self) {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string exe = n > 0 ? std::string(path, static_cast<size_t>(n)) : self;
    exe = exe.substr(0, exe.rfind('/'));  // .../bench
    exe = exe.substr(0, exe.rfind('/'));  // the build folder
    return exe + "/app/vesperline";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 1 ? argv[1] : defaultProgram(argv[0]);
    const int atoms = argc > 2 ? std::atoi(argv[2]) : 2000;
    const int connections = argc > 3 ? std::atoi(argv[3]) : 20;
    std::printf("%d atoms over %d connections to a loopback server answering each line at once\n", atoms,
                connections);
    std::printf("vesperline: %s\n\n", program.c_str());
    std::fflush(stdout);

    std::vector<Figures> all;
    all.push_back(minimalClient(atoms, connections));
    all.push_back(vesperline(program, atoms, connections, "vesperline -wr:0", true));
    if (argc <= 4) all.push_back(vesperline(program, atoms, connections, "vesperline (default pause)", false));

    std::printf("%-28s %12s   %s\n", "", "atoms/s", "marker -> next line, ms (median / p90 / p99)");
    for (const Figures& f : all)
        std::printf("%-28s %12.0f   %.3f / %.3f / %.3f%s\n", f.mode, f.atomsPerSecond, percentileMs(f.gaps, 0.5),
                    percentileMs(f.gaps, 0.9), percentileMs(f.gaps, 0.99), f.done ? "" : "   (did not finish)");
    if (all[0].atomsPerSecond > 0)
        std::printf("\nvesperline -wr:0 reaches %.0f %% of the minimal client's rate\n",
                    100.0 * all[1].atomsPerSecond / all[0].atomsPerSecond);

    // Time limits and a result file: alternate runs, so that both see the
    // same state of the machine, and the medians compared.
    std::vector<double> plain, batch;
    bool batchDone = true;
    for (int round = 0; round < 3; ++round) {
        const Figures p = vesperline(program, atoms, connections, "vesperline -wr:0", true);
        const Figures b = vesperline(program, atoms, connections, "vesperline -wr:0 -rf, !atom-timeout", true, true);
        batchDone = batchDone && p.done && b.done;
        plain.push_back(p.atomsPerSecond);
        batch.push_back(b.atomsPerSecond);
    }
    std::sort(plain.begin(), plain.end());
    std::sort(batch.begin(), batch.end());
    std::printf("\n%-40s %12s\n", "-wr:0, three runs each, alternately", "atoms/s");
    std::printf("%-40s %12.0f   (%.0f .. %.0f)\n", "without", plain[1], plain[0], plain[2]);
    std::printf("%-40s %12.0f   (%.0f .. %.0f)\n", "with time limits and a result file", batch[1], batch[0],
                batch[2]);
    if (plain[1] > 0)
        std::printf("time limits and a result file cost %.1f %% of the atom rate (medians)\n",
                    100.0 * (1.0 - batch[1] / plain[1]));
    for (const Figures& f : all)
        if (!f.done) return 1;
    return batchDone ? 0 : 1;
}

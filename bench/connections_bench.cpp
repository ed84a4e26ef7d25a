// Connection benchmarks of the built program; each prints its figures.
//
//   throughput  a loopback server streams N MB (default 200) to one connection
//               while standard output goes to a file, with the default receive
//               pause and with -wr:0 (also raw, -tn:0, and in telnet mode, -tn:2),
//               next to a minimal reader of the same stream
//   scale       N connections (default 1000) each receive a greeting and are
//               closed by the server: time, peak memory, all shown, all gone
//   idle        N silent connections (default 100) for S seconds (default 10):
//               CPU time used meanwhile
//
// Usage: connections_bench [--mb N] [--runs N] [--connections N] [--idle N] [--seconds S]
// The program's own harness code, so it uses POSIX directly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/process_runner.h"

extern char** environ;

namespace {

using vltest::LoopbackServer;
using vltest::monoMs;
using vltest::ServerBehaviour;

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
        const int64_t end = monoMs() + timeoutMs;
        while (monoMs() < end) {
            if (vltest::countOf(output(), needle) >= times) return true;
            usleep(20000);
        }
        return false;
    }
    // "VmHWM" of the process in KiB.
    long peakKiB() const {
        std::ifstream f("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(f, line))
            if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
        return -1;
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
std::string freshFile(const std::string& path) {
    unlink(path.c_str());
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    return path;
}

double minimalReader(uint64_t bytes, const std::string& dir) {
    const std::string path = freshFile(dir + "/minimal.txt");
    LoopbackServer server(ServerBehaviour::stream(bytes, true));
    const int64_t t0 = monoMs();
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(server.port()));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) std::abort();
    const int out = open(path.c_str(), O_WRONLY);
    static char buf[65536];
    uint64_t got = 0;
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
        got += static_cast<uint64_t>(n);
        if (write(out, buf, static_cast<size_t>(n)) != n) std::abort();
    }
    close(out);
    close(fd);
    const double secs = static_cast<double>(monoMs() - t0) / 1000.0;
    freshFile(path);
    if (got != bytes) std::printf("  minimal reader got %llu of %llu bytes!\n", (unsigned long long)got, (unsigned long long)bytes);
    return static_cast<double>(bytes) / secs / 1e6;
}

double programReader(uint64_t bytes, const std::string& dir, const std::vector<std::string>& extra) {
    LoopbackServer server(ServerBehaviour::stream(bytes, true));
    std::vector<std::string> args{"-v:0", "-o:" + server.address(), "-wo:0"};
    for (const auto& a : extra) args.push_back(a);
    const std::string out = freshFile(dir + "/out.txt");
    const int64_t t0 = monoMs();
    Program p(dir, out, args);
    const std::string notice = "[Connection C1 closed]\r\n";
    while (p.tail(static_cast<long>(notice.size())) != notice) {
        if (monoMs() - t0 > 600000) {
            std::printf("  no end after 10 minutes\n");
            return 0;
        }
        usleep(2000);
    }
    const double secs = static_cast<double>(monoMs() - t0) / 1000.0;
    const long size = p.outputSize();
    p.quit();
    freshFile(out);
    if (size < static_cast<long>(bytes)) std::printf("  only %ld bytes were shown!\n", size);
    return static_cast<double>(bytes) / secs / 1e6;
}

void throughput(uint64_t mb, int runs, const std::string& dir) {
    const uint64_t bytes = mb * 1000 * 1000;
    std::printf("throughput: %llu MB from a loopback server, standard output to a file (best of %d)\n",
                (unsigned long long)mb, runs);
    // Interleaved runs, best of each: the machine is shared, so a single run
    // mostly measures what else runs meanwhile.
    // -wr:0 runs in automatic telnet mode (the default), raw, and in telnet
    // mode from the start: what the telnet filter's scan of each piece costs.
    double limit = 0, def = 0, zero = 0, raw = 0, telnet = 0;
    for (int i = 0; i < runs; ++i) {
        limit = std::max(limit, minimalReader(bytes, dir));
        def = std::max(def, programReader(bytes, dir, {}));
        zero = std::max(zero, programReader(bytes, dir, {"-wr:0"}));
        raw = std::max(raw, programReader(bytes, dir, {"-wr:0", "-tn:0"}));
        telnet = std::max(telnet, programReader(bytes, dir, {"-wr:0", "-tn:2"}));
    }
    std::printf("  minimal reader          %8.1f MB/s\n", limit);
    std::printf("  vesperline (pause 100)  %8.1f MB/s  (%.0f%% of the minimal reader)\n", def, 100 * def / limit);
    std::printf("  vesperline -wr:0        %8.1f MB/s  (%.0f%% of the minimal reader)\n", zero, 100 * zero / limit);
    std::printf("  vesperline -wr:0 -tn:0  %8.1f MB/s  (%.0f%% of the minimal reader)\n", raw, 100 * raw / limit);
    std::printf("  vesperline -wr:0 -tn:2  %8.1f MB/s  (%.0f%% of the minimal reader)\n", telnet, 100 * telnet / limit);
}

void scale(int n, const std::string& dir) {
    std::printf("scale: %d connections, each greeted and then closed by the server\n", n);
    LoopbackServer server(ServerBehaviour::sendAndClose("welcome to the bench\r\n"));
    std::string commands;
    for (int i = 0; i < n; ++i) commands += "!open " + server.address() + " wait 0\n";
    std::ofstream(dir + "/scale.txt") << commands;
    const int64_t t0 = monoMs();
    Program p(dir, freshFile(dir + "/out.txt"), {"scale.txt", "-v:0"});
    if (!p.waitFor("closed]\r\n", n, 600000)) std::printf("  not all closed!\n");
    const double secs = static_cast<double>(monoMs() - t0) / 1000.0;
    const long peak = p.peakKiB();
    p.type("!lc\n");
    const bool empty = p.waitFor("0 個の接続があります", 1, 10000);
    const int shown = vltest::countOf(p.output(), "welcome to the bench");
    const int errors = vltest::countOf(p.output(), "Error");
    p.quit();
    std::printf("  all closed after        %8.2f s\n", secs);
    std::printf("  peak memory             %8.1f MiB\n", static_cast<double>(peak) / 1024.0);
    std::printf("  greetings shown         %8d of %d\n", shown, n);
    std::printf("  connections left        %8s\n", empty ? "0" : "some!");
    std::printf("  errors reported         %8d\n", errors);
}

void idle(int n, int seconds, const std::string& dir) {
    std::printf("idleness: %d open, silent connections for %d s\n", n, seconds);
    LoopbackServer server(ServerBehaviour::greet(""));
    std::string commands;
    for (int i = 0; i < n; ++i) commands += "!open " + server.address() + " wait 0\n";
    commands += "!lc\n";
    std::ofstream(dir + "/idle.txt") << commands;
    Program p(dir, freshFile(dir + "/out.txt"), {"idle.txt", "-v:0"});
    if (!p.waitFor(std::to_string(n) + " 個の接続があります", 1, 60000)) std::printf("  not all opened!\n");
    usleep(200000);
    const double before = p.cpuSeconds();
    sleep(static_cast<unsigned>(seconds));
    const double used = p.cpuSeconds() - before;
    p.quit();
    std::printf("  CPU time used           %8.3f s\n", used);
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t mb = 200;
    int connections = 1000, idleConnections = 100, seconds = 10, runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        const long v = std::atol(argv[i + 1]);
        if (opt == "--mb") mb = static_cast<uint64_t>(v);
        else if (opt == "--connections") connections = static_cast<int>(v);
        else if (opt == "--idle") idleConnections = static_cast<int>(v);
        else if (opt == "--seconds") seconds = static_cast<int>(v);
        else if (opt == "--runs") runs = static_cast<int>(v);
    }
    vltest::TempDir dir;
    // The streams go to files in memory when the machine has such a folder, so
    // that the disk's own pace does not enter the figures.
    std::string streamDir = dir.path();
    char shm[] = "/dev/shm/vl-bench-XXXXXX";
    if (mkdtemp(shm) != nullptr) streamDir = shm;
    throughput(mb, runs, streamDir);
    if (streamDir != dir.path()) {
        unlink((streamDir + "/out.txt").c_str());
        unlink((streamDir + "/minimal.txt").c_str());
        rmdir(streamDir.c_str());
    }
    scale(connections, dir.path());
    idle(idleConnections, seconds, dir.path());
    return 0;
}

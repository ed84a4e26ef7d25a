// Connection benchmarks of the built program; each prints its figures.
//
//   throughput  a loopback server streams N MB (default 200) to one connection
//               while standard output goes to a file, with the default receive
//               pause and with -wr:0 (also raw, -tn:0, and in telnet mode, -tn:2),
//               next to a minimal reader of the same stream
//   scale       N connections (default 10,000) opened at once, each greeted by
//               the server and kept open: time until all greetings are shown,
//               peak memory, memory and descriptors per connection, the
//               listing, and the time to close them all at the end. The
//               benchmark raises its limit of open files (and so the
//               program's) to 2N + 1,000 when it may (as root).
//   dead        N hosts that never answer (default 100) given with -o: the
//               time until every connect has given up (one connect limit, as
//               they wait side by side), and that the console answers meanwhile
//   idle        N silent connections (default 100) for S seconds (default 10):
//               CPU time used meanwhile
//
// Usage: connections_bench [--mb N] [--runs N] [--connections N] [--dead N] [--idle N] [--seconds S]
//        (0 for --mb, --connections or --dead leaves that part out)
// The program's own harness code, so it uses POSIX directly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/measured_program.h"
#include "tests/support/loopback_server.h"
#include "tests/support/process_runner.h"

extern char** environ;

namespace {

using vltest::LoopbackServer;
using vltest::monoMs;
using vltest::ServerBehaviour;

using bench::freshFile;
using bench::Program;

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
    return bench::streamRate(bytes, dir, args, "[Connection C1 closed]\r\n");
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
    // The test server needs a descriptor per client, the program two per
    // connection: raise the limit for both (the program inherits it).
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    const rlim_t want = static_cast<rlim_t>(2 * n + 1000);
    if (lim.rlim_cur < want) {
        rlimit raised{want, std::max(want, lim.rlim_max)};
        if (setrlimit(RLIMIT_NOFILE, &raised) != 0) {
            raised = {lim.rlim_max, lim.rlim_max};
            setrlimit(RLIMIT_NOFILE, &raised);
        }
        getrlimit(RLIMIT_NOFILE, &lim);
    }
    std::printf("scale: %d connections opened at once, each greeted and kept open (open-file limit %llu)\n", n,
                static_cast<unsigned long long>(lim.rlim_cur));
    LoopbackServer server(ServerBehaviour::greet("welcome to the bench\r\n"));
    std::string commands;
    for (int i = 0; i < n; ++i) commands += "!open " + server.address() + " wait 0\n";
    Program p(dir, freshFile(dir + "/out.txt"), {"-v:0"});
    const bench::OpenedAtOnce r = bench::openAtOnce(p, dir, commands, n, "welcome to the bench", [](Program&) {});
    const int64_t t1 = monoMs();
    p.quit();
    const double quitSecs = static_cast<double>(monoMs() - t1) / 1000.0;
    bench::printOpenedAtOnce(r, n);
    std::printf("  closed and ended after  %8.2f s (!q)\n", quitSecs);
}

void dead(int n, const std::string& dir) {
    std::printf("dead hosts: %d connects given with -o to a host that never answers\n", n);
    LoopbackServer server(ServerBehaviour::neverAccepting());
    std::vector<std::string> args{"-v:0", "-wo:0"};
    for (int i = 0; i < n; ++i) args.push_back("-o:" + server.address());
    const int64_t t0 = monoMs();
    Program p(dir, freshFile(dir + "/out.txt"), args);
    p.type("!lc\n");
    const bool answered = p.waitFor(std::to_string(n) + " 個の接続があります", 1, 10000);
    const double listedSecs = static_cast<double>(monoMs() - t0) / 1000.0;
    const bool all = p.waitFor("failed to connect()", n, 120000);
    const double secs = static_cast<double>(monoMs() - t0) / 1000.0;
    p.quit();
    std::printf("  console answered after  %8.2f s%s\n", listedSecs, answered ? "" : "  (no answer!)");
    std::printf("  all given up after      %8.2f s%s\n", secs, all ? "" : "  (not all!)");
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
    int connections = 10000, deadHosts = 100, idleConnections = 100, seconds = 10, runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        const long v = std::atol(argv[i + 1]);
        if (opt == "--mb") mb = static_cast<uint64_t>(v);
        else if (opt == "--connections") connections = static_cast<int>(v);
        else if (opt == "--idle") idleConnections = static_cast<int>(v);
        else if (opt == "--dead") deadHosts = static_cast<int>(v);
        else if (opt == "--seconds") seconds = static_cast<int>(v);
        else if (opt == "--runs") runs = static_cast<int>(v);
    }
    vltest::TempDir dir;
    if (mb > 0) {
        const bench::StreamFolder streams(dir.path());
        throughput(mb, runs, streams.path());
    }
    if (connections > 0) scale(connections, dir.path());
    if (deadHosts > 0) dead(deadHosts, dir.path());
    idle(idleConnections, seconds, dir.path());
    return 0;
}

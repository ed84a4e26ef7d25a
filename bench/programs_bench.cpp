// Program connection benchmarks of the built program; each prints its figures.
//
//   throughput  a program (cat of a file of N MB, default 200) streams into
//               one exec: connection while standard output goes to a file,
//               with the default receive pause and with -wr:0, next to a
//               minimal reader of the same stream: one thread that starts the
//               same cat on a pseudo-terminal of its own and reads its master
//               side into a file
//   scale       N program connections (default 500) opened at once, each a
//               shell that greets and then waits (cat): time until all
//               greetings are shown, peak memory, memory and descriptors per
//               connection, the programs' own memory, the listing, and the
//               time until !q has hung them all up and ended
//
// Usage: programs_bench [--mb N] [--runs N] [--programs N]
//        (0 for --mb or --programs leaves that part out)
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/platform/pty.h"
#include "bench/measured_program.h"
#include "tests/support/process_runner.h"

namespace {

using bench::freshFile;
using bench::Program;
using vltest::monoMs;

// A text file of about mb MB in lines, as a program's output would be; its
// size in bytes.
uint64_t makeStream(const std::string& path, uint64_t mb) {
    std::ofstream f(path, std::ios::binary);
    const uint64_t want = mb * 1000 * 1000;
    uint64_t size = 0;
    char line[96];
    for (int i = 0; size < want; ++i) {
        const int n = std::snprintf(line, sizeof line, "line %09d of the stream that the program writes to its terminal\n", i);
        f.write(line, n);
        size += static_cast<uint64_t>(n);
    }
    return size;
}

// The limit: the same cat on a pseudo-terminal made the same way, its master
// side read by one thread into a file until the program side closes.
double minimalReader(const std::string& stream, uint64_t bytes, const std::string& dir) {
    const std::string path = freshFile(dir + "/minimal.txt");
    const int64_t t0 = monoMs();
    char slave[128];
    const int master = ptyOpen(80, 24, slave, sizeof slave);
    if (master < 0) std::abort();
    const char* const argv[] = {"cat", stream.c_str(), nullptr};
    int pid = -1;
    if (ptySpawn(slave, "cat", argv, nullptr, &pid) != 0) std::abort();
    const int out = open(path.c_str(), O_WRONLY);
    static char buf[65536];
    uint64_t got = 0;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        poll(&p, 1, -1);
        const int n = ptyRead(master, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) continue;  // nothing yet
        got += static_cast<uint64_t>(n);
        if (write(out, buf, static_cast<size_t>(n)) != n) std::abort();
    }
    close(out);
    close(master);
    waitpid(pid, nullptr, 0);
    const double secs = static_cast<double>(monoMs() - t0) / 1000.0;
    freshFile(path);
    // The terminal writes each line end as CR LF.
    if (got < bytes) std::printf("  minimal reader got %llu of %llu bytes!\n", (unsigned long long)got, (unsigned long long)bytes);
    return static_cast<double>(bytes) / secs / 1e6;
}

double programReader(const std::string& stream, uint64_t bytes, const std::string& dir,
                     const std::vector<std::string>& extra) {
    std::vector<std::string> args{"-v:0", "-o:exec:cat " + stream, "-wo:0"};
    for (const auto& a : extra) args.push_back(a);
    return bench::streamRate(bytes, dir, args, "[Connection C1 closed (exit code 0)]\r\n");
}

void throughput(uint64_t mb, int runs, const std::string& dir) {
    const std::string stream = dir + "/stream.txt";
    const uint64_t bytes = makeStream(stream, mb);
    std::printf("throughput: cat of %llu MB on a pseudo-terminal, standard output to a file (best of %d)\n",
                (unsigned long long)mb, runs);
    // Interleaved runs, best of each: the machine is shared.
    double limit = 0, def = 0, zero = 0;
    for (int i = 0; i < runs; ++i) {
        limit = std::max(limit, minimalReader(stream, bytes, dir));
        def = std::max(def, programReader(stream, bytes, dir, {}));
        zero = std::max(zero, programReader(stream, bytes, dir, {"-wr:0"}));
    }
    unlink(stream.c_str());
    std::printf("  minimal reader          %8.1f MB/s\n", limit);
    std::printf("  vesperline (pause 100)  %8.1f MB/s  (%.0f%% of the minimal reader)\n", def, 100 * def / limit);
    std::printf("  vesperline -wr:0        %8.1f MB/s  (%.0f%% of the minimal reader)\n", zero, 100 * zero / limit);
}

void scale(int n, const std::string& dir) {
    std::printf("scale: %d program connections opened at once, each a shell that greets and waits\n", n);
    std::string commands;
    for (int i = 0; i < n; ++i)
        commands += "!open \"exec:sh -c \\\"echo welcome to the bench; exec cat\\\"\" wait 0\n";
    Program p(dir, freshFile(dir + "/out.txt"), {"-v:0"});
    std::vector<int> children;
    long childrenKiB = 0;
    const bench::OpenedAtOnce r =
        bench::openAtOnce(p, dir, commands, n, "welcome to the bench\r\n", [&](Program& q) {
            children = bench::childrenOf(q.pid());
            childrenKiB = bench::residentKiB(children);
        });
    const int64_t t1 = monoMs();
    const int exitCode = p.quit();
    const double quitSecs = static_cast<double>(monoMs() - t1) / 1000.0;
    bench::printOpenedAtOnce(r, n);
    const int running = static_cast<int>(children.size());
    std::printf("  programs running        %8d, %.1f MiB resident together (%.0f KiB each)\n", running,
                static_cast<double>(childrenKiB) / 1024.0, running > 0 ? static_cast<double>(childrenKiB) / running : 0.0);
    std::printf("  hung up and ended after %8.2f s (!q, exit code %d)\n", quitSecs, exitCode);
    // Reaped by the program: not even a zombie is left of them.
    const int left = static_cast<int>(std::count_if(children.begin(), children.end(), [](int pid) {
        return std::filesystem::exists("/proc/" + std::to_string(pid));
    }));
    std::printf("  programs left behind    %8d\n", left);
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t mb = 200;
    int programs = 500, runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        const long v = std::atol(argv[i + 1]);
        if (opt == "--mb") mb = static_cast<uint64_t>(v);
        else if (opt == "--programs") programs = static_cast<int>(v);
        else if (opt == "--runs") runs = static_cast<int>(v);
    }
    vltest::TempDir dir;
    if (mb > 0) {
        const bench::StreamFolder streams(dir.path());
        throughput(mb, runs, streams.path());
    }
    if (programs > 0) scale(programs, dir.path());
    return 0;
}

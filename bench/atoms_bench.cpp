// Atom throughput benchmark: atoms over 20 connections to a loopback server
// that answers each line at once with a few lines of output and the marker
// #END#. Prints atoms per second for vesperline with -wr:0 (and, for 2,000
// atoms or fewer, with the default receive pause) next to a minimal client
// written here that sends the same lines over the same connections and waits
// for the same markers (the limit), for each number of atoms asked for; then
// the rate at each number relative to the first, which shows whether a long
// queue costs more per atom. Also the time from the server's marker to the
// next atom's first line arriving on the same connection (marker -> next
// line), which includes two loopback hops.
//
// Both sides are timed by the server: from the first line it receives to the
// last answer it sends. vesperline's output goes to /dev/null. With --runs N
// every figure is the median of N runs, taken in rounds of every side and every
// number of atoms in turn, so that what else the machine does meanwhile weighs
// on all alike.
//
// Last, the cost of a batch's bookkeeping at the first number of atoms: -wr:0
// without, and with a time limit for every atom (!atom-timeout) and a result
// file (-rf) whose lines are counted afterwards, in turn, at least three runs
// of each; the medians are compared (--no-batch leaves it out).
//
//   bench_atoms_bench [--program path] [--atoms 2000,20000,100000]
//                     [--connections 20] [--runs 1] [--no-pause] [--no-batch]
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"

namespace {

using bench::AnswerServer;
using bench::median;

struct Figures {
    double atomsPerSecond = 0;
    std::vector<int64_t> gaps;
    double cpuMs = 0;  // processor time of the program's threads until its last answer
};

// Processor time of every thread of a process so far, in milliseconds (the
// scheduler's own count, in nanoseconds, of each thread still there).
double cpuMs(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return 0;
    double ns = 0;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(dir + "/" + e->d_name + "/schedstat");
        double run = 0;
        if (in >> run) ns += run;
    }
    ::closedir(d);
    return ns / 1e6;
}

double percentileMs(std::vector<int64_t> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))] / 1e6;
}

// vesperline with the atoms defined first and the connections opened last, so
// that only running them is timed. With batch every atom has a time limit and
// a result file records it; a result file without a completed line for every
// atom counts as a run that did not finish.
Figures vesperline(const std::string& program, int atoms, int connections, bool noPause, bool batch = false) {
    AnswerServer server(atoms);
    std::string commands;
    commands.reserve(static_cast<size_t>(atoms) * 32);
    if (batch) commands += "!atom-timeout 60\n";
    for (int i = 1; i <= atoms; ++i) commands += "!atom J" + std::to_string(i) + "\nrun " + std::to_string(i) + "\n!end-atom\n";
    for (int i = 0; i < connections; ++i) commands += "!open " + server.address() + " wait 0\n";
    std::vector<std::string> options;
    if (noPause) options.push_back("-wr:0");
    char dir[] = "/tmp/vl-results-XXXXXX";
    if (batch && !::mkdtemp(dir)) bench::fail("mkdtemp");
    const std::string results = std::string(dir) + "/results.json";
    if (batch) options.push_back("-rf:" + results);
    // The completed lines of the result file.
    auto recorded = [&] {
        std::ifstream in(results);
        int completed = 0;
        for (std::string line; std::getline(in, line);) completed += line.find("\"completed\"") != std::string::npos;
        return completed;
    };
    bool done = false;
    double cpu = 0;
    {
        bench::Program run(program, commands, options);
        done = server.waitDone(600000);
        // The last answers may still be on their way into the program: it is
        // asked to quit once it has recorded them (a run that ends records
        // nothing more), or after ten seconds.
        for (int i = 0; batch && done && i < 1000 && recorded() < atoms; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        cpu = cpuMs(run.pid());
        run.quit();
    }
    if (!done) std::fprintf(stderr, "only %d of %d atoms answered\n", server.answered(), atoms);
    if (batch) {
        const int completed = recorded();
        if (completed != atoms) std::fprintf(stderr, "%d of %d atoms in the result file\n", completed, atoms);
        done = done && completed == atoms;
        std::remove(results.c_str());
        ::rmdir(dir);
    }
    return {done ? atoms / server.seconds() : 0, server.gapsNs(), cpu};
}

std::vector<int> parseCounts(const std::string& text) {
    std::vector<int> counts;
    std::stringstream s(text);
    for (std::string item; std::getline(s, item, ',');)
        if (!item.empty()) counts.push_back(std::atoi(item.c_str()));
    return counts;
}

}  // namespace

int main(int argc, char** argv) {
    std::string program = bench::defaultProgram(argv[0]);
    std::vector<int> counts = {2000};
    int connections = 20, runs = 1;
    bool pause = true, batch = true;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (opt == "--program") program = value, ++i;
        else if (opt == "--atoms") counts = parseCounts(value), ++i;
        else if (opt == "--connections") connections = std::atoi(value), ++i;
        else if (opt == "--runs") runs = std::max(1, std::atoi(value)), ++i;
        else if (opt == "--no-pause") pause = false;
        else if (opt == "--no-batch") batch = false;
    }
    std::printf("atoms over %d connections to a loopback server answering each line at once (median of %d)\n",
                connections, runs);
    std::printf("vesperline: %s\n\n", program.c_str());
    std::printf("%8s %16s %16s %14s   %s\n", "atoms", "minimal, atoms/s", "-wr:0, atoms/s", "% of minimal",
                "marker -> next line, ms (median / p90 / p99)");
    std::fflush(stdout);

    // Rounds of every size in turn, so that each size meets the same moods of
    // a shared machine; then the medians per size.
    const size_t sizes = counts.size();
    std::vector<std::vector<double>> limit(sizes), ours(sizes);
    std::vector<std::vector<int64_t>> gaps(sizes);
    for (int r = 0; r < runs; ++r) {
        for (size_t k = 0; k < sizes; ++k) {
            limit[k].push_back(bench::minimalClient(counts[k], connections));
            Figures f = vesperline(program, counts[k], connections, true);
            ours[k].push_back(f.atomsPerSecond);
            gaps[k].insert(gaps[k].end(), f.gaps.begin(), f.gaps.end());
        }
    }
    std::vector<double> rates;
    bool allDone = true;
    for (size_t k = 0; k < sizes; ++k) {
        const double l = median(limit[k]), v = median(ours[k]);
        allDone = allDone && l > 0 && v > 0;
        rates.push_back(v);
        std::printf("%8d %16.0f %16.0f %13.0f%%   %.3f / %.3f / %.3f\n", counts[k], l, v, l > 0 ? 100 * v / l : 0,
                    percentileMs(gaps[k], 0.5), percentileMs(gaps[k], 0.9), percentileMs(gaps[k], 0.99));
        std::fflush(stdout);
        if (pause && counts[k] <= 2000) {
            const Figures d = vesperline(program, counts[k], connections, false);
            std::printf("%8s %16s %16.0f   (the default pause of 100 ms per answer)\n", "", "", d.atomsPerSecond);
        }
    }
    if (rates.size() > 1 && rates[0] > 0) {
        std::printf("\nvesperline -wr:0 per atom, relative to %d atoms:\n", counts[0]);
        for (size_t i = 1; i < rates.size(); ++i)
            std::printf("  %8d atoms: %.0f %% of the rate\n", counts[i], 100 * rates[i] / rates[0]);
    }
    if (batch && !counts.empty()) {
        // In turn, so that both see the same state of the machine.
        std::vector<double> plain, withBatch, plainCpu, batchCpu;
        for (int r = 0; r < std::max(runs, 3); ++r) {
            const Figures f = vesperline(program, counts[0], connections, true);
            const Figures g = vesperline(program, counts[0], connections, true, true);
            plain.push_back(f.atomsPerSecond);
            withBatch.push_back(g.atomsPerSecond);
            plainCpu.push_back(f.cpuMs);
            batchCpu.push_back(g.cpuMs);
        }
        const double p = median(plain), b = median(withBatch);
        const double pc = median(plainCpu), bc = median(batchCpu);
        allDone = allDone && p > 0 && b > 0;
        std::printf("\n%d atoms, -wr:0, median of %d runs each, in turn:\n", counts[0], static_cast<int>(plain.size()));
        std::printf("  %-38s %10.0f atoms/s %10.1f ms of processor time\n", "without", p, pc);
        std::printf("  %-38s %10.0f atoms/s %10.1f ms of processor time\n", "time limits (!atom-timeout) and -rf", b,
                    bc);
        if (p > 0) std::printf("  time limits and the result file cost %.1f %% of the rate", 100 * (1 - b / p));
        if (pc > 0) std::printf(" and %.1f %% more processor time", 100 * (bc / pc - 1));
        std::printf("\n");
    }
    return allDone ? 0 : 1;
}

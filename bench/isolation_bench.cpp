// Isolation benchmark: 20 clean connections run 2,000 atoms with -wr:0 against
// a loopback server that answers each line at once, once alone and once with
// troublemakers beside them:
//   - an atom holding !!wait 5 on one more connection,
//   - an !open of a host that never answers (its connect hangs),
//   - with --pattern, an atom on one more connection whose until pattern works
//     through its whole budget on the text it receives (its server answers
//     with a line of 40 'a').
// Prints the clean connections' atoms per second in both runs and their ratio
// (the troublemakers must cost the others little: the ratio is the figure).
// Each run is timed by the clean server, from the first line it receives to
// the last answer it sends; with --runs N the figures are medians, the two
// kinds of runs taken in turn.
//
//   bench_isolation_bench [--program path] [--atoms 2000] [--connections 20]
//                         [--runs 5] [--pattern '(a+)+b']
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

struct Trouble {
    bool on = false;
    std::string pattern;  // empty: no pattern troublemaker
};

// Atoms per second of the clean connections (0 when they did not finish).
double run(const std::string& program, int atoms, int connections, const Trouble& trouble) {
    bench::AnswerServer clean(atoms);
    bench::AnswerServer flood(1, [](const std::string&) { return std::string(40, 'a') + "\r\n"; });
    bench::DeadHost dead;
    std::string commands;
    if (trouble.on) {
        // First in the queue, so that the clean atoms run while they make trouble.
        commands += "!atom hold by T\nhold\n!!wait 5\nhold again\n!end-atom\n";
        if (!trouble.pattern.empty())
            commands += "!atom slow by P until /" + trouble.pattern + "/\nrun slow\n!end-atom\n";
    }
    for (int i = 1; i <= atoms; ++i)
        commands += "!atom J" + std::to_string(i) + " except-by T,P,D\nrun " + std::to_string(i) + "\n!end-atom\n";
    if (trouble.on) {
        commands += "!open " + dead.address() + " as D wait 0\n";
        commands += "!open " + clean.address() + " as T wait 0\n";
        if (!trouble.pattern.empty()) commands += "!open " + flood.address() + " as P wait 0\n";
    }
    for (int i = 0; i < connections; ++i) commands += "!open " + clean.address() + " wait 0\n";
    bench::Program vesperline(program, commands, {"-wr:0"});
    const bool done = clean.waitDone(120000);
    vesperline.quit();
    if (!done) std::fprintf(stderr, "only %d of %d atoms answered\n", clean.answered(), atoms);
    return done ? atoms / clean.seconds() : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string program = bench::defaultProgram(argv[0]);
    int atoms = 2000, connections = 20, runs = 5;
    Trouble trouble;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (opt == "--program") program = value, ++i;
        else if (opt == "--atoms") atoms = std::atoi(value), ++i;
        else if (opt == "--connections") connections = std::atoi(value), ++i;
        else if (opt == "--runs") runs = std::max(1, std::atoi(value)), ++i;
        else if (opt == "--pattern") trouble.pattern = value, ++i;
    }
    std::printf("%d atoms over %d clean connections with -wr:0, alone and beside troublemakers (median of %d)\n",
                atoms, connections, runs);
    std::printf("troublemakers: an atom holding !!wait 5, a connect to a host that never answers%s\n",
                trouble.pattern.empty() ? "" : (", an until pattern /" + trouble.pattern + "/ on 40 'a'").c_str());
    std::printf("vesperline: %s\n\n", program.c_str());
    std::fflush(stdout);
    std::vector<double> alone, beside;
    for (int r = 0; r < runs; ++r) {
        alone.push_back(run(program, atoms, connections, Trouble{}));
        trouble.on = true;
        beside.push_back(run(program, atoms, connections, trouble));
        trouble.on = false;
        std::printf("  run %d: %8.0f and %8.0f atoms/s\n", r + 1, alone.back(), beside.back());
        std::fflush(stdout);
    }
    const double a = bench::median(alone), b = bench::median(beside);
    std::printf("\n%-36s %10.0f atoms/s\n", "clean connections alone", a);
    std::printf("%-36s %10.0f atoms/s\n", "clean connections with troublemakers", b);
    if (a > 0) std::printf("\nwith troublemakers: %.0f %% of the rate alone\n", 100 * b / a);
    return a > 0 && b > 0 ? 0 : 1;
}

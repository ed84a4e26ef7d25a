// End-to-end tables: each row runs the built program once, in a folder of its
// own, against loopback servers of its own, and checks what it printed, what it
// wrote to files, what the servers received and its exit code. One driver
// (run_table.cpp) runs every row as a test of its own.
//
// Every text of a row may name the row's servers: {S1} is the address
// "127.0.0.1:<port>" of the first, {P1} its port; {R} is an address where a
// connect is refused, {BIN} the folder of the built program.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/loopback_server.h"

namespace vltest {

// Texts expected in this order; one that starts with '~' is a regular expression.
using Fragments = std::vector<std::string>;

// A step while the program runs: wait until a text shows, then act.
struct Step {
    // "out:<text>" standard output, "S<n>:<text>" received by server n,
    // "<file>:<text>"; "<where>#<n>:<text>" waits for n occurrences.
    std::string waitFor{};
    std::string then{};     // "in:<text>" typed into standard input, "S<n>:<bytes>" sent by server n,
                            // "signal:<number>" sent to the program, "close:S<n>" server n
                            // stops listening, "reset:S<n>" server n resets its clients,
                            // "" nothing
};

struct Row {
    const char* name = "";
    std::vector<ServerBehaviour> servers{};  // S1, S2, ...
    std::string cmd{};                       // the command file run.vl, the first argument ("": none)
    std::string input{};                     // standard input, closed after it
    std::vector<std::string> args{};         // more arguments; -v:0 is added unless loud
    Fragments out{};                         // in standard output, in this order
    Fragments absent{};                      // nowhere in standard output
    // "<file>" of the run's folder or "S<n>" (what server n received): fragments
    // in order; "=<file>" or "=S<n>": the whole content.
    std::vector<std::pair<std::string, Fragments>> seen{};
    std::vector<Step> steps{};               // with steps standard input stays open
    int exit = 0;
    bool whole = false;                    // out joined is the whole standard output
    bool loud = false;
    bool terminal = false;                 // standard output on a pseudo-terminal
    int hangUpMs = -1;                     // with terminal: the terminal goes away then
    std::vector<std::pair<std::string, std::string>> setup{};  // files written first ("#!" ones made executable)
    std::vector<std::string> env{};
    // Further checks once the program has ended, given the run's folder.
    std::function<void(const std::string& folder)> check{};
    int fileLimit = 0;                     // > 0: the program's limit of open files
    int timeoutMs = 60000;                 // then the program is killed (and the row fails)
    bool asciiOnly = false;                // standard output holds no byte beyond ASCII
};

// Fragments: the system line "[yyyy/mm/dd hh:mm:ss  <e>]" of a log file; text
// anywhere / nowhere in the whole content (given first).
std::string event(const std::string& e);
std::string anywhere(const std::string& text);
std::string nowhere(const std::string& text);

// Runs the command file cmd (which opens `opens` connections and lists them
// at its end) in a folder of its own with the program's limit of open files at
// fileLimit, and checks the refusals: each open beyond the limit gave one error
// 10050 naming the limit and `ulimit -n`, no other error came, the exit code
// is 1, and the listing holds the others. Returns the run and how many
// connections were opened.
struct LimitedRun {
    RunResult result;
    int opened = 0;
};
LimitedRun runWithFileLimit(const std::string& cmd, int opens, int fileLimit);

class Run : public ::testing::TestWithParam<Row> {};

inline void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

struct RowName {
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const { return info.param.name; }
};

}  // namespace vltest

#define RUN_TABLE(group, rows) INSTANTIATE_TEST_SUITE_P(group, Run, ::testing::ValuesIn(rows), RowName())

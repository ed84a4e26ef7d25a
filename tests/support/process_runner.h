// Running a program under test: spawn it with arguments, feed its standard
// input (all at once, or typed while it runs), capture its output with a time
// limit, and report the exit code. Standard output may be a pseudo-terminal,
// for output that depends on being written to one; standard input may be that
// terminal too (the program's controlling terminal, as in a user's session).
//
// Also temporary folders, file helpers and polling waits, so that tests running
// in parallel never share a path and never sleep a fixed time.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vltest {

struct RunOptions;
struct RunResult;

// Talks to a program while it runs: text typed into its standard input, and
// its standard output so far. Standard input stays open until the program ends.
class LiveIo {
public:
    void type(const std::string& text);
    // Sends the program a signal (as soon as the runner looks, within ~20 ms).
    void signal(int sig);
    std::string output() const;
    // With terminalInput: true once the terminal exists (the program has been
    // started on it) and until the run is over.
    bool terminalOpen() const;
    // With terminalInput: true while the terminal echoes what is typed (its
    // ECHO mode), as it does before a line editor takes it over.
    bool terminalEchoes() const;
    // With terminalInput: true while the terminal collects whole lines before
    // the program reads them (its canonical mode).
    bool terminalReadsLines() const;

private:
    bool terminalMode(unsigned flag) const;  // a local mode flag of the terminal is set
    friend RunResult runProcess(const std::string& program, const RunOptions& options);
    mutable std::mutex m_;
    std::string typed_, out_;
    std::vector<int> signals_;
    int terminal_ = -1;  // a descriptor of the terminal (its test side), held by the runner
};

struct RunOptions {
    std::vector<std::string> args;   // without the program itself
    std::string input;               // written to standard input, which is then closed
    std::shared_ptr<LiveIo> live;    // instead of input: typed while the program runs
    int timeoutMs = 60000;           // then the program is killed
    std::string workDir;             // empty: the current folder
    std::vector<std::string> env;    // "NAME=value" entries added to (or replacing in) the environment;
                                     // with a locale variable (LANG, LANGUAGE, LC_*) among them the
                                     // environment's others are dropped, without one LC_ALL=C is added
    bool terminal = false;           // the output on a pseudo-terminal instead of a pipe
    // Standard input on that terminal too (implies terminal): input is typed
    // into it, it is the program's controlling terminal (Ctrl-C typed raises
    // SIGINT), and it is columns x 24 characters.
    bool terminalInput = false;
    int columns = 80;
    int hangUpAfterMs = -1;          // with terminal: close the terminal's other side then
    int fileLimit = 0;               // > 0: the program's limit of open files (soft and hard)
    bool childSignalIgnored = false; // the program starts with SIGCHLD ignored, as some job runners leave it
};

struct RunResult {
    int exitCode = -1;     // -1 when the program did not end by itself
    int signal = 0;        // the signal that ended it, when one did
    bool timedOut = false;
    std::string out;       // standard output and standard error together
    // With terminalInput: the terminal's modes after the program ended are
    // those it had before the program started.
    bool terminalModesKept = true;
};

RunResult runProcess(const std::string& program, const RunOptions& options);
// The built vesperline, and its path.
RunResult runVesperline(const RunOptions& options);
std::string vesperlinePath();

// A fresh folder of its own, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes content to the file name in this folder; returns its path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

// The whole content of a file ("" when it cannot be read); writing replaces it.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// Number of non-overlapping occurrences of needle in text.
int countOf(const std::string& text, const std::string& needle);
// Monotonic milliseconds.
int64_t monoMs();
// Checks cond every few milliseconds until it holds (true) or timeoutMs pass (false).
bool waitUntil(const std::function<bool()>& cond, int timeoutMs = 30000);

}  // namespace vltest

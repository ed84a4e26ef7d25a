// Running a program under test: spawn it with arguments, feed its standard
// input, capture standard output and standard error with a time limit, and
// report the exit code. A variant puts standard output on a pseudo-terminal,
// for output that depends on being written to a terminal.
//
// Also: temporary folders (mkdtemp, removed with their content) and small file
// helpers, so that tests running in parallel never share a path.
#pragma once

#include <string>
#include <vector>

namespace vltest {

struct RunOptions {
    std::vector<std::string> args;   // without the program itself
    std::string input;               // written to standard input
    bool closeInput = true;          // false: standard input stays open until the program ends
    int timeoutMs = 60000;           // then the program is killed
    std::string workDir;             // empty: the current folder
    std::vector<std::string> env;    // "NAME=value" entries added to (or replacing in) the environment
    bool terminal = false;           // standard output and error on a pseudo-terminal
    int hangUpAfterMs = -1;          // with terminal: close the terminal's other side then
};

struct RunResult {
    int exitCode = -1;     // -1 when the program did not end by itself
    bool timedOut = false;
    std::string out;       // standard output (with terminal: output and error together)
    std::string err;       // standard error (empty with terminal)
};

RunResult runProcess(const std::string& program, const RunOptions& options);

// Runs the built vesperline.
RunResult runVesperline(const RunOptions& options);

// The path of the built vesperline.
std::string vesperlinePath();

// A fresh folder of its own, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name.
    std::string file(const std::string& name) const;
    // Writes content to the file name in this folder; returns its path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

// The whole content of a file ("" when it cannot be read).
std::string readFile(const std::string& path);
// True when something exists at path.
bool fileExists(const std::string& path);
// Makes the file executable by its owner.
void makeExecutable(const std::string& path);

// Number of non-overlapping occurrences of needle in text.
int countOf(const std::string& text, const std::string& needle);

}  // namespace vltest

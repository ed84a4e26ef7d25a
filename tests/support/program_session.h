// Running the built program in the background while a test drives the servers
// it talks to, and reading what it wrote to its log files.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process_runner.h"

namespace vltest {

// Runs vesperline on a thread of its own (with runVesperline's time limit);
// wait() returns its result once it has ended.
class BackgroundRun {
public:
    explicit BackgroundRun(RunOptions options);
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    const RunResult& wait();

private:
    RunResult result_;
    std::thread thread_;
};

// Checks cond every few milliseconds until it holds (true) or timeoutMs pass.
bool waitUntil(const std::function<bool()>& cond, int timeoutMs);

// Waits until the file at path contains needle.
bool waitFileContains(const std::string& path, const std::string& needle, int timeoutMs);

// The events of a log file's system lines "[yyyy/mm/dd hh:mm:ss  event]\r\n",
// in order; every other byte of the file is skipped. A line in that bracket
// form whose time stamp is malformed is returned as "BAD STAMP: <line>".
std::vector<std::string> systemEvents(const std::string& logText);

}  // namespace vltest

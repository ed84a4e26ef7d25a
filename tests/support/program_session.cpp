// Background runs of the program and log file readers for end-to-end tests.
#include "tests/support/program_session.h"

#include <chrono>
#include <regex>

namespace vltest {

BackgroundRun::BackgroundRun(RunOptions options)
    : thread_([this, options] { result_ = runVesperline(options); }) {}

BackgroundRun::~BackgroundRun() {
    if (thread_.joinable()) thread_.join();
}

const RunResult& BackgroundRun::wait() {
    if (thread_.joinable()) thread_.join();
    return result_;
}

bool waitUntil(const std::function<bool()>& cond, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool waitFileContains(const std::string& path, const std::string& needle, int timeoutMs) {
    return waitUntil([&] { return readFile(path).find(needle) != std::string::npos; }, timeoutMs);
}

std::vector<std::string> systemEvents(const std::string& logText) {
    static const std::regex line(R"(\[(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})?  ([^\r\n]*)\]\r\n)");
    std::vector<std::string> events;
    for (auto it = std::sregex_iterator(logText.begin(), logText.end(), line); it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        events.push_back(m[1].matched ? m[2].str() : "BAD STAMP: " + m[0].str());
    }
    return events;
}

}  // namespace vltest

// Helpers shared by the base library tests: a guard that restores a global, and
// the support library's message capture, temporary folder and whole-file read
// and write.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/msg.h"
#include "tests/support/msg_capture.h"
#include "tests/support/process_runner.h"

using Strings = std::vector<std::string>;

using vltest::MsgCapture;

// Restores a global variable (the character set, the language) when it ends.
template <class T>
class Restore {
public:
    explicit Restore(T& var) : var_(var), saved_(var) {}
    Restore(T& var, T value) : Restore(var) { var_ = value; }
    ~Restore() { var_ = saved_; }
    Restore(const Restore&) = delete;
    Restore& operator=(const Restore&) = delete;

private:
    T& var_;
    T saved_;
};

using vltest::readFile;
using vltest::TempDir;
using vltest::writeFile;

// For death tests of exits that write to standard output: captures standard
// output and, when the process exits, copies it to standard error (where the
// death test's pattern looks), followed by "fatal=1" when a fatal exit began.
inline void echoStdoutAtExit() {
    ::testing::internal::CaptureStdout();
    std::atexit([] {
        const std::string out = ::testing::internal::GetCapturedStdout();
        std::fprintf(stderr, "%sfatal=%d\n", out.c_str(), inFatalExit() ? 1 : 0);
    });
}

// Expects statement to end the process with exit code 2 after writing a text
// that matches pattern to standard output.
#define EXPECT_STOPS_WITH(statement, pattern)                                                  \
    EXPECT_EXIT(                                                                           \
        {                                                                                  \
            echoStdoutAtExit();                                                            \
            statement;                                                                     \
        },                                                                                 \
        ::testing::ExitedWithCode(2), pattern)

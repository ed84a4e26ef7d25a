// The demo that the README's first command runs: two demo devices, the demo
// command file, and a clean end by itself with exit code 0.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/process_runner.h"
#include "tests/support/program_session.h"

namespace {

// The source tree, from this file's own path (tests/app/demo_test.cpp).
std::string sourceRoot() {
    std::string path = __FILE__;
    for (int i = 0; i < 3; ++i) path = path.substr(0, path.rfind('/'));
    return path;
}

TEST(Demo, RunsBothDevicesToTheEndAndLogsEverything) {
    vltest::TempDir out;
    vltest::RunOptions o;
    o.args = {sourceRoot() + "/scripts/demo.sh", "--bin-dir", VESPERLINE_BIN_DIR, "--out-dir", out.path()};
    o.timeoutMs = 120000;
    const vltest::RunResult r = vltest::runProcess("/bin/bash", o);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const char* shown : {"[Atom inventory-edge => Connection edge]", "[Atom inventory-core => Connection core]",
                              "[Atom ping-core => Connection edge]", "3 sent, 3 received, 0% loss",
                              "完了したアトム: ", "!!quit\r\n", "[Connection edge closed]",
                              "[Connection core closed]", "Demo finished."})
        EXPECT_NE(r.out.find(shown), std::string::npos) << shown;
    const std::string log = vltest::readFile(out.file("demo.log"));
    for (const char* logged : {"[edge>]show version\r\n", "[core<]", "Atom wrap-up defined",
                               "Assigned atom wrap-up to connection", "Exit Vesperline]\r\n"})
        EXPECT_NE(log.find(logged), std::string::npos) << logged;
    const auto events = vltest::systemEvents(log);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "Exit Vesperline");
}

}  // namespace

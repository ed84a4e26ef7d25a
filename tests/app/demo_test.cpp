// The demo that the README's first command runs: two demo devices, the demo
// command file, and a clean end by itself with exit code 0.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/process_runner.h"

namespace {

TEST(Demo, RunsBothDevicesToTheEndAndLogsEverything) {
    std::string root = __FILE__;  // <root>/tests/app/demo_test.cpp
    root.resize(root.rfind("/tests/"));
    vltest::TempDir out;
    vltest::RunOptions o;
    o.args = {root + "/scripts/demo.sh", "--bin-dir", VESPERLINE_BIN_DIR, "--out-dir", out.path()};
    o.timeoutMs = 120000;
    const vltest::RunResult r = vltest::runProcess("/bin/bash", o);
    ASSERT_EQ(r.exitCode, 0) << r.out;
    for (const char* shown : {"[Atom inventory-edge => Connection edge]", "[Atom inventory-core => Connection core]",
                              "[Atom ping-core => Connection edge]", "3 sent, 3 received, 0% loss",
                              "完了したアトム: ", "!!quit\r\n", "[Connection edge closed]",
                              "[Connection core closed]", "Demo finished."})
        EXPECT_NE(r.out.find(shown), std::string::npos) << shown;
    const std::string log = vltest::readFile(out.file("demo.log"));
    for (const char* logged : {"[edge>]show version\r\n", "[core<]", "Atom wrap-up defined",
                               "Assigned atom wrap-up to connection"})
        EXPECT_NE(log.find(logged), std::string::npos) << logged;
    EXPECT_TRUE(log.ends_with("  Exit Vesperline]\r\n")) << log.substr(log.size() - std::min<size_t>(log.size(), 200));
}

}  // namespace

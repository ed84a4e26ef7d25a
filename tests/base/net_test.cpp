// The socket functions of the platform layer that the connection tests do not
// reach: the connect time limit, send without SIGPIPE and the descriptor limit.
// (Address parsing and look-up are checked through resolveAddress.)
#include "base/platform/net.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "tests/support/loopback_server.h"

namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

TEST(Net, ConnectGivesUpAfterItsTimeLimit) {
    // A server whose queue is full drops further connection requests, so a
    // connect to it waits until its limit (a few may still be queued first).
    vltest::LoopbackServer server(vltest::ServerBehaviour::neverAccepting());
    std::vector<int> fillers;
    bool timedOut = false;
    for (int i = 0; i < 8 && !timedOut; ++i) {
        const int fd = netSocket();
        ASSERT_GE(fd, 0);
        const int64_t t0 = vltest::monoMs();
        if (netConnect(fd, kLoopback, server.port(), 300) == 0) {
            fillers.push_back(fd);
            continue;
        }
        EXPECT_EQ(netLastError(), ETIMEDOUT);
        const int64_t took = vltest::monoMs() - t0;
        EXPECT_GE(took, 250);
        EXPECT_LT(took, 3000);
        timedOut = true;
        netClose(fd);
    }
    EXPECT_TRUE(timedOut);
    for (int fd : fillers) netClose(fd);
}

TEST(Net, SendToAClosedPeerFailsWithoutSigpipe) {
    vltest::LoopbackServer server(vltest::ServerBehaviour::sendAndClose(""));
    const int fd = netSocket();
    ASSERT_EQ(netConnect(fd, kLoopback, server.port(), 2000), 0);
    ASSERT_TRUE(vltest::waitUntil([&] { return server.open() == 0; }, 2000));
    // The first send may still be taken; later ones fail with a peer-gone error.
    int err = 0;
    for (int i = 0; i < 50 && err == 0; ++i) {
        if (netSend(fd, "x\r\n", 3) < 0) err = netLastError();
        usleep(10000);
    }
    EXPECT_TRUE(netPeerGone(err)) << err;
    netClose(fd);
}

TEST(Net, FileLimitIsRaisedToTheHardLimit) {
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    const rlim_t hard = lim.rlim_max;
    if (lim.rlim_cur > 64) {
        lim.rlim_cur = 64;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
    }
    netRaiseFileLimit();
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    EXPECT_EQ(lim.rlim_cur, hard);
}

}  // namespace

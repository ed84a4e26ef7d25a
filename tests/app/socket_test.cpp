// The socket thread layer on its own: the event bits a handler sees, received
// pieces (the pause, the 64 KiB bound, the data that comes with the peer's
// close), close() from another thread, self-deletion, and the error reports.
#include "app/socket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/lock.h"
#include "base/thread.h"
#include "tests/support/loopback_server.h"
#include "tests/support/msg_capture.h"

namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// What a RecordingSocket saw; outlives the socket, which deletes itself.
struct Seen {
    std::mutex m;
    std::vector<uint32_t> masks;
    std::vector<std::string> pieces;
    std::string peerAtConnect;
    bool destroyed = false;

    std::string all() {
        std::lock_guard<std::mutex> g(m);
        std::string s;
        for (const auto& p : pieces) s += p;
        return s;
    }
    bool done() {
        std::lock_guard<std::mutex> g(m);
        return destroyed;
    }
};

class RecordingSocket : public NSocket::LSocket {
public:
    RecordingSocket(std::shared_ptr<Seen> seen, int pauseMs) : seen_(std::move(seen)), pause_(pauseMs) {}
    ~RecordingSocket() override {
        std::lock_guard<std::mutex> g(seen_->m);
        seen_->destroyed = true;
    }
    void onNetworkEvents(const NSocket::NetworkEvents& events) override {
        std::string piece;
        if (events.mask & NSocket::kFdRead) {
            LString text;
            const int n = receiveAll(text, pause_);
            EXPECT_EQ(n, text.len());
            piece.assign(text.data(), static_cast<size_t>(text.len()));
        }
        std::string peer;
        if (events.mask & NSocket::kFdConnect) peer = peerAddress().data();
        std::lock_guard<std::mutex> g(seen_->m);
        seen_->masks.push_back(events.mask);
        if (!piece.empty()) seen_->pieces.push_back(piece);
        if (!peer.empty()) seen_->peerAtConnect = peer;
    }

private:
    std::shared_ptr<Seen> seen_;
    int pause_;
};

bool waitUntil(const std::function<bool()>& cond, int timeoutMs) {
    const int64_t end = vltest::monoMs() + timeoutMs;
    while (!cond()) {
        if (vltest::monoMs() > end) return false;
        sleepMs(5);
    }
    return true;
}

class SocketLayer : public ::testing::Test {
protected:
    void SetUp() override { initThreads(); }

    // Connects a RecordingSocket to port and starts its thread.
    RecordingSocket* start(int port, int pauseMs = 100) {
        auto s = std::make_unique<RecordingSocket>(seen, pauseMs);
        if (s->connectTo(kLoopback, port) != 0) return nullptr;
        LLockGuard guard;
        if (!s->startEvents()) return nullptr;
        return s.release();  // it belongs to its thread now
    }

    std::shared_ptr<Seen> seen = std::make_shared<Seen>();
    vltest::MsgCapture capture;
};

TEST_F(SocketLayer, EventOrderIsConnectWriteReadsThenOneClose) {
    vltest::LoopbackServer server(vltest::ServerBehaviour::sendAndClose("hello\r\n"));
    ASSERT_NE(start(server.port()), nullptr);
    ASSERT_TRUE(waitUntil([&] { return seen->done(); }, 5000));
    std::lock_guard<std::mutex> g(seen->m);
    ASSERT_GE(seen->masks.size(), 3u);
    EXPECT_EQ(seen->masks.front(), NSocket::kFdConnect);
    EXPECT_EQ(seen->masks.back(), NSocket::kFdClose);
    int writes = 0, closes = 0;
    for (uint32_t m : seen->masks) {
        writes += (m & NSocket::kFdWrite) ? 1 : 0;
        closes += (m & NSocket::kFdClose) ? 1 : 0;
    }
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(seen->peerAtConnect, "127.0.0.1:" + std::to_string(server.port()));
    ASSERT_EQ(seen->pieces.size(), 1u);
    EXPECT_EQ(seen->pieces[0], "hello\r\n");
    EXPECT_TRUE(capture.reports().empty());
}

TEST_F(SocketLayer, EverythingSentBeforeTheCloseIsDeliveredInBoundedPieces) {
    const uint64_t size = 1000 * 1000;
    vltest::LoopbackServer server(vltest::ServerBehaviour::stream(size, true));
    ASSERT_NE(start(server.port(), 100), nullptr);
    ASSERT_TRUE(waitUntil([&] { return seen->done(); }, 10000));
    const std::string all = seen->all();
    ASSERT_EQ(all.size(), size);
    for (uint64_t i = 0; i < size; i += 997) ASSERT_EQ(all[i], vltest::LoopbackServer::streamByte(i)) << i;
    std::lock_guard<std::mutex> g(seen->m);
    EXPECT_GE(seen->pieces.size(), size / NSocket::LSocket::kPieceLimit);
    for (const auto& p : seen->pieces) EXPECT_LE(p.size(), size_t(NSocket::LSocket::kPieceLimit));
}

TEST_F(SocketLayer, ThePauseJoinsTextWithShortGapsAndSplitsAtLongOnes) {
    vltest::LoopbackServer server(vltest::ServerBehaviour::greet(""));
    ASSERT_NE(start(server.port(), 500), nullptr);
    ASSERT_TRUE(server.waitAccepted(1, 2000));
    sleepMs(100);
    for (const char* part : {"a", "b", "c"}) {
        server.sendToAll(part);
        sleepMs(30);  // well within the pause: one piece
    }
    sleepMs(1500);  // longer than the pause: the next text is a new piece
    server.sendToAll("d");
    ASSERT_TRUE(waitUntil([&] { return seen->all() == "abcd"; }, 3000));
    server.closeAll();
    ASSERT_TRUE(waitUntil([&] { return seen->done(); }, 3000));
    std::lock_guard<std::mutex> g(seen->m);
    ASSERT_EQ(seen->pieces.size(), 2u);
    EXPECT_EQ(seen->pieces[0], "abc");
    EXPECT_EQ(seen->pieces[1], "d");
}

TEST_F(SocketLayer, CloseFromAnotherThreadEndsWithOneCloseEvent) {
    vltest::LoopbackServer server(vltest::ServerBehaviour::greet("hi"));
    RecordingSocket* s = start(server.port());
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(waitUntil([&] { return seen->all() == "hi"; }, 3000));
    {
        LLockGuard guard;  // the thread cannot delete the object while we hold it
        if (!seen->done()) s->close();
    }
    ASSERT_TRUE(waitUntil([&] { return seen->done(); }, 3000));
    ASSERT_TRUE(server.waitOpenAtMost(0, 3000));
    std::lock_guard<std::mutex> g(seen->m);
    EXPECT_EQ(seen->masks.back(), NSocket::kFdClose);
}

TEST_F(SocketLayer, ShortSendLeavesTheRestAndWriteComesAgain) {
    vltest::LoopbackServer server(vltest::ServerBehaviour::slowReader(600, 65536));
    RecordingSocket* s = start(server.port());
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> g(seen->m);
        return seen->masks.size() >= 2;
    }, 3000));
    const std::string big(16 * 1024 * 1024, 'x');
    int left;
    {
        LLockGuard guard;
        left = s->sendAll(big.data(), static_cast<int>(big.size()));
    }
    EXPECT_GT(left, 0);
    // Once the reader drains, the layer hands on kFdWrite a second time.
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> g(seen->m);
        int writes = 0;
        for (uint32_t m : seen->masks) writes += (m & NSocket::kFdWrite) ? 1 : 0;
        return writes == 2;
    }, 10000));
    {
        LLockGuard guard;
        if (!seen->done()) s->close();
    }
    ASSERT_TRUE(waitUntil([&] { return seen->done(); }, 3000));
}

TEST_F(SocketLayer, ARefusedConnectIsReportedAndClosesTheSocket) {
    auto s = std::make_unique<RecordingSocket>(seen, 100);
    EXPECT_EQ(s->connectTo(kLoopback, vltest::refusedPort()), 1);
    ASSERT_EQ(capture.codes(), std::vector<int>{17300});
    EXPECT_NE(capture.textOf(17300).find("Socket Error 111 ("), std::string::npos) << capture.textOf(17300);
    EXPECT_NE(capture.textOf(17300).find("): failed to connect() to 127.0.0.1"), std::string::npos);
    EXPECT_EQ(s->peerAddress(), "");  // never connected
}

TEST(ResolveAddress, DottedNamesPortsAndFailures) {
    vltest::MsgCapture capture;
    int port = 23;
    EXPECT_EQ(resolveAddress("127.0.0.1", &port, true), kLoopback);
    EXPECT_EQ(port, 23);
    EXPECT_EQ(resolveAddress("localhost:2323", &port, true), kLoopback);
    EXPECT_EQ(port, 2323);
    // A leading digit means a dotted address, taken without a lookup: a bad one
    // is not 0, so the connect fails later instead of the resolver.
    EXPECT_EQ(resolveAddress("1.2.3.x", nullptr, true), 0xFFFFFFFFu);
    EXPECT_TRUE(capture.reports().empty());
    EXPECT_EQ(resolveAddress("no-such-host.invalid", nullptr, false), 0u);
    EXPECT_TRUE(capture.reports().empty());
    EXPECT_EQ(resolveAddress("no-such-host.invalid:99", nullptr, true), 0u);
    EXPECT_EQ(capture.textOf(15000), "cannot resolve 'no-such-host.invalid:99' to an IP address");
}

}  // namespace

// The socket thread layer on its own: the event bits a handler sees, received
// pieces (the pause, the 64 KiB bound, the data that comes with the peer's
// close), close() from another thread, a short send, and address resolution.
// (A refused connect is reported in the connection table.)
#include "app/socket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/lock.h"
#include "base/thread.h"
#include "tests/support/loopback_server.h"
#include "tests/support/msg_capture.h"

namespace {

using vltest::waitUntil;
const uint32_t kLoopback = [] {  // 127.0.0.1 in network order
    const unsigned char bytes[4] = {127, 0, 0, 1};
    uint32_t a;
    std::memcpy(&a, bytes, 4);
    return a;
}();
constexpr int kWait = 30000;

// What a RecordingSocket saw; outlives the socket, which deletes itself.
struct Seen {
    std::mutex m;
    std::vector<uint32_t> masks;
    std::vector<std::string> pieces;
    std::string peerAtConnect;
    bool destroyed = false;

    template <class F>
    auto locked(F f) {
        std::lock_guard<std::mutex> g(m);
        return f();
    }
    std::string all() {
        return locked([&] {
            std::string s;
            for (const auto& p : pieces) s += p;
            return s;
        });
    }
    int count(uint32_t bit) {
        return locked([&] {
            int n = 0;
            for (uint32_t mask : masks) n += (mask & bit) ? 1 : 0;
            return n;
        });
    }
};

class RecordingSocket : public NSocket::LSocket {
public:
    RecordingSocket(std::shared_ptr<Seen> seen, int pauseMs) : seen_(std::move(seen)), pause_(pauseMs) {}
    ~RecordingSocket() override { seen_->locked([&] { return seen_->destroyed = true; }); }
    void onNetworkEvents(const NSocket::NetworkEvents& events) override {
        LString text;
        const int n = (events.mask & NSocket::kFdRead) ? receiveAll(text, pause_) : 0;
        EXPECT_EQ(n, text.len());
        const std::string peer = (events.mask & NSocket::kFdConnect) ? peerAddress().data() : "";
        seen_->locked([&] {
            seen_->masks.push_back(events.mask);
            if (!text.empty()) seen_->pieces.emplace_back(text.data(), static_cast<size_t>(text.len()));
            if (!peer.empty()) seen_->peerAtConnect = peer;
            return 0;
        });
    }

private:
    std::shared_ptr<Seen> seen_;
    int pause_;
};

class SocketLayer : public ::testing::Test {
protected:
    void SetUp() override { initThreads(); }

    // Connects a RecordingSocket to port and starts its thread.
    RecordingSocket* start(int port, int pauseMs = 100) {
        auto s = std::make_unique<RecordingSocket>(seen, pauseMs);
        LLockGuard guard;
        s->setTarget("loopback", "127.0.0.1", port);
        return s->prepare("test") && s->startEvents() ? s.release() : nullptr;  // owned by its thread
    }
    bool done() {
        return waitUntil([&] { return seen->locked([&] { return seen->destroyed; }); }, kWait);
    }
    void closeFromHere(RecordingSocket* s) {
        LLockGuard guard;  // the thread cannot delete the object while we hold it
        if (!seen->locked([&] { return seen->destroyed; })) s->close();
    }

    std::shared_ptr<Seen> seen = std::make_shared<Seen>();
    vltest::MsgCapture capture;
};

// Connect, one write, the reads, then one close; everything the server sent
// before it closed arrives, in pieces of at most the limit.
TEST_F(SocketLayer, EventOrderAndEverythingSentBeforeTheCloseInBoundedPieces) {
    const uint64_t size = 1000 * 1000;
    vltest::LoopbackServer server(vltest::ServerBehaviour::stream(size, true));
    ASSERT_NE(start(server.port()), nullptr);
    ASSERT_TRUE(done());
    EXPECT_EQ(seen->masks.front(), NSocket::kFdConnect);
    EXPECT_EQ(seen->masks.back(), NSocket::kFdClose);
    EXPECT_EQ(seen->count(NSocket::kFdWrite), 1);
    EXPECT_EQ(seen->count(NSocket::kFdClose), 1);
    EXPECT_EQ(seen->peerAtConnect, server.address());
    const std::string all = seen->all();
    ASSERT_EQ(all.size(), size);
    for (uint64_t i = 0; i < size; i += 997) ASSERT_EQ(all[i], vltest::LoopbackServer::streamByte(i)) << i;
    EXPECT_GE(seen->pieces.size(), size / NSocket::LSocket::kPieceLimit);
    for (const auto& p : seen->pieces) EXPECT_LE(p.size(), size_t(NSocket::LSocket::kPieceLimit));
    EXPECT_TRUE(capture.reports().empty());
}

TEST_F(SocketLayer, ThePauseJoinsTextWithShortGapsAndEndsThePiece) {
    vltest::LoopbackServer server(vltest::ServerBehaviour::greet(""));
    RecordingSocket* s = start(server.port(), 500);
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(waitUntil([&] { return server.open() == 1; }, kWait));  // accepted: sent text reaches it
    for (const char* part : {"a", "b", "c"}) {
        server.sendToAll(part);
        sleepMs(30);  // well within the pause: one piece
    }
    ASSERT_TRUE(waitUntil([&] { return seen->all() == "abc"; }, kWait));  // handed on once the pause passed
    server.sendToAll("d");
    ASSERT_TRUE(waitUntil([&] { return seen->all() == "abcd"; }, kWait));
    closeFromHere(s);  // close() from another thread ends with the one close event
    ASSERT_TRUE(done());
    EXPECT_EQ(seen->pieces, (std::vector<std::string>{"abc", "d"}));
    EXPECT_EQ(seen->masks.back(), NSocket::kFdClose);
    EXPECT_EQ(seen->count(NSocket::kFdClose), 1);
    EXPECT_TRUE(waitUntil([&] { return server.open() == 0; }, kWait));
}

TEST_F(SocketLayer, ShortSendLeavesTheRestAndWriteComesAgain) {
    vltest::LoopbackServer server(vltest::ServerBehaviour::slowReader(600, 65536));
    RecordingSocket* s = start(server.port());
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(waitUntil([&] { return seen->count(NSocket::kFdWrite) == 1; }, kWait));
    const std::string big(16 * 1024 * 1024, 'x');
    {
        LLockGuard guard;
        EXPECT_GT(s->sendAll(big.data(), static_cast<int>(big.size())), 0);
    }
    // Once the reader drains, the layer hands on kFdWrite a second time.
    ASSERT_TRUE(waitUntil([&] { return seen->count(NSocket::kFdWrite) == 2; }, kWait));
    closeFromHere(s);
    ASSERT_TRUE(done());
}

TEST(ResolveAddress, DottedNamesPortsAndFailures) {
    const struct {
        const char* host;
        bool report;
        uint32_t address;
        int port;
        int code;           // the error reported, 0 for none
        const char* error;  // its text
    } cases[] = {
        {"127.0.0.1", true, kLoopback, 23, 0, ""},
        {"localhost:2323", true, kLoopback, 2323, 0, ""},
        // Only what inet_pton takes is a dotted address; everything else,
        // also a text that starts with a digit, is a name to look up.
        {"127.1", true, kLoopback, 23, 0, ""},
        {"1.2.3.x", true, 0, 23, 15000, "cannot resolve '1.2.3.x' to an IP address"},
        {"300.1.1.1", false, 0, 23, 0, ""},
        {"9host.invalid", true, 0, 23, 15000, "cannot resolve '9host.invalid' to an IP address"},
        {"no-such-host.invalid", false, 0, 23, 0, ""},
        {"no-such-host.invalid:99", true, 0, 99, 15000, "cannot resolve 'no-such-host.invalid:99' to an IP address"},
        // A port that is no number from 1 to 65535 fails before any look-up.
        {"127.0.0.1:abc", false, 0, -1, 10044, "ポート番号が正しくありません: '127.0.0.1:abc'"},
        {"127.0.0.1:", false, 0, -1, 10044, "ポート番号が正しくありません: '127.0.0.1:'"},
        {"127.0.0.1:0x17", false, 0, -1, 10044, "ポート番号が正しくありません: '127.0.0.1:0x17'"},
        {"127.0.0.1:65536", false, 0, -1, 10044, "ポート番号が正しくありません: '127.0.0.1:65536'"},
        {"127.0.0.1:99999999999", false, 0, -1, 10044, "ポート番号が正しくありません: '127.0.0.1:99999999999'"},
        {"127.0.0.1:65535", false, kLoopback, 65535, 0, ""},
    };
    for (const auto& c : cases) {
        vltest::MsgCapture capture;
        int port = 23;
        EXPECT_EQ(resolveAddress(c.host, &port, c.report), c.address) << c.host;
        EXPECT_EQ(port, c.port) << c.host;
        if (c.code != 0) {
            EXPECT_EQ(capture.textOf(c.code), c.error) << c.host;
        }
        EXPECT_EQ(capture.codes().size(), c.code != 0 ? 1u : 0u) << c.host;
    }
}

}  // namespace

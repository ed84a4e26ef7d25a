// Loopback test servers: one poll loop per server over the listening socket, a
// wake-up eventfd and every client. Test code, so it uses POSIX directly.
#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace vltest {

int64_t monoMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

namespace {

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::abort();
}

int listenOnLoopback(int* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) fail("socket");
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) fail("bind");
    if (listen(fd, 4096) < 0) fail("listen");
    socklen_t len = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) < 0) fail("getsockname");
    *port = ntohs(sa.sin_port);
    return fd;
}

}  // namespace

char LoopbackServer::streamByte(uint64_t i) {
    const uint64_t col = i % 64;
    if (col == 62) return '\r';
    if (col == 63) return '\n';
    return static_cast<char>('A' + (i / 64 + col) % 26);
}

LoopbackServer::LoopbackServer(ServerBehaviour behaviour) : b_(std::move(behaviour)) {
    listenFd_ = listenOnLoopback(&port_);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) fail("eventfd");
    thread_ = std::thread([this] { loop(); });
}

LoopbackServer::~LoopbackServer() {
    stop_ = true;
    wake();
    thread_.join();
    for (Client& c : clients_) close(c.fd);
    close(listenFd_);
    close(wakeFd_);
}

std::string LoopbackServer::address() const { return "127.0.0.1:" + std::to_string(port_); }

int LoopbackServer::accepted() const {
    std::lock_guard<std::mutex> g(m_);
    return accepted_;
}

int LoopbackServer::open() const {
    std::lock_guard<std::mutex> g(m_);
    return open_;
}

std::string LoopbackServer::received() const {
    std::lock_guard<std::mutex> g(m_);
    return received_;
}

bool LoopbackServer::waitReceived(const std::string& needle, int timeoutMs) const {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs),
                        [&] { return received_.find(needle) != std::string::npos; });
}

bool LoopbackServer::waitReceivedBytes(size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return receivedBytes_ >= n; });
}

bool LoopbackServer::waitAccepted(int n, int timeoutMs) const {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return accepted_ >= n; });
}

bool LoopbackServer::waitOpenAtMost(int n, int timeoutMs) const {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return open_ <= n; });
}

void LoopbackServer::sendToAll(const std::string& bytes) {
    {
        std::lock_guard<std::mutex> g(m_);
        toSend_ += bytes;
    }
    wake();
}

void LoopbackServer::closeAll() {
    {
        std::lock_guard<std::mutex> g(m_);
        closeAllRequested_ = true;
    }
    wake();
}

void LoopbackServer::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t r = write(wakeFd_, &one, sizeof one);
}

void LoopbackServer::acceptClients() {
    for (;;) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        if (b_.receiveBuffer > 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &b_.receiveBuffer, sizeof b_.receiveBuffer);
        Client c{fd, b_.greeting, 0, b_.streamBytes, 0, monoMs() + b_.readDelayMs, false};
        c.closing = b_.closeAfterSending;
        clients_.push_back(std::move(c));
        std::lock_guard<std::mutex> g(m_);
        ++accepted_;
        ++open_;
        cv_.notify_all();
    }
}

namespace {
// The generated stream repeats every 64 * 26 bytes; one table of a period plus
// a chunk lets every chunk be copied from it.
constexpr size_t kPeriod = 64 * 26;
constexpr size_t kChunk = 65536;
const char* streamTable() {
    static const std::string table = [] {
        std::string t(kPeriod + kChunk, 0);
        for (size_t i = 0; i < t.size(); ++i) t[i] = LoopbackServer::streamByte(i);
        return t;
    }();
    return table.data();
}
}  // namespace

bool LoopbackServer::fillAndWrite(Client& c) {
    const char* table = streamTable();
    for (;;) {
        const char* p;
        size_t n;
        if (c.outPos < c.out.size()) {
            p = c.out.data() + c.outPos;
            n = c.out.size() - c.outPos;
        } else if (c.streamLeft > 0) {
            n = static_cast<size_t>(std::min<uint64_t>(kChunk, c.streamLeft));
            p = table + c.streamPos % kPeriod;
        } else {
            c.out.clear();
            c.outPos = 0;
            return !c.closing;
        }
        const ssize_t w = send(c.fd, p, n, MSG_NOSIGNAL);
        if (w < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (c.outPos >= c.out.size()) {
            c.streamLeft -= static_cast<uint64_t>(w);
            c.streamPos += static_cast<uint64_t>(w);
        } else {
            c.outPos += static_cast<size_t>(w);
        }
        if (static_cast<size_t>(w) < n) return true;  // socket full: wait for POLLOUT
    }
}

bool LoopbackServer::serviceClient(Client& c, short revents) {
    if (revents & POLLIN) {
        char buf[65536];
        for (;;) {
            const ssize_t r = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
            if (r == 0) return false;
            if (r < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
                return false;
            }
            {
                std::lock_guard<std::mutex> g(m_);
                if (b_.record) received_.append(buf, static_cast<size_t>(r));
                receivedBytes_ += static_cast<size_t>(r);
                cv_.notify_all();
            }
            if (b_.echo) c.out.append(buf, static_cast<size_t>(r));
        }
    } else if (revents & (POLLHUP | POLLERR)) {
        return false;
    }
    return fillAndWrite(c);
}

void LoopbackServer::loop() {
    std::vector<pollfd> fds;
    while (!stop_) {
        std::string pending;
        bool closeAll = false;
        {
            std::lock_guard<std::mutex> g(m_);
            pending.swap(toSend_);
            closeAll = closeAllRequested_;
            closeAllRequested_ = false;
        }
        if (!pending.empty())
            for (Client& c : clients_) c.out += pending;
        if (closeAll)
            for (Client& c : clients_) c.closing = true;

        const int64_t now = monoMs();
        int timeout = -1;
        fds.clear();
        fds.push_back({listenFd_, POLLIN, 0});
        fds.push_back({wakeFd_, POLLIN, 0});
        for (Client& c : clients_) {
            short ev = 0;
            if (now >= c.readFrom) {
                ev |= POLLIN;
            } else {
                const int64_t left = c.readFrom - now;
                if (timeout < 0 || left < timeout) timeout = static_cast<int>(left);
            }
            if (c.outPos < c.out.size() || c.streamLeft > 0 || c.closing) ev |= POLLOUT;
            fds.push_back({c.fd, ev, 0});
        }
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) fail("poll");
        if (fds[1].revents & POLLIN) {
            uint64_t v;
            [[maybe_unused]] ssize_t r = read(wakeFd_, &v, sizeof v);
        }
        std::vector<Client> keep;
        keep.reserve(clients_.size());
        for (size_t i = 0; i < clients_.size(); ++i) {
            Client& c = clients_[i];
            const short rev = fds[i + 2].revents;
            const bool alive = (rev == 0) ? true : serviceClient(c, rev);
            if (alive) {
                keep.push_back(std::move(c));
            } else {
                close(c.fd);
                std::lock_guard<std::mutex> g(m_);
                --open_;
                cv_.notify_all();
            }
        }
        clients_.swap(keep);
        if (fds[0].revents & POLLIN) acceptClients();
    }
}

int refusedPort() {
    int port = 0;
    const int fd = listenOnLoopback(&port);
    close(fd);  // nothing listens there any more
    return port;
}

}  // namespace vltest

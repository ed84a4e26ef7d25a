// Loopback test servers: one poll loop per server over the listening socket, a
// wake-up eventfd and every client. Test code, so it uses POSIX directly.
#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vltest {

namespace {

constexpr int kFlags = SOCK_CLOEXEC | SOCK_NONBLOCK;

sockaddr_in loopback(int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(port));
    return sa;
}

int listenOnLoopback(int* port, int backlog = 4096) {
    const int fd = socket(AF_INET, SOCK_STREAM | kFlags, 0);
    sockaddr_in sa = loopback(0);
    socklen_t len = sizeof sa;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0 || listen(fd, backlog) < 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) < 0) {
        std::perror("loopback server");
        std::abort();
    }
    *port = ntohs(sa.sin_port);
    return fd;
}

// The generated stream repeats every 64 * 26 bytes; one table of a period plus
// a chunk lets every chunk be sent straight from it.
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

char LoopbackServer::streamByte(uint64_t i) {
    const uint64_t col = i % 64;
    return col == 62 ? '\r' : col == 63 ? '\n' : static_cast<char>('A' + (i / 64 + col) % 26);
}

LoopbackServer::LoopbackServer(ServerBehaviour behaviour) : b_(std::move(behaviour)) {
    listenFd_ = listenOnLoopback(&port_, b_.neverAccept ? 0 : 4096);
    if (b_.neverAccept) {
        // The smallest queue, filled by connections of our own that are never
        // taken: the kernel drops every further SYN.
        sockaddr_in sa = loopback(port_);
        for (int i = 0; i < 3; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM | kFlags, 0);
            connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
            fillers_.push_back(fd);
        }
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { loop(); });
}

LoopbackServer::~LoopbackServer() {
    stop_ = true;
    wake();
    thread_.join();
    for (Client& c : clients_) close(c.fd);
    stopListening();
    close(wakeFd_);
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
    return waitUntil([&] { return received().find(needle) != std::string::npos; }, timeoutMs);
}

void LoopbackServer::sendToAll(const std::string& bytes) {
    {
        std::lock_guard<std::mutex> g(m_);
        toSend_ += bytes;
    }
    wake();
}

void LoopbackServer::resetAll() {
    {
        std::lock_guard<std::mutex> g(m_);
        resetPending_ = true;
    }
    wake();
}

void LoopbackServer::stopListening() {
    std::lock_guard<std::mutex> g(m_);
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
    for (const int fd : fillers_) close(fd);
    fillers_.clear();
}

void LoopbackServer::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(wakeFd_, &one, sizeof one);
}

bool LoopbackServer::write(Client& c) {
    for (;;) {
        const bool greeting = !c.out.empty();
        if (!greeting && c.streamLeft == 0) return !c.closing;
        const char* p = greeting ? c.out.data() : streamTable() + c.streamPos % kPeriod;
        const size_t n = greeting ? c.out.size() : static_cast<size_t>(std::min<uint64_t>(kChunk, c.streamLeft));
        const ssize_t w = send(c.fd, p, n, MSG_NOSIGNAL);
        if (w < 0) return errno == EAGAIN || errno == EINTR;
        if (greeting) {
            c.out.erase(0, static_cast<size_t>(w));
        } else {
            c.streamLeft -= static_cast<uint64_t>(w);
            c.streamPos += static_cast<uint64_t>(w);
        }
        if (static_cast<size_t>(w) < n) return true;  // socket full: wait for POLLOUT
    }
}

bool LoopbackServer::serviceClient(Client& c, short revents) {
    if (!(revents & POLLIN)) return (revents & (POLLHUP | POLLERR)) ? false : write(c);
    char buf[65536];
    for (;;) {
        const ssize_t r = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (r < 0 && (errno == EAGAIN || errno == EINTR)) break;
        if (r <= 0) return false;
        {
            std::lock_guard<std::mutex> g(m_);
            received_.append(buf, static_cast<size_t>(r));
        }
        if (b_.echo) c.out.append(buf, static_cast<size_t>(r));
        if (c.script) c.out += c.script(std::string(buf, static_cast<size_t>(r)));
    }
    return write(c);
}

void LoopbackServer::loop() {
    std::vector<pollfd> fds;
    while (!stop_) {
        std::string pending;
        bool reset = false;
        {
            std::lock_guard<std::mutex> g(m_);
            pending.swap(toSend_);
            std::swap(reset, resetPending_);
        }
        if (reset) {
            for (Client& c : clients_) {
                const linger hard{1, 0};  // the close sends an RST
                setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                close(c.fd);
            }
            std::lock_guard<std::mutex> g(m_);
            open_ -= static_cast<int>(clients_.size());
            clients_.clear();
        }
        const int64_t now = monoMs();
        int timeout = -1;
        // A server that never accepts leaves its queue alone (and may stop listening).
        fds.assign({{b_.neverAccept ? -1 : listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}});
        for (Client& c : clients_) {
            c.out += pending;
            const int64_t wait = c.readFrom - now;
            if (wait > 0 && (timeout < 0 || wait < timeout)) timeout = static_cast<int>(wait);
            const bool writing = !c.out.empty() || c.streamLeft > 0 || c.closing;
            fds.push_back({c.fd, static_cast<short>((now >= c.readFrom ? POLLIN : 0) | (writing ? POLLOUT : 0)), 0});
        }
        poll(fds.data(), fds.size(), timeout);
        if (fds[1].revents & POLLIN) {
            uint64_t v;
            [[maybe_unused]] ssize_t r = read(wakeFd_, &v, sizeof v);
        }
        std::vector<Client> keep;
        for (size_t i = 0; i < clients_.size(); ++i) {
            if (fds[i + 2].revents == 0 || serviceClient(clients_[i], fds[i + 2].revents)) {
                keep.push_back(std::move(clients_[i]));
            } else {
                close(clients_[i].fd);
                std::lock_guard<std::mutex> g(m_);
                --open_;
            }
        }
        clients_.swap(keep);
        for (int fd; (fds[0].revents & POLLIN) && (fd = accept4(listenFd_, nullptr, nullptr, kFlags)) >= 0;) {
            if (b_.receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &b_.receiveBuffer, sizeof b_.receiveBuffer);
            clients_.push_back(
                {fd, b_.greeting, b_.streamBytes, 0, monoMs() + b_.readDelayMs, b_.closeAfterSending, b_.script});
            std::lock_guard<std::mutex> g(m_);
            ++open_;
        }
    }
}

int refusedPort() {
    int port = 0;
    close(listenOnLoopback(&port));  // nothing listens there any more
    return port;
}

}  // namespace vltest

// POSIX implementation of the socket functions of the platform layer.
//
// Connecting is a non-blocking connect whose end the caller waits for (with a
// limit of its own instead of the kernel's two minutes, and together with
// whatever else may end the wait); the socket then stays non-blocking, which
// the event thread of a connection relies on.
#include "base/platform/net.h"

#include "base/platform/sync.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

int netLastError() { return errno; }

bool netWouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

bool netPeerGone(int err) {
    return err == ECONNRESET || err == EPIPE || err == ETIMEDOUT || err == ECONNABORTED ||
           err == ENOTCONN || err == EHOSTUNREACH || err == ENETUNREACH;
}

int netSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP); }

int netClose(int fd) { return fd < 0 ? 0 : ::close(fd); }

int netConnectStart(int fd, uint32_t address, int port) {
    if (port < 0 || port > 65535) {
        errno = EINVAL;
        return -1;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0) return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = address;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return netConnectFinish(fd) == 0 ? 0 : -1;
    return errno == EINPROGRESS ? 1 : -1;
}

int netConnectFinish(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return errno;
    if (err != 0) {
        errno = err;
        return err;
    }
    // Lines are written whole; holding a short line back for the peer's
    // acknowledgement only delays the dialogue.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return 0;
}

int netConnect(int fd, uint32_t address, int port, int timeoutMs) {
    const int started = netConnectStart(fd, address, port);
    if (started <= 0) return started;
    const int64_t deadline = platformMonotonicMs() + timeoutMs;
    for (;;) {
        pollfd p{fd, POLLOUT, 0};
        const int64_t left = deadline - platformMonotonicMs();
        const int r = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        return netConnectFinish(fd) == 0 ? 0 : -1;
    }
}

int netSend(int fd, const char* bytes, int n) {
    return static_cast<int>(::send(fd, bytes, static_cast<size_t>(n), MSG_NOSIGNAL | MSG_DONTWAIT));
}

int netRecv(int fd, char* into, int n) {
    return static_cast<int>(::recv(fd, into, static_cast<size_t>(n), MSG_DONTWAIT));
}

int netPending(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) < 0 ? 0 : n;
}

int netPeer(int fd, uint32_t* address, int* port) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) < 0) return -1;
    *address = sa.sin_addr.s_addr;
    *port = ntohs(sa.sin_port);
    return 0;
}

bool netParseDotted(const char* text, uint32_t* address) {
    in_addr a{};
    if (::inet_pton(AF_INET, text, &a) != 1) return false;
    *address = a.s_addr;
    return true;
}

uint32_t netLookup(const char* name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) return 0;
    uint32_t address = 0;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
            address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
            break;
        }
    }
    ::freeaddrinfo(list);
    return address;
}

long netFileLimit() {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return -1;
    return static_cast<long>(lim.rlim_cur);
}

bool netOutOfDescriptors(int err) { return err == EMFILE || err == ENFILE; }

void netRaiseFileLimit() {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
    }
}

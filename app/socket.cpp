// NSocket::LSocket: the thread of one TCP connection and its event bits.
//
// The thread waits with poll on the socket and on its stopEvent, which close()
// signals (through LThread::stop) and which a short send signals to make the
// thread wait for writability again. Received data is always read to the end
// before the single kFdClose: the peer's end of data is noticed by the read that
// finds it, never by the wait, so the last words of a server that hangs up are
// delivered. The descriptor is closed only under g_libLock and only when no
// send is marked in progress, so a thread that holds the lock and sees the
// connection in its list can use the socket safely, and keeps that right
// across a release of the lock by marking its send (SendInProgress).
#include "app/socket.h"

#include <cstdarg>
#include <cstring>

#include "base/lock.h"
#include "base/msg.h"
#include "base/platform/net.h"
#include "base/platform/sync.h"
#include "base/text.h"

namespace NSocket {

int LSocket::connectLimitMs = 20000;

LSocket::LSocket() {
    fd_ = netSocket();
    if (fd_ < 0) reportSocketError("socket() failed");
}

LSocket::~LSocket() {
    // The thread (when there was one) has left run(): only the socket of an
    // object that never started is still open here.
    close();
}

namespace {
LString dotted(uint32_t address, int port) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    return LString::format("%d.%d.%d.%d:%d", b[0], b[1], b[2], b[3], port);
}
}  // namespace

int LSocket::connectTo(uint32_t address, int port) {
    if (netConnect(fd_, address, port, connectLimitMs) == 0) {
        peer_ = dotted(address, port);
        return 0;
    }
    const int err = netLastError();
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    reportSocketErrorNo(err, "failed to connect() to %d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    netClose(fd_);
    fd_ = -1;
    return 1;
}

bool LSocket::startEvents() {
    LLockGuard guard;  // the thread cannot end (and delete us) before we look
    if (fd_ < 0) return false;
    if (stopEvent.handle() < 0) {
        // LEvent has reported the failure.
        close();
        return false;
    }
    started_ = true;
    start(true);
    if (!isRunning()) {
        started_ = false;
        close();
        return false;
    }
    return true;
}

int LSocket::sendAll(const char* bytes, int length) {
    const int rest = sendSome(bytes, length);
    if (rest > 0) requestWritable();
    return rest;
}

int LSocket::sendSome(const char* bytes, int length) {
    if (length < 0) length = static_cast<int>(std::strlen(bytes));
    int sent = 0;
    for (int call = 0; call < 10 && sent < length; ++call) {
        if (call > 0) sleepMs(50);
        const int n = netSend(fd_, bytes + sent, length - sent);
        if (n >= 0) {
            sent += n;
            continue;
        }
        const int err = netLastError();
        if (netWouldBlock(err)) continue;
        // A hard error does not go away by waiting: report it once, stop trying.
        if (fd_ >= 0 && !netPeerGone(err)) reportSocketErrorNo(err, "send() failed");
        break;
    }
    return length - sent;
}

void LSocket::requestWritable() {
    if (!started_) return;
    wantWrite_ = true;
    stopEvent.set();
}

LSocket::SendInProgress::SendInProgress(LSocket& socket) : socket_(socket) {
    LLockGuard guard;
    // The thread closes the socket and looks at the marks under one hold of
    // the lock: an open socket is not closed before this mark goes.
    active_ = socket_.fd_ >= 0;
    if (active_) ++socket_.sendsInProgress_;
}

LSocket::SendInProgress::~SendInProgress() {
    if (!active_) return;
    LLockGuard guard;
    --socket_.sendsInProgress_;
}

int LSocket::receiveAll(LString& into, int pauseMs) {
    ++reads_;
    if (pauseMs < 0) pauseMs = 0;
    // The piece's time limit, read from the clock only when the piece waits.
    int64_t until = -1;
    int total = 0;
    char buf[16 * 1024];
    while (total < kPieceLimit) {
        const int want = kPieceLimit - total < static_cast<int>(sizeof buf)
                             ? kPieceLimit - total
                             : static_cast<int>(sizeof buf);
        const int n = netRecv(fd_, buf, want);
        if (n > 0) {
            into.append(buf, n);
            total += n;
            // A read that did not fill the buffer took all that was waiting:
            // go on as if the next read had found nothing, without making it.
            if (n == want) continue;
        } else if (n == 0) {
            peerGone_ = true;  // the peer's end of data: everything before it is read
            break;
        } else {
            const int err = netLastError();
            if (!netWouldBlock(err)) {
                if (!netPeerGone(err)) reportSocketErrorNo(err, "recv() failed");
                peerGone_ = true;
                break;
            }
        }
        // Nothing waits now: the piece ends unless more comes within the pause.
        if (total == 0 || pauseMs == 0) break;
        const int64_t now = platformMonotonicMs();
        if (until < 0) until = now + (pauseMs > kPieceTimeMs ? pauseMs : kPieceTimeMs);
        if (now >= until) break;
        // A wake-up (close, or a short send) ends the piece; run() looks at why.
        const int got = waitFd(fd_, kPollIn, &stopEvent, pauseMs);
        if (got <= 0 || (got & kWaitEvent)) break;
    }
    return total;
}

LString LSocket::peerAddress() const {
    LLockGuard guard;
    if (fd_ >= 0) {
        uint32_t address = 0;
        int port = 0;
        if (netPeer(fd_, &address, &port) == 0) return dotted(address, port);
        const int err = netLastError();
        if (!netPeerGone(err)) reportSocketErrorNo(err, "getpeername() failed");
    }
    // Closed, or the peer has gone: the address it was connected to.
    return peer_;
}

void LSocket::close() {
    LLockGuard guard;
    if (fd_ < 0) return;
    if (started_) {
        // The thread closes the socket itself and then delivers kFdClose.
        closeRequested_ = true;
        stop(0);
    } else {
        if (netClose(fd_) < 0) reportSocketError("close() failed");
        fd_ = -1;
    }
}

void LSocket::deliver(uint32_t mask) {
    NetworkEvents events;
    events.mask = mask;
    const int before = reads_;
    onNetworkEvents(events);
    if ((mask & kFdRead) && reads_ == before) {
        // The handler did not read: drop the data so the end of data is still seen.
        LString discard;
        receiveAll(discard, 0);
    }
}

void LSocket::run() {
    deliver(kFdConnect);
    while (!closeRequested_ && !stopRequested && !peerGone_) {
        const bool wantWrite = wantWrite_;
        const int got = waitFd(fd_, kPollIn | (wantWrite ? kPollOut : 0), &stopEvent, -1);
        if (got < 0) {
            reportSocketError("poll() failed");
            break;
        }
        if (closeRequested_ || stopRequested) break;
        if (got & (kPollError | kPollHangup | kPollInvalid)) {
            // The connection is gone: hand on whatever is still readable, then end.
            while (!peerGone_ && !closeRequested_ && !stopRequested) {
                const int before = reads_;
                deliver(kFdRead);
                if (reads_ == before) break;
            }
            break;
        }
        uint32_t mask = 0;
        if (got & kPollIn) mask |= kFdRead;
        if ((got & kPollOut) && wantWrite) {
            wantWrite_ = false;
            mask |= kFdWrite;
        }
        if (mask != 0) deliver(mask);
    }
    // Another thread may be sending with g_libLock released: the socket stays
    // open, and the object alive, until it has finished. Its sends do not
    // block (at most a few short sleeps while the socket is full).
    for (;;) {
        {
            LLockGuard guard;
            if (sendsInProgress_ == 0) {
                if (netClose(fd_) < 0) reportSocketError("close() failed");
                fd_ = -1;
                break;
            }
        }
        sleepMs(1);
    }
    deliver(kFdClose);
}

}  // namespace NSocket

void winsockStartup() {
    // Nothing to start on Linux; what many connections need is descriptors.
    netRaiseFileLimit();
}

namespace {
// A port as the user writes it: decimal digits only, 1 to 65535; -1 otherwise.
int parsePort(const char* text) {
    int value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9' && value <= 65535; ++p) value = value * 10 + (*p - '0');
    return p == text || *p != 0 || value < 1 || value > 65535 ? -1 : value;
}
}  // namespace

uint32_t resolveAddress(const char* host, int* port, bool report) {
    LString name(host);
    const int colon = name.find(":");
    if (colon >= 0) {
        const int value = parsePort(name.data() + colon + 1);
        if (port != nullptr) *port = value;
        if (value < 0) {
            msg(10044, "ポート番号が正しくありません: '%s'", host);
            return 0;
        }
        name.truncate(colon);
    }
    uint32_t address = 0;
    if (netParseDotted(name.data(), &address)) return address;
    address = netLookup(name.data());
    if (address == 0 && report) msg(15000, "cannot resolve '%s' to an IP address", host);
    return address;
}

namespace {
void reportV(int err, const char* fmt, va_list args) {
    LString text = LString::format("Socket Error %d (%s): ", err, winErrorText(err).data());
    text.appendFormatV(fmt, args);
    msgText(17300, text.data());
}
}  // namespace

void reportSocketError(const char* fmt, ...) {
    const int err = netLastError();
    va_list args;
    va_start(args, fmt);
    reportV(err, fmt, args);
    va_end(args);
}

void reportSocketErrorNo(int err, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    reportV(err, fmt, args);
    va_end(args);
}

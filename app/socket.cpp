// NSocket::LSocket: the thread of one TCP connection and its event bits.
//
// The thread connects first: a dotted address at once, a name through a lookup
// on a detached helper thread (getaddrinfo cannot be interrupted, and a close
// must not wait for it), then a non-blocking connect; both waits end early
// when close() signals the wake-up event. Then it waits with poll on the
// socket and on the same event, which close() signals (through LThread::stop)
// and which a short send signals to make the thread wait for writability
// again. Received data is always read to the end before the single kFdClose:
// the peer's end of data is noticed by the read that finds it, never by the
// wait, so the last words of a server that hangs up are delivered. The
// descriptor is closed only under g_libLock and only when no send is marked in
// progress, so a thread that holds the lock and sees the connection in its
// list can use the socket safely, and keeps that right across a release of
// the lock by marking its send (SendInProgress).
//
// A program connection's thread starts the program where a TCP connection
// connects, and after closing the terminal's master side (where a TCP
// connection closes its socket) ends and reaps the program, without the lock,
// before it delivers kFdClose.
#include "app/socket.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "app/program.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/platform/net.h"
#include "base/platform/process.h"
#include "base/platform/pty.h"
#include "base/platform/sync.h"
#include "base/text.h"

namespace NSocket {

int LSocket::connectLimitMs = 20000;

LSocket::LSocket() = default;

LSocket::~LSocket() {
    // The thread (when there was one) has left run(): only the socket of an
    // object that never started is still open here.
    if (fd_ >= 0 && netClose(fd_) < 0) reportSocketError(Tx::socketCloseFailed);
    fd_ = -1;
}

namespace {
LString dotted(uint32_t address, int port) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    return LString::format("%d.%d.%d.%d:%d", b[0], b[1], b[2], b[3], port);
}

// Reports a descriptor the system refused for a new connection: when they have
// run out, with the limit and how to raise it.
void reportRefusedDescriptor(int err, const char* label, TextOf<> what) {
    if (netOutOfDescriptors(err)) {
        msg(Tx::fileLimitReached, label, netFileLimit());
    } else {
        reportSocketErrorNo(err, what);
    }
}

// A name lookup on a detached thread of its own, shared by that thread and the
// connection's: whoever lets go last frees it. The helper signals the
// connection's wake-up event when it has ended.
struct Lookup {
    LString name;
    LEvent wake;
    std::atomic<uint32_t> address{0};
    std::atomic<bool> done{false};
    std::atomic<int> refs{2};

    void release() {
        if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    static void run(void* arg) {
        auto* l = static_cast<Lookup*>(arg);
        l->address = netLookup(l->name.data());
        l->done = true;
        l->wake.set();
        l->release();
    }
};
}  // namespace

void LSocket::setTarget(const char* text, const char* host, int port) {
    text_.assign(text);
    host_.assign(host);
    port_ = port;
    uint32_t address = 0;
    LLockGuard guard;
    peer_ = netParseDotted(host, &address) ? dotted(address, port) : LString::format("%s:%d", host, port);
}

void LSocket::setProgram(std::unique_ptr<LProgram> program) {
    program_ = std::move(program);
    LLockGuard guard;
    peer_ = program_->commandLine();
}

LString LSocket::programEnd() const { return program_ ? program_->endText() : LString(); }

bool LSocket::prepare(const char* label) {
    if (!stopEvent.makePollable()) {
        reportRefusedDescriptor(platformErrno(), label, Tx::cannotCreateEvent);
        return false;
    }
    if (program_) {
        fd_ = program_->openTerminal();
        if (fd_ < 0) {
            const int err = platformErrno();
            if (netOutOfDescriptors(err))
                reportRefusedDescriptor(err, label, Tx::openptFailed);
            else
                msg(Tx::terminalOpenFailed, label, winErrorText(err).data());
            return false;
        }
    } else {
        fd_ = netSocket();
        if (fd_ < 0) {
            reportRefusedDescriptor(netLastError(), label, Tx::socketCreateFailed);
            return false;
        }
    }
    // Descriptors are numbered from the lowest free one, so the socket's number
    // tells how many are in use: the last few are kept for log files, command
    // files and name lookups, which must not fail because connections took all.
    const long limit = netFileLimit();
    if (limit > 0 && fd_ >= limit - kReservedDescriptors) {
        netClose(fd_);
        fd_ = -1;
        reportRefusedDescriptor(EMFILE, label, Tx::socketCreateFailed);
        return false;
    }
    return true;
}

bool LSocket::startEvents() {
    LLockGuard guard;  // the thread cannot end (and delete us) before we look
    if (fd_ < 0) return false;
    started_ = true;
    start(true);
    if (!isRunning()) {
        started_ = false;
        return false;
    }
    return true;
}

int LSocket::lookUp(uint32_t* address) {
    if (netParseDotted(host_.data(), address)) return 0;
    auto* lookup = new Lookup;
    lookup->name = host_;
    lookup->wake.share(stopEvent);
    if (!platformStartThread(Lookup::run, lookup)) {
        lookup->refs = 1;
        Lookup::run(lookup);  // no thread to spare: look it up here
        lookup = nullptr;
    }
    if (lookup != nullptr) {
        while (!lookup->done && !closeRequested_) stopEvent.wait(-1);
        const bool done = lookup->done;
        *address = lookup->address;
        lookup->release();
        if (!done) return -1;
    }
    if (closeRequested_) return -1;
    if (*address != 0) return 0;
    msg(Tx::hostNotAddress, text_.data());
    return EHOSTUNREACH;
}

int LSocket::dial() {
    if (program_) return closeRequested_ ? -1 : program_->start();
    uint32_t address = 0;
    const int looked = lookUp(&address);
    if (looked != 0) return looked;
    {
        LLockGuard guard;
        peer_ = dotted(address, port_);
    }
    int err = 0;
    const int started = netConnectStart(fd_, address, port_);
    if (started < 0) err = netLastError();
    const int64_t deadline = platformMonotonicMs() + connectLimitMs;
    while (started == 1 && err == 0) {
        const int64_t left = deadline - platformMonotonicMs();
        if (left <= 0) {
            err = ETIMEDOUT;
            break;
        }
        const int got = waitFd(fd_, kPollOut, &stopEvent, static_cast<int>(left));
        if (closeRequested_) return -1;
        if (got < 0) {
            err = netLastError();
        } else if (got & (kPollOut | kPollError | kPollHangup)) {
            err = netConnectFinish(fd_);
            break;
        }
    }
    if (closeRequested_) return -1;
    if (err != 0) {
        const auto* b = reinterpret_cast<const unsigned char*>(&address);
        reportSocketErrorNo(err, Tx::connectFailed, b[0], b[1], b[2], b[3]);
    }
    return err;
}

int LSocket::sendAll(const char* bytes, int length) {
    const int rest = sendSome(bytes, length);
    if (rest > 0) requestWritable();
    return rest;
}

int LSocket::sendSome(const char* bytes, int length) {
    if (length < 0) length = static_cast<int>(std::strlen(bytes));
    // Never waits: what the socket does not take now stays with the caller,
    // who sends it on the next kFdWrite, so a full socket holds up nobody.
    int sent = 0;
    while (sent < length) {
        const int n = writeSome(bytes + sent, length - sent);
        if (n > 0) {
            sent += n;
            continue;
        }
        const int err = netLastError();
        if (n < 0 && err == EINTR) continue;
        if (n == 0 || netWouldBlock(err)) break;
        // A hard error does not go away by waiting: report it once, stop trying.
        if (fd_ >= 0 && !netPeerGone(err)) {
            if (program_)
                reportSocketErrorNo(err, Tx::programWriteFailed);
            else
                reportSocketErrorNo(err, Tx::sendFailed);
        }
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
    // The ending thread waits for the last mark on its wake-up event.
    if (--socket_.sendsInProgress_ == 0 && socket_.closeWaits_) socket_.stopEvent.set();
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
        const int n = readSome(buf, want);
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
                if (!netPeerGone(err)) {
                    if (program_)
                        reportSocketErrorNo(err, Tx::programReadFailed);
                    else
                        reportSocketErrorNo(err, Tx::receiveFailed);
                }
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
    if (fd_ >= 0 && started_ && !closeRequested_ && !program_) {
        uint32_t address = 0;
        int port = 0;
        if (netPeer(fd_, &address, &port) == 0) return dotted(address, port);
        const int err = netLastError();
        if (!netPeerGone(err)) reportSocketErrorNo(err, Tx::peerNameFailed);
    }
    // Connecting, closed, or the peer has gone: the address it was meant for.
    return peer_;
}

void LSocket::close() {
    LLockGuard guard;
    if (fd_ < 0 || closeRequested_) return;
    if (started_) {
        // The thread closes the socket itself and then delivers kFdClose.
        closeRequested_ = true;
        stop(0);
    } else {
        if (netClose(fd_) < 0) reportSocketError(Tx::socketCloseFailed);
        fd_ = -1;
    }
}

int LSocket::readSome(char* into, int n) { return program_ ? ptyRead(fd_, into, n) : netRecv(fd_, into, n); }

int LSocket::writeSome(const char* bytes, int n) {
    return program_ ? ptyWrite(fd_, bytes, n) : netSend(fd_, bytes, n);
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
    const int dialed = dial();
    if (dialed == 0) {
        deliver(kFdConnect);
    } else {
        NetworkEvents failed;
        failed.mask = kFdConnect;
        failed.errors[kFdConnectBit] = dialed > 0 ? dialed : ECANCELED;
        onNetworkEvents(failed);
    }
    while (dialed == 0 && !closeRequested_ && !stopRequested && !peerGone_) {
        const bool wantWrite = wantWrite_;
        const int got = waitFd(fd_, kPollIn | (wantWrite ? kPollOut : 0), &stopEvent, -1);
        if (got < 0) {
            reportSocketError(Tx::pollFailed);
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
    // open, and the object alive, until it has finished. Its sends never wait,
    // so this wait is short; the last mark to go signals the wake-up event.
    for (;;) {
        {
            LLockGuard guard;
            if (sendsInProgress_ == 0) {
                if (netClose(fd_) < 0) reportSocketError(Tx::socketCloseFailed);
                fd_ = -1;
                closeWaits_ = false;
                break;
            }
            closeWaits_ = true;
        }
        stopEvent.wait(-1);
    }
    // The program learns of the end from its terminal and from the hang-up;
    // the close then tells how it ended.
    if (program_) program_->hangUp();
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

bool splitHostPort(const char* text, LString& host, int* port) {
    host.assign(text);
    const int colon = host.find(":");
    if (colon < 0) return true;
    const int value = parsePort(host.data() + colon + 1);
    if (port != nullptr) *port = value;
    if (value < 0) {
        msg(Tx::invalidPort, text);
        return false;
    }
    host.truncate(colon);
    return true;
}

uint32_t resolveAddress(const char* host, int* port, bool report) {
    LString name;
    if (!splitHostPort(host, name, port)) return 0;
    uint32_t address = 0;
    if (netParseDotted(name.data(), &address)) return address;
    address = netLookup(name.data());
    if (address == 0 && report) msg(Tx::cannotResolve, host);
    return address;
}

int lastSocketError() { return netLastError(); }

void reportSocketErrorOf(int err, Tx id, ...) {
    LString text = textf(Tx::socketError, err, winErrorText(err).data());
    va_list args;
    va_start(args, id);
    text.appendFormatV(tr(id), args);
    va_end(args);
    msgText(entryOf(Tx::socketError).code, text.data());
}

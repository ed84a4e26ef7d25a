// NSocket::LSocket: one outgoing TCP connection with a thread of its own.
//
// The thread waits (poll, through the platform layer) on the socket and on a
// wake-up event that close() signals from any thread, and hands the network
// events to onNetworkEvents() as the designed bits: kFdConnect once after the
// connection is made; kFdWrite once the connected socket can take data and again
// after a short send has drained; kFdRead while data waits; exactly one kFdClose
// at the end, after the socket is closed and after every byte still waiting has
// been delivered. The object deletes itself on its own thread when run() returns.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/lstring.h"
#include "base/thread.h"

namespace NSocket {

enum : uint32_t {
    kFdRead = 1,
    kFdWrite = 2,
    kFdOob = 4,
    kFdAccept = 8,
    kFdConnect = 16,
    kFdClose = 32,
};

// What onNetworkEvents receives: the event bits and one error code per bit.
struct NetworkEvents {
    uint32_t mask = 0;
    int errors[10] = {};
};

class LSocket : public LThread {
public:
    LSocket();  // creates the socket (reports "socket() failed")
    ~LSocket() override;

    // 0 on success, 1 on failure (reported, socket closed). Waits at most
    // connectLimitMs, then fails like a refused connection.
    int connectTo(uint32_t address, int port);
    // Starts the event thread (auto-deleting): true when it runs; from then on
    // the object belongs to its thread. On failure (reported) it stays closed,
    // without a thread, and still belongs to the caller.
    bool startEvents();
    // Bytes that remain unsent (0 when all went out); length < 0: up to the NUL.
    // When some remain, asks the thread for kFdWrite (requestWritable).
    int sendAll(const char* bytes, int length);
    // sendAll without that request: the caller records the rest first and then
    // calls requestWritable, so that the kFdWrite cannot come before the record.
    int sendSome(const char* bytes, int length);
    // Asks the thread for kFdWrite once the socket can take data (again).
    void requestWritable();

    // Marks a send that runs with g_libLock released for its lifetime: while one
    // is marked, the thread neither closes the socket nor ends (the end of run()
    // waits for the last mark to go), so the sender may use the socket and the
    // object without the lock. A socket that is already closed is not marked
    // (active() false): its thread may be ending, and the caller must keep the
    // lock. The caller holds g_libLock and knows the object alive when the mark
    // is made (its own thread, or found listed under the lock); constructor and
    // destructor take the lock themselves.
    class SendInProgress {
    public:
        explicit SendInProgress(LSocket& socket);
        ~SendInProgress();
        SendInProgress(const SendInProgress&) = delete;
        SendInProgress& operator=(const SendInProgress&) = delete;

        bool active() const { return active_; }

    private:
        LSocket& socket_;
        bool active_;
    };
    // Appends what arrives to into until a silence of pauseMs, until the piece
    // holds kPieceLimit bytes, or until it has been collecting for
    // max(kPieceTimeMs, pauseMs); returns the bytes received. Notes the peer's end
    // of data (or a lost connection), after which the thread delivers kFdClose.
    int receiveAll(LString& into, int pauseMs);
    // "a.b.c.d:port" of the peer; once the connection has gone, the address it
    // was connected to ("" when it never was). Unexpected failures are reported.
    LString peerAddress() const;
    // Ends the connection from any thread; never waits for the thread.
    void close();

    // Called on the connection's thread. A handler given kFdRead reads with
    // receiveAll; what it leaves unread is discarded.
    virtual void onNetworkEvents(const NetworkEvents& events) { (void)events; }

    static constexpr int kPieceLimit = 64 * 1024;
    static constexpr int kPieceTimeMs = 1000;
    // How long connectTo waits for the peer (tests shorten it).
    static int connectLimitMs;

protected:
    void run() override;

private:
    void deliver(uint32_t mask);

    int fd_ = -1;      // changed only under g_libLock once the thread runs
                       // and no send is in progress
    int sendsInProgress_ = 0;  // SendInProgress marks; under g_libLock
    LString peer_;     // the address connected to
    std::atomic<bool> started_{false};
    std::atomic<bool> closeRequested_{false};
    std::atomic<bool> wantWrite_{true};  // the thread waits for writability
    bool peerGone_ = false;              // connection thread only
    int reads_ = 0;                      // receiveAll calls; connection thread only
};

}  // namespace NSocket

// The socket library's start-up, called once by main before any connection:
// on Linux only raises the limit of open descriptors to the hard limit.
void winsockStartup();
// IPv4 address in network byte order, 0 when the host cannot be resolved. A
// dotted address (as inet_pton takes it) is used as it is; anything else is a
// name to look up. "host:port" stores the port through port (when not null);
// a port that is not a decimal number from 1 to 65535 is reported (10044,
// always) and stored as -1, and the result is 0 without a look-up.
uint32_t resolveAddress(const char* host, int* port, bool report);
// Reports code 17300 "Socket Error %d (%s): " + the formatted text, with the
// calling thread's last error number and its system text.
void reportSocketError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The same with a given error number.
void reportSocketErrorNo(int err, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

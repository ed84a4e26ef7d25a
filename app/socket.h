// NSocket::LSocket: one outgoing TCP connection with a thread of its own.
//
// The thread first connects (the name lookup on a helper thread, then a
// non-blocking connect with a time limit), waiting together with a wake-up
// event that close() signals from any thread, so that a dead host costs only
// its own connection and a close cancels the connect at once. Then it waits
// (poll) on the socket and on that event and hands the network events to
// onNetworkEvents() as event bits: kFdConnect once when the connect has
// ended (its error in errors[kFdConnectBit] when it failed, ECANCELED when
// close() ended it); kFdWrite once the connected socket can take data and
// again after a short send has drained; kFdRead while data waits; exactly one
// kFdClose at the end, after the socket is closed and after every byte still
// waiting has been delivered. The object deletes itself on its own thread
// when run() returns.
//
// A connection may also lead to a program (LProgram, app/program.h): then its
// descriptor is the master side of the program's pseudo-terminal, the first
// step starts the program instead of connecting, and the end of the
// connection ends the program (hang-up, SIGTERM, SIGKILL) and reaps it before
// the single kFdClose, so that the close can tell how the program ended.
// Everything between works the same on either descriptor.
//
// Descriptors: the socket (or the terminal) and the wake-up event, both made
// by prepare() on the opening thread, so that a refused open is reported
// there, once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/catalogue.h"
#include "base/lstring.h"
#include "base/thread.h"

namespace NSocket {

class LProgram;

enum : uint32_t {
    kFdRead = 1,
    kFdWrite = 2,
    kFdOob = 4,
    kFdAccept = 8,
    kFdConnect = 16,
    kFdClose = 32,
};
// Index into NetworkEvents::errors of the connect's error.
constexpr int kFdConnectBit = 4;

// What onNetworkEvents receives: the event bits and one error code per bit.
struct NetworkEvents {
    uint32_t mask = 0;
    int errors[10] = {};
};

class LSocket : public LThread {
public:
    LSocket();  // no descriptor yet: see prepare()
    ~LSocket() override;

    // Where the thread connects to: host (a dotted address, or a name that it
    // looks up; text is what the user wrote, for reports) and port.
    void setTarget(const char* text, const char* host, int port);
    // Instead of a host: the program that the thread starts, on a
    // pseudo-terminal (the object owns it). Before prepare().
    void setProgram(std::unique_ptr<LProgram> program);
    bool isProgram() const { return program_ != nullptr; }
    // How the program of a program connection ended ("exit code 3"), once
    // kFdClose has come; empty for a TCP connection.
    LString programEnd() const;
    // Makes the descriptors the connection needs (its wake-up event and its
    // socket) on the calling thread. False when the system refuses one; then it
    // has reported that once, naming the limit of open files and how to raise
    // it when descriptors have run out. label names the connection there.
    bool prepare(const char* label);
    // Starts the thread (auto-deleting), which connects and then delivers the
    // events: true when it runs; from then on the object belongs to its
    // thread. On failure (reported) it stays without a thread and still
    // belongs to the caller.
    bool startEvents();
    // Bytes that remain unsent (0 when all went out); length < 0: up to the NUL.
    // When some remain, asks the thread for kFdWrite (requestWritable).
    int sendAll(const char* bytes, int length);
    // sendAll without that request: the caller records the rest first and then
    // calls requestWritable, so that the kFdWrite cannot come before the record.
    // Never waits: what the socket does not take now is left over.
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
    // "a.b.c.d:port" of the peer; while connecting, or once the connection has
    // gone, the address it connects or was connected to. Unexpected failures
    // are reported. For a program, its command line.
    LString peerAddress() const;
    // Ends the connection from any thread, also while it connects; never waits
    // for the thread.
    void close();
    // close() has been asked for: the connection is ending.
    bool closing() const { return closeRequested_; }

    // Called on the connection's thread. A handler given kFdRead reads with
    // receiveAll; what it leaves unread is discarded.
    virtual void onNetworkEvents(const NetworkEvents& events) { (void)events; }

    // Descriptors that opening connections leaves free (below the limit of
    // open files) for the program's own files and name lookups.
    static constexpr int kReservedDescriptors = 16;
    static constexpr int kPieceLimit = 64 * 1024;
    static constexpr int kPieceTimeMs = 1000;
    // How long a connect may take (tests shorten it).
    static int connectLimitMs;

protected:
    void run() override;
    // The step that produces the connected descriptor, on the connection's
    // thread: for TCP the name lookup and the connect, for a program its
    // start. 0 when connected; the error number of a failure (reported here);
    // -1 when close() ended it.
    virtual int dial();

private:
    void deliver(uint32_t mask);
    // read / write on the descriptor, whichever kind it is, without waiting:
    // as netRecv / netSend (0 from readSome: the end of the data).
    int readSome(char* into, int n);
    int writeSome(const char* bytes, int n);
    // Waits until the lookup of the target name has ended (0: address set) or
    // close() was asked for (-1); the error number when the name is unknown.
    int lookUp(uint32_t* address);

    int fd_ = -1;      // changed only under g_libLock once the thread runs
                       // and no send is in progress
    int sendsInProgress_ = 0;  // SendInProgress marks; under g_libLock
    bool closeWaits_ = false;  // the ending thread waits for the last mark; under g_libLock
    LString peer_;     // the address connected to (the target before that); under g_libLock
    LString host_;     // the target: a dotted address or a name
    LString text_;     // the target as the user wrote it
    int port_ = 0;
    std::atomic<bool> started_{false};
    std::atomic<bool> closeRequested_{false};
    std::atomic<bool> wantWrite_{true};  // the thread waits for writability
    bool peerGone_ = false;              // connection thread only
    int reads_ = 0;                      // receiveAll calls; connection thread only
    // The program of a program connection; set before the thread starts, its
    // state changed by the thread only.
    std::unique_ptr<LProgram> program_;
};

}  // namespace NSocket

// The socket library's start-up, called once by main before any connection:
// on Linux only raises the limit of open descriptors to the hard limit.
void winsockStartup();
// Splits "host[:port]" into the host and the port (port left as it is when
// none is written). A port that is not a decimal number from 1 to 65535 is
// reported (10044) and stored as -1, and the result is false.
bool splitHostPort(const char* text, LString& host, int* port);
// IPv4 address in network byte order, 0 when the host cannot be resolved. A
// dotted address (as inet_pton takes it) is used as it is; anything else is a
// name to look up (this waits for the lookup). "host:port" stores the port
// through port (when not null) as splitHostPort does, and a bad port gives 0
// without a look-up.
uint32_t resolveAddress(const char* host, int* port, bool report);
// Reports code 17300 "Socket Error %d (%s): " followed by the text of the
// catalogue with its arguments, with the calling thread's last error number
// and its system text.
template <class... Args>
void reportSocketError(TextOf<Args...> text, Args... args);
// The same with a given error number.
template <class... Args>
void reportSocketErrorNo(int err, TextOf<Args...> text, Args... args);
// reportSocketErrorNo without the check of the arguments; use the above.
void reportSocketErrorOf(int err, Tx text, ...);
// The calling thread's last socket error number.
int lastSocketError();

template <class... Args>
void reportSocketError(TextOf<Args...> text, Args... args) {
    reportSocketErrorOf(lastSocketError(), text.id, args...);
}

template <class... Args>
void reportSocketErrorNo(int err, TextOf<Args...> text, Args... args) {
    reportSocketErrorOf(err, text.id, args...);
}

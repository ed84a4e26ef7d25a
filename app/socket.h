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

    // 0 on success, 1 on failure (reported, socket closed). Waits at most 20 s.
    int connectTo(uint32_t address, int port);
    // Starts the event thread (auto-deleting). On failure the object stays closed.
    void startEvents();
    // Bytes that remain unsent (0 when all went out); length < 0: up to the NUL.
    int sendAll(const char* bytes, int length);
    // Appends what arrives to into until a silence of pauseMs (or 64 KiB); returns
    // the bytes received.
    int receiveAll(LString& into, int pauseMs);
    // "a.b.c.d:port" of the peer, or "" (reported) when it cannot be read.
    LString peerAddress() const;
    // Ends the connection from any thread; never waits for the thread.
    void close();

    virtual void onNetworkEvents(const NetworkEvents& events) { (void)events; }

protected:
    void run() override;
};

}  // namespace NSocket

// Nothing to start on Linux; kept so start-up reads as designed.
void winsockStartup();
// IPv4 address in network byte order, 0 when the host cannot be resolved.
// "name:port" stores the port through port (when not null).
uint32_t resolveAddress(const char* host, int* port, bool report);
// Reports code 17300 "Socket Error %d (%s): " + the formatted text.
void reportSocketError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

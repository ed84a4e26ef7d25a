// Platform layer: IPv4 TCP sockets, and the descriptor limit that many
// connections need. (Waiting on a socket together with an event is waitFd of
// base/thread.h; the process ignores SIGPIPE from start-up on.)
//
// Descriptors are plain ints, -1 meaning none. A function that fails returns -1
// (or the documented failure value) and leaves the reason in errno; read it with
// netLastError() before anything else can change it. Sockets are non-blocking
// once connected, and sends never raise SIGPIPE.
#pragma once

#include <cstdint>

// The calling thread's last error number (errno).
int netLastError();
// True for the error numbers that mean "nothing can be transferred right now".
bool netWouldBlock(int err);
// True for the error numbers that mean the peer has gone (reset, broken pipe,
// timed out): the end of the connection rather than a failure worth a report.
bool netPeerGone(int err);

// A new IPv4 TCP socket (close-on-exec), or -1.
int netSocket();
// Closes a socket or wake-up descriptor; 0 or -1.
int netClose(int fd);

// Starts connecting fd to address (network byte order) and port without
// waiting: 0 when connected already, 1 when the connect goes on (fd becomes
// writable when it has ended; then netConnectFinish), -1 on failure with errno
// set (EINVAL for a port outside 0..65535). Makes the socket non-blocking.
int netConnectStart(int fd, uint32_t address, int port);
// The outcome of a connect that netConnectStart left going, once fd is
// writable: 0 when connected, else the error number. A connected socket sends
// small writes at once (no delay for the peer's acknowledgement).
int netConnectFinish(int fd);
// Connects fd, waiting at most timeoutMs: 0 on success; -1 on failure with
// errno set (ETIMEDOUT when the limit passed). Leaves the socket non-blocking.
int netConnect(int fd, uint32_t address, int port, int timeoutMs);

// Sends up to n bytes without blocking and without SIGPIPE: the bytes taken, or
// -1 (errno; netWouldBlock() when the socket buffer is full).
int netSend(int fd, const char* bytes, int n);
// Receives up to n bytes without blocking: the bytes read, 0 at the peer's end
// of data, -1 on error (errno; netWouldBlock() when nothing waits).
int netRecv(int fd, char* into, int n);
// Bytes waiting to be read on fd (0 when none or unknown).
int netPending(int fd);
// The peer of a connected socket: 0 and its address (network byte order) and
// port (host order), or -1.
int netPeer(int fd, uint32_t* address, int* port);

// A dotted IPv4 text (four decimal numbers, as inet_pton takes them) as an
// address in network byte order; false when the text is not one.
bool netParseDotted(const char* text, uint32_t* address);
// The first IPv4 address of a host name (getaddrinfo), or 0.
uint32_t netLookup(const char* name);

// Raises the soft limit of open descriptors to the hard limit, so that many
// connections (a socket and an event each) do not run out of them. Silent
// when it cannot.
void netRaiseFileLimit();
// The soft limit of open descriptors (-1 when there is none or it is unknown).
long netFileLimit();
// True for the error numbers that mean the process or the system has run out
// of descriptors (EMFILE, ENFILE).
bool netOutOfDescriptors(int err);

// Connections: TSocket, the connection list and the receive and send paths.
//
// g_connections holds every open connection in order; its last element is the
// current connection, and its order is the order in which ready connections are
// offered atoms. A TSocket is created by the main thread and destroys itself on
// its own thread after its single close event; its destructor removes it from
// g_connections under g_libLock. Everything in the list and each connection's
// send queue, flags and log list is guarded by g_libLock.
#pragma once

#include <cstdint>
#include <memory>

#include "app/line_record.h"
#include "app/socket.h"
#include "base/larray.h"
#include "base/thread.h"

class LRex;
struct LogFile;

class TSocket : public NSocket::LSocket {
public:
    enum : uint32_t { kReady = 1, kCloseOnReady = 2, kWritable = 16 };

    explicit TSocket(int color);
    ~TSocket() override;

    LString name;                     // "C%d" unless given
    int color;                        // 0..255
    uint32_t flags = kReady;          // under g_libLock
    LOwnedArray<LineRecord> sendQueue;  // oldest first; under g_libLock
    LString currentAtom;              // running atom's name; empty when none
    std::unique_ptr<LRex> endMarker;  // taken over from an atom's until; null: global
    LPtrArray<LogFile> logFiles;      // not owned
    LEvent atomEvent;                 // set when an atom completes here; in g_waitSet
    // Unique for the life of the process; the scheduler checks a connection by its
    // id, never by a pointer that a later connection could reuse.
    const uint64_t id;

    bool ready() const { return flags & kReady; }

    void onNetworkEvents(const NSocket::NetworkEvents& events) override;
};

// All connections; last = current. Guarded by g_libLock.
extern LPtrArray<TSocket> g_connections;

// Opens one connection (resolve, construct, connect, attach log files, start,
// append; then sleeps wait ms). Reports its own failures.
void openConnection(const char* host, int wait, const char* name, bool notReady, int color);
// First connection named exactly name, or null. Under g_libLock.
TSocket* findConnection(const char* name);
// The connection with this id if it is still in g_connections, else null. Under g_libLock.
TSocket* findConnectionById(uint64_t id);
// Last element of g_connections, or null.
TSocket* currentConnection();
// Number of connections in g_connections (under g_libLock).
int connectionCount();
void closeConnection(TSocket* c);  // close, then a 10 ms sleep
void closeAllConnections();
// Hands a text line (kind G or g) to the connection: sent at once when the
// connection is writable and nothing waits, else a copy is queued
// ("[Register for %s] %s").
void queueLine(TSocket* c, const LineRecord& line);

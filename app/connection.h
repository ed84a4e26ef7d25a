// Connections: TSocket, the connection list and the receive and send paths.
//
// g_connections holds every open connection in order; its last element is the
// current connection, and its order is the order in which ready connections are
// offered atoms. A TSocket is created by the main thread, listed at once (while
// its thread connects it, it is "connecting": lines wait in its send queue and
// no atom is handed to it), and destroys itself on its own thread after its
// single close event; its destructor removes it from g_connections under
// g_libLock. Everything in the list and each connection's send queue, flags and
// log list is guarded by g_libLock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "app/atoms.h"
#include "app/line_record.h"
#include "app/socket.h"
#include "app/telnet.h"
#include "base/larray.h"
#include "base/msg.h"
#include "base/thread.h"

struct AtomRun;
struct LogFile;

class TSocket : public NSocket::LSocket {
public:
    enum : uint32_t {
        kReady = 1,
        kCloseOnReady = 2,
        kWritable = 16,
        kConnecting = 64,     // the thread has not connected yet
        kConnectFailed = 128, // the connect failed: the connection is leaving
    };

    explicit TSocket(int color);
    ~TSocket() override;

    LString name;                     // "C%d" unless given
    int color;                        // 0..255
    uint32_t flags = kReady | kConnecting;  // under g_libLock
    LOwnedArray<LineRecord> sendQueue;  // oldest first; under g_libLock
    LString currentAtom;              // running atom's name; empty when none
    std::unique_ptr<AtomRun> run;     // the attempt running here, with its atom; under g_libLock
    LString resultAddress;            // peerAddress() for the result file, once looked up; under g_libLock
    // Counts the atoms recorded as running here; a completion found in text
    // searched for one atom is not recorded for a later one. Under g_libLock.
    uint64_t atomSerial = 0;
    // The number of the hand-out whose lines are going out here (a !!wait
    // among them may hold the rest back) while it owns the connection; !ready
    // abandons it. Under g_libLock.
    uint64_t handOut = 0;
    PatternRef endMarker;             // taken over from an atom's until; null: global
    LPtrArray<LogFile> logFiles;      // not owned
    // Unique for the life of the process; the scheduler checks a connection by its
    // id, never by a pointer that a later connection could reuse.
    const uint64_t id;

    // Telnet: the receive filter (connection thread) and whether the
    // connection speaks telnet (any thread).
    TelnetFilter telnet;
    std::atomic<LineEnd> eol{LineEnd::crlf};  // how sent lines end; any thread

    // Bytes that must go out before any queued line: the rest of a line that
    // went out short, then telnet answers that could not go at once. Sent on
    // the next kFdWrite. Under g_libLock.
    LString unsentRest;
    // The connection thread is sending a line it took from the queue, so a new
    // line must queue behind it. Under g_libLock.
    bool draining = false;

    // What arrived since the running atom's lines were handed out (at most the
    // last 64 KiB), searched together with each new piece so that a marker split
    // between two pieces is found, and the atomSerial it belongs to.
    // Connection thread only (searched without g_libLock).
    LString atomText;
    uint64_t searchedSerial = 0;
    // The server echoes what is typed (telnet ECHO on, as the telnet filter
    // last found it). With a password prompt as the last text received, a
    // typed line for this connection is read and sent as a secret.
    std::atomic<bool> serverEcho{false};
    // The end of what was received last (at most kLastReceivedMax bytes) and
    // the number of pieces received. Under g_libLock.
    static constexpr int kLastReceivedMax = 64;
    LString lastReceived;
    uint64_t receivedPieces = 0;

    bool ready() const { return flags & kReady; }
    bool connecting() const { return flags & kConnecting; }
    // Ready, connected and not closing: the scheduler may hand it an atom.
    bool available() const { return (flags & (kReady | kConnecting)) == kReady && !closing(); }

    void onNetworkEvents(const NSocket::NetworkEvents& events) override;
    // Echoes, logs and transmits one line now ("[send to %s] %s"); a rest that
    // does not go out stays in unsentRest and the connection waits for kFdWrite.
    void sendLine(const LineRecord& line);

private:
    LString received_;  // the piece being received; connection thread only
    LString replies_;   // telnet answers to a piece; connection thread only
    bool connectFailed_ = false;  // connection thread only
    void onConnected();
    void onConnectFailed(int err);  // err: the error number, ECANCELED for a close
    void receive();
    // Console, log files and the completion check for n data bytes.
    void showReceived(const char* text, int n);
    // Sends the telnet answers now when nothing waits before them, else puts
    // them behind what waits.
    void sendReplies();
    // Keeps the end of a received piece and tells the console when it is a
    // password prompt. Under g_libLock.
    void noteReceived(const char* text, int n);
    void drainQueue();
    void onClosed();
    void transmit(const char* bytes, int n);
};

// All connections; last = current. Guarded by g_libLock.
extern LPtrArray<TSocket> g_connections;

// Opens one connection: splits host[:port] (10044 for a bad port), or takes
// the words of a program (exec:, ssh://; app/program.h), constructs it (name,
// colour, nr, telnet mode (without one the -tn setting decides; raw for a
// program), line end (without one CR LF; CR for a program)), makes its
// descriptors (one error when they are refused), attaches the log files,
// starts its thread and lists it as the current connection. The thread then
// connects or starts the program; a failure is reported there. Returns false
// when nothing was listed.
bool openConnection(const char* host, const char* name, bool notReady, int color,
                    std::optional<TelnetMode> telnetMode = std::nullopt,
                    std::optional<LineEnd> eol = std::nullopt);
// Appends c to g_connections (it becomes current) / takes it out; under g_libLock.
void addConnection(TSocket* c);
void removeConnection(TSocket* c);
// First connection named exactly name, or null. Under g_libLock.
TSocket* findConnection(const char* name);
// The connection with this id if it is still in g_connections, else null. Under g_libLock.
TSocket* findConnectionById(uint64_t id);
// Last element of g_connections, or null.
TSocket* currentConnection();
// Number of connections in g_connections (under g_libLock).
int connectionCount();
// c when it is still in g_connections, else null. The caller holds g_libLock
// and keeps holding it while it uses the result.
TSocket* liveConnection(TSocket* c);
// Prints a notice of the catalogue whose last conversion is c's label
// ("Connection C1", in c's colour), e.g. "[%s closed]\r\n"; args fill the
// conversions before it. One unit of console output. The caller holds
// g_libLock or otherwise keeps c alive.
template <class... Args>
void printConnectionNotice(TextOf<Args..., const char*> notice, const TSocket* c, Args... args);
// The same without the check of the arguments; use printConnectionNotice().
void printConnectionNoticeOf(Tx notice, const TSocket* c, ...);
// Prints a notice of the catalogue whose first conversion is c's label and
// whose second is detail, e.g. "[%s closed (%s)]\r\n"; as printConnectionNotice.
void printConnectionNoticeWith(TextOf<const char*, const char*> notice, const TSocket* c, const char* detail);
// Asks c to close; it leaves g_connections from its own thread. Never waits;
// c must be live.
void closeConnection(TSocket* c);
// True when c is a colour (0..255) for connection name; else reports 10008.
bool isConnectionColor(const char* name, int c);
// True when c's server echoes (telnet ECHO on) and the last text it sent ends
// in a password prompt ("assword: " or "パスワード: "). Under g_libLock.
bool passwordPromptShown(const TSocket& c);
// Asks every connection to close (they leave g_connections from their threads).
void closeAllConnections();

// Reads the word after the keyword eol (crlf, cr or lf) into eol, moves p
// past it and returns true; a missing word (10014) or any other (10047) is
// reported, leaves eol as it was and returns false.
bool readLineEnd(const char*& p, LineEnd& eol);

// Connection settings: moves a ready connection to a 0-based position (clamped;
// a large one makes it current) and reports the move; null (10005) when no
// connection has the name, the connection unchanged (10027) when it is not ready.
TSocket* moveConnection(const char* name, int position);
// Makes c ready or occupied with its notice (nothing when it already is); ready
// abandons a running atom and closes a close-on-ready connection. 10001 for null.
// The caller holds g_libLock from finding c on.
void setReady(bool ready, TSocket* c);
// Hands a text line (kind G or g) to the connection: sent at once when the
// connection is writable and nothing waits, else a copy is queued
// ("[Register for %s] %s").
void queueLine(TSocket* c, const LineRecord& line);

template <class... Args>
void printConnectionNotice(TextOf<Args..., const char*> notice, const TSocket* c, Args... args) {
    printConnectionNoticeOf(notice.id, c, args...);
}

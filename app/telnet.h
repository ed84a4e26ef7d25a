// Telnet for one connection: the filter that turns what a server sends into
// the data bytes (shown, logged and searched for the completion pattern) and
// the answers to its option requests, and the bytes of a sent line on the wire
// (its line ending, a 0xFF doubled).
//
// Key choices:
// - The client never asks for an option; it only answers. By the rules of
//   RFC 1143 (the Q method) each option of each side then is simply on or off:
//   a request that would change the state is accepted or refused once, and a
//   request for the state already in force, an acknowledgement among them, is
//   never answered. So no exchange with any server can loop.
// - Accepted: the server's ECHO and SUPPRESS-GO-AHEAD. Every other option the
//   server offers is refused with DONT, everything it asks of us with WONT.
// - The filter works in place: data bytes only ever move towards the start of
//   the piece, and a piece without a 0xFF byte is left untouched after one scan.
// - Automatic mode is raw until the first telnet command (IAC followed by a
//   byte 0xF0..0xFE). A 0xFF that ends a piece waits for the next piece's
//   first byte to tell a command from data.
#pragma once

#include <atomic>
#include <bitset>
#include <cstdint>

#include "base/lstring.h"

enum class TelnetMode : int {
    raw = 0,        // every byte is data; nothing is sent but the lines
    automatic = 1,  // raw until the first telnet command arrives, then telnet
    telnet = 2,     // telnet from the start
};

// How a sent line ends on the wire.
enum class LineEnd : uint8_t { crlf, cr, lf };

// "crlf", "cr" or "lf" (exactly, lower case) into *out; false for any other word.
bool parseLineEnd(const char* word, LineEnd* out);
// "crlf", "cr" or "lf".
const char* lineEndName(LineEnd eol);

class TelnetFilter {
public:
    // Command bytes of the protocol.
    enum : uint8_t {
        kSe = 240, kNop = 241, kDm = 242, kGa = 249, kSb = 250,
        kWill = 251, kWont = 252, kDo = 253, kDont = 254, kIac = 255,
    };
    // Options this client has an answer other than a refusal for.
    enum : uint8_t { kEcho = 1, kSuppressGoAhead = 3 };

    explicit TelnetFilter(TelnetMode mode = TelnetMode::automatic) : mode_(mode) {}
    TelnetFilter(const TelnetFilter&) = delete;
    TelnetFilter& operator=(const TelnetFilter&) = delete;

    // Sets the mode of a connection that has received nothing yet.
    void setMode(TelnetMode mode) { mode_ = mode; }
    // True once the connection speaks telnet (from the start, or since its
    // first command in automatic mode). Any thread.
    bool active() const { return mode_.load(std::memory_order_relaxed) == TelnetMode::telnet; }

    // Leaves in piece only its data bytes, in order: commands and
    // subnegotiations removed, IAC IAC as one 0xFF. Appends the answers to the
    // server's requests to replies. A command cut at the end of the piece is
    // completed by the next one. Connection thread only.
    void receive(LString& piece, LString& replies);
    // The data still undecided at the end of the connection (a 0xFF that ended
    // the last piece in automatic mode); a half-received command is dropped.
    LString finish();

    // The server's option is on (accepted by us and not withdrawn since).
    bool remoteEnabled(uint8_t option) const { return remote_[option]; }

private:
    enum class State : uint8_t { data, iac, option, sub, subIac };
    // First index of an IAC followed by a command byte, from 0; n when there is
    // none. A 0xFF at the end sets heldIac_ and returns n - 1.
    int findFirstCommand(const char* p, int n);
    void filterTelnet(LString& piece, int r, int w, LString& replies);
    void answer(uint8_t verb, uint8_t option, LString& replies);

    std::atomic<TelnetMode> mode_;
    State state_ = State::data;
    uint8_t verb_ = 0;          // WILL, WONT, DO or DONT awaiting its option byte
    bool heldIac_ = false;      // automatic mode: the last piece ended with 0xFF
    std::bitset<256> remote_;   // options the server has on; our own are all off
};

// The bytes of one sent line: the text with every 0xFF doubled in telnet mode,
// then the line ending (CR alone is CR NUL in telnet mode, as the protocol
// writes a bare CR). A short line needs no allocation.
class WireLine {
public:
    WireLine(const char* text, int n, LineEnd eol, bool telnet);
    WireLine(const WireLine&) = delete;
    WireLine& operator=(const WireLine&) = delete;

    const char* data() const { return data_; }
    int len() const { return len_; }

private:
    char small_[256];
    LString big_;
    const char* data_ = small_;
    int len_ = 0;
};

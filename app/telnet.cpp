// Telnet for one connection: the receive filter with its answers, and the
// wire form of a sent line. See telnet.h for the choices.
#include "app/telnet.h"

#include <cstring>

namespace {

bool isCommand(uint8_t b) { return b >= TelnetFilter::kSe && b < TelnetFilter::kIac; }

}  // namespace

bool parseLineEnd(const char* word, LineEnd* out) {
    if (std::strcmp(word, "crlf") == 0)
        *out = LineEnd::crlf;
    else if (std::strcmp(word, "cr") == 0)
        *out = LineEnd::cr;
    else if (std::strcmp(word, "lf") == 0)
        *out = LineEnd::lf;
    else
        return false;
    return true;
}

const char* lineEndName(LineEnd eol) {
    switch (eol) {
    case LineEnd::cr: return "cr";
    case LineEnd::lf: return "lf";
    case LineEnd::crlf: break;
    }
    return "crlf";
}

void TelnetFilter::receive(LString& piece, LString& replies) {
    const TelnetMode mode = mode_.load(std::memory_order_relaxed);
    if (mode == TelnetMode::raw || piece.empty()) return;
    if (mode == TelnetMode::telnet) {
        // The common case: no command anywhere and none begun before.
        if (state_ == State::data && std::memchr(piece.data(), kIac, static_cast<size_t>(piece.len())) == nullptr)
            return;
        filterTelnet(piece, 0, 0, replies);
        return;
    }
    int from = 0;
    if (heldIac_) {
        heldIac_ = false;
        if (isCommand(static_cast<uint8_t>(piece[0]))) {
            // The previous piece ended with this command's IAC.
            mode_ = TelnetMode::telnet;
            state_ = State::iac;
            filterTelnet(piece, 0, 0, replies);
            return;
        }
        piece.insert("\xff", 0, 1);  // it was data after all
        from = 1;
    }
    const int at = findFirstCommand(piece.data() + from, piece.len() - from) + from;
    if (heldIac_) {
        piece.truncate(at);
        return;
    }
    if (at == piece.len()) return;
    // Everything before the first command is data, as it was in raw mode.
    mode_ = TelnetMode::telnet;
    state_ = State::data;
    filterTelnet(piece, at, at, replies);
}

int TelnetFilter::findFirstCommand(const char* p, int n) {
    int i = 0;
    while (i < n) {
        const void* q = std::memchr(p + i, kIac, static_cast<size_t>(n - i));
        if (q == nullptr) return n;
        i = static_cast<int>(static_cast<const char*>(q) - p);
        if (i + 1 == n) {
            heldIac_ = true;
            return i;
        }
        if (isCommand(static_cast<uint8_t>(p[i + 1]))) return i;
        ++i;  // 0xFF and a byte that is no command: both data (that byte may be 0xFF again)
    }
    return n;
}

// The state machine from byte r on; w (<= r) is where the next data byte goes.
// Each data byte is written at or before the place it was read from, so the
// piece is rewritten in place.
void TelnetFilter::filterTelnet(LString& piece, int r, int w, LString& replies) {
    char* p = piece.data();
    const int n = piece.len();
    while (r < n) {
        if (state_ == State::data) {
            // A run of data up to the next IAC moves as one block.
            const void* q = std::memchr(p + r, kIac, static_cast<size_t>(n - r));
            const int end = q != nullptr ? static_cast<int>(static_cast<const char*>(q) - p) : n;
            if (w != r) std::memmove(p + w, p + r, static_cast<size_t>(end - r));
            w += end - r;
            r = end;
            if (r < n) {
                state_ = State::iac;
                ++r;
            }
            continue;
        }
        const uint8_t b = static_cast<uint8_t>(p[r++]);
        switch (state_) {
        case State::iac:
            if (b == kIac) {
                p[w++] = static_cast<char>(kIac);  // IAC IAC: one 0xFF of data
                state_ = State::data;
            } else if (b >= kWill) {
                verb_ = b;
                state_ = State::option;
            } else if (b == kSb) {
                state_ = State::sub;
            } else {
                // Other commands (NOP, GA, DM, ...) are removed. A byte that is
                // no command cannot follow IAC; it is kept as data.
                if (b < kSe) p[w++] = static_cast<char>(b);
                state_ = State::data;
            }
            break;
        case State::option:
            answer(verb_, b, replies);
            state_ = State::data;
            break;
        case State::sub:
            if (b == kIac) state_ = State::subIac;
            break;
        case State::subIac:
            if (b == kSe) {
                state_ = State::data;
            } else if (b == kIac) {
                state_ = State::sub;  // an escaped 0xFF inside the subnegotiation
            } else {
                // A command where SE should be: the subnegotiation has ended
                // without it, and the byte is read again as that command.
                state_ = State::iac;
                --r;
            }
            break;
        case State::data:
            break;
        }
    }
    piece.truncate(w);
}

void TelnetFilter::answer(uint8_t verb, uint8_t option, LString& replies) {
    const auto say = [&](uint8_t reply) {
        const char bytes[3] = {static_cast<char>(kIac), static_cast<char>(reply), static_cast<char>(option)};
        replies.append(bytes, 3);
    };
    switch (verb) {
    case kWill:
        if (remote_[option]) return;  // on already: this acknowledges our DO
        if (option == kEcho || option == kSuppressGoAhead) {
            remote_.set(option);
            say(kDo);
        } else {
            say(kDont);
        }
        return;
    case kWont:
        if (!remote_[option]) return;  // off already: nothing to acknowledge
        remote_.reset(option);
        say(kDont);
        return;
    case kDo:
        say(kWont);  // we enable nothing of our own
        return;
    default:
        return;  // DONT: our options are off already
    }
}

LString TelnetFilter::finish() {
    LString rest;
    if (heldIac_) rest.append("\xff", 1);
    heldIac_ = false;
    state_ = State::data;
    return rest;
}

WireLine::WireLine(const char* text, int n, LineEnd eol, bool telnet) {
    const char* ending = eol == LineEnd::crlf ? "\r\n" : eol == LineEnd::lf ? "\n" : "\r";
    // A bare CR is CR NUL on a telnet connection.
    const int endLen = eol == LineEnd::crlf || (eol == LineEnd::cr && telnet) ? 2 : 1;
    int doubled = 0;
    if (telnet)
        for (int i = 0; i < n; ++i) doubled += static_cast<uint8_t>(text[i]) == TelnetFilter::kIac;
    len_ = n + doubled + endLen;
    char* out = small_;
    if (len_ > static_cast<int>(sizeof small_)) {
        big_.appendChar(0, len_);
        out = big_.data();
    }
    data_ = out;
    if (doubled == 0) {
        std::memcpy(out, text, static_cast<size_t>(n));
        out += n;
    } else {
        for (int i = 0; i < n; ++i) {
            *out++ = text[i];
            if (static_cast<uint8_t>(text[i]) == TelnetFilter::kIac) *out++ = text[i];
        }
    }
    std::memcpy(out, ending, static_cast<size_t>(endLen));  // "\r" has its NUL after it
}

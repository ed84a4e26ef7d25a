// The argument readers. The tokenizer steps over characters with charLen(), so
// the second byte of a double-byte character is never taken for a quote, a
// backslash, a blank or a comma.
#include "app/args.h"

#include "base/chars.h"
#include "base/msg.h"
#include "base/text.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

const char* skipBlanks(const char* p) {
    while (isBlank(*p)) ++p;
    return p;
}

// A run of characters up to a blank, a comma or the end; a blank after it is
// consumed.
const char* plainToken(const char* p, LString& out) {
    while (*p && !isBlank(*p) && *p != ',') {
        const int n = charLen(p);
        out.append(p, n);
        p += n;
    }
    if (isBlank(*p)) ++p;
    return p;
}

// A token quoted with q ('"' or '/'); p points at the opening quote. *closed
// tells whether the closing quote was found.
const char* quotedToken(const char* p, LString& out, bool* closed) {
    const char q = *p;
    const char* open = p;
    ++p;
    if (*p == q) return p + 1;  // two quotes in a row: the empty token
    while (*p && *p != q) {
        if (*p == '\\') {
            if (q == '/') out.appendChar('\\');
            ++p;
            if (!*p) break;
        }
        const int n = charLen(p);
        out.append(p, n);
        p += n;
    }
    *closed = *p == q;
    if (*closed) return p + 1;
    msg(Tx::missingClosingQuote, q, open);
    return p;
}

}  // namespace

const char* nextToken(const char* text, LString& out, bool* closed) {
    bool complete = true;
    if (closed == nullptr) closed = &complete;
    *closed = true;
    out.clear();
    const char* p = skipBlanks(text);
    if (*p == '"' || *p == '/') return quotedToken(p, out, closed);
    if (*p == ',') {
        out.appendChar(',');
        return p + 1;
    }
    return plainToken(p, out);
}

bool nextPathToken(const char*& text, LString& out) {
    const char* p = skipBlanks(text);
    if (*p == '/') {
        out.clear();
        text = plainToken(p, out);
        return true;
    }
    bool closed = true;
    text = nextToken(p, out, &closed);
    return closed;
}

bool moreTokens(const char* text) { return *skipBlanks(text) != 0; }

const char* parseNameList(const char* text, LStrList& list, const char* commandName) {
    LString token;
    const char* p = nextToken(text, token);
    while (!token.empty()) {
        list.add(token.data(), token.len());
        const char* afterItem = p;
        p = nextToken(afterItem, token);
        if (!token.equals(",")) return afterItem;
        p = nextToken(p, token);
    }
    if (commandName) msg(Tx::missingParameter, commandName);
    return p;
}

int parseSwitch(const char* text) {
    LString token;
    const char* rest = nextToken(text, token);
    if (token.empty()) return 1;
    const int value = parseInt(token.data(), 0, 0);
    warnTrailing(rest);
    return value != 0 ? 1 : 0;
}

int parseNumberArg(const char* text, int min, int max, int current) {
    LString token;
    warnTrailing(nextToken(text, token));
    const int value = parseInt(token.data(), 0, 0);
    if (value >= min && value <= max) return value;
    msg(Tx::invalidNumber, value);
    return current;
}

void warnTrailing(const char* text) {
    const char* p = skipBlanks(text);
    if (*p) msg(Tx::extraTextIgnored, p);
}

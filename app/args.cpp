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

// A token quoted with q ('"' or '/'); p points at the opening quote.
const char* quotedToken(const char* p, LString& out) {
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
    if (*p == q) return p + 1;
    msg(10012, "右側の「%c」がありません: %s", q, open);
    return p;
}

}  // namespace

const char* nextToken(const char* text, LString& out) {
    out.clear();
    const char* p = skipBlanks(text);
    if (*p == '"' || *p == '/') return quotedToken(p, out);
    if (*p == ',') {
        out.appendChar(',');
        return p + 1;
    }
    while (*p && !isBlank(*p) && *p != ',') {
        const int n = charLen(p);
        out.append(p, n);
        p += n;
    }
    if (isBlank(*p)) ++p;
    return p;
}

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
    if (commandName) msg(10014, "'%s' のパラメータがありません", commandName);
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
    msg(10013, "数値が正しくありません: %d", value);
    return current;
}

void warnTrailing(const char* text) {
    const char* p = skipBlanks(text);
    if (*p) msg(30001, "行末の余計な記述を無視します: '%s'", p);
}

// Text utilities: the integer reader for everything the user types, escapes,
// printable renderings, path parts, time texts, memory moves and counts.
#include "base/text.h"

#include <cstdint>
#include <cstring>

#include "base/chars.h"
#include "base/msg.h"
#include "base/platform/process.h"

namespace {

int digitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

bool isSpaceByte(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// The C library's unsigned conversion (strtoul) with a 32-bit unsigned long:
// leading white space, an optional sign, the 0x prefix in base 16, the prefix
// rules in base 0; a value beyond 32 bits gives 0xFFFFFFFF. *end is where the
// conversion stopped (text itself when no digit was read).
uint32_t toUnsigned32(const char* text, const char** end, int base) {
    const char* p = text;
    while (isSpaceByte(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    const bool hexPrefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digitValue(static_cast<unsigned char>(p[2])) < 16;
    if (base == 0) base = hexPrefix ? 16 : (p[0] == '0' ? 8 : 10);
    if (base == 16 && hexPrefix) p += 2;
    if (base < 2 || base > 36) {
        *end = text;
        return 0;
    }
    uint64_t value = 0;
    bool overflow = false;
    const char* digits = p;
    for (; digitValue(static_cast<unsigned char>(*p)) < base; ++p) {
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digitValue(static_cast<unsigned char>(*p)));
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0xFFFFFFFFu;
        }
    }
    if (p == digits) {
        *end = text;
        return 0;
    }
    *end = p;
    if (overflow) return 0xFFFFFFFFu;
    const auto v = static_cast<uint32_t>(value);
    return negative ? 0u - v : v;
}

}  // namespace

int parseInt(const char* text, int allowedEnd, int defaultBase) {
    if (!text) return 0;
    const char* p = text;
    const bool negative = *p == '-';
    if (negative) ++p;
    int base = defaultBase;
    if (p[0] == '0') {
        const int c = toLowerAscii(static_cast<unsigned char>(p[1]));
        if (c == 'x' || c == 'j' || c == 'n') {
            base = c == 'x' ? 16 : (c == 'j' ? 10 : 2);
            p += 2;
        }
    }
    // Leading zeros go (digit-grouping commas between them too), but the last
    // digit always stays, so a base-0 reading never turns octal.
    while (p[0] == '0' && ((p[1] >= '0' && p[1] <= '9') || p[1] == ',')) ++p;

    LString digits;
    for (const char* q = p; *q; ++q) {
        if (*q != ',') digits.appendChar(*q);
    }
    const char* end = nullptr;
    const uint32_t value = toUnsigned32(digits.data(), &end, base);
    const unsigned char stop = static_cast<unsigned char>(*end);
    if (stop != 0 && (allowedEnd == 0 || stop != static_cast<unsigned char>(allowedEnd))) {
        msg(Tx::notANumber, p);
    }
    const auto result = static_cast<int32_t>(value);
    return negative ? static_cast<int32_t>(0u - value) : result;
}

int parseSize(const char* text, bool roundUp) {
    if (!text) return 0;
    LString body(text);
    uint32_t multiplier = 1;
    if (body.len() > 0) {
        switch (toLowerAscii(static_cast<unsigned char>(body[body.len() - 1]))) {
        case 'k': multiplier = 1024u; break;
        case 'm': multiplier = 1048576u; break;
        case 'g': multiplier = 1073741824u; break;
        default: break;
        }
        if (multiplier != 1) body.truncate(body.len() - 1);
    }
    const auto value = static_cast<uint32_t>(parseInt(body.data(), 0, 0));
    uint32_t result = value * multiplier;
    if (roundUp) result += multiplier - 1;
    return static_cast<int32_t>(result);
}

namespace {

bool hexDigits(const char* p, int n) {
    for (int i = 0; i < n; ++i) {
        if (digitValue(static_cast<unsigned char>(p[i])) >= 16) return false;
    }
    return true;
}

char hexByte(const char* p) {
    return static_cast<char>(digitValue(static_cast<unsigned char>(p[0])) * 16 + digitValue(static_cast<unsigned char>(p[1])));
}

}  // namespace

int decodeEscape(const char* p, LString& out, bool report) {
    if (!p) return 0;
    switch (*p) {
    case '\\': out.appendChar('\\'); return 1;
    case 'n': out.append("\r\n", 2); return 1;
    case 'r': out.appendChar('\r'); return 1;
    case 't': out.appendChar('\t'); return 1;
    case 'a': out.appendChar('\a'); return 1;
    case 'e': out.appendChar('\x1B'); return 1;
    case 'f': out.appendChar('\f'); return 1;
    case 'v': out.appendChar('\v'); return 1;
    case 'x':
        if (hexDigits(p + 1, 2)) {
            out.appendChar(hexByte(p + 1));
            return 3;
        }
        if (report) msg(Tx::illegalHexEscape, static_cast<unsigned char>(p[1]),
            p[1] ? static_cast<unsigned char>(p[2]) : 0u);
        return 0;
    case 'X':
    case 'u':
        if (hexDigits(p + 1, 4)) {
            if (g_charSet == 'u') {
                // the character of that code point
                const int code = (static_cast<unsigned char>(hexByte(p + 1)) << 8) | static_cast<unsigned char>(hexByte(p + 3));
                char bytes[4];
                const int n = encodeChar(code, bytes);
                if (n > 0) {
                    out.append(bytes, n);
                    return 5;
                }
            } else {
                out.appendChar(hexByte(p + 1));
                out.appendChar(hexByte(p + 3));
                return 5;
            }
        }
        if (report) msg(Tx::illegalEscape, p);
        return 0;
    default:
        return 0;
    }
}

namespace {

bool isSecondOf(unsigned char c) {
    if (g_charSet == 's') return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
    if (g_charSet == 'e') return c >= 0xA1 && c <= 0xFE;
    return false;
}

}  // namespace

LString printable(const char* text) {
    LString out;
    if (!text) return out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char c = *p;
        if ((g_charClass[c] & (kClassUpper | kClassLower | kClassDigit)) || c == '_') {
            out.appendChar(static_cast<char>(c));
            ++p;
        } else if (g_charSet == 'u' && c >= 0x80) {
            // a whole character as it is; a byte of no valid sequence as \xNN
            const int n = charLen(reinterpret_cast<const char*>(p));
            if (n > 1) {
                out.append(reinterpret_cast<const char*>(p), n);
            } else {
                out.appendFormat("\\x%02X", c);
            }
            p += n;
        } else if (isLeadByte(c) && isSecondOf(p[1])) {
            out.append(reinterpret_cast<const char*>(p), 2);
            p += 2;
        } else if (c == '\r' || c == '\n' || c == '\t') {
            out.append(c == '\r' ? "\\r" : (c == '\n' ? "\\n" : "\\t"));
            ++p;
        } else if (c < 0x20 || c > 0xFD || c == 0x60 || c == 0x7F || c == 0x80 || c == 0xA0) {
            out.appendFormat("\\x%02X", c);
            ++p;
        } else {
            out.appendChar(static_cast<char>(c));
            ++p;
        }
    }
    return out;
}

int trimRight(LString& text, const char* chars) {
    if (!chars || !*chars) return 0;
    int n = text.len();
    while (n > 0 && text[n - 1] != 0 && std::strchr(chars, text[n - 1])) --n;
    const int removed = text.len() - n;
    text.truncate(n);
    return removed;
}

namespace {
bool isSeparator(char c) { return c == '\\' || c == '/'; }
}  // namespace

const char* nameOf(const char* path) {
    if (!path) return "";
    const char* name = path;
    for (const char* p = path; *p; p += charLen(p)) {
        if (isSeparator(*p)) name = p + 1;
    }
    return name;
}

LString dirOf(const char* path) {
    LString dir;
    if (!path) return dir;
    dir.append(path, static_cast<int>(nameOf(path) - path));
    if (dir.empty() && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':') {
        dir.append(path, 2);  // "C:name": the drive's current directory
    }
    if (dir.len() >= 2 && dir[dir.len() - 1] == ':' && !isSecondByte(dir.data(), dir.len() - 1)) dir.append(".\\");
    return dir;
}

int64_t now() { return platformNow(); }

LString formatLocalTime(int64_t t) {
    int f[6];
    if (!platformLocalTime(t, f)) return LString(tr(Tx::timeError));
    return LString::format("%04d/%02d/%02d %02d:%02d:%02d", f[0], f[1], f[2], f[3], f[4], f[5]);
}

void moveBytes(void* dst, const void* src, int n) {
    if (n < 0) n = static_cast<int>(std::strlen(static_cast<const char*>(src)));
    if (n > 0) std::memmove(dst, src, static_cast<size_t>(n));
}

int countByte(int c, const char* p, int n) {
    int count = 0;
    const char want = static_cast<char>(c);
    for (int i = 0; i < n; ++i) count += p[i] == want;
    return count;
}

int countPair(int c1, int c2, const char* p, int n) {
    int count = 0;
    const char a = static_cast<char>(c1);
    const char b = static_cast<char>(c2);
    for (int i = 0; i + 1 < n; ++i) count += p[i] == a && p[i + 1] == b;
    return count;
}

// Character classes of the console code page and the stepping rules of the
// character sets (Shift-JIS, EUC-JP, UTF-8). Every piece of code that needs to
// know where a character ends asks this file. The rules are constant tables
// made at compile time, so that threads read them without any lock.
#include "base/chars.h"

#include <initializer_list>

#include "base/platform/process.h"

const uint16_t g_charClass[256] = {
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0000, 0x0000,  // 00-0F
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,  // 10-1F
    0x0020, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008,  // 20-2F
    0x0004, 0x0004, 0x0004, 0x0004, 0x0004, 0x0004, 0x0004, 0x0004, 0x0004, 0x0004, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008,  // 30-3F
    0x0008, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001,  // 40-4F
    0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0001, 0x0008, 0x0008, 0x0008, 0x0008, 0x0018,  // 50-5F
    0x0008, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002,  // 60-6F
    0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0002, 0x0008, 0x0008, 0x0008, 0x0008, 0x0000,  // 70-7F
    0x0000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000,  // 80-8F
    0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000,  // 90-9F
    0x0000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000,  // A0-AF
    0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000,  // B0-BF
    0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000,  // C0-CF
    0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000, 0x2000,  // D0-DF
    0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000,  // E0-EF
    0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x0000, 0x0000, 0x0000,  // F0-FF
};

int g_charSet = 's';

namespace {

constexpr LCharRules makeRules(int set) {
    LCharRules r{set, set == 'u', {}};
    for (int b = 0; b < 256; ++b) {
        int w = 1;
        if (set == 's' && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))) w = 2;  // class 0x1000
        if (set == 'e' && b >= 0xA1 && b <= 0xFE) w = 2;
        if (set == 'u') w = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 1;
        r.width[b] = static_cast<uint8_t>(w);
    }
    return r;
}

constexpr LCharRules kSjis = makeRules('s');
constexpr LCharRules kEuc = makeRules('e');
constexpr LCharRules kUtf8 = makeRules('u');
constexpr LCharRules kSingle = makeRules('a');

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

const LCharRules& charRules() {
    switch (g_charSet) {
        case 's': return kSjis;
        case 'u': return kUtf8;
        case 'e': return kEuc;
        default: return kSingle;
    }
}

int utf8Decode(const unsigned char* p, const unsigned char* end, int w, int* len) {
    const unsigned b = p[0];
    if (end - p >= w) {
        // the second byte's range keeps out overlong forms, surrogates and codes above 10FFFF
        unsigned lo = 0x80, hi = 0xBF;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
        if (p[1] >= lo && p[1] <= hi) {
            int code = static_cast<int>(b & (0x7F >> w));
            int i = 1;
            for (; i < w && isContinuation(p[i]); ++i) code = code << 6 | (p[i] & 0x3F);
            if (i == w) {
                *len = w;
                return code;
            }
        }
    }
    *len = 1;
    return kInvalidByteCode + static_cast<int>(b);
}

bool isInsideChar(const LCharRules& r, const char* known, const char* p, const char* end) {
    if (p <= known) return false;
    if (!r.utf8) {
        int leads = 0;
        for (const char* q = p; q > known && r.width[static_cast<unsigned char>(q[-1])] == 2; --q) ++leads;
        return (leads & 1) != 0;
    }
    if (!isContinuation(static_cast<unsigned char>(*p))) return false;
    // The nearest byte before p that is no continuation byte: a sequence that
    // covers p starts there or nowhere.
    for (const char* q = p - 1; q >= known && q > p - 4; --q) {
        const auto b = static_cast<unsigned char>(*q);
        if (isContinuation(b)) continue;
        if (r.width[b] <= p - q) return false;
        const char* limit = end;
        if (!limit) {
            limit = q;
            while (limit < q + r.width[b] && *limit) ++limit;
        }
        int n = 0;
        charCodeAt(r, q, limit, &n);
        return n > p - q;
    }
    return false;
}

const char* charStartFrom(const LCharRules& r, const char* known, const char* p, const char* end) {
    if (!isInsideChar(r, known, p, end)) return p;
    if (!r.utf8) return p + 1;
    const char* q = p - 1;
    while (isContinuation(static_cast<unsigned char>(*q))) --q;
    int n = 0;
    charCodeAt(r, q, end, &n);
    return q + n;
}

bool endsCutOff(const LCharRules& r, const char* t, int n) {
    if (n <= 0) return false;
    if (!r.utf8) {
        // the walk from the start: does the last byte stand alone as a lead byte?
        int i = 0, len = 1;
        while (i < n) {
            len = r.width[static_cast<unsigned char>(t[i])] == 2 && i + 1 < n ? 2 : 1;
            i += len;
        }
        return len == 1 && r.width[static_cast<unsigned char>(t[n - 1])] == 2;
    }
    for (int q = n - 1; q >= 0 && q > n - 4; --q) {
        const auto b = static_cast<unsigned char>(t[q]);
        if (isContinuation(b)) continue;
        const int w = r.width[b];
        if (w <= n - q) return false;
        // a cut-off sequence: what there is of it would be valid with more bytes
        unsigned char full[4] = {b, 0x80, 0x80, 0x80};
        if (b == 0xE0) full[1] = 0xA0;
        if (b == 0xF0) full[1] = 0x90;
        for (int i = 1; i < n - q; ++i) full[i] = static_cast<unsigned char>(t[q + i]);
        int len = 0;
        utf8Decode(full, full + w, w, &len);
        return len == w;
    }
    return false;
}

int encodeChar(int code, char* out) {
    const LCharRules& r = charRules();
    if (r.utf8) {
        if (code >= kInvalidByteCode + 0x80 && code <= kInvalidByteCode + 0xFF) {
            out[0] = static_cast<char>(code - kInvalidByteCode);
            return 1;
        }
        if (code < 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
        if (code < 0x80) {
            out[0] = static_cast<char>(code);
            return 1;
        }
        if (code < 0x800) {
            out[0] = static_cast<char>(0xC0 | code >> 6);
            out[1] = static_cast<char>(0x80 | (code & 0x3F));
            return 2;
        }
        if (code < 0x10000) {
            out[0] = static_cast<char>(0xE0 | code >> 12);
            out[1] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out[2] = static_cast<char>(0x80 | (code & 0x3F));
            return 3;
        }
        out[0] = static_cast<char>(0xF0 | code >> 18);
        out[1] = static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out[2] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out[3] = static_cast<char>(0x80 | (code & 0x3F));
        return 4;
    }
    if (code < 0) return 0;
    if (code < 256) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code > 0xFFFF) return 0;
    out[0] = static_cast<char>(code >> 8);
    out[1] = static_cast<char>(code & 0xFF);
    return (code & 0xFF) ? 2 : 1;  // a lone lead byte reads as lead * 256
}

bool isLeadByte(unsigned char c) {
    if (g_charSet == 's') return (g_charClass[c] & kClassLead) != 0;
    if (g_charSet == 'e') return c >= 0xA1 && c <= 0xFE;
    if (g_charSet == 'u') return c >= 0xC2 && c <= 0xF4;
    return false;
}

bool isWordByte(unsigned char c) {
    const uint16_t m = g_charClass[c];
    if (m & (kClassUpper | kClassLower | kClassDigit)) return true;
    if (g_charSet == 's') return (m & kClassKana) != 0;
    if (g_charSet == 'u') return false;
    return (m & (kClassLead | kClassKana)) != 0;
}

bool isSecondByte(const char* text, int pos) { return isInsideChar(charRules(), text, text + pos, nullptr); }

int charLen(const char* p) {
    const LCharRules& r = charRules();
    const int w = r.width[static_cast<unsigned char>(p[0])];
    if (w == 1) return 1;
    // a NUL ends the text: no sequence goes past it
    int n = 1;
    while (n < w && p[n] != 0) ++n;
    int len = 0;
    charCodeAt(r, p, p + n, &len);
    return len;
}

int charLen(const char* p, const char* end) {
    int len = 0;
    charCodeAt(charRules(), p, end, &len);
    return len;
}

int charAt(const char* p) {
    const int n = charLen(p);
    int len = 0;
    return charCodeAt(charRules(), p, p + n, &len);
}

namespace {
bool isAsciiLetter(unsigned char c) { return (g_charClass[c] & (kClassUpper | kClassLower)) != 0; }
}  // namespace

int compareNoCase(const char* a, const char* b) {
    if (!a) a = "";
    if (!b) b = "";
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (int i = 0;; ++i) {
        unsigned char c = x[i];
        unsigned char d = y[i];
        if (c != d) {
            if (isAsciiLetter(c) && isAsciiLetter(d) && !isInsideChar(charRules(), a, a + i, nullptr)) {
                c |= 0x20;
                d |= 0x20;
            }
            if (c != d) return static_cast<int>(c) - static_cast<int>(d);
        }
        if (c == 0) return 0;
    }
}

bool equalsText(const char* a, const char* b, bool ignoreCase) {
    if (ignoreCase) return compareNoCase(a, b) == 0;
    if (!a) a = "";
    if (!b) b = "";
    for (; *a && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

namespace {

// The codeset of a locale name "language_territory.codeset@modifier" names UTF-8.
bool namesUtf8(const char* locale) {
    const char* dot = locale;
    while (*dot && *dot != '.') ++dot;
    if (!*dot) return false;
    char norm[8];
    int n = 0;
    for (const char* p = dot + 1; *p && *p != '@'; ++p) {
        if (*p == '-') continue;
        if (n == 5) return false;
        norm[n++] = static_cast<char>(toLowerAscii(static_cast<unsigned char>(*p)));
    }
    return n == 4 && norm[0] == 'u' && norm[1] == 't' && norm[2] == 'f' && norm[3] == '8';
}

}  // namespace

int charSetForLocale(const char* lcAll, const char* lcCtype, const char* lang) {
    for (const char* v : {lcAll, lcCtype, lang}) {
        if (v && *v) return namesUtf8(v) ? 'u' : 's';
    }
    return 's';
}

void setCharSetFromLocale() {
    g_charSet = charSetForLocale(platformEnv("LC_ALL"), platformEnv("LC_CTYPE"), platformEnv("LANG"));
}

// Character classes of the console code page and the one place that knows how
// many bytes a character takes and which code it has.
//
// g_charSet selects the rules: 's' Shift-JIS (the initial value), 'u' UTF-8,
// 'e' EUC-JP, anything else single-byte. It is set once at start-up (from the
// locale, then by -chrset) before any thread walks text. Every piece of code
// that steps over characters (tokenizer, pattern engine, path functions,
// printable, compareNoCase) goes through the functions here.
//
// Character codes: a single byte is its value; a Shift-JIS or EUC-JP
// double-byte character is lead * 256 + second byte (a lead byte as the last
// byte of a text stands alone as lead * 256); a UTF-8 character is its code
// point. In UTF-8 a byte that starts no valid sequence (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF, no cut-off sequence) is a
// character of its own with the code 0xDC00 + byte, a code that no valid
// character has, so that such bytes never equal a real character.
#pragma once

#include <cstdint>

enum : uint16_t {
    kClassUpper = 0x0001,
    kClassLower = 0x0002,
    kClassDigit = 0x0004,
    kClassPunct = 0x0008,
    kClassIdent = 0x0010,  // the underscore (together with kClassPunct)
    kClassSpace = 0x0020,
    kClassLead = 0x1000,   // Shift-JIS lead byte 81-9F, E0-FC
    kClassKana = 0x2000,   // half-width katakana A1-DF
    // A byte of a name or a word: letter, digit or underscore.
    kClassWord = kClassUpper | kClassLower | kClassDigit | kClassIdent,
};

// The class masks of the 256 byte values.
extern const uint16_t g_charClass[256];

// The character set in force: 's', 'u', 'e' or anything else (single-byte).
extern int g_charSet;

// The code of an invalid byte b (80-FF) in UTF-8.
constexpr int kInvalidByteCode = 0xDC00;

inline uint16_t charClass(unsigned char c) { return g_charClass[c]; }

// The stepping rules of one character set, as tables (constant, one per set).
struct LCharRules {
    int set;             // the g_charSet value
    bool utf8;
    uint8_t width[256];  // bytes of a character that starts with this byte
                         // (UTF-8: when its sequence is valid; 1 otherwise)
};

// The rules of the character set in force.
const LCharRules& charRules();

// UTF-8 only: code and length of the sequence at p whose first byte needs w
// bytes (w >= 2); an invalid one is the byte alone.
int utf8Decode(const unsigned char* p, const unsigned char* end, int w, int* len);

// Code and byte length of the character at p (p < end); nothing at or after
// end is read.
inline int charCodeAt(const LCharRules& r, const char* at, const char* end, int* len) {
    const auto* p = reinterpret_cast<const unsigned char*>(at);
    const unsigned b = p[0];
    const int w = r.width[b];
    if (w == 1) {
        *len = 1;
        return r.utf8 && b >= 0x80 ? kInvalidByteCode + static_cast<int>(b) : static_cast<int>(b);
    }
    if (r.utf8) return utf8Decode(p, reinterpret_cast<const unsigned char*>(end), w, len);
    if (at + 1 < end) {
        *len = 2;
        return static_cast<int>(b << 8 | p[1]);
    }
    *len = 1;
    return static_cast<int>(b << 8);
}

// True when p is not the start of a character: it lies inside a character that
// starts before it. known (<= p) must be the start of a character; nothing
// before it is read, nor anything at or after end (null: the text ends at its
// terminating NUL).
bool isInsideChar(const LCharRules& r, const char* known, const char* p, const char* end);

// Code and byte length of the character that ends at p (p > start, where start
// is the start of a character).
inline int charCodeBefore(const LCharRules& r, const char* start, const char* p, int* len) {
    if (!r.utf8) {
        if (p - 1 > start && r.width[static_cast<unsigned char>(p[-2])] == 2 && isInsideChar(r, start, p - 1, p)) {
            *len = 2;
            return (static_cast<unsigned char>(p[-2]) << 8) | static_cast<unsigned char>(p[-1]);
        }
        *len = 1;
        return static_cast<unsigned char>(p[-1]);
    }
    if (static_cast<unsigned char>(p[-1]) >= 0x80) {
        // the nearest byte before p that is no continuation byte starts it
        const char* q = p - 1;
        while (q > start && q > p - 4 && (static_cast<unsigned char>(*q) & 0xC0) == 0x80) --q;
        if (p - q >= 2) {
            int n = 0;
            const int code = charCodeAt(r, q, p, &n);
            if (n == p - q) {
                *len = n;
                return code;
            }
        }
    }
    return charCodeAt(r, p - 1, p, len);
}

// p when it starts a character, else the end of the character it lies in
// (known <= p starts a character; p < end).
const char* charStartFrom(const LCharRules& r, const char* known, const char* p, const char* end);

// True when the bytes at t, n long, end in the first bytes of a character cut
// off (a lone Shift-JIS lead byte, the start of a UTF-8 sequence): such a
// text may read differently where more bytes follow it.
bool endsCutOff(const LCharRules& r, const char* t, int n);

// The bytes of code in the character set in force (at most 4 into out); 0 when
// the code has no bytes there.
int encodeChar(int code, char* out);

// Shift-JIS: class bit 0x1000; EUC-JP: A1-FE; UTF-8: C2-F4 (a byte that may
// start a sequence of two or more bytes); single-byte: never.
bool isLeadByte(unsigned char c);

// A letter or digit; in Shift-JIS also half-width katakana; in UTF-8 nothing
// else; in the other modes any byte of class 0x1000 or 0x2000.
bool isWordByte(unsigned char c);

// True when the byte at text[pos] lies inside a character that starts before
// it (in Shift-JIS: the run of lead bytes before pos has odd length).
bool isSecondByte(const char* text, int pos);

// Bytes taken by the character at p (NUL-terminated text: a NUL never belongs
// to a character before it).
int charLen(const char* p);
// Same for a text with a known end.
int charLen(const char* p, const char* end);

// The character at p (NUL-terminated) as a code.
int charAt(const char* p);

// ORs 0x20 into A-Z only.
inline int toLowerAscii(int c) { return (c >= 'A' && c <= 'Z') ? (c | 0x20) : c; }

// Byte comparison that ignores ASCII case, except at a byte that lies inside a
// character; the difference of the deciding bytes.
int compareNoCase(const char* a, const char* b);

// Equal byte for byte, or, with ignoreCase, compareNoCase() == 0.
bool equalsText(const char* a, const char* b, bool ignoreCase);

// The character set the locale asks for: the text of the first non-empty of
// lcAll, lcCtype and lang (null counts as empty) names UTF-8 as its codeset
// ("UTF-8" or "utf8" in any case, as in C.UTF-8 or ja_JP.utf8): 'u'; anything
// else, or nothing: 's'. Whether that locale is installed does not matter.
int charSetForLocale(const char* lcAll, const char* lcCtype, const char* lang);
// g_charSet = charSetForLocale of the process environment.
void setCharSetFromLocale();

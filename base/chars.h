// Character classes of the console code page and the one place that knows how
// many bytes a character takes.
//
// g_charSet selects the double-byte rules: 's' Shift-JIS (the initial value),
// 'e' EUC-JP, anything else single-byte. Only the -chrset argument filter
// changes it, once, at start-up. Every piece of code that steps over characters
// (tokenizer, pattern engine, path functions, printable) goes through the
// functions here, so that a further multi-byte encoding is added in this file.
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

// The character set in force: 's', 'e' or anything else (single-byte).
extern int g_charSet;

inline uint16_t charClass(unsigned char c) { return g_charClass[c]; }

// Shift-JIS: class bit 0x1000; EUC-JP: A1-FE; single-byte: never.
bool isLeadByte(unsigned char c);

// A letter or digit; in Shift-JIS also half-width katakana; in the other modes
// any byte of class 0x1000 or 0x2000.
bool isWordByte(unsigned char c);

// True when the byte at text[pos] is the second half of a double-byte character:
// the run of lead bytes immediately before pos has odd length.
bool isSecondByte(const char* text, int pos);

// Bytes taken by the character at p: 2 for a lead byte followed by a byte other
// than the terminating NUL, else 1.
int charLen(const char* p);
// Same for a text with a known end: a lead byte as the last byte counts as 1.
int charLen(const char* p, const char* end);

// The character at p as a number: lead byte * 256 + second byte for a
// double-byte character, else the byte.
int charAt(const char* p);

// ORs 0x20 into A-Z only.
inline int toLowerAscii(int c) { return (c >= 'A' && c <= 'Z') ? (c | 0x20) : c; }

// Byte comparison that ignores ASCII case, except at a byte that is the second
// half of a double-byte character; the difference of the deciding bytes.
int compareNoCase(const char* a, const char* b);

// Equal byte for byte, or, with ignoreCase, compareNoCase() == 0.
bool equalsText(const char* a, const char* b, bool ignoreCase);

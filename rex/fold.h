// Case folding and width folding of character codes in the character set in
// force (base/chars.h: a Shift-JIS code is lead * 256 + second byte, a UTF-8
// code is the code point).
//
// Case folding knows ASCII, the full-width Latin letters, Greek and Cyrillic:
// in Shift-JIS their rows of the code, in UTF-8 the same letters by code point
// (the 24 Greek letters without the final sigma, the 33 Cyrillic letters with
// Yo). Width folding pairs half-width characters with full-width ones: in
// Shift-JIS the 158 pairs of g_widthFold; in UTF-8 ASCII with the full-width
// forms (U+FF01-FF5E, space with U+3000) and the half-width katakana and
// marks with their full-width forms. All tables are constant, made at compile
// time: nothing is built at run time, so threads share them without a lock.
#pragma once

#include <cstdint>

// Lower-case and upper-case forms; other codes are returned unchanged.
int rexLower(int code);
int rexUpper(int code);

// The Shift-JIS width table: full-width code to half-width byte and back.
struct LRexWidthFold {
    uint16_t halfToFull[256];  // 0 where a byte has no full-width form
    uint8_t fullToHalf[0x8398 - 0x8140];  // indexed by code - 0x8140; 0: none
};

// The Shift-JIS table.
const LRexWidthFold& rexWidthFold();

// A full-width code to its half-width counterpart, or the code itself.
int rexFullToHalf(int code);
// A half-width code to its full-width counterpart, or the code itself.
int rexHalfToFull(int code);

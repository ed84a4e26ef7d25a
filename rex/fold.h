// Case folding and width folding of character codes (a single byte is its
// value, a double-byte Shift-JIS character is lead * 256 + second byte).
//
// Case folding knows ASCII, the full-width letters, Greek and Cyrillic of
// Shift-JIS. Width folding pairs 158 half-width characters with full-width
// ones (g_widthFold); it is built on first use under g_libLock and given back
// by the library's shutdown.
#pragma once

#include <cstdint>

// Lower-case and upper-case forms; other codes are returned unchanged.
int rexLower(int code);
int rexUpper(int code);

// The width table: full-width code to half-width byte and back.
struct LRexWidthFold {
    uint16_t halfToFull[256];  // 0 where a byte has no full-width form
    uint8_t fullToHalf[0x8398 - 0x8140];  // indexed by code - 0x8140; 0: none
};

// The table, built on first use.
const LRexWidthFold& rexWidthFold();

// Full-width code to its half-width byte, or the code itself.
int rexFullToHalf(int code);
// Half-width byte to its full-width code, or the code itself.
int rexHalfToFull(int code);

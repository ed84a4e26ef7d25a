// Case folding and the width tables. Every table is a constant made at compile
// time from the pairs below.
#include "rex/fold.h"

#include "base/chars.h"

namespace {

// The pairs of the table, row by row: half-width bytes and, in the same order,
// their full-width codes. A pair {a, b, n} with n > 1 stands for n consecutive
// values on both sides.
struct Run {
    uint8_t half;
    uint16_t full;
    uint8_t n;
};

constexpr Run kRuns[] = {
    {0x30, 0x824F, 10},  // digits
    {0x41, 0x8260, 26},  // A-Z
    {0x61, 0x8281, 26},  // a-z
    // half-width katakana B1..C4
    {0xB1, 0x8341, 1}, {0xB2, 0x8343, 1}, {0xB3, 0x8345, 1}, {0xB4, 0x8347, 1},
    {0xB5, 0x8349, 1}, {0xB6, 0x834A, 1}, {0xB7, 0x834C, 1}, {0xB8, 0x834E, 1},
    {0xB9, 0x8350, 1}, {0xBA, 0x8352, 1}, {0xBB, 0x8354, 1}, {0xBC, 0x8356, 1},
    {0xBD, 0x8358, 1}, {0xBE, 0x835A, 1}, {0xBF, 0x835C, 1}, {0xC0, 0x835E, 1},
    {0xC1, 0x8360, 1}, {0xC2, 0x8363, 1}, {0xC3, 0x8365, 1}, {0xC4, 0x8367, 1},
    // C5..DD and A6
    {0xC5, 0x8369, 6}, {0xCB, 0x8371, 1}, {0xCC, 0x8374, 1}, {0xCD, 0x8377, 1},
    {0xCE, 0x837A, 1}, {0xCF, 0x837D, 2}, {0xD1, 0x8380, 3}, {0xD4, 0x8384, 1},
    {0xD5, 0x8386, 1}, {0xD6, 0x8388, 6}, {0xDC, 0x838F, 1}, {0xA6, 0x8392, 1},
    {0xDD, 0x8393, 1},
    // small katakana
    {0xA7, 0x8340, 1}, {0xA8, 0x8342, 1}, {0xA9, 0x8344, 1}, {0xAA, 0x8346, 1},
    {0xAB, 0x8348, 1}, {0xAC, 0x8383, 1}, {0xAD, 0x8385, 1}, {0xAE, 0x8387, 1},
    {0xAF, 0x8362, 1},
    // symbols
    {0x20, 0x8140, 1}, {0x23, 0x8194, 1}, {0x24, 0x8190, 1}, {0x25, 0x8193, 1},
    {0x26, 0x8195, 1}, {0x7C, 0x8162, 1}, {0x5E, 0x814F, 1}, {0x7E, 0x8160, 1},
    {0x2B, 0x817B, 1}, {0x2D, 0x817C, 1}, {0x2A, 0x8196, 1}, {0x2F, 0x815E, 1},
    {0x3D, 0x8181, 1}, {0x3B, 0x8147, 1}, {0x3A, 0x8146, 1}, {0x5C, 0x818F, 1},
    {0x40, 0x8197, 1}, {0x5F, 0x8151, 1},
    {0x60, 0x8165, 1}, {0x27, 0x8166, 1}, {0x22, 0x8168, 1}, {0x28, 0x8169, 1},
    {0x29, 0x816A, 1}, {0x5B, 0x816D, 1}, {0x5D, 0x816E, 1}, {0x7B, 0x816F, 1},
    {0x7D, 0x8170, 1}, {0x3C, 0x8183, 1}, {0x3E, 0x8184, 1}, {0xA2, 0x8175, 1},
    {0xA3, 0x8176, 1}, {0x21, 0x8149, 1}, {0x3F, 0x8148, 1}, {0x2C, 0x8143, 1},
    {0x2E, 0x8144, 1}, {0xA4, 0x8141, 1}, {0xA1, 0x8142, 1}, {0xA5, 0x8145, 1},
    {0xB0, 0x815B, 1}, {0xDE, 0x814A, 1}, {0xDF, 0x814B, 1},
};

constexpr LRexWidthFold makeSjisTable() {
    LRexWidthFold t{};
    for (const Run& r : kRuns) {
        for (int i = 0; i < r.n; ++i) {
            t.halfToFull[r.half + i] = static_cast<uint16_t>(r.full + i);
            t.fullToHalf[r.full + i - 0x8140] = static_cast<uint8_t>(r.half + i);
        }
    }
    return t;
}

constexpr LRexWidthFold kSjisWidth = makeSjisTable();

// The Unicode code of the Shift-JIS codes that pair with half-width katakana
// and marks (katakana 8340-8396 skip 837F).
constexpr int kanaToUnicode(int sjis) {
    if (sjis >= 0x8340 && sjis <= 0x8396) return 0x30A1 + (sjis - 0x8340) - (sjis >= 0x8380 ? 1 : 0);
    switch (sjis) {
        case 0x8142: return 0x3002;  // ideographic full stop
        case 0x8175: return 0x300C;  // corner brackets
        case 0x8176: return 0x300D;
        case 0x8141: return 0x3001;  // ideographic comma
        case 0x8145: return 0x30FB;  // middle dot
        case 0x815B: return 0x30FC;  // prolonged sound mark
        case 0x814A: return 0x309B;  // voiced sound marks
        case 0x814B: return 0x309C;
        default: return 0;
    }
}

// UTF-8: half-width katakana U+FF61-FF9F and the full-width forms they pair
// with, made from the same pairs as the Shift-JIS table.
struct KanaWidth {
    uint16_t halfToFull[0x3F];      // indexed by code - 0xFF61
    uint16_t fullToHalf[0x100];     // indexed by code - 0x3000; 0: none
};

constexpr KanaWidth makeKanaTable() {
    KanaWidth t{};
    for (const Run& r : kRuns) {
        for (int i = 0; i < r.n; ++i) {
            const int half = r.half + i;
            if (half < 0xA1 || half > 0xDF) continue;
            const int full = kanaToUnicode(r.full + i);
            const int halfCode = 0xFF61 + (half - 0xA1);
            t.halfToFull[halfCode - 0xFF61] = static_cast<uint16_t>(full);
            t.fullToHalf[full - 0x3000] = static_cast<uint16_t>(halfCode);
        }
    }
    return t;
}

constexpr KanaWidth kKanaWidth = makeKanaTable();

int lowerSjis(int c) {
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c >= 0x8260 && c <= 0x8279) return c + 0x21;  // full-width A-Z
    if (c >= 0x839F && c <= 0x83B6) return c + 0x20;  // Greek
    if (c >= 0x8440 && c <= 0x844E) return c + 0x30;  // Cyrillic
    if (c >= 0x844F && c <= 0x8460) return c + 0x31;  // Cyrillic, skipping 847F
    return c;
}

int upperSjis(int c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c >= 0x8281 && c <= 0x829A) return c - 0x21;
    if (c >= 0x83BF && c <= 0x83D6) return c - 0x20;
    if (c >= 0x8470 && c <= 0x847E) return c - 0x30;
    if (c >= 0x8480 && c <= 0x8491) return c - 0x31;
    return c;
}

int lowerUnicode(int c) {
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;  // full-width A-Z
    if ((c >= 0x0391 && c <= 0x03A1) || (c >= 0x03A3 && c <= 0x03A9)) return c + 0x20;  // Greek
    if (c >= 0x0410 && c <= 0x042F) return c + 0x20;  // Cyrillic
    if (c == 0x0401) return 0x0451;                    // Yo
    return c;
}

int upperUnicode(int c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
    if ((c >= 0x03B1 && c <= 0x03C1) || (c >= 0x03C3 && c <= 0x03C9)) return c - 0x20;
    if (c >= 0x0430 && c <= 0x044F) return c - 0x20;
    if (c == 0x0451) return 0x0401;
    return c;
}

}  // namespace

int rexLower(int c) { return g_charSet == 'u' ? lowerUnicode(c) : lowerSjis(c); }

int rexUpper(int c) { return g_charSet == 'u' ? upperUnicode(c) : upperSjis(c); }

const LRexWidthFold& rexWidthFold() { return kSjisWidth; }

int rexFullToHalf(int code) {
    if (g_charSet == 'u') {
        if (code >= 0xFF01 && code <= 0xFF5E) return code - 0xFEE0;
        if (code == 0x3000) return ' ';
        if (code > 0x3000 && code < 0x3100) {
            const int h = kKanaWidth.fullToHalf[code - 0x3000];
            return h ? h : code;
        }
        return code;
    }
    if (code < 0x8140 || code >= 0x8398) return code;
    const int h = kSjisWidth.fullToHalf[code - 0x8140];
    return h ? h : code;
}

int rexHalfToFull(int code) {
    if (g_charSet == 'u') {
        if (code >= 0x21 && code <= 0x7E) return code + 0xFEE0;
        if (code == ' ') return 0x3000;
        if (code >= 0xFF61 && code <= 0xFF9F) return kKanaWidth.halfToFull[code - 0xFF61];
        return code;
    }
    if (code < 0 || code > 255) return code;
    const int f = kSjisWidth.halfToFull[code];
    return f ? f : code;
}

// Text as UTF-8 (see utf8.h).
#include "base/utf8.h"

#include "base/chars.h"
#include "base/platform/charconv.h"

namespace {

// The length of the valid UTF-8 sequence at p (at most end), 0 when none starts there.
int validSequence(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    int n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong form
        if (c == 0xED) hi = 0x9F;  // no surrogate
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;  // no overlong form
        if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (end - p < n) return 0;
    if (p[1] < lo || p[1] > hi) return 0;
    for (int i = 2; i < n; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return n;
}

bool allAscii(const char* text, int n) {
    for (int i = 0; i < n; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    return true;
}

}  // namespace

void appendValidUtf8(const char* text, int n, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + n;
    while (p < end) {
        const int len = validSequence(p, end);
        if (len == 0) {
            out.append(kReplacementUtf8);
            ++p;
            continue;
        }
        out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(len));
        p += len;
    }
}

LUtf8Converter::LUtf8Converter() = default;
LUtf8Converter::~LUtf8Converter() = default;

void LUtf8Converter::append(const char* text, int n, std::string& out) {
    if (n <= 0) return;
    if (allAscii(text, n)) {
        out.append(text, static_cast<size_t>(n));
        return;
    }
    const int set = g_charSet;
    if (set == 'u') {
        appendValidUtf8(text, n, out);
        return;
    }
    if (set != 's' && set != 'e') {
        // Single-byte: ISO 8859-1, byte value = code point.
        for (int i = 0; i < n; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
            } else {
                out.push_back(static_cast<char>(0xC0 | (c >> 6)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            }
        }
        return;
    }
    if (!converter_ || charSet_ != set) {
        // CP932 is Shift-JIS as Windows has it (with the NEC and IBM rows).
        converter_ = std::make_unique<PlatformUtf8Converter>(set == 's' ? "CP932|SHIFT_JIS|SJIS" : "EUC-JP");
        charSet_ = set;
    }
    converter_->append(text, static_cast<size_t>(n), out);
}

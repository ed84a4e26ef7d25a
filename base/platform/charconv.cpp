// Conversion to UTF-8 with iconv; bytes that do not convert become U+FFFD one
// at a time (see charconv.h).
#include "base/platform/charconv.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {
iconv_t asIconv(void* cd) { return static_cast<iconv_t>(cd); }
}  // namespace

PlatformUtf8Converter::PlatformUtf8Converter(const char* charsets) {
    std::string names(charsets);
    size_t from = 0;
    while (from <= names.size()) {
        const size_t bar = names.find('|', from);
        const std::string name = names.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
        const iconv_t cd = iconv_open("UTF-8", name.c_str());
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            cd_ = cd;
            return;
        }
        if (bar == std::string::npos) break;
        from = bar + 1;
    }
}

PlatformUtf8Converter::~PlatformUtf8Converter() {
    if (cd_) iconv_close(asIconv(cd_));
}

void PlatformUtf8Converter::append(const char* text, size_t n, std::string& out) {
    if (!cd_) {
        for (size_t i = 0; i < n; ++i) {
            if (static_cast<unsigned char>(text[i]) < 0x80)
                out.push_back(text[i]);
            else
                out.append(kReplacementUtf8);
        }
        return;
    }
    iconv(asIconv(cd_), nullptr, nullptr, nullptr, nullptr);  // the initial state
    char* in = const_cast<char*>(text);
    size_t inLeft = n;
    char buf[1024];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        const size_t r = iconv(asIconv(cd_), &in, &inLeft, &o, &oLeft);
        out.append(buf, static_cast<size_t>(o - buf));
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;  // the buffer is full: go on with an empty one
        // EILSEQ or EINVAL (also an incomplete sequence at the end): this byte
        // becomes U+FFFD and the next one starts afresh.
        out.append(kReplacementUtf8);
        ++in;
        --inLeft;
        iconv(asIconv(cd_), nullptr, nullptr, nullptr, nullptr);
    }
    // Anything a stateful converter still holds.
    char* o = buf;
    size_t oLeft = sizeof buf;
    iconv(asIconv(cd_), nullptr, nullptr, &o, &oLeft);
    out.append(buf, static_cast<size_t>(o - buf));
}

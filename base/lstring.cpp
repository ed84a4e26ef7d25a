// LString: growable NUL-terminated byte buffer on the block allocator.
//
// Growth asks for 5/4 of the needed length and rounds the capacity up to the
// block class, so no usable byte of a block is wasted. Every operation that
// may move the buffer first notes whether its source text lies inside the
// buffer itself, so that s.append(s.data()) and the like stay correct.
#include "base/lstring.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/block.h"
#include "base/msg.h"

namespace {

constexpr int kEmptyRequest = 1;  // a fresh empty string owns a 4-byte block

bool inside(const char* p, const char* base, int n) {
    const auto a = reinterpret_cast<uintptr_t>(p);
    const auto b = reinterpret_cast<uintptr_t>(base);
    return a >= b && a < b + static_cast<uintptr_t>(n);
}

[[noreturn]] void tooLong() { internalError("string too long"); }

}  // namespace

LString::LString() : data_(static_cast<char*>(blockAlloc(kEmptyRequest))), cap_(0), len_(0) { data_[0] = 0; }

LString::LString(const char* text) : LString() { append(text); }

LString::LString(const char* text, int n) : LString() { append(text, n); }

LString::LString(const LString& other) : LString() { append(other.data_, other.len_); }

LString::LString(LString&& other) noexcept : LString() {
    std::swap(data_, other.data_);
    std::swap(cap_, other.cap_);
    std::swap(len_, other.len_);
}

LString& LString::operator=(const LString& other) {
    if (this != &other) assign(other.data_, other.len_);
    return *this;
}

LString& LString::operator=(LString&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(cap_, other.cap_);
    std::swap(len_, other.len_);
    return *this;
}

LString::~LString() { blockFree(data_); }

void LString::reserve(int n) {
    if (n < len_) n = len_;
    if (n >= INT_MAX - 8) tooLong();
    const int newCap = blockRound(n + 1) - 1;
    if (newCap == cap_) return;
    char* fresh = static_cast<char*>(blockAlloc(n + 1));
    std::memcpy(fresh, data_, static_cast<size_t>(len_) + 1);
    blockFree(data_);
    data_ = fresh;
    cap_ = newCap;
}

void LString::grow(int needed) {
    if (needed <= cap_) return;
    const int64_t want = static_cast<int64_t>(needed) * 5 / 4;
    reserve(want >= INT_MAX - 8 ? needed : static_cast<int>(want));
}

void LString::append(const char* text) {
    if (text) append(text, static_cast<int>(std::strlen(text)));
}

void LString::append(const LString& text) { append(text.data_, text.len_); }

void LString::append(const char* text, int n) {
    if (!text) return;
    if (n < 0) n = static_cast<int>(std::strlen(text));
    if (n == 0) return;
    if (n > INT_MAX - 8 - len_) tooLong();
    if (len_ + n > cap_) {
        if (inside(text, data_, len_ + 1)) {
            const auto offset = text - data_;
            grow(len_ + n);
            text = data_ + offset;
        } else {
            grow(len_ + n);
        }
    }
    std::memmove(data_ + len_, text, static_cast<size_t>(n));
    len_ += n;
    data_[len_] = 0;
}

void LString::appendChar(char c, int times) {
    if (times <= 0) return;
    if (times > INT_MAX - 8 - len_) tooLong();
    grow(len_ + times);
    std::memset(data_ + len_, static_cast<unsigned char>(c), static_cast<size_t>(times));
    len_ += times;
    data_[len_] = 0;
}

void LString::insert(const char* text, int at, int n) {
    if (!text) return;
    if (n < 0) n = static_cast<int>(std::strlen(text));
    if (at < 0 || at >= len_) {
        append(text, n);
        return;
    }
    if (n == 0) return;
    if (inside(text, data_, len_ + 1)) {
        const LString copy(text, n);
        insert(copy.data_, at, n);
        return;
    }
    if (n > INT_MAX - 8 - len_) tooLong();
    grow(len_ + n);
    std::memmove(data_ + at + n, data_ + at, static_cast<size_t>(len_ - at) + 1);
    std::memcpy(data_ + at, text, static_cast<size_t>(n));
    len_ += n;
}

void LString::truncate(int n) {
    if (n < 0) n = 0;
    if (n >= len_) return;
    len_ = n;
    data_[len_] = 0;
}

void LString::erase(int at, int n) {
    if (at < 0 || at >= len_ || n <= 0) return;
    if (n > len_ - at) n = len_ - at;
    std::memmove(data_ + at, data_ + at + n, static_cast<size_t>(len_ - at - n) + 1);
    len_ -= n;
}

void LString::clear() {
    len_ = 0;
    data_[0] = 0;
    reserve(0);
}

void LString::assign(const char* text) { assign(text, text ? static_cast<int>(std::strlen(text)) : 0); }

void LString::assign(const char* text, int n) {
    if (text && inside(text, data_, len_ + 1)) {
        LString copy(text, n);
        *this = std::move(copy);
        return;
    }
    clear();
    append(text, n);
}

void LString::assign(const LString& text) {
    if (&text != this) assign(text.data_, text.len_);
}

void LString::appendFormat(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    appendFormatV(fmt, args);
    va_end(args);
}

void LString::appendFormatV(const char* fmt, va_list args) {
    // Formats into a scratch buffer first (the arguments may point into this
    // string), a larger block when the text does not fit.
    char small[512];
    va_list first;
    va_copy(first, args);
    const int n = std::vsnprintf(small, sizeof small, fmt, first);
    va_end(first);
    if (n < 0) return;
    if (n < static_cast<int>(sizeof small)) {
        append(small, n);
        return;
    }
    if (n >= INT_MAX - 8) tooLong();
    BlockPtr<char> big = blockAllocOwned(n + 1);
    std::vsnprintf(big.get(), static_cast<size_t>(n) + 1, fmt, args);
    append(big.get(), n);
}

LString LString::format(const char* fmt, ...) {
    LString s;
    va_list args;
    va_start(args, fmt);
    s.appendFormatV(fmt, args);
    va_end(args);
    return s;
}

int LString::find(const char* needle, int from, int n) const {
    if (!needle) return -1;
    if (from < 0) from = 0;
    if (from > len_) return -1;
    int end = len_;
    if (n >= 0 && n < len_ - from) end = from + n;
    const std::string_view hay(data_ + from, static_cast<size_t>(end - from));
    const size_t at = hay.find(needle);
    return at == std::string_view::npos ? -1 : from + static_cast<int>(at);
}

int LString::replaceAll(const char* from, const char* to) {
    if (!from || !*from) return 0;
    const int fromLen = static_cast<int>(std::strlen(from));
    int at = find(from);
    if (at < 0) return 0;
    LString out;
    int done = 0;
    int count = 0;
    while (at >= 0) {
        out.append(data_ + done, at - done);
        out.append(to);
        done = at + fromLen;
        ++count;
        at = find(from, done);
    }
    out.append(data_ + done, len_ - done);
    *this = std::move(out);
    return count;
}

bool LString::equals(const char* text) const {
    if (!text) return len_ == 0;
    return std::strlen(text) == static_cast<size_t>(len_) && std::memcmp(data_, text, static_cast<size_t>(len_)) == 0;
}

bool LString::operator==(const LString& other) const {
    return len_ == other.len_ && std::memcmp(data_, other.data_, static_cast<size_t>(len_)) == 0;
}

char* LString::detach() const {
    char* copy = static_cast<char*>(blockAlloc(len_ + 1));
    std::memcpy(copy, data_, static_cast<size_t>(len_) + 1);
    return copy;
}

char* blockStrdup(const char* text) {
    if (!text) return nullptr;
    const size_t n = std::strlen(text);
    if (n >= static_cast<size_t>(INT_MAX - 8)) tooLong();
    char* copy = static_cast<char*>(blockAlloc(static_cast<int>(n) + 1));
    std::memcpy(copy, text, n + 1);
    return copy;
}

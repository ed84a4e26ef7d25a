// LArray: a growable array of pointer-sized elements on the block allocator,
// and the owned-string list LStrList.
//
// The element after the last is always 0 and every buffer has room for
// cap + 1 elements, so data() can be handed out as a zero-terminated list.
#include "base/larray.h"

#include <climits>
#include <cstring>
#include <utility>

#include "base/block.h"
#include "base/lstring.h"
#include "base/msg.h"

namespace {

constexpr int kWord = static_cast<int>(sizeof(intptr_t));
constexpr int kEmptyBytes = 16;  // a fresh array owns a 16-byte block
constexpr int kMaxCount = INT_MAX / kWord / 2;

bool inside(const intptr_t* p, const intptr_t* base, int n) {
    const auto a = reinterpret_cast<uintptr_t>(p);
    const auto b = reinterpret_cast<uintptr_t>(base);
    return a >= b && a < b + static_cast<uintptr_t>(n) * kWord;
}

[[noreturn]] void badIndex(int i, int count) { internalError("array index %d out of range (count %d)", i, count); }

}  // namespace

LArray::LArray() : data_(static_cast<intptr_t*>(blockAlloc(kEmptyBytes))), cap_(0), count_(0) { data_[0] = 0; }

LArray::LArray(const LArray& other) : LArray() { addAll(other.data_, other.count_); }

LArray::LArray(LArray&& other) noexcept : LArray() {
    std::swap(data_, other.data_);
    std::swap(cap_, other.cap_);
    std::swap(count_, other.count_);
}

LArray& LArray::operator=(const LArray& other) {
    if (this != &other) {
        LArray copy(other);
        *this = std::move(copy);
    }
    return *this;
}

LArray& LArray::operator=(LArray&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(cap_, other.cap_);
    std::swap(count_, other.count_);
    return *this;
}

LArray::~LArray() { blockFree(data_); }

void LArray::reserve(int n) {
    if (n < count_) n = count_;
    if (n >= kMaxCount) internalError("array too large");
    const int bytes = kWord * (n + 1);
    const int newCap = blockRound(bytes) / kWord - 1;
    if (newCap == cap_) return;
    auto* fresh = static_cast<intptr_t*>(blockAlloc(bytes));
    std::memcpy(fresh, data_, static_cast<size_t>(count_ + 1) * kWord);
    blockFree(data_);
    data_ = fresh;
    cap_ = newCap;
}

void LArray::add(intptr_t x) {
    if (count_ + 1 > cap_) reserve(static_cast<int>((static_cast<int64_t>(count_) + 1) * 5 / 4));
    data_[count_ + 1] = 0;
    data_[count_] = x;
    ++count_;
}

void LArray::addAll(const intptr_t* list) {
    if (!list) return;
    int n = 0;
    while (list[n]) ++n;
    addAll(list, n);
}

void LArray::addAll(const intptr_t* list, int n) {
    if (!list || n <= 0) return;
    if (n >= kMaxCount - count_) internalError("array too large");
    if (count_ + n > cap_) {
        const int want = static_cast<int>((static_cast<int64_t>(count_) + n) * 5 / 4);
        if (inside(list, data_, count_ + 1)) {
            const auto offset = list - data_;
            reserve(want);
            list = data_ + offset;
        } else {
            reserve(want);
        }
    }
    std::memmove(data_ + count_, list, static_cast<size_t>(n) * kWord);
    count_ += n;
    data_[count_] = 0;
}

void LArray::insert(int at, intptr_t x) {
    if (at < 0 || at > count_) badIndex(at, count_);
    if (count_ + 1 > cap_) reserve(static_cast<int>((static_cast<int64_t>(count_) + 1) * 5 / 4));
    std::memmove(data_ + at + 1, data_ + at, static_cast<size_t>(count_ - at + 1) * kWord);
    data_[at] = x;
    ++count_;
}

void LArray::removeAt(int i) {
    if (i < 0 || i >= count_) badIndex(i, count_);
    std::memmove(data_ + i, data_ + i + 1, static_cast<size_t>(count_ - i) * kWord);
    --count_;
}

bool LArray::remove(intptr_t x) {
    const int i = indexOf(x);
    if (i < 0) return false;
    removeAt(i);
    return true;
}

int LArray::indexOf(intptr_t x) const { return indexOf(x, data_, count_); }

void LArray::clear() {
    count_ = 0;
    data_[0] = 0;
    reserve(0);
}

void LArray::clearAndFree() {
    for (int i = 0; i < count_; ++i) blockFree(reinterpret_cast<void*>(data_[i]));
    clear();
}

int LArray::indexOf(intptr_t x, const intptr_t* list, int n) {
    if (!list) return -1;
    for (int i = 0; n < 0 ? list[i] != 0 : i < n; ++i) {
        if (list[i] == x) return i;
    }
    return -1;
}

intptr_t* LArray::copyList(const intptr_t* list, int n) {
    int count = n;
    if (!list) count = 0;
    else if (n < 0) {
        count = 0;
        while (list[count]) ++count;
        ++count;  // the terminating 0 as well
    }
    if (count >= kMaxCount) internalError("array too large");
    // One spare element, so that a copy of n elements is zero-terminated too.
    auto* copy = static_cast<intptr_t*>(blockAlloc((count + 1) * kWord));
    if (count > 0) std::memcpy(copy, list, static_cast<size_t>(count) * kWord);
    copy[count] = 0;
    return copy;
}

void moveWords(intptr_t* dst, const intptr_t* src, int n) {
    if (n < 0) {
        n = 0;
        while (src[n]) ++n;
    }
    if (n > 0) std::memmove(dst, src, static_cast<size_t>(n) * kWord);
}

// ---- LStrList ----

namespace {

intptr_t copyOf(const char* text, int n) {
    if (!text) text = "";
    if (n < 0) n = static_cast<int>(std::strlen(text));
    char* copy = static_cast<char*>(blockAlloc(n + 1));
    std::memcpy(copy, text, static_cast<size_t>(n));
    copy[n] = 0;
    return reinterpret_cast<intptr_t>(copy);
}

}  // namespace

LStrList::LStrList(const LStrList& other) {
    for (int i = 0; i < other.count(); ++i) add(other[i]);
}

LStrList& LStrList::operator=(const LStrList& other) {
    if (this != &other) {
        LStrList copy(other);
        *this = std::move(copy);
    }
    return *this;
}

LStrList& LStrList::operator=(LStrList&& other) noexcept {
    if (this != &other) {
        clear();
        a_ = std::move(other.a_);
    }
    return *this;
}

void LStrList::add(const char* text) { a_.add(copyOf(text, -1)); }

void LStrList::add(const char* text, int n) { a_.add(copyOf(text, n)); }

void LStrList::insert(int at, const char* text) { a_.insert(at, copyOf(text, -1)); }

void LStrList::removeAt(int i) {
    if (i < 0 || i >= a_.count()) badIndex(i, a_.count());
    blockFree(reinterpret_cast<void*>(a_[i]));
    a_.removeAt(i);
}

void LStrList::set(int i, const char* text) {
    if (i < 0 || i >= a_.count()) badIndex(i, a_.count());
    const intptr_t copy = copyOf(text, -1);
    blockFree(reinterpret_cast<void*>(a_[i]));
    a_[i] = copy;
}

int LStrList::indexOf(const char* text) const {
    if (!text) return -1;
    for (int i = 0; i < a_.count(); ++i) {
        if (std::strcmp((*this)[i], text) == 0) return i;
    }
    return -1;
}

// LArray: the growable array behind every list of the system (lines,
// connections, atoms, names, log files, threads, options).
//
// Elements are pointer-sized integers (intptr_t): ints or pointers. The element
// after the last, data()[count()], always holds 0, and every buffer has room for
// cap() + 1 elements. Growth asks for 5/4 of the needed count, rounded up to the
// block class of the allocator. A new empty array owns a 16-byte block whose
// first element is 0, with cap 0. An LArray never owns what its elements point
// to; LPtrArray, LOwnedArray and LStrList below are typed views with the
// ownership their name says.
#pragma once

#include <cstdint>
#include <memory>

class LArray {
public:
    LArray();
    LArray(const LArray& other);  // copies the elements (not what they point to)
    LArray(LArray&& other) noexcept;
    LArray& operator=(const LArray& other);
    LArray& operator=(LArray&& other) noexcept;
    ~LArray();

    intptr_t* data() { return data_; }
    const intptr_t* data() const { return data_; }
    int cap() const { return cap_; }
    int count() const { return count_; }
    bool empty() const { return count_ == 0; }
    intptr_t operator[](int i) const { return data_[i]; }
    intptr_t& operator[](int i) { return data_[i]; }

    // New cap = blockRound(S * (n + 1)) / S - 1 elements (S = sizeof(intptr_t));
    // when it differs, a new block, count() + 1 elements copied, old block freed.
    void reserve(int n);

    void add(intptr_t x);
    void addAll(const intptr_t* list);  // up to its first 0
    void addAll(const intptr_t* list, int n);
    void insert(int at, intptr_t x);  // 0 <= at <= count()
    void removeAt(int i);
    bool remove(intptr_t x);  // the first element equal to x; false when absent
    int indexOf(intptr_t x) const;

    // count 0, data()[0] 0, reserve(0).
    void clear();
    // Frees every element as a block (blockFree), then clear().
    void clearAndFree();

    // First index of x among n elements of list (n < 0: up to the first 0), or -1.
    static int indexOf(intptr_t x, const intptr_t* list, int n);
    // A new block (blockFree it) with n elements of list (n < 0: up to and
    // including its terminating 0).
    static intptr_t* copyList(const intptr_t* list, int n);

private:
    intptr_t* data_;
    int cap_;
    int count_;
};

// Copies n words, correctly for overlapping ranges; n < 0 copies up to but not
// including the first zero word of src.
void moveWords(intptr_t* dst, const intptr_t* src, int n);

// A typed, non-owning list of T pointers over an LArray.
template <class T>
class LPtrArray {
public:
    int count() const { return a_.count(); }
    bool empty() const { return a_.empty(); }
    T* operator[](int i) const { return reinterpret_cast<T*>(a_[i]); }
    T* last() const { return a_.empty() ? nullptr : (*this)[a_.count() - 1]; }
    void add(T* p) { a_.add(reinterpret_cast<intptr_t>(p)); }
    void insert(int at, T* p) { a_.insert(at, reinterpret_cast<intptr_t>(p)); }
    void removeAt(int i) { a_.removeAt(i); }
    bool remove(const T* p) { return a_.remove(reinterpret_cast<intptr_t>(p)); }
    int indexOf(const T* p) const { return a_.indexOf(reinterpret_cast<intptr_t>(p)); }
    void clear() { a_.clear(); }
    T* const* begin() const { return reinterpret_cast<T* const*>(a_.data()); }
    T* const* end() const { return begin() + a_.count(); }
    LArray& raw() { return a_; }
    const LArray& raw() const { return a_; }

private:
    LArray a_;
};

// A typed list that owns its elements: they are deleted with the list, by
// clear(), and by removeAt(); takeAt() hands one element's ownership back.
template <class T>
class LOwnedArray {
public:
    LOwnedArray() = default;
    LOwnedArray(const LOwnedArray&) = delete;
    LOwnedArray& operator=(const LOwnedArray&) = delete;
    ~LOwnedArray() { clear(); }

    int count() const { return a_.count(); }
    bool empty() const { return a_.empty(); }
    T* operator[](int i) const { return a_[i]; }
    T* last() const { return a_.last(); }
    void add(std::unique_ptr<T> p) { a_.add(p.release()); }
    void insert(int at, std::unique_ptr<T> p) { a_.insert(at, p.release()); }
    std::unique_ptr<T> takeAt(int i) {
        T* p = a_[i];
        a_.removeAt(i);
        return std::unique_ptr<T>(p);
    }
    void removeAt(int i) { takeAt(i); }
    int indexOf(const T* p) const { return a_.indexOf(p); }
    void clear() {
        for (T* p : a_) delete p;
        a_.clear();
    }
    T* const* begin() const { return a_.begin(); }
    T* const* end() const { return a_.end(); }

private:
    LPtrArray<T> a_;
};

// A list of owned NUL-terminated strings, each in a block of its own (freed with
// the list). Used for name lists, argument lists and parameter lists.
class LStrList {
public:
    LStrList() = default;
    LStrList(const LStrList& other);
    LStrList& operator=(const LStrList& other);
    LStrList(LStrList&& other) noexcept = default;
    LStrList& operator=(LStrList&& other) noexcept;
    ~LStrList() { clear(); }

    int count() const { return a_.count(); }
    bool empty() const { return a_.empty(); }
    const char* operator[](int i) const { return reinterpret_cast<const char*>(a_[i]); }
    void add(const char* text);  // stores a copy
    void add(const char* text, int n);
    void insert(int at, const char* text);
    void removeAt(int i);
    void set(int i, const char* text);  // replaces element i by a copy of text
    int indexOf(const char* text) const;  // exact byte comparison, or -1
    bool contains(const char* text) const { return indexOf(text) >= 0; }
    void clear() { a_.clearAndFree(); }
    // The strings as a zero-terminated array of pointers (valid until changed).
    const char* const* items() const { return reinterpret_cast<const char* const*>(a_.data()); }
    LArray& raw() { return a_; }

private:
    LArray a_;
};

// LString: the one text type of the system, a growable NUL-terminated byte
// buffer (console code page, Shift-JIS by default; a double-byte character
// counts as two bytes). Bytes may include NUL; len() decides the end.
//
// Invariants: data() is never null and data()[len()] == 0; cap() bytes are
// available for characters (the terminator not counted). Buffers come from the
// block allocator; growth asks for 5/4 of the needed size, rounded up to the
// block class, so no byte of a block is wasted. A new empty string owns a 4-byte
// block holding a single NUL, with cap 0.
#pragma once

#include <cstdarg>

class LString {
public:
    LString();
    LString(const char* text);  // null gives the empty string
    LString(const char* text, int n);
    LString(const LString& other);
    LString(LString&& other) noexcept;
    LString& operator=(const LString& other);
    LString& operator=(LString&& other) noexcept;
    ~LString();

    const char* data() const { return data_; }
    char* data() { return data_; }
    int cap() const { return cap_; }
    int len() const { return len_; }
    bool empty() const { return len_ == 0; }
    char operator[](int i) const { return data_[i]; }

    // New cap = blockRound(n + 1) - 1; when it differs, a new block is taken, the
    // len() + 1 bytes copied and the old block freed. Grows and (by clear) shrinks.
    void reserve(int n);

    void append(const char* text);  // null appends nothing
    void append(const LString& text);
    void append(const char* text, int n);
    void appendChar(char c, int times = 1);

    // Inserts n bytes of text at byte index at (n < 0: up to text's terminator;
    // at < 0: appends).
    void insert(const char* text, int at, int n = -1);

    // Cuts the string to n bytes (0 <= n <= len()); keeps the buffer.
    void truncate(int n);
    // Removes n bytes starting at index at.
    void erase(int at, int n);

    // len 0, then reserve(0), which gives back a large buffer.
    void clear();
    void assign(const char* text);
    void assign(const char* text, int n);
    void assign(const LString& text);

    // printf-style formatting appended to the string. Any length is formatted
    // exactly (no 30000-byte limit, no overflow). fmt must be program text,
    // never user text.
    void appendFormat(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void appendFormatV(const char* fmt, va_list args);
    static LString format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

    // First index >= from at which the bytes of needle occur within the n bytes
    // that start at from (n < 0: up to the end), or -1. Plain byte comparison.
    int find(const char* needle, int from = 0, int n = -1) const;

    // Replaces every occurrence of from by to, left to right, resuming after the
    // inserted text; returns the number of replacements.
    int replaceAll(const char* from, const char* to);

    bool equals(const char* text) const;  // same length and same bytes
    bool operator==(const LString& other) const;

    // A fresh block (blockFree it) holding a copy of the text.
    char* detach() const;

private:
    void grow(int needed);
    char* data_;
    int cap_;
    int len_;
};

// Copies text into a new block (blockFree it); null gives null.
char* blockStrdup(const char* text);

// Text utilities: numbers as the user types them, backslash escapes, printable
// renderings, path parts, time texts, memory moves and byte counts.
#pragma once

#include <cstdint>

#include "base/lstring.h"

// Reads an integer as every number the user types is read: optional '-', a base
// prefix 0x (16), 0j (10) or 0n (2), leading zeros, digit-grouping commas. A text
// that stops at a byte other than the end or allowedEnd reports error 15000 (in
// the process language) and returns the value read so far.
int parseInt(const char* text, int allowedEnd = 0, int defaultBase = 0);

// parseInt with a k/m/g suffix (x1024, x1048576, x1073741824); with roundUp the
// last unit of the range (4k -> 5119).
int parseSize(const char* text, bool roundUp = false);

// Decodes the escape after a backslash (p points after it) by appending its bytes
// to out; returns the characters consumed, 0 when it is no escape (with warning
// 35000 for a malformed \x, \X or \u unless report is false). \X and \u with
// four hex digits give those two bytes, in UTF-8 the character of that code
// point (a surrogate code is malformed there).
int decodeEscape(const char* p, LString& out, bool report = true);

// A copy of text in which control bytes and other unprintable bytes are shown
// as \r, \n, \t or \xNN and double-byte characters are kept whole (in UTF-8
// every valid character; a byte of no valid sequence is shown as \xNN).
LString printable(const char* text);

// Removes trailing bytes that occur in chars; returns how many it removed.
int trimRight(LString& text, const char* chars);

// The part of path after its last '\' or '/' (a pointer into path).
const char* nameOf(const char* path);
// The part before the name, with its separator; "x:" gets ".\" appended.
LString dirOf(const char* path);

// The current time in seconds.
int64_t now();
// "%04d/%02d/%02d %02d:%02d:%02d" in local time, or "(time-error)".
LString formatLocalTime(int64_t t);

// Copies n bytes, correctly for overlapping ranges; n < 0 copies up to but not
// including the first zero byte of src.
void moveBytes(void* dst, const void* src, int n);

// Bytes equal to c among the n bytes at p.
int countByte(int c, const char* p, int n);
// Positions i < n - 1 with p[i] == c1 and p[i + 1] == c2.
int countPair(int c1, int c2, const char* p, int n);

// Platform layer: conversion of text from a named character set to UTF-8
// (iconv of the C library underneath).
//
// Key choice: a byte that does not convert (an invalid sequence, or an
// incomplete one at the end of the text) becomes U+FFFD and the conversion goes
// on with the next byte, so any input yields valid UTF-8 and nothing after a
// bad byte is lost.
#pragma once

#include <string>

class PlatformUtf8Converter {
public:
    // A converter from the character set the system knows by charset (for
    // example "CP932" or "EUC-JP"); the first of the names separated by '|'
    // that the system has.
    explicit PlatformUtf8Converter(const char* charsets);
    ~PlatformUtf8Converter();
    PlatformUtf8Converter(const PlatformUtf8Converter&) = delete;
    PlatformUtf8Converter& operator=(const PlatformUtf8Converter&) = delete;

    // False when the system has none of the character sets.
    bool ok() const { return cd_ != nullptr; }
    // Appends the UTF-8 form of n bytes at text to out; without a converter
    // (ok() false) bytes below 0x80 are kept and every other one becomes
    // U+FFFD. Not for two threads at once.
    void append(const char* text, size_t n, std::string& out);

private:
    void* cd_ = nullptr;  // the iconv descriptor
};

// U+FFFD in UTF-8.
inline constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";

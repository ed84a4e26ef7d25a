// Text as UTF-8: the bytes of the character set in force (g_charSet) turned
// into UTF-8, for output that must be UTF-8 whatever the console's character
// set is (the result file). A byte that does not convert becomes U+FFFD, so
// the result is always valid UTF-8.
//
// Key choice: ASCII passes through without a converter, so names that are
// plain ASCII (nearly all of them) cost a copy; Shift-JIS and EUC-JP go
// through the system's converter (platform layer); UTF-8 is only checked;
// the single-byte set is read as ISO 8859-1, where every byte is a character.
#pragma once

#include <memory>
#include <string>

class PlatformUtf8Converter;

class LUtf8Converter {
public:
    LUtf8Converter();
    ~LUtf8Converter();
    LUtf8Converter(const LUtf8Converter&) = delete;
    LUtf8Converter& operator=(const LUtf8Converter&) = delete;

    // Appends the UTF-8 form of n bytes at text, read in the character set in
    // force now. Not for two threads at once.
    void append(const char* text, int n, std::string& out);

private:
    int charSet_ = 0;  // the set the converter was made for
    std::unique_ptr<PlatformUtf8Converter> converter_;
};

// Appends n bytes at text that should be UTF-8: valid sequences as they are,
// every byte that is not part of one (a stray continuation byte, a truncated
// or overlong sequence, a surrogate, a value above U+10FFFF) as U+FFFD.
void appendValidUtf8(const char* text, int n, std::string& out);

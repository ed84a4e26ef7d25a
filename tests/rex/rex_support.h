// Helpers shared by the pattern engine tests: warnings as one text, a guard
// for the character set and the language, and a search that reports the
// offsets of the selected match, with or without the search shortcuts.
#pragma once

#include <string>
#include <vector>

#include "base/chars.h"
#include "base/msg.h"
#include "rex/nodes.h"
#include "rex/search.h"
#include "tests/base/base_test_support.h"

// Records every report while it lives.
class Warnings : public MsgCapture {
public:
    // The reports as "code: text" lines joined by "\n" (empty when there were none).
    std::string joined() const {
        std::string s;
        for (const auto& r : reports()) {
            if (!s.empty()) s += '\n';
            s.append(std::to_string(r.code)).append(": ").append(r.text);
        }
        return s;
    }
};

// Sets the character set ('s' Shift-JIS, 'a' single-byte) and the language for
// one test and restores both.
class CharSetGuard {
public:
    explicit CharSetGuard(int charSet, int language = 'E') : set_(g_charSet, charSet), lang_(g_language, language) {}

private:
    Restore<int> set_, lang_;
};

struct FindResult {
    int at = -1;
    int start = -1;  // matchStart offset, -1 when null
    int length = 0;
    bool operator==(const FindResult& o) const { return at == o.at && start == o.start && length == o.length; }
};

inline FindResult findIn(LRex* rex, const std::string& text, int nth, bool shortcuts = true, int from = 0,
                         int lastStart = -1) {
    Restore<bool> mode(g_rexShortcuts, shortcuts);
    LRexSearch s(rex);
    FindResult r;
    r.at = s.find(text.data(), lastStart, static_cast<int>(text.size()), nth, from);
    r.start = s.matchStart ? static_cast<int>(s.matchStart - text.data()) : -1;
    r.length = s.matchLength;
    return r;
}

// s n times.
inline std::string repeat(const std::string& s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
}

inline std::string dumpOf(const LRex* rex) {
    LString out;
    rex->dump(out, 0);
    return std::string(out.data(), out.len());
}

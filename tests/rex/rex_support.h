// Helpers shared by the pattern engine tests: a message sink that records
// warnings, a guard for the character set and the language, and a plain
// reference search (every start tried, repetitions replayed) to compare with.
#pragma once

#include <string>
#include <vector>

#include "base/chars.h"
#include "base/msg.h"
#include "rex/nodes.h"
#include "rex/search.h"

// Records every report as "code: text" while it lives.
class Warnings {
public:
    Warnings() { installMsg(new Sink(&list)); }
    ~Warnings() { installMsg(nullptr); }
    Warnings(const Warnings&) = delete;
    Warnings& operator=(const Warnings&) = delete;

    // The reports joined by "\n" (empty when there were none).
    std::string joined() const {
        std::string s;
        for (const std::string& w : list) {
            if (!s.empty()) s += "\n";
            s += w;
        }
        return s;
    }
    std::vector<std::string> list;

private:
    class Sink : public LMsg {
    public:
        explicit Sink(std::vector<std::string>* out) : out_(out) {}
        void output(int code, const char*, const char*, const char* text) override {
            out_->push_back(std::to_string(code) + ": " + text);
        }

    private:
        std::vector<std::string>* out_;
    };
};

// Sets the character set ('s' Shift-JIS, 'a' single-byte) and the language for
// one test and restores both.
class CharSetGuard {
public:
    explicit CharSetGuard(int charSet, int language = 'E') : set_(g_charSet), lang_(g_language) {
        g_charSet = charSet;
        g_language = language;
    }
    ~CharSetGuard() {
        g_charSet = set_;
        g_language = lang_;
    }

private:
    int set_, lang_;
};

// Runs the search with or without the shortcuts.
class ShortcutGuard {
public:
    explicit ShortcutGuard(bool on) : old_(g_rexShortcuts) { g_rexShortcuts = on; }
    ~ShortcutGuard() { g_rexShortcuts = old_; }

private:
    bool old_;
};

struct FindResult {
    int at = -1;
    int start = -1;  // matchStart offset, -1 when null
    int length = 0;
    bool operator==(const FindResult& o) const { return at == o.at && start == o.start && length == o.length; }
};

inline FindResult findIn(LRex* rex, const std::string& text, int nth, bool shortcuts = true, int from = 0,
                         int lastStart = -1) {
    ShortcutGuard g(shortcuts);
    LRexSearch s(rex);
    FindResult r;
    r.at = s.find(text.data(), lastStart, static_cast<int>(text.size()), nth, from);
    r.start = s.matchStart ? static_cast<int>(s.matchStart - text.data()) : -1;
    r.length = s.matchLength;
    return r;
}

inline std::string dumpOf(const LRex* rex) {
    LString out;
    rex->dump(out, 0);
    return std::string(out.data(), out.len());
}

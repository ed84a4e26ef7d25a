// The pattern compiler: a recursive-descent parser that turns a pattern text
// into a tree of LRex nodes and never fails (every defect is a warning, and
// parsing goes on).
//
// Group nesting deeper than kRexMaxNesting levels gives up with one warning
// and an LEmptyRex (never matches), so that neither the parser nor matching,
// dump and destruction of the tree can exhaust the stack.
#pragma once

#include <cstdint>
#include <memory>

#include "base/lstring.h"
#include "base/msg.h"
#include "rex/nodes.h"

// The operator tokens, in their order: | . * + ? - [ ] ( ) ^ $ { }
extern const char* const g_rexTokens[14];

enum LRexToken {
    rexTokOr, rexTokAny, rexTokStar, rexTokPlus, rexTokQuestion, rexTokMinus, rexTokSetOpen,
    rexTokSetClose, rexTokOpen, rexTokClose, rexTokCaret, rexTokDollar, rexTokBraceOpen,
    rexTokBraceClose,
};

// Deepest group nesting the compiler accepts.
constexpr int kRexMaxNesting = 1000;

// One compile: pattern copy, read position, group counter and node context.
struct LRexParser {
    const char* pattern = nullptr;  // start of the pattern copy
    const char* pos = nullptr;      // read position
    const char* end = nullptr;      // end of the pattern copy
    int32_t groupCount = 0;
    LRexContext ctx;  // flags, ignore, ignorePending
    int nesting = 0;        // groups open around the read position
    bool tooDeep = false;   // gave up: everything after is dropped silently
    bool quiet = false;     // a copy of a tree compiled before: no warnings

    bool atEnd() const { return pos >= end; }
    bool at(LRexToken t) const;
    bool startsWith(const char* text) const;
    // Reports the text through msg unless the compile has given up or is quiet.
    template <class... Args>
    void warn(TextOf<Args...> text, Args... args) {
        if (!tooDeep && !quiet) msgOf(text.id, args...);
    }
};

std::unique_ptr<LRex> parseAlternation(LRexParser& p);
std::unique_ptr<LRex> parseBranch(LRexParser& p);
std::unique_ptr<LRex> parsePiece(LRexParser& p);
std::unique_ptr<LRex> parseAtom(LRexParser& p);
std::unique_ptr<LRex> parseSet(LRexParser& p);

// Reads one literal character at the read position and appends its bytes to
// out; returns 1, or 0 when the byte is no literal in that mode (setMode false:
// in a sequence; true: inside [ ]).
int readLiteralChar(LRexParser& p, LString& out, bool setMode);

// Reads a name (letters, digits, underscore) at from up to a closing "}" and
// returns the position after it; name is emptied when the "}" is missing.
const char* parseName(LRexParser& p, const char* from, LString& name);

// LineRecord: one command line as every line list of the system stores it
// (pending lines, atom lines, macro lines, send queues): a kind letter and the
// text without its line end.
//
// Kinds: 'G' text to send, 'I' control command written with one '!', 'W' control
// command written with '!!' (wait-execute). Upper case: the line came from a
// command file (such lines are echoed); lower case: typed at the console. A record
// is owned by the list that holds it.
#pragma once

#include <memory>
#include <string>

#include "base/lstring.h"
#include "base/obj.h"

// What the !call-macro lines that one top-level line led to have inserted so
// far. Once stopped (too deep, too many lines), the lines still pending from
// it are dropped unrun, so a runaway expansion ends with one error.
struct MacroExpansion {
    int lines = 0;
    bool stopped = false;
};

class LineRecord : public LObj {
public:
    // kind is one of G I W g i w; text is copied (n < 0: up to its terminator).
    LineRecord(char kind, const char* text, int n = -1);

    char kind() const { return kind_; }
    // The kind folded to lower case: 'g', 'i' or 'w'.
    char lowerKind() const { return static_cast<char>(kind_ | 0x20); }
    bool fromFile() const { return kind_ >= 'A' && kind_ <= 'Z'; }
    const LString& text() const { return text_; }

    // Macro nesting depth: 0 for lines that no !call-macro inserted; a line
    // inserted by a call at depth d carries d + 1.
    int depth = 0;
    // The expansion of one top-level line that inserted this line (null for a
    // line no !call-macro inserted); shared by every line it inserted.
    std::shared_ptr<MacroExpansion> expansion;

    // A secret line (a password typed after !secret): sent like text, but shown
    // and logged as kSecretShown, and never stored in an atom, a macro or the
    // history. target names its connection (empty: the current one).
    bool secret = false;
    std::string target;
    // A !secret typed at the console, whose secret line the console thread
    // reads by itself (not copied by clone(): a recorded copy asks anew).
    bool readsSecret = false;

    // Overwrites the text of a secret line before its memory is given back.
    ~LineRecord() override;

    std::unique_ptr<LineRecord> clone() const;

private:
    char kind_;
    LString text_;
};

// What is shown and logged in place of a secret line.
inline constexpr const char* kSecretShown = "********";

// The line as the user wrote it: "!" + text for i, "!!" + text for w, the bare
// text for g; kSecretShown for a secret line. Any other kind reports error
// 10000 "Internal 454" and gives the text.
LString displayText(const LineRecord& line);

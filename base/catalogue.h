// Texts in two languages: the catalogue's entries by name, the text of an entry
// in the language in force, and the checks that keep a call site's arguments
// and an entry's texts in step.
//
// The entries themselves are in base/catalogue.def, the one catalogue of every
// text that the program and the base library show: reports with their codes,
// plain output, usage and help, banner hints, list summaries and
// confirmations, system messages and log events. It lives in the base library
// because both the library and the program (app/) print from it; the program's
// texts are only data here, the code that prints them stays with the program.
//
// Call sites name an entry and pass its arguments next to it:
//     msg(Tx::connectionNotFound, name);            // base/msg.h
//     systemMessage(Tx::sentTo, c->name.data(), shown);
// and the arguments are checked against the conversions of both texts when the
// call site is compiled (a mismatch is a compile error that names
// argumentsDoNotFitTheText), so a text of the catalogue is as safe a format as
// a literal one. The code of a report comes from its entry.
//
// Not in the catalogue: the texts of internal errors (a broken invariant; the
// process ends and the text is for the developer), the debug dumps of the
// pattern engine, and what reads the same in every language because it is
// syntax: command names, keywords and option names, and layouts without words
// such as "%s\r\n".
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "base/language.h"
#include "base/lstring.h"

// The entries of the catalogue by name.
enum class Tx : int {
#define VL_TEXT(name, code, japanese, english) name,
#include "base/catalogue.def"
#undef VL_TEXT
};

struct CatalogueEntry {
    const char* name;      // the enumerator's name (for tests and tools)
    int code;              // the report code (0: plain output or a piece of it)
    const char* japanese;
    const char* english;
};

inline constexpr CatalogueEntry kCatalogue[] = {
#define VL_TEXT(name, code, japanese, english) {#name, code, japanese, english},
#include "base/catalogue.def"
#undef VL_TEXT
};
inline constexpr int kCatalogueSize = static_cast<int>(sizeof kCatalogue / sizeof kCatalogue[0]);

constexpr const CatalogueEntry& entryOf(Tx id) { return kCatalogue[static_cast<int>(id)]; }

// The text of id in the language in force (static storage; never null).
inline const char* tr(Tx id) {
    const CatalogueEntry& e = entryOf(id);
    return g_language == 'J' ? e.japanese : e.english;
}
// The text of id in the other language.
inline const char* trOther(Tx id) {
    const CatalogueEntry& e = entryOf(id);
    return g_language == 'J' ? e.english : e.japanese;
}

// ---- printf conversions ----

// One conversion of a printf format.
struct FormatConversion {
    int start = -1;       // offset of its '%'; -1: there is no further conversion
    int end = 0;          // offset after its conversion letter
    char letter = 0;      // d, s, X, c, ...; 0 when the text ends inside it
    char length[3] = {};  // the length modifier: "", "l", "ll", "h", "hh", "z", "j", "t" or "L"
    int stars = 0;        // '*' widths and precisions: one int argument each
};

// The first conversion of text at or after offset from; "%%" is text.
constexpr FormatConversion nextConversion(const char* text, int from) {
    FormatConversion c;
    for (int i = from; text[i]; ++i) {
        if (text[i] != '%') continue;
        if (text[i + 1] == '%') {
            ++i;
            continue;
        }
        c.start = i;
        int j = i + 1;
        while (text[j] == '-' || text[j] == '+' || text[j] == ' ' || text[j] == '#' || text[j] == '0') ++j;
        if (text[j] == '*') {
            ++c.stars;
            ++j;
        } else {
            while (text[j] >= '0' && text[j] <= '9') ++j;
        }
        if (text[j] == '.') {
            ++j;
            if (text[j] == '*') {
                ++c.stars;
                ++j;
            } else {
                while (text[j] >= '0' && text[j] <= '9') ++j;
            }
        }
        for (int k = 0; k < 2; ++k) {
            const char m = text[j];
            if (m != 'l' && m != 'h' && m != 'z' && m != 'j' && m != 't' && m != 'L') break;
            if (k == 1 && m != c.length[0]) break;  // only "ll" and "hh" double
            c.length[k] = m;
            ++j;
        }
        c.letter = text[j];
        c.end = text[j] ? j + 1 : j;
        return c;
    }
    return c;
}

namespace catalogue_detail {

enum class ArgKind { integer, floating, text, pointer, other };

template <class T>
consteval ArgKind argKind() {
    using U = std::remove_cv_t<std::decay_t<T>>;
    if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>)
        return ArgKind::text;
    else if constexpr (std::is_pointer_v<U> || std::is_null_pointer_v<U>)
        return ArgKind::pointer;
    else if constexpr (std::is_integral_v<U> || std::is_enum_v<U>)
        return ArgKind::integer;
    else if constexpr (std::is_floating_point_v<U>)
        return ArgKind::floating;
    else
        return ArgKind::other;
}

// The size an integer argument has after the default promotions.
template <class T>
consteval std::size_t promotedSize() {
    using U = std::remove_cv_t<std::decay_t<T>>;
    return sizeof(U) < sizeof(int) ? sizeof(int) : sizeof(U);
}

struct ArgInfo {
    ArgKind kind;
    std::size_t size;
};

// True when a conversion with this letter and length takes the argument.
constexpr bool takes(const FormatConversion& c, const ArgInfo& a) {
    const char* const length = c.length;
    const bool none = length[0] == 0 || length[0] == 'h';
    switch (c.letter) {
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c':
        if (a.kind != ArgKind::integer) return false;
        if (none) return a.size == sizeof(int);
        if (length[0] == 'l' && length[1] == 'l') return a.size == sizeof(long long);
        if (length[0] == 'l') return a.size == sizeof(long);
        if (length[0] == 'z') return a.size == sizeof(std::size_t);
        if (length[0] == 'j') return a.size == sizeof(std::intmax_t);
        if (length[0] == 't') return a.size == sizeof(std::ptrdiff_t);
        return false;
    case 's':
        return none && a.kind == ArgKind::text;
    case 'p':
        return none && (a.kind == ArgKind::pointer || a.kind == ArgKind::text);
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
        return a.kind == ArgKind::floating && length[0] == 0;
    default:
        return false;  // %n among them: never a text's business
    }
}

template <class... Args>
consteval bool argumentsFit(const char* text) {
    constexpr ArgInfo args[] = {{argKind<Args>(), promotedSize<Args>()}..., {ArgKind::other, 0}};
    constexpr int count = static_cast<int>(sizeof...(Args));
    int next = 0;
    for (FormatConversion c = nextConversion(text, 0); c.start >= 0; c = nextConversion(text, c.end)) {
        for (int s = 0; s < c.stars; ++s, ++next)
            if (next >= count || args[next].kind != ArgKind::integer || args[next].size != sizeof(int)) return false;
        if (next >= count || !takes(c, args[next])) return false;
        ++next;
    }
    return next == count;
}

// Never defined: reached only while a call site is compiled, where it makes
// a call whose arguments do not fit its text a compile error.
void argumentsDoNotFitTheText();

}  // namespace catalogue_detail

// A catalogue entry checked, when the call is compiled, against the arguments
// that come with it.
template <class... Args>
class CheckedText {
public:
    consteval CheckedText(Tx id) : id(id) {  // NOLINT: implicit on purpose
        if (!catalogue_detail::argumentsFit<Args...>(entryOf(id).japanese) ||
            !catalogue_detail::argumentsFit<Args...>(entryOf(id).english))
            catalogue_detail::argumentsDoNotFitTheText();
    }
    const Tx id;
};

// The parameter type of a function that takes an entry and then Args: the
// arguments decide the types, the entry is checked against them.
template <class... Args>
using TextOf = CheckedText<std::type_identity_t<Args>...>;

// ---- formatted texts ----

// The text of id in the language in force, formatted with the arguments that
// follow; they must be what the text's conversions take (textf checks that).
LString formatText(Tx id, ...);

// The text of id formatted with args.
template <class... Args>
LString textf(TextOf<Args...> text, Args... args) {
    return formatText(text.id, args...);
}

// A text of the catalogue formatted on the stack when it is short (the notices
// and messages printed for every line and every atom), else in an LString.
class TextBuffer {
public:
    template <class... Args>
    explicit TextBuffer(TextOf<Args...> text, Args... args) {
        fill(text.id, args...);
    }
    // A format of the program (a part of a catalogue text, never user text)
    // with its arguments.
    TextBuffer(const char* format, va_list args);
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    const char* data() const { return large_ ? large_->data() : small_; }

private:
    void fill(Tx id, ...);
    void fillV(const char* format, va_list args);
    char small_[256];
    std::optional<LString> large_;
};

// Matching by construct: (pattern, flags, character set, text) gives the span
// of the first match (or none) and the warnings raised; long texts also prove
// that the first-byte filter never rejects a start where the tree matches.
// Every row is also run with the search shortcuts off, and both runs must agree.
#include <gtest/gtest.h>

#include <cstring>

#include "rex_support.h"

namespace {

#define A_ "\x83\x41"   // katakana a (Shift-JIS)
#define I_ "\x83\x43"   // katakana i
#define KA_ "\x83\x4A"  // katakana ka
#define N_ "\x83\x93"   // katakana n
#define FA_ "\x82\x60"  // full-width A
#define FB_ "\x82\x61"  // full-width B
#define FC_ "\x82\x62"  // full-width C
#define Fa_ "\x82\x81"  // full-width a
#define Fx_ "\x82\x98"  // full-width x

const std::string P(120, '.');  // padding: long texts go through the first-byte filter

struct MatchCase {
    const char* group;
    const char* pattern;
    uint32_t flags;
    int charSet;
    std::string text;
    int start;   // -1: no match
    int length;
    const char* warnings;
};

const MatchCase kCases[] = {
    // literals and line ends
    {"literal", "#END#", 0, 's', "abc#END#\r\n", 3, 5, ""},
    {"literal", "abc\\n", 0, 's', "xabc\r\n", 1, 5, ""},
    {"literal", "abc\\n", 0, 's', "abc\n", -1, 0, ""},
    {"literal", "+a", 0, 's', "x+a", 1, 2, ""},
    {"literal", "a\\.b", 0, 's', "axb a.b", 4, 3, ""},
    {"literal", "x{a}", 0, 's', "x{a}", 0, 4, ""},
    {"literal", "x{2", 0, 's', "xx{2", 1, 3, "35000: illegal use of '{' in 'x{2'"},
    {"literal", "\\q", 0, 's', "a\\q", 1, 2, "35000: unknown escape '\\q' in regular expression"},
    {"literal", "\\x41\\u8341", 0, 's', "A" A_, 0, 3, ""},
    // alternation
    {"alternation", "a|", 0, 's', "ba", 1, 1, ""},
    {"alternation", "|a", 0, 's', "a", -1, 0, "35000: extra char(s) '|a' in regular expression '|a'"},
    {"alternation", "a||b", 0, 's', "ba", 1, 1,
     "35000: empty item in regular expression 'a||b'\n35000: extra char(s) '|b' in regular expression 'a||b'"},
    {"alternation", "(a|ab)c", 0, 's', "abc", 0, 3, ""},
    {"alternation", "(a*|x)ab", 0, 's', "aab", -1, 0, ""},
    {"alternation", "a*ab", 0, 's', "aab", 0, 3, ""},
    {"alternation", "*", 0, 's', "*", -1, 0, "35000: extra char(s) '*' in regular expression '*'"},
    // quantifiers
    {"quantifier", "x{2,5}", 0, 's', "xxxxxx", 0, 5, ""},
    {"quantifier", "x{2,5}?", 0, 's', "xxxxxx", 0, 2, ""},
    {"quantifier", "x{2,5}?y", 0, 's', "xxxxy", 0, 5, ""},
    {"quantifier", "x{5,2}", 0, 's', "xxxxxx", 0, 5, "35000: {m,n}: m > n in 'x{5,2}'"},
    {"quantifier", "x{5,2}", 0, 's', "xxxx", -1, 0, "35000: {m,n}: m > n in 'x{5,2}'"},
    {"quantifier", "x{,2}y", 0, 's', "xxxy", 1, 3, ""},
    {"quantifier", "x{2,}", 0, 's', "x xxx", 2, 3, ""},
    {"quantifier", "x{0}", 0, 's', "abc", 0, 0, ""},
    {"quantifier", "x{0}y", 0, 's', "xy", 1, 1, ""},
    {"quantifier", "(a*)*", 0, 's', "aaa", 0, 3, ""},
    {"quantifier", "(a*)*b", 0, 's', "aab", 0, 3, ""},
    {"quantifier", "a*?b", 0, 's', "aaab", 0, 4, ""},
    {"quantifier", "a+?", 0, 's', "aaa", 0, 1, ""},
    {"quantifier", "(ab)+?c", 0, 's', "ababc", 0, 5, ""},
    {"quantifier", "(a|b)*c", 0, 's', "abbac", 0, 5, ""},
    {"quantifier", "(a|ab)*c", 0, 's', "abac", 0, 4, ""},
    {"quantifier", "(?:ab|a)*b", 0, 's', "abab", 0, 4, ""},
    {"quantifier", "a?a?aa", 0, 's', "aa", 0, 2, ""},
    {"quantifier", A_ "+", 0, 's', A_ A_ I_, 0, 4, ""},
    {"quantifier", A_ "*" I_, 0, 's', A_ A_ I_, 0, 6, ""},
    // case and width folding
    {"folding", "{@ic}abc", 0, 's', "xABC", 1, 3, ""},
    {"folding", "abc", rexIgnoreCase, 's', "xAbC", 1, 3, ""},
    {"folding", "(A{@ic}b)B", 0, 's', "AbB", 0, 3, ""},
    {"folding", "(A{@ic}b)B", 0, 's', "ABB", 0, 3, ""},
    {"folding", "(A{@ic}b)B", 0, 's', "Abb", -1, 0, ""},
    {"folding", "(A{@ic}b)B", 0, 's', "aBB", -1, 0, ""},
    {"folding", "{@ic}a{@c}b", 0, 's', "AB Ab", 3, 2, ""},
    {"folding", "{@ic}" Fa_, 0, 's', "x" FA_, 1, 2, ""},
    {"folding", "{@ic}\x83\x9F", 0, 's', "\x83\xBF", 0, 2, ""},  // Greek capital and small alpha
    {"folding", "{@ic}\x84\x40", 0, 's', "\x84\x70", 0, 2, ""},  // Cyrillic A
    {"folding", "{@ic}\x84\x4F", 0, 's', "\x84\x80", 0, 2, ""},  // Cyrillic, past 847F
    {"folding", "{@iz}ABC", 0, 's', FA_ FB_ FC_, 0, 6, ""},
    {"folding", "{@iz}" FA_ "B", 0, 's', "AB", 0, 2, ""},
    {"folding", "{@iz}[a-z]", 0, 's', Fx_, 0, 2, ""},
    {"folding", "{@iz}[" Fx_ "]", 0, 's', "x", 0, 1, ""},
    {"folding", "{@ic}{@iz}a", 0, 's', FA_, 0, 2, ""},
    {"folding", "{@iz}" A_, 0, 's', "\xB1", 0, 1, ""},
    {"folding", "{@ic}[a-c]", 0, 's', "xB", 1, 1, ""},
    {"folding", "{@ic}[A-C]", 0, 's', "xb", 1, 1, ""},
    {"folding", "{@ic}[" Fa_ "]", 0, 's', FA_, 0, 2, ""},
    {"folding", "abc", rexIgnoreWidth, 's', "\x82\x81\x82\x82\x82\x83", 0, 6, ""},
    // the last letter of every folding range, both ways, as literal and in a set
    // (padded texts go through the first-byte filter)
    {"folding", "{@ic}\x82\x79", 0, 's', "\x82\x9A", 0, 2, ""},       // full-width Z, z
    {"folding", "{@ic}\x82\x9A", 0, 's', P + "\x82\x79", 120, 2, ""},
    {"folding", "{@ic}z", 0, 's', "Z", 0, 1, ""},
    {"folding", "{@ic}\x83\xB6", 0, 's', "\x83\xD6", 0, 2, ""},       // Greek omega
    {"folding", "{@ic}\x83\xD6", 0, 's', P + "\x83\xB6", 120, 2, ""},
    {"folding", "{@ic}\x84\x4E", 0, 's', "\x84\x7E", 0, 2, ""},       // Cyrillic, before 847F
    {"folding", "{@ic}\x84\x60", 0, 's', P + "\x84\x91", 120, 2, ""},       // Cyrillic ya
    {"folding", "{@ic}\x84\x91", 0, 's', "\x84\x60", 0, 2, ""},
    {"folding", "{@ic}[\x82\x81-\x82\x9A]", 0, 's', "\x82\x79", 0, 2, ""},
    {"folding", "{@ic}[\x84\x40-\x84\x60]", 0, 's', "\x84\x91", 0, 2, ""},
    {"folding", "{@ic}[\x83\x9F-\x83\xB6]", 0, 's', "\x83\xD6", 0, 2, ""},
    {"folding", "{@iz}9Zz", 0, 's', "\x82\x58\x82\x79\x82\x9A", 0, 6, ""},  // ends of the digit and letter runs
    {"folding", "{@iz}\x82\x58\x82\x79\x82\x9A", 0, 's', "9Zz", 0, 3, ""},
    {"folding", "{@iz}\xDF", 0, 's', "\x81\x4B", 0, 2, ""},             // the last pair of the table
    {"folding", "{@iz}\x81\x4B", 0, 's', P + "\xDF", 120, 1, ""},
    {"folding", "{@iz}\xDD", 0, 's', "\x83\x93", 0, 2, ""},             // the highest full-width code
    {"folding", "{@iz}\x83\x93", 0, 's', "\xDD", 0, 1, ""},
    {"folding", "{@iz}[\xDF]", 0, 's', "\x81\x4B", 0, 2, ""},
    {"folding", "{@iz}[\x81\x4B]", 0, 's', "\xDF", 0, 1, ""},
    {"folding", "{@iz}[\x83\x93]", 0, 's', "\xDD", 0, 1, ""},
    {"folding", "{@iz}[a-z]", 0, 's', "\x82\x9A", 0, 2, ""},
    {"folding", "{@iz}[0-9]", 0, 's', "\x82\x58", 0, 2, ""},
    {"folding", "{@ic}{@iz}Z", 0, 's', "\x82\x9A", 0, 2, ""},
    // groups, names and references
    {"reference", "(a)\\1", 0, 's', "aa", 0, 2, ""},
    {"reference", "\\1(a)", 0, 's', "aa", -1, 0, "35000: missing reference target for '1'"},
    {"reference", "(a)(?:b)(c){=last}{:last}\\1", 0, 's', "abcca", 0, 5, ""},
    {"reference", "(a)(?:b)(c){=last}\\2", 0, 's', "abcc", 0, 4, ""},
    {"reference", "(a)(b)\\2\\1", 0, 's', "abba", 0, 4, ""},
    {"reference", "(\\w+) \\1", 0, 's', "ab abc abc", 0, 5, ""},
    {"reference", "{@ic}(a)\\1", 0, 's', "aA", 0, 2, ""},
    {"reference", "{:x}", 0, 's', "x", -1, 0, "35000: missing reference target for 'x'"},
    {"reference", "{@r:host}", 0, 's', "a",
     -1, 0, "35000: missing custom function for {@r:host}\n35000: missing reference target for 'host'\n"
            "35000: missing custom function for {@r:host}"},
    // sets
    {"set", "[^]", 0, 's', "x", 0, 1, ""},
    {"set", "[^]", 0, 's', A_, 0, 2, ""},
    {"set", "[]", 0, 's', "x", -1, 0, ""},
    {"set", "[-a]", 0, 's', "x-", 1, 1, ""},
    {"set", "[a-c-e]", 0, 's', "d-", 1, 1, ""},
    {"set", "[a-c-e]", 0, 's', "de", 1, 1, ""},
    {"set", "[a-c-e]", 0, 's', "xb", 1, 1, ""},
    {"set", "[z-a]", 0, 's', "m", -1, 0, "35000: illegal [a-b] expression: 7Ah > 61h: [z-a]"},
    {"set", "[" A_ "-" N_ "]", 0, 's', "x" KA_, 1, 2, ""},
    {"set", "[" A_ "-" I_ "]", 0, 's', KA_, -1, 0, ""},
    {"set", "[\\n]", 0, 's', "a\r\n", 1, 1, ""},
    {"set", "[\\n]", 0, 's', "a\r", -1, 0, ""},
    {"set", "[^\\n]*", 0, 's', "ab\r\ncd", 0, 2, ""},
    {"set", "[^\\r]", 0, 's', "\r\n", 0, 1, ""},
    {"set", ".", 0, 's', "\r\n", 0, 1, ""},
    {"set", "..", 0, 's', "\r\n", 0, 2, ""},
    {"set", "[\\x80-\\xFF]", 0, 'a', "a\x90", 1, 1, ""},
    // atomic groups and lookaround
    {"atomic", "(?>a+)a", 0, 's', "aaa", -1, 0, ""},
    {"atomic", "(?>ab)c", 0, 's', "abc", 0, 3, ""},
    {"atomic", "(?>a|ab)c", 0, 's', "abc", -1, 0, ""},
    {"atomic", "(?>x*)y", 0, 's', "xxy", 0, 3, ""},
    {"lookaround", "(?<=" A_ ")" I_, 0, 's', A_ I_, 2, 2, ""},
    {"lookaround", "(?<=a)b", 0, 's', "cb ab", 4, 1, ""},
    {"lookaround", "(?<!a)b", 0, 's', "ab b", 3, 1, ""},
    {"lookaround", "(*=a)b", 0, 's', "ab", 1, 1, ""},
    {"lookaround", "(*!a)b", 0, 's', "ab", -1, 0, ""},
    {"lookaround", "a(?=b)", 0, 's', "ac ab", 3, 1, ""},
    {"lookaround", "a(?!b)", 0, 's', "ab ac", 3, 1, ""},
    {"lookaround", "(?<=A)B", 0, 'a', A_ "B", 2, 1, ""},
    {"lookaround", "(?<=\\d\\d)x", 0, 's', "1x12x", 4, 1, ""},
    {"lookaround", "(?<=a+)b", 0, 's', "aab", 2, 1, ""},
    {"lookaround", "(?cx:a)", 0, 's', "ab", 1, 1, ""},
    {"lookaround", "(?cx:" A_ ")", 0, 's', A_ I_, 2, 2, ""},
    // classes
    {"class", "\\d\\d", 0, 's', "a12", 1, 2, ""},
    {"class", "\\D", 0, 's', A_, -1, 0, ""},
    {"class", "\\D", 0, 's', A_ "x", 2, 1, ""},
    {"class", "\\w+", 0, 's', A_ " ab_1", 3, 4, ""},
    {"class", "\\W", 0, 's', A_ " ", 2, 1, ""},
    {"class", "\\s\\S", 0, 's', "a b", 1, 2, ""},
    {"class", "\\S", 0, 's', A_, -1, 0, ""},
    // boundaries
    {"boundary", "\\bab\\b", 0, 's', "x ab y", 2, 2, ""},
    {"boundary", "\\bab\\b", 0, 's', "xab", -1, 0, ""},
    {"boundary", "\\b", 0, 's', A_ I_, -1, 0, ""},
    {"boundary", "\\Bb", 0, 's', "b ab", 3, 1, ""},
    {"boundary", "a\\Pb", 0, 's', "ab", 0, 2, ""},
    {"boundary", "a\\pb", 0, 's', "ab", -1, 0, ""},
    {"boundary", "ab\\C", 0, 's', "abc", 0, 2, ""},
    {"boundary", "ab\\c", 0, 's', "abc ab", 4, 2, ""},
    {"boundary", "\\c" A_, 0, 's', I_ A_ "x" A_, 5, 2, ""},
    {"boundary", "ab", rexTypeBoundary, 's', "xab ab", 4, 2, ""},
    {"boundary", "ab", rexTypeBoundary, 'a', "xab ab", 1, 2, ""},
    // anchors
    {"anchor", "(?topl)b", 0, 's', "ab\nb", 3, 1, ""},
    {"anchor", "(?topl)b", 0, 's', "a\r\nb", 3, 1, ""},
    {"anchor", "(?topl)b", 0, 's', "b", 0, 1, ""},
    {"anchor", "^b", 0, 's', "ab\nb", -1, 0, ""},
    {"anchor", "(?tops)a", 0, 's', "aa", 0, 1, ""},
    {"anchor", "b$", 0, 's', "b\n", -1, 0, ""},
    {"anchor", "b$", 0, 's', "bab", 2, 1, ""},
    {"anchor", "b(?endl)", 0, 's', "bab\r\n", 2, 1, ""},
    {"anchor", "a(?ends)", 0, 's', "aa", 1, 1, ""},
    // directives
    {"directive", "{@foo}x", 0, 's', "{@foo}x", 6, 1, "35000: ignore illegal directive {@...} in '{@foo}x'"},
    {"directive", "{@ign( )}abc", 0, 's', "xa b  c", 1, 6, ""},
    {"directive", "{@ign(-)}a(b)c", 0, 's', "a-b-c", 0, 5, ""},
    {"directive", "x(?:{@ign(-)}ab)c", 0, 's', "x-a-bc", 0, 6, ""},
    {"directive", "x(?:{@ign(-)}ab)c", 0, 's', "xab-c", -1, 0, ""},
    {"directive", "a(?#comment)b", 0, 's', "ab", 0, 2, ""},
    {"directive", "{@r:abc", 0, 's', "{@r:abc", 0, 7, "35000: missing '}' after '{@r:': '{@r:abc'"},
    // character sets of the search
    {"charset", "A", 0, 's', A_, -1, 0, ""},
    {"charset", "A", 0, 'a', A_, 1, 1, ""},
    {"charset", "a\x83", 0, 's', "a\x83", 0, 2, ""},
    {"charset", "a\x83", 0, 's', "a" A_, -1, 0, ""},
    {"charset", "A", 0, 's', repeat(A_, 80) + "xA", 161, 1, ""},
    {"charset", "A", 0, 'a', repeat(A_, 80) + "xA", 1, 1, ""},
    // ---- UTF-8: the same constructs over whole characters ----
    {"utf8 literal", "完了", 0, 'u', "処理が完了しました", 9, 6, ""},
    {"utf8 literal", "あ$", 0, 'u', "あ", 0, 3, ""},
    {"utf8 literal", "あ$", 0, 's', "あ", -1, 0, ""},  // Shift-JIS pairs the bytes otherwise
    {"utf8 literal", "\\u3042\\u4E86", 0, 'u', "xあ了", 1, 6, ""},
    {"utf8 literal", "\\x81", 0, 'u', "あ\x81", 3, 1, ""},  // never inside a character
    {"utf8 literal", "\\xE3\\x81", 0, 'u', "あ\xE3\x81", 3, 2, ""},  // a cut-off sequence is bytes
    {"utf8 literal", "\\xE3\\x81", 0, 'u', "\xE3\x81\x82", -1, 0, ""},
    {"utf8 quantifier", "あ+", 0, 'u', "ああい", 0, 6, ""},
    {"utf8 quantifier", "あ*い", 0, 'u', "ああい", 0, 9, ""},
    {"utf8 quantifier", "é{2}", 0, 'u', "éé", 0, 4, ""},
    {"utf8 set", ".", 0, 'u', "あ", 0, 3, ""},
    {"utf8 set", "^..$", 0, 'u', "\xE3\x81", 0, 2, ""},  // each invalid byte is a character
    {"utf8 set", "^.$", 0, 'u', "\xF0\x9F\x98\x80", 0, 4, ""},
    {"utf8 set", "^.$", 0, 'u', "\xC0\x80", -1, 0, ""},  // overlong: two characters
    {"utf8 set", "^...$", 0, 'u', "\xED\xA0\x80", 0, 3, ""},  // a surrogate: three
    {"utf8 set", "[あ-ん]+", 0, 'u', "xひらがなカ", 1, 12, ""},
    {"utf8 set", "[ア-ン]", 0, 'u', "あカ", 3, 3, ""},
    {"utf8 set", "[^あ]", 0, 'u', "あい", 3, 3, ""},
    {"utf8 set", "[\\x80-\\xFF]", 0, 'u', "あé\xFF", 5, 1, ""},  // bytes of no valid sequence only
    {"utf8 set", "[é]", 0, 'u', "eé", 1, 2, ""},
    {"utf8 set", "[\\u3041-\\u3093]", 0, 'u', "カひ", 3, 3, ""},
    {"utf8 lookaround", "(?<=あ)い", 0, 'u', "あい", 3, 3, ""},
    {"utf8 lookaround", "(?<=\\x82)い", 0, 'u', "あい", -1, 0, ""},
    {"utf8 lookaround", "(?<=\\x82)い", 0, 'u', "\x82い", 1, 3, ""},
    {"utf8 lookaround", "(?cx:あ)", 0, 'u', "あい", 3, 3, ""},
    {"utf8 class", "\\D", 0, 'u', "あ", -1, 0, ""},
    {"utf8 class", "\\D", 0, 'u', "あx", 3, 1, ""},
    {"utf8 class", "\\w+", 0, 'u', "あé ab_1", 6, 4, ""},
    {"utf8 class", "\\W\\S", 0, 'u', "\xFF\xFE", 0, 2, ""},  // invalid bytes are one-byte characters
    {"utf8 boundary", "\\b", 0, 'u', "あい", -1, 0, ""},
    {"utf8 boundary", "\\bab\\b", 0, 'u', "あab", 3, 2, ""},
    {"utf8 boundary", "\\C漢", 0, 'u', "ひ漢漢", 6, 3, ""},  // no type boundary inside a run of kanji
    {"utf8 boundary", "ab", rexTypeBoundary, 'u', "xab ab", 4, 2, ""},
    {"utf8 folding", "{@ic}ａ", 0, 'u', "Ａ", 0, 3, ""},
    {"utf8 folding", "{@ic}ｚ", 0, 'u', "xＺ", 1, 3, ""},
    {"utf8 folding", "{@ic}Ｚ", 0, 'u', P + "ｚ", 120, 3, ""},
    {"utf8 folding", "{@ic}Ω", 0, 'u', "ω", 0, 2, ""},
    {"utf8 folding", "{@ic}ω", 0, 'u', P + "Ω", 120, 2, ""},
    {"utf8 folding", "{@ic}Я", 0, 'u', "я", 0, 2, ""},
    {"utf8 folding", "{@ic}я", 0, 'u', P + "Я", 120, 2, ""},
    {"utf8 folding", "{@ic}Ё", 0, 'u', "ё", 0, 2, ""},
    {"utf8 folding", "{@ic}ς", 0, 'u', "Σ", -1, 0, ""},  // no final sigma in the Shift-JIS rows either
    {"utf8 folding", "{@ic}[ａ-ｚ]", 0, 'u', "Ｚ", 0, 3, ""},
    {"utf8 folding", "{@ic}[Α-Ω]", 0, 'u', "ω", 0, 2, ""},
    {"utf8 folding", "{@ic}[а-я]", 0, 'u', "Я", 0, 2, ""},
    {"utf8 folding", "{@iz}ABC", 0, 'u', "ＡＢＣ", 0, 9, ""},
    {"utf8 folding", "{@iz}ＡB", 0, 'u', "AB", 0, 2, ""},
    {"utf8 folding", "{@iz}9Zz~", 0, 'u', "９Ｚｚ～", 0, 12, ""},
    {"utf8 folding", "{@iz}[a-z]", 0, 'u', "ｘ", 0, 3, ""},
    {"utf8 folding", "{@iz}[ｘ]", 0, 'u', "x", 0, 1, ""},
    {"utf8 folding", "{@iz}ア", 0, 'u', "ｱ", 0, 3, ""},
    {"utf8 folding", "{@iz}ｱ", 0, 'u', "ア", 0, 3, ""},
    {"utf8 folding", "{@iz}ﾟ", 0, 'u', "゜", 0, 3, ""},  // the last width pair
    {"utf8 folding", "{@iz}゜", 0, 'u', P + "ﾟ", 120, 3, ""},
    {"utf8 folding", "{@iz}ﾝ", 0, 'u', "ン", 0, 3, ""},
    {"utf8 folding", "{@iz}[ン]", 0, 'u', "ﾝ", 0, 3, ""},
    {"utf8 folding", "{@iz}[ｧ-ﾝ]", 0, 'u', "ア", 0, 3, ""},
    {"utf8 folding", "{@iz} ", 0, 'u', "\u3000", 0, 3, ""},  // the ideographic space
    {"utf8 folding", "{@iz}x x", 0, 'u', "x　x", 0, 5, ""},  // space and ideographic space
    {"utf8 folding", "{@ic}{@iz}a", 0, 'u', "Ａ", 0, 3, ""},
    {"utf8 directive", "{@ign( )}完了", 0, 'u', "完 了", 0, 7, ""},
    {"utf8 filter", "{@ic}ａb", 0, 'u', P + "ＡB", 120, 4, ""},
    {"utf8 filter", "[あ-ん]x", 0, 'u', P + "ひx", 120, 4, ""},
    {"utf8 filter", ".xy", 0, 'u', P + "あxy", 120, 5, ""},
    {"utf8 filter", "[^a]xy", 0, 'u', P + "\xF0\x9F\x98\x80xy", 120, 6, ""},
    {"utf8 filter", "完", 0, 'u', P + "了完", 123, 3, ""},
    {"utf8 filter", "\\x8C", 0, 'u', P + "完\x8C", 123, 1, ""},
    // ---- former bugs ----
    // lookbehind matched the second half of a double-byte character
    {"former bug", "(?<=A)B", 0, 's', A_ "B", -1, 0, ""},  // A is the second byte of the katakana
    // reading past the text: a lead byte as its last byte, also after a run of pairs
    {"former bug", "\\x83", 0, 's', "x\x83", 1, 1, ""},
    {"former bug", "\\x83", 0, 's', std::string(120, 'x') + "\x83\x83\x83\x83\x83", 124, 1, ""},
    // a second {@ign} (refused) freed the pattern of the first while the tree still used it
    {"former bug", "{@ign(x)}{@ign(y)}ab", 0, 's', "yaxb", 1, 3, "35000: duplicate '{@ign(...)}'"},
    // the first-byte filter rejected starts where the tree matches
    {"former bug", "x(?:{@ign(-)}ab)", 0, 's', P + "x-a-b", 120, 5, ""},  // ignore pattern below the root
    {"former bug", "x(?:{@ign(-+)}ab)", 0, 's', P + "x---ab", 120, 6, ""},
    {"former bug", "{@ign( )}abc", 0, 's', P + "  a b c", 122, 5, ""},  // at the root: starts after the skipped text
    {"former bug", "[\\n]z", 0, 's', P + "\r\nz", 121, 2, ""},  // sets containing LF match the CR of CR LF
    {"former bug", "a[\\n]", 0, 's', P + "a\r\n", 120, 2, ""},
    {"former bug", "[\\n]", 0, 's', P + "\r\n", 120, 1, ""},
    {"former bug", "a[\\n]b", 0, 's', P + "a\r\nb", -1, 0, ""},
    {"former bug", "{@ic}" Fa_ "b", 0, 's', P + FA_ "B", 120, 3, ""},  // folding changes the second byte
    {"former bug", "[^a]xy", 0, 's', P + A_ "xy", 120, 4, ""},  // a negated set takes a double-byte character
    {"former bug", ".xy", 0, 's', P + A_ "xy", 120, 4, ""},
    {"former bug", "q|x{0}c", 0, 's', P + "c", 120, 1, ""},  // a repetition that matches only the empty text
    {"former bug", "(a)\\1", 0, 's', P + "aa", 120, 2, ""},
    {"former bug", "(?=\\d)\\w", 0, 's', P + "5", 120, 1, ""},
};

// ASCII patterns (with no byte escapes) over ASCII texts read the same in
// Shift-JIS and UTF-8: such rows run in both.
bool inBothSets(const MatchCase& c) {
    if (c.charSet != 's' || std::strstr(c.pattern, "\\x") || std::strstr(c.pattern, "\\X") ||
        std::strstr(c.pattern, "\\u")) {
        return false;
    }
    for (const char* p = c.pattern; *p; ++p) {
        if (static_cast<unsigned char>(*p) >= 0x80) return false;
    }
    for (char b : c.text) {
        if (static_cast<unsigned char>(b) >= 0x80) return false;
    }
    return true;
}

TEST(RexMatch, TableByConstruct) {
    int both = 0;
    for (const MatchCase& c : kCases) {
        const bool twice = inBothSets(c);
        both += twice;
        for (int run = 0; run < (twice ? 4 : 2); ++run) {
            const bool shortcuts = (run & 1) == 0;
            CharSetGuard cs(run < 2 ? c.charSet : 'u');
            Warnings w;
            auto rex = rexCompile(c.pattern, c.flags);
            ASSERT_TRUE(rex) << c.pattern;
            const FindResult r = findIn(rex.get(), c.text, 1, shortcuts);
            SCOPED_TRACE(std::string(c.group) + ": " + c.pattern + (shortcuts ? "" : " (plain)") +
                         (run < 2 ? "" : " (UTF-8)"));
            EXPECT_EQ(r.at, c.start);
            if (c.start >= 0) {
                EXPECT_EQ(r.length, c.length);
            }
            if (shortcuts) {
                EXPECT_EQ(w.joined(), c.warnings);
            }
        }
    }
    EXPECT_GT(both, 60);  // most Shift-JIS rows are ASCII
}

TEST(RexMatch, ReferenceWarnsOncePerNode) {
    Warnings w;
    auto rex = rexCompile("\\1(a)", 0);
    for (int i = 0; i < 3; ++i) findIn(rex.get(), "aaaa", 1);
    EXPECT_EQ(w.joined(), "35000: missing reference target for '1'");
}

const char* resolveHost(const char* name, int* length) {
    if (std::string(name) != "host") return nullptr;
    *length = 3;
    return "web";
}

TEST(RexMatch, CustomResolver) {
    Warnings w;
    const LRexCustomResolver old = rexSetCustomResolver(resolveHost);
    auto rex = rexCompile("{@r:host}01", 0);
    const FindResult r = findIn(rex.get(), "db01 web01", 1);
    EXPECT_EQ(r.at, 5);
    EXPECT_EQ(r.length, 5);
    EXPECT_EQ(w.joined(), "");
    rexSetCustomResolver(old);
}

TEST(RexMatch, CapturesHoldTheLastIteration) {
    auto rex = rexCompile("(?:(\\w)-)+(;){=tail}", 0);
    LString text("a-b-c-;");
    LRexSearch s(rex.get());
    ASSERT_EQ(s.find(text.data(), -1, text.len(), 1, 0), 0);
    ASSERT_EQ(s.captures.count(), 2);
    EXPECT_EQ(std::string(s.captures[0]->start, s.captures[0]->length), "c");
    EXPECT_EQ(std::string(s.captures[1]->start, s.captures[1]->length), ";");
    EXPECT_STREQ(s.captures[1]->name, "tail");
}

}  // namespace

// The pattern compiler. Operators are recognised by comparing the text at the
// read position with g_rexTokens; directives ({@ic}, {@ign(...)}) change the
// node context from where they stand to the end of the enclosing group.
//
// Reading never passes the end of the pattern: a lead byte that is the last
// byte becomes a one-byte literal, and every look-ahead is bounded by the NUL
// of the pattern copy.
#include "rex/compile.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "base/chars.h"
#include "base/msg.h"
#include "base/text.h"
#include "rex/plan.h"

const char* const g_rexTokens[14] = {"|", ".", "*", "+", "?", "-", "[", "]", "(", ")", "^", "$", "{", "}"};

namespace {
const char kLazy[] = "?";     // lazy modifier after a quantifier
const char kNegate[] = "^";   // negation at the start of a set
}  // namespace

bool LRexParser::at(LRexToken t) const {
    const char* tok = g_rexTokens[t];
    return std::strncmp(pos, tok, std::strlen(tok)) == 0;
}

bool LRexParser::startsWith(const char* text) const { return std::strncmp(pos, text, std::strlen(text)) == 0; }

static void giveUp(LRexParser& p) {
    if (!p.tooDeep) {
        p.warn(Tx::rexTooDeep, p.pattern);
        p.tooDeep = true;
    }
    p.pos = p.end;
}

// Character code of the bytes of one literal character (in Shift-JIS a lone
// lead byte, as from "\x83", is its byte value).
static int literalCode(const LString& s) {
    if (g_charSet == 'u') {
        int len = 0;
        return charCodeAt(charRules(), s.data(), s.data() + s.len(), &len);
    }
    if (s.len() >= 2) return (static_cast<unsigned char>(s[0]) << 8) | static_cast<unsigned char>(s[1]);
    return static_cast<unsigned char>(s[0]);
}

int readLiteralChar(LRexParser& p, LString& out, bool setMode) {
    if (p.atEnd()) return 0;
    const unsigned char b = static_cast<unsigned char>(*p.pos);
    if (isWordByte(b)) {
        out.appendChar(static_cast<char>(b));
        p.pos += 1;
        return 1;
    }
    const int n = charLen(p.pos, p.end);
    if (n > 1) {
        out.append(p.pos, n);
        p.pos += n;
        return 1;
    }
    if (isLeadByte(b)) {
        out.appendChar(static_cast<char>(b));  // a lead byte as the last byte, or of no valid sequence
        p.pos += 1;
        return 1;
    }
    if (b == '\\') {
        LString decoded;
        const int used = decodeEscape(p.pos + 1, decoded, !p.quiet);
        if (used > 0) {
            if (setMode && p.pos[1] == 'n') {
                out.appendChar(10);
            } else {
                out.append(decoded);
            }
            p.pos += 1 + used;
            return 1;
        }
        const unsigned char d = static_cast<unsigned char>(p.pos[1]);
        if (!setMode && d && ((g_charClass[d] & kClassDigit) || std::strchr("bcdpswBCDPSW", d))) return 0;
        // In UTF-8 a byte of no valid sequence is escaped like punctuation; a
        // whole character after the backslash is no escape.
        const int dn = d ? charLen(p.pos + 1, p.end) : 0;
        const bool wordLike =
            g_charSet == 'u'
                ? (g_charClass[d] & (kClassUpper | kClassLower | kClassDigit)) || dn > 1
                : (g_charClass[d] & (kClassUpper | kClassLower | kClassDigit | kClassLead | kClassKana)) ||
                      isLeadByte(d) || isWordByte(d);
        if (d && !wordLike) {
            out.appendChar(static_cast<char>(d));
            p.pos += 2;
            return 1;
        }
        LString shown("\\");
        shown.append(p.pos + 1, dn);
        p.warn(Tx::rexUnknownEscape, shown.data());
        out.appendChar('\\');
        p.pos += 1;
        return 1;
    }
    if (!setMode && std::strchr("$()*.?[\\^{|", b)) return 0;
    out.appendChar(static_cast<char>(b));
    p.pos += 1;
    return 1;
}

const char* parseName(LRexParser& p, const char* from, LString& name) {
    const char* q = from;
    while (q < p.end && (g_charClass[static_cast<unsigned char>(*q)] & kClassWord)) ++q;
    name.assign(from, static_cast<int>(q - from));
    if (q < p.end && *q == '}') {
        if (name.empty()) p.warn(Tx::rexEmptyName);
        return q + 1;
    }
    name.clear();
    p.warn(Tx::rexMissingBrace);
    return q;
}

std::unique_ptr<LRex> parseAlternation(LRexParser& p) {
    if (p.nesting > kRexMaxNesting) {
        giveUp(p);
        return std::make_unique<LEmptyRex>(p.ctx);
    }
    const LRexContext saved = p.ctx;
    std::unique_ptr<LRex> result;
    if (p.atEnd()) {
        result = std::make_unique<LEmptyRex>(p.ctx);
    } else {
        std::vector<std::unique_ptr<LRex>> items;
        for (;;) {
            std::unique_ptr<LRex> item = parseBranch(p);
            if (!item) {
                if (!items.empty()) {
                    p.warn(Tx::rexEmptyItem, p.pattern);
                }
                break;
            }
            items.push_back(std::move(item));
            if (p.atEnd()) break;
            if (p.at(rexTokOr)) {
                p.pos += std::strlen(g_rexTokens[rexTokOr]);
                if (p.atEnd()) break;  // a trailing "|" adds nothing
                continue;
            }
            if (p.at(rexTokClose)) break;
            p.warn(Tx::rexIllegal, p.pos);
            break;
        }
        if (items.size() == 1) {
            result = std::move(items[0]);
        } else if (items.size() >= 2) {
            result = std::make_unique<LOrRex>(p.ctx, std::move(items));
        } else {
            result = std::make_unique<LEmptyRex>(p.ctx);
        }
    }
    // Directives end with the alternation that holds them.
    if (!saved.ignore) {
        if (p.ctx.ignore && p.ctx.ignorePending) delete p.ctx.ignore;
        p.ctx.ignorePending = saved.ignorePending;
    }
    p.ctx.flags = saved.flags;
    p.ctx.ignore = saved.ignore;
    return result;
}

std::unique_ptr<LRex> parseBranch(LRexParser& p) {
    std::vector<std::unique_ptr<LRex>> pieces;
    for (;;) {
        std::unique_ptr<LRex> piece = parsePiece(p);
        if (!piece) break;
        pieces.push_back(std::move(piece));
    }
    if (!p.ctx.ignore && pieces.size() >= 2) {
        // Adjacent literals with equal flags become one literal.
        std::vector<std::unique_ptr<LRex>> merged;
        for (auto& piece : pieces) {
            if (!merged.empty() && merged.back()->kind() == 1 && piece->kind() == 1 &&
                merged.back()->flags == piece->flags) {
                static_cast<LFlatRex*>(merged.back().get())->text.append(static_cast<LFlatRex*>(piece.get())->text);
                piece.reset();
            } else {
                merged.push_back(std::move(piece));
            }
        }
        pieces = std::move(merged);
    }
    if (pieces.empty()) return nullptr;
    if (pieces.size() == 1) return std::move(pieces[0]);
    return std::make_unique<LSeqRex>(p.ctx, std::move(pieces));
}

// Reads a decimal number as strtol does, clamped to the 32-bit range.
static int readNumber(const char* from, const char** after) {
    char* e = nullptr;
    long v = std::strtol(from, &e, 10);
    *after = e;
    if (v > INT_MAX) v = INT_MAX;
    if (v < INT_MIN) v = INT_MIN;
    return static_cast<int>(v);
}

std::unique_ptr<LRex> parsePiece(LRexParser& p) {
    std::unique_ptr<LRex> atom = parseAtom(p);
    if (!atom) return nullptr;
    int min = 0, max = 0;
    if (p.at(rexTokStar) || p.at(rexTokPlus) || p.at(rexTokQuestion)) {
        min = p.at(rexTokPlus) ? 1 : 0;
        max = p.at(rexTokQuestion) ? 1 : LRepRex::kNoLimit;
        p.pos += 1;
    } else if (p.at(rexTokBraceOpen)) {
        const char* brace = p.pos;
        // A digit or ',' must follow, so m is never negative.
        const unsigned char next = static_cast<unsigned char>(brace[1]);
        if (!(g_charClass[next] & kClassDigit) && next != ',') return atom;
        bool ok = false;
        const char* e = nullptr;
        bool warnNeg = false, warnOrder = false;
        if (next == ',') {
            const char* q = brace + 2;
            const int n = readNumber(q, &e);
            if (e != q && n >= 0 && *e == '}') {
                min = 0;
                max = n;
                ok = true;
            }
        } else {
            const int m = readNumber(brace + 1, &e);
            if (*e == '}') {
                min = max = m;
                ok = true;
            } else if (*e == ',') {
                const char* q = e + 1;
                if (*q == '}') {
                    min = m;
                    max = LRepRex::kNoLimit;
                    e = q;
                    ok = true;
                } else {
                    const int n = readNumber(q, &e);
                    if (e != q && *e == '}') {
                        min = m;
                        max = n;
                        ok = true;
                        if (n < 0) {
                            warnNeg = true;
                            max = m;
                        } else if (m > n) {
                            warnOrder = true;
                            max = m;
                        }
                    }
                }
            }
        }
        if (!ok) {
            p.warn(Tx::rexIllegalUse, g_rexTokens[rexTokBraceOpen], p.pattern);
            return atom;
        }
        if (warnNeg) p.warn(Tx::rexNegativeBound, p.pattern);
        if (warnOrder) p.warn(Tx::rexBoundsOrder, p.pattern);
        p.pos = e + 1;
    } else {
        return atom;
    }
    int lazy = 0;
    if (std::strncmp(p.pos, kLazy, std::strlen(kLazy)) == 0) {
        lazy = 1;
        p.pos += std::strlen(kLazy);
    }
    return std::make_unique<LRepRex>(p.ctx, std::move(atom), min, max, lazy);
}

// A group body in one more level of nesting.
static std::unique_ptr<LRex> parseNested(LRexParser& p) {
    ++p.nesting;
    std::unique_ptr<LRex> body = parseAlternation(p);
    --p.nesting;
    return body;
}

// "(" has been read: the group, assertion or anchor it opens; null when it
// yields no node.
static std::unique_ptr<LRex> parseGroup(LRexParser& p, bool* comment) {
    std::unique_ptr<LRex> node;
    bool capturing = false;
    if (p.startsWith("?:")) {
        p.pos += 2;
        std::unique_ptr<LRex> body = parseNested(p);
        node = std::make_unique<LBraceRex>(p.ctx, std::move(body), -1);
    } else if (p.startsWith("?#")) {
        p.pos += 2;
        const void* close = std::memchr(p.pos, ')', p.end - p.pos);
        p.pos = close ? static_cast<const char*>(close) : p.end;
        *comment = true;
    } else if (p.startsWith("?>") || p.startsWith("?=") || p.startsWith("?!")) {
        const int type = p.pos[1];
        p.pos += 2;
        std::unique_ptr<LRex> body = parseNested(p);
        node = std::make_unique<LSpRex>(p.ctx, type, 0, std::move(body));
    } else if (p.startsWith("?<=") || p.startsWith("?<!") || p.startsWith("*=") || p.startsWith("*!")) {
        const bool q = p.pos[0] == '?';
        const int type = q ? p.pos[2] : p.pos[1];
        p.pos += q ? 3 : 2;
        std::unique_ptr<LRex> body = parseNested(p);
        node = std::make_unique<LSpRex>(p.ctx, type, 1, std::move(body));
    } else if (p.startsWith("?topl)") || p.startsWith("?endl)") || p.startsWith("?tops)") || p.startsWith("?ends)")) {
        int type = '$';
        if (p.startsWith("?topl)")) {
            type = rexTopOfLine;
        } else if (p.startsWith("?endl)")) {
            type = rexEndOfLine;
        } else if (p.startsWith("?tops)")) {
            type = '^';
        }
        p.pos += 5;  // left on the ")"
        node = std::make_unique<LSpRex>(p.ctx, type, 0, nullptr);
    } else if (p.startsWith("?cx:")) {
        p.pos += 4;
        std::unique_ptr<LRex> body = parseNested(p);
        std::vector<std::unique_ptr<LRex>> parts;
        parts.push_back(std::make_unique<LSpRex>(p.ctx, '!', 0, std::move(body)));
        parts.push_back(std::make_unique<LCharsRex>(p.ctx, 1));
        node = std::make_unique<LSeqRex>(p.ctx, std::move(parts));
    } else if (p.startsWith("?<")) {
        // no node, no warning of its own
    } else if (p.startsWith("?")) {
        p.warn(Tx::rexIllegalQuestion, p.pattern);
    } else if (p.startsWith("*")) {
        p.warn(Tx::rexIllegalStar, p.pattern);
    } else {
        const int number = p.groupCount++;
        std::unique_ptr<LRex> body = parseNested(p);
        node = std::make_unique<LBraceRex>(p.ctx, std::move(body), number);
        capturing = true;
    }
    if (p.at(rexTokClose)) {
        p.pos += 1;
    } else {
        p.warn(Tx::rexMissingParen, p.pattern);
    }
    if (capturing && p.startsWith("{=")) {
        LString name;
        const char* after = parseName(p, p.pos + 2, name);
        if (name.empty()) {
            p.warn(Tx::rexIllegalGroupName, p.pattern);
        } else if (g_charClass[static_cast<unsigned char>(name[0])] & kClassDigit) {
            p.warn(Tx::rexNumericGroupName, p.pattern);
        } else {
            static_cast<LBraceRex*>(node.get())->setName(name.data());
            p.pos = after;
        }
    }
    return node;
}

// Directive "{@...}" at the read position. Returns 1 when it was consumed and
// parsing goes on with the next atom, 2 when *node was made, 0 when the "{"
// is to be read as a literal.
static int parseDirective(LRexParser& p, std::unique_ptr<LRex>* node) {
    static const struct {
        const char* text;
        uint32_t flag;
        bool on;
    } kFlagDirectives[] = {
        {"{@ic}", rexIgnoreCase, true},
        {"{@c}", rexIgnoreCase, false},
        {"{@iz}", rexIgnoreWidth, true},
        {"{@z}", rexIgnoreWidth, false},
    };
    for (const auto& d : kFlagDirectives) {
        if (p.startsWith(d.text)) {
            p.ctx.flags = d.on ? (p.ctx.flags | d.flag) : (p.ctx.flags & ~d.flag);
            p.pos += std::strlen(d.text);
            return 1;
        }
    }
    if (p.startsWith("{@ign(")) {
        p.pos += 6;
        // The ignore pattern itself is parsed with no ignore pattern in force:
        // its nodes must not take ownership of one that is in force already
        // (the duplicate below is deleted).
        const LRexContext outer = p.ctx;
        p.ctx.ignore = nullptr;
        p.ctx.ignorePending = 0;
        std::unique_ptr<LRex> sub = parseNested(p);
        p.ctx = outer;
        if (p.ctx.ignore) {
            p.warn(Tx::rexDuplicateIgnore);
            sub.reset();
        } else {
            p.ctx.ignore = sub.release();
            p.ctx.ignorePending = 1;
        }
        if (p.startsWith(")}")) {
            p.pos += 2;
        } else {
            p.warn(Tx::rexMissingIgnoreEnd, p.pattern);
        }
        return 1;
    }
    if (p.startsWith("{@r:")) {
        const char* from = p.pos + 4;
        const void* close = std::memchr(from, '}', p.end - from);
        if (!close) {
            p.warn(Tx::rexMissingCustomEnd, p.pattern);
            return 0;
        }
        LString name(from, static_cast<int>(static_cast<const char*>(close) - from));
        auto ref = std::make_unique<LRefRex>(p.ctx, name.data());
        ref->flags |= rexCustom;
        *node = std::move(ref);
        p.pos = static_cast<const char*>(close) + 1;
        return 2;
    }
    p.warn(Tx::rexIllegalDirective, p.pattern);
    const void* close = std::memchr(p.pos, '}', p.end - p.pos);
    p.pos = close ? static_cast<const char*>(close) + 1 : p.end;
    return 1;
}

std::unique_ptr<LRex> parseAtom(LRexParser& p) {
    for (;;) {
        if (p.atEnd()) return nullptr;
        {
            LString lit;
            if (readLiteralChar(p, lit, false)) return std::make_unique<LFlatRex>(p.ctx, lit.data(), lit.len());
        }
        if (p.at(rexTokAny)) {
            p.pos += 1;
            return std::make_unique<LCharsRex>(p.ctx, 1);
        }
        if (p.at(rexTokBraceOpen)) {
            if (p.pos[1] == ':') {
                LString name;
                const char* after = parseName(p, p.pos + 2, name);
                if (!name.empty()) {
                    p.pos = after;
                    return std::make_unique<LRefRex>(p.ctx, name.data());
                }
                p.warn(Tx::rexIllegalReference, p.pattern);
            } else if (p.pos[1] == '@') {
                std::unique_ptr<LRex> node;
                const int r = parseDirective(p, &node);
                if (r == 1) continue;
                if (r == 2) return node;
            }
        } else if (p.at(rexTokSetOpen)) {
            p.pos += 1;
            return parseSet(p);
        } else if (p.at(rexTokOpen)) {
            p.pos += 1;
            bool comment = false;
            std::unique_ptr<LRex> node = parseGroup(p, &comment);
            if (node) return node;
            if (comment) continue;  // a comment is skipped like a directive
        } else if (p.at(rexTokCaret) || p.at(rexTokDollar)) {
            const int type = *p.pos;
            p.pos += 1;
            return std::make_unique<LSpRex>(p.ctx, type, 0, nullptr);
        } else if (*p.pos == '\\') {
            const unsigned char d = static_cast<unsigned char>(p.pos[1]);
            if (d && std::strchr("bBcCdDpPsSwW", d)) {
                p.pos += 2;
                return std::make_unique<LSpRex>(p.ctx, d, 0, nullptr);
            }
            if (g_charClass[d] & kClassDigit) {
                const char name[2] = {static_cast<char>(d), 0};
                p.pos += 2;
                return std::make_unique<LRefRex>(p.ctx, name);
            }
        }
        // No construct: an operator ends the branch, any other byte is a literal.
        if (p.atEnd() || p.at(rexTokOr) || p.at(rexTokClose) || p.at(rexTokStar) || p.at(rexTokPlus) ||
            p.at(rexTokQuestion)) {
            return nullptr;
        }
        auto flat = std::make_unique<LFlatRex>(p.ctx, p.pos, 1);
        p.pos += 1;
        return flat;
    }
}

std::unique_ptr<LRex> parseSet(LRexParser& p) {
    const char* open = p.pos - 1;
    int negated = 0;
    if (std::strncmp(p.pos, kNegate, std::strlen(kNegate)) == 0) {
        negated = 1;
        p.pos += std::strlen(kNegate);
    }
    auto set = std::make_unique<LCharsRex>(p.ctx, negated);
    if (p.at(rexTokSetClose)) {
        p.pos += 1;
        return set;
    }
    for (;;) {
        LString low;
        if (!readLiteralChar(p, low, true)) {
            p.warn(Tx::rexMissingSetEnd, open);
            p.pos = p.end;
            return set;
        }
        const int lo = literalCode(low);
        int hi = lo;
        if (p.at(rexTokMinus)) {
            p.pos += 1;
            LString high;
            if (readLiteralChar(p, high, true)) {
                hi = literalCode(high);
            } else {
                p.warn(Tx::rexMissingRangeEnd, open);
            }
        }
        set->addRange(lo, hi);
        if (lo > hi) p.warn(Tx::rexRangeOrder, lo, hi, p.pattern);
        if (p.at(rexTokSetClose)) {
            p.pos += 1;
            return set;
        }
    }
}

namespace {

std::unique_ptr<LRex> compile(const char* pattern, uint32_t flags, bool quiet) {
    LString copy(pattern);
    if (copy.empty()) return nullptr;
    LRexParser p;
    p.quiet = quiet;
    p.pattern = copy.data();
    p.pos = copy.data();
    p.end = copy.data() + copy.len();
    p.ctx.flags = flags & (rexIgnoreCase | rexIgnoreWidth);
    p.ctx.ignore = nullptr;
    p.ctx.ignorePending = 1;
    std::unique_ptr<LRex> tree = parseAlternation(p);
    if (!p.atEnd()) {
        p.warn(Tx::rexExtraChars, p.pos, p.pattern);
    }
    if (p.tooDeep) tree = std::make_unique<LEmptyRex>(p.ctx);
    // A pattern that is wholly illegal stays an LEmptyRex, which never matches.
    if ((flags & rexTypeBoundary) && tree->kind() != 2) {
        std::vector<std::unique_ptr<LRex>> parts;
        parts.push_back(std::make_unique<LSpRex>(p.ctx, 'c', 0, nullptr));
        parts.push_back(std::move(tree));
        parts.push_back(std::make_unique<LSpRex>(p.ctx, 'c', 0, nullptr));
        tree = std::make_unique<LSeqRex>(p.ctx, std::move(parts));
    }
    if (p.ctx.ignore && p.ctx.ignorePending) delete p.ctx.ignore;
    tree->root = std::make_unique<LRexRoot>();
    tree->root->source.assign(pattern);
    tree->root->flags = flags;
    return tree;
}

}  // namespace

std::unique_ptr<LRex> rexCompile(const char* pattern, uint32_t flags) { return compile(pattern, flags, false); }

std::unique_ptr<LRex> rexCopy(const LRex* root) {
    if (!root) return nullptr;
    if (!root->root) return compile("", 0, true);
    return compile(root->root->source.data(), root->root->flags, true);
}

const char* rexSource(const LRex* root) { return root && root->root ? root->root->source.data() : ""; }

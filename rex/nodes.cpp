// Matching, reset and dump of the node classes.
//
// Each match() is a generator step: it yields the next way of matching per call
// until reset(). Sequences are chains of pairs that are walked by loops with
// parent links (no recursion along a chain). Repetitions replay their levels
// from the first on every call; for a body that has only one way and no side
// effects the iteration ends are remembered instead, which yields exactly the
// same ways without the quadratic replay.
#include "rex/nodes.h"

#include <atomic>
#include <cstdlib>

#include "base/block.h"
#include "base/chars.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/platform/sync.h"
#include "rex/fold.h"
#include "rex/plan.h"

LRexCustomResolver g_rexCustomResolver = nullptr;
bool g_rexShortcuts = true;

LRexCustomResolver rexSetCustomResolver(LRexCustomResolver resolver) {
    LRexCustomResolver old = g_rexCustomResolver;
    g_rexCustomResolver = resolver;
    return old;
}

// ---- the cursor ----

LRexCursor::LRexCursor(const char* text, int length, LRexCaptures* caps)
    : pos(text), start(text), end(text + length), captures(caps), rules(&charRules()) {}

void LRexCursor::setBudget(int64_t steps) {
    stepsLeft = steps;
    slowBelow = steps > kStepsBeforeYielding ? steps - kStepsBeforeYielding : 0;
    throttleBelow = steps - kStepsBeforeThrottling;  // negative: the budget ends first
}

bool LRexCursor::stepSlow() {
    if (stepsLeft < 0) {
        slowBelow = 0;  // stays used up (a lookaround copy may come back later)
        return false;
    }
    slowBelow = stepsLeft > kStepsBetweenYields ? stepsLeft - kStepsBetweenYields : 0;
    if (stepsLeft < throttleBelow)
        platformPauseBriefly(kThrottlePauseMicros);
    else
        platformYield();
    return true;
}

int LRexByteSet::count() const {
    int n = 0;
    for (uint64_t w : bits_) n += __builtin_popcountll(w);
    return n;
}

void LRexOffsets::addUnique(int offset) {
    for (int v : v_) {
        if (v == offset) return;
    }
    v_.push_back(offset);
}

// ---- LRex ----

LRex::~LRex() {
    if ((flags & rexOwnsIgnore) && ignore) delete ignore;
}

void LRex::forEachChild(void (*)(const LRex*, void*), void*) const {}

void LRex::skipIgnorable(LRexCursor& cur) const {
    if (!ignore) return;
    for (;;) {
        ignore->reset();
        const char* q = cur.pos;
        if (!cur.step() || !ignore->match(cur, 0) || cur.pos == q) {
            cur.pos = q;
            return;
        }
    }
}

int LRex::finishOneWay(LRexCursor& cur, const char* from, int consumed, int backward, int32_t& done) {
    if (consumed < 0) {
        cur.pos = from;
        return 0;
    }
    cur.pos += backward ? -consumed : consumed;
    done = 1;
    return 1;
}

static void adoptContext(LRex* node, LRexContext& ctx) {
    node->flags = ctx.flags;
    node->ignore = ctx.ignore;
    if (ctx.ignorePending && ctx.ignore) {
        node->flags |= rexOwnsIgnore;
        ctx.ignorePending = 0;
    }
}

static void indent(LString& out, int depth) {
    if (depth > 0) out.appendChar(' ', depth);
}

// ---- text comparison shared by literals and references ----

static int foldPair(int a, int b, uint32_t flags) {
    if (a == b) return 1;
    if (flags & rexIgnoreCase) {
        a = rexLower(a);
        b = rexLower(b);
    }
    if (flags & rexIgnoreWidth) {
        a = rexFullToHalf(a);
        b = rexFullToHalf(b);
    }
    return a == b;
}

int rexCompareText(const LRexCursor& cur, const char* t, int n, uint32_t flags, int backward) {
    const char* from;
    const char* limit;
    if (backward) {
        if (cur.pos - cur.start < n) return -1;
        from = cur.pos - n;
        limit = cur.pos;
        // The text before pos starts on a character: never inside one.
        if (from > cur.start && cur.isSecond(from)) return -1;
    } else {
        from = cur.pos;
        limit = cur.end;
        if (!(flags & rexIgnoreWidth) && cur.end - cur.pos < n) return -1;
    }
    const LCharRules& rules = *cur.rules;
    if (!(flags & (rexIgnoreCase | rexIgnoreWidth)) && !endsCutOff(rules, t, n)) {
        // Equal bytes walk as equal characters (a character's bytes decide it,
        // and t ends on a whole one); a difference in any byte is a difference
        // in some character.
        if (n > limit - from || std::memcmp(from, t, n) != 0) return -1;
        return n;
    }
    // Both sides walk character by character, the text side within [from, limit).
    int i = 0;
    const char* p = from;
    while (i < n) {
        if (p >= limit) return -1;
        int la, lb;
        const int a = charCodeAt(rules, t + i, t + n, &la);
        const int b = charCodeAt(rules, p, limit, &lb);
        if (!foldPair(a, b, flags)) return -1;
        i += la;
        p += lb;
    }
    const int consumed = static_cast<int>(p - from);
    if (backward && consumed != n) return -1;
    return consumed;
}

// ---- LFlatRex ----

LFlatRex::LFlatRex(LRexContext& ctx, const char* bytes, int length) : text(bytes, length) {
    adoptContext(this, ctx);
}

int LFlatRex::match(LRexCursor& cur, int backward) {
    if (done) return 0;
    const char* p = cur.pos;
    skipIgnorable(cur);
    int consumed;
    if (g_rexShortcuts && plainCompare()) {
        const int n = text.len();
        if (!backward) {
            // the first byte decides most comparisons
            consumed = (cur.end - cur.pos >= n && (n == 0 || *cur.pos == text[0]) &&
                        std::memcmp(cur.pos, text.data(), n) == 0)
                           ? n
                           : -1;
        } else {
            consumed = (cur.pos - cur.start >= n && std::memcmp(cur.pos - n, text.data(), n) == 0 &&
                        !cur.isSecond(cur.pos - n))
                           ? n
                           : -1;
        }
    } else {
        consumed = rexCompareText(cur, text.data(), text.len(), flags, backward);
    }
    return finishOneWay(cur, p, consumed, backward, done);
}

bool LFlatRex::plainCompare() const {
    if (plainFor_ != g_charSet) {
        plainFor_ = g_charSet;
        plainCompare_ = (flags & (rexIgnoreCase | rexIgnoreWidth)) == 0 && !endsCutOff(charRules(), text.data(), text.len());
    }
    return plainCompare_;
}

void LFlatRex::dump(LString& out, int depth) const {
    indent(out, depth);
    out.appendFormat("flat: btc=%d {", done);
    out.append(text);
    out.appendFormat("} len=%d\n", text.len());
}

// ---- LCharsRex ----

LCharsRex::LCharsRex(LRexContext& ctx, int neg) : negated(neg) { adoptContext(this, ctx); }

void LCharsRex::addRange(int lo, int hi) {
    ranges.push_back(Range{lo, hi});
    for (int b = lo < 0 ? 0 : lo; b <= hi && b < 256; ++b) single_[b] = true;
}

bool LCharsRex::contains(int c) const {
    if (c >= 0 && c < 256) return single_[c];
    for (const Range& r : ranges) {
        if (r.lo <= c && c <= r.hi) return true;
    }
    return false;
}

int LCharsRex::consume(const LRexCursor& cur, const char* at, int backward) const {
    int c, len;
    if (!backward) {
        if (at >= cur.end) return -1;
        c = cur.codeAt(at, &len);
        if (c == 13 && at + 1 < cur.end && at[1] == 10) c = 10;  // CR LF reads as LF
    } else {
        if (at <= cur.start) return -1;
        c = cur.codeBefore(at, &len);
    }
    bool in = contains(c);
    if (!in && (flags & (rexIgnoreCase | rexIgnoreWidth))) {
        int forms[3] = {c, c, c};
        int n = 1;
        if (flags & rexIgnoreCase) {
            forms[n++] = rexLower(c);
            forms[n++] = rexUpper(c);
            in = contains(forms[1]) || contains(forms[2]);
        }
        if (!in && (flags & rexIgnoreWidth)) {
            // each form maps one way at most (a half-width code to its full
            // form, a full-width one to its half form); the other way is itself
            for (int i = 0; i < n && !in; ++i) in = contains(rexHalfToFull(forms[i])) || contains(rexFullToHalf(forms[i]));
        }
    }
    if (negated) in = !in;
    // len is the character's byte length, clamped at the end of the text
    return in ? len : -1;
}

int LCharsRex::match(LRexCursor& cur, int backward) {
    if (done) return 0;
    const char* p = cur.pos;
    skipIgnorable(cur);
    return finishOneWay(cur, p, consume(cur, cur.pos, backward), backward, done);
}

void LCharsRex::dump(LString& out, int depth) const {
    indent(out, depth);
    out.appendFormat("chars: btc=%d [", done);
    if (negated) out.append("^");
    bool first = true;
    for (const Range& r : ranges) {
        if (!first) out.append(",");
        first = false;
        if (r.lo == r.hi) {
            out.appendFormat("%Xh", static_cast<unsigned>(r.lo));
        } else {
            out.appendFormat("%Xh-%Xh", static_cast<unsigned>(r.lo), static_cast<unsigned>(r.hi));
        }
    }
    out.append("]\n");
}

// ---- LSpRex ----

LSpRex::LSpRex(LRexContext& ctx, int t, int rev, std::unique_ptr<LRex> b)
    : type(t), reverse(rev), body(std::move(b)) {
    adoptContext(this, ctx);
}

void LSpRex::reset() {
    done = 0;
    if (body) body->reset();
}

bool LSpRex::isZeroWidth() const {
    switch (type) {
        case '^': case '$': case rexTopOfLine: case rexEndOfLine:
        case '=': case '!': case 'b': case 'B': case 'p': case 'P': case 'c': case 'C':
            return true;
        default:
            return false;
    }
}

bool LSpRex::isClassEscape() const {
    switch (type) {
        case 'd': case 'D': case 's': case 'S': case 'w': case 'W':
            return true;
        default:
            return false;
    }
}

static bool isWordClass(unsigned char b) { return (g_charClass[b] & kClassWord) != 0; }

// Character types for \c and \C (Shift-JIS and UTF-8): 0 none.
static int charType(int code) {
    if (g_charSet == 'u') {
        if (code < 128) return isWordClass(static_cast<unsigned char>(code)) ? 1 : 0;
        if (code >= 0xFF61 && code <= 0xFF9F) return 2;  // half-width katakana
        if ((code >= 0x4E00 && code <= 0x9FFF) || (code >= 0x3400 && code <= 0x4DBF) ||
            (code >= 0xF900 && code <= 0xFAFF) || (code >= 0x20000 && code <= 0x3FFFF)) {
            return 3;  // kanji
        }
        if ((code >= 0x30A1 && code <= 0x30F6) || code == 0x30FC) return 4;
        if (code >= 0x3041 && code <= 0x3093) return 5;
        if ((code >= 0xFF10 && code <= 0xFF19) || (code >= 0xFF21 && code <= 0xFF3A) ||
            (code >= 0xFF41 && code <= 0xFF5A) || code == 0xFF3F) {
            return 6;  // full-width letters and digits
        }
        if (code >= 0x0391 && code <= 0x03C9) return 7;
        if ((code >= 0x0410 && code <= 0x044F) || code == 0x0401 || code == 0x0451) return 8;
        return 0;
    }
    if (g_charSet != 's') return 0;
    if (code < 256) {
        if (isWordClass(static_cast<unsigned char>(code))) return 1;
        if (code >= 0xA1 && code <= 0xDF) return 2;
        return 0;
    }
    if (code >= 0x889E) return 3;
    if ((code >= 0x8340 && code <= 0x8396) || code == 0x815B) return 4;
    if (code >= 0x829F && code <= 0x82F1) return 5;
    if ((code >= 0x824F && code <= 0x829A) || code == 0x8151) return 6;
    if (code >= 0x839E && code <= 0x83D6) return 7;
    if (code >= 0x843F && code <= 0x8491) return 8;
    return 0;
}

int LSpRex::classConsume(const LRexCursor& cur, const char* at, int backward) const {
    int len = 0;
    int c = -1;
    if (!backward) {
        if (at < cur.end) c = cur.codeAt(at, &len);
    } else if (at > cur.start) {
        c = cur.codeBefore(at, &len);
    }
    // one-byte characters only (in UTF-8 also a byte of no valid sequence,
    // which is neither digit, space nor word character)
    if (c < 0 || len != 1) return -1;
    if (c >= 256) {
        if (!cur.rules->utf8) return -1;  // a lone lead byte at the end
        c = 0x80;                         // a byte of class 0
    }
    int earned;
    if (type == 'd' || type == 'D') {
        earned = (g_charClass[c] & 0x04) ? 'd' : 'D';
    } else if (type == 's' || type == 'S') {
        earned = (c == ' ' || c == 12 || c == 10 || c == 13 || c == 9 || c == 11 || c == 0) ? 's' : 'S';
    } else {
        earned = isWordClass(static_cast<unsigned char>(c)) ? 'w' : 'W';
    }
    return earned == type ? 1 : -1;
}

int LSpRex::match(LRexCursor& cur, int backward) {
    if (done) return 0;
    const char* p = cur.pos;
    skipIgnorable(cur);
    int ok = 0;
    switch (type) {
        case '^':
            ok = cur.pos == cur.start;
            break;
        case '$':
            ok = cur.pos == cur.end;
            break;
        case rexTopOfLine:
            ok = cur.pos == cur.start || cur.pos[-1] == 13 || cur.pos[-1] == 10;
            break;
        case rexEndOfLine:
            ok = cur.pos == cur.end || *cur.pos == 13 || *cur.pos == 10;
            break;
        case '=':
        case '!': {
            LRexCursor copy = cur;
            int r = body ? body->match(copy, backward ^ reverse) : 1;
            cur.stepsLeft = copy.stepsLeft;
            cur.slowBelow = copy.slowBelow;
            done = 1;
            ok = type == '=' ? r : !r;
            break;
        }
        case '>': {
            ++cur.atomicDepth;
            int r = body ? body->match(cur, backward) : 1;
            --cur.atomicDepth;
            done = 1;
            if (!r) cur.pos = p;
            return r;
        }
        case 'b':
        case 'B':
        case 'p':
        case 'P': {
            const bool prev = cur.pos > cur.start && !cur.isSecond(cur.pos - 1) &&
                              isWordClass(static_cast<unsigned char>(cur.pos[-1]));
            const bool next = cur.pos < cur.end && isWordClass(static_cast<unsigned char>(*cur.pos));
            done = 1;
            if (type == 'b') ok = prev != next;
            else if (type == 'B') ok = prev == next;
            else if (type == 'P') ok = prev && next;
            else ok = !(prev && next);
            break;
        }
        case 'c':
        case 'C': {
            int len;
            const int prevCode = cur.pos == cur.start ? 0 : cur.codeBefore(cur.pos, &len);
            const int nextCode = cur.pos >= cur.end ? 0 : cur.codeAt(cur.pos, &len);
            const int a = charType(prevCode), b = charType(nextCode);
            const bool same = a == b && a != 0;
            done = 1;
            ok = type == 'C' ? same : !same;
            break;
        }
        case 'd': case 'D': case 's': case 'S': case 'w': case 'W': {
            if (classConsume(cur, cur.pos, backward) < 0) break;
            cur.pos += backward ? -1 : 1;
            done = 1;
            return 1;
        }
        default:
            internalErrorCode(699);
    }
    cur.pos = p;
    if (ok) done = 1;
    return ok;
}

void LSpRex::dump(LString& out, int depth) const {
    indent(out, depth);
    out.appendFormat("cmp: typ='%c' spRev=%d btc=%d\n", type, reverse, done);
    if (body) body->dump(out, depth + 1);
}

void LSpRex::forEachChild(void (*fn)(const LRex*, void*), void* ctx) const {
    if (body) fn(body.get(), ctx);
}

// ---- LBraceRex ----

LBraceRex::LBraceRex(LRexContext& ctx, std::unique_ptr<LRex> b, int n) : body(std::move(b)), number(n) {
    adoptContext(this, ctx);
}

LBraceRex::~LBraceRex() { blockFree(name); }

void LBraceRex::setName(const char* text) {
    blockFree(name);
    name = blockStrdup(text);
}

int LBraceRex::match(LRexCursor& cur, int backward) {
    const char* s = cur.pos;
    const int r = body->match(cur, backward);
    if (r && cur.captures && number >= 0) {
        cur.captures->extendTo(number + 1);
        LRexCapture* e = (*cur.captures)[number];
        e->start = s < cur.pos ? s : cur.pos;
        e->length = static_cast<int32_t>(s < cur.pos ? cur.pos - s : s - cur.pos);
        e->name = name;
    }
    return r;
}

void LBraceRex::dump(LString& out, int depth) const {
    indent(out, depth);
    out.appendFormat("brace: %d name='%s'\n", number, name ? name : "");
    body->dump(out, depth + 1);
}

void LBraceRex::forEachChild(void (*fn)(const LRex*, void*), void* ctx) const { fn(body.get(), ctx); }

// ---- LSeqRex ----

void LSeqRex::adopt(LRexContext& ctx) { adoptContext(this, ctx); }

LSeqRex::LSeqRex(LRexContext& ctx, std::vector<std::unique_ptr<LRex>> nodes) {
    if (nodes.size() < 2) internalErrorCode(481);
    adoptContext(this, ctx);
    // The pairs are made outermost first, as a recursive build would make them.
    const size_t n = nodes.size();
    LSeqRex* cur = this;
    cur->head = std::move(nodes[0]);
    for (size_t i = 1; i + 1 < n; ++i) {
        std::unique_ptr<LSeqRex> s(new LSeqRex(ctx));
        s->head = std::move(nodes[i]);
        s->parent_ = cur;
        LSeqRex* raw = s.get();
        cur->rest = std::move(s);
        cur->next_ = raw;
        cur = raw;
    }
    cur->rest = std::move(nodes[n - 1]);
    if (cur->rest->kind() == 3) {
        cur->next_ = static_cast<LSeqRex*>(cur->rest.get());
        cur->next_->parent_ = cur;
    }
}

LSeqRex::~LSeqRex() {
    // Unlink the chain first so that destruction never recurses along it.
    next_ = nullptr;
    std::unique_ptr<LRex> r = std::move(rest);
    while (r && r->kind() == 3) {
        static_cast<LSeqRex*>(r.get())->next_ = nullptr;
        std::unique_ptr<LRex> after = std::move(static_cast<LSeqRex*>(r.get())->rest);
        r.reset();
        r = std::move(after);
    }
}

void LSeqRex::reset() {
    for (LSeqRex* s = this; s; s = s->next()) {
        if (s->clean_) return;
        s->clean_ = true;
        s->head->reset();
        s->headMark.set = false;
        s->restMark.set = false;
        if (!s->next()) s->rest->reset();
    }
}

int LSeqRex::isMulti() const {
    for (const LSeqRex* s = this; s; s = s->next()) {
        if (s->head->isMulti()) return 1;
        if (!s->next()) return s->rest->isMulti();
    }
    return 0;
}

int LSeqRex::match(LRexCursor& cur, int backward) {
    if (!cur.step()) return 0;
    return backward ? matchBackward(cur) : matchForward(cur);
}

// Forward: the head is asked first, the rest (a further pair of the chain, or
// the last node) varies fastest. The loop below is the recursive definition
// with the chain's levels walked by n and its returns by parent_.
int LSeqRex::matchForward(LRexCursor& cur) {
    LSeqRex* n = this;
    int ret;
enter:
    n->clean_ = false;
    if (!n->headMark.set) n->headMark = cur.mark();
next_way:
    if (!n->restMark.set) {
        if (!cur.step() || !n->head->match(cur, 0)) {
            ret = 0;
            goto leave;
        }
        n->rest->reset();
        n->restMark = cur.mark();
    } else {
        cur.restore(n->restMark);
    }
    if (n->next()) {
        n = n->next();
        goto enter;
    }
    ret = n->rest->match(cur, 0);
after_rest:
    if (ret) goto leave;
    n->restMark.set = false;
    cur.restore(n->headMark);
    goto next_way;
leave:
    if (n == this) return ret;
    n = n->parent_;
    goto after_rest;
}

// Backward: the roles swap; the rest is matched first (moving back), then the head.
int LSeqRex::matchBackward(LRexCursor& cur) {
    LSeqRex* n = this;
    int ret;
enter:
    n->clean_ = false;
    if (!n->restMark.set) n->restMark = cur.mark();
next_way:
    if (n->headMark.set) {
        cur.restore(n->headMark);
        goto try_head;
    }
    if (n->next()) {
        n = n->next();
        goto enter;
    }
    ret = cur.step() && n->rest->match(cur, 1);
after_rest:
    if (!ret) goto leave;
    n->head->reset();
    n->headMark = cur.mark();
try_head:
    if (n->head->match(cur, 1)) {
        ret = 1;
        goto leave;
    }
    n->headMark.set = false;
    cur.restore(n->restMark);
    goto next_way;
leave:
    if (n == this) return ret;
    n = n->parent_;
    goto after_rest;
}

void LSeqRex::dump(LString& out, int depth) const {
    for (const LSeqRex* s = this; s; s = s->next(), ++depth) {
        indent(out, depth);
        out.appendFormat("seq: st=%c,%c\n", s->headMark.set ? 'Y' : 'N', s->restMark.set ? 'Y' : 'N');
        s->head->dump(out, depth + 1);
        if (!s->next()) s->rest->dump(out, depth + 1);
    }
}

void LSeqRex::forEachChild(void (*fn)(const LRex*, void*), void* ctx) const {
    fn(head.get(), ctx);
    fn(rest.get(), ctx);
}

// ---- LOrRex ----

LOrRex::LOrRex(LRexContext& ctx, std::vector<std::unique_ptr<LRex>> alts) : alternatives(std::move(alts)) {
    adoptContext(this, ctx);
}

void LOrRex::reset() {
    next = 0;
    for (auto& a : alternatives) a->reset();
}

int LOrRex::match(LRexCursor& cur, int backward) {
    if (!cur.step()) return 0;
    if (cur.atomicDepth > 0 && next >= 1) return 0;
    for (int i = next; i < static_cast<int>(alternatives.size()); ++i) {
        if (alternatives[i]->match(cur, backward)) {
            next = i + 1;
            return 1;
        }
    }
    return 0;
}

void LOrRex::dump(LString& out, int depth) const {
    indent(out, depth);
    out.appendFormat("or: next_idx=%d\n", next);
    for (auto& a : alternatives) a->dump(out, depth + 1);
}

void LOrRex::forEachChild(void (*fn)(const LRex*, void*), void* ctx) const {
    for (auto& a : alternatives) fn(a.get(), ctx);
}

// ---- LRepRex ----

bool rexIsPlainOneWay(const LRex* node) {
    if (node->ignore) return false;
    if (dynamic_cast<const LFlatRex*>(node) || dynamic_cast<const LCharsRex*>(node) ||
        dynamic_cast<const LEmptyRex*>(node)) {
        return true;
    }
    if (auto* sp = dynamic_cast<const LSpRex*>(node)) return !sp->body && sp->type != '>';
    if (auto* br = dynamic_cast<const LBraceRex*>(node)) return br->number < 0 && rexIsPlainOneWay(br->body.get());
    return false;
}

LRepRex::LRepRex(LRexContext& ctx, std::unique_ptr<LRex> b, int mn, int mx, int lz)
    : body(std::move(b)), min(mn), max(mx), lazy(lz) {
    adoptContext(this, ctx);
    memo_ = rexIsPlainOneWay(body.get());
    if (memo_ && !body->ignore) {
        memoChars_ = dynamic_cast<const LCharsRex*>(body.get());
        auto* sp = dynamic_cast<const LSpRex*>(body.get());
        if (sp && sp->isClassEscape()) memoClass_ = sp;
    }
    reset();
}

void LRepRex::reset() {
    lazyCount = -1;
    while (tries.count() > 1) tries.removeAt(tries.count() - 1);
    if (tries.count() == 0) tries.add(0);
    tries[0] = 0;
    body->reset();
    ends_.clear();
    memoStop_ = -1;
    memoCur_ = -1;
    memoDone_ = false;
    memoBase_ = nullptr;
    yielded_ = false;
}

const char* LRepRex::deadRunEnd() const {
    if (!stepsOneCharacter() || !hasFollow_ || !memoDone_ || yielded_ || !forward_) return nullptr;
    const int k = static_cast<int>(ends_.size());
    if (memoStop_ != k || memoStopKind_ != 0 || k >= max) return nullptr;
    return memoBase_ + (k == 0 ? 0 : ends_[k - 1]);
}

int LRepRex::match(LRexCursor& cur, int backward) {
    if (!cur.step()) return 0;
    const bool memo = memo_ && g_rexShortcuts;
    if (lazy && !backward) return memo ? matchLazyMemo(cur) : matchLazy(cur);
    return memo ? matchGreedyMemo(cur, backward) : matchGreedy(cur, backward);
}

static void truncateTries(LArray& tries, int n) {
    while (tries.count() > n) tries.removeAt(tries.count() - 1);
}

int LRepRex::matchGreedy(LRexCursor& cur, int backward) {
    if (tries.count() == 0) return 0;
    if (cur.atomicDepth > 0 && tries[0] >= 1) return 0;
    tries[tries.count() - 1] += 1;
    if (max < 1) {
        truncateTries(tries, 0);
        return min <= 0;
    }
    const char* p0 = cur.pos;
    for (int i = 0;;) {
        if (tries.count() <= i) tries.add(1);
        const char* q = cur.pos;
        body->reset();
        const LRexMark m = cur.mark();
        const int replays = static_cast<int>(tries[i]) - 1;
        for (int t = 0; t < replays; ++t) {
            if (!cur.step() || !body->match(cur, backward)) {
                // A way found before no longer matches (its body reads captures
                // that have changed since), or the budget is used up: either way
                // there is no further way.
                truncateTries(tries, 0);
                cur.pos = p0;
                return 0;
            }
            cur.restore(m);
        }
        if (!cur.step()) {
            truncateTries(tries, 0);
            cur.pos = p0;
            return 0;
        }
        if (!body->match(cur, backward) || cur.pos == q) {
            cur.pos = q;
            truncateTries(tries, i);
            if (i >= min) return 1;
            cur.pos = p0;
            return 0;
        }
        ++i;
        if (i >= max) {
            truncateTries(tries, i);
            if (i >= min) return 1;
            cur.pos = p0;
            return 0;
        }
    }
}

int LRepRex::matchLazy(LRexCursor& cur) {
    if (lazyCount >= 0 && lazyCount >= max) return 0;
    lazyCount = lazyCount == -1 ? min : lazyCount + 1;
    const char* p0 = cur.pos;
    int count = 0;
    while (count < lazyCount) {
        body->reset();
        const char* q = cur.pos;
        if (!cur.step() || !body->match(cur, 0)) break;
        if (cur.pos == q) {
            if (lazyCount >= min) count = min;
            break;
        }
        ++count;
    }
    if (count == lazyCount) return 1;
    lazyCount = max;
    cur.pos = p0;
    return 0;
}

int LRepRex::memoIteration(LRexCursor& cur, int i, int backward) {
    if (i < static_cast<int>(ends_.size())) return 1;
    if (i == memoStop_) return memoStopKind_;
    if (!cur.step()) return 0;  // not remembered: the search ends anyway
    // iteration i starts where iteration i - 1 ended
    cur.pos = memoBase_ + (i == 0 ? 0 : ends_[i - 1]);
    const char* q = cur.pos;
    if (memoChars_ || memoClass_) {
        // one character, without the node's match state
        const int n = memoChars_ ? memoChars_->consume(cur, q, backward) : memoClass_->classConsume(cur, q, backward);
        if (n < 0) {
            memoStop_ = i;
            memoStopKind_ = 0;
            return 0;
        }
        cur.pos = backward ? q - n : q + n;
        ends_.push_back(static_cast<int32_t>(cur.pos - memoBase_));
        return 1;
    }
    body->reset();
    if (!body->match(cur, backward)) {
        memoStop_ = i;
        memoStopKind_ = 0;
        return 0;
    }
    if (cur.pos == q) {
        memoStop_ = i;
        memoStopKind_ = 2;
        return 2;
    }
    ends_.push_back(static_cast<int32_t>(cur.pos - memoBase_));
    return 1;
}

// The designed greedy generator for a body with one way yields max-possible,
// then one iteration less per call down to min, then nothing; each way is
// produced here from the remembered iteration ends.
void LRepRex::setFollow(const LRexByteSet* follow) {
    hasFollow_ = follow != nullptr;
    if (follow) follow_ = *follow;
}

// Whether what follows can start where the given number of iterations ends.
bool LRepRex::viable(const LRexCursor& cur, int iterations) const {
    const char* p = memoBase_ + (iterations == 0 ? 0 : ends_[iterations - 1]);
    return p < cur.end && follow_.has(static_cast<unsigned char>(*p));
}

// The designed greedy generator for a body with one way yields max-possible,
// then one iteration less per call down to min, then nothing; each way is
// produced here from the remembered iteration ends. Ways after which what
// follows cannot start are passed over (forward only), as the sequence would
// reject each of them at once.
int LRepRex::matchGreedyMemo(LRexCursor& cur, int backward) {
    if (memoDone_) return 0;
    const char* p0 = cur.pos;
    const bool follow = hasFollow_ && !backward;
    if (memoCur_ < 0) {
        memoBase_ = p0;
        forward_ = !backward;
        int k = 0;
        if (max >= 1) {
            while (k < max && memoIteration(cur, k, backward) == 1) ++k;
        }
        if (k < min) {
            memoDone_ = true;
            cur.pos = p0;
            return 0;
        }
        memoCur_ = k;
        if (follow && !viable(cur, k)) {
            if (cur.atomicDepth > 0) {
                memoDone_ = true;
                cur.pos = p0;
                return 0;
            }
            goto next_way;
        }
    } else {
    next_way:
        for (;;) {
            if (cur.atomicDepth > 0 || memoCur_ <= min || memoCur_ == 0 || !cur.step()) {
                memoDone_ = true;
                cur.pos = p0;
                return 0;
            }
            --memoCur_;
            if (!follow || viable(cur, memoCur_)) break;
        }
    }
    cur.pos = memoBase_ + (memoCur_ == 0 ? 0 : ends_[memoCur_ - 1]);
    yielded_ = true;
    return 1;
}

int LRepRex::matchLazyMemo(LRexCursor& cur) {
    if (lazyCount >= 0 && lazyCount >= max) return 0;
    lazyCount = lazyCount == -1 ? min : lazyCount + 1;
    const char* p0 = cur.pos;
    if (!memoBase_) memoBase_ = p0;
    int count = 0;
    int moved = -1;
    while (count < lazyCount) {
        const int r = memoIteration(cur, count, 0);
        if (r == 1) {
            ++count;
            continue;
        }
        moved = count;
        if (r == 2 && lazyCount >= min) count = min;
        break;
    }
    if (moved < 0) moved = count;
    if (count == lazyCount) {
        cur.pos = memoBase_ + (moved == 0 ? 0 : ends_[moved - 1]);
        return 1;
    }
    lazyCount = max;
    cur.pos = p0;
    return 0;
}

void LRepRex::dump(LString& out, int depth) const {
    indent(out, depth);
    out.appendFormat("rep: modF=%d btRep=%d, %d-%d\n", lazy, lazyCount, min, max);
    body->dump(out, depth + 1);
}

void LRepRex::forEachChild(void (*fn)(const LRex*, void*), void* ctx) const { fn(body.get(), ctx); }

// ---- LRefRex ----

LRefRex::LRefRex(LRexContext& ctx, const char* n) : name(blockStrdup(n)) { adoptContext(this, ctx); }

LRefRex::~LRefRex() { blockFree(name); }

int LRefRex::match(LRexCursor& cur, int backward) {
    if (done) return 0;
    const char* p = cur.pos;
    skipIgnorable(cur);
    const char* target = nullptr;
    int targetLen = 0;
    if (flags & rexCustom) {
        if (g_rexCustomResolver) {
            target = g_rexCustomResolver(name, &targetLen);
            if (targetLen < 0) target = nullptr;
        } else {
            msg(Tx::rexMissingCustomFunction, name);
        }
    } else if (cur.captures) {
        if (name[0] >= '0' && name[0] <= '9') {
            const long idx = std::strtol(name, nullptr, 10) - 1;
            if (idx >= 0 && idx < cur.captures->count() && (*cur.captures)[static_cast<int>(idx)]->start) {
                const LRexCapture* e = (*cur.captures)[static_cast<int>(idx)];
                target = e->start;
                targetLen = e->length;
            }
        } else {
            for (const LRexCapture& e : *cur.captures) {
                if (e.start && e.name && std::strcmp(e.name, name) == 0) {
                    target = e.start;
                    targetLen = e.length;
                    break;
                }
            }
        }
    }
    if (target) {
        const int consumed = rexCompareText(cur, target, targetLen, flags, backward);
        if (consumed >= 0) return finishOneWay(cur, p, consumed, backward, done);
    } else if (!warned) {
        msg(Tx::rexMissingReference, name);
        warned = 1;
    }
    cur.pos = p;
    return 0;
}

void LRefRex::dump(LString& out, int depth) const {
    indent(out, depth);
    out.appendFormat("ref: '%s' btc=%d\n", name, done);
}

// ---- LEmptyRex ----

LEmptyRex::LEmptyRex(LRexContext& ctx) { adoptContext(this, ctx); }

int LEmptyRex::match(LRexCursor&, int) {
    if (done) return 0;
    done = 1;
    return 1;
}

void LEmptyRex::dump(LString& out, int depth) const {
    indent(out, depth);
    out.appendFormat("empty: btc=%d\n", done);
}

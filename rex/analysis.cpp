// First-byte analysis of the node classes and the search plan made from it.
//
// The analysis of a node says which bytes can stand at a given offset from
// where it starts matching; its only use is to skip start positions, so it
// must never rule out a start at which the tree matches. Where that is hard to
// describe it gives up (answers 0): a node that skips an ignore pattern knows
// nothing beyond offset 0, a set that contains LF also admits CR (a CR LF pair
// reads as LF), case folding of double-byte letters admits both second bytes,
// and a negated set at offset 2 or more leaves both one and two bytes over.
#include "rex/plan.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/chars.h"
#include "rex/fold.h"

LRex::LRex() = default;

int LRex::analyzeFirst(int, LRexByteSet&, LRexOffsets&, bool) const { return 0; }

int LRex::firstBytes(int offset, LString& bytes, LArray& rest) const {
    LRexByteSet set;
    LRexOffsets left;
    const int ok = analyzeFirst(offset, set, left, false);
    for (int b = 0; b < 256; ++b) {
        if (set.has(b)) bytes.appendChar(static_cast<char>(b));
    }
    for (int i = 0; i < left.count(); ++i) rest.add(left[i]);
    return ok;
}

int LRex::withIgnore(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended, int own) const {
    if (!ignore || !own) return own;
    if (offset > 0) return 0;
    LRexOffsets ignoreRest;
    (void)rest;
    return ignore->analyzeFirst(0, bytes, ignoreRest, extended);
}

// ---- per class ----

int LFlatRex::analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const {
    if (flags & rexIgnoreWidth) return 0;
    const LCharRules& rules = charRules();
    const int n = text.len();
    // A text that ends in a cut-off character may take more bytes of the text.
    if (endsCutOff(rules, text.data(), n)) return 0;
    // Walk the characters to the one that holds offset.
    int i = 0, len = 1, code = 0;
    while (i < n) {
        code = charCodeAt(rules, text.data() + i, text.data() + n, &len);
        if (offset < i + len) break;
        i += len;
    }
    if (i >= n) {
        rest.add(offset - n);
        return withIgnore(offset, bytes, rest, extended, 1);
    }
    bytes.add(static_cast<unsigned char>(text[offset]));
    if (flags & rexIgnoreCase) {
        // the same byte of each case form, which has the same length
        for (int form : {rexLower(code), rexUpper(code)}) {
            char enc[4];
            if (form == code) continue;
            if (encodeChar(form, enc) != len) return 0;
            bytes.add(static_cast<unsigned char>(enc[offset - i]));
        }
    }
    return withIgnore(offset, bytes, rest, extended, 1);
}

namespace {

// A set's ranges in UTF-8: the first bytes of its characters at offset 0; at
// later offsets the bytes inside its longer characters (a continuation byte,
// or the exact byte of a range of one character) and the offsets left for
// what follows its characters.
int utf8SetFirst(const std::vector<LCharsRex::Range>& ranges, int offset, LRexByteSet& bytes, LRexOffsets& rest) {
    for (const LCharsRex::Range& r : ranges) {
        if (r.lo > r.hi) continue;
        // one-byte characters: ASCII and the codes of invalid bytes
        const bool ascii = r.lo <= 0x7F;
        const int ilo = r.lo > kInvalidByteCode + 0x80 ? r.lo : kInvalidByteCode + 0x80;
        const int ihi = r.hi < kInvalidByteCode + 0xFF ? r.hi : kInvalidByteCode + 0xFF;
        const bool invalid = ilo <= ihi;
        // characters of two to four bytes
        const int vlo = r.lo > 0x80 ? r.lo : 0x80;
        const int vhi = r.hi < 0x10FFFF ? r.hi : 0x10FFFF;
        const bool multi = vlo <= vhi;
        if (offset == 0) {
            if (ascii) {
                bytes.addRange(r.lo < 0 ? 0 : r.lo, r.hi < 0x7F ? r.hi : 0x7F);
                if (r.lo <= 10 && 10 <= r.hi) bytes.add(13);  // CR LF reads as LF
            }
            if (invalid) bytes.addRange(ilo - kInvalidByteCode, ihi - kInvalidByteCode);
            if (multi) {
                // the first byte grows with the code point (surrogates give ED)
                char a[4], b[4];
                const int lo = vlo >= 0xD800 && vlo <= 0xDFFF ? 0xE000 : vlo;
                const int hi = vhi >= 0xD800 && vhi <= 0xDFFF ? 0xD7FF : vhi;
                if (lo <= hi && encodeChar(lo, a) > 0 && encodeChar(hi, b) > 0) {
                    bytes.addRange(static_cast<unsigned char>(a[0]), static_cast<unsigned char>(b[0]));
                }
            }
            continue;
        }
        if (ascii || invalid) rest.addUnique(offset - 1);
        if (!multi) continue;
        if (vlo == vhi) {
            char e[4];
            const int n = encodeChar(vlo, e);
            if (n == 0) continue;
            if (offset < n) {
                bytes.add(static_cast<unsigned char>(e[offset]));
            } else {
                rest.addUnique(offset - n);
            }
            continue;
        }
        const int shortest = vlo < 0x800 ? 2 : vlo < 0x10000 ? 3 : 4;
        const int longest = vhi < 0x800 ? 2 : vhi < 0x10000 ? 3 : 4;
        for (int n = shortest; n <= longest; ++n) {
            if (offset < n) {
                bytes.addRange(0x80, 0xBF);
            } else {
                rest.addUnique(offset - n);
            }
        }
    }
    return 1;
}

}  // namespace

int LCharsRex::analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const {
    if (flags & (rexIgnoreCase | rexIgnoreWidth)) return 0;
    if (charRules().utf8) {
        if (negated) {
            // any character: one to four bytes
            if (offset == 0) return 0;
            return withIgnore(offset, bytes, rest, extended, utf8SetFirst({{0, 0x10FFFF}, {kInvalidByteCode + 0x80, kInvalidByteCode + 0xFF}}, offset, bytes, rest));
        }
        return withIgnore(offset, bytes, rest, extended, utf8SetFirst(ranges, offset, bytes, rest));
    }
    if (negated) {
        if (offset <= 1) return 0;
        rest.addUnique(offset - 1);
        rest.addUnique(offset - 2);
        return withIgnore(offset, bytes, rest, extended, 1);
    }
    for (const Range& r : ranges) {
        const bool single = r.lo <= 255 && r.lo <= r.hi;
        const int dlo = r.lo < 256 ? 256 : r.lo;
        const bool dbl = r.hi >= 256 && dlo <= r.hi;
        if (offset == 0) {
            if (single) {
                const int top = r.hi < 255 ? r.hi : 255;
                for (int b = r.lo < 0 ? 0 : r.lo; b <= top; ++b) bytes.add(b);
                if (r.lo <= 10 && 10 <= r.hi) bytes.add(13);  // CR LF reads as LF
            }
            if (dbl) {
                const int top = (r.hi >> 8) > 255 ? 255 : (r.hi >> 8);
                for (int b = dlo >> 8; b <= top; ++b) bytes.add(b);
            }
        } else if (offset == 1) {
            if (dbl) {
                if (dlo != r.hi) return 0;
                bytes.add(r.hi & 0xFF);
            }
            if (single) rest.addUnique(0);
        } else {
            if (single) rest.addUnique(offset - 1);
            if (dbl) rest.addUnique(offset - 2);
        }
    }
    return withIgnore(offset, bytes, rest, extended, 1);
}

int LSpRex::analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const {
    if (isZeroWidth()) {
        rest.addUnique(offset);
        return 1;
    }
    if (type == '>') {
        const int own = body ? body->analyzeFirst(offset, bytes, rest, extended) : 0;
        return withIgnore(offset, bytes, rest, extended, own);
    }
    if (!extended || !isClassEscape()) return 0;
    if (offset > 0) {
        rest.addUnique(offset - 1);
        return withIgnore(offset, bytes, rest, extended, 1);
    }
    const LCharRules& rules = charRules();
    for (int b = 0; b < 256; ++b) {
        // a Shift-JIS lead byte always starts two bytes (but at the end, where
        // it is no class member either); in UTF-8 any byte may stand alone
        if (rules.width[b] != 1 && !rules.utf8) continue;
        int earned;
        if (type == 'd' || type == 'D') {
            earned = (g_charClass[b] & kClassDigit) ? 'd' : 'D';
        } else if (type == 's' || type == 'S') {
            earned = (b == ' ' || b == 12 || b == 10 || b == 13 || b == 9 || b == 11 || b == 0) ? 's' : 'S';
        } else {
            earned = (g_charClass[b] & kClassWord) ? 'w' : 'W';
        }
        if (earned == type) bytes.add(b);
    }
    return withIgnore(offset, bytes, rest, extended, 1);
}

int LBraceRex::analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const {
    return body->analyzeFirst(offset, bytes, rest, extended);
}

int LSeqRex::analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const {
    // Each part is asked the offsets the parts before it left over.
    LRexOffsets asked;
    asked.add(offset);
    for (const LSeqRex* s = this; s; s = s->next()) {
        LRexOffsets left;
        for (int i = 0; i < asked.count(); ++i) {
            if (!s->head->analyzeFirst(asked[i], bytes, left, extended)) return 0;
        }
        if (left.count() > 30) return 0;
        if (left.empty()) return 1;
        if (!s->next()) {
            for (int i = 0; i < left.count(); ++i) {
                if (!s->rest->analyzeFirst(left[i], bytes, rest, extended)) return 0;
            }
            return 1;
        }
        asked.clear();
        for (int i = 0; i < left.count(); ++i) asked.addUnique(left[i]);
    }
    return 1;
}

int LOrRex::analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const {
    for (auto& a : alternatives) {
        LRexOffsets left;
        if (!a->analyzeFirst(offset, bytes, left, extended)) return 0;
        for (int i = 0; i < left.count(); ++i) rest.addUnique(left[i]);
    }
    return 1;
}

int LRepRex::analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const {
    if (max < 1) {
        rest.addUnique(offset);  // matches the empty text only
        return 1;
    }
    if (min < 1) rest.addUnique(offset);
    const int r = body->analyzeFirst(offset, bytes, rest, extended);
    return r && offset == 0;
}

// ---- the plan ----

bool rexFilterTable(const LRex* root, int k, bool extended, LRexByteSet& table) {
    LRexOffsets rest;
    if (!root->analyzeFirst(k, table, rest, extended)) return false;
    if (!rest.empty()) return false;
    const int n = table.count();
    if (n == 0) return false;
    if (!extended && n >= 31) return false;
    if (root->ignore) {
        // ignorable text may stand before the match
        LRexOffsets irest;
        if (!root->ignore->analyzeFirst(0, table, irest, extended) || !irest.empty()) return false;
        if (!extended && table.count() >= 31) return false;
    }
    return true;
}

namespace {

struct Walk {
    bool hasRef = false;
    std::vector<const LRex*> stack;
    std::vector<const LRex*> ignores;
    std::vector<LRepRex*> heads;  // repetitions that start a sequence step
    std::vector<const LRex*> rests;  // what follows each of them
};

void pushChild(const LRex* child, void* ctx) { static_cast<Walk*>(ctx)->stack.push_back(child); }

// Walks the whole tree (ignore patterns included, each once): notes whether it
// holds a reference and which repetitions are followed by what.
void walkTree(const LRex* root, Walk& w) {
    w.stack.push_back(root);
    while (!w.stack.empty()) {
        const LRex* n = w.stack.back();
        w.stack.pop_back();
        if (dynamic_cast<const LRefRex*>(n)) w.hasRef = true;
        if (auto* s = dynamic_cast<const LSeqRex*>(n)) {
            if (auto* rep = dynamic_cast<LRepRex*>(s->head.get())) {
                w.heads.push_back(rep);
                w.rests.push_back(s->rest.get());
            }
        }
        if (n->ignore) {
            bool seen = false;
            for (const LRex* i : w.ignores) seen = seen || i == n->ignore;
            if (!seen) {
                w.ignores.push_back(n->ignore);
                w.stack.push_back(n->ignore);
            }
        }
        n->forEachChild(pushChild, &w);
    }
}

// The bytes what follows must start with, looking at its first piece only;
// false when it may match empty or is not described.
bool followSet(const LRex* rest, LRexByteSet& set) {
    const LRex* first = rest->kind() == 3 ? static_cast<const LSeqRex*>(rest)->head.get() : rest;
    LRexOffsets left;
    return first->analyzeFirst(0, set, left, true) && left.empty() && set.count() > 0;
}

// Adds the literals that every match of node contains, consumed forward (never
// one inside a lookaround). Walks sequence chains by a loop and groups by
// recursion (bounded by the nesting limit).
void requiredLiterals(const LRex* node, std::vector<LString>& found) {
    for (;;) {
        if (auto* f = dynamic_cast<const LFlatRex*>(node)) {
            if (f->flags & (rexIgnoreCase | rexIgnoreWidth)) return;
            const int n = f->text.len();
            if (endsCutOff(charRules(), f->text.data(), n)) return;
            if (n > 0) found.emplace_back(f->text);
            return;
        }
        if (auto* b = dynamic_cast<const LBraceRex*>(node)) {
            node = b->body.get();
            continue;
        }
        if (auto* r = dynamic_cast<const LRepRex*>(node)) {
            if (r->min < 1 || r->max < 1) return;
            node = r->body.get();
            continue;
        }
        if (auto* sp = dynamic_cast<const LSpRex*>(node)) {
            if (sp->type != '>' || !sp->body) return;
            node = sp->body.get();
            continue;
        }
        if (auto* s = dynamic_cast<const LSeqRex*>(node)) {
            const LSeqRex* q = s;
            for (;;) {
                requiredLiterals(q->head.get(), found);
                if (q->rest->kind() == 3) {
                    q = static_cast<const LSeqRex*>(q->rest.get());
                    continue;
                }
                node = q->rest.get();
                break;
            }
            continue;
        }
        return;
    }
}

}  // namespace

const LRexPlan& rexPlan(LRex* root) {
    if (!root->root) root->root = std::make_unique<LRexRoot>();
    std::unique_ptr<LRexPlan>& slot = root->root->plan;
    if (slot && slot->charSet == g_charSet) return *slot;
    auto plan = std::make_unique<LRexPlan>();
    plan->charSet = g_charSet;
    Walk walk;
    walkTree(root, walk);
    plan->hasRef = walk.hasRef;
    for (size_t i = 0; i < walk.heads.size(); ++i) {
        LRexByteSet set;
        const bool ok = !plan->hasRef && !walk.heads[i]->lazy && followSet(walk.rests[i], set);
        walk.heads[i]->setFollow(ok ? &set : nullptr);
    }
    plan->rootIgnore = root->ignore != nullptr;
    // With references in the tree the search keeps to the filter rules exactly
    // (matching may warn); without, any sound skipping is unobservable.
    const bool extended = !plan->hasRef;
    for (int k = 0; k < 3; ++k) plan->allowAll[k] = !rexFilterTable(root, k, extended, plan->table[k]);
    // After ignorable text the match starts anywhere: only offset 0 is known.
    if (plan->rootIgnore) plan->allowAll[1] = plan->allowAll[2] = true;
    if (!plan->allowAll[0]) {
        const int n = plan->table[0].count();
        if (n <= 2) {
            int found = 0;
            for (int b = 0; b < 256 && found < n; ++b) {
                if (plan->table[0].has(b)) plan->scanBytes[found++] = static_cast<unsigned char>(b);
            }
            plan->scan = n == 1 ? LRexPlan::kScanOneByte : LRexPlan::kScanTwoBytes;
        } else {
            plan->scan = LRexPlan::kScanTable;
        }
    }
    if (!plan->hasRef && root->kind() != 1) {
        // A literal that is the whole pattern is found by the scan itself; of
        // the others the longest few are checked, each once.
        std::vector<LString> found;
        requiredLiterals(root, found);
        std::stable_sort(found.begin(), found.end(), [](const LString& a, const LString& b) { return a.len() > b.len(); });
        for (const LString& f : found) {
            if (plan->required.size() >= 4) break;
            bool seen = false;
            for (const LString& r : plan->required) seen = seen || (r.len() == f.len() && std::memcmp(r.data(), f.data(), f.len()) == 0);
            if (!seen) plan->required.push_back(f);
        }
    }
    if (!plan->hasRef && !plan->rootIgnore && root->kind() == 3) {
        auto* rep = dynamic_cast<LRepRex*>(static_cast<LSeqRex*>(root)->head.get());
        if (rep && !rep->lazy && rep->stepsOneCharacter() && rep->hasFollow()) plan->skipRep = rep;
    }
    slot = std::move(plan);
    return *slot;
}

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
    const bool* lead = rexLeadTable();
    const int n = text.len();
    // Walk the characters to the one that holds offset.
    int i = 0, len = 1;
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        len = (lead[b] && i + 1 < n) ? 2 : 1;
        if (offset < i + len) break;
        i += len;
    }
    if (i >= n) {
        // A text that ends in a lone lead byte may take one more byte of the text.
        if (n > 0 && len == 1 && lead[static_cast<unsigned char>(text[n - 1])]) return 0;
        rest.add(offset - n);
        return withIgnore(offset, bytes, rest, extended, 1);
    }
    const unsigned char b = static_cast<unsigned char>(text[offset]);
    bytes.add(b);
    if (flags & rexIgnoreCase) {
        if (len == 1) {
            bytes.add(rexLower(b));
            bytes.add(rexUpper(b));
        } else {
            const int code = (static_cast<unsigned char>(text[i]) << 8) | static_cast<unsigned char>(text[i + 1]);
            const int forms[2] = {rexLower(code), rexUpper(code)};
            for (int f : forms) bytes.add(offset == i ? (f >> 8) & 0xFF : f & 0xFF);
        }
    }
    return withIgnore(offset, bytes, rest, extended, 1);
}

int LCharsRex::analyzeFirst(int offset, LRexByteSet& bytes, LRexOffsets& rest, bool extended) const {
    if (flags & (rexIgnoreCase | rexIgnoreWidth)) return 0;
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
    const bool* lead = rexLeadTable();
    for (int b = 0; b < 256; ++b) {
        if (lead[b]) continue;
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
            const bool* lead = rexLeadTable();
            const int n = f->text.len();
            int i = 0, len = 1;
            while (i < n) {
                len = (lead[static_cast<unsigned char>(f->text[i])] && i + 1 < n) ? 2 : 1;
                i += len;
            }
            if (n > 0 && len == 1 && lead[static_cast<unsigned char>(f->text[n - 1])]) return;
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

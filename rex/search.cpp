// The search over start positions, and rexFind.
//
// Candidates are the character starts from the first offset on (a start never
// lies inside a character). The plan of the root (rex/plan.h) rules out starts
// by their first three bytes; the next start whose first byte is allowed is
// found by memchr or a table scan, and whether it is a character start is
// decided by base/chars.h from the bytes before it, never reaching back past
// the last known character start.
#include "rex/search.h"

#include <atomic>
#include <cstring>

#include "base/msg.h"

#include "rex/plan.h"

namespace {
std::atomic<int> g_stepLimit{kRexDefaultStepLimit};
}  // namespace

int rexStepLimit() { return g_stepLimit.load(std::memory_order_relaxed); }

void rexSetStepLimit(int steps) { g_stepLimit.store(steps < 1000 ? 1000 : steps, std::memory_order_relaxed); }

LRexSearch::LRexSearch(LRex* r) : rex(r), stepLimit(rexStepLimit()) {}

namespace {

// Next offset >= from and < limit whose byte is allowed at offset 0, or limit.
class Scanner {
public:
    Scanner(const char* text, const LRexPlan& plan) : text_(text), plan_(plan) {}

    int next(int from, int limit) {
        if (from >= limit) return limit;
        switch (plan_.scan) {
            case LRexPlan::kScanOneByte: {
                const void* p = std::memchr(text_ + from, plan_.scanBytes[0], limit - from);
                return p ? static_cast<int>(static_cast<const char*>(p) - text_) : limit;
            }
            case LRexPlan::kScanTwoBytes: {
                // Each byte's next position is kept until the scan passes it.
                for (int i = 0; i < 2; ++i) {
                    if (cache_[i] < from) {
                        const void* p = std::memchr(text_ + from, plan_.scanBytes[i], limit - from);
                        cache_[i] = p ? static_cast<int>(static_cast<const char*>(p) - text_) : limit;
                    }
                }
                const int p = cache_[0] < cache_[1] ? cache_[0] : cache_[1];
                return p < limit ? p : limit;
            }
            case LRexPlan::kScanTable: {
                const LRexByteSet& t = plan_.table[0];
                for (int i = from; i < limit; ++i) {
                    if (t.has(static_cast<unsigned char>(text_[i]))) return i;
                }
                return limit;
            }
            default:
                return from;
        }
    }

private:
    const char* text_;
    const LRexPlan& plan_;
    int cache_[2] = {-1, -1};
};

}  // namespace

int LRexSearch::find(const char* text, int lastStart, int length, int nth, int from) {
    matchStart = nullptr;
    matchLength = 0;
    gaveUp = false;
    stepsTaken = 0;
    captures.clear();
    if (length < 0) length = static_cast<int>(std::strlen(text));
    if (lastStart < 0 || lastStart > length) lastStart = length;
    if (from < 0) from = 0;
    if (!rex || rex->kind() == 2) return -1;
    const LRexPlan& plan = rexPlan(rex);
    // every literal that a match must contain is in the text somewhere
    if (g_rexShortcuts) {
        for (const LString& r : plan.required) {
            if (from > length || !memmem(text + from, length - from, r.data(), r.len())) return -1;
        }
    }
    LRexCursor cur(text, length, &captures);
    cur.setBudget(stepLimit);
    const LCharRules& rules = *cur.rules;
    const char* const end = text + length;
    auto step = [&](int at) {
        if (at >= length) return 1;
        int len = 1;
        if (rules.width[static_cast<unsigned char>(text[at])] != 1) charCodeAt(rules, text + at, end, &len);
        return len;
    };
    const bool filter = g_rexShortcuts && (!plan.hasRef || length >= 101);
    Scanner scanner(text, plan);
    int best = -1, bestLength = 0;
    int remaining = nth;
    int c = from;
    while (c <= lastStart) {
        if (filter && c < lastStart) {
            if (!plan.allowAll[0] && !plan.table[0].has(static_cast<unsigned char>(text[c]))) {
                // c is a character start; the next start at or after p is p
                // itself unless p lies inside a character that began after c.
                const int p = scanner.next(c + 1, lastStart);
                c = p >= length ? p : static_cast<int>(charStartFrom(rules, text + c, text + p, end) - text);
                continue;
            }
            if ((!plan.allowAll[1] && c + 1 < lastStart && !plan.table[1].has(static_cast<unsigned char>(text[c + 1]))) ||
                (!plan.allowAll[2] && c + 2 < lastStart && !plan.table[2].has(static_cast<unsigned char>(text[c + 2])))) {
                c += step(c);
                continue;
            }
        }
        if (!cur.step()) break;
        rex->reset();
        cur.pos = text + c;
        cur.atomicDepth = 0;
        if (plan.rootIgnore) rex->skipIgnorable(cur);
        const int s = static_cast<int>(cur.pos - text);
        const int matched = rex->match(cur, 0);
        if (!matched && plan.skipRep && g_rexShortcuts) {
            // the starts inside the run of the leading repetition fail as well
            const char* e = plan.skipRep->deadRunEnd();
            if (e && e > text + s) {
                c = static_cast<int>(e - text);
                continue;
            }
        }
        if (matched) {
            const int len = static_cast<int>(cur.pos - (text + s));
            if (nth == -2) {
                if (s + len > best + bestLength) {
                    best = s;
                    bestLength = len;
                }
            } else {
                best = s;
                bestLength = len;
                if (nth > 0 && --remaining == 0) break;
            }
        }
        c = s + step(s);
    }
    stepsTaken = stepLimit - (cur.stepsLeft < 0 ? 0 : cur.stepsLeft);
    if (cur.stepsLeft < 0) {
        giveUp();
        return -1;
    }
    if (best >= 0) {
        matchStart = text + best;
        matchLength = bestLength;
    }
    if (nth > 0 && remaining != 0) return -1;
    return best;
}

void LRexSearch::giveUp() {
    matchStart = nullptr;
    matchLength = 0;
    gaveUp = true;
    if (!rex->root) rex->root = std::make_unique<LRexRoot>();
    if (rex->root->gaveUpReported) return;
    rex->root->gaveUpReported = true;
    msg(Tx::rexGaveUp,
        static_cast<int>(stepLimit), rex->root->source.data());
}

const char* rexFind(const char* text, int length, LRex* rex, int* matchLength, int nth) {
    if (matchLength) *matchLength = 0;
    if (!rex || !text) return nullptr;
    if (length < 0) length = static_cast<int>(std::strlen(text));
    LRexSearch search(rex);
    const int at = search.find(text, length, length, nth, 0);
    if (at < 0) return nullptr;
    if (matchLength) *matchLength = search.matchLength;
    return text + at;
}

const char* rexFind(const LString& text, LRex* rex, int* matchLength, int nth) {
    return rexFind(text.data(), text.len(), rex, matchLength, nth);
}

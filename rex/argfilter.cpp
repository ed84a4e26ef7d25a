// The argument filter of the common options: -lro:<rex> keeps only the plain
// arguments that match, -lrx:<rex> drops those that match, -lfx turns the plain
// arguments after it into names to exclude, -chrset:0|1|2 selects the
// character set (single-byte, Shift-JIS, UTF-8). Patterns are compiled where
// they stand, so a later -chrset: applies to their matching. The program's
// option -rxsteps:<n> (the step limit of every search) also applies to the
// searches here; it stays in the list, and the program reports a value it
// cannot read.
#include <memory>
#include <vector>

#include "base/chars.h"
#include "base/larray.h"
#include "base/msg.h"
#include "rex/search.h"

namespace {

// True when arg (after its "-" or "/") starts with name, ignoring ASCII case.
bool optionIs(const char* arg, const char* name, bool whole) {
    const char* a = arg;
    for (const char* n = name; *n; ++n, ++a) {
        if (toLowerAscii(static_cast<unsigned char>(*a)) != *n) return false;
    }
    return !whole || *a == 0;
}

// The value of -rxsteps:<n> (digits, optionally k, m or g), or -1 when it
// is no such number; nothing is reported here.
long long stepsValue(const char* v) {
    long long n = 0;
    const char* p = v;
    for (; *p >= '0' && *p <= '9' && n < (1LL << 40); ++p) n = n * 10 + (*p - '0');
    if (p == v) return -1;
    const int unit = toLowerAscii(static_cast<unsigned char>(*p));
    if (unit == 'k' || unit == 'm' || unit == 'g') {
        n <<= unit == 'k' ? 10 : unit == 'm' ? 20 : 30;
        ++p;
    }
    return *p == 0 && n <= 0x7FFFFFFF ? n : -1;
}

bool matches(LRex* rex, const char* text) {
    LRexSearch search(rex);
    return search.find(text, -1, -1, 1, 0) >= 0;
}

}  // namespace

void filterArguments(LStrList& args) {
    std::vector<std::unique_ptr<LRex>> keep, drop;
    LStrList excluded;
    LStrList stayed;
    bool lfx = false, chrset = false, given = false;
    for (int i = 0; i < args.count(); ++i) {
        const char* arg = args[i];
        if (arg[0] == '-' || arg[0] == '/') {
            const char* opt = arg + 1;
            if (optionIs(opt, "lro:", false)) {
                keep.push_back(rexCompile(opt + 4, 0));
                given = true;
                continue;
            }
            if (optionIs(opt, "lrx:", false)) {
                drop.push_back(rexCompile(opt + 4, 0));
                given = true;
                continue;
            }
            if (optionIs(opt, "lfx", true)) {
                if (lfx) msg(Tx::duplicateLfx);
                lfx = true;
                continue;
            }
            if (optionIs(opt, "rxsteps:", false)) {
                const long long n = stepsValue(opt + 8);
                if (n >= 0) rexSetStepLimit(static_cast<int>(n));
                stayed.add(arg);
                continue;
            }
            if (optionIs(opt, "chrset:", false)) {
                const char* value = opt + 7;
                if (value[0] == '0' && value[1] == 0) {
                    g_charSet = 'a';
                } else if (value[0] == '1' && value[1] == 0) {
                    g_charSet = 's';
                } else if (value[0] == '2' && value[1] == 0) {
                    g_charSet = 'u';
                } else {
                    msg(Tx::unknownChrset, value);
                }
                chrset = true;
                continue;
            }
            stayed.add(arg);
            continue;
        }
        if (lfx) {
            excluded.add(arg);
            given = true;
            continue;
        }
        stayed.add(arg);
    }
    if (given || chrset) {
        LStrList result;
        for (int i = 0; i < stayed.count(); ++i) {
            const char* arg = stayed[i];
            if (arg[0] != '-' && arg[0] != '/') {
                bool ok = true;
                for (auto& k : keep) ok = ok && matches(k.get(), arg);
                for (auto& d : drop) ok = ok && !matches(d.get(), arg);
                for (int e = 0; ok && e < excluded.count(); ++e) ok = !equalsText(arg, excluded[e], true);
                if (!ok) continue;
            }
            result.add(arg);
        }
        args = std::move(result);
    }
}

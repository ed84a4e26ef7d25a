// Atoms: the waiting queue g_atoms, the completed collections, the global end
// marker, and the commands that define, list, reorder and delete atoms.
//
// Key choice: the atom being defined is remembered by pointer rather than
// assumed to be the last of g_atoms, so moving atoms with !set-atom (the open
// one or another one behind it) never strands a definition: the open atom keeps
// taking lines wherever it stands, and the scheduler skips it until !end-atom.
// g_atoms and that pointer belong to the main thread; the completed collections
// and g_endMarker are read by connection threads and change under g_libLock.
#include "app/atoms.h"

#include <climits>
#include <cstdint>

#include "app/args.h"
#include "app/commands.h"
#include "app/connection.h"
#include "app/console.h"
#include "app/logfiles.h"
#include "app/outcomes.h"
#include "base/block.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/platform/sync.h"
#include "base/text.h"
#include "rex/rex.h"

AtomQueue g_atoms;
int g_atomCounter = 1;
PatternRef g_endMarker;
CompletedSet g_completedSet;
LStrList g_completedAtoms;

namespace {

Atom* g_openAtom = nullptr;  // the atom being defined; main thread only

// Ends the definition of the open atom, if any.
void closeOpenAtom() {
    if (g_openAtom == nullptr) return;
    g_openAtom->open = 0;
    writeSysLog(Tx::eventAtomDefined, g_openAtom->name.data());
    atomDefined(*g_openAtom);
    g_openAtom = nullptr;
}

// Index of the first waiting atom named exactly name, or -1.
int findAtom(const char* name) {
    for (int i = 0; i < g_atoms.count(); ++i)
        if (g_atoms[i]->name.equals(name)) return i;
    return -1;
}

// Takes atom i out of g_atoms and releases it.
void removeAtom(int i) {
    if (g_atoms[i] == g_openAtom) g_openAtom = nullptr;
    deleteAtom(g_atoms.takeAt(i));
}

// Moves the first atom named name to the 1-based position n (clamped).
void moveAtom(const char* name, int n) {
    const int count = g_atoms.count();
    int64_t target = static_cast<int64_t>(n) - 1;
    if (target >= count) target = count - 1;
    if (target < 0) target = 0;
    const int i = findAtom(name);
    if (i < 0) {
        msg(Tx::atomNotFound, name);
        return;
    }
    g_atoms.insert(static_cast<int>(target), g_atoms.takeAt(i));
    msg(Tx::atomMoved, name, static_cast<int>(target) + 1, count);
}

// Reads the number after the keyword of !atom (timeout, retry) into value:
// the parameter missing is 10014, a negative number 10013; value then stays.
const char* readCount(const char* p, const char* keyword, int& value) {
    LString token;
    p = nextToken(p, token);
    if (token.empty()) {
        msg(Tx::missingParameter, keyword);
        return p;
    }
    const int n = parseInt(token.data(), 0, 0);
    if (n < 0) {
        msg(Tx::invalidNumber, n);
        return p;
    }
    value = n;
    return p;
}

}  // namespace

Atom* openAtom() { return g_openAtom; }

void deleteAtom(std::unique_ptr<Atom> atom) { atom.reset(); }

Atom::~Atom() = default;

CompletionPattern::CompletionPattern(std::unique_ptr<LRex> rex) : rex_(std::move(rex)) {}

CompletionPattern::~CompletionPattern() = default;

bool CompletionPattern::foundIn(const char* text, int length) {
    platformCheckNoLibLock("search of a completion pattern");
    const std::lock_guard<std::mutex> hold(m_);
    return rexFind(text, length, rex_.get(), nullptr, 1) != nullptr;
}

namespace {
PatternRef makePattern(const char* text) {
    std::unique_ptr<LRex> rex = rexCompile(text, 0);
    return rex ? std::make_shared<CompletionPattern>(std::move(rex)) : nullptr;
}
}  // namespace

void initAtoms() {
    PatternRef marker = makePattern("#END#");
    LLockGuard guard;
    g_endMarker = std::move(marker);
}

void releaseAtoms() {
    g_openAtom = nullptr;
    g_atoms.clear();
    LLockGuard guard;
    g_endMarker.reset();
    g_completedSet.clear();
    g_completedAtoms.clear();
}

int cmdAtom(CommandContext& ctx) {
    closeOpenAtom();
    auto created = std::make_unique<Atom>();
    created->name = LString::format("A%d", g_atomCounter++);
    Atom* atom = created.get();
    g_atoms.add(std::move(created));
    g_openAtom = atom;

    const char* p = ctx.args;
    for (int n = 1; moreTokens(p); ++n) {
        const char* at = p;
        LString token;
        p = nextToken(p, token);
        if (token.equals("after")) {
            p = parseNameList(p, atom->after, "after");
        } else if (token.equals("by")) {
            p = parseNameList(p, atom->by, "by");
        } else if (token.equals("except-by")) {
            p = parseNameList(p, atom->exceptBy, "except-by");
        } else if (token.equals("until")) {
            LString pattern;
            p = nextToken(p, pattern);
            atom->until = rexCompile(pattern.data(), 0);
        } else if (token.equals("timeout")) {
            p = readCount(p, "timeout", atom->timeout);
        } else if (token.equals("retry")) {
            p = readCount(p, "retry", atom->retries);
        } else if (n == 1) {
            atom->name = token;
        } else {
            warnTrailing(at);
            break;
        }
    }
    return 0;
}

int cmdEndAtom(CommandContext&) {
    if (g_openAtom == nullptr) {
        msg(Tx::noAtomOpen);
        return 0;
    }
    closeOpenAtom();
    return 0;
}

int cmdAtomEndMarker(CommandContext& ctx) {
    LString token;
    warnTrailing(nextToken(ctx.args, token));
    PatternRef marker = makePattern(token.data());
    // A connection thread that is searching with the old marker keeps it alive
    // until its search ends; the next piece is searched with the new one.
    LLockGuard guard;
    g_endMarker = std::move(marker);
    return 0;
}

int cmdListAtom(CommandContext& ctx) {
    LLockGuard guard;
    LString token;
    warnTrailing(nextToken(ctx.args, token));
    const bool detail = token.equals("d");
    for (int i = 0; i < g_atoms.count(); ++i) {
        const Atom* a = g_atoms[i];
        msg(Tx::atomListed, i + 1, a->name.data());
        printNameList(" after ", a->after);
        printNameList(" by ", a->by);
        printNameList(" except-by ", a->exceptBy);
        if (a->timeout >= 0) msgPrint(" timeout %d", a->timeout);
        if (a->retries > 0) msgPrint(" retry %d", a->retries);
        if (a->open)
            msgPrint("%s\r\n", tr(Tx::listedOpen));
        else
            msgPrintText("\r\n");
        if (detail)
            for (const LineRecord* line : a->lines) msgPrint("    %s\r\n", displayText(*line).data());
    }
    msg(Tx::atomsWaiting, g_atoms.count());
    LStrList running;
    for (const TSocket* c : g_connections)
        if (!c->currentAtom.empty()) running.add(c->currentAtom.data());
    printNameList(tr(Tx::runningAtoms), running, "\r\n");
    printNameList(tr(Tx::completedAtoms), g_completedAtoms, "\r\n");
    printNameList(tr(Tx::failedAtoms), failedAtoms(), "\r\n");
    return 0;
}

int cmdAtomTimeout(CommandContext& ctx) {
    g_atomTimeout = parseNumberArg(ctx.args, 0, INT_MAX, g_atomTimeout);
    return 0;
}

int cmdSetAtom(CommandContext& ctx) {
    LString name;
    const char* p = nextToken(ctx.args, name);
    while (moreTokens(p)) {
        const char* at = p;
        LString token;
        p = nextToken(p, token);
        if (!token.equals("order")) {
            warnTrailing(at);
            break;
        }
        LString number;
        p = nextToken(p, number);
        moveAtom(name.data(), parseInt(number.data()));
    }
    return 0;
}

int cmdDeleteAtom(CommandContext& ctx) {
    LStrList names;
    warnTrailing(parseNameList(ctx.args, names, nullptr));
    int count = 0;
    if (names.empty()) {
        count = g_atoms.count();
        g_openAtom = nullptr;
        g_atoms.clear();
    }
    for (int k = 0; k < names.count(); ++k) {
        const int i = findAtom(names[k]);
        if (i < 0) {
            msg(Tx::atomNotFound, names[k]);
            continue;
        }
        writeSysLog(Tx::eventAtomDeleted, names[k]);
        removeAtom(i);
        ++count;
    }
    dependenciesChanged();
    msg(Tx::atomsDeleted, count);
    writeSysLog(Tx::eventAtomsDeleted, count);
    return 0;
}

int cmdDeleteCompletedAtom(CommandContext& ctx) {
    LStrList names;
    warnTrailing(parseNameList(ctx.args, names, nullptr));
    int count = 0;
    {
        LLockGuard guard;
        if (names.empty()) {
            count = g_completedSet.count();
            g_completedSet.clear();
            g_completedAtoms.clear();
        }
        for (int k = 0; k < names.count(); ++k) {
            const char* name = names[k];
            bool removed = false;
            if (g_completedSet.remove(name)) removed = true;
            for (int i = g_completedAtoms.indexOf(name); i >= 0; i = g_completedAtoms.indexOf(name)) {
                g_completedAtoms.removeAt(i);
                removed = true;
                ++count;
            }
            if (!removed) msg(Tx::completedAtomNotFound, name);
        }
    }
    dependenciesChanged();
    msg(Tx::completedAtomsDeleted, count);
    writeSysLog(Tx::eventCompletedAtomsDeleted, count);
    return 0;
}

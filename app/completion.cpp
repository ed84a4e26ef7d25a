// Completion: the command line before the cursor is split into words (blanks
// and commas separate them, as the argument readers do; quotes are not
// looked at), the command is found by its name or short form, and its
// argument position decides which names are offered.
#include "app/completion.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "app/atoms.h"
#include "app/connection.h"
#include "app/dispatcher.h"
#include "app/macros.h"
#include "app/mainloop.h"
#include "base/lock.h"
#include "base/platform/fs.h"
#include "base/platform/line_editor.h"
#include "base/thread.h"

namespace {

// The names the main thread copied last. Under g_libLock.
std::vector<std::string> g_macroNames;
std::vector<std::string> g_atomNames;
std::atomic<uint64_t> g_namesAsked{0};
std::atomic<uint64_t> g_namesAnswered{0};

// Signalled when the main thread has answered; created on first use and kept
// for the process's life (the console thread may still wait at exit).
LEvent& namesReady() {
    static LEvent* const event = new LEvent;
    return *event;
}

// How long the console thread waits for a busy main thread.
constexpr int kNamesWaitMs = 300;

enum class Names { none, commands, connections, macros, waitingAtoms, completedAtoms, atoms, files };

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == ','; }

// The kind of names the argument at index arg (0 = the first after the
// command) takes, given the words before it.
Names argumentNames(const char* command, int arg, const std::vector<std::string>& before) {
    const std::string cmd = command;
    if (cmd == "close" || cmd == "close-on-ready" || cmd == "set-connection" || cmd == "current-connection" ||
        cmd == "ready" || cmd == "not-ready" || cmd == "secret")
        return arg == 0 ? Names::connections : Names::none;
    if (cmd == "read-command-file") return arg == 0 ? Names::files : Names::none;
    if (cmd == "call-macro") return arg == 0 ? Names::macros : Names::none;
    if (cmd == "delete-macro") return Names::macros;
    if (cmd == "delete-atom") return Names::waitingAtoms;
    if (cmd == "delete-completed-atom") return Names::completedAtoms;
    if (cmd == "set-atom") return arg == 0 ? Names::waitingAtoms : Names::none;
    // Keyword arguments: the last keyword before the word decides (a list
    // after it goes on while its items are joined by commas).
    const char* const keywords[] = {"after", "by", "except-by", "until", "for"};
    std::string keyword;
    for (const std::string& w : before)
        if (std::find(std::begin(keywords), std::end(keywords), w) != std::end(keywords)) keyword = w;
    if (cmd == "open-log-file") {
        if (arg == 0) return Names::files;
        return keyword == "for" ? Names::connections : Names::none;
    }
    if (cmd == "atom") {
        if (keyword == "by" || keyword == "except-by") return Names::connections;
        if (keyword == "after") return Names::atoms;
    }
    return Names::none;
}

// Macro and atom names from the main thread (which copies them at its next
// iteration); the last copy when it does not answer in time.
void mainThreadNames(std::vector<std::string>& macros, std::vector<std::string>& atoms) {
    g_namesAsked.fetch_add(1);
    const uint64_t asked = g_namesAsked.load();
    wakeMainLoop();
    for (int tries = 0; g_namesAnswered.load() < asked && tries < 2; ++tries) namesReady().wait(kNamesWaitMs / 2);
    LLockGuard guard;
    macros = g_macroNames;
    atoms = g_atomNames;
}

void addFiles(const std::string& word, std::vector<std::string>& out) {
    const size_t slash = word.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : word.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? word : word.substr(slash + 1);
    std::vector<PlatformDirEntry> entries;
    if (!platformListDir(dir.c_str(), entries)) return;
    for (const PlatformDirEntry& e : entries) {
        if (e.isHidden && (base.empty() || base[0] != '.')) continue;
        if (e.name.compare(0, base.size(), base) != 0) continue;
        out.push_back(dir + e.name + (e.isDir ? "/" : ""));
    }
}

}  // namespace

void answerNameRequest() {
    const uint64_t asked = g_namesAsked.load();
    if (g_namesAnswered.load() == asked) return;
    std::vector<std::string> macros, atoms;
    LArray all;
    g_macros.collect(all);
    for (int i = 0; i < all.count(); ++i) macros.emplace_back(reinterpret_cast<const Macro*>(all[i])->name.data());
    for (int i = 0; i < g_atoms.count(); ++i) atoms.emplace_back(g_atoms[i]->name.data());
    {
        LLockGuard guard;
        g_macroNames.swap(macros);
        g_atomNames.swap(atoms);
    }
    g_namesAnswered.store(asked);
    namesReady().set();
}

void completeConsoleLine(const std::string& before, LineCompletion& out) {
    size_t p = 0;
    while (p < before.size() && (before[p] == ' ' || before[p] == '\t')) ++p;
    if (p >= before.size() || before[p] != '!') return;  // text for a connection
    p += (p + 1 < before.size() && before[p + 1] == '!') ? 2 : 1;
    // The words after the "!": the command, then its arguments.
    std::vector<std::string> words;
    size_t wordStart = p;
    for (size_t i = p; i < before.size(); ++i) {
        if (!isSeparator(before[i])) continue;
        if (i > wordStart) words.push_back(before.substr(wordStart, i - wordStart));
        wordStart = i + 1;
    }
    out.wordStart = static_cast<int>(wordStart);
    const std::string word = before.substr(wordStart);
    Names kind = Names::commands;
    if (!words.empty()) {
        const CommandEntry* entry = findCommand(words[0].c_str());
        if (!entry) return;
        const std::vector<std::string> args(words.begin() + 1, words.end());
        kind = argumentNames(entry->name, static_cast<int>(args.size()), args);
    }
    std::vector<std::string> names;
    switch (kind) {
    case Names::none:
        return;
    case Names::commands:
        listCommandNames(names);
        break;
    case Names::connections: {
        LLockGuard guard;
        for (const TSocket* c : g_connections) names.emplace_back(c->name.data());
        break;
    }
    case Names::macros:
    case Names::waitingAtoms:
    case Names::atoms: {
        std::vector<std::string> macros, atoms;
        mainThreadNames(macros, atoms);
        names = kind == Names::macros ? macros : atoms;
        if (kind == Names::atoms) {
            LLockGuard guard;
            for (int i = 0; i < g_completedAtoms.count(); ++i) names.emplace_back(g_completedAtoms[i]);
        }
        break;
    }
    case Names::completedAtoms: {
        LLockGuard guard;
        for (int i = 0; i < g_completedAtoms.count(); ++i) names.emplace_back(g_completedAtoms[i]);
        break;
    }
    case Names::files:
        addFiles(word, names);
        break;
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (std::string& n : names)
        if (n.compare(0, word.size(), word) == 0) out.candidates.push_back(std::move(n));
}

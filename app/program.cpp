// Programs as connections: the targets, their words and command lines, and
// the program at the far end of a connection (see program.h).
#include "app/program.h"

#include <cstring>
#include <vector>

#include "app/socket.h"
#include "base/chars.h"
#include "base/msg.h"
#include "base/platform/pty.h"
#include "base/platform/terminal.h"

namespace {

constexpr const char kExecPrefix[] = "exec:";
constexpr const char kSshPrefix[] = "ssh://";

// The words of the ssh command; empty until -ssh sets them ("ssh -tt").
LStrList& sshWords() {
    static LStrList words;
    return words;
}

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The words of "ssh://[<user>@]<host>[:<port>]".
bool sshTargetWords(const char* target, LStrList& words) {
    const char* rest = target + std::strlen(kSshPrefix);
    // A host never holds an '@' (a user name may: me@corp): the last one
    // separates them.
    const char* at = std::strrchr(rest, '@');
    const LString user = at != nullptr ? LString(rest, static_cast<int>(at - rest)) : LString();
    LString host;
    int port = -1;
    if (!splitHostPort(at != nullptr ? at + 1 : rest, host, &port)) return false;
    // No word may begin with '-': after the options, ssh would take it for
    // one of its own (-oProxyCommand=... runs a command).
    if (host.empty() || host.data()[0] == '-' || (at != nullptr && (user.empty() || user.data()[0] == '-'))) {
        msg(Tx::invalidSshDestination, target);
        return false;
    }
    if (sshWords().empty()) {
        words.add("ssh");
        words.add("-tt");
    } else {
        for (int i = 0; i < sshWords().count(); ++i) words.add(sshWords()[i]);
    }
    if (port > 0) {
        words.add("-p");
        words.add(LString::format("%d", port).data());
    }
    words.add(at != nullptr ? LString::format("%s@%s", user.data(), host.data()).data() : host.data());
    return true;
}

// A word that splitCommandWords gives back as it is.
bool plainWord(const char* w) {
    if (*w == 0) return false;
    for (const char* p = w; *p; ++p)
        if (isBlank(*p) || *p == '"' || *p == '\\') return false;
    return true;
}

}  // namespace

bool isProgramTarget(const char* text) { return startsWith(text, kExecPrefix) || startsWith(text, kSshPrefix); }

bool splitCommandWords(const char* text, LStrList& words) {
    const char* p = text;
    for (;;) {
        while (isBlank(*p)) ++p;
        if (*p == 0) return true;
        LString word;
        const char* open = nullptr;  // the quote that groups, while one does
        while (*p != 0 && (open != nullptr || !isBlank(*p))) {
            if (*p == '"') {
                open = open != nullptr ? nullptr : p;
                ++p;
                continue;
            }
            // A backslash takes the next character, whole; one at the very
            // end is itself.
            if (*p == '\\' && p[1] != 0) ++p;
            const int n = charLen(p);
            word.append(p, n);
            p += n;
        }
        if (open != nullptr) {
            msg(Tx::missingClosingQuote, '"', open);
            return false;
        }
        words.add(word.data(), word.len());
    }
}

bool programWords(const char* target, LStrList& words) {
    if (startsWith(target, kSshPrefix)) return sshTargetWords(target, words);
    const int before = words.count();
    if (!splitCommandWords(target + (startsWith(target, kExecPrefix) ? std::strlen(kExecPrefix) : 0), words))
        return false;
    if (words.count() == before) {
        msg(Tx::noProgramGiven, target);
        return false;
    }
    return true;
}

LString commandLineText(const LStrList& words) {
    LString line;
    for (int i = 0; i < words.count(); ++i) {
        if (i > 0) line.appendChar(' ');
        const char* w = words[i];
        if (plainWord(w)) {
            line.append(w);
            continue;
        }
        line.appendChar('"');
        for (const char* p = w; *p;) {
            if (*p == '"' || *p == '\\') line.appendChar('\\');
            const int n = charLen(p);
            line.append(p, n);
            p += n;
        }
        line.appendChar('"');
    }
    return line;
}

bool setSshCommand(const char* text) {
    // -ssh:"ssh -tt -o BatchMode=yes" may arrive with its quotes when no
    // shell took them away: the quotes around the whole command group
    // nothing.
    LString command(text);
    if (command.len() >= 2 && command[0] == '"') {
        const char* p = command.data() + 1;
        while (*p != 0 && *p != '"') p += *p == '\\' && p[1] != 0 ? 2 : 1;
        if (p == command.data() + command.len() - 1) command.assign(command.data() + 1, command.len() - 2);
    }
    LStrList words;
    if (!splitCommandWords(command.data(), words)) return false;
    if (words.empty()) {
        msg(Tx::noProgramGiven, text);
        return false;
    }
    sshWords() = std::move(words);
    return true;
}

namespace NSocket {

LProgram::LProgram(const LStrList& words) : words_(words), commandLine_(commandLineText(words)) {}

LProgram::~LProgram() {
    if (pid_ > 0 && !ended_) {
        platformSignalGroup(pid_, PlatformEndSignal::kill);
        platformWaitChild(pid_, -1, &end_);
    }
}

int LProgram::openTerminal() {
    int columns = 80, rows = 24;
    platformConsoleSize(&columns, &rows);
    return ptyOpen(columns, rows, slavePath_, static_cast<int>(sizeof slavePath_));
}

int LProgram::start() {
    std::vector<const char*> argv;
    for (int i = 0; i < words_.count(); ++i) argv.push_back(words_[i]);
    argv.push_back(nullptr);
    // A terminal that draws nothing: no colours, no cursor movement, no
    // pager's screen handling in what the program sends back.
    const char* const env[] = {"TERM=dumb", nullptr};
    int pid = -1;
    const int err = ptySpawn(slavePath_, argv[0], argv.data(), env, &pid);
    if (err != 0) {
        msg(Tx::programStartFailed, argv[0], winErrorText(err).data());
        return err;
    }
    pid_ = pid;
    return 0;
}

void LProgram::hangUp() {
    if (pid_ <= 0) return;
    // The hang-up reaches the whole process group also when the program has
    // ended already (its terminal closed on its side): what it left running
    // there hears of it too. Until it is reaped, the group's id stays ours.
    // Then the program is asked less and less politely while it runs.
    platformSignalGroup(pid_, PlatformEndSignal::hangUp);
    int got = platformWaitChild(pid_, kTerminateAfterMs, &end_);
    if (got == 0) {
        platformSignalGroup(pid_, PlatformEndSignal::terminate);
        got = platformWaitChild(pid_, kKillAfterMs - kTerminateAfterMs, &end_);
    }
    if (got == 0) {
        // SIGKILL cannot be ignored: the wait ends as soon as the system has
        // taken the program down.
        platformSignalGroup(pid_, PlatformEndSignal::kill);
        got = platformWaitChild(pid_, -1, &end_);
    }
    ended_ = got > 0;
    pid_ = -1;
}

LString LProgram::endText() const {
    if (!ended_) return LString();
    if (end_.signal != 0) return textf(Tx::programEndedBySignal, end_.signal, platformSignalName(end_.signal));
    return textf(Tx::programExitCode, end_.exitCode);
}

}  // namespace NSocket

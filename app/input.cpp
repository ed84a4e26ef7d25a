// The console input thread. The hand-over waits on an event that the main
// thread sets when it takes the line, so typed-ahead or piped lines flow as fast
// as the main loop takes them, and an idle thread uses no processor time.
//
// Secret lines: the thread decides before each read whether the next line is
// a secret one (a !secret is waiting, or the current connection shows a
// password prompt) and reads it without echo. A typed "!secret" is handled
// here rather than by the main loop, so that the very next read is already
// hidden; a !secret run by the main loop (command file, macro, atom) asks for
// it through requestSecretLine(), which also ends an empty edit at once.
#include "app/input.h"

#include <string>

#include "app/args.h"
#include "app/command_table.h"
#include "app/commands.h"
#include "app/completion.h"
#include "app/connection.h"
#include "app/line_record.h"
#include "app/mainloop.h"
#include "app/pending_lines.h"
#include "app/reader.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/platform/line_editor.h"

namespace {
// The console thread object while it exists. Under g_libLock.
TInput* g_console = nullptr;
// Under g_libLock: g_console's line editor is running (recheck() may be used).
bool g_consoleEditing = false;

// Overwrites text that held a secret before its memory is reused.
void wipe(std::string& s) {
    volatile char* p = s.data();
    for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
    s.clear();
}

// True when a secret line may go to cname (empty: the current connection);
// otherwise reports why not. Under g_libLock (takes it).
bool secretTargetExists(const char* cname) {
    LLockGuard guard;
    if (*cname != 0) {
        if (findConnection(cname) != nullptr) return true;
        msg(Tx::connectionNotFound, cname);
        return false;
    }
    if (currentConnection() != nullptr) return true;
    msg(Tx::noConnectionForCommand, "!secret");
    return false;
}
}  // namespace

TInput::TInput() {
    LLockGuard guard;
    g_waitSet.add(&event);
    g_console = this;
}

TInput::~TInput() {
    if (isRunning()) shutdown(-1);
    LLockGuard guard;
    g_waitSet.remove(&event);
    if (g_console == this) {
        g_console = nullptr;
        g_consoleEditing = false;
    }
}

void TInput::takeLine(PendingLines& pending) {
    LLockGuard guard;
    if (line.empty()) return;
    int n = line.len();
    while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == '\n')) --n;
    if (lineSecret_) {
        // Sent as typed, also when empty: an empty password is a password.
        auto record = std::make_unique<LineRecord>('g', line.data(), n);
        record->secret = true;
        record->target = lineTarget_;
        pending.append(std::move(record));
        lineSecret_ = false;
        volatile char* p = line.data();
        for (int i = 0; i < line.len(); ++i) p[i] = 0;
    } else if (auto record = makeConsoleRecord(line.data(), n)) {
        record->readsSecret = lineReadsSecret_;
        pending.append(std::move(record));
    }
    lineReadsSecret_ = false;
    line.clear();
    taken_.set();
}

void TInput::shutdown(int timeoutMs) {
    stopRequested = true;
    reader_.wake();
    taken_.set();
    stop(timeoutMs);
}

bool TInput::nextIsSecret(std::string& target) {
    LLockGuard guard;
    if (secretWanted_) {
        secretWanted_ = false;
        target = secretTarget_;
        return true;
    }
    // The password rule is for lines typed at the terminal.
    if (!reader_.editor()) return false;
    TSocket* c = currentConnection();
    if (c == nullptr || !passwordPromptShown(*c)) return false;
    if (c->id == promptConnection_ && c->receivedPieces == promptPieces_) return false;
    promptConnection_ = c->id;
    promptPieces_ = c->receivedPieces;
    target = c->name.data();
    return true;
}

bool TInput::isSecretCommand(const std::string& text, std::string& target) {
    const auto record = makeConsoleRecord(text.data(), static_cast<int>(text.size()));
    if (!record || record->kind() != 'i') return false;
    // The name and the connection as the argument readers would read them;
    // the command itself reports what is wrong with its arguments when it runs.
    const char* p = record->text().data();
    auto word = [&p] {
        while (*p == ' ' || *p == '\t') ++p;
        std::string w;
        const char quote = (*p == '"') ? '"' : 0;
        if (quote) ++p;
        while (*p && (quote ? *p != quote : (*p != ' ' && *p != '\t' && *p != ','))) w += *p++;
        if (quote && *p) ++p;
        return w;
    };
    const std::string name = word();
    const CommandEntry* command = findCommand(name.c_str());
    if (command == nullptr || command->handler != cmdSecret) return false;
    target = word();
    return true;
}

void TInput::addToHistory(const std::string& text) {
    LineEditor* editor = reader_.editor();
    if (!editor || editor->addHistory(text) || historyFailed_) return;
    historyFailed_ = true;  // once: the next line would fail the same way
    msg(Tx::historyWriteFailed, historyPath_.c_str());
}

void TInput::run() {
    if (reader_.enableEditor()) {
        LineEditor* editor = reader_.editor();
        editor->setCompleter(completeConsoleLine);
        if (!historyPath_.empty() && !editor->useHistoryFile(historyPath_))
            msg(Tx::historyReadFailed, historyPath_.c_str());
        LLockGuard guard;
        g_consoleEditing = true;
    }
    std::string read;
    while (!stopRequested) {
        std::string target;
        bool secret = nextIsSecret(target);
        const int n = secret ? reader_.readSecret(read, kMaxLine) : reader_.readLine(read, kMaxLine);
        if (n == StdinReader::kRecheck) continue;
        if (n == StdinReader::kWoken || n == StdinReader::kEnd) break;
        if (n == StdinReader::kError) {
            // Reported once: a read that fails now fails again at once.
            msg(Tx::readConsoleFailed);
            break;
        }
        if (n == StdinReader::kTooLong) {
            // A pasted command is run whole or not at all.
            msg(Tx::lineTooLong, kMaxLine);
            continue;
        }
        if (!secret && !reader_.editor()) {
            // Without the editor a read cannot be ended for a !secret that the
            // main loop ran meanwhile: the line read after it is the secret.
            LLockGuard guard;
            if (secretWanted_) {
                secretWanted_ = false;
                secret = true;
                target = secretTarget_;
            }
        }
        bool readsSecret = false;
        std::string secretTarget;
        if (!secret) {
            std::string text = read;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            addToHistory(text);
            // The next read is hidden at once; the command itself still runs
            // in its turn (its messages, its place in a recorded macro).
            readsSecret = isSecretCommand(text, secretTarget);
        }
        {
            LLockGuard guard;
            line.assign(read.data(), n);
            lineSecret_ = secret;
            lineTarget_ = target;
            lineReadsSecret_ = readsSecret;
            if (readsSecret) {
                secretWanted_ = true;
                secretTarget_ = secretTarget;
            }
        }
        if (secret) wipe(read);
        event.set();
        while (!stopRequested) {
            {
                LLockGuard guard;
                if (line.empty()) break;
            }
            taken_.wait(-1);
        }
    }
    {
        LLockGuard guard;
        ended_ = true;
        secretWanted_ = false;
        g_consoleEditing = false;
    }
    // The main loop decides whether anything can still happen.
    event.set();
    // Nothing is read any more: the terminal echoes again as it did before.
    reader_.closeEditor();
}

bool TInput::ended() const {
    LLockGuard guard;
    return ended_;
}

bool requestSecretLine(const char* target) {
    LLockGuard guard;
    if (g_console == nullptr || g_console->ended_) return false;
    g_console->secretWanted_ = true;
    g_console->secretTarget_ = target;
    if (g_consoleEditing) g_console->reader_.recheck();
    return true;
}

void notifyPasswordPrompt(TSocket* c) {
    LLockGuard guard;
    if (g_console != nullptr && g_consoleEditing && c == currentConnection()) g_console->reader_.recheck();
}

int cmdSecret(CommandContext& ctx) {
    LString cname;
    warnTrailing(nextToken(ctx.args, cname));
    // Typed: the console thread reads the secret line already, and its
    // connection is checked when it is sent.
    if (ctx.line.readsSecret) return 0;
    if (!secretTargetExists(cname.data())) return 0;
    if (!requestSecretLine(cname.data())) msg(Tx::secretAfterInputEnded);
    return 0;
}

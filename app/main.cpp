// The program's entry point: start-up in its fixed order, the main loop, the
// shutdown, and the exit handler that runs after main() in every case.
//
// Exit codes: 2 after -??, -? or -ver; after !quit, -qd or the end of input
// when nothing can happen any more, 0 when every atom that ended completed and
// 1 when one failed or was skipped, a command file or a connection could not
// be opened, or the result file could not be written (!quit <n> gives n
// whatever happened); 128 + the signal after Ctrl-C (130), SIGTERM (143) or
// SIGHUP (129), which end the run as !quit does.
#include <cstdlib>
#include <memory>

#include "app/atoms.h"
#include "app/connection.h"
#include "app/console.h"
#include "app/deadlines.h"
#include "app/help.h"
#include "app/input.h"
#include "app/logfiles.h"
#include "app/macros.h"
#include "app/mainloop.h"
#include "app/outcomes.h"
#include "app/pending_lines.h"
#include "app/progress.h"
#include "app/program.h"
#include "app/reader.h"
#include "app/result_file.h"
#include "app/settings.h"
#include "app/socket.h"
#include "base/chars.h"
#include "base/cmdline.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/options.h"
#include "base/platform/process.h"
#include "base/stream.h"
#include "base/thread.h"
#include "rex/rex.h"

namespace {

// The sink as installed (owned by the library once installed).
TMsg* g_sink = nullptr;
// The expanded arguments and the command files. Option values point into the
// arguments (the message file name among them), so both outlive the exit
// handler: being built before it is registered, they are destroyed after it.
LStrList g_args;
LStrList g_files;

void exitCleanup() {
    endProgress();
    endThreads();
    releaseMacros();
    releaseOutcomes();
    releaseAtoms();
    setConsoleColor(7);
    if (!inFatalExit()) libShutdown();
}

// The values of the program's options, read into plain ints first (the
// settings themselves are atomics the option classes cannot point to).
struct OptionValues {
    int verbose = 1;
    int openWait = 2000;
    int receivePause = 100;
    int rexSteps = kRexDefaultStepLimit;
    int telnetMode = 1;
    int onlineHelp = 0;
    int usage = 0;
    int version = 0;
    const char* debugText = nullptr;
    const char* outputDir = nullptr;
    const char* outputFile = nullptr;
    const char* msgFile = nullptr;
    const char* historyFile = nullptr;
    const char* language = nullptr;
    const char* resultFile = nullptr;
    int quitWhenDone = 0;
    const char* sshCommand = nullptr;
    LStrList hosts;
};

// Matches the program's options; command files are collected in order, and an
// argument that no option takes and that starts with '-' or '/' is error 10007.
void readOptions(const LStrList& args, OptionValues& v, LStrList& files) {
    LOptList options;
    addIntOpt(options, "v", &v.verbose, 0, -1, 1);
    addStrOpt(options, "dv", &v.debugText, nullptr);
    addStrOpt(options, "mf", &v.msgFile, nullptr);
    addIntOpt(options, "mfa", &g_sink->msgFileAppend, 0, 1, 1);
    addIntOpt(options, "mfo", &g_sink->consoleLevel, 0, 1, 1);
    addStrOpt(options, "od", &v.outputDir, nullptr);
    addStrOpt(options, "of", &v.outputFile, nullptr);
    addIntOpt(options, "??", &v.onlineHelp, 0, 1, 1);
    addIntOpt(options, "?", &v.usage, 0, 1, 1);
    addIntOpt(options, "ver", &v.version, 0, 1, 1);
    addStrsOpt(options, "o", &v.hosts);
    addIntOpt(options, "wo", &v.openWait, 0, -1, 1);
    addIntOpt(options, "wr", &v.receivePause, 0, -1, 0);
    addIntOpt(options, "rxsteps", &v.rexSteps, 1000, -1, kRexDefaultStepLimit);
    addIntOpt(options, "tn", &v.telnetMode, 0, 2, 2);
    addStrOpt(options, "hist", &v.historyFile, nullptr);
    addStrOpt(options, "lang", &v.language, nullptr);
    addStrOpt(options, "rf", &v.resultFile, nullptr);
    addIntOpt(options, "qd", &v.quitWhenDone, 0, 1, 1);
    addStrOpt(options, "ssh", &v.sshCommand, nullptr);
    for (int i = 0; i < args.count(); ++i) {
        const char* arg = args[i];
        if (tryOptions(options, arg)) continue;
        if (isOptionArg(arg)) {
            msg(Tx::unknownOption, arg);
            continue;
        }
        files.add(arg);
    }
    // An empty name (-mf:) means no message file rather than a file that can
    // never be opened and an error about it after every report.
    if (v.msgFile && *v.msgFile) g_sink->msgFile = v.msgFile;
    // The reports held so far are written in the language chosen here.
    if (v.language) {
        if (const int language = languageOfName(v.language))
            setLanguage(language);
        else
            msg(Tx::unknownLanguage, v.language);
    }
}

void loadCommandFile(const char* path, PendingLines& pending) {
    LIoFile file(path, 'r', true);
    if (!file.isOpen()) {
        noteRunFailure();  // the exit status tells
        return;
    }
    readCommandFile(file, pending);
    file.close();
}

// After the main loop: stop the console thread, close every connection and wait
// until all have gone, then release the shared state.
void shutdown(std::unique_ptr<TInput> input, PendingLines& pending) {
    if (input && input->isRunning()) input->shutdown(200);
    closeAllConnections();
    // Connecting ones end at once too; each one that leaves wakes us.
    while (connectionCount() > 0) waitMainEvent(-1);
    if (input && input->isRunning()) {
        msg(Tx::pressEnter);
        input->shutdown(-1);
    }
    input.reset();
    writeSysLog(Tx::eventExit);
    pending.clear();
    closeAllLogFiles();
    releaseMacros();
    releaseWaitSet();
}

}  // namespace

int main(int argc, char** argv) {
    // 1-2: the language of the locale (-lang may change it before the first
    // report is written), the sink, the exit handler.
    setLanguageFromLocale();
    g_sink = new TMsg(0);  // ownership passes to the library
    installMsg(g_sink);
    // Until the options are read, nobody knows where reports go: the reports of
    // the arguments themselves wait for the message file options.
    g_sink->holdReports();
    std::atexit(exitCleanup);
    platformIgnoreBrokenPipe();
    platformDefaultChildSignal();  // the programs of connections are ours to reap

    // 3: the argument list through response files, wildcards and the filter.
    for (int i = 1; i < argc; ++i) g_args.add(argv[i]);
    setCharSetFromLocale();  // before anything reads a character; -chrset may change it
    expandArgs(g_args, false);
    expandWildcards(g_args);
    filterArguments(g_args);
    g_sink->fatal = 0;

    // 4-6: shared objects, threads, sockets, the wait set.
    resetColorList();
    initAtoms();
    initThreads();
    winsockStartup();
    initWaitSet();
    catchQuitSignals();

    // 7: the options.
    OptionValues v;
    readOptions(g_args, v, g_files);
    g_sink->releaseHeld();
    g_verbose = v.verbose;
    g_openWait = v.openWait;
    g_receivePause = v.receivePause;
    rexSetStepLimit(v.rexSteps);
    // A -tn value out of range has been reported; the default stays.
    if (v.telnetMode >= 0 && v.telnetMode <= 2) g_telnetMode = v.telnetMode;
    g_quitWhenDone = v.quitWhenDone;
    // A -ssh command that holds no program has been reported; "ssh -tt" stays.
    if (v.sshCommand) setSshCommand(v.sshCommand);

    // 8: help, usage or version end the run.
    if (v.onlineHelp) {
        openOnlineHelp();
        return 2;
    }
    if (v.usage) {
        printUsage();
        return 2;
    }
    if (v.version) {
        printBanner();
        return 2;
    }

    // The result file is what a script reads afterwards: a batch whose
    // results could not be kept is not started at all.
    if (v.resultFile && !g_resultFile.open(v.resultFile)) return 1;

    // 9: banner and hints.
    if (g_verbose >= 1) {
        printBanner();
        writeStdout(tr(Tx::hintHelp));
        writeStdout(tr(Tx::hintQuit));
    }

    // 10: every command file, completely, before any of its lines runs.
    PendingLines pending;
    for (int i = 0; i < g_files.count(); ++i) loadCommandFile(g_files[i], pending);

    // 11: the connections of -o, then one wait.
    if (!v.hosts.empty()) {
        // They connect side by side; the command-file lines wait once, for
        // -wo, while the main loop already runs.
        for (int i = 0; i < v.hosts.count(); ++i)
            if (!openConnection(v.hosts[i], "", false, -1)) noteRunFailure();
        pending.pause.extendTo(nowMs() + g_openWait);
    }

    // 12-13: the console thread and the main loop.
    auto input = std::make_unique<TInput>();
    if (v.historyFile && *v.historyFile) input->setHistoryFile(v.historyFile);
    input->start(false);
    runMainLoop(pending, input.get());
    shutdown(std::move(input), pending);
    g_resultFile.close();
    // Ended by Ctrl-C, SIGTERM or SIGHUP: the shell's convention, 128 + signal.
    return quitSignal() ? 128 + quitSignal() : exitStatus();
}

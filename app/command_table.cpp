// The table of control commands. Its order is the order of !help; the order
// of !help's list of short forms is each entry's shortRank. The handlers live
// with the component that owns each command (commands.h).
#include "app/command_table.h"

#include <cstring>

namespace {

const CommandForm kOpenProgram = {
    .synopsis = "ssh://[<user>@]<host>[:<port>] [as <cname>] ...\n\"exec:<program> [<arg>...]\" [as <cname>] ...",
    .help = Tx::helpOpenProgram};

const CommandEntry kCommands[] = {
    {.name = "read-command-file", .shortName = "rcf", .shortRank = 4, .synopsis = "<path>",
     .help = Tx::helpReadCommandFile, .handler = cmdReadCommandFile},
    {.name = "send", .synopsis = "<str>", .help = Tx::helpSend, .handler = nullptr, .sameLine = true},
    {.name = "open", .shortName = "o", .shortRank = 1,
     .synopsis = "<addr>[:<port>] [as <cname>] [nr] [wait <msec>] [color <c>]\n[raw|telnet] [eol crlf|cr|lf]",
     .help = Tx::helpOpen, .handler = cmdOpen, .otherForm = &kOpenProgram},
    {.name = "close", .shortName = "c", .shortRank = 2, .synopsis = "[<cname>]", .help = Tx::helpClose,
     .handler = cmdClose, .sameLine = true},
    {.name = "close-on-ready", .shortName = "cor", .shortRank = 3, .synopsis = "[<cname>]",
     .help = Tx::helpCloseOnReady, .handler = cmdCloseOnReady},
    {.name = "set-connection", .shortName = "sc", .shortRank = 5,
     .synopsis = "[<cname>] [current] [order <n>] [color <c>]\n[eol crlf|cr|lf]", .help = Tx::helpSetConnection,
     .handler = cmdSetConnection},
    {.name = "current-connection", .shortName = "cc", .shortRank = 6, .synopsis = "<cname>",
     .help = Tx::helpCurrentConnection, .handler = cmdCurrentConnection},
    {.name = "list-connection", .shortName = "lc", .shortRank = 7, .help = Tx::helpListConnection,
     .handler = cmdListConnection, .sameLine = true},
    {.name = "atom", .shortName = "a", .shortRank = 8,
     .synopsis = "[<name>] [after <name>,...] [by <cname>,...]\n[except-by <cname>,...] [until <rex>] [timeout <sec>] [retry <n>]",
     .help = Tx::helpAtom, .handler = cmdAtom},
    {.name = "end-atom", .shortName = "ea", .shortRank = 9, .help = Tx::helpEndAtom, .handler = cmdEndAtom,
     .sameLine = true},
    {.name = "atom-end-marker", .shortName = "aem", .shortRank = 10, .synopsis = "<rex>",
     .help = Tx::helpAtomEndMarker, .handler = cmdAtomEndMarker},
    {.name = "atom-timeout", .shortName = "ato", .shortRank = 31, .synopsis = "[<sec>]",
     .help = Tx::helpAtomTimeout, .handler = cmdAtomTimeout},
    {.name = "delete-atom", .shortName = "da", .shortRank = 11, .synopsis = "[<name>,...]",
     .help = Tx::helpDeleteAtom, .handler = cmdDeleteAtom},
    {.name = "delete-completed-atom", .shortName = "dca", .shortRank = 12, .synopsis = "[<name>,...]",
     .help = Tx::helpDeleteCompletedAtom, .handler = cmdDeleteCompletedAtom},
    {.name = "set-atom", .shortName = "sa", .shortRank = 13, .synopsis = "<name> [order <n>]",
     .help = Tx::helpSetAtom, .handler = cmdSetAtom},
    {.name = "list-atom", .shortName = "la", .shortRank = 14, .synopsis = "[d]", .help = Tx::helpListAtom,
     .handler = cmdListAtom, .sameLine = true},
    {.name = "ready", .shortName = "r", .shortRank = 15, .synopsis = "[<cname>]", .help = Tx::helpReady,
     .handler = cmdReady, .sameLine = true},
    {.name = "not-ready", .shortName = "nr", .shortRank = 16, .synopsis = "[<cname>]", .help = Tx::helpNotReady,
     .handler = cmdNotReady},
    {.name = "open-log-file", .shortName = "olf", .shortRank = 17,
     .synopsis = "<path> [for <cname>,...] [cn] [sys] [xs] [xr]", .help = Tx::helpOpenLogFile,
     .handler = cmdOpenLogFile},
    {.name = "close-log-file", .shortName = "clf", .shortRank = 18, .synopsis = "[<path>]",
     .help = Tx::helpCloseLogFile, .handler = cmdCloseLogFile, .sameLine = true},
    {.name = "macro", .shortName = "m", .shortRank = 19, .synopsis = "<name> [<param>,...]", .help = Tx::helpMacro,
     .handler = cmdMacro},
    {.name = "end-macro", .shortName = "em", .shortRank = 20, .help = Tx::helpEndMacro,
     .handler = cmdEndMacroOutside, .sameLine = true},
    {.name = "call-macro", .shortName = "cm", .shortRank = 23, .synopsis = "<name> [<param>,...]",
     .help = Tx::helpCallMacro, .handler = cmdCallMacro},
    {.name = "delete-macro", .shortName = "dm", .shortRank = 21, .synopsis = "<name>,...",
     .help = Tx::helpDeleteMacro, .handler = cmdDeleteMacro},
    {.name = "list-macro", .shortName = "lm", .shortRank = 22, .synopsis = "[d]", .help = Tx::helpListMacro,
     .handler = cmdListMacro, .sameLine = true},
    {.name = "color", .synopsis = "<c>,...", .help = Tx::helpColor, .handler = cmdColor, .sameLine = true},
    {.name = "secret", .shortName = "sec", .shortRank = 34, .synopsis = "[<cname>]", .help = Tx::helpSecret,
     .handler = cmdSecret},

    {.name = "input-show", .shortName = "is", .shortRank = 24, .synopsis = "[0|1]", .help = Tx::helpInputShow,
     .handler = cmdInputShow, .block = HelpBlock::settings},
    {.name = "input-highlight", .shortName = "ih", .shortRank = 25, .synopsis = "[0|1]",
     .help = Tx::helpInputHighlight, .handler = cmdInputHighlight, .block = HelpBlock::settings},
    {.name = "input-reverse", .shortName = "ir", .shortRank = 26, .synopsis = "[0|1]",
     .help = Tx::helpInputReverse, .handler = cmdInputReverse, .block = HelpBlock::settings},
    {.name = "system-msg-color", .shortName = "smc", .shortRank = 27, .synopsis = "<c>",
     .help = Tx::helpSystemMsgColor, .handler = cmdSystemMsgColor, .block = HelpBlock::settings},
    {.name = "error-msg-color", .shortName = "emc", .shortRank = 28, .synopsis = "<c>",
     .help = Tx::helpErrorMsgColor, .handler = cmdErrorMsgColor, .block = HelpBlock::settings},
    {.name = "cls", .help = Tx::helpCls, .handler = cmdCls, .block = HelpBlock::settings, .sameLine = true},
    {.name = "quit", .shortName = "q", .shortRank = 29, .synopsis = "[<n>]", .help = Tx::helpQuit,
     .handler = cmdQuit, .block = HelpBlock::settings, .sameLine = true},
    {.name = "quit-when-done", .shortName = "qd", .shortRank = 30, .synopsis = "[0|1]", .help = Tx::helpQuitWhenDone,
     .handler = cmdQuitWhenDone, .block = HelpBlock::settings},
    {.name = "wait", .synopsis = "<sec>", .help = Tx::helpWait, .handler = cmdWait, .block = HelpBlock::settings,
     .sameLine = true},
    {.name = "help", .shortName = "h", .shortRank = 32, .help = Tx::helpHelp, .handler = cmdHelp,
     .block = HelpBlock::settings, .sameLine = true},
    {.name = "online-help", .shortName = "oh", .shortRank = 33, .help = Tx::helpOnlineHelp,
     .handler = cmdOnlineHelp, .block = HelpBlock::settings, .sameLine = true},
    {.name = "ver", .help = Tx::helpVer, .handler = cmdVer, .block = HelpBlock::settings, .sameLine = true},
    {.name = "rem", .synopsis = "<str>", .help = Tx::helpRem, .handler = cmdRem, .block = HelpBlock::settings,
     .sameLine = true},
};

}  // namespace

std::span<const CommandEntry> commandTable() { return kCommands; }

const CommandEntry* findCommand(const char* name) {
    for (const CommandEntry& e : kCommands) {
        if (!e.handler) continue;
        if (std::strcmp(e.name, name) == 0 || (e.shortName && std::strcmp(e.shortName, name) == 0)) return &e;
    }
    return nullptr;
}

void listCommandNames(std::vector<std::string>& out) {
    for (const CommandEntry& e : kCommands) {
        out.emplace_back(e.name);
        if (e.shortName) out.emplace_back(e.shortName);
    }
}

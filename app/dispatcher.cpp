// The dispatcher: the one command table and the two entry points that run a
// line. The table is data: a long name, its short form and its handler; the
// handlers live with the component that owns each command. "!send" is not in
// it: the line readers resolve it, so "!!send" is an unknown command.
#include "app/dispatcher.h"

#include <cstring>

#include "app/args.h"
#include "app/connection.h"
#include "app/line_record.h"
#include "base/msg.h"

namespace {

const CommandEntry kCommands[] = {
    {"read-command-file", "rcf", cmdReadCommandFile},
    {"open", "o", cmdOpen},
    {"close", "c", cmdClose},
    {"close-on-ready", "cor", cmdCloseOnReady},
    {"set-connection", "sc", cmdSetConnection},
    {"current-connection", "cc", cmdCurrentConnection},
    {"list-connection", "lc", cmdListConnection},
    {"atom", "a", cmdAtom},
    {"end-atom", "ea", cmdEndAtom},
    {"atom-end-marker", "aem", cmdAtomEndMarker},
    {"delete-atom", "da", cmdDeleteAtom},
    {"delete-completed-atom", "dca", cmdDeleteCompletedAtom},
    {"set-atom", "sa", cmdSetAtom},
    {"list-atom", "la", cmdListAtom},
    {"ready", "r", cmdReady},
    {"not-ready", "nr", cmdNotReady},
    {"open-log-file", "olf", cmdOpenLogFile},
    {"close-log-file", "clf", cmdCloseLogFile},
    {"macro", "m", cmdMacro},
    {"end-macro", "em", cmdEndMacroOutside},
    {"call-macro", "cm", cmdCallMacro},
    {"delete-macro", "dm", cmdDeleteMacro},
    {"list-macro", "lm", cmdListMacro},
    {"color", nullptr, cmdColor},
    {"input-show", "is", cmdInputShow},
    {"input-highlight", "ih", cmdInputHighlight},
    {"input-reverse", "ir", cmdInputReverse},
    {"system-msg-color", "smc", cmdSystemMsgColor},
    {"error-msg-color", "emc", cmdErrorMsgColor},
    {"cls", nullptr, cmdCls},
    {"quit", "q", cmdQuit},
    {"wait", nullptr, cmdWait},
    {"help", "h", cmdHelp},
    {"online-help", "oh", cmdOnlineHelp},
    {"ver", nullptr, cmdVer},
    {"rem", nullptr, cmdRem},
    {"secret", "sec", cmdSecret},
};

}  // namespace

const CommandEntry* findCommand(const char* name) {
    for (const CommandEntry& e : kCommands) {
        if (std::strcmp(e.name, name) == 0 || (e.shortName && std::strcmp(e.shortName, name) == 0))
            return &e;
    }
    return nullptr;
}

void listCommandNames(std::vector<std::string>& out) {
    for (const CommandEntry& e : kCommands) {
        out.emplace_back(e.name);
        if (e.shortName) out.emplace_back(e.shortName);
    }
}

int executeLine(TSocket* connection, const LineRecord& line, PendingLines& pending, LinePause& pause) {
    const char kind = line.lowerKind();
    if (!connection && kind != 'i') {
        msg(10003, "コマンドを実行する接続がありません: %s", displayText(line).data());
        return 0;
    }
    if (kind == 'g') {
        queueLine(connection, line);
        return 0;
    }
    return dispatchCommand(connection, line, pending, pause);
}

int dispatchCommand(TSocket* connection, const LineRecord& line, PendingLines& pending, LinePause& pause) {
    if (line.fromFile()) msgPrint("%s\r\n", displayText(line).data());
    // Arguments are read as terminated texts: a NUL byte would silently cut a
    // path or a name short, so such a command runs not at all.
    const LString& text = line.text();
    if (std::memchr(text.data(), 0, static_cast<size_t>(text.len())) != nullptr) {
        msg(10046, "制御コマンドに NUL 文字が含まれています: %s", displayText(line).data());
        return 0;
    }
    LString name;
    const char* args = nextToken(line.text().data(), name);
    const CommandEntry* entry = findCommand(name.data());
    if (!entry) {
        msg(10011, "不明な制御コマンドです: %s", displayText(line).data());
        return 0;
    }
    CommandContext ctx{connection, line, args, pending, pause};
    return entry->handler(ctx) == 1 ? 1 : 0;
}

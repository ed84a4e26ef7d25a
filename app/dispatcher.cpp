// The dispatcher: the two entry points that run a line. Commands are looked up
// in the command table; "!send" is there for the help alone (the line readers
// resolve it), so "!!send" is an unknown command.
#include "app/dispatcher.h"

#include <cstring>

#include "app/args.h"
#include "app/connection.h"
#include "app/line_record.h"
#include "base/msg.h"

int executeLine(TSocket* connection, const LineRecord& line, PendingLines& pending, LinePause& pause) {
    const char kind = line.lowerKind();
    if (!connection && kind != 'i') {
        msg(Tx::noConnectionForCommand, displayText(line).data());
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
        msg(Tx::nulInCommand, displayText(line).data());
        return 0;
    }
    LString name;
    const char* args = nextToken(line.text().data(), name);
    const CommandEntry* entry = findCommand(name.data());
    if (!entry) {
        msg(Tx::unknownCommand, displayText(line).data());
        return 0;
    }
    CommandContext ctx{connection, line, args, pending, pause};
    return entry->handler(ctx) == 1 ? 1 : 0;
}

// Executing a line and dispatching a control command through the command table
// (names and short forms as data, one handler per command; see commands.h).
#pragma once

#include <string>
#include <vector>

#include "app/commands.h"

class LineRecord;
class PendingLines;
class TSocket;
struct LinePause;

// One entry of the command table.
struct CommandEntry {
    const char* name;       // the long name, without '!'
    const char* shortName;  // the short form, or null
    CommandHandler handler;
};

// The entry whose long name or short form is exactly name, or null.
const CommandEntry* findCommand(const char* name);

// Appends every command name and short form of the table (for completion);
// the table is constant, so any thread may call it.
void listCommandNames(std::vector<std::string>& out);

// Runs one line with connection as the current connection (may be null): text
// goes to queueLine, a command to dispatchCommand. Without a connection only
// kind i runs (else error 10003). pause is what a pausing command (!wait, the
// wait of !open) holds back: the lines that come after this one. Returns 1 for
// !quit, else 0.
int executeLine(TSocket* connection, const LineRecord& line, PendingLines& pending, LinePause& pause);

// Echoes a command-file command, looks its name up (exact, case-sensitive; a long
// name and its short form are equivalent) and runs its handler; 10011 for an
// unknown name. Returns 1 for !quit, else 0.
int dispatchCommand(TSocket* connection, const LineRecord& line, PendingLines& pending, LinePause& pause);

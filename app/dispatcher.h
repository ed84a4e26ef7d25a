// Executing a line and dispatching a control command through the command table
// (app/command_table.h).
#pragma once

#include "app/command_table.h"

class LineRecord;
class PendingLines;
class TSocket;
struct LinePause;

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

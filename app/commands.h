// The control commands: the context every handler gets, and one handler per
// command. The table that maps names and short forms to handlers, with their
// synopses and help, is app/command_table.cpp; each handler lives with the
// component that owns the command.
#pragma once

class LineRecord;
class PendingLines;
class TSocket;
struct LinePause;

struct CommandContext {
    TSocket* connection;     // the current connection (may be null)
    const LineRecord& line;  // the whole command line
    const char* args;        // the argument text: what follows the command name
    PendingLines& pending;   // the main loop's pending lines (!rcf, !call-macro)
    // The pause of the lines after this one (!wait, the wait of !open): the
    // main loop's pending lines, or the rest of the atom being handed out.
    LinePause& pause;
};

// Returns 1 for !quit, 0 for everything else (also after errors).
using CommandHandler = int (*)(CommandContext& ctx);

// Handled by the dispatcher itself (builtin_commands.cpp).
int cmdReadCommandFile(CommandContext& ctx);  // !read-command-file !rcf
int cmdEndMacroOutside(CommandContext& ctx);  // !end-macro !em (outside a recording)
int cmdColor(CommandContext& ctx);            // !color
int cmdInputShow(CommandContext& ctx);        // !input-show !is
int cmdInputHighlight(CommandContext& ctx);   // !input-highlight !ih
int cmdInputReverse(CommandContext& ctx);     // !input-reverse !ir
int cmdSystemMsgColor(CommandContext& ctx);   // !system-msg-color !smc
int cmdErrorMsgColor(CommandContext& ctx);    // !error-msg-color !emc
int cmdCls(CommandContext& ctx);              // !cls
int cmdQuit(CommandContext& ctx);             // !quit !q
int cmdQuitWhenDone(CommandContext& ctx);     // !quit-when-done !qd
int cmdWait(CommandContext& ctx);             // !wait
int cmdRem(CommandContext& ctx);              // !rem

// Help (help.cpp).
int cmdHelp(CommandContext& ctx);        // !help !h
int cmdOnlineHelp(CommandContext& ctx);  // !online-help !oh
int cmdVer(CommandContext& ctx);         // !ver

// Macros (macros.cpp).
int cmdMacro(CommandContext& ctx);        // !macro !m (sets g_recordingMacro)
int cmdCallMacro(CommandContext& ctx);    // !call-macro !cm
int cmdDeleteMacro(CommandContext& ctx);  // !delete-macro !dm
int cmdListMacro(CommandContext& ctx);    // !list-macro !lm

// Connections (connection.cpp).
int cmdOpen(CommandContext& ctx);          // !open !o
int cmdClose(CommandContext& ctx);         // !close !c
int cmdCloseOnReady(CommandContext& ctx);  // !close-on-ready !cor

// Connection settings and listing (connection_settings.cpp).
int cmdSetConnection(CommandContext& ctx);      // !set-connection !sc
int cmdCurrentConnection(CommandContext& ctx);  // !current-connection !cc
int cmdListConnection(CommandContext& ctx);     // !list-connection !lc
int cmdReady(CommandContext& ctx);              // !ready !r
int cmdNotReady(CommandContext& ctx);           // !not-ready !nr

// Atoms (atoms.cpp).
int cmdAtom(CommandContext& ctx);                 // !atom !a
int cmdEndAtom(CommandContext& ctx);              // !end-atom !ea
int cmdAtomEndMarker(CommandContext& ctx);        // !atom-end-marker !aem
int cmdDeleteAtom(CommandContext& ctx);           // !delete-atom !da
int cmdDeleteCompletedAtom(CommandContext& ctx);  // !delete-completed-atom !dca
int cmdSetAtom(CommandContext& ctx);              // !set-atom !sa
int cmdListAtom(CommandContext& ctx);             // !list-atom !la
int cmdAtomTimeout(CommandContext& ctx);          // !atom-timeout !ato

// Console input (input.cpp).
int cmdSecret(CommandContext& ctx);  // !secret !sec

// Log files (logfiles.cpp).
int cmdOpenLogFile(CommandContext& ctx);   // !open-log-file !olf
int cmdCloseLogFile(CommandContext& ctx);  // !close-log-file !clf

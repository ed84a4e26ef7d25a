// TEMPORARY: placeholders for the parts of the program that are still being
// built, so that the shell links and runs meanwhile. Whoever implements one of
// these deletes its placeholder in the same commit; this file disappears when
// the last one is gone. Nothing here is meant to ship.
#include <atomic>
#include <cstdint>

#include "app/commands.h"
#include "base/msg.h"

class TSocket;
class LineRecord;
class PendingLines;
struct Atom;

namespace {
int notYet(const char* what) {
    msg(15000, "not available yet: %s", what);
    return 0;
}
}  // namespace

// ---- atoms (atoms.cpp) ----
int cmdAtom(CommandContext&) { return notYet("!atom"); }
int cmdEndAtom(CommandContext&) { return notYet("!end-atom"); }
int cmdAtomEndMarker(CommandContext&) { return notYet("!atom-end-marker"); }
int cmdDeleteAtom(CommandContext&) { return notYet("!delete-atom"); }
int cmdDeleteCompletedAtom(CommandContext&) { return notYet("!delete-completed-atom"); }
int cmdSetAtom(CommandContext&) { return notYet("!set-atom"); }
int cmdListAtom(CommandContext&) { return notYet("!list-atom"); }
Atom* openAtom() { return nullptr; }
void initAtoms() {}
void releaseAtoms() {}

// ---- scheduler (scheduler.cpp) ----
std::atomic<int> g_closeOnReadyPending{0};
void assignAtoms(PendingLines&) {}
void closeMarkedConnections() {}
void checkCompletion(TSocket*, const char*, int) {}

// ---- log files (logfiles.cpp) ----
int cmdOpenLogFile(CommandContext&) { return notYet("!open-log-file"); }
int cmdCloseLogFile(CommandContext&) { return notYet("!close-log-file"); }
void writeSysLog(const char*, ...) {}
void attachLogFiles(TSocket*) {}
void logReceived(TSocket*, const char*, int) {}
void logSent(TSocket*, const char*, int) {}
void closeAllLogFiles() {}

// Helpers for unit tests of the command shell: the settings put back to their
// start-up values, and lines run as the main loop runs them.
#pragma once

#include <string>
#include <vector>

#include "app/pending_lines.h"

namespace vltest {

// Puts every setting of the shell, the colour list and the macros back to
// their start-up state.
void resetShellState();

// Appends one command-file line (as read from a file) or one typed line.
void addFileLine(PendingLines& pending, const std::string& line);
void addTypedLine(PendingLines& pending, const std::string& line);

// Runs the pending lines one at a time as the main loop does (recording
// included) until none is left, a !quit ran, or limit lines have run. Returns
// the number of lines taken; *quit (when given) tells whether a !quit ran.
int runPending(PendingLines& pending, int limit = 100000, bool* quit = nullptr);

// The colour list as ints.
std::vector<int> colorList();

}  // namespace vltest

// Platform layer: standard output of the console.
#pragma once

// Writes all n bytes to standard output (after flushing the C library's own
// stdout buffer, so that both kinds of output keep their order). Interrupted
// and partial writes are continued; an error ends the write quietly.
void platformWriteStdout(const char* text, int n);

// True when standard output is a terminal.
bool platformStdoutIsTerminal();

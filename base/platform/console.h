// Platform layer: standard output of the console.
#pragma once

// Writes all n bytes to standard output (after flushing the C library's own
// stdout buffer, so that both kinds of output keep their order). Interrupted
// and partial writes are continued. Returns false when a write failed (errno
// tells why); the rest is then dropped.
bool platformWriteStdout(const char* text, int n);

// The same for two pieces written one after the other, with one system call
// when the system takes them whole.
bool platformWriteStdout2(const char* a, int na, const char* b, int nb);

// True when standard output is a terminal. Decided once, at the first call:
// the program never changes its standard output.
bool platformStdoutIsTerminal();

// Writes the two pieces straight to standard output, past an active line
// editor (which uses it for its own drawing); otherwise as platformWriteStdout2.
bool platformWriteStdoutDirect(const char* a, int na, const char* b, int nb);

// Platform layer: programs on pseudo-terminals.
//
// A program that a connection talks to runs on the slave side of a new
// pseudo-terminal, in a session of its own with that terminal as its
// controlling terminal and as its standard input, output and error; the
// connection keeps the master side, one descriptor that it reads, writes and
// polls like a socket. Programs are started with posix_spawnp from an argument
// vector, never through a shell, and they inherit none of our descriptors,
// blocked signals or ignored signals.
#pragma once

// Opens a new pseudo-terminal and returns its master side (non-blocking,
// close-on-exec, never our controlling terminal), or -1 with errno set. The
// terminal does not echo what is written to it, and its window is columns x
// rows. The path of the slave side is copied into slavePath (size bytes).
int ptyOpen(int columns, int rows, char* slavePath, int size);

// Starts file (looked up on PATH unless it holds a slash) with argv (argv[0]
// first, null-terminated) on the terminal whose slave side is slavePath. env
// (null-terminated, may be null) holds "NAME=value" entries that replace or add
// to our own environment. Returns 0 and the process id through pid (the
// process is also the leader of its process group and session), or the error
// number when the program could not be started (not found, not executable,
// the terminal or a process refused); nothing is left running then.
int ptySpawn(const char* slavePath, const char* file, const char* const argv[], const char* const env[], int* pid);

// Reads up to n bytes from a master side without waiting: the bytes read, 0
// when the program side is closed (the end of the data: every byte before it
// has been read), or -1 with errno set (EAGAIN when nothing waits now).
int ptyRead(int fd, char* into, int n);
// Writes up to n bytes to a master side without waiting: the bytes taken, or
// -1 with errno set (EAGAIN when the terminal takes nothing now, EPIPE when
// the program side is closed).
int ptyWrite(int fd, const char* bytes, int n);

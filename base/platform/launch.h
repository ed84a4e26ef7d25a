// Platform layer: starting another program (never through a shell) and
// looking at the file system for something that exists.
#pragma once

// True when something exists at path.
bool pathExists(const char* path);

// Runs file (looked up in PATH) with argv (argv[0] first, null-terminated)
// through posix_spawnp and waits for it to end. Returns its exit status, or -1
// when it could not be started (a missing program goes unnoticed by design).
int runProgram(const char* file, const char* const argv[]);

// Command-line expansion: response files, file-name defaults and macros
// (expandArgs), and wildcard file names (expandWildcards).
//
// expandArgs replaces each "-f:path" by the arguments read from that response
// file (tokens, double-quoted parts with "" for a quote, ';' comments,
// #ifdef/#ifndef/#else/#endif), applies -fbd: (base directory) and -fex:
// (extension) to the file arguments that follow, and collects -mdef:/-rspdef:
// macros, whose ${name,args...} uses are expanded and read again like response
// file text. Both recursions are bounded: 32 nested response files (error
// 15000 "response files nested too deeply: %s"), 32 nested macro expansions
// or 1 MiB of macro text for one command-line argument (warning 35000 "macro
// expansion too deep: %s"). Once a guard has tripped, the remaining response
// files and macro uses inside the same command-line argument are skipped, so a
// file that includes itself twice or a macro that uses itself twice ends as
// quickly as a simple loop instead of branching below the guard.
//
// A response-file line whose first non-blank character is '#' but which is none
// of the four directives is read as ordinary text (its tokens are arguments), so
// a typo in a directive shows up instead of silently dropping the line. A
// directive keyword must be followed by a blank, the end of the line or a
// character that cannot continue a name ("#endifx" is no directive).
//
// The argument list is an LStrList of owned copies. Options parsed afterwards
// with LStrOpt point into these strings, so the list must outlive every use of
// such option values.
#pragma once

#include "base/larray.h"
#include "base/lstring.h"

// Expands the arguments in place. With optionsOnly, expansion stops at the first
// argument that is not written as an option (isOptionArg, base/options.h) and
// the arguments from there on are dropped. -fbd: and -fex: apply to the file
// arguments (those not written as options) that follow them. Problems are reported (warnings 35000, errors 15000 and 17000)
// and the expansion goes on.
void expandArgs(LStrList& args, bool optionsOnly);

// Replaces every argument that is not written as an option and contains '*' or
// '?' by the matching file names: those of the pattern's directory sorted by
// compareNoCase, then (with -sub[:levels]) those of its subdirectories, visited
// depth first in the same name order (subdirectories whose name begins with a
// dot, and linked directories, are not entered). -hidden admits hidden files
// (names beginning with a dot), -system system files (none on Linux); folders
// never match, not even with both -hidden and -system; -nwfne
// silences the warning 35000 "no file hit in %s" for a pattern without match.
// These four options apply wherever they stand and are removed from the list.
// '*' matches any run of characters and '?' one character (a double-byte
// character counts as one), case-sensitively, as file names are on Linux; a
// wildcard is recognised in the last path component only.
void expandWildcards(LStrList& args);

// True when p is an absolute path (on Linux: it starts with '/').
bool isAbsolutePath(const char* p);

// The directory of the running executable with a trailing separator; "" after
// error 15000 "GetModuleFileName() failed" when it cannot be read.
LString programDir();

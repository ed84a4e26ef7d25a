// The program's self-documentation: the banner, the command summary, the usage
// text and the help page.
#pragma once

#include "base/lstring.h"

struct CommandEntry;

// The address opened when no help page lies next to the executable.
extern const char* const kOnlineHelpAddress;

// "Vesperline - V1.11" and a line end.
void printBanner();
// The three blocks of the command summary; block 2 shows the colours in force.
void printHelp();
// The banner, the command-line usage and the command summary.
void printUsage();
// Opens Vesperline.html next to the executable in the user's viewer, or the
// online address when there is no such file; never through a shell.
void openOnlineHelp();

// The texts themselves (tests compare them line by line).
LString helpText();
LString usageText();
// The explanation of a command in the language in force; where it shows the
// value of a colour setting, these are the values shown.
LString commandExplanation(const CommandEntry& e, int systemMsgColor, int errorMsgColor);

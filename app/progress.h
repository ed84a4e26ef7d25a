// The progress of a batch in the terminal's title:
// "vesperline: 120/2000 done, 3 failed, 20 running".
//
// Key choices: only when standard output is a terminal, and only once an atom
// has been handed out or has ended; never through the message sink, so that
// nothing of it reaches a pipe, a log file or the message file. At most four
// updates a second: a change that comes sooner is shown by a deadline of the
// main loop at the end of the interval, so the last state is always shown. The
// title in force before is saved on the terminal's title stack and given back
// at the end.
#pragma once

// After each pass of the main loop (main thread).
void updateProgress();
// At the end of the program: gives the terminal its own title back.
void endProgress();

// Completion of typed lines (Tab in the line editor): control command names
// and short forms after "!" or "!!", connection names, macro and atom names
// where a command takes one, file names after !read-command-file and
// !open-log-file.
//
// The completion runs on the console thread. Connection names are read under
// g_libLock; macro and atom names belong to the main thread, which copies
// them for the console thread when asked (answerNameRequest, once per main
// loop iteration). When the main thread is busy (a long !wait), the console
// thread waits a moment and then completes without them.
#pragma once

#include <string>

struct LineCompletion;

// Fills out with the candidates for the word before the cursor (console thread).
void completeConsoleLine(const std::string& beforeCursor, LineCompletion& out);

// Main thread: copies the macro and atom names when the console thread has
// asked for them. Costs one atomic load otherwise.
void answerNameRequest();

// The process-wide settings of the program. Written only by the main thread (by
// options at start-up and by commands), read by every thread without a lock:
// each is a single aligned int, and a reader that sees the old value a moment
// longer does no harm.
#pragma once

#include <atomic>

#include "base/larray.h"

extern std::atomic<int> g_verbose;         // -v: banner and hints when >= 1
extern std::atomic<int> g_openWait;        // -wo: ms after the -o connections; !open's wait
extern std::atomic<int> g_receivePause;    // -wr: ms of silence that ends one received piece
extern std::atomic<int> g_telnetMode;      // -tn: TelnetMode of new connections (0 raw, 1 automatic, 2 telnet)
extern std::atomic<int> g_inputShow;       // !input-show
extern std::atomic<int> g_inputHighlight;  // !input-highlight
extern std::atomic<int> g_inputReverse;    // !input-reverse
extern std::atomic<int> g_systemMsgColor;  // !system-msg-color (0 hides system messages)
extern std::atomic<int> g_errorMsgColor;   // !error-msg-color

// The colours of system and error messages at start.
inline constexpr int kDefaultSystemMsgColor = 0x16;
inline constexpr int kDefaultErrorMsgColor = 0x0C;

// Colours handed to new connections in turn (!color); main thread only.
extern LArray g_colorList;
// Sets g_colorList to its start-up content: 3, 6, 5, 2, 4.
void resetColorList();
